// Löwdin populations, Wiberg-Löwdin indices and spin populations on
// determinants whose S^1/2 is known exactly: S is made as H H from a
// symmetric positive definite H, so that S^1/2 = H, and the expected numbers
// come from textbook products with H, independently of the eigen-solver
// (whose S^1/2 agrees with H to about 1e-10).
#include <gtest/gtest.h>

#include <cmath>
#include <random>
#include <vector>

#include "analysis/lowdin.h"
#include "analysis/spin.h"
#include "core/stop.h"
#include "support/matrices.h"

namespace {

using mv::Matrix;
using mv::Vec1;
using mvtest::product;

struct Case {
  const char* name;
  int atoms, perAtom;  // functions per atom
  int nalpha, nbeta;
  bool restrictedOpen;  // one set of orbitals, singly occupied nbeta+1 .. nalpha
};

// A symmetric positive definite matrix near the identity.
Matrix randomRoot(int n, unsigned seed) {
  std::mt19937 gen(seed);
  std::uniform_real_distribution<double> dist(-0.15, 0.15);
  Matrix h(n, n);
  for (int j = 1; j <= n; ++j)
    for (int i = 1; i <= j; ++i) {
      const double x = i == j ? 1.0 + dist(gen) : dist(gen) / n * 4.0;
      h(i, j) = x;
      h(j, i) = x;
    }
  return h;
}

// `count` vectors orthonormal in the metric s (Gram-Schmidt), as columns.
Matrix orthonormalOrbitals(const Matrix& s, int count, unsigned seed) {
  const int n = s.rows();
  std::mt19937 gen(seed);
  std::uniform_real_distribution<double> dist(-1.0, 1.0);
  Matrix c(n, count);
  auto dot = [&](int a, int b) {
    double sum = 0.0;
    for (int i = 1; i <= n; ++i)
      for (int j = 1; j <= n; ++j) sum += c(i, a) * s(i, j) * c(j, b);
    return sum;
  };
  for (int k = 1; k <= count; ++k) {
    for (int i = 1; i <= n; ++i) c(i, k) = dist(gen);
    for (int pass = 0; pass < 2; ++pass)
      for (int m = 1; m < k; ++m) {
        const double x = dot(m, k);
        for (int i = 1; i <= n; ++i) c(i, k) -= x * c(i, m);
      }
    const double norm = std::sqrt(dot(k, k));
    for (int i = 1; i <= n; ++i) c(i, k) /= norm;
  }
  return c;
}

// Sum over columns from..to of c(mu,o) c(nu,o).
Matrix occupied(const Matrix& c, int from, int to) {
  const int n = c.rows();
  Matrix p(n, n);
  for (int j = 1; j <= n; ++j)
    for (int i = 1; i <= n; ++i)
      for (int o = from; o <= to; ++o) p(i, j) += c(i, o) * c(j, o);
  return p;
}

Matrix combined(const Matrix& a, const Matrix& b, double sign) {
  Matrix m(a.rows(), a.cols());
  for (int j = 1; j <= a.cols(); ++j)
    for (int i = 1; i <= a.rows(); ++i) m(i, j) = a(i, j) + sign * b(i, j);
  return m;
}

class LowdinDeterminant : public ::testing::TestWithParam<Case> {};

TEST_P(LowdinDeterminant, MatchesTheProductsWithTheKnownRoot) {
  const Case c = GetParam();
  const int n = c.atoms * c.perAtom;
  const Matrix h = randomRoot(n, 7U + static_cast<unsigned>(n));
  const Matrix s = product(h, h);
  Vec1<int> first(c.atoms), last(c.atoms), hold(n);
  for (int a = 1; a <= c.atoms; ++a) {
    first(a) = (a - 1) * c.perAtom + 1;
    last(a) = a * c.perAtom;
    for (int mu = first(a); mu <= last(a); ++mu) hold(mu) = a;
  }
  const Matrix ca = orthonormalOrbitals(s, c.nalpha, 11U);
  const Matrix cb = c.restrictedOpen ? mvtest::copy(ca) : orthonormalOrbitals(s, c.nbeta, 13U);
  const Matrix pa = occupied(ca, 1, c.nalpha), pb = occupied(cb, 1, c.nbeta);
  const Matrix p = combined(pa, pb, 1.0), ps = combined(pa, pb, -1.0);
  const bool open = c.nalpha != c.nbeta || !c.restrictedOpen;

  const mv::LowdinAnalysis r =
      mv::lowdinAnalysis(s, p, open ? &ps : nullptr, first, last, mv::Parallel());

  // X = H P H; Xa, Xb likewise.
  const Matrix x = product(product(h, p), h);
  const Matrix xa = product(product(h, pa), h), xb = product(product(h, pb), h);
  double electrons = 0.0;
  for (int a = 1; a <= c.atoms; ++a) {
    double q = 0.0;
    for (int mu = first(a); mu <= last(a); ++mu) q += x(mu, mu);
    EXPECT_NEAR(r.population(a), q, 1e-9) << "atom " << a;
    electrons += r.population(a);
  }
  EXPECT_NEAR(electrons, c.nalpha + c.nbeta, 1e-9);
  EXPECT_NEAR(r.total, c.nalpha + c.nbeta, 1e-9);
  for (int a = 1; a <= c.atoms; ++a)
    for (int b = 1; b <= c.atoms; ++b) {
      double w = 0.0;
      for (int mu = first(a); mu <= last(a) && a != b; ++mu)
        for (int nu = first(b); nu <= last(b); ++nu)
          w += 2.0 * (xa(mu, nu) * xa(mu, nu) + xb(mu, nu) * xb(mu, nu));
      EXPECT_NEAR(r.wiberg(a, b), w, 1e-9) << "atoms " << a << ", " << b;
      EXPECT_EQ(r.wiberg(a, b), r.wiberg(b, a));
    }

  // Spin populations: sum over mu in A of (Ps S)(mu,mu), adding up to
  // nalpha - nbeta; for a restricted open shell, the spin density of the
  // singly occupied orbitals is Pa - Pb.
  const mv::SpinPopulations sp = mv::spinPopulations(s, ps, hold, c.atoms);
  const Matrix pss = product(ps, s);
  for (int a = 1; a <= c.atoms; ++a) {
    double want = 0.0;
    for (int mu = first(a); mu <= last(a); ++mu) want += pss(mu, mu);
    EXPECT_NEAR(sp.atom(a), want, 1e-12);
  }
  EXPECT_NEAR(sp.total, c.nalpha - c.nbeta, 1e-10);
  if (c.restrictedOpen) {
    EXPECT_LT(mvtest::maxDifference(mv::openShellSpinDensity(ca, c.nalpha, c.nbeta), ps), 1e-14);
  }
}

INSTANTIATE_TEST_SUITE_P(Determinants, LowdinDeterminant,
                         ::testing::Values(Case{"closed", 3, 4, 5, 5, true},
                                           Case{"restricted_open", 4, 3, 6, 4, true},
                                           Case{"unrestricted", 3, 5, 7, 5, false},
                                           Case{"unrestricted_singlet", 2, 6, 4, 4, false},
                                           Case{"one_atom", 1, 6, 3, 2, false}),
                         [](const ::testing::TestParamInfo<Case>& i) { return i.param.name; });

// The hydrogen molecule in a minimal basis, overlap s: P = (1 + s)^-1 times
// the matrix of ones, and S^1/2 P S^1/2 is the matrix of ones: one Löwdin
// electron on each atom and a Wiberg-Löwdin index of exactly 1.
TEST(Lowdin, HydrogenMoleculeHasOneElectronPerAtomAndASingleBond) {
  for (double overlap : {0.0, 0.3, 0.6593, 0.95}) {
    const Matrix s = mvtest::fromRows({{1.0, overlap}, {overlap, 1.0}});
    const double x = 1.0 / (1.0 + overlap);
    const Matrix p = mvtest::fromRows({{x, x}, {x, x}});
    const mv::LowdinAnalysis r = mv::lowdinAnalysis(s, p, nullptr, mvtest::vec1({1, 2}),
                                                    mvtest::vec1({1, 2}), mv::Parallel());
    EXPECT_NEAR(r.population(1), 1.0, 1e-14) << overlap;
    EXPECT_NEAR(r.population(2), 1.0, 1e-14) << overlap;
    EXPECT_NEAR(r.wiberg(1, 2), 1.0, 1e-14) << overlap;
    EXPECT_EQ(r.wiberg(1, 1), 0.0);
  }
}

// Two copies of one function: S has no S^1/2 worth the name, and the
// analysis is refused as the bond orders are.
TEST(Lowdin, LinearlyDependentBasisIsRefused) {
  const Matrix s = mvtest::fromRows({{1.0, 1.0}, {1.0, 1.0}});
  const Matrix p = mvtest::fromRows({{0.5, 0.5}, {0.5, 0.5}});
  try {
    mv::lowdinAnalysis(s, p, nullptr, mvtest::vec1({1, 2}), mvtest::vec1({1, 2}), mv::Parallel());
    FAIL() << "no stop";
  } catch (const mv::Stop& st) {
    EXPECT_EQ(st.code, mv::kCodeSingularS);
    ASSERT_EQ(st.records.size(), 1U);
    EXPECT_EQ(st.records[0].rfind(" The overlap matrix is not positive definite", 0), 0U);
  }
}

}  // namespace
