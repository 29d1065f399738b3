// The checkpoint reader: the molecule, the basis shells, the electron
// counts, the SCF energy, the MO coefficients and the analysed density.
//
// Every search for a section starts from the top of the text, so sections
// may stand in any order; a label is compared with the start of a line
// (12, 16 or 24 characters), and the first matching line is the one used.
// The reader works in three steps because the report shows what each step
// found before the next one can stop the run.
#pragma once

#include <optional>

#include "checkpoint/checkpoint.h"
#include "checkpoint/freeformat.h"
#include "checkpoint/text.h"
#include "core/limits.h"

namespace mv {

class CheckpointReader {
 public:
  CheckpointReader(const CheckpointText& text, const Limits& limits, Checkpoint& ck);

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
  // The chosen density, unpacked into a symmetric matrix, and the spin
  // density that the analysis of a spin-unrestricted SCF density uses.
  void density();

 private:
  int find(std::string_view label);
  bool has(std::string_view label) const;
  int lengthOf(std::string_view label);
  int countOr(std::string_view label, std::string_view array);
  int scalarInt(std::string_view label);
  long long declaredCount(int labelLine, std::string_view label);
  void expectCount(int labelLine, std::string_view label, long long n);
  void expectEnd(std::string_view label, const ReadResult& r, long long n);
  double scalarReal(std::string_view label);
  void ints(std::string_view label, long long n, int* v);
  void reals(std::string_view label, long long n, double* v);
  void shellCoordinates();
  void basisCountAndMemory();
  void orbitals();
  void alphaOrbitals();
  void betaOrbitals();
  void refuseUnrestricted();
  void selectDensity();
  void aufbau();
  void readTriangle(int labelLine, Matrix& into, std::vector<double>* keep);
  void spinDensity();
  [[noreturn]] void readError(std::string_view section, int line, const std::string& detail);

  const CheckpointText& t_;
  Limits limits_;
  Checkpoint& ck_;
  std::string densityChoice_;
};

// All three steps.
Checkpoint readCheckpoint(const CheckpointText& text, const Limits& limits);

}  // namespace mv
