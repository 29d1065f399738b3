// The symmetric eigen-solver: eigenvalues in descending order, orthonormal
// eigenvectors in the columns, only the lower triangle read.
#include "analysis/sdiag.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cmath>
#include <random>
#include <vector>

#include "core/stop.h"

namespace {

// A column-major matrix with leading dimension ld, 1-based access.
struct Mat {
  int ld;
  std::vector<double> a;
  explicit Mat(int ldim, double fill = 0.0) : ld(ldim), a(static_cast<size_t>(ldim) * ldim, fill) {}
  double& operator()(int i, int j) { return a[(i - 1) + static_cast<size_t>(j - 1) * ld]; }
  double* data() { return a.data(); }
};

// Largest |A V - V diag(d)| and largest |V^T V - I| on the n by n block.
// The QL phase neglects couplings below 5e-10 times the largest |d| + |e|
// met so far, so the residual is of that order, not of the rounding error.
void checkDecomposition(Mat orig, Mat vec, const std::vector<double>& d, int n, double tol) {
  double resid = 0.0, ortho = 0.0;
  for (int j = 1; j <= n; ++j) {
    for (int i = 1; i <= n; ++i) {
      double av = 0.0, vv = 0.0;
      for (int k = 1; k <= n; ++k) {
        // Symmetric matrix from its lower triangle.
        const double aik = i >= k ? orig(i, k) : orig(k, i);
        av += aik * vec(k, j);
        vv += vec(k, i) * vec(k, j);
      }
      resid = std::max(resid, std::fabs(av - vec(i, j) * d[j - 1]));
      ortho = std::max(ortho, std::fabs(vv - (i == j ? 1.0 : 0.0)));
    }
  }
  EXPECT_LT(resid, tol);
  EXPECT_LT(ortho, 1e-12);
  for (int k = 1; k < n; ++k) EXPECT_GE(d[k - 1], d[k]) << "eigenvalues not descending at " << k;
}

// Q diag(lambda) Q^T with Q the product of two Householder reflections of
// random vectors: a full symmetric matrix whose spectrum is known exactly.
Mat withSpectrum(const std::vector<double>& lambda, int ld, unsigned seed) {
  const int n = static_cast<int>(lambda.size());
  std::mt19937 gen(seed);
  std::uniform_real_distribution<double> dist(-1.0, 1.0);
  Mat q(ld);
  for (int i = 1; i <= n; ++i) q(i, i) = 1.0;
  for (int r = 0; r < 2; ++r) {
    std::vector<double> v(n);
    double vv = 0.0;
    for (double& x : v) {
      x = dist(gen);
      vv += x * x;
    }
    // Q <- Q (I - 2 v v^T / v^T v)
    for (int i = 1; i <= n; ++i) {
      double qv = 0.0;
      for (int k = 1; k <= n; ++k) qv += q(i, k) * v[k - 1];
      for (int k = 1; k <= n; ++k) q(i, k) -= 2.0 * qv * v[k - 1] / vv;
    }
  }
  Mat a(ld);
  for (int j = 1; j <= n; ++j)
    for (int i = j; i <= n; ++i) {
      double s = 0.0;
      for (int k = 1; k <= n; ++k) s += q(i, k) * lambda[k - 1] * q(j, k);
      a(i, j) = s;
      a(j, i) = s;
    }
  return a;
}

TEST(Sdiag, SingleElement) {
  Mat a(500);
  a(1, 1) = -3.25;
  double d[1] = {0.0};
  mv::sdiag(a.data(), 500, d, 1, mv::Parallel());
  EXPECT_EQ(d[0], -3.25);
  EXPECT_EQ(a(1, 1), 1.0);
}

TEST(Sdiag, DiagonalMatrixIsSortedAndFirstOfEqualValuesStays) {
  // Diagonal 1, 5, 3, 5, -2: the 5 of row 2 must come before the 5 of row 4.
  Mat a(7);
  const double diag[5] = {1.0, 5.0, 3.0, 5.0, -2.0};
  for (int i = 1; i <= 5; ++i) a(i, i) = diag[i - 1];
  std::vector<double> d(5);
  mv::sdiag(a.data(), 7, d.data(), 5, mv::Parallel());
  const double want[5] = {5.0, 5.0, 3.0, 1.0, -2.0};
  const int unit[5] = {2, 4, 3, 1, 5};  // which unit vector each column holds
  for (int j = 1; j <= 5; ++j) {
    EXPECT_EQ(d[j - 1], want[j - 1]);
    for (int i = 1; i <= 5; ++i) EXPECT_EQ(a(i, j), i == unit[j - 1] ? 1.0 : 0.0) << i << "," << j;
  }
}

TEST(Sdiag, TwoByTwo) {
  Mat a(500);
  a(1, 1) = 2.0;
  a(2, 1) = 1.0;
  a(2, 2) = 2.0;
  double d[2];
  mv::sdiag(a.data(), 500, d, 2, mv::Parallel());
  EXPECT_NEAR(d[0], 3.0, 1e-14);
  EXPECT_NEAR(d[1], 1.0, 1e-14);
  const double r = 1.0 / std::sqrt(2.0);
  // (1, 1)/sqrt2 and (1, -1)/sqrt2 up to sign.
  EXPECT_NEAR(std::fabs(a(1, 1)), r, 1e-14);
  EXPECT_NEAR(a(2, 1), a(1, 1), 1e-14);
  EXPECT_NEAR(std::fabs(a(1, 2)), r, 1e-14);
  EXPECT_NEAR(a(2, 2), -a(1, 2), 1e-14);
}

TEST(Sdiag, RepeatedEigenvalueInFullMatrix) {
  // 3 I - J (J all ones, order 4) has eigenvalues 3, 3, 3, -1; the -1 vector
  // is (1,1,1,1)/2.
  Mat a(500);
  for (int j = 1; j <= 4; ++j)
    for (int i = 1; i <= 4; ++i) a(i, j) = (i == j ? 3.0 : 0.0) - 1.0;
  Mat orig = a;
  std::vector<double> d(4);
  mv::sdiag(a.data(), 500, d.data(), 4, mv::Parallel());
  for (int k = 0; k < 3; ++k) EXPECT_NEAR(d[k], 3.0, 1e-13);
  EXPECT_NEAR(d[3], -1.0, 1e-13);
  for (int i = 1; i <= 4; ++i) EXPECT_NEAR(std::fabs(a(i, 4)), 0.5, 1e-13);
  checkDecomposition(orig, a, d, 4, 1e-13);
}

TEST(Sdiag, UpperTriangleAndOutsideBlockAreNotRead) {
  const int n = 12, ld = 15;
  std::mt19937 gen(7);
  std::uniform_real_distribution<double> dist(-2.0, 2.0);
  Mat clean(ld), dirty(ld);
  for (int j = 1; j <= ld; ++j)
    for (int i = 1; i <= ld; ++i) {
      const double x = dist(gen);
      if (i <= n && j <= n && i >= j) {
        clean(i, j) = x;
        dirty(i, j) = x;
      } else {
        clean(i, j) = 0.0;
        dirty(i, j) = 1000.0 + i + 100.0 * j;  // garbage above the diagonal and outside
      }
    }
  std::vector<double> d1(n), d2(n);
  mv::sdiag(clean.data(), ld, d1.data(), n, mv::Parallel());
  mv::sdiag(dirty.data(), ld, d2.data(), n, mv::Parallel());
  for (int k = 0; k < n; ++k) EXPECT_EQ(d1[k], d2[k]);
  for (int j = 1; j <= n; ++j)
    for (int i = 1; i <= n; ++i) EXPECT_EQ(clean(i, j), dirty(i, j));
  // Elements outside the n by n block are untouched.
  for (int j = 1; j <= ld; ++j)
    for (int i = 1; i <= ld; ++i) {
      if (i > n || j > n) {
        EXPECT_EQ(dirty(i, j), 1000.0 + i + 100.0 * j);
      }
    }
}

TEST(Sdiag, KnownSpectrumAtFullSize) {
  // Order 500, eigenvalues from 1e-3 to 10 with a cluster of near-equal ones.
  const int n = 500;
  std::vector<double> lambda(n);
  for (int k = 0; k < n; ++k) lambda[k] = 1e-3 + 10.0 * ((k * 37) % n) / n;
  for (int k = 100; k < 110; ++k) lambda[k] = 2.5 + 1e-9 * k;
  Mat a = withSpectrum(lambda, 500, 99);
  Mat orig = a;
  std::vector<double> d(n);
  mv::sdiag(a.data(), 500, d.data(), n, mv::Parallel());
  std::vector<double> want = lambda;
  std::sort(want.begin(), want.end(), std::greater<double>());
  // Separated eigenvalues are exact to second order in the neglected
  // couplings; inside the cluster they are exact to first order only.
  for (int k = 0; k < n; ++k) {
    const double tol = std::fabs(want[k] - 2.5) < 1e-6 ? 1e-8 : 1e-11;
    EXPECT_NEAR(d[k], want[k], tol) << "eigenvalue " << k + 1;
  }
  checkDecomposition(orig, a, d, n, 1e-7);
}

TEST(Sdiag, AbandonedSolveEndsAtOnceAndAnUnabandonedOneIsTheSame) {
  const int n = 60;
  std::vector<double> lambda(n);
  for (int k = 0; k < n; ++k) lambda[k] = 0.5 + 0.1 * k;
  Mat orig = withSpectrum(lambda, 500, 7);
  Mat plain = orig, watched = orig, dropped = orig;
  std::vector<double> d1(n), d2(n), d3(n, -1.0);
  mv::sdiag(plain.data(), 500, d1.data(), n, mv::Parallel());
  const std::atomic<bool> no{false}, yes{true};
  EXPECT_TRUE(mv::sdiagUnlessAbandoned(watched.data(), 500, d2.data(), n, mv::Parallel(), no));
  for (int k = 0; k < n; ++k) EXPECT_EQ(d1[k], d2[k]);
  for (int j = 1; j <= n; ++j)
    for (int i = 1; i <= n; ++i) EXPECT_EQ(plain(i, j), watched(i, j));
  // Abandoned before the first step: nothing is changed.
  EXPECT_FALSE(mv::sdiagUnlessAbandoned(dropped.data(), 500, d3.data(), n, mv::Parallel(), yes));
  for (int k = 0; k < n; ++k) EXPECT_EQ(d3[k], -1.0);
  for (int j = 1; j <= n; ++j)
    for (int i = 1; i <= n; ++i) EXPECT_EQ(dropped(i, j), orig(i, j));
}

TEST(Sdiag, NonFiniteMatrixStopsInsteadOfLooping) {
  Mat a(500);
  a(1, 1) = 1.0;
  a(2, 1) = std::nan("");
  a(2, 2) = 1.0;
  a(3, 3) = 2.0;
  a(3, 2) = 0.5;
  double d[3];
  try {
    mv::sdiag(a.data(), 500, d, 3, mv::Parallel());
    ADD_FAILURE() << "no stop";
  } catch (const mv::Stop& st) {
    EXPECT_EQ(st.code, mv::kCodeNoConvergence);
    ASSERT_EQ(st.records.size(), 1u);
    EXPECT_NE(st.records[0].find("did not converge"), std::string::npos) << st.records[0];
  }
}

}  // namespace
