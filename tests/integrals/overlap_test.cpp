// Overlap matrix of contracted functions, on hand-built basis tables checked
// against closed forms for normalised s and p Gaussians.
#include "integrals/overlap.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>

#include "driver/stop.h"
#include "integrals/primitives.h"
#include "support/testutil.h"
#include "tables.h"

namespace {

using namespace mv;

const double kPi = std::acos(-1.0);

// Appends functions and primitives to the basis tables.
struct Builder {
  int nprim = 0, nbf = 0;
  // One primitive of the current function.
  void prim(double alpha, int lx, int ly, int lz, double c) {
    ++nprim;
    g.expo(nprim) = alpha;
    g.lx(nprim) = lx;
    g.ly(nprim) = ly;
    g.lz(nprim) = lz;
    if (g.cont(nbf) == 0) g.pfirst(nbf) = nprim;
    g.plast(nbf) = nprim;
    g.cont(nbf) += 1;
    g.coeff(nbf, g.cont(nbf)) = c;
  }
  void function() { ++nbf; }
};

class Overlap : public ::testing::Test {
 protected:
  void SetUp() override {
    resetTables();
    init();
  }
};

// (2a/pi)^(3/4): the normalisation of an s Gaussian.
double ns(double a) {
  return std::pow(2.0 * a / kPi, 0.75);
}
// Overlap of two unnormalised s Gaussians at squared distance d2.
double ss(double a, double b, double d2) {
  return std::pow(kPi / (a + b), 1.5) * std::exp(-a * b * d2 / (a + b));
}

TEST_F(Overlap, ContractedFunctionsOnTwoAtoms) {
  // Atom 1 at the origin, atom 2 displaced.
  const double R[3] = {0.4, -0.9, 1.1};
  const double d2 = R[0] * R[0] + R[1] * R[1] + R[2] * R[2];
  g.nat(1) = 2;
  for (int k = 1; k <= 3; ++k) g.coord(k, 2) = R[k - 1];
  Builder b;
  // 1: contracted s on atom 1; coefficients on an arbitrary scale.
  const double e1 = 3.2, e2 = 0.6, c1 = 5.0, c2 = 7.5;
  b.function();
  b.prim(e1, 0, 0, 0, c1);
  b.prim(e2, 0, 0, 0, c2);
  // 2: single p_x primitive on atom 1 with coefficient 0.7 (kept, not rescaled).
  const double ep = 1.1, w = 0.7;
  b.function();
  b.prim(ep, 1, 0, 0, w);
  // 3: single s primitive on atom 2.
  const double eb = 0.9;
  b.function();
  b.prim(eb, 0, 0, 0, 1.0);
  g.nat(2) = b.nbf;
  g.lim(1, 1) = 1;
  g.lim(1, 2) = 2;
  g.lim(2, 1) = 3;
  g.lim(2, 2) = 3;

  buildOverlap();
  MatView S = view(g.stv1);

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

  // Exactly symmetric; nothing written beyond NBF.
  for (int i = 1; i <= 3; ++i)
    for (int j = 1; j <= 3; ++j) EXPECT_EQ(S(i, j), S(j, i));
  for (int i = 1; i <= 5; ++i) {
    EXPECT_EQ(S(i, 4), 0.0);
    EXPECT_EQ(S(4, i), 0.0);
  }
  EXPECT_EQ(S(kLd, kLd), 0.0);
}

TEST_F(Overlap, ThreeComponentFunctionIncludesCrossTerms) {
  // x^2 + y^2 + z^2 times one Gaussian, as three Cartesian components: its
  // self-overlap needs the cross terms between the components; the assembly
  // sums all nine pairs again, so S(1, 1) = 1 only if both agree.
  g.nat(1) = 1;
  Builder b;
  b.function();
  b.prim(1.3, 2, 0, 0, 0.2);
  b.prim(1.3, 0, 2, 0, 0.2);
  b.prim(1.3, 0, 0, 2, 0.2);
  // An s function on the same atom: r^2 exp(-a r^2) overlaps it.
  b.function();
  b.prim(0.5, 0, 0, 0, 1.0);
  g.nat(2) = b.nbf;
  g.lim(1, 1) = 1;
  g.lim(1, 2) = 2;
  buildOverlap();
  MatView S = view(g.stv1);
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

TEST_F(Overlap, AtomWithoutFunctionsIsSkipped) {
  // Atom 2 owns nothing: its first limit stays 0, the last one is NBF (as
  // the basis tables leave it for a trailing atom without shells).
  g.nat(1) = 2;
  g.coord(3, 2) = 1.0;
  Builder b;
  b.function();
  b.prim(0.8, 0, 0, 0, 1.0);
  b.function();
  b.prim(0.3, 0, 0, 0, 1.0);
  g.nat(2) = b.nbf;
  g.lim(1, 1) = 1;
  g.lim(1, 2) = 2;
  g.lim(2, 1) = 0;
  g.lim(2, 2) = 2;
  buildOverlap();
  MatView S = view(g.stv1);
  EXPECT_NEAR(S(1, 2), ns(0.8) * ns(0.3) * ss(0.8, 0.3, 0.0), 1e-14);
  EXPECT_NEAR(S(2, 2), 1.0, 1e-14);
}

TEST_F(Overlap, ManyExponentsAndHighPowers) {
  // 70 s functions of distinct exponents on atom 1, and on atom 2 an s
  // function and a primitive x^4: more exponents and a higher power than
  // the assembly keeps in its table of shared factors.
  g.nat(1) = 2;
  const double R = 1.7;
  g.coord(2, 2) = R;
  Builder b;
  for (int i = 0; i < 70; ++i) {
    b.function();
    b.prim(0.1 * (i + 1), 0, 0, 0, 1.0);
  }
  b.function();
  b.prim(0.45, 0, 0, 0, 1.0);
  b.function();
  b.prim(0.6, 4, 0, 0, 1.0);
  g.nat(2) = b.nbf;
  g.lim(1, 1) = 1;
  g.lim(1, 2) = 70;
  g.lim(2, 1) = 71;
  g.lim(2, 2) = 72;
  buildOverlap();
  MatView S = view(g.stv1);
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

TEST_F(Overlap, ZeroContractionIsRefused) {
  g.nat(1) = 1;
  Builder b;
  b.function();
  b.prim(0.8, 0, 0, 0, 0.0);
  b.prim(0.3, 0, 0, 0, 0.0);
  g.nat(2) = b.nbf;
  g.lim(1, 1) = 1;
  g.lim(1, 2) = 1;
  mvtest::Capture cap;
  try {
    buildOverlap();
    FAIL() << "no stop";
  } catch (const Stop& st) {
    EXPECT_EQ(st.code, kCodeZeroFunction);
  }
  EXPECT_NE(cap.out.str().find("Basis function 1"), std::string::npos);
}

}  // namespace
