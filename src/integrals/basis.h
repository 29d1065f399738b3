// The basis set: the checkpoint's contracted shells expanded into basis
// functions made of Cartesian Gaussian primitives.
//
// A Cartesian (or SP) function is one Cartesian component times the
// shell's contraction.  A pure function is a fixed combination of Cartesian
// components: each component becomes a run of the shell's primitives, with
// the combination factor folded into the contraction coefficients.  Every
// function owns its primitives, in the order its overlap sums take them.
#pragma once

#include "checkpoint/checkpoint.h"
#include "core/limits.h"
#include "core/matrix.h"

namespace mv {

struct Basis {
  int natoms = 0;
  int nbf = 0;
  // Primitives times the Cartesian components of their shells (an SP shell
  // counts four): the size of the expanded primitive table of the method.
  long long expandedPrimitives = 0;
  int maxPower = 0;  // highest Cartesian power of any primitive

  // First and last basis function of each atom; an atom without functions
  // has 0 and 0 in the classic run, the empty range last + 1, last on the
  // command line.
  Vec1<int> first, last;
  Vec1<int> atomOf;         // atom of each function
  Vec1<int> pfirst, plast;  // first and last primitive of each function
  Vec1<double> expo;        // per primitive: exponent,
  Vec1<double> coeff;       // contraction coefficient (of the normalised primitive),
  Vec1<int> lx, ly, lz;     // Cartesian powers
  // map(k): position, in the checkpoint's order, of function k of the
  // program's own order.  The two orders differ only inside pure d and f
  // shells, whose functions the method builds in an order of its own.
  Vec1<int> map;
};

// Number of basis functions of a shell type code, or 0 for a code that no
// shell of up to l = 6 has.
int functionsOfType(int type);

// Expand the shells, with the classic checks of the shell data: a first
// shell of type p ("4358"), an unknown or too high shell type, a function
// count that differs from the file's ("968"), a first shell that is pure,
// and shell data that would index a table out of range.
Basis expandBasis(const Shells& shells, int natoms, int nbf, const Limits& limits);

}  // namespace mv
