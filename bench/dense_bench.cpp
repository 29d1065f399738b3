// Micro-benchmarks of the dense kernels of the bond-order analysis at the
// orders of large basis sets: C = A B, C = U diag(w) U^T, the symmetric
// eigen-solver with eigenvectors, and its eigenvalues-only path, each on 1
// and 2 threads (wall time).
//
// Built with MV_BENCH_BASELINE defined, the same benchmarks call the
// single-threaded kernels of an earlier tree (bench/compare_baseline.sh
// builds one and runs both binaries in turn).  Built with
// MV_KERNELS_ONLY_AVX2 or MV_KERNELS_ONLY_BASELINE (mv_bench_avx2 and
// mv_bench_baseline), they call the kernels built for that instruction set
// alone, to time a variant that the processor would not be given.
#if defined(MV_KERNELS_ONLY_AVX2) || defined(MV_KERNELS_ONLY_BASELINE)
#include "analysis/linalg.cpp"
#include "analysis/sdiag.cpp"
namespace kernels = mv::only;
#endif

#include <benchmark/benchmark.h>

#include <cstdlib>
#include <cstring>
#include <random>
#include <vector>

#include "analysis/linalg.h"
#include "analysis/sdiag.h"
#include "core/matrix.h"
#ifndef MV_BENCH_BASELINE
#include "core/parallel.h"
#endif

#if !defined(MV_KERNELS_ONLY_AVX2) && !defined(MV_KERNELS_ONLY_BASELINE)
namespace kernels = mv;
#endif

namespace {

using mv::MatView;

// An n by n matrix with leading dimension n, on cache lines.
struct Matrix {
  int n;
  double* p;
  explicit Matrix(int order)
      : n(order),
        p(static_cast<double*>(
            std::aligned_alloc(64, (sizeof(double) * order * order + 63) / 64 * 64))) {}
  ~Matrix() { std::free(p); }
  Matrix(const Matrix&) = delete;
  Matrix& operator=(const Matrix&) = delete;
  MatView view() const { return MatView{p, n}; }
  std::size_t bytes() const { return sizeof(double) * n * n; }
};

// A symmetric matrix of order n with elements in [-1, 1] and a dominant
// positive diagonal, from a fixed seed.
void fillSymmetric(const Matrix& m, unsigned seed) {
  const int n = m.n;
  std::mt19937_64 gen(seed);
  std::uniform_real_distribution<double> u(-1.0, 1.0);
  const MatView a = m.view();
  for (int j = 1; j <= n; ++j)
    for (int i = j; i <= n; ++i) {
      const double x = (i == j) ? 1.0 + n * 0.01 + u(gen) : u(gen) * 0.05;
      a(i, j) = x;
      a(j, i) = x;
    }
}

#ifdef MV_BENCH_BASELINE
struct Threads {
  explicit Threads(int) {}
};
#define MV_PAR
#else
// The kernels' threads: a pool of two, of which a run uses `threads`.
mv::ThreadPool& pool() {
  static mv::ThreadPool p(2);
  return p;
}
struct Threads {
  mv::Parallel par;
  explicit Threads(int threads) : par(pool(), threads) {}
};
#define MV_PAR , th.par
#endif

void BM_MatMul(benchmark::State& state) {
  const int n = static_cast<int>(state.range(0));
  [[maybe_unused]] const Threads th(static_cast<int>(state.range(1)));
  const Matrix a(n), b(n), c(n);
  fillSymmetric(a, 1);
  fillSymmetric(b, 2);
  for (auto _ : state) {
    kernels::matmul(c.view(), a.view(), b.view(), n MV_PAR);
    benchmark::ClobberMemory();
  }
  state.counters["GFlop/s"] = benchmark::Counter(
      2.0 * n * n * n, benchmark::Counter::kIsIterationInvariantRate, benchmark::Counter::kIs1000);
}

void BM_Spectral(benchmark::State& state) {
  const int n = static_cast<int>(state.range(0));
  [[maybe_unused]] const Threads th(static_cast<int>(state.range(1)));
  const Matrix u(n), c(n);
  fillSymmetric(u, 3);
  std::vector<double> w(n);
  for (int k = 0; k < n; ++k) w[k] = 1.0 / (k + 1);
  for (auto _ : state) {
    kernels::spectral(c.view(), u.view(), w.data(), n MV_PAR);
    benchmark::ClobberMemory();
  }
}

// All eigenvalues and eigenvectors; the input is copied back (untimed)
// before every solve.
void BM_Sdiag(benchmark::State& state) {
  const int n = static_cast<int>(state.range(0));
  [[maybe_unused]] const Threads th(static_cast<int>(state.range(1)));
  const Matrix input(n), a(n);
  fillSymmetric(input, 4);
  std::vector<double> d(n);
  for (auto _ : state) {
    state.PauseTiming();
    std::memcpy(a.p, input.p, input.bytes());
    state.ResumeTiming();
    kernels::sdiag(a.p, n, d.data(), n MV_PAR);
    benchmark::ClobberMemory();
  }
}

// The eigenvalues alone (every eigenvalue below the threshold).
void BM_SdiagValues(benchmark::State& state) {
  const int n = static_cast<int>(state.range(0));
  [[maybe_unused]] const Threads th(static_cast<int>(state.range(1)));
  const Matrix input(n), a(n);
  fillSymmetric(input, 5);
  std::vector<double> d(n);
  for (auto _ : state) {
    state.PauseTiming();
    std::memcpy(a.p, input.p, input.bytes());
    state.ResumeTiming();
    benchmark::DoNotOptimize(kernels::sdiagUnlessAllBelow(a.p, n, d.data(), n, 1e300 MV_PAR));
    benchmark::ClobberMemory();
  }
}

// Orders 470 (the largest bundled checkpoint), 1000 and 2000; 1 and 2
// threads (the baseline has one only).
void orders(benchmark::internal::Benchmark* b) {
#ifdef MV_BENCH_BASELINE
  const int maxThreads = 1;
#else
  const int maxThreads = 2;
#endif
  for (int n : {470, 1000, 2000})
    for (int t = 1; t <= maxThreads; ++t) b->Args({n, t});
  b->ArgNames({"n", "threads"})->Unit(benchmark::kMillisecond)->UseRealTime();
}

BENCHMARK(BM_MatMul)->Apply(orders);
BENCHMARK(BM_Spectral)->Apply(orders);
BENCHMARK(BM_Sdiag)->Apply(orders);
BENCHMARK(BM_SdiagValues)->Apply(orders);

}  // namespace
