// What the reader takes from a formatted checkpoint file.
#pragma once

#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "core/matrix.h"

namespace mv {

// The kind of calculation, from line 2 of the file.
struct Calculation {
  std::string line;               // line 2, 80 characters
  std::string method;             // the method name from column 11 ("RHF", "UB3LYP", "RMP2-FC")
  std::string basis;              // the basis name after column 40 ("STO-3G", "CC-PVDZ")
  bool plain = false;             // exactly RHF or UHF in characters 9 to 16
  bool unrestrictedName = false;  // UHF, or a method name beginning with "U"
};

// The contracted shells as the file gives them (1-based).
struct Shells {
  int count = 0;       // NSHELL
  int primitives = 0;  // NPRIM, primitives over all shells
  Vec1<int> type;      // shell type code: 0 s, 1 p, -1 SP, +-2 d, +-3 f, ... (negative: pure)
  Vec1<int> nprim;     // primitives of each shell
  Vec1<int> atom;      // atom of each shell
  Vec1<double> exponent, coefficient, pCoefficient;  // per primitive, in shell order
};

// A section found in the file: the compared label and the line of its label line.
struct Section {
  std::string label;
  int line = 0;
};

// The kinds of file the program reads; each has a reader of its own, and
// all return a Checkpoint.  Wfn and Wfx files hold primitives only
// (contractions multiplied out); Mwfn files keep the contracted basis.
// Arrays: matrices handed over in memory by a caller (the Python module),
// from no file.
enum class FileFormat { Fchk, Molden, Wfn, Wfx, Mwfn, Arrays };

// The name of a format in the JSON object and in messages ("fchk", "molden",
// "wfn", "wfx", "mwfn", "arrays").
const char* formatName(FileFormat f);

struct Checkpoint {
  FileFormat format = FileFormat::Fchk;
  std::string name;   // the file, as named to the user
  std::string title;  // line 1, 80 characters
  Calculation calc;

  int natoms = 0;
  int electrons = 0;
  int nalpha = 0;
  int nbeta = 0;
  int nbf = 0;  // basis functions
  double escf = 0.0;
  bool hasEnergy = true;              // "SCF Energy" is in the file (a Molden file has none)
  std::optional<double> totalEnergy;  // "Total Energy", when the file has it (command line)
  std::optional<int> charge;          // "Charge", when the file has it (command line)
  std::optional<int> multiplicity;    // "Multiplicity", likewise

  Vec1<int> atomicNumber;
  Vec1<double> nuclearCharge;
  Matrix coords;  // coords(k, a): x, y, z of atom a in bohr

  Shells shells;

  Matrix mo;                  // alpha MO coefficients, one orbital per column
  bool betaOrbitals = false;  // a "Beta MO coeffici" section is present
  // Command line: the beta orbitals are the alpha ones (psi4's files of
  // restricted wave functions, open-shell ones among them).
  bool sameSpinOrbitals = false;
  // Orbitals that carry their own occupations (a Molden file): the alpha (or
  // spatial) occupations of the columns of mo, and the beta orbitals with
  // theirs when the wave function is spin-unrestricted.
  Vec1<double> occupation;
  Matrix moBeta;
  Vec1<double> occupationBeta;
  bool rohfMarker = false;  // some line has "  ROHF  " in characters 9 to 16
  // Half the unit of the last printed digit of the coarsest orbital
  // coefficient of a Molden file ("0.004690": 5e-7); 0 when not known.
  double coefficientResolution = 0.0;

  // The analysed density: the section under the last line beginning "Tota"
  // (classic run), or the total density chosen by its label, by default the
  // last one (command line).
  int ndens = 0;                   // number of total densities (NDENS)
  int densityIndex = 0;            // the place of the analysed one among them; 0: the last
  std::vector<Section> densities;  // command line: every "Total ... Density" section
  // Command line: the file holds orbitals and no total density, so the
  // density is built from the orbitals and the aufbau occupations (the
  // occupation vectors and, spin-unrestricted, moBeta).
  bool densityFromOrbitals = false;
  std::string densityLabel;    // that line, 80 characters
  int densityLine = 0;         // its line
  std::vector<double> packed;  // the lower triangle as stored
  Matrix density;              // unpacked row by row

  // The spin density that belongs to it (command line): that of the SCF
  // density of a spin-unrestricted wave function, which its bond orders
  // use, or that of a correlated density of an open shell, when the file
  // holds it (for the spin populations only).
  std::string spinLabel;
  int spinLine = 0;
  Matrix spin;
  bool spinForPopulationsOnly = false;  // a correlated density's: not for the bond orders

  std::vector<Section> sections;  // every section read, in reading order
  // What the reader decided about the file that the report should say (the
  // element of an atom with an effective core potential), one line each.
  std::vector<std::string> notes;

  bool unrestricted() const { return calc.unrestrictedName || betaOrbitals; }
  // The energy for the JSON object: the SCF energy, else the total energy.
  std::optional<double> energy() const {
    return hasEnergy ? std::optional<double>(escf) : totalEnergy;
  }
  // The molecule's charge and multiplicity: the file's, else derived from the
  // nuclear charges and the electron counts.
  int moleculeCharge() const;
  int moleculeMultiplicity() const;
  // Electrons of atom a held by an effective core potential: its atomic
  // number less its nuclear charge (0 for a ghost atom, nuclear charge 0).
  int coreElectrons(int a) const;
  // The place of the analysed density among the total densities.
  int analysedIndex() const { return densityIndex > 0 ? densityIndex : ndens; }
  // The section name of the analysed density ("Total SCF Density").
  std::string densityName() const;
  // True when the analysed density is the SCF one.
  bool scfDensity() const;
  // Line of the label line of a section read ("" label: 0 when not read).
  int lineOf(const std::string& label) const;
};

// The section name of a label line: its first 40 characters without
// trailing blanks.
std::string sectionName(std::string_view labelLine);

// A field of the file without its leading and trailing blanks.
std::string trimBlanks(std::string_view field);

}  // namespace mv
