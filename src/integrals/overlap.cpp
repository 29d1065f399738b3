// The overlap matrix S of the contracted basis.
//
// Three passes, always in this order: fold the normalisation constant of
// every primitive into its contraction coefficient; rescale every
// contraction of two or more primitives to unit self-overlap; assemble S
// atom block by atom block.  Every function sits on the atom whose range
// first(a)..last(a) contains it.
#include "integrals/overlap.h"

#include <cmath>
#include <cstdio>
#include <string>
#include <vector>

#include "core/stop.h"
#include "integrals/primitives.h"

namespace mv {

Vec1<double> normalisedCoefficients(const Basis& b) {
  Vec1<double> c = b.coeff;
  for (int q = 1; q <= b.nbf; ++q)
    for (int p = b.pfirst(q); p <= b.plast(q); ++p)
      c(p) = anorm(b.lx(p), b.ly(p), b.lz(p), b.expo(p)) * c(p);

  // All primitives of a function share its centre, so every offset is
  // zero.  The cross terms between different Cartesian components of a
  // pure function enter the sum like any other pair.
  for (int q = 1; q <= b.nbf; ++q) {
    const int p0 = b.pfirst(q);
    const int n = b.plast(q) - p0 + 1;
    if (n == 1) continue;
    double sigma = 0.0;
    for (int p = p0; p < p0 + n; ++p)
      for (int pp = p0; pp < p0 + n; ++pp)
        sigma += (s(b.lx(p), b.ly(p), b.lz(p), b.lx(pp), b.ly(pp), b.lz(pp), b.expo(p), b.expo(pp),
                    0.0, 0.0, 0.0, 0.0, 0.0, 0.0, 0.0) *
                  c(p)) *
                 c(pp);
    // A contraction with zero (or non-finite) self-overlap has no norm to
    // divide by; its coefficients are all zero or the data are corrupt.
    if (!(sigma > 0.0) || !std::isfinite(sigma)) {
      char buf[120];
      if (std::isfinite(sigma))
        std::snprintf(buf, sizeof buf,
                      "Basis function %d: contraction self-overlap %.6g is not positive", q, sigma);
      else  // overflow of extreme exponents or coefficients
        std::snprintf(buf, sizeof buf,
                      "Basis function %d: contraction self-overlap is not a finite number", q);
      refuse(buf, kCodeZeroFunction);
    }
    const double t = std::sqrt(sigma);
    for (int p = p0; p < p0 + n; ++p) c(p) = c(p) / t;
  }
  return c;
}

namespace {

// True when atom a owns a usable range of functions within 1..nbf.  An atom
// without functions (first limit 0) is skipped here; the partition check
// stops the run afterwards.
bool hasRange(const Basis& b, int a) {
  const int lo = b.first(a);
  const int hi = b.last(a);
  return lo >= 1 && hi >= lo && hi <= b.nbf;
}

// Reuse of the factors of a primitive pair.  Within one pair of atoms the
// overlap of two primitives depends on their powers and their two exponents
// only, and the Cartesian components of a shell repeat the shell's
// exponents.  For every pair of distinct exponents the Gaussian prefactor
// exp(-a1 a2 d2 / gamma) sqrt(pi^3 / gamma^3) and the one-dimensional
// factors of every pair of powers are formed once, by the same operations
// as the primitive overlap, and multiplied in the same order; every element
// of S is therefore bit-identical to summing the primitive overlaps.
//
// The distinct exponents of every atom, with the highest Cartesian power
// that occurs with each; built once and only read.
struct ExponentIndex {
  explicit ExponentIndex(const Basis& b) {
    const int natoms = b.natoms;
    eidx.assign(static_cast<std::size_t>(b.expo.size()) + 1, 0);
    start.assign(static_cast<std::size_t>(natoms) + 1, 0);
    count.assign(static_cast<std::size_t>(natoms) + 1, 0);
    for (int a = 1; a <= natoms; ++a) {
      start[static_cast<std::size_t>(a)] = static_cast<int>(exps.size());
      if (!hasRange(b, a)) continue;
      const std::size_t s0 = exps.size();
      for (int mu = b.first(a); mu <= b.last(a); ++mu)
        for (int p = b.pfirst(mu); p <= b.plast(mu); ++p) {
          const double e = b.expo(p);
          std::size_t i = s0;
          while (i < exps.size() && exps[i] != e) ++i;
          if (i == exps.size()) {
            exps.push_back(e);
            pows.push_back(0);
          }
          eidx[static_cast<std::size_t>(p)] = static_cast<int>(i - s0);
          int l = b.lx(p) > b.ly(p) ? b.lx(p) : b.ly(p);
          if (b.lz(p) > l) l = b.lz(p);
          if (l > pows[i]) pows[i] = l;
        }
      count[static_cast<std::size_t>(a)] = static_cast<int>(exps.size() - s0);
    }
    span = b.maxPower + 1;
    stride = static_cast<std::size_t>(3 * span * span);
  }
  std::size_t at(int d, int l1, int l2) const {
    return static_cast<std::size_t>((d * span + l1) * span + l2);
  }
  std::vector<int> eidx;   // index of each primitive's exponent in its atom's list
  std::vector<int> start;  // offset of each atom's list in exps
  std::vector<int> count;  // distinct exponents of each atom
  std::vector<double> exps;
  std::vector<int> pows;   // highest Cartesian power that occurs with each exponent
  int span = 1;            // powers 0 .. span - 1
  std::size_t stride = 3;  // factors of one exponent pair
};

// The factors of one pair of atoms at a time (one table per thread).
class PairTable {
 public:
  PairTable(const Basis& b, const Vec1<double>& c, const Matrix& coords, const ExponentIndex& x)
      : b_(b), c_(c), coords_(coords), x_(x) {}

