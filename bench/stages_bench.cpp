// Micro-benchmarks of the stages that dominate a run on a large basis: the
// checkpoint copy and read, the overlap assembly, one dense product and the
// symmetric eigen-solver, plus the whole in-process analysis for reference.
//
// The checkpoint file of the large case is tests/data/c10h8_rhf_ccpvtz_cart
// (naphthalene, 470 basis functions); another file can be named with the
// environment variable MIRVANTE_BENCH_FCHK.
#include <benchmark/benchmark.h>

#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "analysis/linalg.h"
#include "analysis/sdiag.h"
#include "app/pipeline.h"
#include "checkpoint/reader.h"
#include "checkpoint/text.h"
#include "core/limits.h"
#include "core/matrix.h"
#include "core/stop.h"
#include "integrals/basis.h"
#include "integrals/overlap.h"
#include "report/text_report.h"

namespace {

using namespace mv;

std::string checkpointPath() {
  const char* e = std::getenv("MIRVANTE_BENCH_FCHK");
  if (e != nullptr && *e != '\0') return e;
  return std::string(MV_BENCH_DATA) + "/c10h8_rhf_ccpvtz_cart.fchk";
}

std::string slurp(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream ss;
  ss << in.rdbuf();
  return ss.str();
}

const Limits kLimits = Limits::classicRun();

// The checkpoint file read and its basis expanded; false when it stops.
bool loadCheckpoint(Checkpoint& ck, Basis& basis) {
  try {
    ck = readCheckpoint(CheckpointText::fromString(slurp(checkpointPath()), "Test.FChk"), kLimits);
    basis = expandBasis(ck.shells, ck.natoms, ck.nbf, kLimits);
  } catch (const Stop&) {
    return false;
  }
  return true;
}

// A symmetric matrix of order n with elements in [-1, 1] and a dominant
// positive diagonal, from a fixed seed.
Matrix symmetric(int n, unsigned seed) {
  std::mt19937_64 gen(seed);
  std::uniform_real_distribution<double> u(-1.0, 1.0);
  Matrix a(n, n);
  for (int j = 1; j <= n; ++j)
    for (int i = j; i <= n; ++i) {
      const double x = (i == j) ? 1.0 + n * 0.01 + u(gen) : u(gen) * 0.05;
      a(i, j) = x;
      a(j, i) = x;
    }
  return a;
}

void copyInto(Matrix& to, const Matrix& from) {
  for (int j = 1; j <= from.cols(); ++j)
    std::memcpy(to.col(j), from.col(j), static_cast<std::size_t>(from.rows()) * sizeof(double));
}

// Copy of "Test.FChk" into "Tmp" (read, pad to 80 columns, write).
void BM_CopyCheckpoint(benchmark::State& state) {
  const auto dir = std::filesystem::temp_directory_path() / "mirvante-bench-copy";
  std::filesystem::create_directories(dir);
  const std::string in = checkpointPath();
  const std::string out = (dir / "Tmp").string();
  for (auto _ : state) {
    const CheckpointText t = CheckpointText::fromFile(in, "Test.FChk");
    t.writeCopy(out);
    benchmark::DoNotOptimize(t.lineCount());
  }
  state.SetBytesProcessed(state.iterations() *
                          static_cast<int64_t>(std::filesystem::file_size(in)));
  std::filesystem::remove_all(dir);
}
BENCHMARK(BM_CopyCheckpoint)->Unit(benchmark::kMillisecond);

// The reader on the loaded text: every section, the MO coefficients and the density.
void BM_ReadCheckpoint(benchmark::State& state) {
  const std::string text = slurp(checkpointPath());
  const CheckpointText t = CheckpointText::fromString(text, "Test.FChk");
  for (auto _ : state) {
    try {
      Checkpoint ck = readCheckpoint(t, kLimits);
      benchmark::DoNotOptimize(ck.density.col(1));
    } catch (const Stop&) {
      state.SkipWithError("the reader stopped");
      break;
    }
  }
  state.SetBytesProcessed(state.iterations() * static_cast<int64_t>(text.size()));
}
BENCHMARK(BM_ReadCheckpoint)->Unit(benchmark::kMillisecond);

// Overlap assembly: normalisation of the primitives, renormalisation of the
// contractions and S, from the basis as expanded.
void BM_BuildOverlap(benchmark::State& state) {
  Checkpoint ck;
  Basis basis;
  if (!loadCheckpoint(ck, basis)) {
    state.SkipWithError("cannot read the checkpoint file");
    return;
  }
  for (auto _ : state) {
    Matrix s = overlapMatrix(basis, ck.coords);
    benchmark::DoNotOptimize(s.col(1));
  }
  state.counters["nbf"] = basis.nbf;
}
BENCHMARK(BM_BuildOverlap)->Unit(benchmark::kMillisecond);

// C = A * B of order n.
void BM_MatMul(benchmark::State& state) {
  const int n = static_cast<int>(state.range(0));
  const Matrix a = symmetric(n, 1), b = symmetric(n, 2);
  Matrix c(n, n);
  for (auto _ : state) {
    matmul(c.view(), a.view(), b.view(), n, Parallel());
    benchmark::ClobberMemory();
  }
  state.counters["GFlop/s"] = benchmark::Counter(
      2.0 * n * n * n, benchmark::Counter::kIsIterationInvariantRate, benchmark::Counter::kIs1000);
}
BENCHMARK(BM_MatMul)->Arg(100)->Arg(250)->Arg(500)->Unit(benchmark::kMillisecond);

// C = U diag(w) U^T of order n.
void BM_Spectral(benchmark::State& state) {
  const int n = static_cast<int>(state.range(0));
  const Matrix u = symmetric(n, 3);
  Matrix c(n, n);
  std::vector<double> w(static_cast<std::size_t>(n));
  for (int k = 1; k <= n; ++k) w[static_cast<std::size_t>(k - 1)] = 1.0 / k;
  for (auto _ : state) {
    spectral(c.view(), u.view(), w.data(), n, Parallel());
    benchmark::ClobberMemory();
  }
}
BENCHMARK(BM_Spectral)->Arg(500)->Unit(benchmark::kMillisecond);

// All eigenvalues and eigenvectors of the symmetric matrix `from`.
void diagonalise(benchmark::State& state, const Matrix& from) {
  const int n = from.rows();
  Matrix a(n, n);
  std::vector<double> w(static_cast<std::size_t>(n));
  for (auto _ : state) {
    state.PauseTiming();
    copyInto(a, from);
    state.ResumeTiming();
    sdiag(a.col(1), a.ld(), w.data(), n);
    benchmark::ClobberMemory();
  }
  state.counters["n"] = n;
}

void BM_Sdiag(benchmark::State& state) {
  diagonalise(state, symmetric(static_cast<int>(state.range(0)), 4));
}
BENCHMARK(BM_Sdiag)->Arg(100)->Arg(250)->Arg(500)->Unit(benchmark::kMillisecond);

// The eigen-solver on the overlap matrix of the checkpoint file (as in the
// analysis, in the checkpoint's order of functions).
void BM_SdiagOverlap(benchmark::State& state) {
  Checkpoint ck;
  Basis basis;
  if (!loadCheckpoint(ck, basis)) {
    state.SkipWithError("cannot read the checkpoint file");
    return;
  }
  diagonalise(state, toFileOrder(overlapMatrix(basis, ck.coords), basis.map));
}
BENCHMARK(BM_SdiagOverlap)->Unit(benchmark::kMillisecond);

// The whole analysis in process, from the loaded text to the last table,
// with its report written to memory.
void BM_WholeRun(benchmark::State& state) {
  const std::string text = slurp(checkpointPath());
  for (auto _ : state) {
    state.PauseTiming();
    CheckpointText t = CheckpointText::fromString(text, "Test.FChk");
    std::ostringstream out;
    TextReport report(out);
    RunResults results;
    state.ResumeTiming();
    try {
      analyse(std::move(t), RunOptions(), results, &report);
    } catch (const Stop&) {
      state.SkipWithError("the run stopped");
      break;
    }
  }
}
BENCHMARK(BM_WholeRun)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
