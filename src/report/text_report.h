// The report as fixed-layout text: every record of it, rendered from the
// values the stages return.  The front end calls the methods in the order
// of the run, so that a run that stops shows everything up to the stop.
#pragma once

#include <ostream>
#include <string>
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
#include "core/matrix.h"
#include "core/stop.h"

namespace mv {

// What the command line changes in the report besides its style.  The
// defaults are those of the classic run.
struct ReportOptions {
  // Print the bond-order matrix whatever the number of atoms; otherwise it
  // is left out above kMatrixAtoms atoms, with a note.
  bool fullMatrix = true;
  double minBond = 0.1;  // the bond list takes the pairs from this order on
  static constexpr int kMatrixAtoms = 20;
};

// How the report sets out its tables.  Classic: the fixed record layouts
// of earlier versions, whatever the numbers (a field too narrow shows
// asterisks or runs into the next).  Fit (the command line): the same
// layouts wherever they fit; a column whose numbers need more room widens,
// so that at least one blank separates values at any atom count; ghost
// atoms are labelled Bq.
enum class ReportStyle { Classic, Fit };

class TextReport {
 public:
  explicit TextReport(std::ostream& out, ReportStyle style = ReportStyle::Classic,
                      const ReportOptions& options = {})
      : out_(out), style_(style), options_(options) {}

  // The banner that opens every report.
  void banner();
  // The atoms once read: in the Fit style, those of nuclear charge 0 are
  // ghosts, labelled Bq whatever their atomic number.  Writes nothing.
  void molecule(const Checkpoint& ck);
  // The title line and the notes on the kind of calculation; with
  // `spinNote`, the record that says how a spin-unrestricted wave function
  // is analysed.
  void header(const Checkpoint& ck, bool spinNote);
  // Which density of the file is analysed.
  void densitySelection(const Checkpoint& ck);
  // The number of primitive shells, once the density is read.
  void primitiveShells(const Checkpoint& ck);
  // Occupied orbitals, electron counts and the SCF energy.
  void occupation(const Checkpoint& ck);
  // The three count lines.
  void counts(int natoms, long long primitives, int nbf);
  // The atoms and atomic pairs line.
  void partition(const Partition& p);
  // The writers' convention found for a Molden file's orbitals.
  void convention(const OrbitalConvention& c);
  // The records of the density check (none when the density is accepted).
  void densityCheck(const DensityCheck& d);
  void populations(const Populations& p);
  void unpaired(const BondOrders& b);
  void hermiticity(const BondOrders& b);
  // The bond order matrix; ia gives the element labels.
  void bondMatrix(const BondOrders& b, const Vec1<int>& ia);
  void totalValences(const BondOrders& b, const Vec1<int>& ia);
  void usedValences(const BondOrders& b, const Vec1<int>& ia);
  void freeValences(const BondOrders& b, const Vec1<int>& ia);
  // The records a stop shows in the report.
  void stop(const Stop& s);

  // Sections of the command line, after the classic report.  The table of
  // atoms: Mulliken charge, spin population (when there are spin
  // populations), Löwdin charge (with the Löwdin analysis), their sums, and
  // a note on the spin density of an open shell.
  void charges(const Checkpoint& ck, const Populations& pop, const SpinPopulations* spin,
               SpinSource source, const LowdinAnalysis* lowdin);
  // The pairs whose bond order is at least the threshold, by decreasing
  // bond order: both atoms, the bond order, the Wiberg-Löwdin index (with
  // the Löwdin analysis) and the distance in angstrom.
  void bondList(const Checkpoint& ck, const BondOrders& b, const LowdinAnalysis* lowdin);
  // The fragments asked for: each one's Mulliken charge, spin population
  // (when there are spin populations), total valence and atoms; then the
  // bond orders between fragments, and the Wiberg-Löwdin sums and the spin
  // parts of the bond orders where the analysis has them.
  void fragments(const FragmentAnalysis& f);
  // One line per ring asked for: its atoms, index and normalised index,
  // after the formula that gives them.
  void multicenter(const Checkpoint& ck, const MulticenterAnalysis& m);

  // The n by n matrix a in blocks of 8 columns with atom labels.
  void mprint(const Matrix& a, int n, const Vec1<int>& ia);

 private:
  void rows(const Vec1<double>& values, const Vec1<int>& ia);
  // A section title with two blank records before it and one after.
  void sectionTitle(const std::string& title);
  // The nf by nf matrix of fragment sums, in blocks of 8 columns.
  void fragmentMatrix(const std::string& title, const Matrix& m, int nf);
  // The 4-character label of atom a: its element, or Bq for a ghost.
  std::string label(const Vec1<int>& ia, int a) const;
  bool fit() const { return style_ == ReportStyle::Fit; }
  std::ostream& out_;
  ReportStyle style_;
  std::vector<bool> ghost_;  // by atom from 0; empty in the Classic style
  ReportOptions options_;
};

// Bohr in angstrom (CODATA 2018).
constexpr double kBohrInAngstrom = 0.529177210903;

}  // namespace mv
