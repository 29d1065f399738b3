// One analysis of one checkpoint text: every stage in order, the report
// written as the stages produce their values.
#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "analysis/bondorder.h"
#include "analysis/convention.h"
#include "analysis/density.h"
#include "analysis/lowdin.h"
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

}  // namespace mv
