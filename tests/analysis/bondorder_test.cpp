// Bond orders, valences and unpaired electrons on densities whose answers are
// known in closed form: closed-shell, restricted open-shell and natural-orbital
// densities built from orbitals orthonormal in the metric of S; and the
// records of the report rendered from the results.
#include "analysis/bondorder.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <optional>
#include <random>
#include <string>
#include <vector>

#include "analysis/occupations.h"
#include "core/parallel.h"
#include "core/stop.h"
#include "report/text_report.h"
#include "support/matrices.h"
#include "support/outcome.h"
#include "support/testutil.h"

namespace {

using mv::Matrix;
using mvtest::identity;
using mvtest::product;

// Overlap-like matrix: normalised Gram matrix of random vectors.
Matrix randomOverlap(int n, unsigned seed) {
  std::mt19937 gen(seed);
  std::uniform_real_distribution<double> dist(-1.0, 1.0);
  const int dim = n + 4;
  std::vector<std::vector<double>> v(n, std::vector<double>(dim));
  for (int i = 0; i < n; ++i) {
    for (double& x : v[i]) x = dist(gen);
    v[i][i] += 2.0;  // keep the vectors well apart
  }
  Matrix s(n, n);
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
Matrix orthonormalOrbitals(const Matrix& s, unsigned seed) {
  const int n = s.rows();
  std::mt19937 gen(seed);
  std::uniform_real_distribution<double> dist(-1.0, 1.0);
  Matrix c(n, n);
  for (int j = 1; j <= n; ++j)
    for (int i = 1; i <= n; ++i) c(i, j) = dist(gen);
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
Matrix density(const Matrix& c, const std::vector<double>& occ) {
  const int n = c.rows();
  Matrix p(n, n);
  for (int i = 1; i <= n; ++i)
    for (int j = 1; j <= n; ++j) {
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
  mv::Vec1<int> v(const std::vector<int>& x) const {
    mv::Vec1<int> r(nat());
    r.std() = x;
    return r;
  }
};

// Sum over mu in A, nu in B of M(mu,nu) M(nu,mu).
double pairTerm(const Matrix& m, const Molecule& mol, int a, int b) {
  double sum = 0.0;
  for (int mu = mol.first[a - 1]; mu <= mol.last[a - 1]; ++mu)
    for (int nu = mol.first[b - 1]; nu <= mol.last[b - 1]; ++nu) sum += m(mu, nu) * m(nu, mu);
  return sum;
}

// The inputs of the analysis: P, S, the atoms' ranges and numbers, and the
// Mulliken gross populations sum over mu in A of (P S)(mu, mu).
struct Inputs {
  Matrix p, s;
  mv::Vec1<int> first, last, z;
  mv::Vec1<double> qat;
  Inputs(const Matrix& p0, const Matrix& s0, const Molecule& mol)
      : p(mvtest::copy(p0)),
        s(mvtest::copy(s0)),
        first(mol.v(mol.first)),
        last(mol.v(mol.last)),
        z(mol.v(mol.z)),
        qat(mol.nat()) {
    const Matrix w = product(p, s);
    for (int a = 1; a <= mol.nat(); ++a)
      for (int mu = mol.first[a - 1]; mu <= mol.last[a - 1]; ++mu) qat(a) += w(mu, mu);
  }
};

// The three steps of the analysis; `spin` the spin density for the second
// term, or none for the square root.
mv::BondOrders analyse(const Inputs& in, const Matrix* spin = nullptr) {
  mv::BondOrderAnalysis bo(mvtest::copy(in.p), in.s, in.first, in.last, in.qat, spin);
  bo.unpaired();
  bo.symmetrised();
  bo.bondOrders();
  return bo.take();
}

// Compare every result with the closed forms: W = P S, R the known square
// root of D S.
void expectResults(const mv::BondOrders& res, const Inputs& in, const Matrix& r,
                   const Molecule& mol, double unpaired, double tol) {
  const Matrix w = product(in.p, in.s);
  EXPECT_NEAR(res.unpaired, unpaired, tol);
  EXPECT_NEAR(res.trace, unpaired, tol);
  EXPECT_LT(res.hermiticity, tol);
  ASSERT_EQ(res.bonds.rows(), mol.nat());
  for (int a = 1; a <= mol.nat(); ++a) {
    double used = 0.0;
    for (int b = 1; b <= mol.nat(); ++b) {
      if (b == a) continue;
      const double bond = pairTerm(w, mol, a, b) + pairTerm(r, mol, a, b);
      EXPECT_NEAR(res.bonds(a, b), bond, tol) << "bond order " << a << "-" << b;
      used += bond;
    }
    EXPECT_EQ(res.bonds(a, a), 0.0);
    const double total = 2.0 * in.qat(a) - pairTerm(w, mol, a, a);
    EXPECT_NEAR(res.total(a), total, tol) << "total valence " << a;
    EXPECT_NEAR(res.used(a), used, tol) << "valence used in bonds " << a;
    EXPECT_NEAR(res.free(a), total - used, tol) << "free valence " << a;
  }
}

// Four atoms over 12 functions and a fifth atom without functions.
Molecule fiveAtoms() {
  return Molecule{{1, 4, 8, 10, 13}, {3, 7, 9, 12, 12}, {6, 8, 1, 1, 2}};
}

TEST(BondOrderNumbers, HydrogenMoleculeSto3gMatchesReference) {
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
  Matrix s = identity(2);
  s(1, 2) = s(2, 1) = cross / self;
  const Matrix p = mvtest::fromRows({{0.602455686, 0.602455686}, {0.602455686, 0.602455686}});
  const Molecule mol{{1, 2}, {1, 2}, {1, 1}};
  const Inputs in(p, s, mol);
  EXPECT_NEAR(in.qat(1), 1.0, 1e-7);  // psi4 gross population
  const mv::BondOrders res = analyse(in);
  EXPECT_NEAR(res.bonds(1, 2), 0.9999999999999991, 1e-7);
  EXPECT_NEAR(res.used(2), 0.9999999999999991, 1e-7);
  EXPECT_NEAR(res.unpaired, 0.0, 1e-7);
  EXPECT_NEAR(res.free(1), 0.0, 1e-7);
  EXPECT_FALSE(res.spinTerm);
}

TEST(BondOrderNumbers, ClosedShellDeterminant) {
  // Four doubly occupied orbitals: R vanishes, bond orders are the W term,
  // free valences vanish.
  const Matrix s = randomOverlap(12, 3);
  const Matrix c = orthonormalOrbitals(s, 4);
  const Matrix p = density(c, {2.0, 2.0, 2.0, 2.0});
  const Molecule mol = fiveAtoms();
  const Inputs in(p, s, mol);
  const mv::BondOrders res = analyse(in);
  expectResults(res, in, Matrix(12, 12), mol, 0.0, 1e-10);
  for (int a = 1; a <= 5; ++a) EXPECT_NEAR(res.free(a), 0.0, 1e-10);
  // The atom without functions has no bonds and no valence.
  for (int b = 1; b <= 4; ++b) EXPECT_EQ(res.bonds(5, b), 0.0);
  EXPECT_EQ(res.total(5), 0.0);
}

TEST(BondOrderNumbers, RestrictedOpenShell) {
  // Alpha orbitals 1..5, beta 1..3: N = 2 and R = (Pa - Pb) S; the free
  // valence is the one-centre spin term.
  const Matrix s = randomOverlap(12, 5);
  const Matrix c = orthonormalOrbitals(s, 6);
  const Matrix p = density(c, {2.0, 2.0, 2.0, 1.0, 1.0});
  const Matrix spin = density(c, {0.0, 0.0, 0.0, 1.0, 1.0});
  const Matrix r = product(spin, s);
  const Molecule mol = fiveAtoms();
  const Inputs in(p, s, mol);
  const mv::BondOrders res = analyse(in);
  expectResults(res, in, r, mol, 2.0, 1e-9);
  for (int a = 1; a <= 4; ++a) EXPECT_NEAR(res.free(a), pairTerm(r, mol, a, a), 1e-9);

  // The same second term taken from the spin density instead of the square root.
  const mv::BondOrders fromSpin = analyse(in, &spin);
  EXPECT_TRUE(fromSpin.spinTerm);
  expectResults(fromSpin, in, r, mol, 2.0, 1e-9);
}

TEST(BondOrderNumbers, NaturalOrbitalOccupations) {
  // P = sum n_k phi_k phi_k^T over a full S-orthonormal set: D S has the
  // eigenvalues n(2-n) on the same orbitals, so R = Phi diag(sqrt(n(2-n))) Phi^T S.
  const int n = 12;
  const Matrix s = randomOverlap(n, 8);
  const Matrix c = orthonormalOrbitals(s, 9);
  const std::vector<double> occ = {2.0, 1.98, 1.95, 1.9, 1.5, 0.5, 0.1, 0.05, 0.02, 0.0, 0.0, 0.0};
  std::vector<double> root(occ.size());
  double unpaired = 0.0;
  for (size_t k = 0; k < occ.size(); ++k) {
    root[k] = std::sqrt(occ[k] * (2.0 - occ[k]));
    unpaired += occ[k] * (2.0 - occ[k]);
  }
  const Matrix p = density(c, occ);
  const Matrix r = product(density(c, root), s);
  const Molecule mol = fiveAtoms();
  const Inputs in(p, s, mol);
  expectResults(analyse(in), in, r, mol, unpaired, 1e-9);
}

// ------------------------------------------------------------- the report

// The analysis with its records, in the order of the run, on the threads of
// `par`, the eigen-solve of S beside the products from order `besideOrder`.
mvtest::StageOutcome report(const Inputs& in, const mv::Parallel& par = mv::Parallel(),
                            int besideOrder = mv::BondOrderAnalysis::kBesideOrder) {
  return mvtest::runStage([&](mv::TextReport& rep) {
    mv::BondOrderAnalysis bo(mvtest::copy(in.p), in.s, in.first, in.last, in.qat, nullptr, par,
                             besideOrder);
    bo.unpaired();
    rep.unpaired(bo.results());
    bo.symmetrised();
    rep.hermiticity(bo.results());
    bo.bondOrders();
    const mv::BondOrders& b = bo.results();
    rep.bondMatrix(b, in.z);
    rep.totalValences(b, in.z);
    rep.usedValences(b, in.z);
    rep.freeValences(b, in.z);
  });
}

TEST(BondOrderReport, TwoAtomsWholeReport) {
  const Molecule mol{{1, 2}, {1, 2}, {1, 1}};
  const Inputs in(mvtest::fromRows({{1.0, 1.0}, {1.0, 1.0}}), identity(2), mol);
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
  const mvtest::StageOutcome o = report(in);
  EXPECT_FALSE(o.stopped());
  EXPECT_EQ(o.lines(), want);
}

// Closed-shell pairs (1,2), (3,4), ... on one function per atom, S = I; an
// odd last atom holds a lone doubly occupied orbital.
Inputs pairs(const std::vector<int>& z) {
  const int nat = static_cast<int>(z.size());
  Matrix p(nat, nat);
  for (int a = 1; a + 1 <= nat; a += 2)
    for (int i = a; i <= a + 1; ++i)
      for (int j = a; j <= a + 1; ++j) p(i, j) = 1.0;
  if (nat % 2 == 1) p(nat, nat) = 2.0;
  Molecule mol;
  for (int a = 1; a <= nat; ++a) {
    mol.first.push_back(a);
    mol.last.push_back(a);
    mol.z.push_back(z[static_cast<std::size_t>(a - 1)]);
  }
  return Inputs(p, identity(nat), mol);
}

// Index of the record equal to `text`, or -1.
int find(const std::vector<std::string>& out, const std::string& text) {
  for (size_t i = 0; i < out.size(); ++i)
    if (out[i] == text) return static_cast<int>(i);
  return -1;
}

TEST(BondOrderReport, FiveAtomsEndEachTableWithAnEmptyRecord) {
  const auto out = report(pairs({8, 1, 6, 1, 7})).lines();
  const std::string row =
      "  1  O  1.00000  2  H   1.00000  3  C   1.00000  4  H   1.00000  5  N   0.00000";
  const int t = find(out, std::string(11, ' ') + "TOTAL VALENCES");
  ASSERT_GE(t, 0);
  ASSERT_GE(static_cast<int>(out.size()), t + 11);
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
  EXPECT_EQ(out.back(), "");
  EXPECT_EQ(out[out.size() - 2],
            "  1  O  0.00000  2  H   0.00000  3  C   0.00000  4  H   0.00000  5  N   0.00000");
}

TEST(BondOrderReport, SevenAtomsGiveTwoRecordsPerTable) {
  const auto out = report(pairs({6, 1, 6, 1, 8, 1, 10})).lines();
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

TEST(BondOrderRefusal, OverlapNotPositiveDefinite) {
  // Two identical functions: S is singular (eigenvalues 2 and 0); S with an
  // overlap above 1 has a negative eigenvalue.
  const std::string head = " The overlap matrix is not positive definite (smallest eigenvalue ";
  const std::string tail = "); the basis is linearly dependent.";
  for (double s12 : {1.0, 2.0}) {
    SCOPED_TRACE(s12);
    Matrix s = identity(2);
    s(1, 2) = s(2, 1) = s12;
    const Molecule mol{{1, 2}, {1, 2}, {1, 1}};
    const mvtest::StageOutcome o =
        report(Inputs(mvtest::fromRows({{0.5, 0.0}, {0.0, 0.5}}), s, mol));
    ASSERT_TRUE(o.stopped());
    EXPECT_EQ(o.code(), mv::kCodeSingularS);
    ASSERT_EQ(o.stop->records.size(), 1u);
    const std::string& rec = o.stop->records[0];
    EXPECT_EQ(rec.rfind(head, 0), 0u) << rec;
    EXPECT_EQ(rec.substr(rec.size() - tail.size()), tail) << rec;
    if (s12 == 2.0) {
      EXPECT_EQ(rec, head + "-1" + tail);
    }
    EXPECT_NE(o.out.find(" Number of effectively unpaired electrons="), std::string::npos);
    EXPECT_EQ(o.out.find("BOND ORDER"), std::string::npos);
  }
}

TEST(BondOrderRefusal, NonFiniteResultsAreRefusedNamingTheQuantity) {
  const double v[3] = {1.0, std::nan(""), 2.0};
  try {
    mv::requireFinite(v, 3, "free valences");
    ADD_FAILURE() << "no stop";
  } catch (const mv::Stop& st) {
    EXPECT_EQ(st.code, mv::kCodeBadValue);
    EXPECT_EQ(st.records, std::vector<std::string>{
                              " The bond-order analysis gives a value that is not a finite number "
                              "(free valences): the density holds elements out of range. STOP"});
  }
  EXPECT_NO_THROW(mv::requireFinite(v, 1, "free valences"));
  // A density whose products overflow stops at the first non-finite result.
  const Molecule mol{{1, 2}, {1, 2}, {1, 1}};
  const mvtest::StageOutcome o =
      report(Inputs(mvtest::fromRows({{1e200, 1e200}, {1e200, 1e200}}), identity(2), mol));
  ASSERT_TRUE(o.stopped());
  EXPECT_EQ(o.code(), mv::kCodeBadValue);
  EXPECT_EQ(o.out.find("BOND ORDER"), std::string::npos);
}

// ------------------------------------------- the eigen-solve of S beside

bool sameBits(double x, double y) {
  return std::memcmp(&x, &y, sizeof x) == 0;
}

// Every figure but the records of X, to the last bit.
void expectSameFigures(const mv::BondOrders& a, const mv::BondOrders& b) {
  EXPECT_TRUE(sameBits(a.unpaired, b.unpaired));
  ASSERT_EQ(a.bonds.rows(), b.bonds.rows());
  for (int i = 1; i <= a.bonds.rows(); ++i) {
    EXPECT_TRUE(sameBits(a.total(i), b.total(i))) << i;
    EXPECT_TRUE(sameBits(a.used(i), b.used(i))) << i;
    EXPECT_TRUE(sameBits(a.free(i), b.free(i))) << i;
    for (int j = 1; j <= a.bonds.rows(); ++j) EXPECT_TRUE(sameBits(a.bonds(i, j), b.bonds(i, j)));
  }
}

// Every result, to the last bit.
void expectSameBits(const mv::BondOrders& a, const mv::BondOrders& b) {
  EXPECT_TRUE(sameBits(a.hermiticity, b.hermiticity));
  EXPECT_TRUE(sameBits(a.trace, b.trace));
  expectSameFigures(a, b);
}

TEST(BondOrderThreads, EigenSolveOfSBesideTheProductsGivesTheSameBits) {
  // A correlated-like density over 160 functions on 10 atoms, large enough
  // for the threaded kernels: the analysis one step after the other on one
  // thread, and with the eigen-solve of S beside W and W W on two and three.
  const int n = 160;
  const Matrix s = randomOverlap(n, 21);
  const Matrix c = orthonormalOrbitals(s, 22);
  std::vector<double> occ(n, 0.0);
  for (int k = 0; k < 40; ++k) occ[k] = 2.0 - 0.02 * k;
  Molecule mol;
  for (int a = 0; a < 10; ++a) {
    mol.first.push_back(16 * a + 1);
    mol.last.push_back(16 * a + 16);
    mol.z.push_back(6);
  }
  const Inputs in(density(c, occ), s, mol);
  const mv::BondOrders alone = analyse(in);
  for (int threads : {2, 3}) {
    SCOPED_TRACE(threads);
    mv::ThreadPool pool(threads);
    mv::BondOrderAnalysis bo(mvtest::copy(in.p), in.s, in.first, in.last, in.qat, nullptr,
                             mv::Parallel(pool, threads), 1);
    bo.unpaired();
    bo.symmetrised();
    bo.bondOrders();
    expectSameBits(bo.take(), alone);
  }
}

TEST(BondOrderThreads, StopsBesideAreThoseOfOneStepAfterTheOther) {
  // What the report shows and which stop ends it do not depend on whether S
  // is diagonalised beside the products: a sound analysis; an S that is not
  // positive definite; one whose lower triangle (all the eigen-solver reads)
  // holds a huge element, which only the eigen-solve trips over; an S
  // holding a NaN, on which the eigen-solve fails to converge while W turns
  // NaN; a density whose products overflow, alone and with a faulty S.  The
  // density's faults come first in the run, so they are the ones reported.
  const Molecule mol{{1, 2}, {1, 2}, {1, 1}};
  Matrix singular = identity(2);
  singular(1, 2) = singular(2, 1) = 2.0;
  Matrix notANumber = identity(2);
  notANumber(1, 2) = notANumber(2, 1) = std::nan("");
  Matrix sound = identity(2);
  sound(1, 2) = sound(2, 1) = 0.25;
  const Matrix fine = mvtest::fromRows({{0.5, 0.1}, {0.1, 0.5}});
  const Matrix diagonal = mvtest::fromRows({{0.5, 0.0}, {0.0, 0.5}});
  Matrix lowerHuge = identity(2);
  lowerHuge(2, 1) = 1e300;
  lowerHuge(1, 2) = 0.25;
  const Matrix huge = mvtest::fromRows({{1e200, 1e200}, {1e200, 1e200}});
  const struct {
    const Matrix *p, *s;
    std::string code;
  } cases[] = {{&fine, &sound, ""},
               {&fine, &singular, mv::kCodeSingularS},
               {&fine, &notANumber, mv::kCodeBadValue},
               {&diagonal, &lowerHuge, mv::kCodeSingularS},
               {&huge, &singular, mv::kCodeBadValue},
               {&huge, &notANumber, mv::kCodeBadValue}};
  mv::ThreadPool pool(2);
  for (const auto& c : cases) {
    const Inputs in(*c.p, *c.s, mol);
    const mvtest::StageOutcome alone = report(in);
    const mvtest::StageOutcome beside = report(in, mv::Parallel(pool, 2), 1);
    EXPECT_EQ(alone.code(), c.code);
    EXPECT_EQ(beside.stopped(), alone.stopped());
    EXPECT_EQ(beside.code(), alone.code());
    EXPECT_EQ(beside.out, alone.out);
  }
}

// ------------------------------------ the command line: checks, and no X

// The analysis with the command line's checks; a stop is caught.
struct Checked {
  std::optional<mv::BondOrders> results;
  std::optional<mv::Stop> stop;
};
Checked analyseChecked(const Inputs& in, const mv::DensityChecks& checks,
                       const Matrix* spin = nullptr, const mv::Parallel& par = mv::Parallel(),
                       int besideOrder = mv::BondOrderAnalysis::kBesideOrder) {
  Checked c;
  try {
    mv::BondOrderAnalysis bo(mvtest::copy(in.p), in.s, in.first, in.last, in.qat, spin, par,
                             besideOrder);
    bo.setChecks(checks);
    bo.unpaired();
    bo.symmetrised();
    bo.bondOrders();
    c.results = bo.take();
  } catch (const mv::Stop& st) {
    c.stop = st;
  }
  return c;
}

constexpr mv::DensityChecks kClosedShellScf{true, true, true};
constexpr mv::DensityChecks kAnyDensity{true, false, false};

TEST(DensityWithoutX, NeverDropsAnEigenvalueThatTheFullSequenceKeeps) {
  // Four doubly occupied orbitals and a fifth whose occupation n gives X
  // the eigenvalue lambda = 2n - n^2, on either side of the threshold 1e-7
  // and of 0.9 times it, below which R is taken as zero without X.
  const Matrix s = randomOverlap(12, 31);
  const Matrix c = orthonormalOrbitals(s, 32);
  const Molecule mol = fiveAtoms();
  const struct {
    double lambda;
    bool withoutX;
  } cases[] = {{0.0, true},      {1e-9, true},     {8.8e-8, true}, {-1e-6, true},
               {0.98e-7, false}, {1.02e-7, false}, {3e-7, false},  {5e-5, false}};
  for (const auto& k : cases) {
    SCOPED_TRACE(k.lambda);
    const double n = 1.0 - std::sqrt(1.0 - k.lambda);
    const Inputs in(density(c, {2.0, 2.0, 2.0, 2.0, n}), s, mol);
    const mv::BondOrders full = analyse(in);
    const Checked fast = analyseChecked(in, kClosedShellScf);
    ASSERT_TRUE(fast.results.has_value());
    EXPECT_EQ(fast.results->xFormed, !k.withoutX);
    // The full sequence's figures, and its records of X whenever X is formed.
    expectSameFigures(*fast.results, full);
    if (fast.results->xFormed) expectSameBits(*fast.results, full);
    // The test itself, on the congruent form: sharp at the threshold.
    const Matrix l = mv::overlapFactor(s);
    ASSERT_FALSE(l.empty());
    Matrix form = mv::occupationForm(l, in.p, 2.0);
    EXPECT_NEAR(mv::frobeniusLower(form), std::fabs(k.lambda), 1e-12);
    EXPECT_EQ(mv::allEigenvaluesBelow(form, 1e-7), k.lambda < 1e-7);
  }
}

TEST(DensityWithoutX, OccupationsAreTheEigenvaluesOfTheCongruentForm) {
  const Matrix s = randomOverlap(12, 33);
  const Matrix c = orthonormalOrbitals(s, 34);
  const std::vector<double> occ = {2.0, 1.9, 1.5, 0.7, 0.25, 0.05};
  const Matrix l = mv::overlapFactor(s);
  for (const double scale : {2.0, 1.0}) {
    Matrix form = mv::occupationForm(l, density(c, occ), scale);
    const mv::Vec1<double> eig = mv::eigenvaluesLower(form);
    std::vector<double> want;
    for (int k = 0; k < 12; ++k) {
      const double m = k < static_cast<int>(occ.size()) ? occ[k] : 0.0;
      want.push_back(scale * m - m * m);
    }
    std::sort(want.rbegin(), want.rend());
    for (int k = 1; k <= 12; ++k) EXPECT_NEAR(eig(k), want[k - 1], 1e-12) << scale << " " << k;
  }
  // Eigenvalues of the size of the rounding noise of a file are found as
  // precisely as large ones.
  Matrix tiny = mv::occupationForm(l, density(c, {2.0, 2.0, 1e-9}), 2.0);
  EXPECT_NEAR(mv::eigenvaluesLower(tiny)(1), 2e-9 - 1e-18, 1e-15);
  // S that is not positive definite has no factor.
  Matrix singular = identity(2);
  singular(1, 2) = singular(2, 1) = 1.5;
  EXPECT_TRUE(mv::overlapFactor(singular).empty());
}

TEST(DensityChecks, ImpossibleAndNonIdempotentDensitiesAreRefused) {
  const Matrix s = randomOverlap(12, 35);
  const Matrix c = orthonormalOrbitals(s, 36);
  const Molecule mol = fiveAtoms();
  const std::string impossible = " The density is not a possible one: ";
  const std::string notIdempotent = " The SCF density is not idempotent: ";
  const struct {
    std::vector<double> occ;
    mv::DensityChecks checks;
    std::string refusal;  // the start of the stop's record, "" when accepted
  } cases[] = {
      {{2.0, 2.0, 2.0, 2.2}, kClosedShellScf, impossible},
      {{2.0, 2.0, 2.0, 2.2}, kAnyDensity, impossible},
      {{2.0, 2.0, 2.0, -0.15}, kAnyDensity, impossible},
      {{2.0, 2.0, 2.0, 1e6}, kClosedShellScf, impossible},
      // Natural occupations of a correlated density, just inside the range.
      {{2.0, 2.09, 1.5, 0.5, -0.09}, kAnyDensity, ""},
      // Two singly occupied orbitals: possible, but not one closed-shell
      // determinant; accepted where one is not required.
      {{2.0, 2.0, 2.0, 1.0, 1.0}, kClosedShellScf, notIdempotent},
      {{2.0, 2.0, 2.0, 1.0, 1.0}, mv::DensityChecks{true, true, false}, ""},
      {{2.0, 2.0, 2.0, 2.0002}, kClosedShellScf, notIdempotent},
      {{2.0, 2.0, 2.0, 2.00001}, kClosedShellScf, ""},
  };
  for (const auto& k : cases) {
    SCOPED_TRACE(testing::PrintToString(k.occ) + " " + k.refusal);
    const Inputs in(density(c, k.occ), s, mol);
    const Checked got = analyseChecked(in, k.checks);
    if (k.refusal.empty()) {
      ASSERT_TRUE(got.results.has_value()) << got.stop->records[0];
      expectSameFigures(*got.results, analyse(in));
      continue;
    }
    ASSERT_TRUE(got.stop.has_value());
    EXPECT_EQ(got.stop->code, mv::kCodeBadValue);
    ASSERT_EQ(got.stop->records.size(), 1u);
    EXPECT_EQ(got.stop->records[0].rfind(k.refusal, 0), 0u) << got.stop->records[0];
    // The classic sequence checks none of this.
    EXPECT_NO_THROW(analyse(in));
  }
  // How far off, in the message: the eigenvalue 2n - n^2 = -0.44 of n = 2.2.
  const Checked far = analyseChecked(Inputs(density(c, {2.0, 2.2}), s, mol), kAnyDensity);
  ASSERT_TRUE(far.stop.has_value());
  EXPECT_EQ(far.stop->records[0],
            " The density is not a possible one: S^1/2 (2P - P S P) S^1/2 has the eigenvalue "
            "-0.44, 0.23 outside [-0.21, 1] (natural occupations outside [-0.1, 2.1]). STOP");
}

TEST(DensityChecks, EachSpinOfAnUnrestrictedDeterminantIsIdempotent) {
  // Alpha orbitals 1..4 and beta orbitals 1..2 of one S-orthonormal set
  // (a stand-in for two sets of their own); then one alpha or one beta
  // occupation of 0.9 instead of 1.
  const Matrix s = randomOverlap(12, 37);
  const Matrix c = orthonormalOrbitals(s, 38);
  const Molecule mol = fiveAtoms();
  const struct {
    std::vector<double> alpha, beta;
    std::string refusal;
  } cases[] = {
      {{1.0, 1.0, 1.0, 1.0}, {1.0, 1.0}, ""},
      {{1.0, 1.0, 1.0, 0.9}, {1.0, 1.0}, " The alpha SCF density is not idempotent: "},
      {{1.0, 1.0, 1.0, 1.0}, {1.0, 0.9}, " The beta SCF density is not idempotent: "},
  };
  for (const auto& k : cases) {
    SCOPED_TRACE(k.refusal);
    const Matrix pa = density(c, k.alpha), pb = density(c, k.beta);
    Matrix p(12, 12), spin(12, 12);
    for (int j = 1; j <= 12; ++j)
      for (int i = 1; i <= 12; ++i) {
        p(i, j) = pa(i, j) + pb(i, j);
        spin(i, j) = pa(i, j) - pb(i, j);
      }
    const Inputs in(p, s, mol);
    const Checked got = analyseChecked(in, mv::DensityChecks{true, false, true}, &spin);
    if (k.refusal.empty()) {
      ASSERT_TRUE(got.results.has_value());
      EXPECT_FALSE(got.results->xFormed);
      expectSameFigures(*got.results, analyse(in, &spin));
    } else {
      ASSERT_TRUE(got.stop.has_value());
      EXPECT_EQ(got.stop->code, mv::kCodeBadValue);
      EXPECT_EQ(got.stop->records[0].rfind(k.refusal, 0), 0u) << got.stop->records[0];
    }
  }
}

TEST(DensityWithoutX, ThreadsGiveTheSameBits) {
  // 160 functions on 10 atoms, 40 doubly occupied orbitals and one more
  // whose occupation gives X the eigenvalue lambda: zero (no X); just below
  // the threshold; above it, where R comes from the eigenpairs of the
  // congruent form; and 2e-4 (X after all, S diagonalised beside W W).
  // With that orbital c, R = sqrt(lambda) c (S c)^T when lambda reaches the
  // threshold, and its bond-order term is lambda m(A) m(B), m(A) the
  // orbital's Mulliken share on A.  The same bits on one thread and with
  // the checks beside W on two and three.
  const int n = 160;
  const Matrix s = randomOverlap(n, 39);
  const Matrix c = orthonormalOrbitals(s, 40);
  const Matrix sc = product(s, c);
  Molecule mol;
  std::vector<double> share(10);
  for (int a = 0; a < 10; ++a) {
    mol.first.push_back(16 * a + 1);
    mol.last.push_back(16 * a + 16);
    mol.z.push_back(6);
    for (int mu = 16 * a + 1; mu <= 16 * a + 16; ++mu) share[a] += c(mu, 41) * sc(mu, 41);
  }
  for (const double lambda : {0.0, 0.95e-7, 1.05e-7, 3e-7, 5e-6, 2e-4}) {
    SCOPED_TRACE(lambda);
    std::vector<double> occ(40, 2.0);
    occ.push_back(1.0 - std::sqrt(1.0 - lambda));
    const Inputs in(density(c, occ), s, mol);
    const mv::DensityChecks checks{true, true, false};
    const Checked alone = analyseChecked(in, checks);
    ASSERT_TRUE(alone.results.has_value());
    EXPECT_EQ(alone.results->xFormed, lambda > 1e-4);
    const Matrix w = product(in.p, s);
    const double kept = lambda >= 1e-7 ? lambda : 0.0;
    for (int a = 1; a <= mol.nat(); ++a)
      for (int b = a + 1; b <= mol.nat(); ++b)
        EXPECT_NEAR(alone.results->bonds(a, b),
                    pairTerm(w, mol, a, b) + kept * share[a - 1] * share[b - 1], 1e-12);
    for (int threads : {2, 3}) {
      mv::ThreadPool pool(threads);
      const Checked beside = analyseChecked(in, checks, nullptr, mv::Parallel(pool, threads), 1);
      ASSERT_TRUE(beside.results.has_value());
      expectSameBits(*beside.results, *alone.results);
    }
  }
}

}  // namespace
