// Line-oriented text helpers shared by the readers of the AIM wave-function
// files (.wfn, .wfx) and .mwfn files, and the common last steps of those
// readers: the primitive basis of a .wfn or .wfx file, and the electron
// counts and density labels derived from orbital occupations.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "checkpoint/checkpoint.h"
#include "core/limits.h"

namespace mv::wavetext {

struct Line {
  std::string_view text;  // without its line end
  int number = 0;         // 1-based
};

// The lines of `bytes` ("\n" or "\r\n" line ends).
std::vector<Line> splitLines(std::string_view bytes);
// Blank-separated words.
std::vector<std::string_view> tokens(std::string_view line);
std::string trim(std::string_view s);
// The text quoted for a message: at most 60 characters, anything that is
// not printable shown as '?'.
std::string shown(std::string_view t);
// Whole numbers and reals (Fortran D exponents read as E); false when the
// whole word is not one.
bool parseInt(std::string_view t, long long& v);
bool parseReal(std::string_view t, double& v);
// A number for a message, "%.10G".
std::string realText(double x);
// Numbers written side by side, blank-separated or run together when a
// field fills up ("0.00000000-94.48630664"): split before every sign that
// does not follow an exponent letter.
std::vector<std::string_view> numberWords(std::string_view line);
// The title as the report shows it: 80 characters at least, the file's
// name when the file gives none.
std::string titleOf(std::string_view text, const std::string& name);

// A fault of the file at a line: a diagnostic that names the file, the line
// and the reason.
[[noreturn]] void fault(const std::string& file, int line, const std::string& message);

// One primitive of a .wfn or .wfx file: its centre (1-based), its type code
// (1 s, 2-4 p, 5-10 d, 11-20 f, 21-35 g, 36-56 h) and its exponent.
struct Primitive {
  int centre = 0;
  int type = 0;
  double exponent = 0.0;
};

// Highest primitive type code (h functions).
inline constexpr int kMaxPrimitiveType = 56;
// The Cartesian powers (x, y, z) of a primitive type code; false for a code
// outside 1..56.
bool primitivePowers(int type, int& x, int& y, int& z);

// Where each primitive goes in the basis the program builds for a .wfn or
// .wfx file: one single-primitive Cartesian shell per centre, exponent and
// angular momentum, with every component of that angular momentum (those the
// file does not list carry zero coefficients).  Primitives that repeat a
// centre, type and exponent (general contractions list them once per shell)
// fall on the same function, so their coefficients add up and S stays
// non-singular.  row(i) is the function of primitive i (1-based) and
// scale(i) turns the coefficient of the bare primitive (x - X)^a (y - Y)^b
// (z - Z)^c exp(-alpha r^2), which the file gives, into that of the
// normalised function the program uses.
struct PrimitiveBasis {
  Shells shells;
  int nbf = 0;
  std::vector<int> row;
  std::vector<double> scale;
};
PrimitiveBasis primitiveBasis(const std::vector<Primitive>& primitives, int natoms);

// The orbitals of ck (mo with occupation, and moBeta with occupationBeta for
// separate spins) settled into the counts the analysis takes: electrons from
// the occupations (a whole number within 0.05), nalpha and nbeta (a
// restricted set: the orbitals occupied once are the alpha electrons beyond
// the pairs), the density label (a determinant's occupied orbitals, or
// natural orbitals for fractional occupations), and the density built from
// the orbitals.  `line` is that of the orbitals, for messages.
void settleOccupations(Checkpoint& ck, int line, bool separate);

}  // namespace mv::wavetext
