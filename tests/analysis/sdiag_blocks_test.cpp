// The eigen-solver on matrices whose reduction skips reflections: rows that
// are already decoupled alternate with rows that need one, which exercises
// every combination of neighbouring steps in building the eigenvectors.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <random>
#include <vector>

#include "analysis/analysis.h"
#include "tables.h"

namespace {

// Direct sum of random symmetric blocks of the given sizes, order n, in a
// matrix of leading dimension mv::kLd (column-major, lower triangle used).
// The eigenvalues are those of the blocks together.
int blockMatrix(std::vector<double>& a, const std::vector<int>& sizes, unsigned seed) {
  std::mt19937 gen(seed);
  std::uniform_real_distribution<double> u(-1.0, 1.0);
  a.assign(static_cast<std::size_t>(mv::kLd) * mv::kLd, 0.0);
  int at = 0;
  for (int b : sizes) {
    for (int j = 0; j < b; ++j)
      for (int i = j; i < b; ++i) {
        const double x = u(gen) + (i == j ? 2.0 : 0.0);
        a[(at + i) + static_cast<std::size_t>(at + j) * mv::kLd] = x;
        a[(at + j) + static_cast<std::size_t>(at + i) * mv::kLd] = x;
      }
    at += b;
  }
  return at;
}

void checkEigenpairs(const std::vector<double>& orig, const std::vector<double>& vec,
                     const std::vector<double>& d, int n) {
  auto at = [](const std::vector<double>& m, int i, int j) {
    return m[i + static_cast<std::size_t>(j) * mv::kLd];
  };
  double resid = 0.0, ortho = 0.0;
  for (int j = 0; j < n; ++j)
    for (int i = 0; i < n; ++i) {
      double av = 0.0, vv = 0.0;
      for (int k = 0; k < n; ++k) {
        av += at(orig, i, k) * at(vec, k, j);
        vv += at(vec, k, i) * at(vec, k, j);
      }
      resid = std::max(resid, std::fabs(av - at(vec, i, j) * d[j]));
      ortho = std::max(ortho, std::fabs(vv - (i == j ? 1.0 : 0.0)));
    }
  EXPECT_LT(resid, 1e-8);
  EXPECT_LT(ortho, 1e-12);
  for (int k = 1; k < n; ++k) EXPECT_GE(d[k - 1], d[k]);
}

TEST(SdiagBlocks, DecoupledRowsBetweenCoupledBlocks) {
  const std::vector<std::vector<int>> layouts = {
      {1, 4, 2, 7, 1, 1, 9, 3, 1, 5, 2, 8},  // blocks of every size, single rows between
      {1, 1, 1, 30, 1, 1, 12},               // long block after decoupled rows
      {2, 2, 2, 2, 2, 2, 2, 2, 2, 2},        // only 2 by 2 blocks: no reflection at all
      {3, 1, 3, 1, 3, 1, 3, 1, 3}};          // a reflection every few rows
  unsigned seed = 1;
  for (const auto& sizes : layouts) {
    std::vector<double> a;
    const int n = blockMatrix(a, sizes, seed++);
    std::vector<double> v = a;
    std::vector<double> d(mv::kLd, 0.0);
    mv::sdiag(v.data(), mv::kLd, d.data(), n, mv::Parallel());
    checkEigenpairs(a, v, d, n);

    // The eigenvalues are those of the blocks, each solved on its own.
    std::vector<double> want;
    int at = 0;
    for (int b : sizes) {
      std::vector<double> blk(static_cast<std::size_t>(mv::kLd) * mv::kLd, 0.0);
      for (int j = 0; j < b; ++j)
        for (int i = 0; i < b; ++i)
          blk[i + static_cast<std::size_t>(j) * mv::kLd] =
              a[(at + i) + static_cast<std::size_t>(at + j) * mv::kLd];
      std::vector<double> e(mv::kLd, 0.0);
      mv::sdiag(blk.data(), mv::kLd, e.data(), b, mv::Parallel());
      want.insert(want.end(), e.begin(), e.begin() + b);
      at += b;
    }
    std::sort(want.begin(), want.end(), std::greater<double>());
    for (int k = 0; k < n; ++k) EXPECT_NEAR(d[k], want[k], 1e-9) << "eigenvalue " << k + 1;
  }
}

}  // namespace

namespace {

TEST(SdiagUnlessAllBelow, SameEigenvaluesAndVectorsOnlyWhenNeeded) {
  std::vector<double> a;
  const int n = blockMatrix(a, {1, 4, 2, 7, 1, 9, 3}, 5);
  std::vector<double> full = a, dfull(mv::kLd, 0.0);
  mv::sdiag(full.data(), mv::kLd, dfull.data(), n, mv::Parallel());
  const double largest = dfull[0];

  // Threshold above every eigenvalue: the eigenvalues alone, the same bits.
  std::vector<double> v = a, d(mv::kLd, 0.0);
  EXPECT_FALSE(
      mv::sdiagUnlessAllBelow(v.data(), mv::kLd, d.data(), n, largest * 2.0 + 1.0, mv::Parallel()));
  for (int k = 0; k < n; ++k) EXPECT_EQ(d[k], dfull[k]) << "eigenvalue " << k + 1;

  // Threshold at the largest eigenvalue: it is not below, so the vectors are
  // formed, bit for bit those of the plain solver.
  v = a;
  EXPECT_TRUE(mv::sdiagUnlessAllBelow(v.data(), mv::kLd, d.data(), n, largest, mv::Parallel()));
  for (int k = 0; k < n; ++k) EXPECT_EQ(d[k], dfull[k]) << "eigenvalue " << k + 1;
  for (int j = 0; j < n; ++j)
    for (int i = 0; i < n; ++i) {
      const std::size_t at = i + static_cast<std::size_t>(j) * mv::kLd;
      ASSERT_EQ(v[at], full[at]) << "eigenvector element " << i + 1 << "," << j + 1;
    }

  // Order 1.
  double one[1] = {0.5}, d1[1] = {0.0};
  EXPECT_FALSE(mv::sdiagUnlessAllBelow(one, 1, d1, 1, 1.0, mv::Parallel()));
  EXPECT_EQ(d1[0], 0.5);
}

}  // namespace
