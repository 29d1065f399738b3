// Löwdin populations and Wiberg-Löwdin indices in closed form, the refusal
// of a linearly dependent basis, and the spin density of a restricted open
// shell by orbital numbers and by occupations.  (Real wave functions are
// compared with psi4 in tests/e2e/lowdin_spin_test.cpp.)
#include <gtest/gtest.h>

#include "analysis/lowdin.h"
#include "analysis/spin.h"
#include "core/stop.h"
#include "support/matrices.h"

namespace {

using mv::Matrix;
using mvtest::fromRows;
using mvtest::vec1;

// The hydrogen molecule in a minimal basis, overlap s: P = (1 + s)^-1 times
// the matrix of ones, and S^1/2 P S^1/2 is the matrix of ones: one Löwdin
// electron on each atom and a Wiberg-Löwdin index of exactly 1.  A spin
// density Ps = P / 2 (S^1/2 Ps S^1/2 = half the matrix of ones) adds its
// square, a quarter.
TEST(Lowdin, HydrogenMoleculeHasOneElectronPerAtomAndASingleBond) {
  for (double overlap : {0.0, 0.3, 0.6593, 0.95}) {
    const Matrix s = fromRows({{1.0, overlap}, {overlap, 1.0}});
    const double x = 1.0 / (1.0 + overlap);
    const Matrix p = fromRows({{x, x}, {x, x}});
    const Matrix ps = fromRows({{x / 2, x / 2}, {x / 2, x / 2}});
    const auto r = mv::lowdinAnalysis(s, p, nullptr, vec1({1, 2}), vec1({1, 2}), mv::Parallel());
    EXPECT_NEAR(r.population(1), 1.0, 1e-14) << overlap;
    EXPECT_NEAR(r.population(2), 1.0, 1e-14) << overlap;
    EXPECT_NEAR(r.wiberg(1, 2), 1.0, 1e-14) << overlap;
    EXPECT_EQ(r.wiberg(1, 1), 0.0);
    const auto open = mv::lowdinAnalysis(s, p, &ps, vec1({1, 2}), vec1({1, 2}), mv::Parallel());
    EXPECT_NEAR(open.wiberg(2, 1), 1.25, 1e-14) << overlap;
  }
  const Matrix dependent = fromRows({{1.0, 1.0}, {1.0, 1.0}});
  try {
    mv::lowdinAnalysis(dependent, dependent, nullptr, vec1({1, 2}), vec1({1, 2}), mv::Parallel());
    FAIL() << "no stop";
  } catch (const mv::Stop& st) {
    EXPECT_EQ(st.code, mv::kCodeSingularS);
  }
}

// Orbitals 1 and 2 doubly occupied, 3 and 4 singly: the spin density is
// the sum over orbitals 3 and 4, found by number or by occupation (in any
// order, as a Molden file may give them).
TEST(Spin, OpenShellSpinDensityTakesTheSinglyOccupiedOrbitals) {
  const Matrix mo = fromRows({{1, 0, 0.5, 0}, {0, 1, 0, 2}, {0, 0, 1, 0.25}});
  Matrix want(3, 3);
  for (int i = 1; i <= 3; ++i)
    for (int j = 1; j <= 3; ++j) want(i, j) = mo(i, 3) * mo(j, 3) + mo(i, 4) * mo(j, 4);
  EXPECT_EQ(mvtest::maxDifference(mv::openShellSpinDensity(mo, 4, 2), want), 0.0);
  EXPECT_EQ(mvtest::maxDifference(mv::openShellSpinDensity(mo, vec1({1.0, 2.0, 2.0, 1.0})),
                                  fromRows({{1.0, 0.0, 0.0}, {0.0, 4.0, 0.5}, {0.0, 0.5, 0.0625}})),
            0.0);
  EXPECT_EQ(mvtest::maxDifference(mv::openShellSpinDensity(mo, vec1({2.0, 2.0, 1.0, 1.0})), want),
            0.0);
}

}  // namespace
