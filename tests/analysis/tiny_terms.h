// Products whose sums meet terms too small to change them, which the kernels
// pass over (linalg.cpp, skippable()): every element must still be the plain
// ascending sum, bit for bit.  The operands are built so that a bound that
// is too loose, a zero or NaN mishandled, or a check made on the wrong lanes
// changes some element:
//  - molecules far apart: blocks of order-one numbers along the diagonal,
//    tiny numbers between them (1e-35 down to subnormal) with exact zeros
//    where the "symmetry" of two functions differs, as in the products of a
//    checkpoint file of copies of one molecule;
//  - sums that are exactly 1 or -1 when terms in fixed binades follow, whose
//    largest magnitudes lie just below a quarter, a half and one unit in
//    the last place of 1;
//  - sums that large terms bring exactly to zero, to a power of two or to a
//    small remainder, followed by terms around a quarter of a unit in the
//    last place of the sum, of either sign, and by subnormal ones;
//  - infinities, NaNs and negative zeros among the large and the tiny terms,
//    and sums that overflow;
//  - rows of A and columns of B that are zero over the first blocks of k.
// Used by linalg_test.cpp for the library's kernels and by the
// kernels_*_test.cpp for each instruction set (any callables with the
// arguments of mv::matmul and mv::spectral).
#pragma once

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "core/matrix.h"
#include "core/parallel.h"

