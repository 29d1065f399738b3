// Micro-benchmarks of the stages that dominate a run on a large basis: the
// checkpoint copy and scan, the overlap assembly and the symmetric
// eigen-solver on the overlap matrix, plus the whole in-process run for
// reference.  The dense kernels alone are in dense_bench.cpp.
//
// The checkpoint file of the large case is tests/data/c10h8_rhf_ccpvtz_cart
// (naphthalene, 470 basis functions); another file can be named with the
// environment variable MIRVANTE_BENCH_FCHK.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <sstream>
#include <string>

#include "analysis/analysis.h"
#include "analysis/linalg.h"
#include "checkpoint/input.h"
#include "checkpoint/scratch.h"
#include "driver/report.h"
#include "driver/run.h"
#include "driver/stop.h"
#include "integrals/overlap.h"
#include "integrals/primitives.h"
#include "tables.h"

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

// The report of the in-process runs goes nowhere.
std::ostringstream sink;
void silence() {
  sink.str("");
  setReportStream(&sink);
  setErrorStream(&sink);
}

// Fresh tables, the checkpoint loaded into the scratch copy and read.
bool loadCheckpoint(const std::string& text) {
  resetTables();
  silence();
  tmp.loadText(text);
  try {
    init();
    inputFromScratch();
  } catch (...) {
    return false;
  }
  return true;
}

// Copy of "Test.FChk" into "Tmp" (read, pad to 80 columns, write).
void BM_CopyCheckpoint(benchmark::State& state) {
  const auto dir = std::filesystem::temp_directory_path() / "mirvante-bench-copy";
  std::filesystem::create_directories(dir);
  const std::string in = checkpointPath();
  const std::string out = (dir / "Tmp").string();
  for (auto _ : state) benchmark::DoNotOptimize(tmp.copyFrom(in, out));
  state.SetBytesProcessed(state.iterations() *
                          static_cast<int64_t>(std::filesystem::file_size(in)));
  std::filesystem::remove_all(dir);
}
BENCHMARK(BM_CopyCheckpoint)->Unit(benchmark::kMillisecond);

// Scan of the loaded copy: every section, the MO coefficients and the density.
void BM_ScanCheckpoint(benchmark::State& state) {
  const std::string text = slurp(checkpointPath());
  silence();
  tmp.loadText(text);
  init();
  for (auto _ : state) {
    sink.str("");
    inputFromScratch();
  }
  state.SetBytesProcessed(state.iterations() * static_cast<int64_t>(text.size()));
}
BENCHMARK(BM_ScanCheckpoint)->Unit(benchmark::kMillisecond);

// Overlap assembly: normalisation of the primitives, renormalisation of the
// contractions and S, from the coefficients as read in every iteration.
void BM_BuildOverlap(benchmark::State& state) {
  if (!loadCheckpoint(slurp(checkpointPath()))) {
    state.SkipWithError("cannot read the checkpoint file");
    return;
  }
  static decltype(g.coeff) fresh;
  fresh = g.coeff;
  for (auto _ : state) {
    state.PauseTiming();
    g.coeff = fresh;
    state.ResumeTiming();
    buildOverlap();
    benchmark::DoNotOptimize(g.stv1.a[0]);
  }
  state.counters["nbf"] = g.nat(2);
}
BENCHMARK(BM_BuildOverlap)->Unit(benchmark::kMillisecond);

// Work matrices of the eigen-solver benchmark, on cache lines like the
// program's.
alignas(64) Square ma;
alignas(64) Square mb;
Vec<double, kLd> wv;

// The eigen-solver on the overlap matrix of the checkpoint file (as in the
// analysis, in the program's own basis-function order).
void BM_SdiagOverlap(benchmark::State& state) {
  if (!loadCheckpoint(slurp(checkpointPath()))) {
    state.SkipWithError("cannot read the checkpoint file");
    return;
  }
  buildOverlap();
  const int n = g.nat(2);
  std::memcpy(mb.a, g.stv1.a, sizeof mb.a);
  for (auto _ : state) {
    state.PauseTiming();
    std::memcpy(ma.a, mb.a, sizeof ma.a);
    state.ResumeTiming();
    sdiag(ma.a, kLd, wv.data(), n, Parallel());
    benchmark::ClobberMemory();
  }
  state.counters["nbf"] = n;
}
BENCHMARK(BM_SdiagOverlap)->Unit(benchmark::kMillisecond);

// The whole run in process, from the loaded scratch copy to the last table.
void BM_WholeRun(benchmark::State& state) {
  const std::string text = slurp(checkpointPath());
  silence();
  tmp.loadText(text);
  for (auto _ : state) {
    state.PauseTiming();
    resetTables();
    sink.str("");
    state.ResumeTiming();
    try {
      mainRoutine(false);
    } catch (const Stop&) {
      state.SkipWithError("the run stopped");
      break;
    }
  }
}
BENCHMARK(BM_WholeRun)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
