#include "analysis/convention.h"

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <iterator>
#include <vector>

#include "analysis/linalg.h"
#include "core/angular.h"
#include "core/stop.h"
#include "integrals/overlap.h"
#include "integrals/primitives.h"

namespace mv {

namespace {

using angular::Powers;

// One basis function in the file's order: its shell, its angular momentum,
// whether it is pure, its Cartesian powers or its place m = 0, +1, -1, ...
// in a pure shell, and whether it is the p part of an SP shell.
struct FunctionInfo {
  int shell = 0;
  int l = 0;
  bool pure = false;
  Powers p{0, 0, 0};
  int m = 0;
  bool pPart = false;
};

std::vector<FunctionInfo> functionsOf(const Shells& sh) {
  std::vector<FunctionInfo> fs;
  for (int i = 1; i <= sh.count; ++i) {
    const int type = sh.type(i);
    if (type == -1) {
      fs.push_back({i, 0, false, {0, 0, 0}, 0, false});
      for (const Powers& p : angular::cartesianOrder(1)) fs.push_back({i, 1, false, p, 0, true});
      continue;
    }
    const int l = std::abs(type);
    if (type < 0) {
      for (int m = 0; m < 2 * l + 1; ++m) fs.push_back({i, l, true, {0, 0, 0}, m, false});
    } else {
      for (const Powers& p : angular::cartesianOrder(l)) fs.push_back({i, l, false, p, 0, false});
    }
  }
  return fs;
}

// Squared norm of a contraction of normalised primitives of angular
// momentum l: the overlap of two normalised primitives on one centre is
// (2 sqrt(a b) / (a + b))^(l + 3/2), whatever their component.
double squaredNorm(const double* c, const double* a, int n, int l) {
  double s = 0.0;
  for (int i = 0; i < n; ++i)
    for (int j = 0; j < n; ++j)
      s += c[i] * c[j] * std::pow(2.0 * std::sqrt(a[i] * a[j]) / (a[i] + a[j]), l + 1.5);
  return s;
}

// Norms of every shell's contraction (s part) and of the p part of SP
// shells.
struct Norms {
  Vec1<double> main, p;
};

Norms norms(const Shells& sh) {
  Norms n{Vec1<double>(sh.count), Vec1<double>(sh.count, 1.0)};
  int j0 = 1;
  for (int i = 1; i <= sh.count; ++i) {
    const int k = sh.nprim(i);
    const int l = sh.type(i) == -1 ? 0 : std::abs(sh.type(i));
    const double* e = sh.exponent.data() + (j0 - 1);
    const double s2 = squaredNorm(sh.coefficient.data() + (j0 - 1), e, k, l);
    const double p2 =
        sh.type(i) == -1 ? squaredNorm(sh.pCoefficient.data() + (j0 - 1), e, k, 1) : 1.0;
    for (const double x : {s2, p2})
      if (!(x > 0.0) || !std::isfinite(x))
        refuse(" Shell " + std::to_string(i) +
                   ": its contraction has no norm (the coefficients "
                   "are zero or too large)",
               kCodeZeroFunction);
    n.main(i) = std::sqrt(s2);
    n.p(i) = std::sqrt(p2);
    j0 += k;
  }
  return n;
}

// The shapes of contraction the writers use.
enum class Shape {
  Written,  // coefficients of normalised primitives
  Orca,     // times the normalisation N(a, n) of a primitive (s, p, pure shells)
  Psi4Old,  // the same for s, p, pure d and f, divided by sqrt(3) (d), sqrt(15) (f)
};

// The powers n of N(a, n) that ORCA folds into its coefficients.
Powers orcaPowers(int l) {
  static const Powers p[6] = {{0, 0, 0}, {1, 0, 0}, {1, 1, 0}, {1, 1, 1}, {2, 1, 1}, {5, 0, 0}};
  return p[l];
}

// The written coefficients brought to the shape of the program's.
Shells reshaped(const Shells& written, Shape shape) {
  Shells sh = written;
  if (shape == Shape::Written) return sh;
  int j0 = 1;
  for (int i = 1; i <= sh.count; ++i) {
    const int type = sh.type(i);
    const int l = std::abs(type);
    const bool pure = type < -1;
    bool applies = l <= 1 || (pure && l <= 5);
    double extra = 1.0;
    if (shape == Shape::Psi4Old) {
      applies = l <= 1 || (pure && l <= 3);
      extra = l == 2 ? std::sqrt(3.0) : l == 3 ? std::sqrt(15.0) : 1.0;
    }
    if (applies) {
      for (int j = j0; j < j0 + sh.nprim(i); ++j) {
        const double a = sh.exponent(j);
        if (type == -1) {
          sh.coefficient(j) = sh.coefficient(j) / anorm(0, 0, 0, a);
          sh.pCoefficient(j) = sh.pCoefficient(j) / anorm(1, 0, 0, a);
        } else {
          const Powers n = orcaPowers(l);
          sh.coefficient(j) = sh.coefficient(j) * extra / anorm(n.x, n.y, n.z, a);
        }
      }
    }
    j0 += sh.nprim(i);
  }
  return sh;
}

// How the writer scaled the orbital coefficients of Cartesian components
// (or, for Turbomole, the contractions of Cartesian shells).
enum class Scaling { None, Psi4Cartesian, Turbomole, Cfour, OrcaSigns };

// The number of each distinct power in p, largest first: (2,1,0) for xyy.
std::vector<int> pattern(Powers p) {
  std::vector<int> v{p.x, p.y, p.z};
  if (v[0] < v[1]) std::swap(v[0], v[1]);
  if (v[1] < v[2]) std::swap(v[1], v[2]);
  if (v[0] < v[1]) std::swap(v[0], v[1]);
  return v;
}

bool is(Powers p, int a, int b, int c) {
  return pattern(p) == std::vector<int>{a, b, c};
}

// The factor that turns a written orbital coefficient of function f into
// one of the normalised function of the written shape.
double factor(const FunctionInfo& f, Scaling sc) {
  const bool cart = !f.pure && f.l >= 2;
  const Powers p = f.p;
  switch (sc) {
    case Scaling::None:
      return 1.0;
    case Scaling::OrcaSigns:
      // ORCA's pure functions of m = +-3 and +-4 have the opposite sign.
      return f.pure && f.m >= 5 && f.m <= 8 ? -1.0 : 1.0;
    case Scaling::Psi4Cartesian:
      if (!cart) return 1.0;
      if (is(p, 1, 1, 0)) return 1.0 / std::sqrt(3.0);
      if (is(p, 2, 1, 0)) return 1.0 / std::sqrt(5.0);
      if (is(p, 1, 1, 1)) return 1.0 / std::sqrt(15.0);
      if (is(p, 3, 1, 0)) return 1.0 / std::sqrt(7.0);
      if (is(p, 2, 2, 0)) return 1.0 / std::sqrt(35.0 / 3.0);
      if (is(p, 2, 1, 1)) return 1.0 / std::sqrt(35.0);
      return 1.0;
    case Scaling::Turbomole:
      if (!cart) return 1.0;
      return f.l == 2   ? std::sqrt(3.0)
             : f.l == 3 ? std::sqrt(15.0)
             : f.l == 4 ? std::sqrt(105.0)
                        : 1.0;
    case Scaling::Cfour:
      if (!cart) return 1.0;
      if (is(p, 2, 0, 0)) return std::sqrt(3.0);
      if (is(p, 3, 0, 0)) return std::sqrt(15.0);
      if (is(p, 2, 1, 0) && f.l == 3) return std::sqrt(3.0);
      if (is(p, 4, 0, 0)) return std::sqrt(105.0);
      if (is(p, 3, 1, 0)) return std::sqrt(15.0);
      if (is(p, 2, 2, 0)) return 3.0;
      if (is(p, 2, 1, 1)) return std::sqrt(3.0);
      return 1.0;
  }
  return 1.0;
}

struct Candidate {
  const char* name;
  Shape shape;
  Scaling scaling;
  bool normalised;  // the orbitals belong to contractions normalised as a whole
};

// The order in which the conventions are tried: the file as written first,
// then the writers' departures with the contractions as written, then the
// same with the contractions normalised as a whole (some writers leave them
// unnormalised besides).
const Candidate kCandidates[] = {
    {"as written", Shape::Written, Scaling::None, false},
    {"ORCA", Shape::Orca, Scaling::OrcaSigns, false},
    {"psi4 before 1.0", Shape::Psi4Old, Scaling::None, false},
    {"psi4 up to 1.3.2, Cartesian components", Shape::Written, Scaling::Psi4Cartesian, false},
    {"Turbomole, Cartesian contractions", Shape::Written, Scaling::Turbomole, false},
    {"CFOUR, Cartesian components", Shape::Written, Scaling::Cfour, false},
    {"contractions normalised", Shape::Written, Scaling::None, true},
    {"ORCA, contractions normalised", Shape::Orca, Scaling::OrcaSigns, true},
    {"psi4 before 1.0, contractions normalised", Shape::Psi4Old, Scaling::None, true},
    {"psi4 up to 1.3.2, Cartesian components, contractions normalised", Shape::Written,
     Scaling::Psi4Cartesian, true},
    {"CFOUR, Cartesian components, contractions normalised", Shape::Written, Scaling::Cfour, true},
};

// A departure that fits this well is the writer's: the rest are not tried.
constexpr double kExact = 1e-8;

// The orbitals' factors under a candidate, function by function.
std::vector<double> factors(const Candidate& c, const std::vector<FunctionInfo>& fs,
                            const Norms& n) {
  std::vector<double> v(fs.size());
  for (std::size_t k = 0; k < fs.size(); ++k) {
    const FunctionInfo& f = fs[k];
    const int i = f.shell;
    const double norm = c.normalised ? 1.0 : (f.pPart ? n.p(i) : n.main(i));
    v[k] = norm * factor(f, c.scaling);
  }
  return v;
}

Matrix scaledRows(const Matrix& c, const std::vector<double>& f) {
  Matrix r(c.rows(), c.cols());
  for (int j = 1; j <= c.cols(); ++j)
    for (int i = 1; i <= c.rows(); ++i) r(i, j) = f[static_cast<std::size_t>(i - 1)] * c(i, j);
  return r;
}

// S, in the file's order, of the contractions of `shells` normalised.
Matrix overlapOf(const Shells& unit, const Checkpoint& ck, const Limits& limits,
                 const Parallel& par, Basis* basisOut) {
  Basis b = expandBasis(unit, ck.natoms, ck.nbf, limits);
  Matrix s = toFileOrder(overlapMatrix(b, ck.coords, par), b.map, par);
  if (basisOut != nullptr) *basisOut = std::move(b);
  return s;
}

std::string deviationText(double d) {
  char buf[32];
  std::snprintf(buf, sizeof buf, "%.3E", d);
  return buf;
}

}  // namespace

Shells unitContractions(const Shells& shells) {
  Shells sh = shells;
  const Norms n = norms(shells);
  int j0 = 1;
  for (int i = 1; i <= sh.count; ++i) {
    for (int j = j0; j < j0 + sh.nprim(i); ++j) {
      sh.coefficient(j) = sh.coefficient(j) / n.main(i);
      if (sh.type(i) == -1) sh.pCoefficient(j) = sh.pCoefficient(j) / n.p(i);
    }
    j0 += sh.nprim(i);
  }
  return sh;
}

double orthonormalityDeviation(const Matrix& c, int count, const Matrix& s, const Parallel& par) {
  const int n = s.rows();
  if (count <= 0) return 0.0;
  // C padded to n by n, its transpose, S C and C^T S C.
  Matrix cp(n, n), ct(n, n), sc = Matrix::uninitialised(n, n), m = Matrix::uninitialised(n, n);
  for (int j = 1; j <= count; ++j)
    for (int i = 1; i <= n; ++i) {
      cp(i, j) = c(i, j);
      ct(j, i) = c(i, j);
    }
  matmul(sc.view(), s.view(), cp.view(), n, par);
  matmul(m.view(), ct.view(), sc.view(), n, par);
  double d = 0.0;
  for (int j = 1; j <= count; ++j)
    for (int i = 1; i <= count; ++i) {
      const double e = std::fabs(m(i, j) - (i == j ? 1.0 : 0.0));
      // Written so that a deviation that is not a number counts as too large.
      if (!(e <= d)) d = std::isfinite(e) ? e : HUGE_VAL;
    }
  return d;
}

OrbitalConvention settleConvention(Checkpoint& ck, const Shells& written, Basis& basis, Matrix& s,
                                   const Limits& limits, const Parallel& par) {
  const std::vector<FunctionInfo> fs = functionsOf(written);
  const bool beta = !ck.moBeta.empty();
  struct Tried {
    Shape shape;
    std::vector<double> f;
  };
  std::vector<Tried> tried;
  // S and the basis of each shape made so far; the written shape's are given.
  struct Made {
    Shape shape;
    Matrix s;
    Basis basis;
  };
  std::vector<Made> made;
  Shape current = Shape::Written;  // the shape s and basis belong to
  auto useShape = [&](Shape shape, const Shells& shaped) {
    if (shape == current) return;
    made.push_back({current, std::move(s), std::move(basis)});
    current = shape;
    for (auto it = made.begin(); it != made.end(); ++it)
      if (it->shape == shape) {
        s = std::move(it->s);
        basis = std::move(it->basis);
        made.erase(it);
        return;
      }
    s = overlapOf(unitContractions(shaped), ck, limits, par, &basis);
  };

  OrbitalConvention best{"", HUGE_VAL, HUGE_VAL};
  std::size_t fit = 0;  // 1 + the index of the best convention that fits
  for (std::size_t ci = 0; ci < std::size(kCandidates); ++ci) {
    const Candidate& c = kCandidates[ci];
    // A scaling of orbital coefficients that concerns no function of this
    // file is no departure.
    if (c.shape == Shape::Written && c.scaling != Scaling::None) {
      bool any = false;
      for (const FunctionInfo& fi : fs) any = any || factor(fi, c.scaling) != 1.0;
      if (!any) continue;
    }
    const Shells shaped = reshaped(written, c.shape);
    const std::vector<double> f = factors(c, fs, norms(shaped));
    // A convention that changes nothing in this file is one tried before.
    bool same = false;
    for (const Tried& t : tried) {
      if (t.shape != c.shape) continue;
      bool eq = true;
      for (std::size_t k = 0; k < f.size() && eq; ++k)
        eq = std::fabs(t.f[k] - f[k]) <= 1e-12 * std::fabs(f[k]);
      same = same || eq;
    }
    if (same) continue;
    tried.push_back({c.shape, f});
    useShape(c.shape, shaped);
    const Matrix a = scaledRows(ck.mo, f);
    double d = orthonormalityDeviation(a, a.cols(), s, par);
    if (beta && d <= kOrthonormalityTolerance)
      d = std::fmax(d, orthonormalityDeviation(scaledRows(ck.moBeta, f), ck.moBeta.cols(), s, par));
    if (ci == 0) best.asWritten = d;
    if (d < best.deviation) {
      best.deviation = d;
      best.name = c.name;
      if (d <= kOrthonormalityTolerance) fit = ci + 1;
    }
    // The file as written is taken whenever it fits; a departure when it
    // fits to the precision of the file, or else the best that fits.
    if (fit != 0 && (ci == 0 || d <= kExact)) break;
  }
  if (fit != 0) {
    const Candidate& c = kCandidates[fit - 1];
    const Shells shaped = reshaped(written, c.shape);
    const std::vector<double> f = factors(c, fs, norms(shaped));
    useShape(c.shape, shaped);
    ck.mo = scaledRows(ck.mo, f);
    if (beta) ck.moBeta = scaledRows(ck.moBeta, f);
    ck.shells = unitContractions(shaped);
    return best;
  }
  refuse(
      " The orbitals are not orthonormal under any known writer's convention: the largest "
      "deviation of C^T S C from the unit matrix is " +
          deviationText(best.asWritten) + " as written, " + deviationText(best.deviation) +
          " at best (" + best.name + ")",
      kCodeBadValue, ck.lineOf("[MO]"));
}

}  // namespace mv