namespace tiny_terms {

// A column-major n by n matrix with leading dimension n + 3.
struct Square {
  int n, ld;
  std::vector<double> a;
  explicit Square(int order) : n(order), ld(order + 3), a(static_cast<std::size_t>(ld) * order) {}
  mv::MatView view() { return mv::MatView{a.data(), ld}; }
  double& operator()(int i, int j) { return view()(i, j); }
};

// Same bits, or both NaN (which NaN a sum of NaNs gives depends on the order
// of the operands of an addition, which the compiler may swap).
inline bool same(double x, double y) {
  return std::memcmp(&x, &y, sizeof x) == 0 || (std::isnan(x) && std::isnan(y));
}

// A number of magnitude 10^e (e may reach the subnormal range), random sign
// and digits.
inline double tiny(std::mt19937_64& gen, double eLow, double eHigh) {
  std::uniform_real_distribution<double> e(eLow, eHigh), m(1.0, 10.0);
  const double x = m(gen) * std::pow(10.0, e(gen));
  return gen() % 2 ? x : -x;
}

// Copies of one "molecule" of order block, the copies `blocks` apart along
// the diagonal: order-one numbers within a copy, tiny ones between copies
// (from 1e-35 down to subnormal numbers and underflow), exact zeros between
// functions of different parity (i % 3 == 0 or not) and a few more.
inline Square copies(int n, int block, unsigned seed) {
  std::mt19937_64 gen(seed);
  std::uniform_real_distribution<double> u(-1.0, 1.0);
  Square m(n);
  for (int j = 1; j <= n; ++j)
    for (int i = 1; i <= n; ++i) {
      const bool sameCopy = (i - 1) / block == (j - 1) / block;
      const bool sameParity = (i % 3 == 0) == (j % 3 == 0);
      double x = 0.0;
      if (sameParity && gen() % 16 != 0) x = sameCopy ? u(gen) : tiny(gen, -322.0, -35.0);
      m(i, j) = x;
    }
  return m;
}

// Order-one integers and halves in the first `large` values of k, so that
// many sums come to exactly zero, a power of two or a small remainder
// (2^-30 steps), then terms whose factors are chosen around 2^-27 and 2^-54
// times those sums, of either sign, and subnormal ones.
inline void nearTheLastPlace(Square& a, Square& b, int large, unsigned seed) {
  std::mt19937_64 gen(seed);
  const int n = a.n;
  const double steps[] = {0.0, 0.5, 1.0, 2.0, 0x1p-30};
  for (int k = 1; k <= n; ++k)
    for (int i = 1; i <= n; ++i) {
      double x, y;
      if (k <= large) {
        x = steps[gen() % 5];
        y = steps[gen() % 4];
      } else {
        // Products 2^-54 (1 + f) and 2^-52 (1 + f) and below, a quarter and
        // one ulp of a sum 1; or 1e-310 by 1e-10.
        const int e = 26 + static_cast<int>(gen() % 4);
        x = std::ldexp(1.0 + std::ldexp(static_cast<double>(gen() % 4), -52), -e);
        y = std::ldexp(1.0, -27) * (gen() % 8 == 0 ? 1.0 + 0x1p-52 : 1.0);
        if (gen() % 13 == 0) {
          x = 1e-310;
          y = 1e-10;
        }
      }
      a(i, k) = gen() % 2 ? x : -x;
      b(k, i) = gen() % 2 ? y : -y;
    }
}

// Every sum exactly +1 or -1 after the first 64 values of k; then three
// sub-blocks of 64 whose factors lie in fixed binades, so that the largest
// term of each lane is just below 2^-54 (a quarter ulp of 1: may be passed
// over), 2^-53 and 2^-52 (may change a sum of 1 when of the other sign).
// A bound one power of two too loose passes over terms that change sums.
inline void atTheThreshold(Square& a, Square& b, unsigned seed) {
  std::mt19937_64 gen(seed);
  std::uniform_real_distribution<double> low(1.0, 2.0), high(1.5, 2.0);
  auto sign = [&](double x) { return gen() % 2 ? x : -x; };
  for (int k = 1; k <= 256; ++k)
    for (int i = 1; i <= 256; ++i) {
      if (k <= 64) {
        a(i, k) = k == 1 + (i - 1) % 64 ? sign(1.0) : 0.0;
        b(k, i) = sign(1.0);
      } else if (k <= 128) {
        a(i, k) = sign(std::ldexp(low(gen), -28));
        b(k, i) = sign(std::ldexp(low(gen), -28));
      } else if (k <= 192) {
        a(i, k) = sign(std::ldexp(high(gen), -27));
        b(k, i) = sign(std::ldexp(high(gen), -28));
      } else {
        a(i, k) = sign(std::ldexp(high(gen), -27));
        b(k, i) = sign(std::ldexp(high(gen), -27));
      }
    }
}

// The product by the kernels (callables with the arguments of mv::matmul
// and mv::spectral) on 1, 2 and 3 threads against the plain ascending sums
// of C = A B, or of C = U diag(w) U^T with A = U when w is given (B is not
// used then): all elements, bit for bit, and nothing outside the leading
// block written.
template <typename MatMul, typename Spectral>
void expectPlainSums(MatMul matmul, Spectral spectral, Square& a, Square& b,
                     const std::vector<double>* w, const std::string& what) {
  const int n = a.n;
  Square want(n);
  for (int j = 1; j <= n; ++j)
    for (int i = 1; i <= n; ++i) {
      double s = 0.0;
      for (int k = 1; k <= n; ++k)
        s += w ? a(i, k) * (*w)[static_cast<std::size_t>(k - 1)] * a(j, k) : a(i, k) * b(k, j);
      want(i, j) = s;
    }
  mv::ThreadPool pool(3);
  for (int threads : {1, 2, 3}) {
    const mv::Parallel par(pool, threads);
    Square c(n);
    for (double& x : c.a) x = 7.0;
    if (w)
      spectral(c.view(), a.view(), w->data(), n, par);
    else
      matmul(c.view(), a.view(), b.view(), n, par);
    int bad = 0, outside = 0;
    for (int j = 1; j <= n; ++j) {
      for (int i = 1; i <= n; ++i)
        if (!same(want(i, j), c(i, j))) ++bad;
      for (int i = n + 1; i <= c.ld; ++i)
        if (c(i, j) != 7.0) ++outside;
    }
    EXPECT_EQ(bad, 0) << what << ", " << threads << " threads";
    EXPECT_EQ(outside, 0) << what << ", " << threads << " threads";
  }
}

// Every case through matmul and spectral.
template <typename MatMul, typename Spectral>
void checkTinyTerms(MatMul matmul, Spectral spectral) {
  auto check = [&](Square& a, Square& b, const std::vector<double>* w, const std::string& what) {
    expectPlainSums(matmul, spectral, a, b, w, what);
  };

  // Four copies of order 75 and three of order 97 (copy boundaries inside
  // the 64-long sub-blocks of k and the 256-long blocks): W W, P S, S P, and
  // U diag(w) U^T with weights from 1e3 down to subnormal, zero, negative.
  for (const int block : {75, 97}) {
    const int n = block == 75 ? 300 : 291;
    const std::string of = "copies of " + std::to_string(block);
    Square w = copies(n, block, 11 + static_cast<unsigned>(block));
    check(w, w, nullptr, "W W, " + of);
    Square p = copies(n, block, 12 + static_cast<unsigned>(block));
    for (int j = 1; j <= n; ++j)
      for (int i = 1; i <= n; ++i)
        if ((i - 1) / block != (j - 1) / block) p(i, j) = 0.0;
    check(p, w, nullptr, "P S, " + of);
    check(w, p, nullptr, "S P, " + of);
    std::mt19937_64 gen(13);
    std::vector<double> weights(static_cast<std::size_t>(n));
    for (double& x : weights) x = gen() % 7 == 0 ? 0.0 : tiny(gen, -320.0, 3.0);
    check(w, w, &weights, "U diag(w) U^T, " + of);
  }

  {
    Square a(256), b(256);
    atTheThreshold(a, b, 29);
    check(a, b, nullptr, "sums of one, then terms near a quarter ulp");

    // Sums of one and tiny terms, but rows 7 and 40 of A zero up to a single
    // tiny factor at the first and at the last k of a sub-block: their sums
    // are still zero there, and must take that one term.
    Square c(128), d(128);
    std::mt19937_64 gen(37);
    for (int k = 1; k <= 128; ++k)
      for (int i = 1; i <= 128; ++i) {
        c(i, k) = k <= 64 ? (k == 1 + (i - 1) % 64 ? 1.0 : 0.0) : tiny(gen, -31.0, -30.0);
        d(k, i) = k <= 64 ? 1.0 : tiny(gen, -31.0, -30.0);
      }
    for (int k = 1; k <= 128; ++k) {
      c(7, k) = k == 65 ? 1e-30 : 0.0;
      c(40, k) = k == 128 ? -1e-30 : 0.0;
    }
    check(c, d, nullptr, "one term after a zero sum");
  }

  // Sums brought to zero, powers of two and small remainders, then terms
  // around a quarter ulp of them (the first 64 and the first 300 values of
  // k large).
  for (const int large : {64, 300}) {
    Square a(333), b(333);
    nearTheLastPlace(a, b, large, 17 + static_cast<unsigned>(large));
    check(a, b, nullptr, "near the last place after " + std::to_string(large));
  }

  // Infinities, NaNs and negative zeros among the large terms and among the
  // tiny ones; a sum that overflows to an infinity before tiny terms, and
  // meets an infinity of the other sign after them.
  {
    Square a = copies(200, 70, 19), b = copies(200, 70, 20);
    a(5, 150) = HUGE_VAL;  // infinity times tiny, late in the sum
    b(160, 9) = std::nan("");
    a(40, 3) = -HUGE_VAL;  // among the large terms
    for (int k = 1; k <= 200; ++k) a(77, k) = -0.0;
    for (int k = 1; k <= 70; ++k) {
      a(100, k) = 1e308;  // overflows within the first copy
      b(k, 100) = 1.0;
    }
    b(190, 100) = -HUGE_VAL;
    check(a, b, nullptr, "special values");

    // Sums of about 1e300 everywhere, then tiny factors (terms far below a
    // quarter ulp) with an infinity or a NaN among those of A: its terms
    // must be added, whatever the size of the sum.
    Square c(128), d(128);
    std::mt19937_64 gen(31);
    for (int k = 1; k <= 128; ++k)
      for (int i = 1; i <= 128; ++i) {
        c(i, k) = k <= 64 ? (k == 1 + (i - 1) % 64 ? 1e300 : 0.0) : tiny(gen, -300.0, -290.0);
        d(k, i) = k <= 64 ? 1.0 : tiny(gen, -300.0, -290.0);
      }
    for (int i = 1; i <= 128; i += 5) c(i, 64 + i % 64 + 1) = i % 2 ? HUGE_VAL : std::nan("");
    check(c, d, nullptr, "non-finite factors after sums of 1e300");
    std::vector<double> weights(200, 1.0);
    weights[120] = HUGE_VAL;
    weights[60] = -0.0;
    check(b, b, &weights, "special weights");
  }

  // Rows of A and columns of B zero over the first 150 values of k, and a
  // row of zeros times a column of infinities (NaN terms).
  {
    Square a = copies(260, 130, 23), b = copies(260, 130, 24);
    for (int k = 1; k <= 150; ++k)
      for (int i = 1; i <= 130; ++i) {
        a(i, k) = 0.0;
        b(k, i) = -0.0;
      }
    for (int k = 1; k <= 260; ++k) {
      a(200, k) = 0.0;
      b(k, 201) = HUGE_VAL;
    }
    check(a, b, nullptr, "zero starts");
  }
}

}  // namespace tiny_terms
