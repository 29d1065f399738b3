#include "app/pipeline.h"

#include <algorithm>
#include <atomic>
#include <cctype>
#include <cmath>
#include <exception>
#include <functional>
#include <limits>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

#include "analysis/convention.h"
#include "analysis/occupations.h"
#include "checkpoint/molden.h"
#include "checkpoint/orbitals.h"
#include "checkpoint/reader.h"
#include "checkpoint/validate.h"
#include "checkpoint/wavefiles.h"
#include "core/stop.h"
#include "integrals/overlap.h"

namespace mv {

namespace {

// Accepted deviation of the spin density's trace from nalpha - nbeta.
constexpr double kSpinTolerance = 0.1;

// The spin density of a spin-unrestricted SCF density must describe
// nalpha - nbeta unpaired electrons in this basis.
void checkSpinDensity(const Checkpoint& ck, const Matrix& s, double tolerance) {
  const double t = traceWithS(ck.spin, s);
  const int want = ck.nalpha - ck.nbeta;
  if (std::fabs(t - want) <= tolerance) return;
  char buf[64];
  std::snprintf(buf, sizeof buf, "%.6f", t);
  refuse(" The spin density ('" + sectionName(ck.spinLabel) + "') is wrong: trace(Ps*S) = " + buf +
             ", but nalpha - nbeta = " + std::to_string(want) + ". STOP",
         kCodeSpinDensity, ck.spinLine);
}

// What the basis gives the run: the expanded basis, the partition of the
// functions among the atoms and S in the file's order of functions.  Made at
// its place in the run, or early, beside the reading of the orbitals and the
// density; a stop is kept with the step it came from and rethrown when the
// run reaches that step, after the records that precede it.
struct BasisStage {
  enum Step { kNone, kExpand, kOverlap, kPartition, kFileOrder };
  Basis basis;
  Partition partition;
  Matrix s;
  Step failedAt = kNone;
  std::exception_ptr failure;
  void rethrowAt(Step step) const {
    if (failedAt == step) std::rethrow_exception(failure);
  }
};

// Reads of ck only the counts, the shells and the atoms' coordinates, which
// the reading of the orbitals and the density leaves alone.
BasisStage buildBasis(const Checkpoint& ck, const Limits& limits, const Parallel& par) {
  BasisStage b;
  BasisStage::Step step = BasisStage::kExpand;
  try {
    b.basis = expandBasis(ck.shells, ck.natoms, ck.nbf, limits);
    step = BasisStage::kOverlap;
    Matrix sOwn = overlapMatrix(b.basis, ck.coords, par);
    step = BasisStage::kPartition;
    b.partition = getparm(b.basis.first, b.basis.last, limits);
    step = BasisStage::kFileOrder;
    b.s = toFileOrder(sOwn, b.basis.map, par);
  } catch (...) {
    b.failedAt = step;
    b.failure = std::current_exception();
  }
  return b;
}

// The line of a file's orbitals: the "[MO]" section of a Molden file, the
// alpha orbitals of a checkpoint file.
int orbitalLine(const Checkpoint& ck) {
  return ck.lineOf(ck.format == FileFormat::Fchk ? "Alpha MO coeffic" : "[MO]");
}

// The density of orbitals that carry their occupations (a Molden file, or a
// checkpoint file without a density), and
// for a spin-unrestricted wave function the spin density Pa - Pb.
void orbitalDensity(Checkpoint& ck) {
  Matrix pa = densityFromOrbitals(ck.mo, ck.occupation);
  if (ck.moBeta.empty()) {
    ck.density = std::move(pa);
    return;
  }
  const Matrix pb = densityFromOrbitals(ck.moBeta, ck.occupationBeta);
  const int n = ck.nbf;
  ck.density = Matrix::uninitialised(n, n);
  ck.spin = Matrix::uninitialised(n, n);
  for (int j = 1; j <= n; ++j)
    for (int i = 1; i <= n; ++i) {
      ck.density(i, j) = pa(i, j) + pb(i, j);
      ck.spin(i, j) = pa(i, j) - pb(i, j);
    }
  ck.spinLabel = "Spin density of the orbitals";
  ck.spinLine = orbitalLine(ck);
}

// The accepted |trace(P S) - N| of a density built from orbitals, relative
// to N: what the digits of the coefficients explain (40 times half their last
// printed digit: Molden's six decimals leave 1.1e-5 N in the real files),
// and at least 4e-6, for files whose basis is printed with fewer digits than
// their orbitals (up to 6e-7 N in the real files).
double orbitalTraceTolerance(const Checkpoint& ck) {
  const double relative = std::fmax(4e-6, 40.0 * ck.coefficientResolution);
  return relative * std::max(ck.nalpha + ck.nbeta, 1);
}

// The orbitals of a checkpoint file that holds no density must be
// orthonormal, as a Molden file's are: scaled orbitals, or orbitals of
// another geometry, would give a density of the wrong electron count or
// shape.  The occupied ones are checked, those the density is made of.
void checkOrbitalsOrthonormal(const Checkpoint& ck, const Matrix& s, const Parallel& par) {
  double d = orthonormalityDeviation(ck.mo, std::min(ck.nalpha, ck.mo.cols()), s, par);
  if (!ck.moBeta.empty())
    d = std::fmax(d,
                  orthonormalityDeviation(ck.moBeta, std::min(ck.nbeta, ck.moBeta.cols()), s, par));
  if (d <= kOrthonormalityTolerance) return;
  char buf[64];
  std::snprintf(buf, sizeof buf, "%.3E", d);
  refuse(std::string(" The orbitals are not orthonormal: the largest deviation of C^T S C from "
                     "the unit matrix is ") +
             buf + ", more than 1.000E-04",
         kCodeBadValue, orbitalLine(ck));
}

// The density of the orbitals must hold the electrons of their occupations
// (they are orthonormal, so it does unless the orbitals are very many).
DensityCheck acceptOrbitalDensity(Checkpoint& ck, const Matrix& s) {
  DensityCheck d;
  d.trace = traceWithS(ck.density, s);
  const int nelec = ck.nalpha + ck.nbeta;
  if (!(std::fabs(d.trace - nelec) <= orbitalTraceTolerance(ck))) {
    char buf[64];
    std::snprintf(buf, sizeof buf, "%.8f", d.trace);
    refuse(std::string(" The density of the orbitals holds ") + buf + " electrons, not " +
               std::to_string(nelec),
           kCodeBadValue, orbitalLine(ck));
  }
  d.density = std::move(ck.density);
  return d;
}

// A file of orbitals holds one density, that of its orbitals: --density may
// name it (SCF for a determinant's whole occupations), and anything else is
// refused with what the file holds rather than ignored.
void checkDensityChoice(const Checkpoint& ck, const std::string& kind) {
  if (kind.empty()) return;
  std::string k;
  for (const char c : kind)
    if (c != ' ') k += static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  if (k == "SCF" && ck.calc.plain) return;
  const std::string what = ck.format == FileFormat::Molden
                               ? std::string("a Molden file")
                               : std::string("a .") + formatName(ck.format) + " file";
  refuse(" --density " + kind + ": " + what + " holds one density, that of its orbitals (" +
             (ck.calc.plain ? "a determinant's occupied orbitals: SCF" : "natural orbitals") +
             "), and no 'Total " + kind + " Density'",
         kCodeNoDensity, orbitalLine(ck));
}

// The reading steps of one input format, in the order of the report.
struct ReadingSteps {
  std::function<void()> header, molecule, orbitals, density, release;
  const Shells* written = nullptr;  // a Molden file's contractions as written
};

void run(ReadingSteps& steps, const RunOptions& options, RunResults& r, TextReport* report);

Matrix copyOf(const Matrix& m) {
  Matrix c = Matrix::uninitialised(m.rows(), m.cols());
  for (int j = 1; j <= m.cols(); ++j)
    for (int i = 1; i <= m.rows(); ++i) c(i, j) = m(i, j);
  return c;
}
}  // namespace

void analyse(CheckpointText text, const RunOptions& options, RunResults& r, TextReport* report) {
  CheckpointReader reader(text, options.limits, r.ck);
  if (!options.limits.classic) reader.chooseDensity(options.density);
  if (options.par != nullptr) reader.useThreads(*options.par);
  ReadingSteps steps;
  steps.header = [&] { reader.header(); };
  steps.molecule = [&] { reader.molecule(); };
  steps.orbitals = [&] { reader.orbitalsAndChoice(); };
  steps.density = [&] { reader.density(); };
  steps.release = [&] { text.release(); };
  run(steps, options, r, report);
}

void analyseMolden(std::string_view bytes, const std::string& name, const RunOptions& options,
                   RunResults& r, TextReport* report) {
  // The whole file is read at once; the basis is built from the written
  // contractions normalised, and which convention they follow is decided
  // once S is there.
  Shells written;
  ReadingSteps steps;
  steps.header = [&] {
    r.ck = readMolden(bytes, name, options.limits);
    checkDensityChoice(r.ck, options.density);
    written = r.ck.shells;
    r.ck.shells = unitContractions(written);
  };
  steps.molecule = steps.orbitals = steps.density = steps.release = [] {};
  steps.written = &written;
  run(steps, options, r, report);
}

void analyseWaveFile(std::string_view bytes, const std::string& name, FileFormat format,
                     const RunOptions& options, RunResults& r, TextReport* report) {
  ReadingSteps steps;
  steps.header = [&] {
    // A file refused while it is read is still named with its format.
    r.ck.format = format;
    r.ck = format == FileFormat::Wfn   ? readWfn(bytes, name, options.limits)
           : format == FileFormat::Wfx ? readWfx(bytes, name, options.limits)
                                       : readMwfn(bytes, name, options.limits);
    // Löwdin quantities depend on the basis the orbitals are written in, and
    // S^1/2 of the primitives has nothing to do with that of the contracted
    // basis the wave function was computed in.
    if (options.lowdin && format != FileFormat::Mwfn)
      refuse(std::string(" --lowdin: a .") + formatName(format) +
                 " file holds the orbitals over uncontracted primitives, whose Lowdin "
                 "populations and Wiberg-Lowdin indices are not those of the wave function's "
                 "basis (Mulliken populations and bond orders are); a .mwfn, fchk or Molden "
                 "file of the same wave function keeps the contracted basis",
             kCodeBadValue);
    checkDensityChoice(r.ck, options.density);
  };
  steps.molecule = steps.orbitals = steps.density = steps.release = [] {};
  run(steps, options, r, report);
}

namespace {

void run(ReadingSteps& reader, const RunOptions& options, RunResults& r, TextReport* report) {
  const Limits& limits = options.limits;
  Checkpoint& ck = r.ck;

  // The input file, in the order its records appear in the report.
  const Parallel serial;
  const Parallel& par = options.par != nullptr ? *options.par : serial;
  reader.header();
  if (report) report->header(ck, !limits.classic && ck.unrestricted());
  reader.molecule();
  if (!limits.classic) validateCheckpoint(ck);
  if (report) report->molecule(ck);
  checkGroupAtoms(options, ck.natoms, ck.name, r);

  // Everything up to the unpaired electrons, the basis stage taken from
  // basisStage() when the run needs it.
  BasisStage bs;
  std::optional<BondOrderAnalysis> bo;
  // What the command line's own stages need after the bond-order analysis
  // has taken the density over: a copy of P (Löwdin analysis only) and the
  // spin density built from the orbitals (restricted open shells).
  Matrix total, openShellSpin;
  auto spinDensity = [&]() -> const Matrix& {
    return r.spinSource == SpinSource::Orbitals ? openShellSpin : ck.spin;
  };
  // The command line checks the density and decides without X, where it
  // can, that the square-root term vanishes; what it may need of S (its
  // Cholesky factor or its square roots) is known from the header.
  const bool economical = !limits.classic;
  const bool factorFirst = economical && (ck.calc.unrestrictedName || ck.nalpha == ck.nbeta);
  const bool wantGroups = !options.fragments.empty() || !options.rings.empty();
  auto toUnpaired = [&](auto basisStage, int besideOrder, auto factorSource) {
    reader.orbitals();
    if (report) report->densitySelection(ck);
    reader.density();
    reader.release();
    if (report) report->primitiveShells(ck);
    BasisStage& b = basisStage();
    b.rethrowAt(BasisStage::kExpand);
    r.basis = std::move(b.basis);
    if (report) {
      report->occupation(ck);
      report->counts(ck.natoms, r.basis.expandedPrimitives, ck.nbf);
    }

    // The overlap matrix, the partition of the functions among the atoms
    // and its agreement with the file's own counts.
    b.rethrowAt(BasisStage::kOverlap);
    b.rethrowAt(BasisStage::kPartition);
    r.partition = std::move(b.partition);
    if (report) report->partition(r.partition);
    if (ck.natoms != r.partition.natoms)
      stopCode("7584", "the file has " + std::to_string(ck.natoms) + " atoms, its basis " +
                           std::to_string(r.partition.natoms));
    if (ck.nbf != r.partition.nbasis)
      stopCode("7585", "the file has " + std::to_string(ck.nbf) + " basis functions, its atoms " +
                           std::to_string(r.partition.nbasis));
    b.rethrowAt(BasisStage::kFileOrder);
    if (reader.written != nullptr) {
      // Orbitals of a Molden file: their writer's convention, then their density.
      r.convention = settleConvention(ck, *reader.written, r.basis, b.s, limits, par);
      if (report) report->convention(r.convention);
      orbitalDensity(ck);
    } else if (ck.densityFromOrbitals) {
      checkOrbitalsOrthonormal(ck, b.s, par);
      orbitalDensity(ck);
    }
    const Matrix& s = b.s;

    // The density to analyse.
    r.density = reader.written != nullptr || ck.densityFromOrbitals ? acceptOrbitalDensity(ck, s)
                                                                    : checkDensity(ck, s, limits);
    if (report) report->densityCheck(r.density);
    if (r.density.stop) throw *r.density.stop;
    if (!limits.classic) {
      r.spinSource = spinSource(ck);
      if (r.spinSource == SpinSource::Orbitals) openShellSpin = openShellSpinDensity(ck);
      // A restricted open-shell determinant of a .wfn, .wfx or .mwfn file:
      // the second term of its bond orders is that of its singly occupied
      // orbitals, Ps S, which the square root of D S equals exactly, but
      // without amplifying the rounding of the file's printed digits.
      const bool waveFile = ck.format == FileFormat::Wfn || ck.format == FileFormat::Wfx ||
                            ck.format == FileFormat::Mwfn;
      if (waveFile && r.spinSource == SpinSource::Orbitals) ck.spin = copyOf(openShellSpin);
    }
    ck.mo.release();
    std::vector<double>().swap(ck.packed);
    // A correlated density's spin density serves the spin populations alone.
    const bool spinTerm = !ck.spin.empty() && !ck.spinForPopulationsOnly;
    if (spinTerm)
      checkSpinDensity(ck, s,
                       limits.classic ? kSpinTolerance
                       : reader.written != nullptr || ck.densityFromOrbitals
                           ? orbitalTraceTolerance(ck)
                           : traceTolerance(limits, ck.nalpha + ck.nbeta));

    // Mulliken populations.
    const int natoms = r.partition.natoms;
    const Vec1<int> hold = inpint(r.basis.first, r.basis.last, natoms, r.partition.nbasis);
    r.populations = mulliken(s, r.density.density, hold, natoms);
    if (report) report->populations(r.populations);
    if (r.spinSource != SpinSource::None) r.spin = spinPopulations(s, spinDensity(), hold, natoms);
    if (options.lowdin || wantGroups) total = copyOf(r.density.density);

    // Bond orders and valences.
    bo.emplace(std::move(r.density.density), s, r.basis.first, r.basis.last, r.populations.qat,
               spinTerm ? &ck.spin : nullptr, par, besideOrder);
    if (economical) {
      DensityChecks checks;
      checks.economical = true;
      const bool scf = ck.scfDensity();
      checks.closedShellScf = scf && !spinTerm && !ck.unrestricted() && ck.nalpha == ck.nbeta;
      // The SCF density of a Hartree-Fock or Kohn-Sham determinant (method
      // names RHF, RB3LYP, UHF, ...); not that of a multi-configuration
      // method (CASSCF, GVB).
      const char kind = ck.calc.method.empty() ? ' ' : ck.calc.method[0];
      checks.singleDeterminant =
          scf && (spinTerm || (checks.closedShellScf && kind == 'R' &&
                               ck.calc.method.find("CAS") == std::string::npos &&
                               ck.calc.method.find("GVB") == std::string::npos));
      bo->setChecks(checks);
      factorSource(*bo);
    }
    bo->unpaired();
  };

  // A Molden file's S may have to be made anew once the convention of its
  // orbitals is known, so its stages run in turn.
  if (limits.classic || par.maxThreads() < 2 || ck.nbf < BondOrderAnalysis::kBesideOrder ||
      reader.written != nullptr) {
    toUnpaired(
        [&]() -> BasisStage& {
          bs = buildBasis(ck, limits, par);
          return bs;
        },
        BondOrderAnalysis::kBesideOrder, [](BondOrderAnalysis&) {});
  } else {
    // S and its eigen-solve need nothing of the orbitals and the density:
    // one task makes them, from as soon as the shells are read, while the
    // other reads the rest of the file and goes on up to W W, waiting for S
    // where it needs it.  That task's stops end the run, at their places;
    // the first one's are kept for those places.  Without a free thread the
    // caller runs the two tasks in turn.
    // When the run may decide without X, that task makes the Cholesky
    // factor of S instead, and the eigen-solve, if it is needed after all,
    // runs beside W W.
    OverlapRoots roots;
    Matrix factor;
    std::atomic<bool> ready{false}, factorReady{false}, abandon{false};
    par.run(2, [&](int t) {
      if (t == 0) {
        bs = buildBasis(ck, limits, par);
        ready.store(true, std::memory_order_release);
        ready.notify_all();
        if (!bs.failure && factorFirst) factor = overlapFactor(bs.s, par);
        factorReady.store(true, std::memory_order_release);
        factorReady.notify_all();
        if (!bs.failure && !factorFirst) roots = overlapRoots(bs.s, bs.s.rows(), par, &abandon);
        return;
      }
      try {
        toUnpaired(
            [&]() -> BasisStage& {
              ready.wait(false, std::memory_order_acquire);
              return bs;
            },
            factorFirst ? BondOrderAnalysis::kBesideOrder : std::numeric_limits<int>::max(),
            [&](BondOrderAnalysis& b) {
              if (!factorFirst) return;
              factorReady.wait(false, std::memory_order_acquire);
              b.useOverlapFactor(std::move(factor));
            });
      } catch (...) {
        abandon.store(true, std::memory_order_relaxed);
        throw;
      }
    });
    if (!factorFirst) bo->useOverlapRoots(std::move(roots));
  }
  if (report) report->unpaired(bo->results());
  bo->symmetrised();
  // The records of X, when it was formed.
  if (report && bo->results().xFormed) report->hermiticity(bo->results());
  bo->bondOrders();
  const BondOrders& b = bo->results();
  const int natoms = r.partition.natoms;
  if (report) {
    report->bondMatrix(b, ck.atomicNumber);
    report->totalValences(b, ck.atomicNumber);
  }
  requireFinite(b.used.data(), natoms, "valences used in bonds");
  if (report) report->usedValences(b, ck.atomicNumber);
  requireFinite(b.free.data(), natoms, "free valences");
  if (report) report->freeValences(b, ck.atomicNumber);
  r.bonds = bo->take();

  // The command line's own stages and sections.
  if (options.lowdin) {
    r.lowdin =
        lowdinAnalysis(bs.s, total, r.spinSource == SpinSource::None ? nullptr : &spinDensity(),
                       r.basis.first, r.basis.last, par);
  }
  if (wantGroups) {
    // The spin densities of a determinant with unpaired electrons split the
    // bond orders and the multicentre indices by spin; a correlated density
    // (or an open shell without its spin density) gives the closed-shell
    // formula on its total density.
    const bool determinant =
        ck.scfDensity() || ck.densityName() == "Density of the occupied orbitals";
    const bool open = ck.unrestricted() || ck.nalpha != ck.nbeta;
    const Matrix* spin = !determinant                           ? nullptr
                         : r.bonds.spinTerm                     ? &ck.spin
                         : r.spinSource == SpinSource::Orbitals ? &openShellSpin
                                                                : nullptr;
    const MulticenterFormula formula = spin != nullptr        ? MulticenterFormula::SpinResolved
                                       : determinant && !open ? MulticenterFormula::ClosedShell
                                                              : MulticenterFormula::TotalDensity;
    groupAnalyses(options, r, total, spin, bs.s, formula, par);
  }
  total.release();
  ck.spin.release();
  openShellSpin.release();
  if (report && !limits.classic) {
    report->charges(r.ck, r.populations, r.spin ? &*r.spin : nullptr, r.spinSource,
                    r.lowdin ? &*r.lowdin : nullptr);
    report->bondList(r.ck, r.bonds, r.lowdin ? &*r.lowdin : nullptr);
    if (r.fragments) report->fragments(*r.fragments);
    if (r.multicenter) report->multicenter(r.ck, *r.multicenter);
  }
  r.complete = true;
}

}  // namespace

void checkGroupAtoms(const RunOptions& options, int natoms, const std::string& name,
                     RunResults& r) {
  auto refuseOption = [&](const char* option, const std::string& text, const char* what) {
    r.badOption = true;
    inputError(name, 0, std::string(option) + " '" + text + "': " + what);
  };
  try {
    requireAtomsInRange(options.fragments, natoms);
  } catch (const std::invalid_argument& e) {
    refuseOption("--fragments", options.fragments.text, e.what());
  }
  try {
    requireAtomsInRange(options.rings, natoms);
  } catch (const std::invalid_argument& e) {
    std::string text;
    for (const std::vector<int>& ring : options.rings) {
      if (!text.empty()) text += ';';
      for (std::size_t k = 0; k < ring.size(); ++k)
        text += (k > 0 ? "," : "") + std::to_string(ring[k]);
    }
    refuseOption("--multicenter", text, e.what());
  }
}

void groupAnalyses(const RunOptions& options, RunResults& r, const Matrix& p, const Matrix* spin,
                   const Matrix& s, MulticenterFormula formula, const Parallel& par) {
  const Checkpoint& ck = r.ck;
  const int natoms = r.partition.natoms;
  if (!options.fragments.empty()) {
    Vec1<double> charge(natoms);
    for (int a = 1; a <= natoms; ++a) charge(a) = ck.nuclearCharge(a) - r.populations.qat(a);
    AtomValues values;
    values.charge = &charge;
    values.spin = r.spin ? &r.spin->atom : nullptr;
    values.valence = &r.bonds.total;
    values.bonds = &r.bonds.bonds;
    values.wiberg = r.lowdin ? &r.lowdin->wiberg : nullptr;
    SpinDensities densities{&p, spin, &s, &r.basis.first, &r.basis.last};
    const bool split = formula == MulticenterFormula::SpinResolved && spin != nullptr;
    r.fragments = fragmentAnalysis(
        resolveFragments(options.fragments, natoms, r.bonds.bonds, options.minBond), values,
        split ? &densities : nullptr, par);
  }
  if (!options.rings.empty())
    r.multicenter =
        multicenterIndices(p, formula == MulticenterFormula::SpinResolved ? spin : nullptr, s,
                           r.basis.first, r.basis.last, options.rings, formula);
}

}  // namespace mv
