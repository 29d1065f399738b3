#include "app/pipeline.h"

#include <cmath>
#include <string>

#include "checkpoint/reader.h"
#include "core/stop.h"
#include "integrals/overlap.h"

namespace mv {

namespace {

// Accepted deviation of the spin density's trace from nalpha - nbeta.
constexpr double kSpinTolerance = 0.1;

// The spin density of a spin-unrestricted SCF density must describe
// nalpha - nbeta unpaired electrons in this basis.
void checkSpinDensity(const Checkpoint& ck, const Matrix& s) {
  const double t = traceWithS(ck.spin, s);
  const int want = ck.nalpha - ck.nbeta;
  if (std::fabs(t - want) <= kSpinTolerance) return;
  char buf[64];
  std::snprintf(buf, sizeof buf, "%.6f", t);
  refuse(" The spin density ('" + sectionName(ck.spinLabel) + "') is wrong: trace(Ps*S) = " + buf +
             ", but nalpha - nbeta = " + std::to_string(want) + ". STOP",
         kCodeSpinDensity, ck.spinLine);
}

}  // namespace

void analyse(CheckpointText text, const RunOptions& options, RunResults& r, TextReport* report) {
  const Limits& limits = options.limits;
  Checkpoint& ck = r.ck;

  // The checkpoint file, in the order its records appear in the report.
  const Parallel serial;
  const Parallel& par = options.par != nullptr ? *options.par : serial;
  CheckpointReader reader(text, limits, ck);
  reader.header();
  if (report) report->header(ck, !limits.classic && ck.unrestricted());
  reader.body();
  if (report) report->densitySelection(ck);
  reader.density();
  text.release();
  if (report) report->primitiveShells(ck);
  r.basis = expandBasis(ck.shells, ck.natoms, ck.nbf, limits);
  if (report) {
    report->occupation(ck);
    report->counts(ck.natoms, r.basis.expandedPrimitives, ck.nbf);
  }

  // The overlap matrix, the partition of the functions among the atoms and
  // its agreement with the file's own counts.
  Matrix sOwn = overlapMatrix(r.basis, ck.coords, par);
  r.partition = getparm(r.basis.first, r.basis.last, limits);
  if (report) report->partition(r.partition);
  if (ck.natoms != r.partition.natoms)
    stopCode("7584", "the file has " + std::to_string(ck.natoms) + " atoms, its basis " +
                         std::to_string(r.partition.natoms));
  if (ck.nbf != r.partition.nbasis)
    stopCode("7585", "the file has " + std::to_string(ck.nbf) + " basis functions, its atoms " +
                         std::to_string(r.partition.nbasis));
  const Matrix s = toFileOrder(sOwn, r.basis.map, par);
  sOwn.release();

  // The density to analyse.
  r.density = checkDensity(ck, s, limits);
  if (report) report->densityCheck(r.density);
  if (r.density.stop) throw *r.density.stop;
  ck.mo.release();
  std::vector<double>().swap(ck.packed);
  const bool spinTerm = !ck.spin.empty();
  if (spinTerm) checkSpinDensity(ck, s);

  // Mulliken populations.
  const int natoms = r.partition.natoms;
  const Vec1<int> hold = inpint(r.basis.first, r.basis.last, natoms, r.partition.nbasis);
  r.populations = mulliken(s, r.density.density, hold, natoms);
  if (report) report->populations(r.populations);

  // Bond orders and valences.
  BondOrderAnalysis bo(std::move(r.density.density), s, r.basis.first, r.basis.last,
                       r.populations.qat, spinTerm ? &ck.spin : nullptr, par);
  bo.unpaired();
  if (report) report->unpaired(bo.results());
  bo.symmetrised();
  if (report) report->hermiticity(bo.results());
  bo.bondOrders();
  const BondOrders& b = bo.results();
  if (report) {
    report->bondMatrix(b, ck.atomicNumber);
    report->totalValences(b, ck.atomicNumber);
  }
  requireFinite(b.used.data(), natoms, "valences used in bonds");
  if (report) report->usedValences(b, ck.atomicNumber);
  requireFinite(b.free.data(), natoms, "free valences");
  if (report) report->freeValences(b, ck.atomicNumber);
  r.bonds = bo.take();
  ck.spin.release();
  r.complete = true;
}

}  // namespace mv
