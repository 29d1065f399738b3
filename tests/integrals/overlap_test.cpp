// Overlap matrix of contracted functions, on hand-built basis tables checked
// against closed forms for normalised s and p Gaussians.
#include "integrals/overlap.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>

#include "core/stop.h"
#include "integrals/basis.h"
#include "integrals/primitives.h"
#include "support/matrices.h"

namespace {

using namespace mv;

const double kPi = std::acos(-1.0);

// A basis built by hand: functions and their primitives, atom by atom.
struct Builder {
  Basis b;
  Matrix coords;
  explicit Builder(int natoms) : coords(3, natoms) {
    b.natoms = natoms;
    b.first = Vec1<int>(natoms);
    b.last = Vec1<int>(natoms);
  }
  // A new function on atom `atom`.
  void function(int atom) {
    ++b.nbf;
    b.atomOf.std().push_back(atom);
    b.pfirst.std().push_back(b.expo.size() + 1);
    b.plast.std().push_back(b.expo.size());
    b.map.std().push_back(b.nbf);
  }
  // One primitive of the current function.
  void prim(double alpha, int lx, int ly, int lz, double c) {
    b.expo.std().push_back(alpha);
    b.coeff.std().push_back(c);
    b.lx.std().push_back(lx);
    b.ly.std().push_back(ly);
    b.lz.std().push_back(lz);
    b.plast(b.nbf) = b.expo.size();
    b.maxPower = std::max({b.maxPower, lx, ly, lz});
  }
  void range(int atom, int first, int last) {
    b.first(atom) = first;
    b.last(atom) = last;
  }
  Matrix overlap() const { return overlapMatrix(b, coords); }
};

// (2a/pi)^(3/4): the normalisation of an s Gaussian.
double ns(double a) {
  return std::pow(2.0 * a / kPi, 0.75);
}
// Overlap of two unnormalised s Gaussians at squared distance d2.
double ss(double a, double b, double d2) {
  return std::pow(kPi / (a + b), 1.5) * std::exp(-a * b * d2 / (a + b));
}

TEST(Overlap, ContractedFunctionsOnTwoAtoms) {
  // Atom 1 at the origin, atom 2 displaced.
  const double R[3] = {0.4, -0.9, 1.1};
  const double d2 = R[0] * R[0] + R[1] * R[1] + R[2] * R[2];
  Builder b(2);
  for (int k = 1; k <= 3; ++k) b.coords(k, 2) = R[k - 1];
  // 1: contracted s on atom 1; coefficients on an arbitrary scale.
  const double e1 = 3.2, e2 = 0.6, c1 = 5.0, c2 = 7.5;
  b.function(1);
  b.prim(e1, 0, 0, 0, c1);
  b.prim(e2, 0, 0, 0, c2);
  // 2: single p_x primitive on atom 1 with coefficient 0.7 (kept, not rescaled).
  const double ep = 1.1, w = 0.7;
  b.function(1);
  b.prim(ep, 1, 0, 0, w);
  // 3: single s primitive on atom 2.
  const double eb = 0.9;
  b.function(2);
  b.prim(eb, 0, 0, 0, 1.0);
  b.range(1, 1, 2);
  b.range(2, 3, 3);

  const Matrix S = b.overlap();

  EXPECT_NEAR(S(1, 1), 1.0, 1e-14);
  EXPECT_NEAR(S(2, 2), w * w, 1e-14);
  EXPECT_NEAR(S(3, 3), 1.0, 1e-14);
  EXPECT_EQ(S(1, 2), 0.0);  // s and p on one atom

  // Normalised contraction of atom 1 against the s function of atom 2.
  const double a1 = c1 * ns(e1), a2 = c2 * ns(e2);
  const double norm2 =
      a1 * a1 * ss(e1, e1, 0) + 2 * a1 * a2 * ss(e1, e2, 0) + a2 * a2 * ss(e2, e2, 0);
  const double s13 = (a1 * ss(e1, eb, d2) + a2 * ss(e2, eb, d2)) * ns(eb) / std::sqrt(norm2);
  EXPECT_NEAR(S(1, 3), s13, 1e-13);

  // p_x on atom 1 against s on atom 2: the x factor is P_x - A_x.
  const double np = 2.0 * std::sqrt(ep) * ns(ep);
  const double s23 = w * np * ns(eb) * ss(ep, eb, d2) * (eb * R[0] / (ep + eb));
  EXPECT_NEAR(S(2, 3), s23, 1e-13);

  // Exactly symmetric, and of the order of the basis.
  for (int i = 1; i <= 3; ++i)
    for (int j = 1; j <= 3; ++j) EXPECT_EQ(S(i, j), S(j, i));
  EXPECT_EQ(S.rows(), 3);
  EXPECT_EQ(S.cols(), 3);
  // The coefficients as normalised: the contraction to unit self-overlap,
  // the single primitive only times its normalisation constant.
  const Vec1<double> c = normalisedCoefficients(b.b);
  EXPECT_NEAR(c(1), c1 * ns(e1) / std::sqrt(norm2), 1e-13);
  EXPECT_NEAR(c(3), w * np, 1e-13);
}

TEST(Overlap, ThreeComponentFunctionIncludesCrossTerms) {
  // x^2 + y^2 + z^2 times one Gaussian, as three Cartesian components: its
  // self-overlap needs the cross terms between the components; the assembly
  // sums all nine pairs again, so S(1, 1) = 1 only if both agree.
  Builder b(1);
  b.function(1);
  b.prim(1.3, 2, 0, 0, 0.2);
  b.prim(1.3, 0, 2, 0, 0.2);
  b.prim(1.3, 0, 0, 2, 0.2);
  // An s function on the same atom: r^2 exp(-a r^2) overlaps it.
  b.function(1);
  b.prim(0.5, 0, 0, 0, 1.0);
  b.range(1, 1, 2);
  const Matrix S = b.overlap();
  EXPECT_NEAR(S(1, 1), 1.0, 1e-14);
  // <r^2 e^{-a r^2} | e^{-b r^2}> / norms, with gamma = a + b:
  // <r^2> term = (3/(2 gamma)) (pi/gamma)^(3/2); norm^2 of r^2 e^{-a r^2} = (15/(16 a^2))
  // (pi/2a)^(3/2).
  const double a = 1.3, bb = 0.5, gam = a + bb;
  const double num = 1.5 / gam * std::pow(kPi / gam, 1.5);
  const double nr2 = 15.0 / (16.0 * a * a) * std::pow(kPi / (2 * a), 1.5);
  EXPECT_NEAR(S(1, 2), num / std::sqrt(nr2) * ns(bb), 1e-13);
  EXPECT_EQ(S(1, 2), S(2, 1));
}

TEST(Overlap, AtomWithoutFunctionsIsSkipped) {
  // Atom 2 owns nothing: its first limit stays 0, the last one is NBF (as
  // the basis tables leave it for a trailing atom without shells).
  Builder b(2);
  b.coords(3, 2) = 1.0;
  b.function(1);
  b.prim(0.8, 0, 0, 0, 1.0);
  b.function(1);
  b.prim(0.3, 0, 0, 0, 1.0);
  b.range(1, 1, 2);
  b.range(2, 0, 2);
  const Matrix S = b.overlap();
  EXPECT_NEAR(S(1, 2), ns(0.8) * ns(0.3) * ss(0.8, 0.3, 0.0), 1e-14);
  EXPECT_NEAR(S(2, 2), 1.0, 1e-14);
}

TEST(Overlap, ManyExponentsAndHighPowers) {
  // 70 s functions of distinct exponents on atom 1, and on atom 2 an s
  // function and a primitive x^4: more exponents and a higher power than
  // the assembly keeps in its table of shared factors.
  const double R = 1.7;
  Builder b(2);
  b.coords(2, 2) = R;
  for (int i = 0; i < 70; ++i) {
    b.function(1);
    b.prim(0.1 * (i + 1), 0, 0, 0, 1.0);
  }
  b.function(2);
  b.prim(0.45, 0, 0, 0, 1.0);
  b.function(2);
  b.prim(0.6, 4, 0, 0, 1.0);
  b.range(1, 1, 70);
  b.range(2, 71, 72);
  const Matrix S = b.overlap();
  for (int i = 1; i < 70; i += 17) {
    const double ei = 0.1 * i;
    EXPECT_NEAR(S(i, i), 1.0, 1e-14);
    EXPECT_NEAR(S(i, 71), ns(ei) * ns(0.45) * ss(ei, 0.45, R * R), 1e-13);
    EXPECT_NEAR(S(i, i + 1), ns(ei) * ns(ei + 0.1) * ss(ei, ei + 0.1, 0.0), 1e-13);
  }
  // x^4 exp(-a r^2) against exp(-b r^2) on another centre along y: the x
  // factor is 3/(2 gamma)^2 sqrt(pi/gamma); x^4 has norm^2 105/(2(2a))^4 (pi/2a)^(3/2).
  const double a = 0.6, e = 0.45, gam = a + e;
  const double nx4 = 1.0 / std::sqrt(105.0 / std::pow(4.0 * a, 4) * std::pow(kPi / (2 * a), 1.5));
  EXPECT_NEAR(S(72, 72), 1.0, 1e-13);
  EXPECT_NEAR(S(71, 72), nx4 * ns(e) * ss(a, e, 0.0) * 3.0 / std::pow(2 * gam, 2), 1e-13);
  EXPECT_NEAR(S(1, 72), nx4 * ns(0.1) * ss(a, 0.1, R * R) * 3.0 / std::pow(2 * (a + 0.1), 2),
              1e-13);
  EXPECT_EQ(S(1, 72), S(72, 1));
}

TEST(Overlap, ZeroContractionIsRefused) {
  Builder b(1);
  b.function(1);
  b.prim(0.8, 0, 0, 0, 0.0);
  b.prim(0.3, 0, 0, 0, 0.0);
  b.range(1, 1, 1);
  try {
    b.overlap();
    FAIL() << "no stop";
  } catch (const Stop& st) {
    EXPECT_EQ(st.code, kCodeZeroFunction);
    EXPECT_EQ(st.records, std::vector<std::string>{
                              "Basis function 1: contraction self-overlap 0 is not positive"});
  }
}

TEST(Overlap, OverflowingIntegralsAreRefused) {
  // Two atoms so far apart that exp(-a b d2 / gamma) underflows is harmless;
  // a coordinate near the largest double makes d2 infinite and the
  // integral not a number.
  Builder b(2);
  b.coords(1, 2) = 1.0e308;
  b.function(1);
  b.prim(0.8, 1, 0, 0, 1.0);
  b.function(2);
  b.prim(0.3, 1, 0, 0, 1.0);
  b.range(1, 1, 1);
  b.range(2, 2, 2);
  try {
    b.overlap();
    FAIL() << "no stop";
  } catch (const Stop& st) {
    EXPECT_EQ(st.code, kCodeBadValue);
    ASSERT_EQ(st.records.size(), 1u);
    EXPECT_EQ(st.records[0].rfind(" The overlap matrix holds an element that is not a finite "
                                  "number (S(",
                                  0),
              0u)
        << st.records[0];
  }
}

TEST(Overlap, FileOrderAppliesTheMap) {
  // S(i, j) = 10 i + j in the program's order.
  const int n = 6;
  Matrix s(n, n);
  for (int j = 1; j <= n; ++j)
    for (int i = 1; i <= n; ++i) s(i, j) = 10.0 * i + j;
  Vec1<int> map(n);
  for (int k = 1; k <= n; ++k) map(k) = k;
  Matrix h = toFileOrder(s, map);
  EXPECT_EQ(mvtest::maxDifference(h, s), 0.0);

  // A pure d shell at functions 2..6: program order -> checkpoint order.
  const int pure[5] = {3, 4, 6, 5, 2};
  for (int k = 0; k < 5; ++k) map(k + 2) = pure[k];
  h = toFileOrder(s, map);
  ASSERT_EQ(h.rows(), n);
  for (int j = 1; j <= n; ++j)
    for (int i = 1; i <= n; ++i) EXPECT_EQ(h(map(i), map(j)), 10.0 * i + j) << i << "," << j;
}

}  // namespace
