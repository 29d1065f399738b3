// Bond orders, valences and unpaired electrons on densities whose answers are
// known in closed form: closed-shell, restricted open-shell and natural-orbital
// densities built from orbitals orthonormal in the metric of S.
#include <gtest/gtest.h>

#include <cmath>
#include <random>
#include <string>
#include <vector>

#include "analysis/analysis.h"
#include "analysis/bondorder.h"
#include "driver/stop.h"
#include "support/testutil.h"
#include "tables.h"

namespace {

using mv::g;

// A dense n by n matrix for the test's own reference computations.
struct Dense {
  int n;
  std::vector<double> a;
  explicit Dense(int size) : n(size), a(static_cast<size_t>(size) * size, 0.0) {}
  double& operator()(int i, int j) { return a[(i - 1) + static_cast<size_t>(j - 1) * n]; }
  double operator()(int i, int j) const { return a[(i - 1) + static_cast<size_t>(j - 1) * n]; }
};

Dense mul(const Dense& x, const Dense& y) {
  Dense z(x.n);
  for (int i = 1; i <= x.n; ++i)
    for (int j = 1; j <= x.n; ++j) {
      double s = 0.0;
      for (int k = 1; k <= x.n; ++k) s += x(i, k) * y(k, j);
      z(i, j) = s;
    }
  return z;
}

Dense identity(int n) {
  Dense d(n);
  for (int i = 1; i <= n; ++i) d(i, i) = 1.0;
  return d;
}

// Overlap-like matrix: normalised Gram matrix of random vectors.
Dense randomOverlap(int n, unsigned seed) {
  std::mt19937 gen(seed);
  std::uniform_real_distribution<double> dist(-1.0, 1.0);
  const int dim = n + 4;
  std::vector<std::vector<double>> v(n, std::vector<double>(dim));
  for (int i = 0; i < n; ++i) {
    for (double& x : v[i]) x = dist(gen);
    v[i][i] += 2.0;  // keep the vectors well apart
  }
  Dense s(n);
  for (int i = 1; i <= n; ++i)
    for (int j = 1; j <= n; ++j) {
      double ij = 0.0, ii = 0.0, jj = 0.0;
      for (int k = 0; k < dim; ++k) {
        ij += v[i - 1][k] * v[j - 1][k];
        ii += v[i - 1][k] * v[i - 1][k];
        jj += v[j - 1][k] * v[j - 1][k];
      }
      s(i, j) = ij / std::sqrt(ii * jj);
    }
  return s;
}

// A full set of orbitals (columns) orthonormal in the metric of S.
Dense orthonormalOrbitals(const Dense& s, unsigned seed) {
  const int n = s.n;
  std::mt19937 gen(seed);
  std::uniform_real_distribution<double> dist(-1.0, 1.0);
  Dense c(n);
  for (double& x : c.a) x = dist(gen);
  auto dot = [&](int p, int q) {
    double sum = 0.0;
    for (int i = 1; i <= n; ++i)
      for (int j = 1; j <= n; ++j) sum += c(i, p) * s(i, j) * c(j, q);
    return sum;
  };
  for (int pass = 0; pass < 2; ++pass)
    for (int k = 1; k <= n; ++k) {
      for (int q = 1; q < k; ++q) {
        const double f = dot(q, k);
        for (int i = 1; i <= n; ++i) c(i, k) -= f * c(i, q);
      }
      const double norm = std::sqrt(dot(k, k));
      for (int i = 1; i <= n; ++i) c(i, k) /= norm;
    }
  return c;
}

// sum over k of occ[k] C(:,k) C(:,k)^T
Dense density(const Dense& c, const std::vector<double>& occ) {
  Dense p(c.n);
  for (int i = 1; i <= c.n; ++i)
    for (int j = 1; j <= c.n; ++j) {
      double sum = 0.0;
      for (size_t k = 0; k < occ.size(); ++k)
        sum += occ[k] * c(i, static_cast<int>(k) + 1) * c(j, static_cast<int>(k) + 1);
      p(i, j) = sum;
    }
  return p;
}

// A molecule for the analysis: the atoms' function ranges and numbers.
struct Molecule {
  std::vector<int> first, last, z;
  int nat() const { return static_cast<int>(first.size()); }
};

// Sum over mu in A, nu in B of M(mu,nu) M(nu,mu).
double pairTerm(const Dense& m, const Molecule& mol, int a, int b) {
  double sum = 0.0;
  for (int mu = mol.first[a - 1]; mu <= mol.last[a - 1]; ++mu)
    for (int nu = mol.first[b - 1]; nu <= mol.last[b - 1]; ++nu) sum += m(mu, nu) * m(nu, mu);
  return sum;
}

// Load P, S, the atoms and the Mulliken populations into the shared tables.
void load(const Dense& p, const Dense& s, const Molecule& mol) {
  mv::resetTables();
  const int n = p.n;
  for (int j = 1; j <= n; ++j)
    for (int i = 1; i <= n; ++i) {
      view(g.c2)(i, j) = p(i, j);
      view(g.stv1)(i, j) = s(i, j);
    }
  const Dense w = mul(p, s);
  for (int a = 1; a <= mol.nat(); ++a) {
    g.lim(a, 1) = mol.first[a - 1];
    g.lim(a, 2) = mol.last[a - 1];
    g.ia(a) = mol.z[a - 1];
    double q = 0.0;
    for (int mu = mol.first[a - 1]; mu <= mol.last[a - 1]; ++mu) q += w(mu, mu);
    g.qat(a) = q;
  }
}

void analyse(const Molecule& mol, int nbf) {
  mv::analyseBondOrders(view(g.c2), view(g.c1), view(g.stv1), g.lim.col(1), g.lim.col(2), mol.nat(),
                        nbf);
}

// Compare every result with the closed forms: W = P S, R the known square
// root of D S; also the matrices left behind (W in c1, R in c2).
void expectResults(const Dense& p, const Dense& s, const Dense& r, const Molecule& mol,
                   double unpaired, double tol) {
  const int n = p.n;
  const Dense w = mul(p, s);
  const mv::BondOrderResults& res = mv::bondOrderResults();
  EXPECT_NEAR(res.unpaired, unpaired, tol);
  EXPECT_NEAR(res.trace, unpaired, tol);
  EXPECT_LT(res.asymmetry, tol);
  for (int a = 1; a <= mol.nat(); ++a) {
    double used = 0.0;
    for (int b = 1; b <= mol.nat(); ++b) {
      if (b == a) continue;
      const double bond = pairTerm(w, mol, a, b) + pairTerm(r, mol, a, b);
      EXPECT_NEAR(res.bomat(a, b), bond, tol) << "bond order " << a << "-" << b;
      used += bond;
    }
    const double total = 2.0 * g.qat(a) - pairTerm(w, mol, a, a);
    EXPECT_NEAR(res.total(a), total, tol) << "total valence " << a;
    EXPECT_NEAR(res.bomat(a, a), used, tol) << "valence used in bonds " << a;
    EXPECT_NEAR(res.free(a), total - used, tol) << "free valence " << a;
  }
  double dw = 0.0, dr = 0.0;
  for (int j = 1; j <= n; ++j)
    for (int i = 1; i <= n; ++i) {
      dw = std::max(dw, std::fabs(view(g.c1)(i, j) - w(i, j)));
      dr = std::max(dr, std::fabs(view(g.c2)(i, j) - r(i, j)));
    }
  EXPECT_LT(dw, 1e-12) << "P S not left in the work matrix";
  EXPECT_LT(dr, tol) << "R not left in the density matrix";
}

// Four atoms over 12 functions and a fifth atom without functions.
Molecule fiveAtoms() {
  return Molecule{{1, 4, 8, 10, 13}, {3, 7, 9, 12, 12}, {6, 8, 1, 1, 2}};
}

TEST(TarselNumbers, HydrogenMoleculeSto3gMatchesReference) {
  // H2/STO-3G of h2_rhf_sto3g.fchk: bond length 1.398397332 bohr, density
  // elements 0.602455686.  S12 from the closed-form overlap of normalised s
  // Gaussians; psi4's bond index 0.9999999999999991.
  const double ex[3] = {3.42525091, 0.62391373, 0.16885540};
  const double cf[3] = {0.154328971, 0.535328142, 0.444634542};
  const double r2 = 1.398397332 * 1.398397332;
  double self = 0.0, cross = 0.0;
  for (int i = 0; i < 3; ++i)
    for (int j = 0; j < 3; ++j) {
      const double a = ex[i], b = ex[j];
      const double ov = std::pow(2.0 * std::sqrt(a * b) / (a + b), 1.5);
      self += cf[i] * cf[j] * ov;
      cross += cf[i] * cf[j] * ov * std::exp(-a * b / (a + b) * r2);
    }
  Dense s = identity(2);
  s(1, 2) = s(2, 1) = cross / self;
  Dense p(2);
  for (double& x : p.a) x = 0.602455686;
  const Molecule mol{{1, 2}, {1, 2}, {1, 1}};
  load(p, s, mol);
  EXPECT_NEAR(g.qat(1), 1.0, 1e-7);  // psi4 gross population
  analyse(mol, 2);
  const auto& res = mv::bondOrderResults();
  EXPECT_NEAR(res.bomat(1, 2), 0.9999999999999991, 1e-7);
  EXPECT_NEAR(res.bomat(2, 2), 0.9999999999999991, 1e-7);
  EXPECT_NEAR(res.unpaired, 0.0, 1e-7);
  EXPECT_NEAR(res.free(1), 0.0, 1e-7);
}

TEST(TarselNumbers, ClosedShellDeterminant) {
  // Four doubly occupied orbitals: R vanishes, bond orders are the W term,
  // free valences vanish.
  const Dense s = randomOverlap(12, 3);
  const Dense c = orthonormalOrbitals(s, 4);
  const Dense p = density(c, {2.0, 2.0, 2.0, 2.0});
  const Molecule mol = fiveAtoms();
  load(p, s, mol);
  analyse(mol, 12);
  expectResults(p, s, Dense(12), mol, 0.0, 1e-10);
  const auto& res = mv::bondOrderResults();
  for (int a = 1; a <= 5; ++a) EXPECT_NEAR(res.free(a), 0.0, 1e-10);
  // The atom without functions has no bonds and no valence.
  for (int b = 1; b <= 4; ++b) EXPECT_EQ(res.bomat(5, b), 0.0);
  EXPECT_EQ(res.total(5), 0.0);
}

TEST(TarselNumbers, RestrictedOpenShell) {
  // Alpha orbitals 1..5, beta 1..3: N = 2 and R = (Pa - Pb) S; the free
  // valence is the one-centre spin term.
  const Dense s = randomOverlap(12, 5);
  const Dense c = orthonormalOrbitals(s, 6);
  const Dense p = density(c, {2.0, 2.0, 2.0, 1.0, 1.0});
  const Dense spin = density(c, {0.0, 0.0, 0.0, 1.0, 1.0});
  const Dense r = mul(spin, s);
  const Molecule mol = fiveAtoms();
  load(p, s, mol);
  analyse(mol, 12);
  expectResults(p, s, r, mol, 2.0, 1e-9);
  const auto& res = mv::bondOrderResults();
  for (int a = 1; a <= 4; ++a) EXPECT_NEAR(res.free(a), pairTerm(r, mol, a, a), 1e-9);
}

TEST(TarselNumbers, NaturalOrbitalOccupations) {
  // P = sum n_k phi_k phi_k^T over a full S-orthonormal set: D S has the
  // eigenvalues n(2-n) on the same orbitals, so R = Phi diag(sqrt(n(2-n))) Phi^T S.
  const int n = 12;
  const Dense s = randomOverlap(n, 8);
  const Dense c = orthonormalOrbitals(s, 9);
  const std::vector<double> occ = {2.0, 1.98, 1.95, 1.9, 1.5, 0.5, 0.1, 0.05, 0.02, 0.0, 0.0, 0.0};
  std::vector<double> root(occ.size());
  double unpaired = 0.0;
  for (size_t k = 0; k < occ.size(); ++k) {
    root[k] = std::sqrt(occ[k] * (2.0 - occ[k]));
    unpaired += occ[k] * (2.0 - occ[k]);
  }
  const Dense p = density(c, occ);
  const Dense r = mul(density(c, root), s);
  const Molecule mol = fiveAtoms();
  load(p, s, mol);
  analyse(mol, n);
  expectResults(p, s, r, mol, unpaired, 1e-9);
}

// ------------------------------------------------------------- the report

std::vector<std::string> report(const Molecule& mol, int nbf) {
  mvtest::Capture cap;
  mv::tarsel(view(g.c2), view(g.c1), view(g.stv1), g.lim.col(1), g.lim.col(2), mol.nat(), nbf);
  return mvtest::lines(cap.out.str());
}

TEST(TarselReport, TwoAtomsWholeReport) {
  Dense p(2);
  p.a = {1.0, 1.0, 1.0, 1.0};
  const Molecule mol{{1, 2}, {1, 2}, {1, 1}};
  load(p, identity(2), mol);
  const std::string b10(10, ' '), b11(11, ' ');
  const std::vector<std::string> want = {
      " Number of effectively unpaired electrons=  0.000000",
      "  ",
      "  ",
      "  Hermiticity control=  0.",
      "  ",
      "  Trace=  0.",
      "",
      b11 + "   BOND ORDER MATRIX",
      "",
      "",
      b10 + " " + "  1" + "  H " + " " + " " + "  2" + "  H ",
      "",
      std::string("   1  H ") + "   0.0000" + "   1.0000",
      std::string("   2  H ") + "   1.0000" + "   0.0000",
      "",
      "",
      b11 + "TOTAL VALENCES",
      "",
      "  ATOM  VALENCE  ATOM   VALENCE ",
      "  1  H  1.00000  2  H   1.00000",
      "",
      "",
      b11 + "VALENCES USED IN BONDS (SUM OF BOND ORDERS)",
      "",
      "  1  H  1.00000  2  H   1.00000",
      "",
      "",
      b11 + "FREE VALENCES",
      "",
      "  (In the closed shell RHF case should be zero)",
      "  ",
      "  1  H  0.00000  2  H   0.00000",
  };
  EXPECT_EQ(report(mol, 2), want);
}

// Closed-shell pairs (1,2), (3,4), ... on one function per atom, S = I; an
// odd last atom holds a lone doubly occupied orbital.
void loadPairs(int nat, const std::vector<int>& z) {
  Dense p(nat);
  for (int a = 1; a + 1 <= nat; a += 2)
    for (int i = a; i <= a + 1; ++i)
      for (int j = a; j <= a + 1; ++j) p(i, j) = 1.0;
  if (nat % 2 == 1) p(nat, nat) = 2.0;
  Molecule mol;
  for (int a = 1; a <= nat; ++a) {
    mol.first.push_back(a);
    mol.last.push_back(a);
    mol.z.push_back(z[a - 1]);
  }
  load(p, identity(nat), mol);
}

// Index of the record equal to `text`, or -1.
int find(const std::vector<std::string>& out, const std::string& text) {
  for (size_t i = 0; i < out.size(); ++i)
    if (out[i] == text) return static_cast<int>(i);
  return -1;
}

TEST(TarselReport, FiveAtomsEndEachTableWithAnEmptyRecord) {
  loadPairs(5, {8, 1, 6, 1, 7});
  const auto out = report(Molecule{{1, 2, 3, 4, 5}, {1, 2, 3, 4, 5}, {8, 1, 6, 1, 7}}, 5);
  const std::string row =
      "  1  O  1.00000  2  H   1.00000  3  C   1.00000  4  H   1.00000  5  N   0.00000";
  const int t = find(out, std::string(11, ' ') + "TOTAL VALENCES");
  ASSERT_GE(t, 0);
  ASSERT_GE(static_cast<int>(out.size()), t + 6);
  EXPECT_EQ(out[t + 2],
            "  ATOM  VALENCE  ATOM   VALENCE  ATOM   VALENCE  ATOM   VALENCE  ATOM   "
            "VALENCE ");
  EXPECT_EQ(out[t + 3], row);
  EXPECT_EQ(out[t + 4], "");  // the closing "/" after the fifth atom
  EXPECT_EQ(out[t + 5], "");
  EXPECT_EQ(out[t + 6], "");
  EXPECT_EQ(out[t + 7], std::string(11, ' ') + "VALENCES USED IN BONDS (SUM OF BOND ORDERS)");
  EXPECT_EQ(out[t + 9], row);
  EXPECT_EQ(out[t + 10], "");
  ASSERT_FALSE(out.empty());
  EXPECT_EQ(out.back(), "");
  EXPECT_EQ(out[out.size() - 2],
            "  1  O  0.00000  2  H   0.00000  3  C   0.00000  4  H   0.00000  5  N   0.00000");
}

TEST(TarselReport, SevenAtomsGiveTwoRecordsPerTable) {
  const std::vector<int> z = {6, 1, 6, 1, 8, 1, 10};
  loadPairs(7, z);
  Molecule mol;
  for (int a = 1; a <= 7; ++a) {
    mol.first.push_back(a);
    mol.last.push_back(a);
    mol.z.push_back(z[a - 1]);
  }
  const auto out = report(mol, 7);
  const int t = find(out, std::string(11, ' ') + "TOTAL VALENCES");
  ASSERT_GE(t, 0);
  ASSERT_GE(static_cast<int>(out.size()), t + 8);
  // Five column headings at most.
  EXPECT_EQ(out[t + 2],
            "  ATOM  VALENCE  ATOM   VALENCE  ATOM   VALENCE  ATOM   VALENCE  ATOM   "
            "VALENCE ");
  EXPECT_EQ(out[t + 3],
            "  1  C  1.00000  2  H   1.00000  3  C   1.00000  4  H   1.00000  5  O   1.00000");
  EXPECT_EQ(out[t + 4], "  6  H  1.00000  7 Ne   0.00000");
  EXPECT_EQ(out[t + 5], "");
  EXPECT_EQ(out[t + 7], std::string(11, ' ') + "VALENCES USED IN BONDS (SUM OF BOND ORDERS)");
  EXPECT_EQ(out[out.size() - 2],
            "  1  C  0.00000  2  H   0.00000  3  C   0.00000  4  H   0.00000  5  O   0.00000");
  EXPECT_EQ(out.back(), "  6  H  0.00000  7 Ne   0.00000");
}

// ------------------------------------------------------------- refusals

TEST(TarselRefusal, OverlapNotPositiveDefinite) {
  // Two identical functions: S is singular (eigenvalues 2 and 0); S with an
  // overlap above 1 has a negative eigenvalue.
  for (double s12 : {1.0, 2.0}) {
    Dense s = identity(2);
    s(1, 2) = s(2, 1) = s12;
    Dense p(2);
    p(1, 1) = p(2, 2) = 0.5;
    const Molecule mol{{1, 2}, {1, 2}, {1, 1}};
    load(p, s, mol);
    mvtest::Capture cap;
    try {
      mv::tarsel(view(g.c2), view(g.c1), view(g.stv1), g.lim.col(1), g.lim.col(2), 2, 2);
      ADD_FAILURE() << "no stop for S12 = " << s12;
    } catch (const mv::Stop& st) {
      EXPECT_EQ(st.code, mv::kCodeSingularS);
      const std::string out = cap.out.str();
      EXPECT_NE(out.find(" Number of effectively unpaired electrons="), std::string::npos);
      EXPECT_NE(out.find("The overlap matrix is not positive definite"), std::string::npos) << out;
      EXPECT_EQ(out.find("BOND ORDER"), std::string::npos);
    }
  }
}

TEST(TarselRefusal, ArgumentsOutsideTheTables) {
  Dense p(2);
  const Molecule mol{{1, 2}, {1, 2}, {1, 1}};
  load(p, identity(2), mol);
  try {
    mv::analyseBondOrders(view(g.c2), view(g.c1), view(g.stv1), g.lim.col(1), g.lim.col(2), 21, 2);
    ADD_FAILURE() << "21 atoms accepted";
  } catch (const mv::Stop& st) {
    EXPECT_EQ(st.code, mv::kCodeLimit);
  }
  g.lim(2, 2) = 3;  // a function beyond nbf
  try {
    mv::analyseBondOrders(view(g.c2), view(g.c1), view(g.stv1), g.lim.col(1), g.lim.col(2), 2, 2);
    ADD_FAILURE() << "function range beyond nbf accepted";
  } catch (const mv::Stop& st) {
    EXPECT_EQ(st.code, mv::kCodeBadIndex);
  }
}

}  // namespace
