// The time of every stage of one analysis, on N threads:
//   mv_stage_times FILE.fchk [threads]
// Each stage runs once, as in a run of the program; the times are wall
// times.  The stages are those of app/pipeline.cpp, without the report.
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <utility>

#include "analysis/bondorder.h"
#include "analysis/density.h"
#include "analysis/partition.h"
#include "checkpoint/reader.h"
#include "core/stop.h"
#include "integrals/basis.h"
#include "integrals/overlap.h"

using namespace mv;

int main(int argc, char** argv) {
  if (argc < 2) {
    std::fprintf(stderr, "usage: mv_stage_times FILE.fchk [threads]\n");
    return 2;
  }
  const int threads = argc > 2 ? std::atoi(argv[2]) : 1;
  ThreadPool pool(threads);
  const Parallel par(pool, threads);
  const Limits limits = Limits::commandLine();
  auto t = std::chrono::steady_clock::now();
  const auto start = t;
  auto lap = [&](const char* stage) {
    const auto now = std::chrono::steady_clock::now();
    std::printf("%-36s %8.3f s\n", stage, std::chrono::duration<double>(now - t).count());
    t = now;
  };
  try {
    CheckpointText text = CheckpointText::fromFile(argv[1], argv[1], par);
    lap("lines of the file");
    Checkpoint ck;
    CheckpointReader reader(text, limits, ck);
    reader.header();
    reader.body();
    reader.density();
    text.release();
    lap("sections, orbitals, density");
    const Basis b = expandBasis(ck.shells, ck.natoms, ck.nbf, limits);
    Matrix own = overlapMatrix(b, ck.coords, par);
    lap("basis and overlap matrix");
    const Partition p = getparm(b.first, b.last, limits);
    const Matrix s = toFileOrder(own, b.map, par);
    own.release();
    DensityCheck d = checkDensity(ck, s, limits);
    ck.mo.release();
    const Vec1<int> hold = inpint(b.first, b.last, p.natoms, p.nbasis);
    const Populations pop = mulliken(s, d.density, hold, p.natoms);
    lap("density check and populations");
    BondOrderAnalysis bo(std::move(d.density), s, b.first, b.last, pop.qat,
                         ck.spin.empty() ? nullptr : &ck.spin, par);
    // With threads to share, the eigen-solve of S runs beside W and W W.
    const bool beside = threads >= 2 && ck.nbf >= BondOrderAnalysis::kBesideOrder;
    bo.unpaired();
    lap(beside ? "W, W W | eigen-solve, S^1/2, S^-1/2" : "W = PS, W W, unpaired electrons");
    bo.symmetrised();
    lap(beside ? "X = S^1/2 E S^-1/2" : "eigen-solve of S, S^1/2, S^-1/2, X");
    bo.bondOrders();
    lap("X^1/2, R, bond orders, valences");
    std::printf("%-36s %8.3f s  (%d basis functions, %d threads)\n", "whole analysis",
                std::chrono::duration<double>(t - start).count(), ck.nbf, threads);
  } catch (const Stop& s) {
    std::fprintf(stderr, "mv_stage_times: %s\n", s.message().c_str());
    return 1;
  }
  return 0;
}