  // S(mu, nu) for mu on atom a (first centre) and nu on atom b.
  double overlap(int mu, int nu, int a, int b, double d2) {
    if (!ready(a, b)) return direct(mu, nu, a, b, d2);
    const int p0 = b_.pfirst(mu), p1 = b_.plast(mu);
    const int q0 = b_.pfirst(nu), q1 = b_.plast(nu);
    const int nb = x_.count[static_cast<std::size_t>(b)];
    double sum = 0.0;
    for (int p = p0; p <= p1; ++p) {
      const int lx = b_.lx(p), ly = b_.ly(p), lz = b_.lz(p);
      const double c1 = c_(p);
      const std::size_t row = static_cast<std::size_t>(x_.eidx[static_cast<std::size_t>(p)]) * nb;
      for (int q = q0; q <= q1; ++q) {
        const std::size_t pair =
            row + static_cast<std::size_t>(x_.eidx[static_cast<std::size_t>(q)]);
        const double* f = factors_.data() + pair * x_.stride;
        double v = f[x_.at(0, lx, b_.lx(q))] * v0_[pair];
        v = f[x_.at(1, ly, b_.ly(q))] * v;
        v = f[x_.at(2, lz, b_.lz(q))] * v;
        sum += (v * c1) * c_(q);
      }
    }
    return sum;
  }

 private:
  // Make the table of the atom pair (a first) current; false when it
  // would be too large to pay.
  bool ready(int a, int b) {
    if (a == curA_ && b == curB_) return curOk_;
    curA_ = a;
    curB_ = b;
    const std::size_t na = static_cast<std::size_t>(x_.count[static_cast<std::size_t>(a)]);
    const std::size_t nb = static_cast<std::size_t>(x_.count[static_cast<std::size_t>(b)]);
    curOk_ = na > 0 && nb > 0 && na * nb * x_.stride <= kMaxTable;
    if (!curOk_) return false;
    factors_.resize(na * nb * x_.stride);
    v0_.resize(na * nb);
    const double dx = coords_(1, b) - coords_(1, a);
    const double dy = coords_(2, b) - coords_(2, a);
    const double dz = coords_(3, b) - coords_(3, a);
    const double ex = coords_(1, a) - coords_(1, b);
    const double ey = coords_(2, a) - coords_(2, b);
    const double ez = coords_(3, a) - coords_(3, b);
    const double d2 = ab2(coords_, a, b);
    const std::size_t sa = static_cast<std::size_t>(x_.start[static_cast<std::size_t>(a)]);
    const std::size_t sb = static_cast<std::size_t>(x_.start[static_cast<std::size_t>(b)]);
    for (std::size_t i = 0; i < na; ++i) {
      const double e1 = x_.exps[sa + i];
      const int top1 = x_.pows[sa + i];
      for (std::size_t j = 0; j < nb; ++j) {
        const double e2 = x_.exps[sb + j];
        const int top2 = x_.pows[sb + j];
        const double gam = e1 + e2;
        const std::size_t pair = i * nb + j;
        v0_[pair] = std::exp(-(e1 * e2 / gam) * d2) * std::sqrt(kPi3 / (gam * gam * gam));
        const double pa[3] = {e2 * dx / gam, e2 * dy / gam, e2 * dz / gam};
        const double pb[3] = {e1 * ex / gam, e1 * ey / gam, e1 * ez / gam};
        double* f = factors_.data() + pair * x_.stride;
        // Only the powers that occur with these two exponents.
        for (int d = 0; d < 3; ++d)
          for (int l1 = 0; l1 <= top1; ++l1)
            for (int l2 = 0; l2 <= top2; ++l2)
              f[x_.at(d, l1, l2)] = sk(l1, l2, e1, e2, pa[d], pb[d]);
      }
    }
    return true;
  }

