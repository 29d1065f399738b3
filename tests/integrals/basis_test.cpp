// Basis-set tables: expansion of shells into Cartesian primitives, the pure
// d and f combinations, the order map and the refusals; the pure functions
// are checked through the overlap matrix they give.
#include "checkpoint/basis.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <string>
#include <vector>

#include "driver/stop.h"
#include "integrals/overlap.h"
#include "integrals/primitives.h"
#include "support/fchktext.h"
#include "support/reportparse.h"
#include "support/testutil.h"
#include "tables.h"

namespace {

using namespace mv;

RawBasis rb;  // static: too large for the stack

class Basis : public ::testing::Test {
 protected:
  void SetUp() override {
    resetTables();
    init();
    rb = RawBasis();
  }
  // Append a shell of the given type on atom `atom` with exponents and
  // coefficients (and p coefficients for SP shells).
  void shell(int type, int atom, std::vector<double> ex, std::vector<double> cc,
             std::vector<double> pc = {}) {
    const int i = ++rb.nshell;
    rb.shtype(i) = type;
    rb.shatom(i) = atom;
    rb.shnprim(i) = static_cast<int>(ex.size());
    for (std::size_t j = 0; j < ex.size(); ++j) {
      ++rb.nprim;
      rb.rawexp(rb.nprim) = ex[j];
      rb.rawcoef(rb.nprim) = cc[j];
      rb.rawpcoef(rb.nprim) = pc.empty() ? 0.0 : pc[j];
    }
  }
  // Build with the counts the shells imply.
  void build(int natom) {
    g.nat(1) = natom;
    int nbf = 0;
    for (int i = 1; i <= rb.nshell; ++i) nbf += functionsOfType(rb.shtype(i));
    g.nat(2) = nbf;
    buildBasis(rb);
  }
  // Run buildBasis expecting a stop; returns its code and the report.
  std::string stopOf(std::string& out) {
    mvtest::Capture cap;
    std::string code = "none";
    try {
      buildBasis(rb);
    } catch (const Stop& st) {
      code = st.code;
    }
    out = cap.out.str();
    return code;
  }
  static void expectRange(int k, int first, int last) {
    EXPECT_EQ(g.pfirst(k), first) << "function " << k;
    EXPECT_EQ(g.plast(k), last) << "function " << k;
    EXPECT_EQ(g.cont(k), last - first + 1) << "function " << k;
  }
};

TEST_F(Basis, CartesianShellsGiveIdentityMap) {
  shell(0, 1, {10.0, 2.0, 0.5}, {0.1, 0.4, 0.7});
  shell(1, 1, {1.5, 0.3}, {0.5, 0.6});
  shell(2, 2, {0.8}, {1.0});
  shell(3, 2, {0.6, 0.2}, {0.3, 0.8});
  build(2);
  ASSERT_EQ(g.nat(2), 1 + 3 + 6 + 10);
  EXPECT_EQ(g.nat(3), 3 + 3 * 2 + 6 * 1 + 10 * 2);
  for (int k = 1; k <= g.nat(2); ++k) EXPECT_EQ(g.map(k), k);
  expectRange(1, 1, 3);
  expectRange(2, 4, 5);     // p x
  expectRange(4, 8, 9);     // p z
  expectRange(5, 10, 10);   // d xx
  expectRange(11, 16, 17);  // f xxx
  expectRange(20, 34, 35);  // f xyz
  EXPECT_EQ(g.expo(2), 2.0);
  EXPECT_EQ(g.expo(9), 0.3);
  EXPECT_EQ(g.expo(35), 0.2);
  EXPECT_EQ(g.coeff(1, 3), 0.7);
  EXPECT_EQ(g.coeff(4, 2), 0.6);
  // Powers: p z, d xy (4th d block), f xyy (4th f block), f xyz.
  EXPECT_EQ(g.lz(8), 1);
  EXPECT_EQ(g.lx(13) * 10 + g.ly(13), 11);
  EXPECT_EQ(g.lx(22) * 100 + g.ly(22) * 10 + g.lz(22), 120);
  EXPECT_EQ(g.lx(34) * 100 + g.ly(34) * 10 + g.lz(34), 111);
  EXPECT_EQ(g.lim(1, 1), 1);
  EXPECT_EQ(g.lim(1, 2), 4);
  EXPECT_EQ(g.lim(2, 1), 5);
  EXPECT_EQ(g.lim(2, 2), 20);
}

TEST_F(Basis, SPShellUsesBothCoefficientSets) {
  shell(-1, 1, {3.0, 0.7}, {0.15, 0.9}, {0.16, 0.85});
  shell(0, 2, {0.4}, {1.0});
  build(2);
  EXPECT_EQ(g.nat(3), 8 + 1);
  EXPECT_EQ(g.coeff(1, 1), 0.15);
  EXPECT_EQ(g.coeff(1, 2), 0.9);
  for (int k = 2; k <= 4; ++k) {
    EXPECT_EQ(g.coeff(k, 1), 0.16);
    EXPECT_EQ(g.coeff(k, 2), 0.85);
    EXPECT_EQ(g.expo(g.pfirst(k) + 1), 0.7);
  }
  EXPECT_EQ(g.lx(3), 1);  // first primitive of the x block
  EXPECT_EQ(g.ly(5), 1);
  EXPECT_EQ(g.lz(7), 1);
  EXPECT_EQ(g.lim(1, 2), 4);
  EXPECT_EQ(g.lim(2, 1), 5);
}

TEST_F(Basis, PureDRangesAndCoefficients) {
  shell(0, 1, {1.0}, {1.0});
  shell(-2, 1, {0.9}, {1.0});                      // uncontracted: Q = 2, s = 2
  shell(-2, 1, {2.0, 1.0, 0.5}, {0.2, 0.3, 0.5});  // n = 3: Q = 8, s = 7
  build(1);
  expectRange(2, 2, 2);
  expectRange(3, 3, 3);
  expectRange(4, 4, 4);
  expectRange(5, 5, 6);
  expectRange(6, 5, 7);
  EXPECT_EQ(g.nat(3), 1 + 6 + 18);
  expectRange(10, 17, 22);
  expectRange(11, 17, 25);
  const double c[3] = {0.2, 0.3, 0.5};
  for (int j = 1; j <= 3; ++j) {
    EXPECT_EQ(g.coeff(10, j), c[j - 1]);
    EXPECT_EQ(g.coeff(10, 3 + j), -c[j - 1]);
    EXPECT_NEAR(g.coeff(11, j), -c[j - 1] / std::sqrt(3.0), 1e-15);
    EXPECT_NEAR(g.coeff(11, 6 + j), 2 * c[j - 1] / std::sqrt(3.0), 1e-15);
  }
  // Blocks xz, yz, xy, xx, yy, zz.
  EXPECT_EQ(g.lx(8) + g.lz(8), 2);
  EXPECT_EQ(g.lx(19), 2);
  EXPECT_EQ(g.ly(20), 2);
  EXPECT_EQ(g.lz(23), 2);
  EXPECT_EQ(g.lz(25), 2);
  const int map[] = {1, 3, 4, 6, 5, 2, 8, 9, 11, 10, 7};
  for (int k = 1; k <= 11; ++k) EXPECT_EQ(g.map(k), map[k - 1]) << k;
}

TEST_F(Basis, PureFRanges) {
  shell(0, 1, {1.0}, {1.0});
  shell(-3, 1, {0.9}, {1.0});            // n = 1, Q = 2
  shell(-3, 1, {2.0, 0.4}, {0.6, 0.5});  // n = 2, Q = 12
  build(1);
  const int r1[7][2] = {{2, 4}, {3, 4}, {5, 7}, {6, 7}, {8, 10}, {9, 10}, {11, 11}};
  for (int c = 0; c < 7; ++c) expectRange(2 + c, r1[c][0], r1[c][1]);
  const int r2[7][2] = {{12, 17}, {14, 17}, {18, 23}, {20, 23}, {24, 29}, {26, 29}, {30, 31}};
  for (int c = 0; c < 7; ++c) expectRange(9 + c, r2[c][0], r2[c][1]);
  EXPECT_EQ(g.nat(3), 31);
  const int map[] = {1, 3, 7, 4, 8, 2, 5, 6};
  for (int k = 1; k <= 8; ++k) EXPECT_EQ(g.map(k), map[k - 1]) << k;
  // Function 5 of the n = 2 shell: zzz, yyz, xxz blocks of both primitives.
  EXPECT_NEAR(g.coeff(13, 2), std::sqrt(5.0) * 0.5, 1e-15);
  EXPECT_EQ(g.coeff(13, 3), -1.5 * 0.6);
  EXPECT_EQ(g.lz(24), 3);
  EXPECT_EQ(g.ly(27) * 10 + g.lz(27), 21);
}

// S over the functions of one atom, which must be the identity.
void expectIdentity(int n, double tol) {
  MatView S = view(g.stv1);
  for (int i = 1; i <= n; ++i)
    for (int j = 1; j <= n; ++j) EXPECT_NEAR(S(i, j), i == j ? 1.0 : 0.0, tol) << i << "," << j;
}

TEST_F(Basis, PureFunctionsAreOrthonormal) {
  shell(0, 1, {1.0}, {1.0});
  shell(-3, 1, {0.9}, {1.0});
  build(1);
  buildOverlap();
  expectIdentity(8, 1e-9);
}

TEST_F(Basis, ContractedPureFunctionsAreOrthonormal) {
  shell(0, 1, {1.0}, {1.0});
  shell(-2, 1, {2.0, 0.6}, {0.4, 0.7});
  shell(-3, 1, {1.7, 0.5}, {0.3, 0.8});
  build(1);
  buildOverlap();
  // d and f are orthogonal by parity; within each shell the combinations are.
  expectIdentity(13, 1e-9);
}

TEST_F(Basis, ClassicChecksInOrder) {
  std::string out;
  shell(1, 1, {1.0}, {1.0});
  shell(7, 1, {1.0}, {1.0});
  g.nat(1) = 1;
  g.nat(2) = 99;
  EXPECT_EQ(stopOf(out), "4358");
  EXPECT_EQ(mvtest::lines(out),
            (std::vector<std::string>{"  The first shell in the system must not be a pure p one",
                                      "           PROGRAM STOPS"}));

  rb.shtype(1) = -1;  // SP first is accepted; then the unknown type
  EXPECT_EQ(stopOf(out), "");
  EXPECT_EQ(out, "  Unknown orbital type - STOP\n");

  rb.shtype(2) = 2;  // 4 + 6 functions, not 99
  EXPECT_EQ(stopOf(out), "968");
  EXPECT_EQ(out, "");

  rb.shtype(1) = -2;  // 5 + 6, and the first shell is pure
  g.nat(2) = 11;
  EXPECT_EQ(stopOf(out), "");
  EXPECT_EQ(out, " The first shell must not be a pure D or F one!\n");
}

TEST_F(Basis, TableOverrunsAreRefused) {
  std::string out;
  std::vector<double> nine(9, 1.0);
  shell(0, 1, {1.0}, {1.0});
  shell(-3, 1, nine, nine);  // 27 primitives per function
  g.nat(1) = 1;
  g.nat(2) = 8;
  EXPECT_EQ(stopOf(out), kCodeLimit);
  EXPECT_NE(out.find("27 exceeds the limit of 26"), std::string::npos) << out;

  // 67 Cartesian f shells of 3 primitives: 2010 primitives after expansion.
  rb = RawBasis();
  for (int i = 0; i < 67; ++i) shell(3, 1, {1.0, 0.5, 0.2}, {1.0, 1.0, 1.0});
  g.nat(2) = 670;
  EXPECT_EQ(stopOf(out), kCodeLimit);
  EXPECT_NE(out.find("2010 exceeds the limit of 2000"), std::string::npos) << out;
}

TEST_F(Basis, BadShellDataIsRefused) {
  std::string out;
  shell(0, 1, {1.0}, {1.0});
  shell(0, 2, {1.0}, {1.0});
  shell(0, 1, {1.0}, {1.0});  // back to atom 1
  g.nat(1) = 2;
  g.nat(2) = 3;
  EXPECT_EQ(stopOf(out), kCodeBadIndex);
  EXPECT_NE(out.find("Shell to atom map"), std::string::npos) << out;

  rb.shatom(3) = 3;  // beyond the atom count
  EXPECT_EQ(stopOf(out), kCodeBadIndex);
  EXPECT_NE(out.find("Shell to atom map"), std::string::npos) << out;

  rb.shatom(3) = 2;
  rb.shnprim(2) = 0;
  EXPECT_EQ(stopOf(out), kCodeBadIndex);
  EXPECT_NE(out.find("Number of primitives per shell"), std::string::npos) << out;

  rb.shnprim(2) = 2;  // 4 primitives claimed, 3 present
  EXPECT_EQ(stopOf(out), kCodeBadIndex);
  EXPECT_NE(out.find("Number of primitives per shell"), std::string::npos) << out;
}

// ------------------------------------------------ whole checkpoint files
// Build the basis and S from a checkpoint file; return trace(P S) and the
// gross population of every atom, with S carried into the file's order.
double traceAndGross(const std::string& path, std::vector<double>& gross) {
  const std::string text = mvtest::readFile(path);
  resetTables();
  init();
  rb = RawBasis();
  g.nat(1) = mvtest::fchkScalar(text, "Number of atoms");
  g.nat(2) = mvtest::fchkScalar(text, "Number of basis functions");
  const auto types = mvtest::fchkArray(text, "Shell types");
  const auto nprim = mvtest::fchkArray(text, "Number of primitives per shell");
  const auto atoms = mvtest::fchkArray(text, "Shell to atom map");
  const auto ex = mvtest::fchkArray(text, "Primitive exponents");
  const auto cc = mvtest::fchkArray(text, "Contraction coefficients");
  const auto pc = mvtest::fchkArray(text, "P(S=P) Contraction coefficients");
  const auto xyz = mvtest::fchkArray(text, "Current cartesian coordinates");
  rb.nshell = static_cast<int>(types.size());
  rb.nprim = static_cast<int>(ex.size());
  for (int i = 1; i <= rb.nshell; ++i) {
    rb.shtype(i) = static_cast<int>(types[i - 1]);
    rb.shnprim(i) = static_cast<int>(nprim[i - 1]);
    rb.shatom(i) = static_cast<int>(atoms[i - 1]);
  }
  for (int j = 1; j <= rb.nprim; ++j) {
    rb.rawexp(j) = ex[j - 1];
    rb.rawcoef(j) = cc[j - 1];
    rb.rawpcoef(j) = pc.empty() ? 0.0 : pc[j - 1];
  }
  for (int a = 1; a <= g.nat(1); ++a)
    for (int k = 1; k <= 3; ++k) g.coord(k, a) = xyz[3 * (a - 1) + k - 1];
  buildBasis(rb);
  buildOverlap();

  const int n = g.nat(2);
  std::vector<double> S(n * n), P(n * n);
  for (int i = 1; i <= n; ++i)
    for (int j = 1; j <= n; ++j) S[(g.map(i) - 1) * n + g.map(j) - 1] = view(g.stv1)(i, j);
  const auto tri = mvtest::fchkArray(text, "Total SCF Density");
  int t = 0;
  for (int i = 0; i < n; ++i)
    for (int j = 0; j <= i; ++j) P[i * n + j] = P[j * n + i] = tri[t++];
  double trace = 0;
  gross.assign(g.nat(1), 0.0);
  for (int a = 1; a <= g.nat(1); ++a)
    for (int mu = g.lim(a, 1); mu <= g.lim(a, 2); ++mu)
      for (int nu = 0; nu < n; ++nu) {
        // Functions keep their atom in both orders, so lim holds for the file's order too.
        const double ps = P[(mu - 1) * n + nu] * S[nu * n + mu - 1];
        gross[a - 1] += ps;
        trace += ps;
      }
  return trace;
}

TEST(BasisFiles, TraceAndPopulationsMatchReference) {
  for (const char* name : {"h2o_rhf_631gs_sp", "h2o_rhf_631gs_cart", "ch2o_rhf_ccpvdz",
                           "n2_rhf_ccpvtz", "h2o_b3lyp_ccpvdz", "c10h8_rhf_ccpvtz_cart"}) {
    SCOPED_TRACE(name);
    const std::string base = mvtest::dataPath(name);
    const std::string json = mvtest::readFile(base + ".ref.json");
    std::vector<double> gross;
    const double trace = traceAndGross(base + ".fchk", gross);
    const auto ne = mvtest::jsonNumbers(json, "nelectrons");
    ASSERT_FALSE(ne.empty());
    EXPECT_NEAR(trace, ne[0], 1e-7);
    const auto ref = mvtest::jsonNumbers(json, "gross_populations");
    ASSERT_EQ(ref.size(), gross.size());
    for (std::size_t a = 0; a < ref.size(); ++a) EXPECT_NEAR(gross[a], ref[a], 1e-7) << a;
  }
}

// Atom of basis function mu according to lim.
int atomOf(int mu) {
  for (int a = 1; a <= g.nat(1); ++a)
    if (mu >= g.lim(a, 1) && mu <= g.lim(a, 2)) return a;
  return 0;
}

// S(mu, nu) formed directly from the primitive overlap, primitive pairs in
// ascending order, with mu's function as the first centre.
double directOverlap(int mu, int nu) {
  const int a = atomOf(mu), b = atomOf(nu);
  double sum = 0;
  for (int r = 1; r <= g.cont(mu); ++r) {
    const int p = g.pfirst(mu) + r - 1;
    for (int k = 1; k <= g.cont(nu); ++k) {
      const int q = g.pfirst(nu) + k - 1;
      const double gam = g.expo(p) + g.expo(q);
      double pa[3], pb[3];
      for (int i = 1; i <= 3; ++i) {
        pa[i - 1] = g.expo(q) * (g.coord(i, b) - g.coord(i, a)) / gam;
        pb[i - 1] = g.expo(p) * (g.coord(i, a) - g.coord(i, b)) / gam;
      }
      sum += (s(g.lx(p), g.ly(p), g.lz(p), g.lx(q), g.ly(q), g.lz(q), g.expo(p), g.expo(q),
                ab2(a, b), pa[0], pb[0], pa[1], pb[1], pa[2], pb[2]) *
              g.coeff(mu, r)) *
             g.coeff(nu, k);
    }
  }
  return sum;
}

TEST(BasisFiles, AssemblyIsBitIdenticalToDirectSums) {
  std::vector<double> gross;
  traceAndGross(mvtest::dataPath("c10h8_rhf_ccpvtz_cart.fchk"), gross);
  const int n = g.nat(2);
  ASSERT_EQ(n, 470);
  MatView S = view(g.stv1);
  int differ = 0, asym = 0;
  for (int mu = 1; mu <= n; ++mu) {
    for (int nu = mu; nu <= n; ++nu) {
      // The value that remains: within an atom the upper triangle, between
      // atoms the evaluation with the higher-numbered atom first.
      const bool swap = atomOf(nu) > atomOf(mu);
      const double v = swap ? directOverlap(nu, mu) : directOverlap(mu, nu);
      if (std::memcmp(&v, &S(mu, nu), sizeof v) != 0) ++differ;
      if (std::memcmp(&S(nu, mu), &S(mu, nu), sizeof v) != 0) ++asym;
    }
  }
  EXPECT_EQ(differ, 0);
  EXPECT_EQ(asym, 0);
  EXPECT_EQ(S(n + 1, 1), 0.0);
  EXPECT_EQ(S(1, n + 1), 0.0);
}

TEST(BasisFiles, GaussianDensitiesGiveElectronCount) {
  const std::string dir = mvtest::extraDir();
  if (dir.empty()) GTEST_SKIP() << "MIRVANTE_EXTRA_FCHK not set";
  for (const char* name : {"o2_cc_pvtz_pure", "o2_cc_pvtz_cart", "water_ccpvdz_pure_hf_g03",
                           "h2o_sto3g", "li2_g09_nbasis_indep"}) {
    SCOPED_TRACE(name);
    const std::string path = dir + "/" + name + ".fchk";
    const std::string text = mvtest::readFile(path);
    std::vector<double> gross;
    const double trace = traceAndGross(path, gross);
    EXPECT_NEAR(trace, mvtest::fchkScalar(text, "Number of electrons"), 1e-6);
  }
}

}  // namespace
