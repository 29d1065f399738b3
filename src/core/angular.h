// Angular parts of Gaussian basis functions in the conventions of the
// checkpoint file: the order of the Cartesian components of a shell and the
// combinations of them that make its pure (spherical) functions.
//
// Every Cartesian component x^lx y^ly z^lz exp(-alpha r^2) is normalised on
// its own; the pure functions are the real solid harmonics written in these
// normalised components, each of unit norm.
#pragma once

#include <vector>

namespace mv::angular {

// Highest angular momentum the component orders and pure combinations are
// generated for (the integer arithmetic of the generator is exact up to it).
inline constexpr int kMaxL = 10;
// Highest angular momentum of a shell type code of the file (i functions).
inline constexpr int kMaxShellL = 6;

// Cartesian powers of one component.
struct Powers {
  int x, y, z;
  bool operator==(const Powers&) const = default;
};

// Number of Cartesian components, (l+1)(l+2)/2, and of pure functions, 2l+1.
// These and the functions below throw std::out_of_range for l outside 0..kMaxL.
int cartesianCount(int l);
int pureCount(int l);

// The Cartesian components of angular momentum l in the file's order:
// x, y, z; xx, yy, zz, xy, xz, yz; xxx, yyy, zzz, xyy, xxy, xxz, xzz, yzz,
// yyz, xyz; from g on, the monomials in reverse alphabetical order
// (zzzz, yzzz, yyzz, ..., xxxy, xxxx).
std::vector<Powers> cartesianOrder(int l);

// One normalised Cartesian component of a pure function: its 0-based index
// in cartesianOrder(l) and its coefficient.
struct Term {
  int component;
  double coefficient;
};

// Pure functions of angular momentum l in the file's order m = 0, +1, -1,
// +2, -2, ..., +l, -l, each as a combination of normalised Cartesian
// components (terms with non-zero coefficients, in ascending component
// index), of unit norm.  A function of a single component has the
// coefficient exactly 1.
std::vector<std::vector<Term>> pureFunctions(int l);

// Overlap of two normalised Cartesian Gaussians with the same centre and
// exponent.  Throws std::invalid_argument for a negative power.
double sameCentreOverlap(Powers a, Powers b);

// Shell type codes of the file: 0 s, 1 p, -1 SP, and for l >= 2 the code l
// for a Cartesian shell and -l for a pure one.  These throw
// std::out_of_range for a code outside -kMaxShellL..kMaxShellL.
//
// Angular momentum of the shell (1 for SP, whose s function comes first).
int shellAngularMomentum(int type);
// Whether the shell's functions are pure combinations.
bool shellIsPure(int type);
// Number of basis functions of the shell (4 for SP).
int shellFunctionCount(int type);

}  // namespace mv::angular
