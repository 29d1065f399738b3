// Closed-form overlap and normalisation of primitive Cartesian Gaussians.
//
// A primitive is (x-Ax)^lx (y-Ay)^ly (z-Az)^lz exp(-alpha |r-A|^2).  The
// overlap of two primitives factorises into three one-dimensional integrals
// around the Gaussian product centre P; each is a finite sum over the even
// powers of the binomial expansion of (t + pa)^l1 (t + pb)^l2.
#include "integrals/primitives.h"

#include <cmath>

namespace mv {

namespace {

struct Tables {
  double binc[30][31] = {};  // binc[n-1][k] = C(n, k)
  double dfac[23] = {};      // dfac[n+1] = n!!
  Tables() {
    for (int n = 1; n <= 30; ++n) {
      at(n, 1) = 1.0;
      at(n, 2) = n;
      at(n, n + 1) = 1.0;
    }
    // Pascal's rule, row by row; row 1 is complete already.
    for (int n = 2; n <= 30; ++n)
      for (int k = 2; k <= n; ++k) at(n, k) = at(n - 1, k) + at(n - 1, k - 1);
    dfac[0] = 1.0;
    for (int n = 1; n <= 21; n += 2) dfac[n + 1] = dfac[n - 1] * n;
  }
  double& at(int n, int kp1) { return binc[n - 1][kp1 - 1]; }
};

const Tables& tables() {
  static const Tables t;
  return t;
}

// C(n, k), read from the binomial table (n >= 1).
inline double choose(int n, int k) {
  return tables().binc[n - 1][k];
}

}  // namespace

double binc(int n, int kp1) {
  return tables().binc[n - 1][kp1 - 1];
}

double dfac(int n) {
  return tables().dfac[n + 1];
}

double ipow(double x, int k) {
  // Right-to-left binary exponentiation: square the base, multiply in the
  // factors of the set bits of k.
  unsigned n = static_cast<unsigned>(k);
  double y = (n % 2 != 0) ? x : 1.0;
  while ((n >>= 1) != 0) {
    x = x * x;
    if (n % 2 != 0) y = y * x;
  }
  return y;
}

double ab2(const Matrix& coords, int a, int b) {
  double d = 0.0;
  for (int k = 1; k <= 3; ++k) {
    const double t = coords(k, a) - coords(k, b);
    d += t * t;
  }
  return d;
}

double fi(int j, int l, int m, double pa, double pb) {
  if (j > l + m) return 0.0;
  if (l == 0 && m == 0) return 1.0;
  if (l == 0) return choose(m, j) * ipow(pb, m - j);
  if (m == 0) return choose(l, j) * ipow(pa, l - j);
  const int lo = (j - m > 0) ? j - m : 0;
  const int hi = (j < l) ? j : l;
  double f = 0.0;
  for (int i = lo; i <= hi; ++i)
    f += ((ipow(pa, l - i) * choose(l, i)) * choose(m, j - i)) * ipow(pb, m - j + i);
  return f;
}

double sk(int l1, int l2, double a1, double a2, double pa, double pb) {
  const double twog = 2.0 * (a1 + a2);
  const int top = (l1 + l2) / 2;
  double v = 0.0;
  for (int i = 0; i <= top; ++i) v += fi(2 * i, l1, l2, pa, pb) * dfac(2 * i - 1) / ipow(twog, i);
  return v;
}

double s(int lx1, int ly1, int lz1, int lx2, int ly2, int lz2, double a1, double a2, double d2,
         double pax, double pbx, double pay, double pby, double paz, double pbz) {
  const double gam = a1 + a2;
  double v = std::sqrt(kPi3 / (gam * gam * gam));
  v = std::exp(-(a1 * a2 / gam) * d2) * v;
  v = sk(lx1, lx2, a1, a2, pax, pbx) * v;
  v = sk(ly1, ly2, a1, a2, pay, pby) * v;
  return sk(lz1, lz2, a1, a2, paz, pbz) * v;
}

double anorm(int lx, int ly, int lz, double alpha) {
  const double a3 = ((8.0 * alpha) * alpha) * alpha;
  const double den = dfac(2 * lx - 1) * dfac(2 * ly - 1) * dfac(2 * lz - 1);
  return std::sqrt(std::sqrt(a3 / kPi3) * ipow(4.0 * alpha, lx + ly + lz) / den);
}

}  // namespace mv
