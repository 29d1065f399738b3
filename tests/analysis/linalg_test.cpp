// Dense products: every element must be the plain ascending-k sum, bit for
// bit, whatever panel of the blocked kernels computes it and however many
// threads share the work.
#include "analysis/linalg.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "core/matrix.h"
#include "core/parallel.h"
#include "tiny_terms.h"

namespace {

// A column-major matrix of n columns with leading dimension ld >= n.
struct Mat {
  int ld;
  std::vector<double> a;
  Mat(int ldim, int cols) : ld(ldim), a(static_cast<std::size_t>(ldim) * cols) {}
  mv::MatView view() { return mv::MatView{a.data(), ld}; }
};

Mat randomMatrix(int n, int ld, std::mt19937& gen) {
  std::uniform_real_distribution<double> dist(-1.0, 1.0);
  Mat m(ld, n);
  for (double& x : m.a) x = dist(gen);
  return m;
}

// Elements of C that differ in any bit from the plain sums, over the columns
// j = 1, 1 + step, ... (all rows); and whether anything outside the leading
// n by n block of C changed.
struct Check {
  int bad = 0;
  bool outsideChanged = false;
};

template <typename Term>
Check compare(Mat& c, const Mat& before, int n, int step, Term term) {
  Check r;
  const mv::MatView vc = c.view();
  for (int j = 1; j <= n; j += step)
    for (int i = 1; i <= n; ++i) {
      double s = 0.0;
      for (int k = 1; k <= n; ++k) s += term(i, k, j);
      // Bit for bit; any NaN matches any NaN (the payload of a NaN met by
      // another one depends on operand order, which the compiler may swap).
      const bool same =
          std::memcmp(&s, &vc(i, j), sizeof s) == 0 || (std::isnan(s) && std::isnan(vc(i, j)));
      if (!same) ++r.bad;
    }
  for (int j = 1; j <= n; ++j)
    for (int i = n + 1; i <= c.ld; ++i)
      if (vc(i, j) != before.a[(i - 1) + static_cast<std::size_t>(j - 1) * c.ld])
        r.outsideChanged = true;
  return r;
}

TEST(Linalg, ProductsEqualAscendingSumsForEveryPanelShapeAndThreadCount) {
  // Sizes around the register tiles (12 by 4 and 24 by 8), the row block
  // (120), the k block (256), the threading threshold, past the old 500
  // limit; leading dimensions equal to n and larger.
  struct Case {
    int n, ld;
  };
  const Case cases[] = {{1, 1},     {3, 3},     {4, 7},     {7, 9},     {11, 11},
                        {12, 13},   {13, 13},   {23, 23},   {24, 24},   {25, 28},
                        {29, 32},   {47, 47},   {95, 95},   {97, 101},  {121, 121},
                        {143, 144}, {257, 260}, {500, 500}, {513, 513}, {777, 781}};
  mv::ThreadPool pool(3);
  std::mt19937 gen(42);
  for (const Case& cs : cases) {
    const int n = cs.n;
    Mat a = randomMatrix(n, cs.ld, gen), b = randomMatrix(n, cs.ld, gen);
    std::vector<double> w(n);
    for (double& x : w) x = std::uniform_real_distribution<double>(0.0, 3.0)(gen);
    const mv::MatView va = a.view(), vb = b.view();
    const int step = n > 64 ? 7 : 1;  // sample the columns of the largest cases
    for (int threads : {1, 2, 3}) {
      const mv::Parallel par(pool, threads);
      const std::string what = "n = " + std::to_string(n) + ", ld = " + std::to_string(cs.ld) +
                               ", " + std::to_string(threads) + " threads";

      Mat c = randomMatrix(n, cs.ld, gen);
      const Mat before = c;
      mv::matmul(c.view(), va, vb, n, par);
      Check r =
          compare(c, before, n, step, [&](int i, int k, int j) { return va(i, k) * vb(k, j); });
      EXPECT_EQ(r.bad, 0) << "matmul, " << what;
      EXPECT_FALSE(r.outsideChanged) << "matmul, " << what;

      // C(i,j) = sum of (U(i,k) w(k)) U(j,k); U is a.
      mv::spectral(c.view(), va, w.data(), n, par);
      r = compare(c, before, n, step,
                  [&](int i, int k, int j) { return va(i, k) * w[k - 1] * va(j, k); });
      EXPECT_EQ(r.bad, 0) << "spectral, " << what;
      EXPECT_FALSE(r.outsideChanged) << "spectral, " << what;
    }
  }
}

TEST(Linalg, SpecialValuesPropagateAsInThePlainSums) {
  // Infinities and NaNs in one row of A and one column of B, signed zeros
  // elsewhere: the blocked kernel must not drop or add terms (a padded or
  // skipped term would change NaN, infinity or the sign of zero).
  const int n = 30;
  Mat a(n, n), b(n, n), c(n, n);
  for (int j = 1; j <= n; ++j)
    for (int i = 1; i <= n; ++i) {
      a.view()(i, j) = (i + j) % 3 == 0 ? -0.0 : 1.0 / (i + j);
      b.view()(i, j) = (i * j) % 4 == 0 ? -0.0 : -1.0 / (i + 2 * j);
    }
  a.view()(5, 7) = HUGE_VAL;
  a.view()(5, 9) = -HUGE_VAL;
  b.view()(3, 17) = std::nan("");
  for (int j = 1; j <= n; ++j) a.view()(20, j) = -0.0;
  const Mat before = c;
  const mv::MatView va = a.view(), vb = b.view();
  mv::matmul(c.view(), va, vb, n, mv::Parallel());
  const Check r =
      compare(c, before, n, 1, [&](int i, int k, int j) { return va(i, k) * vb(k, j); });
  EXPECT_EQ(r.bad, 0);
  // Row 20 is all negative zeros times finite numbers: its plain sums
  // start from +0 and stay there.
  EXPECT_FALSE(std::signbit(c.view()(20, 1)));
}

TEST(Linalg, ProductsPassOverOnlyTermsThatCannotChangeASum) {
  tiny_terms::checkTinyTerms([](mv::MatView c, mv::MatView a, mv::MatView b, int n,
                                const mv::Parallel& par) { mv::matmul(c, a, b, n, par); },
                             [](mv::MatView c, mv::MatView u, const double* w, int n,
                                const mv::Parallel& par) { mv::spectral(c, u, w, n, par); });
}

}  // namespace
