// The eigen-solver on matrices whose reduction skips reflections: rows that
// are already decoupled alternate with rows that need one, which exercises
// every combination of neighbouring steps in building the eigenvectors.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <random>
#include <vector>

#include "analysis/sdiag.h"

namespace {

// Leading dimension of the test matrices.
constexpr int kLd = 500;

// Direct sum of random symmetric blocks of the given sizes, order n, in a
// matrix of leading dimension kLd (column-major, lower triangle used).
// The eigenvalues are those of the blocks together.
int blockMatrix(std::vector<double>& a, const std::vector<int>& sizes, unsigned seed) {
  std::mt19937 gen(seed);
  std::uniform_real_distribution<double> u(-1.0, 1.0);
  a.assign(static_cast<std::size_t>(kLd) * kLd, 0.0);
  int at = 0;
  for (int b : sizes) {
    for (int j = 0; j < b; ++j)
      for (int i = j; i < b; ++i) {
        const double x = u(gen) + (i == j ? 2.0 : 0.0);
        a[(at + i) + static_cast<std::size_t>(at + j) * kLd] = x;
        a[(at + j) + static_cast<std::size_t>(at + i) * kLd] = x;
      }
    at += b;
  }
  return at;
}

void checkEigenpairs(const std::vector<double>& orig, const std::vector<double>& vec,
                     const std::vector<double>& d, int n) {
  auto at = [](const std::vector<double>& m, int i, int j) {
    return m[i + static_cast<std::size_t>(j) * kLd];
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
    std::vector<double> d(kLd, 0.0);
    mv::sdiag(v.data(), kLd, d.data(), n);
    checkEigenpairs(a, v, d, n);

    // The eigenvalues are those of the blocks, each solved on its own.
    std::vector<double> want;
    int at = 0;
    for (int b : sizes) {
      std::vector<double> blk(static_cast<std::size_t>(kLd) * kLd, 0.0);
      for (int j = 0; j < b; ++j)
        for (int i = 0; i < b; ++i)
          blk[i + static_cast<std::size_t>(j) * kLd] =
              a[(at + i) + static_cast<std::size_t>(at + j) * kLd];
      std::vector<double> e(kLd, 0.0);
      mv::sdiag(blk.data(), kLd, e.data(), b);
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
  std::vector<double> full = a, dfull(kLd, 0.0);
  mv::sdiag(full.data(), kLd, dfull.data(), n);
  const double largest = dfull[0];

  // Threshold above every eigenvalue: the eigenvalues alone, the same bits.
  std::vector<double> v = a, d(kLd, 0.0);
  EXPECT_FALSE(mv::sdiagUnlessAllBelow(v.data(), kLd, d.data(), n, largest * 2.0 + 1.0));
  for (int k = 0; k < n; ++k) EXPECT_EQ(d[k], dfull[k]) << "eigenvalue " << k + 1;

  // Threshold at the largest eigenvalue: it is not below, so the vectors are
  // formed, bit for bit those of the plain solver.
  v = a;
  EXPECT_TRUE(mv::sdiagUnlessAllBelow(v.data(), kLd, d.data(), n, largest));
  for (int k = 0; k < n; ++k) EXPECT_EQ(d[k], dfull[k]) << "eigenvalue " << k + 1;
  for (int j = 0; j < n; ++j)
    for (int i = 0; i < n; ++i) {
      const std::size_t at = i + static_cast<std::size_t>(j) * kLd;
      ASSERT_EQ(v[at], full[at]) << "eigenvector element " << i + 1 << "," << j + 1;
    }

  // Order 1.
  double one[1] = {0.5}, d1[1] = {0.0};
  EXPECT_FALSE(mv::sdiagUnlessAllBelow(one, 1, d1, 1, 1.0));
  EXPECT_EQ(d1[0], 0.5);
}

}  // namespace
