#include "analysis/lowdin.h"

#include <cstdio>
#include <exception>
#include <string>

#include "analysis/bondorder.h"
#include "analysis/linalg.h"
#include "analysis/occupations.h"
#include "core/stop.h"

namespace mv {

namespace {

// X = S^1/2 M S^1/2, into x; temp is work space.
void orthogonalised(Matrix& x, Matrix& temp, const Matrix& half, const Matrix& m, int n,
                    const Parallel& par) {
  matmul(temp.view(), half.view(), m.view(), n, par);
  matmul(x.view(), temp.view(), half.view(), n, par);
}

// Adds to w(A,B) and w(B,A) the sum over mu in A, nu in B of x(mu,nu)^2,
// for A < B.  (x is symmetric up to rounding; the indices come out
// symmetric as the bond orders do.)
void addSquares(Matrix& w, const Matrix& x, const Vec1<int>& first, const Vec1<int>& last) {
  const int nat = w.rows();
  for (int b = 2; b <= nat; ++b)
    for (int a = 1; a < b; ++a) {
      double sum = 0.0;
      for (int nu = first(b); nu <= last(b); ++nu)
        for (int mu = first(a); mu <= last(a); ++mu) sum += x(mu, nu) * x(mu, nu);
      w(a, b) += sum;
      w(b, a) = w(a, b);
    }
}

}  // namespace

LowdinAnalysis lowdinAnalysis(const Matrix& s, const Matrix& p, const Matrix* spin,
                              const Vec1<int>& first, const Vec1<int>& last, const Parallel& par) {
  const int n = s.rows();
  const int nat = first.size();
  // S^1/2 from the library's eigen-solver where it can be had, which keeps
  // the populations to the rounding of S; else from the program's own.
  LibraryRoot library = libraryHalf(s);
  OverlapRoots roots;
  if (library.solved) {
    roots.smallest = library.smallest;
    roots.half = std::move(library.half);
  } else {
    roots = overlapRoots(s, n, par);
    if (roots.failure) std::rethrow_exception(roots.failure);
  }
  if (!(roots.smallest > 0.0)) {
    char value[32];
    std::snprintf(value, sizeof value, "%.6G", roots.smallest);
    refuse(std::string(" The overlap matrix is not positive definite (smallest eigenvalue ") +
               value + "); the basis is linearly dependent.",
           kCodeSingularS);
  }
  roots.vectors.release();
  roots.inverseHalf.release();

  LowdinAnalysis r;
  r.population = Vec1<double>(nat);
  r.wiberg = Matrix(nat, nat);
  Matrix x = Matrix::uninitialised(n, n);
  Matrix temp = Matrix::uninitialised(n, n);
  orthogonalised(x, temp, roots.half, p, n, par);
  for (int a = 1; a <= nat; ++a) {
    double sum = 0.0;
    for (int mu = first(a); mu <= last(a); ++mu) sum += x(mu, mu);
    r.population(a) = sum;
  }
  for (int mu = 1; mu <= n; ++mu) r.total += x(mu, mu);
  addSquares(r.wiberg, x, first, last);
  if (spin != nullptr) {
    orthogonalised(x, temp, roots.half, *spin, n, par);
    addSquares(r.wiberg, x, first, last);
  }
  requireFinite(r.population.data(), nat, "Lowdin populations");
  for (int b = 1; b <= nat; ++b) requireFinite(r.wiberg.col(b), nat, "Wiberg-Lowdin indices");
  return r;
}

}  // namespace mv
