// The basis set: expansion of the shells into functions of Cartesian
// primitives (pure d and f as fixed combinations, each function owning its
// primitives), the order map, the per-atom ranges and the refusals; the
// pure functions are checked through the overlap matrix they give.
#include "integrals/basis.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <string>
#include <vector>

#include "core/limits.h"
#include "core/stop.h"
#include "integrals/overlap.h"
#include "integrals/primitives.h"
#include "support/fchktext.h"
#include "support/reportparse.h"
#include "support/testutil.h"

namespace {

using namespace mv;

const Limits kClassic = Limits::classicRun();

class BasisExpansion : public ::testing::Test {
 protected:
  Shells sh;
  // Append a shell of the given type on atom `atom` with exponents and
  // coefficients (and p coefficients for SP shells).
  void shell(int type, int atom, std::vector<double> ex, std::vector<double> cc,
             std::vector<double> pc = {}) {
    ++sh.count;
    sh.type.std().push_back(type);
    sh.atom.std().push_back(atom);
    sh.nprim.std().push_back(static_cast<int>(ex.size()));
    for (std::size_t j = 0; j < ex.size(); ++j) {
      ++sh.primitives;
      sh.exponent.std().push_back(ex[j]);
      sh.coefficient.std().push_back(cc[j]);
      sh.pCoefficient.std().push_back(pc.empty() ? 0.0 : pc[j]);
    }
  }
  // Expand with the function count the shells imply.
  Basis build(int natom) {
    int nbf = 0;
    for (int i = 1; i <= sh.count; ++i) nbf += functionsOfType(sh.type(i));
    return expandBasis(sh, natom, nbf, kClassic);
  }
  // Expand expecting a stop; returns it.
  Stop stopOf(int natom, int nbf) {
    try {
      expandBasis(sh, natom, nbf, kClassic);
    } catch (const Stop& st) {
      return st;
    }
    ADD_FAILURE() << "no stop";
    return Stop();
  }
  static void expectRange(const Basis& b, int k, int first, int last) {
    EXPECT_EQ(b.pfirst(k), first) << "function " << k;
    EXPECT_EQ(b.plast(k), last) << "function " << k;
  }
  // Coefficient of the r-th primitive of function k.
  static double coeff(const Basis& b, int k, int r) { return b.coeff(b.pfirst(k) + r - 1); }
  // Powers of primitive p as one number: 100 lx + 10 ly + lz.
  static int powers(const Basis& b, int p) { return 100 * b.lx(p) + 10 * b.ly(p) + b.lz(p); }
};

TEST_F(BasisExpansion, CartesianShellsGiveIdentityMap) {
  shell(0, 1, {10.0, 2.0, 0.5}, {0.1, 0.4, 0.7});
  shell(1, 1, {1.5, 0.3}, {0.5, 0.6});
  shell(2, 2, {0.8}, {1.0});
  shell(3, 2, {0.6, 0.2}, {0.3, 0.8});
  const Basis b = build(2);
  ASSERT_EQ(b.nbf, 1 + 3 + 6 + 10);
  EXPECT_EQ(b.expandedPrimitives, 3 + 3 * 2 + 6 * 1 + 10 * 2);
  EXPECT_EQ(b.maxPower, 3);
  for (int k = 1; k <= b.nbf; ++k) EXPECT_EQ(b.map(k), k);
  expectRange(b, 1, 1, 3);
  expectRange(b, 2, 4, 5);     // p x
  expectRange(b, 4, 8, 9);     // p z
  expectRange(b, 5, 10, 10);   // d xx
  expectRange(b, 11, 16, 17);  // f xxx
  expectRange(b, 20, 34, 35);  // f xyz
  EXPECT_EQ(b.expo(2), 2.0);
  EXPECT_EQ(b.expo(9), 0.3);
  EXPECT_EQ(b.expo(35), 0.2);
  EXPECT_EQ(coeff(b, 1, 3), 0.7);
  EXPECT_EQ(coeff(b, 4, 2), 0.6);
  // Powers: p z, d xy (4th d function), f xyy (4th f function), f xyz.
  EXPECT_EQ(powers(b, 8), 1);
  EXPECT_EQ(powers(b, 13), 110);
  EXPECT_EQ(powers(b, 22), 120);
  EXPECT_EQ(powers(b, 34), 111);
  EXPECT_EQ(b.first(1), 1);
  EXPECT_EQ(b.last(1), 4);
  EXPECT_EQ(b.first(2), 5);
  EXPECT_EQ(b.last(2), 20);
  EXPECT_EQ(b.atomOf(4), 1);
  EXPECT_EQ(b.atomOf(5), 2);
}

TEST_F(BasisExpansion, SPShellUsesBothCoefficientSets) {
  shell(-1, 1, {3.0, 0.7}, {0.15, 0.9}, {0.16, 0.85});
  shell(0, 2, {0.4}, {1.0});
  const Basis b = build(2);
  EXPECT_EQ(b.expandedPrimitives, 8 + 1);
  EXPECT_EQ(coeff(b, 1, 1), 0.15);
  EXPECT_EQ(coeff(b, 1, 2), 0.9);
  for (int k = 2; k <= 4; ++k) {
    EXPECT_EQ(coeff(b, k, 1), 0.16);
    EXPECT_EQ(coeff(b, k, 2), 0.85);
    EXPECT_EQ(b.expo(b.pfirst(k) + 1), 0.7);
  }
  EXPECT_EQ(powers(b, 3), 100);  // first primitive of p x
  EXPECT_EQ(powers(b, 5), 10);
  EXPECT_EQ(powers(b, 7), 1);
  EXPECT_EQ(b.last(1), 4);
  EXPECT_EQ(b.first(2), 5);
}

TEST_F(BasisExpansion, PureDRangesAndCoefficients) {
  shell(0, 1, {1.0}, {1.0});
  shell(-2, 1, {0.9}, {1.0});
  shell(-2, 1, {2.0, 1.0, 0.5}, {0.2, 0.3, 0.5});
  const Basis b = build(1);
  // Functions xz, yz, xy, xx - yy, (2zz - xx - yy)/sqrt(3): one, one, one,
  // two and three Cartesian components, each a run of the shell's primitives.
  expectRange(b, 2, 2, 2);
  expectRange(b, 3, 3, 3);
  expectRange(b, 4, 4, 4);
  expectRange(b, 5, 5, 6);
  expectRange(b, 6, 7, 9);
  expectRange(b, 7, 10, 12);
  expectRange(b, 10, 19, 24);
  expectRange(b, 11, 25, 33);
  // The table of the method counts six components per d primitive.
  EXPECT_EQ(b.expandedPrimitives, 1 + 6 + 18);
  const double c[3] = {0.2, 0.3, 0.5};
  for (int j = 1; j <= 3; ++j) {
    EXPECT_EQ(coeff(b, 10, j), c[j - 1]);
    EXPECT_EQ(coeff(b, 10, 3 + j), -c[j - 1]);
    EXPECT_NEAR(coeff(b, 11, j), -c[j - 1] / std::sqrt(3.0), 1e-15);
    EXPECT_NEAR(coeff(b, 11, 3 + j), -c[j - 1] / std::sqrt(3.0), 1e-15);
    EXPECT_NEAR(coeff(b, 11, 6 + j), 2 * c[j - 1] / std::sqrt(3.0), 1e-15);
    EXPECT_EQ(b.expo(b.pfirst(11) + 3 + j - 1), b.expo(b.pfirst(7) + j - 1));
  }
  // Components: xz, yz, xy; xx then yy; xx, yy then zz.
  EXPECT_EQ(powers(b, b.pfirst(7)), 101);
  EXPECT_EQ(powers(b, b.pfirst(8)), 11);
  EXPECT_EQ(powers(b, b.pfirst(9)), 110);
  EXPECT_EQ(powers(b, b.pfirst(10)), 200);
  EXPECT_EQ(powers(b, b.plast(10)), 20);
  EXPECT_EQ(powers(b, b.pfirst(11)), 200);
  EXPECT_EQ(powers(b, b.pfirst(11) + 3), 20);
  EXPECT_EQ(powers(b, b.plast(11)), 2);
  const int map[] = {1, 3, 4, 6, 5, 2, 8, 9, 11, 10, 7};
  for (int k = 1; k <= 11; ++k) EXPECT_EQ(b.map(k), map[k - 1]) << k;
}

TEST_F(BasisExpansion, PureFRanges) {
  shell(0, 1, {1.0}, {1.0});
  shell(-3, 1, {0.9}, {1.0});            // n = 1
  shell(-3, 1, {2.0, 0.4}, {0.6, 0.5});  // n = 2
  const Basis b = build(1);
  // Components per function: 3, 2, 3, 2, 3, 2, 1.
  const int r1[7][2] = {{2, 4}, {5, 6}, {7, 9}, {10, 11}, {12, 14}, {15, 16}, {17, 17}};
  for (int c = 0; c < 7; ++c) expectRange(b, 2 + c, r1[c][0], r1[c][1]);
  const int r2[7][2] = {{18, 23}, {24, 27}, {28, 33}, {34, 37}, {38, 43}, {44, 47}, {48, 49}};
  for (int c = 0; c < 7; ++c) expectRange(b, 9 + c, r2[c][0], r2[c][1]);
  EXPECT_EQ(b.expandedPrimitives, 31);
  const int map[] = {1, 3, 7, 4, 8, 2, 5, 6};
  for (int k = 1; k <= 8; ++k) EXPECT_EQ(b.map(k), map[k - 1]) << k;
  // Function 5 of the n = 2 shell: zzz, yyz, xxz components of both primitives.
  EXPECT_NEAR(coeff(b, 13, 2), std::sqrt(5.0) * 0.5, 1e-15);
  EXPECT_EQ(coeff(b, 13, 3), -1.5 * 0.6);
  EXPECT_EQ(coeff(b, 13, 6), -1.5 * 0.5);
  EXPECT_EQ(powers(b, b.pfirst(13)), 3);
  EXPECT_EQ(powers(b, b.pfirst(13) + 2), 21);
  EXPECT_EQ(powers(b, b.pfirst(13) + 4), 201);
  EXPECT_EQ(b.maxPower, 3);
}

// S over the functions of one atom at the origin, which must be the identity.
void expectIdentity(const Basis& b, double tol) {
  const Matrix S = overlapMatrix(b, Matrix(3, b.natoms));
  ASSERT_EQ(S.rows(), b.nbf);
  for (int i = 1; i <= b.nbf; ++i)
    for (int j = 1; j <= b.nbf; ++j) EXPECT_NEAR(S(i, j), i == j ? 1.0 : 0.0, tol) << i << "," << j;
}

TEST_F(BasisExpansion, PureFunctionsAreOrthonormal) {
  shell(0, 1, {1.0}, {1.0});
  shell(-3, 1, {0.9}, {1.0});
  expectIdentity(build(1), 1e-9);
}

TEST_F(BasisExpansion, ContractedPureFunctionsAreOrthonormal) {
  shell(0, 1, {1.0}, {1.0});
  shell(-2, 1, {2.0, 0.6}, {0.4, 0.7});
  shell(-3, 1, {1.7, 0.5}, {0.3, 0.8});
  // d and f are orthogonal by parity; within each shell the combinations are.
  expectIdentity(build(1), 1e-9);
}

TEST_F(BasisExpansion, ClassicChecksInOrder) {
  shell(1, 1, {1.0}, {1.0});
  shell(7, 1, {1.0}, {1.0});
  Stop st = stopOf(1, 99);
  EXPECT_EQ(st.code, "4358");
  EXPECT_EQ(st.records,
            (std::vector<std::string>{" The first shell in the system must not be a pure p one",
                                      "          PROGRAM STOPS"}));

  sh.type(1) = -1;  // SP first is accepted; then the unknown type
  st = stopOf(1, 99);
  EXPECT_EQ(st.code, "");
  EXPECT_EQ(st.records, std::vector<std::string>{" Unknown orbital type - STOP"});

  sh.type(2) = 2;  // 4 + 6 functions, not 99
  st = stopOf(1, 99);
  EXPECT_EQ(st.code, "968");
  EXPECT_TRUE(st.records.empty());
  EXPECT_EQ(st.message(), "the shell types give 10 basis functions, the file says 99");

  sh.type(1) = -2;  // 5 + 6, and the first shell is pure
  st = stopOf(1, 11);
  EXPECT_EQ(st.code, "");
  EXPECT_EQ(st.records, std::vector<std::string>{"The first shell must not be a pure D or F one!"});

  // Without the classic limits shells up to l = 6 are expanded, and only
  // beyond that the type is refused, naming the shell.
  sh.type(1) = 0;
  sh.type(2) = 7;
  try {
    expandBasis(sh, 1, 99, Limits::commandLine());
    ADD_FAILURE() << "no stop";
  } catch (const Stop& s) {
    EXPECT_EQ(s.code, kCodeLimit);
    EXPECT_EQ(s.records, std::vector<std::string>{
                             " Shell 2 has type 7: shells of angular momentum above 6 are not "
                             "supported. STOP"});
  }
}

TEST_F(BasisExpansion, TableOverrunsAreRefused) {
  std::vector<double> nine(9, 1.0);
  shell(0, 1, {1.0}, {1.0});
  shell(-3, 1, nine, nine);  // 27 primitives per function in the method's tables
  Stop st = stopOf(1, 8);
  EXPECT_EQ(st.code, kCodeLimit);
  EXPECT_EQ(st.records,
            std::vector<std::string>{"Primitives per basis function in shell 2: 27 exceeds the "
                                     "limit of " +
                                     std::to_string(kClassic.perFunction)});

  // 67 Cartesian f shells of 3 primitives: 2010 primitives after expansion.
  sh = Shells();
  for (int i = 0; i < 67; ++i) shell(3, 1, {1.0, 0.5, 0.2}, {1.0, 1.0, 1.0});
  st = stopOf(1, 670);
  EXPECT_EQ(st.code, kCodeLimit);
  EXPECT_EQ(st.records, std::vector<std::string>{"Primitives after expansion: 2010 exceeds the "
                                                 "limit of " +
                                                 std::to_string(kClassic.primitives)});
}

TEST_F(BasisExpansion, BadShellDataIsRefused) {
  shell(0, 1, {1.0}, {1.0});
  shell(0, 2, {1.0}, {1.0});
  shell(0, 1, {1.0}, {1.0});  // back to atom 1
  Stop st = stopOf(2, 3);
  EXPECT_EQ(st.code, kCodeBadIndex);
  EXPECT_EQ(st.records,
            std::vector<std::string>{"Shell to atom map: shell 3 returns to atom 1 after atom 2"});

  sh.atom(3) = 3;  // beyond the atom count
  st = stopOf(2, 3);
  EXPECT_EQ(st.code, kCodeBadIndex);
  EXPECT_EQ(st.records,
            std::vector<std::string>{"Shell to atom map: shell 3 is on atom 3, outside 1..2"});

  sh.atom(3) = 2;
  sh.nprim(2) = 0;
  st = stopOf(2, 3);
  EXPECT_EQ(st.code, kCodeBadIndex);
  EXPECT_EQ(st.records, std::vector<std::string>{
                            "Number of primitives per shell: shell 2 has 0, at least 1 is needed"});

  sh.nprim(2) = 2;  // 4 primitives claimed, 3 present
  st = stopOf(2, 3);
  EXPECT_EQ(st.code, kCodeBadIndex);
  EXPECT_EQ(st.records,
            std::vector<std::string>{"Number of primitives per shell: the sum 4 exceeds the "
                                     "number of primitive shells 3"});
}

// ------------------------------------------------ whole checkpoint files

// The basis, the coordinates and S of a checkpoint file, its sections taken
// out of the text independently of the reader.
struct FileBasis {
  Basis b;
  Matrix coords;
  Matrix S;  // in the program's order of functions
};

FileBasis basisOf(const std::string& text) {
  FileBasis f;
  Shells sh;
  const int natoms = mvtest::fchkScalar(text, "Number of atoms");
  const int nbf = mvtest::fchkScalar(text, "Number of basis functions");
  const auto types = mvtest::fchkArray(text, "Shell types");
  const auto nprim = mvtest::fchkArray(text, "Number of primitives per shell");
  const auto atoms = mvtest::fchkArray(text, "Shell to atom map");
  const auto ex = mvtest::fchkArray(text, "Primitive exponents");
  const auto cc = mvtest::fchkArray(text, "Contraction coefficients");
  const auto pc = mvtest::fchkArray(text, "P(S=P) Contraction coefficients");
  const auto xyz = mvtest::fchkArray(text, "Current cartesian coordinates");
  sh.count = static_cast<int>(types.size());
  sh.primitives = static_cast<int>(ex.size());
  for (std::size_t i = 0; i < types.size(); ++i) {
    sh.type.std().push_back(static_cast<int>(types[i]));
    sh.nprim.std().push_back(static_cast<int>(nprim[i]));
    sh.atom.std().push_back(static_cast<int>(atoms[i]));
  }
  sh.exponent.std() = ex;
  sh.coefficient.std() = cc;
  sh.pCoefficient.std() = pc.empty() ? std::vector<double>(ex.size(), 0.0) : pc;
  f.coords = Matrix(3, natoms);
  for (int a = 1; a <= natoms; ++a)
    for (int k = 1; k <= 3; ++k)
      f.coords(k, a) = xyz[static_cast<std::size_t>(3 * (a - 1) + k - 1)];
  f.b = expandBasis(sh, natoms, nbf, kClassic);
  f.S = overlapMatrix(f.b, f.coords);
  return f;
}

// trace(P S) of the file's SCF density with S carried into the file's
// order, and the gross population of every atom.
double traceAndGross(const std::string& path, std::vector<double>& gross) {
  const std::string text = mvtest::readFile(path);
  const FileBasis f = basisOf(text);
  const int n = f.b.nbf;
  const Matrix S = toFileOrder(f.S, f.b.map);
  Matrix P(n, n);
  const auto tri = mvtest::fchkArray(text, "Total SCF Density");
  std::size_t t = 0;
  for (int i = 1; i <= n; ++i)
    for (int j = 1; j <= i; ++j) P(i, j) = P(j, i) = tri[t++];
  double trace = 0;
  gross.assign(static_cast<std::size_t>(f.b.natoms), 0.0);
  for (int a = 1; a <= f.b.natoms; ++a)
    for (int mu = f.b.first(a); mu <= f.b.last(a); ++mu)
      for (int nu = 1; nu <= n; ++nu) {
        // Functions keep their atom in both orders, so the ranges hold for
        // the file's order too.
        const double ps = P(mu, nu) * S(nu, mu);
        gross[static_cast<std::size_t>(a - 1)] += ps;
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

// S(mu, nu) formed directly from the primitive overlap, primitive pairs in
// ascending order, with mu's function as the first centre.
double directOverlap(const FileBasis& f, const Vec1<double>& c, int mu, int nu) {
  const Basis& b = f.b;
  const int a = b.atomOf(mu), bb = b.atomOf(nu);
  double sum = 0;
  for (int p = b.pfirst(mu); p <= b.plast(mu); ++p) {
    for (int q = b.pfirst(nu); q <= b.plast(nu); ++q) {
      const double gam = b.expo(p) + b.expo(q);
      double pa[3], pb[3];
      for (int i = 1; i <= 3; ++i) {
        pa[i - 1] = b.expo(q) * (f.coords(i, bb) - f.coords(i, a)) / gam;
        pb[i - 1] = b.expo(p) * (f.coords(i, a) - f.coords(i, bb)) / gam;
      }
      sum += (s(b.lx(p), b.ly(p), b.lz(p), b.lx(q), b.ly(q), b.lz(q), b.expo(p), b.expo(q),
                ab2(f.coords, a, bb), pa[0], pb[0], pa[1], pb[1], pa[2], pb[2]) *
              c(p)) *
             c(q);
    }
  }
  return sum;
}

TEST(BasisFiles, AssemblyIsBitIdenticalToDirectSums) {
  const FileBasis f = basisOf(mvtest::readFile(mvtest::dataPath("c10h8_rhf_ccpvtz_cart.fchk")));
  const int n = f.b.nbf;
  ASSERT_EQ(n, 470);
  ASSERT_EQ(f.S.rows(), n);
  ASSERT_EQ(f.S.cols(), n);
  const Vec1<double> c = normalisedCoefficients(f.b);
  int differ = 0, asym = 0;
  for (int mu = 1; mu <= n; ++mu) {
    for (int nu = mu; nu <= n; ++nu) {
      // The value that remains: within an atom the upper triangle, between
      // atoms the evaluation with the higher-numbered atom first.
      const bool swap = f.b.atomOf(nu) > f.b.atomOf(mu);
      const double v = swap ? directOverlap(f, c, nu, mu) : directOverlap(f, c, mu, nu);
      const double e = f.S(mu, nu), t = f.S(nu, mu);
      if (std::memcmp(&v, &e, sizeof v) != 0) ++differ;
      if (std::memcmp(&t, &e, sizeof v) != 0) ++asym;
    }
  }
  EXPECT_EQ(differ, 0);
  EXPECT_EQ(asym, 0);
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
