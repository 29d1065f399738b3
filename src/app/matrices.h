// The analysis of an overlap matrix and a density that a caller already
// holds in memory (from another quantum-chemistry program), without a
// checkpoint file: the atom partition, the Mulliken populations, the bond
// orders and the valences, by the same stages as a file's run.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <vector>

#include "app/pipeline.h"
#include "core/parallel.h"
#include "core/stop.h"

namespace mv {

// A square matrix as the caller stores it: element (i, j), counted from 0,
// at data[i * rowStride + j * colStride].
struct StridedMatrix {
  const double* data = nullptr;
  std::ptrdiff_t rows = 0, cols = 0;
  std::ptrdiff_t rowStride = 0, colStride = 0;
  double at(std::ptrdiff_t i, std::ptrdiff_t j) const {
    return data[i * rowStride + j * colStride];
  }
};

struct MatrixInput {
  StridedMatrix overlap;  // S over the basis functions
  StridedMatrix density;  // the total density P
  StridedMatrix spin;     // the spin density Ps, or data == nullptr
  // The atom of each basis function, counted from 0; the functions of an
  // atom need not be adjacent.
  std::vector<long long> basisAtom;
  std::vector<long long> atomicNumbers;  // one per atom; 0 for a ghost atom
  std::vector<double> coordinates;       // x, y, z of each atom in bohr, or empty (all zero)
  std::vector<double> nuclearCharges;    // or empty: the atomic numbers
  double minBond = 0.1;                  // pairs listed under "bonds" from this order on
  // The electrons the density must hold; none: trace(P S) rounded to a
  // whole number, which it must then be.
  std::optional<long long> electrons;
  bool lowdin = false;  // Löwdin populations and Wiberg-Löwdin indices
  // As the command line's --fragments and --multicenter (atoms from 1).
  FragmentRequest fragments;
  std::vector<std::vector<int>> rings;
};

struct MatrixRun {
  RunResults run;            // the stages' values; run.complete when all ran
  std::optional<Stop> stop;  // how the analysis ended early
  std::string report;        // the text report of the stages that ran
  std::string json;          // the JSON object, without a line end
};

// Check the input and throw std::invalid_argument, naming the array and the
// element, when a shape does not fit, a value is not finite, S, P or Ps is
// not symmetric, or an atom index is out of range (of basis_atom, of the
// fragments or of the rings).
void checkMatrixInput(const MatrixInput& in);

// Analyse the matrices (after checkMatrixInput).  S and P are copied once,
// into the order of the atoms.  The density is checked as a file's is:
// trace(P S) must be the electron count (given, or the trace rounded; at
// least one electron), trace(Ps S) a whole number of unpaired spins, and
// the natural occupations of P must lie in [-0.1, 2.1].  nalpha - nbeta is
// trace(Ps S) rounded (0 without a spin density, or 1 for an odd count).
// With a spin density the second bond-order term comes from it, as for a
// spin-unrestricted SCF density in a file, and the spin populations are
// made; without, it is the square-root term.  The report has the sections
// of a file's report (the table of atoms and the bond list among them).  A
// stop of a stage is kept in the result with the records before it, as the
// command line keeps it.  The multicentre indices and the spin parts of
// the fragment bond orders take the spin density when there is one (the
// density of one determinant), else the closed-shell formula.
MatrixRun analyseMatrices(const MatrixInput& in, const Parallel& par);

}  // namespace mv
