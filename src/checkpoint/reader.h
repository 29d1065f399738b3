// The checkpoint reader: the molecule, the basis shells, the electron
// counts, the SCF energy, the MO coefficients and the analysed density.
//
// Every search for a section starts from the top of the text, so sections
// may stand in any order; a label is compared with the start of a line
// (12, 16 or 24 characters), and the first matching line is the one used.
// The reader works in three steps because the report shows what each step
// found before the next one can stop the run.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "checkpoint/checkpoint.h"
#include "checkpoint/freeformat.h"
#include "checkpoint/text.h"
#include "core/limits.h"

namespace mv {

class CheckpointReader {
 public:
  CheckpointReader(const CheckpointText& text, const Limits& limits, Checkpoint& ck);
  // Large sections (the orbitals, the densities) are read on the threads of
  // `par` (which must outlive the reader) when they are laid out as
  // Gaussian writes them; the values are the same.
  void useThreads(const Parallel& par) { par_ = &par; }

  // Command line: analyse the total density of this kind ("SCF", "MP2",
  // "CC" as in "Total MP2 Density", letters compared without case) instead
  // of the last one; body() refuses a file without it.  Before header().
  void chooseDensity(std::string kind) { densityChoice_ = std::move(kind); }

  // The title (line 1) and the kind of calculation (line 2).  A text of
  // five lines or fewer is no checkpoint file (stop "9999").
  void header();
  // The counts, the atoms, the shells and the alpha MO coefficients; in the
  // classic run the refusal of spin-unrestricted wave functions; the choice
  // of the density to analyse (the last one of the file).
  void body();
  // body() in two parts: what the basis is built from (the counts, the
  // atoms, the shells), then the rest.
  void molecule();
  void orbitalsAndChoice();
  // The chosen density, unpacked into a symmetric matrix, and (command
  // line) the spin density that belongs to it: required for the SCF density
  // of a spin-unrestricted wave function, read where present for a
  // correlated density of an open shell.
  void density();

 private:
  int find(std::string_view label);
  bool has(std::string_view label) const;
  void elementsFromWeights();
  bool sameSpinOrbitals() const;
  int lengthOf(std::string_view label);
  int countOr(std::string_view label, std::string_view array);
  int scalarInt(std::string_view label);
  long long declaredCount(int labelLine, std::string_view label);
  void expectCount(int labelLine, std::string_view label, long long n);
  void expectEnd(std::string_view label, const ReadResult& r, long long n);
  double scalarReal(std::string_view label);
  std::size_t room(int first, long long n, std::size_t width) const;
  void ints(std::string_view label, long long n, std::vector<int>& v);
  void reals(std::string_view label, long long n, std::vector<double>& v);
  void shellCoordinates();
  void basisCountAndMemory();
  void orbitals();
  void alphaOrbitals();
  void betaOrbitals();
  void refuseUnrestricted();
  void selectDensity();
  void aufbau();
  void readTriangle(int labelLine, Matrix& into, std::vector<double>* keep);
  void spinDensity(bool required);
  [[noreturn]] void readError(std::string_view section, int line, const std::string& detail);

  const CheckpointText& t_;
  const Parallel* par_ = nullptr;
  Parallel serial_;
  const Parallel& par() const { return par_ != nullptr ? *par_ : serial_; }
  Limits limits_;
  Checkpoint& ck_;
  std::string densityChoice_;
};

// The memory a command-line run on the file at `path` may need: its text
// and the analysis of the counts its head declares ("Number of basis
// functions", "Number of atoms"); the text alone when the first 64 kB do
// not say (a compressed file, another format); 0 when it cannot be read.
std::uint64_t estimatedRunMemory(const std::string& path);

// All three steps.
Checkpoint readCheckpoint(const CheckpointText& text, const Limits& limits);

}  // namespace mv
