// The writers' conventions of a Molden file, decided by its orbitals.
//
// The format wants contraction coefficients of normalised primitives and
// contracted functions normalised as a whole.  Writers depart from that in
// known ways (their primitive normalisation folded into the coefficients,
// Cartesian components scaled, contractions not normalised), and nothing in
// the file says which writer made it.  The orbitals tell: with the right
// convention, C^T S C = 1 for every orbital of the file, within 1e-4.  The
// conventions are tried in a fixed order, the file as written first; the
// first that fits is applied, and a file that none fits is refused.
//
// The program's own functions are contractions normalised as a whole, each
// Cartesian component normalised on its own.  A convention is therefore a
// shape of the contractions (the coefficients up to a common factor) and a
// factor for each function's orbital coefficients that turns them into
// coefficients of the program's functions.
#pragma once

#include <string>

#include "checkpoint/checkpoint.h"
#include "core/limits.h"
#include "core/matrix.h"
#include "core/parallel.h"
#include "integrals/basis.h"

namespace mv {

// Largest deviation of C^T S C from the unit matrix that is accepted.
inline constexpr double kOrthonormalityTolerance = 1e-4;

struct OrbitalConvention {
  std::string name;        // the convention applied ("as written", "ORCA", ...)
  double deviation = 0.0;  // largest |C^T S C - 1| over all orbitals under it
  double asWritten = 0.0;  // the same for the file as written
};

// The shells with each contraction scaled to unit norm (the s and p parts
// of an SP shell each on its own).  A contraction of zero norm is refused.
Shells unitContractions(const Shells& shells);

// The largest |C^T S C - 1| over the first `count` columns of c.
double orthonormalityDeviation(const Matrix& c, int count, const Matrix& s, const Parallel& par);

// Decide the convention of the orbitals of ck (a Molden file), whose
// contractions as written are `written`.  `basis` and `s` are those of
// unitContractions(written), S in the file's order.  The convention is
// applied: the orbital coefficients become coefficients of the program's
// functions and, when it changes the shape of the contractions, ck.shells,
// `basis` and `s` are made anew.  Refused (with the line of the orbitals)
// when no convention makes the orbitals orthonormal.
OrbitalConvention settleConvention(Checkpoint& ck, const Shells& written, Basis& basis, Matrix& s,
                                   const Limits& limits, const Parallel& par);

}  // namespace mv
