#include "analysis/multicenter.h"

#include <cmath>

namespace mv {

namespace {

// The block (M S)[A,B]: rows of A's functions, columns of B's.  Every
// element is its own sum over the functions in ascending order, as the
// dense product forms the elements of P S.
Matrix productBlock(const Matrix& m, const Matrix& s, const Vec1<int>& first, const Vec1<int>& last,
                    int a, int b) {
  const int n = s.rows();
  const int rows = last(a) - first(a) + 1, cols = last(b) - first(b) + 1;
  Matrix out(rows, cols);
  for (int j = 1; j <= cols; ++j) {
    double* oj = out.col(j);
    const double* sj = s.col(first(b) + j - 1);
    for (int l = 1; l <= n; ++l) {
      const double slj = sj[l - 1];
      const double* ml = m.col(l) + (first(a) - 1);
      for (int i = 0; i < rows; ++i) oj[i] += ml[i] * slj;
    }
  }
  return out;
}

// x y for blocks that chain (x's columns are y's rows).
Matrix chained(const Matrix& x, const Matrix& y) {
  Matrix out(x.rows(), y.cols());
  for (int j = 1; j <= y.cols(); ++j)
    for (int l = 1; l <= x.cols(); ++l) {
      const double ylj = y(l, j);
      for (int i = 1; i <= x.rows(); ++i) out(i, j) += x(i, l) * ylj;
    }
  return out;
}

// trace(x y) as one sum over the rows of x, then its columns: for two atoms
// the order of the bond-order sum over mu in A, nu in B.
double traceOf(const Matrix& x, const Matrix& y) {
  double sum = 0.0;
  for (int mu = 1; mu <= x.rows(); ++mu)
    for (int nu = 1; nu <= x.cols(); ++nu) sum += x(mu, nu) * y(nu, mu);
  return sum;
}

// C over the ring of the blocks given, link k joining atom k to atom k+1
// (the last back to the first).
double cyclicProduct(const std::vector<Matrix>& links) {
  Matrix chain;
  const Matrix* head = &links.front();
  for (std::size_t k = 1; k + 1 < links.size(); ++k) {
    chain = chained(*head, links[k]);
    head = &chain;
  }
  return traceOf(*head, links.back());
}

}  // namespace

const char* formulaName(MulticenterFormula f) {
  switch (f) {
    case MulticenterFormula::SpinResolved:
      return "spin-resolved";
    case MulticenterFormula::TotalDensity:
      return "total density";
    default:
      return "closed-shell";
  }
}

double normalizedIndex(double index, int n) {
  if (index == 0.0) return 0.0;
  const double root = std::pow(std::fabs(index), 1.0 / n);
  return index < 0.0 ? -root : root;
}

MulticenterAnalysis multicenterIndices(const Matrix& p, const Matrix* spin, const Matrix& s,
                                       const Vec1<int>& first, const Vec1<int>& last,
                                       const std::vector<std::vector<int>>& rings,
                                       MulticenterFormula formula) {
  MulticenterAnalysis out;
  out.formula = formula;
  const bool split = formula == MulticenterFormula::SpinResolved && spin != nullptr;
  for (const std::vector<int>& ring : rings) {
    const std::size_t n = ring.size();
    std::vector<Matrix> total, alpha, beta;
    for (std::size_t k = 0; k < n; ++k) {
      const int a = ring[k], b = ring[(k + 1) % n];
      Matrix w = productBlock(p, s, first, last, a, b);
      if (!split) {
        total.push_back(std::move(w));
        continue;
      }
      // Pa S and Pb S from P S and Ps S.
      const Matrix ws = productBlock(*spin, s, first, last, a, b);
      Matrix wa(w.rows(), w.cols()), wb(w.rows(), w.cols());
      for (int j = 1; j <= w.cols(); ++j)
        for (int i = 1; i <= w.rows(); ++i) {
          wa(i, j) = 0.5 * (w(i, j) + ws(i, j));
          wb(i, j) = 0.5 * (w(i, j) - ws(i, j));
        }
      alpha.push_back(std::move(wa));
      beta.push_back(std::move(wb));
    }
    MulticenterIndex r;
    r.atoms = ring;
    r.index = split
                  ? std::ldexp(cyclicProduct(alpha) + cyclicProduct(beta), static_cast<int>(n) - 1)
                  : cyclicProduct(total);
    r.normalized = normalizedIndex(r.index, static_cast<int>(n));
    out.rings.push_back(std::move(r));
  }
  return out;
}

}  // namespace mv
