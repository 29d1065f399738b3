// The overlap matrix S of the contracted basis.
//
// Three passes over the basis tables, always in this order: fold the
// normalisation constant of every primitive into its contraction
// coefficient; rescale every contraction of two or more primitives to unit
// self-overlap; assemble S atom block by atom block.  Every function sits on
// the atom whose range lim(a, 1)..lim(a, 2) contains it.
#include "integrals/overlap.h"

#include <cmath>
#include <cstdio>
#include <string>

#include "driver/stop.h"
#include "integrals/primitives.h"
#include "tables.h"

namespace mv {

namespace {

// Multiply every coefficient by the normalisation constant of its primitive.
void normalisePrimitives(int nbf) {
  for (int q = 1; q <= nbf; ++q) {
    for (int r = 1; r <= g.cont(q); ++r) {
      const int p = g.pfirst(q) + r - 1;
      g.coeff(q, r) = anorm(g.lx(p), g.ly(p), g.lz(p), g.expo(p)) * g.coeff(q, r);
    }
  }
}

// Rescale every contraction of two or more primitives to unit self-overlap.
// All primitives of a function share its centre, so every offset is zero.
// The cross terms between different Cartesian components of a pure function
// enter the sum like any other pair.
void renormaliseContractions(int nbf) {
  for (int q = 1; q <= nbf; ++q) {
    const int n = g.cont(q);
    if (n == 1) continue;
    const int p0 = g.pfirst(q);
    double sigma = 0.0;
    for (int r = 1; r <= n; ++r) {
      const int p = p0 + r - 1;
      for (int k = 1; k <= n; ++k) {
        const int pp = p0 + k - 1;
        sigma += (s(g.lx(p), g.ly(p), g.lz(p), g.lx(pp), g.ly(pp), g.lz(pp), g.expo(p), g.expo(pp),
                    0.0, 0.0, 0.0, 0.0, 0.0, 0.0, 0.0) *
                  g.coeff(q, r)) *
                 g.coeff(q, k);
      }
    }
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
    for (int k = 1; k <= n; ++k) g.coeff(q, k) = g.coeff(q, k) / t;
  }
}

// True when atom a owns a usable range of functions within 1..nbf.  An atom
// without functions (first limit 0) is skipped here; the partition check
// stops the run afterwards.
bool hasRange(int a, int nbf) {
  const int lo = g.lim(a, 1);
  const int hi = g.lim(a, 2);
  return lo >= 1 && hi >= lo && hi <= nbf;
}

// Reuse of the factors of a primitive pair.  Within one pair of atoms the
// overlap of two primitives depends on their powers and on their two
// exponents only, and the Cartesian components of a shell repeat the
// shell's exponents.  For every pair of distinct exponents the Gaussian
// prefactor exp(-a1 a2 d2 / gamma) sqrt(pi^3 / gamma^3) and the
// one-dimensional factors of every pair of powers are formed once, by the
// same operations as the primitive overlap, and multiplied in the same
// order; every element of S is therefore bit-identical to summing the
// primitive overlaps themselves.
constexpr int kMaxDistinct = 64;  // distinct exponents per atom kept in the table
constexpr int kMaxPower = 3;      // highest Cartesian power kept in the table

struct PairFactors {
  double v0;
  double f[3][kMaxPower + 1][kMaxPower + 1];  // direction, power on a, power on b
};

Vec<int, kMaxPrim> eidx;        // index of the primitive's exponent in its atom's list
Vec<int, kMaxPrim> eowner;      // atom that owns the primitive (0: none yet)
Vec<int, kMaxAtomRead> dstart;  // offset of the atom's list in dexpo and dpow
Vec<int, kMaxAtomRead> dcount;  // distinct exponents of the atom (-1: no table)
Vec<double, kMaxPrim> dexpo;    // the distinct exponents
Vec<int, kMaxPrim> dpow;        // highest power that occurs with each of them
PairFactors factors[kMaxDistinct * kMaxDistinct];

// Collect the distinct exponents of every atom.  An atom with more than
// kMaxDistinct of them, or with a power beyond kMaxPower, gets no table.
// Returns false when a primitive is shared by functions of two atoms; no
// table is used then.
bool indexExponents(int natom, int nbf) {
  for (int mu = 1; mu <= nbf; ++mu)
    for (int p = g.pfirst(mu); p <= g.plast(mu); ++p) eowner(p) = 0;
  int used = 0;
  for (int a = 1; a <= natom; ++a) {
    dstart(a) = used;
    dcount(a) = 0;
    if (!hasRange(a, nbf)) continue;
    int n = 0;
    bool ok = true;
    for (int mu = g.lim(a, 1); mu <= g.lim(a, 2); ++mu) {
      for (int p = g.pfirst(mu); p <= g.plast(mu); ++p) {
        if (eowner(p) == a) continue;
        if (eowner(p) != 0) return false;
        eowner(p) = a;
        if (!ok) continue;
        int l = g.lx(p);
        if (g.ly(p) > l) l = g.ly(p);
        if (g.lz(p) > l) l = g.lz(p);
        const double e = g.expo(p);
        int i = 0;
        while (i < n && dexpo(used + i + 1) != e) ++i;
        if (i == n) {
          if (n == kMaxDistinct) {
            ok = false;
            continue;
          }
          dexpo(used + i + 1) = e;
          dpow(used + i + 1) = 0;
          ++n;
        }
        if (l > kMaxPower || l < 0) ok = false;
        if (l > dpow(used + i + 1)) dpow(used + i + 1) = l;
        eidx(p) = i;
      }
    }
    dcount(a) = ok ? n : -1;
    if (ok) used += n;
  }
  return true;
}

// Fill the table for atoms a (first centre) and b.
void fillFactors(int a, int b, double d2) {
  const double dx = g.coord(1, b) - g.coord(1, a);
  const double dy = g.coord(2, b) - g.coord(2, a);
  const double dz = g.coord(3, b) - g.coord(3, a);
  const double ex = g.coord(1, a) - g.coord(1, b);
  const double ey = g.coord(2, a) - g.coord(2, b);
  const double ez = g.coord(3, a) - g.coord(3, b);
  for (int j = 0; j < dcount(b); ++j) {
    const double e2 = dexpo(dstart(b) + j + 1);
    const int l2max = dpow(dstart(b) + j + 1);
    for (int i = 0; i < dcount(a); ++i) {
      const double e1 = dexpo(dstart(a) + i + 1);
      const int l1max = dpow(dstart(a) + i + 1);
      const double gam = e1 + e2;
      PairFactors& t = factors[i + j * kMaxDistinct];
      t.v0 = std::exp(-(e1 * e2 / gam) * d2) * std::sqrt(kPi3 / (gam * gam * gam));
      const double pa[3] = {e2 * dx / gam, e2 * dy / gam, e2 * dz / gam};
      const double pb[3] = {e1 * ex / gam, e1 * ey / gam, e1 * ez / gam};
      for (int d = 0; d < 3; ++d)
        for (int l1 = 0; l1 <= l1max; ++l1)
          for (int l2 = 0; l2 <= l2max; ++l2) t.f[d][l1][l2] = sk(l1, l2, e1, e2, pa[d], pb[d]);
    }
  }
}

// Overlap of contracted functions mu on atom a and nu on atom b (squared
// distance d2), primitive pairs in ascending order, straight from the
// primitive overlap.
double directOverlap(int mu, int nu, int a, int b, double d2) {
  const int p0 = g.pfirst(mu);
  const int np = g.plast(mu) - p0 + 1;
  const int q0 = g.pfirst(nu);
  const int nq = g.plast(nu) - q0 + 1;
  double sum = 0.0;
  for (int r = 1; r <= np; ++r) {
    const int p = p0 + r - 1;
    for (int k = 1; k <= nq; ++k) {
      const int pp = q0 + k - 1;
      const double gam = g.expo(p) + g.expo(pp);
      double pa[3], pb[3];
      for (int i = 1; i <= 3; ++i) {
        pa[i - 1] = g.expo(pp) * (g.coord(i, b) - g.coord(i, a)) / gam;
        pb[i - 1] = g.expo(p) * (g.coord(i, a) - g.coord(i, b)) / gam;
      }
      sum += (s(g.lx(p), g.ly(p), g.lz(p), g.lx(pp), g.ly(pp), g.lz(pp), g.expo(p), g.expo(pp), d2,
                pa[0], pb[0], pa[1], pb[1], pa[2], pb[2]) *
              g.coeff(mu, r)) *
             g.coeff(nu, k);
    }
  }
  return sum;
}

// The same from the table of the current pair of atoms.
double tableOverlap(int mu, int nu) {
  const int p0 = g.pfirst(mu);
  const int np = g.plast(mu) - p0 + 1;
  const int q0 = g.pfirst(nu);
  const int nq = g.plast(nu) - q0 + 1;
  double sum = 0.0;
  for (int r = 1; r <= np; ++r) {
    const int p = p0 + r - 1;
    const int lx = g.lx(p), ly = g.ly(p), lz = g.lz(p);
    const double c1 = g.coeff(mu, r);
    const PairFactors* row = factors + eidx(p);
    for (int k = 1; k <= nq; ++k) {
      const int pp = q0 + k - 1;
      const PairFactors& t = row[eidx(pp) * kMaxDistinct];
      double v = t.f[0][lx][g.lx(pp)] * t.v0;
      v = t.f[1][ly][g.ly(pp)] * v;
      v = t.f[2][lz][g.lz(pp)] * v;
      sum += (v * c1) * g.coeff(nu, k);
    }
  }
  return sum;
}

// Assemble S atom pair by atom pair.  Within one atom only the upper
// triangle is evaluated and mirrored.  The block of two different atoms is
// evaluated with the higher-numbered atom as the first centre and mirrored,
// so S is exactly symmetric.  (Evaluating it from the other side as well
// would change nothing: in the order of the loops below that evaluation
// would come first and every element it wrote would be overwritten.)
void assemble(int natom, int nbf) {
  MatView sm = view(g.stv1);
  const bool reuse = indexExponents(natom, nbf);
  for (int a = 1; a <= natom; ++a) {
    if (!hasRange(a, nbf)) continue;
    for (int b = 1; b <= a; ++b) {
      if (!hasRange(b, nbf)) continue;
      const double d2 = ab2(a, b);
      const bool table = reuse && dcount(a) > 0 && dcount(b) > 0;
      if (table) fillFactors(a, b, d2);
      for (int mu = g.lim(a, 1); mu <= g.lim(a, 2); ++mu) {
        const int nu0 = (a == b) ? mu : g.lim(b, 1);
        for (int nu = nu0; nu <= g.lim(b, 2); ++nu) {
          const double v = table ? tableOverlap(mu, nu) : directOverlap(mu, nu, a, b, d2);
          sm(mu, nu) = v;
          sm(nu, mu) = v;
        }
      }
    }
  }
}

// Every element of S must be a finite number.  Extreme coordinates or
// exponents (finite as read) can overflow the closed-form integrals, and
// nothing built on such an S could be analysed.
void checkOverlap(int nbf) {
  MatView s = view(g.stv1);
  for (int j = 1; j <= nbf; ++j)
    for (int i = 1; i <= nbf; ++i)
      if (!std::isfinite(s(i, j)))
        refuse(" The overlap matrix holds an element that is not a finite number (S(" +
                   std::to_string(i) + "," + std::to_string(j) +
                   ")): the coordinates or exponents are out of range. STOP",
               kCodeBadValue);
}

}  // namespace

void buildOverlap() {
  const int natom = g.nat(1);
  const int nbf = g.nat(2);
  // S and the per-atom limits have fixed sizes; the reader keeps the counts
  // within them, and nothing here may write past them either.
  if (nbf > kMaxBf) {
    refuse("Number of basis functions: " + std::to_string(nbf) + " exceeds the limit of " +
               std::to_string(kMaxBf),
           kCodeLimit);
  }
  if (natom > kMaxAtomRead) {
    refuse("Number of atoms: " + std::to_string(natom) + " exceeds the limit of " +
               std::to_string(kMaxAtomRead),
           kCodeLimit);
  }
  normalisePrimitives(nbf);
  renormaliseContractions(nbf);
  assemble(natom, nbf);
  checkOverlap(nbf);
}

}  // namespace mv
