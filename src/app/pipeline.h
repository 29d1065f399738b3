// One analysis of one checkpoint text: every stage in order, the report
// written as the stages produce their values.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "analysis/bondorder.h"
#include "analysis/convention.h"
#include "analysis/density.h"
#include "analysis/fragments.h"
#include "analysis/lowdin.h"
#include "analysis/multicenter.h"
#include "analysis/partition.h"
#include "analysis/spin.h"
#include "checkpoint/checkpoint.h"
#include "checkpoint/text.h"
#include "core/limits.h"
#include "core/parallel.h"
#include "integrals/basis.h"
#include "report/text_report.h"

namespace mv {

struct RunOptions {
  Limits limits = Limits::classicRun();
  const Parallel* par = nullptr;  // threads for the dense kernels (none: one thread)
  bool lowdin = false;            // command line: Löwdin populations, Wiberg-Löwdin indices
  std::string density;            // command line: the kind of total density to analyse; "" the last
  // Command line: the fragments (--fragments, empty for none), the rings of
  // the multicentre indices (--multicenter) and the bond order from which
  // two atoms are joined in the fragments of `auto`.
  FragmentRequest fragments;
  std::vector<std::vector<int>> rings;
  double minBond = 0.1;
};

// What a run found, stage by stage.  A run that stops keeps what the stages
// before the stop produced.
struct RunResults {
  Checkpoint ck;
  Basis basis;
  Partition partition;
  DensityCheck density;
  Populations populations;
  BondOrders bonds;
  OrbitalConvention convention;  // a Molden file: the writers' convention of its orbitals
  // Command line only: the spin populations (open shells with a spin
  // density) and the Löwdin analysis (on request).
  SpinSource spinSource = SpinSource::None;
  std::optional<SpinPopulations> spin;
  std::optional<LowdinAnalysis> lowdin;
  // Command line only, on request: the fragment quantities and the
  // multicentre indices.  badOption: the run stopped because an atom of
  // those requests is not in the molecule (a usage error).
  std::optional<FragmentAnalysis> fragments;
  std::optional<MulticenterAnalysis> multicenter;
  bool badOption = false;
  bool complete = false;  // every stage ran
  // How the second bond-order term is formed: from the file's spin density
  // (spin-unrestricted SCF density) or as a square root.
  bool spinDensityUsed() const { return bonds.spinTerm; }
};

// Analyse a checkpoint text.  With a report, its records are written at
// their places between the stages.  A stop is thrown (as Stop) after the
// records that precede it; the text is released once it has been read.
void analyse(CheckpointText text, const RunOptions& options, RunResults& r, TextReport* report);
// The same for a Molden file (its bytes; `name` for messages and as the
// title when the file has none).  The convention of its orbitals is decided
// after S, and its density built from the orbitals.
void analyseMolden(std::string_view bytes, const std::string& name, const RunOptions& options,
                   RunResults& r, TextReport* report);
// The same for a .wfn, .wfx or .mwfn file: its density is built from its
// orbitals.  --lowdin is refused for .wfn and .wfx files (their basis is the
// uncontracted primitives), and --density for all three (one density).
void analyseWaveFile(std::string_view bytes, const std::string& name, FileFormat format,
                     const RunOptions& options, RunResults& r, TextReport* report);

// Refuse, as a usage error of the file `name` (r.badOption), an atom of the
// fragments or rings of `options` beyond the natoms atoms of the molecule.
void checkGroupAtoms(const RunOptions& options, int natoms, const std::string& name, RunResults& r);

// The fragments and multicentre indices that `options` ask for, once the
// bond orders (and the spin populations, the Löwdin analysis) are in r:
// from the analysed density p, the spin density `spin` of an open-shell
// determinant (else null), and S, all in the order of r.basis.first/last.
void groupAnalyses(const RunOptions& options, RunResults& r, const Matrix& p, const Matrix* spin,
                   const Matrix& s, MulticenterFormula formula, const Parallel& par);

}  // namespace mv
