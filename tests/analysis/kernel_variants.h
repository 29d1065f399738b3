// Checks shared by the tests of the kernels built for one instruction set
// alone (kernels_*_test.cpp, one per variant, each of which builds
// analysis/linalg.cpp and analysis/sdiag.cpp for its instruction set and then
// includes this file).  Every variant has register tiles and panels of its
// own, so each is run on sizes around all of them:
//  - the products must be the plain ascending sums, bit for bit;
//  - the eigen-solver must give the library's results bit for bit (the
//    library's own variant is held to a plain statement of the algorithm in
//    sdiag_reference_test.cpp, so each variant is, too);
// both for 1, 2 and 3 threads.
#pragma once

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "analysis/sdiag.h"
#include "core/matrix.h"
#include "core/parallel.h"

namespace {

// A column-major matrix of `cols` columns, leading dimension ld, its first
// element `off` doubles into the storage (to place columns differently
// against cache lines).
struct Mat {
  int ld, off;
  std::vector<double> a;
  Mat(int ldim, int cols, int offset = 0)
      : ld(ldim), off(offset), a(static_cast<std::size_t>(ldim) * cols + offset) {}
  double* data() { return a.data() + off; }
  mv::MatView view() { return mv::MatView{data(), ld}; }
  double& operator()(int i, int j) { return view()(i, j); }
};

bool sameBits(double x, double y) {
  return std::memcmp(&x, &y, sizeof x) == 0;
}

// Orders around the 12 by 4 and 24 by 8 tiles, the 120-row blocks of A, the
// 256-long blocks of k, the 512-column panels of B and the order from which
// threads share a product.
struct ProductCase {
  int n, ld;
};
const ProductCase kProductCases[] = {{1, 1},    {4, 5},     {8, 8},     {11, 13},   {23, 23},
                                     {24, 24},  {25, 27},   {36, 36},   {49, 50},   {95, 95},
                                     {97, 104}, {121, 121}, {145, 149}, {257, 259}, {529, 531}};

// matmul and spectral of the variant (any callables with their arguments)
// against the plain ascending sums over sampled columns, and nothing outside
// the leading block written.
template <typename MatMul, typename Spectral>
void checkProducts(MatMul matmul, Spectral spectral) {
  mv::ThreadPool pool(3);
  std::mt19937 gen(7);
  std::uniform_real_distribution<double> dist(-1.0, 1.0);
  for (const ProductCase& pc : kProductCases) {
    const int n = pc.n;
    Mat a(pc.ld, n), b(pc.ld, n), fill(pc.ld, n);
    for (double& x : a.a) x = dist(gen);
    for (double& x : b.a) x = dist(gen);
    for (double& x : fill.a) x = dist(gen);
    std::vector<double> w(n);
    for (double& x : w) x = 1.5 + dist(gen);
    const mv::MatView va = a.view(), vb = b.view();
    const int step = n > 100 ? 5 : 1;
    for (int threads : {1, 2, 3}) {
      const mv::Parallel par(pool, threads);
      const std::string what =
          "n = " + std::to_string(n) + ", " + std::to_string(threads) + " threads";
      for (const bool scaled : {false, true}) {
        Mat c = fill;
        if (scaled)
          spectral(c.view(), va, w.data(), n, par);
        else
          matmul(c.view(), va, vb, n, par);
        int bad = 0, outside = 0;
        for (int j = 1; j <= n; j += (j < 30 || j > n - 30 ? 1 : step)) {
          for (int i = 1; i <= n; ++i) {
            double s = 0.0;
            for (int k = 1; k <= n; ++k)
              s += scaled ? va(i, k) * w[k - 1] * va(j, k) : va(i, k) * vb(k, j);
            if (!sameBits(s, c(i, j))) ++bad;
          }
          for (int i = n + 1; i <= pc.ld; ++i)
            if (!sameBits(c(i, j), fill(i, j))) ++outside;
        }
        EXPECT_EQ(bad, 0) << (scaled ? "spectral, " : "matmul, ") << what;
        EXPECT_EQ(outside, 0) << (scaled ? "spectral, " : "matmul, ") << what;
      }
    }
  }
}

// Orders around the 32-row panels of the reduction and of the rotations, the
// 16 and 32 columns of the accumulation's panels, its 32-step blocks, and the
// orders from which threads share a phase (160) and a reduction step (800);
// leading dimensions and offsets that start the columns anywhere in a cache
// line, so that the first and last row panels are short.
struct SolveCase {
  int n, ld, off;
  bool blocks;  // a direct sum of small blocks: rows that need no reflection
};
const SolveCase kSolveCases[] = {{1, 1, 0, false},     {2, 2, 0, false},     {5, 7, 1, false},
                                 {31, 31, 0, false},   {32, 32, 0, false},   {33, 36, 3, false},
                                 {48, 48, 0, true},    {65, 67, 5, false},   {97, 104, 2, true},
                                 {161, 161, 0, false}, {203, 208, 7, false}, {290, 296, 1, true},
                                 {333, 336, 4, false}, {803, 808, 6, false}};

Mat symmetricMatrix(const SolveCase& sc, unsigned seed) {
  std::mt19937_64 gen(seed);
  std::uniform_real_distribution<double> u(-1.0, 1.0);
  Mat m(sc.ld, sc.n, sc.off);
  for (double& x : m.a) x = 1e300;  // above the diagonal and outside: never read
  int blockEnd = 0;
  for (int j = 1; j <= sc.n; ++j) {
    if (j > blockEnd) blockEnd = j + static_cast<int>(gen() % 7);
    for (int i = j; i <= sc.n; ++i) {
      double x = u(gen);
      if (sc.blocks && i > blockEnd) x = 0.0;
      m(i, j) = i == j ? x + 2.0 : x;
    }
  }
  return m;
}

// The variant's solver against the library's, bit for bit, with vectors and
// through the values-only path.
template <typename Solve, typename SolveUnless>
void checkEigenSolver(Solve solve, SolveUnless solveUnless) {
  mv::ThreadPool pool(3);
  unsigned seed = 21;
  for (const SolveCase& sc : kSolveCases) {
    const int n = sc.n;
    const Mat input = symmetricMatrix(sc, seed++);
    Mat want = input;
    std::vector<double> dw(n);
    mv::sdiag(want.data(), sc.ld, dw.data(), n);
    for (int threads : {1, 2, 3}) {
      const mv::Parallel par(pool, threads);
      const std::string what = "n = " + std::to_string(n) + ", ld = " + std::to_string(sc.ld) +
                               ", " + std::to_string(threads) + " threads";
      auto expectSame = [&](Mat& got, const std::vector<double>& dg, bool vectors,
                            const char* how) {
        int badValues = 0, badVectors = 0;
        for (int k = 0; k < n; ++k)
          if (!sameBits(dg[k], dw[k])) ++badValues;
        for (std::size_t k = 0; k < got.a.size(); ++k) {
          const std::size_t at = k - static_cast<std::size_t>(got.off);
          const bool inBlock = k >= static_cast<std::size_t>(got.off) &&
                               at % got.ld < static_cast<std::size_t>(n) &&
                               at / got.ld < static_cast<std::size_t>(n);
          // The block holds the vectors (or work space); nothing else changes.
          if ((vectors || !inBlock) && !sameBits(got.a[k], inBlock ? want.a[k] : input.a[k]))
            ++badVectors;
        }
        EXPECT_EQ(badValues, 0) << how << ", " << what;
        EXPECT_EQ(badVectors, 0) << how << ", " << what;
      };
      Mat got = input;
      std::vector<double> dg(n);
      solve(got.data(), sc.ld, dg.data(), n, par);
      expectSame(got, dg, true, "with vectors");

      got = input;
      EXPECT_FALSE(solveUnless(got.data(), sc.ld, dg.data(), n, dw[0] + 1.0, par)) << what;
      expectSame(got, dg, false, "values only");

      got = input;
      EXPECT_TRUE(solveUnless(got.data(), sc.ld, dg.data(), n, dw[0], par)) << what;
      expectSame(got, dg, true, "values, then vectors");
    }
  }
}

}  // namespace