  // Straight from the primitive overlap, primitive pairs in ascending order.
  double direct(int mu, int nu, int a, int b, double d2) const {
    double sum = 0.0;
    for (int p = b_.pfirst(mu); p <= b_.plast(mu); ++p) {
      for (int q = b_.pfirst(nu); q <= b_.plast(nu); ++q) {
        const double gam = b_.expo(p) + b_.expo(q);
        double pa[3], pb[3];
        for (int i = 1; i <= 3; ++i) {
          pa[i - 1] = b_.expo(q) * (coords_(i, b) - coords_(i, a)) / gam;
          pb[i - 1] = b_.expo(p) * (coords_(i, a) - coords_(i, b)) / gam;
        }
        sum += (s(b_.lx(p), b_.ly(p), b_.lz(p), b_.lx(q), b_.ly(q), b_.lz(q), b_.expo(p),
                  b_.expo(q), d2, pa[0], pb[0], pa[1], pb[1], pa[2], pb[2]) *
                c_(p)) *
               c_(q);
      }
    }
    return sum;
  }

  static constexpr std::size_t kMaxTable = std::size_t{1} << 20;  // doubles in one pair's table

  const Basis& b_;
  const Vec1<double>& c_;
  const Matrix& coords_;
  const ExponentIndex& x_;
  std::vector<double> factors_, v0_;
  int curA_ = 0, curB_ = 0;
  bool curOk_ = false;
};

}  // namespace

// The block of two different atoms is evaluated with the higher-numbered
// atom as the first centre and mirrored, so S is exactly symmetric; within
// one atom only the upper triangle is evaluated and mirrored.  Each task
// fills the blocks of one atom with every atom up to it (the last atoms,
// which have the most blocks, first); no element is written by two tasks.
Matrix overlapMatrix(const Basis& b, const Matrix& coords, const Parallel& par) {
  const Vec1<double> c = normalisedCoefficients(b);
  Matrix sm(b.nbf, b.nbf);
  const ExponentIndex index(b);
  const int natoms = b.natoms;
  par.run(natoms, [&](int t) {
    const int a = natoms - t;
    if (!hasRange(b, a)) return;
    PairTable table(b, c, coords, index);
    for (int bb = 1; bb <= a; ++bb) {
      if (!hasRange(b, bb)) continue;
      const double d2 = ab2(coords, a, bb);
      for (int mu = b.first(a); mu <= b.last(a); ++mu) {
        const int nu0 = (a == bb) ? mu : b.first(bb);
        for (int nu = nu0; nu <= b.last(bb); ++nu) {
          const double v = table.overlap(mu, nu, a, bb, d2);
          sm(mu, nu) = v;
          sm(nu, mu) = v;
        }
      }
    }
  });
  // Extreme coordinates or exponents (finite as read) can overflow the
  // closed-form integrals, and nothing built on such an S could be analysed.
  for (int j = 1; j <= b.nbf; ++j)
    for (int i = 1; i <= b.nbf; ++i)
      if (!std::isfinite(sm(i, j)))
        refuse(" The overlap matrix holds an element that is not a finite number (S(" +
                   std::to_string(i) + "," + std::to_string(j) +
                   ")): the coordinates or exponents are out of range. STOP",
               kCodeBadValue);
  return sm;
}

Matrix toFileOrder(const Matrix& s, const Vec1<int>& map, const Parallel& par) {
  const int n = map.size();
  Matrix h = Matrix::uninitialised(n, n);
  // Column i of S becomes column map(i): one column per task.
  par.run(n, [&](int t) {
    const int i = t + 1;
    for (int j = 1; j <= n; ++j) h(map(j), map(i)) = s(j, i);
  });
  return h;
}

}  // namespace mv
