// Dense products: every element must be the plain ascending-k sum, bit for
// bit, whatever panel of the blocked kernels computes it.
#include "analysis/linalg.h"

#include <gtest/gtest.h>

#include <random>
#include <vector>

#include "core/matrix.h"

namespace {

// Matrices of leading dimension 500, the largest order tested.
constexpr int kLd = 500;
struct Square {
  std::vector<double> a = std::vector<double>(static_cast<std::size_t>(kLd) * kLd);
};
mv::MatView view(Square& m) {
  return mv::MatView{m.a.data(), kLd};
}

Square a, b, c, scratch;

void fill(Square& m, std::mt19937& gen) {
  std::uniform_real_distribution<double> dist(-1.0, 1.0);
  for (double& x : m.a) x = dist(gen);
}

TEST(Linalg, ProductsEqualAscendingSumsForEveryPanelShape) {
  // Sizes around the row chunk of 12 and the column panel of 4, and the maximum.
  std::mt19937 gen(42);
  for (int n : {1, 3, 4, 11, 12, 13, 29, 64, 500}) {
    fill(a, gen);
    fill(b, gen);
    fill(c, gen);
    const mv::MatView va = view(a), vb = view(b), vc = view(c);
    const double outside = n < 500 ? vc(n + 1, n) : 0.0;
    mv::matmul(vc, va, vb, n);
    std::vector<double> w(n);
    for (double& x : w) x = std::uniform_real_distribution<double>(0.0, 3.0)(gen);
    int bad = 0;
    const int step = n > 64 ? 7 : 1;  // sample the largest case
    for (int j = 1; j <= n; j += step)
      for (int i = 1; i <= n; ++i) {
        double s = 0.0;
        for (int k = 1; k <= n; ++k) s += va(i, k) * vb(k, j);
        if (vc(i, j) != s) ++bad;
      }
    EXPECT_EQ(bad, 0) << "matmul, n = " << n;
    // Outside the n by n block nothing is written.
    if (n < 500) {
      EXPECT_EQ(vc(n + 1, n), outside);
    }

    // C(i,j) = sum of (U(i,k) w(k)) U(j,k); U is a.
    mv::spectral(vc, va, w.data(), view(scratch), n);
    bad = 0;
    for (int j = 1; j <= n; j += step)
      for (int i = 1; i <= n; ++i) {
        double s = 0.0;
        for (int k = 1; k <= n; ++k) s += va(i, k) * w[k - 1] * va(j, k);
        if (vc(i, j) != s) ++bad;
      }
    EXPECT_EQ(bad, 0) << "spectral, n = " << n;
  }
}

}  // namespace
