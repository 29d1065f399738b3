// The eigen-solver against a plain, unblocked statement of its algorithm:
// eigenvalues and eigenvectors must agree bit for bit, for any order, any
// leading dimension and any number of threads.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <random>
#include <vector>

#include "analysis/sdiag.h"
#include "core/parallel.h"

namespace {

// Column-major matrix with leading dimension ld, 1-based access, starting
// `off` elements into its storage (to place the columns differently against
// cache lines).
struct Mat {
  int ld, off = 0;
  std::vector<double> a;
  Mat(int ldim, int cols, int offset = 0)
      : ld(ldim), off(offset), a(static_cast<std::size_t>(ldim) * cols + offset, 0.0) {}
  double& operator()(int i, int j) {
    return a[off + (i - 1) + static_cast<std::size_t>(j - 1) * ld];
  }
  double* data() { return a.data() + off; }
};

// Householder reduction, accumulation, QL with implicit shifts and the
// descending sort, one statement per step of the method, no blocking.
// Returns false when an eigenvalue does not converge.
bool referenceSolve(Mat& A, std::vector<double>& dv, int n, bool vectors) {
  std::vector<double> ev(n + 1, 0.0);
  auto d = [&](int i) -> double& { return dv[i - 1]; };
  auto e = [&](int i) -> double& { return ev[i]; };
  if (n == 1) {
    d(1) = A(1, 1);
    A(1, 1) = 1.0;
    return true;
  }
  for (int i = n; i >= 2; --i) {
    const int l = i - 1;
    double f = A(i, i - 1), g = 0.0;
    for (int k = 1; k <= i - 2; ++k) g += A(i, k) * A(i, k);
    double h = g + f * f;
    if (i == 2 || h < 5e-15 || g == 0.0) {
      e(i) = f;
      d(i) = 0.0;
      continue;
    }
    const double gp = f > 0.0 ? -std::sqrt(h) : std::sqrt(h);
    h = h - f * gp;
    A(i, i - 1) = f - gp;
    double F = 0.0;
    for (int j = 1; j <= l; ++j) {
      A(j, i) = A(i, j) / h;
      double s = 0.0;
      for (int k = 1; k <= j; ++k) s += A(j, k) * A(i, k);
      for (int k = j + 1; k <= l; ++k) s += A(k, j) * A(i, k);
      e(j) = s / h;
      F = F + s * A(j, i);
    }
    const double K = F / (h + h);
    for (int j = 1; j <= l; ++j) e(j) = e(j) - K * A(i, j);
    for (int j = 1; j <= l; ++j) {
      f = A(i, j);
      for (int k = 1; k <= j; ++k) A(j, k) = A(j, k) - f * e(k) - e(j) * A(i, k);
    }
    d(i) = h;
    e(i) = gp;
  }
  if (vectors) {
    d(1) = A(1, 1);
    A(1, 1) = 1.0;
    for (int i = 2; i <= n; ++i) {
      const int l = i - 1;
      if (d(i) > 0.0) {
        for (int j = 1; j <= l; ++j) {
          double s = 0.0;
          for (int k = 1; k <= l; ++k) s += A(i, k) * A(k, j);
          for (int k = 1; k <= l; ++k) A(k, j) = A(k, j) - s * A(k, i);
        }
      }
      d(i) = A(i, i);
      A(i, i) = 1.0;
      for (int j = 1; j <= l; ++j) {
        A(i, j) = 0.0;
        A(j, i) = 0.0;
      }
    }
  } else {
    for (int i = 1; i <= n; ++i) d(i) = A(i, i);
  }
  for (int k = 1; k <= n - 1; ++k) e(k) = e(k + 1);
  e(n) = 0.0;
  double F = 0.0, b = 0.0;
  for (int l = 1; l <= n; ++l) {
    const double t = 5e-10 * (std::fabs(d(l)) + std::fabs(e(l)));
    if (t > b) b = t;
    int m = l;
    while (m < n && !(std::fabs(e(m)) <= b)) ++m;
    if (m != l) {
      int sweeps = 0;
      while (!(std::fabs(e(l)) <= b)) {
        if (++sweeps > 300) return false;
        double p = (d(l + 1) - d(l)) * 0.5 / e(l);
        double r = std::sqrt(p * p + 1.0);
        const double sigma = p >= 0.0 ? d(l) - e(l) / (p + r) : d(l) - e(l) / (p - r);
        for (int k = l; k <= n; ++k) d(k) = d(k) - sigma;
        F = F + sigma;
        p = d(m);
        double cs = 1.0, sn = 0.0;
        for (int i = m - 1; i >= l; --i) {
          const double g = cs * e(i);
          const double hh = cs * p;
          if (std::fabs(e(i)) > std::fabs(p)) {
            cs = p / e(i);
            r = std::sqrt(cs * cs + 1.0);
            e(i + 1) = sn * e(i) * r;
            sn = 1.0 / r;
            cs = cs / r;
          } else {
            cs = e(i) / p;
            r = std::sqrt(cs * cs + 1.0);
            e(i + 1) = sn * p * r;
            sn = cs / r;
            cs = 1.0 / r;
          }
          p = cs * d(i) - sn * g;
          d(i + 1) = hh + sn * (cs * g + sn * d(i));
          if (vectors)
            for (int k = 1; k <= n; ++k) {
              const double tk = A(k, i + 1);
              A(k, i + 1) = sn * A(k, i) + cs * tk;
              A(k, i) = cs * A(k, i) - sn * tk;
            }
        }
        e(l) = sn * p;
        d(l) = cs * p;
      }
    }
    d(l) = d(l) + F;
  }
  for (int i = 1; i <= n - 1; ++i) {
    int k = i;
    for (int j = i + 1; j <= n; ++j)
      if (d(j) > d(k)) k = j;
    if (k != i) {
      std::swap(d(i), d(k));
      if (vectors)
        for (int r = 1; r <= n; ++r) std::swap(A(r, i), A(r, k));
    }
  }
  return true;
}

// Kinds of test matrix.  Dense: every row needs a reflection.  Blocks: a
// direct sum of blocks of sizes 1 to 9, so that rows needing no reflection
// (the first two of each block) come between rows needing one.  Graded:
// elements over many orders of magnitude, with some rows below the
// reduction's tolerance.
enum class Kind { kDense, kBlocks, kGraded };

Mat makeMatrix(int n, int ld, Kind kind, unsigned seed, int off = 0) {
  std::mt19937_64 gen(seed);
  std::uniform_real_distribution<double> u(-1.0, 1.0);
  Mat A(ld, n, off);
  // Garbage above the diagonal and outside the block: never read.
  for (double& x : A.a) x = 1e300;
  std::vector<int> blockOf(n + 1, 0);
  int block = 0;
  for (int i = 1, left = 0; i <= n; ++i, --left) {
    if (left == 0) {
      ++block;
      left = 1 + static_cast<int>(gen() % 9);
    }
    blockOf[i] = block;
  }
  for (int j = 1; j <= n; ++j)
    for (int i = j; i <= n; ++i) {
      double x = u(gen);
      if (kind == Kind::kBlocks && blockOf[i] != blockOf[j]) x = 0.0;
      if (kind == Kind::kGraded) x *= std::pow(10.0, -8.0 * (i % 5) - 3.0 * (j % 3));
      if (i == j) x += 2.0;
      A(i, j) = x;
    }
  return A;
}

// The leading n by n block and the first n eigenvalues, bit for bit.
void expectSame(const Mat& want, const Mat& got, const std::vector<double>& dw,
                const std::vector<double>& dg, int n, const char* what) {
  int badValues = 0, badVectors = 0;
  for (int k = 0; k < n; ++k)
    if (std::memcmp(&dw[k], &dg[k], sizeof(double)) != 0) ++badValues;
  for (int j = 0; j < n; ++j)
    for (int i = 0; i < n; ++i) {
      const std::size_t wi = want.off + i + static_cast<std::size_t>(j) * want.ld;
      const std::size_t gi = got.off + i + static_cast<std::size_t>(j) * got.ld;
      if (std::memcmp(&want.a[wi], &got.a[gi], sizeof(double)) != 0) ++badVectors;
    }
  EXPECT_EQ(badValues, 0) << what;
  EXPECT_EQ(badVectors, 0) << what;
}

struct Case {
  int n, ld;
  Kind kind;
  int off = 0;
};

// Orders and offsets around the 32-row panels of the reduction and the
// rotations (a short first and last panel), the 16 and 32 columns of the
// accumulation's panels and its 32-step blocks, and the threading orders;
// the reduction sweeps the triangle once per step from order 500 and splits
// the sweep between two threads from 800, on dense matrices and on direct
// sums of blocks (steps that only update, or only sum).
const Case kCases[] = {
    {1, 1, Kind::kDense},        {2, 2, Kind::kDense},        {3, 5, Kind::kDense},
    {17, 17, Kind::kDense},      {33, 40, Kind::kBlocks},     {47, 49, Kind::kDense, 5},
    {64, 64, Kind::kDense},      {96, 96, Kind::kGraded},     {130, 133, Kind::kBlocks, 1},
    {200, 203, Kind::kDense},    {230, 230, Kind::kBlocks},   {513, 517, Kind::kDense},
    {600, 600, Kind::kBlocks},   {301, 304, Kind::kDense, 3}, {301, 304, Kind::kDense, 6},
    {820, 824, Kind::kDense, 2}, {870, 873, Kind::kBlocks, 7}};

TEST(SdiagReference, EigenpairsEqualThePlainAlgorithmForAnyThreadCount) {
  mv::ThreadPool pool(3);
  unsigned seed = 11;
  for (const Case& c : kCases) {
    const Mat input = makeMatrix(c.n, c.ld, c.kind, seed++, c.off);
    Mat want = input;
    std::vector<double> dw(c.n);
    ASSERT_TRUE(referenceSolve(want, dw, c.n, true));
    for (int threads : {1, 2, 3}) {
      const mv::Parallel par(pool, threads);
      Mat got = input;
      std::vector<double> dg(c.n);
      mv::sdiag(got.data(), c.ld, dg.data(), c.n, par);
      const std::string what = "n = " + std::to_string(c.n) + ", lda = " + std::to_string(c.ld) +
                               ", " + std::to_string(threads) + " threads";
      expectSame(want, got, dw, dg, c.n, what.c_str());
      // Beyond the leading block nothing is written.
      for (int j = 1; j <= c.n; ++j)
        for (int i = c.n + 1; i <= c.ld; ++i) ASSERT_EQ(got(i, j), 1e300) << what;
    }
  }
}

TEST(SdiagReference, ValuesOnlyPathEqualsThePlainAlgorithmForAnyThreadCount) {
  mv::ThreadPool pool(3);
  unsigned seed = 101;
  for (const Case& c : kCases) {
    const Mat input = makeMatrix(c.n, c.ld, c.kind, seed++, c.off);
    Mat values = input;
    std::vector<double> dv(c.n);
    ASSERT_TRUE(referenceSolve(values, dv, c.n, false));
    Mat want = input;
    std::vector<double> dw(c.n);
    ASSERT_TRUE(referenceSolve(want, dw, c.n, true));
    for (int threads : {1, 2, 3}) {
      const mv::Parallel par(pool, threads);
      const std::string what =
          "n = " + std::to_string(c.n) + ", " + std::to_string(threads) + " threads";
      // Above every eigenvalue: the values alone, those of the plain
      // algorithm without vectors (and of the full solve).
      Mat got = input;
      std::vector<double> dg(c.n);
      EXPECT_FALSE(mv::sdiagUnlessAllBelow(got.data(), c.ld, dg.data(), c.n, dw[0] + 1.0, par));
      for (int k = 0; k < c.n; ++k) {
        ASSERT_EQ(std::memcmp(&dg[k], &dv[k], sizeof(double)), 0) << what << ", value " << k;
        ASSERT_EQ(std::memcmp(&dg[k], &dw[k], sizeof(double)), 0) << what << ", value " << k;
      }
      // At the largest eigenvalue: the vectors too, those of the full solve.
      got = input;
      EXPECT_TRUE(mv::sdiagUnlessAllBelow(got.data(), c.ld, dg.data(), c.n, dw[0], par));
      expectSame(want, got, dw, dg, c.n, what.c_str());
    }
  }
}

}  // namespace
