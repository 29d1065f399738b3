// Primitive overlap integrals: constant tables, the one-dimensional factors,
// the overlap of two primitives and their normalisation, checked against
// closed forms and direct numerical quadrature.
#include "integrals/primitives.h"

#include <gtest/gtest.h>

#include <cmath>

#include "core/matrix.h"

namespace {

using namespace mv;

const double kPi = std::acos(-1.0);

// The tables are built once, before their first use; the tests need no set-up.
class Primitives : public ::testing::Test {};

TEST_F(Primitives, BinomialAndDoubleFactorialTables) {
  EXPECT_EQ(binc(5, 3), 10.0);
  EXPECT_EQ(binc(6, 4), 20.0);
  EXPECT_EQ(binc(30, 31), 1.0);
  EXPECT_EQ(binc(3, 5), 0.0);
  EXPECT_EQ(binc(1, 1), 1.0);
  EXPECT_EQ(binc(1, 2), 1.0);
  EXPECT_EQ(binc(30, 16), 155117520.0);  // C(30, 15)
  EXPECT_EQ(dfac(-1), 1.0);
  EXPECT_EQ(dfac(1), 1.0);
  EXPECT_EQ(dfac(5), 15.0);
  EXPECT_EQ(dfac(9), 945.0);
  EXPECT_EQ(dfac(21), 13749310575.0);
}

TEST_F(Primitives, IntegerPowers) {
  EXPECT_EQ(ipow(0.0, 0), 1.0);
  EXPECT_EQ(ipow(0.0, 3), 0.0);
  EXPECT_EQ(ipow(-2.0, 3), -8.0);
  EXPECT_EQ(ipow(2.0, 10), 1024.0);
  EXPECT_NEAR(ipow(1.7, 7), 41.0338673, 1e-6);
}

TEST_F(Primitives, ExpansionCoefficients) {
  EXPECT_EQ(fi(0, 0, 0, 0.3, -1.2), 1.0);
  EXPECT_EQ(fi(5, 2, 2, 0.3, -1.2), 0.0);
  EXPECT_EQ(fi(1, 0, 0, 0.3, -1.2), 0.0);
  // On one centre only the top power survives.
  for (int l = 0; l <= 3; ++l)
    for (int m = 0; m <= 3; ++m)
      for (int j = 0; j <= l + m; ++j)
        EXPECT_EQ(fi(j, l, m, 0.0, 0.0), j == l + m ? 1.0 : 0.0) << j << " " << l << " " << m;
  // Against a direct multiplication of the two polynomials in t.
  const double pa = 0.37, pb = -1.21;
  for (int l = 0; l <= 3; ++l) {
    for (int m = 0; m <= 3; ++m) {
      double poly[7] = {1, 0, 0, 0, 0, 0, 0};  // coefficients of t^0 .. t^6
      int deg = 0;
      auto mul = [&](double c) {  // poly *= (t + c)
        for (int k = deg + 1; k >= 0; --k) poly[k] = (k > 0 ? poly[k - 1] : 0.0) + c * poly[k];
        ++deg;
      };
      for (int i = 0; i < l; ++i) mul(pa);
      for (int i = 0; i < m; ++i) mul(pb);
      for (int j = 0; j <= l + m; ++j)
        EXPECT_NEAR(fi(j, l, m, pa, pb), poly[j], 1e-13) << j << " " << l << " " << m;
    }
  }
}

TEST_F(Primitives, OneCentreFactors) {
  const double a1 = 0.9, a2 = 2.3, g2 = 2.0 * (a1 + a2);
  EXPECT_NEAR(sk(1, 1, a1, a2, 0, 0), 1.0 / g2, 1e-15);
  EXPECT_NEAR(sk(2, 2, a1, a2, 0, 0), 3.0 / (g2 * g2), 1e-15);
  EXPECT_NEAR(sk(3, 1, a1, a2, 0, 0), 3.0 / (g2 * g2), 1e-15);
  EXPECT_NEAR(sk(3, 3, a1, a2, 0, 0), 15.0 / (g2 * g2 * g2), 1e-15);
  EXPECT_EQ(sk(1, 0, a1, a2, 0, 0), 0.0);
  EXPECT_EQ(sk(2, 1, a1, a2, 0, 0), 0.0);
  // An s and a p primitive on one centre do not overlap.
  EXPECT_EQ(s(0, 0, 0, 0, 1, 0, a1, a2, 0, 0, 0, 0, 0, 0, 0), 0.0);
  const double gam = a1 + a2;
  EXPECT_NEAR(s(0, 0, 0, 0, 0, 0, a1, a2, 0, 0, 0, 0, 0, 0, 0), std::pow(kPi / gam, 1.5), 1e-13);
}

// Offsets of the product centre as the overlap assembly forms them.
struct Pair {
  double d2, pa[3], pb[3];
  Pair(const double* A, const double* B, double a1, double a2) {
    const double gam = a1 + a2;
    d2 = 0;
    for (int i = 0; i < 3; ++i) {
      pa[i] = a2 * (B[i] - A[i]) / gam;
      pb[i] = a1 * (A[i] - B[i]) / gam;
      d2 += (A[i] - B[i]) * (A[i] - B[i]);
    }
  }
};

TEST_F(Primitives, TwoCentreClosedForms) {
  const double A[3] = {0.1, -0.4, 0.7}, B[3] = {1.3, 0.5, -0.2};
  const double a1 = 0.8, a2 = 1.9, gam = a1 + a2;
  Pair q(A, B, a1, a2);
  const double base = std::pow(kPi / gam, 1.5) * std::exp(-a1 * a2 * q.d2 / gam);
  // Two s primitives.
  EXPECT_NEAR(
      s(0, 0, 0, 0, 0, 0, a1, a2, q.d2, q.pa[0], q.pb[0], q.pa[1], q.pb[1], q.pa[2], q.pb[2]), base,
      1e-14);
  // (x - Ax) on A with (x - Bx) on B: the x factor is 1/(2 gam) - a1 a2 Rx^2 / gam^2.
  const double rx = B[0] - A[0];
  EXPECT_NEAR(
      s(1, 0, 0, 1, 0, 0, a1, a2, q.d2, q.pa[0], q.pb[0], q.pa[1], q.pb[1], q.pa[2], q.pb[2]),
      base * (0.5 / gam - a1 * a2 * rx * rx / (gam * gam)), 1e-14);
  // (x - Ax) on A with (y - By) on B: the product of the two shifts.
  const double ry = B[1] - A[1];
  EXPECT_NEAR(
      s(1, 0, 0, 0, 1, 0, a1, a2, q.d2, q.pa[0], q.pb[0], q.pa[1], q.pb[1], q.pa[2], q.pb[2]),
      base * (a2 * rx / gam) * (-a1 * ry / gam), 1e-14);
  // Squared distances between atoms, from a coordinate matrix.
  Matrix coords(3, 2);
  for (int k = 1; k <= 3; ++k) {
    coords(k, 1) = A[k - 1];
    coords(k, 2) = B[k - 1];
  }
  EXPECT_EQ(ab2(coords, 1, 1), 0.0);
  EXPECT_NEAR(ab2(coords, 1, 2), q.d2, 1e-15);
  EXPECT_EQ(ab2(coords, 2, 1), ab2(coords, 1, 2));
}

// One-dimensional overlap by the trapezoidal rule, which converges
// spectrally for these smooth, rapidly decaying integrands.
double quad1d(int l1, int l2, double a1, double a2, double A, double B) {
  const double h = 0.002;
  double sum = 0;
  for (double x = -12.0; x <= 12.0; x += h)
    sum += std::pow(x - A, l1) * std::pow(x - B, l2) *
           std::exp(-a1 * (x - A) * (x - A) - a2 * (x - B) * (x - B));
  return sum * h;
}

TEST_F(Primitives, OverlapAgreesWithQuadratureForAllPowers) {
  const double A[3] = {0.0, 0.2, -0.3}, B[3] = {0.6, -0.5, 0.4};
  const double a1 = 0.75, a2 = 1.4;
  Pair q(A, B, a1, a2);
  for (int l1 = 0; l1 <= 3; ++l1) {
    for (int l2 = 0; l2 <= 3; ++l2) {
      // Powers in x only; y and z contribute plain Gaussian factors.
      const double ref = quad1d(l1, l2, a1, a2, A[0], B[0]) * quad1d(0, 0, a1, a2, A[1], B[1]) *
                         quad1d(0, 0, a1, a2, A[2], B[2]);
      const double v =
          s(l1, 0, 0, l2, 0, 0, a1, a2, q.d2, q.pa[0], q.pb[0], q.pa[1], q.pb[1], q.pa[2], q.pb[2]);
      EXPECT_NEAR(v, ref, 1e-12) << l1 << " " << l2;
      // Exchanging the two primitives gives the same value.
      Pair r(B, A, a2, a1);
      const double w =
          s(l2, 0, 0, l1, 0, 0, a2, a1, r.d2, r.pa[0], r.pb[0], r.pa[1], r.pb[1], r.pa[2], r.pb[2]);
      EXPECT_NEAR(w, v, 1e-14 + 1e-13 * std::fabs(v));
    }
  }
}

TEST_F(Primitives, NormalisationGivesUnitSelfOverlap) {
  EXPECT_NEAR(anorm(0, 0, 0, 1.0), std::pow(2.0 / kPi, 0.75), 1e-14);
  // 2 sqrt(a) (2a/pi)^(3/4) for a p primitive.
  EXPECT_NEAR(anorm(1, 0, 0, 0.5), 2.0 * std::sqrt(0.5) * std::pow(1.0 / kPi, 0.75), 1e-14);
  for (double a : {0.05, 0.8, 3.3, 120.0, 6000.0})
    for (int lx = 0; lx <= 3; ++lx)
      for (int ly = 0; ly <= 3; ++ly)
        for (int lz = 0; lz <= 3; ++lz) {
          const double n = anorm(lx, ly, lz, a);
          EXPECT_NEAR(n * n * s(lx, ly, lz, lx, ly, lz, a, a, 0, 0, 0, 0, 0, 0, 0), 1.0, 1e-13)
              << a << " " << lx << ly << lz;
        }
}

}  // namespace
