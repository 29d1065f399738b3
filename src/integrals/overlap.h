// The overlap matrix of the contracted basis.
#pragma once

#include "core/matrix.h"
#include "core/parallel.h"
#include "integrals/basis.h"

namespace mv {

// Contraction coefficients of the unnormalised primitives: every
// coefficient times the normalisation constant of its primitive, and every
// function of two or more primitives rescaled to unit self-overlap.  A
// function of zero (or non-finite) self-overlap is refused.
Vec1<double> normalisedCoefficients(const Basis& b);

// S in the program's own order of functions, assembled atom block by atom
// block; coords(k, a) is coordinate k of atom a.  An element that is not a
// finite number (extreme coordinates or exponents) is refused.
// The blocks of the atoms are shared out among the threads of `par`.
Matrix overlapMatrix(const Basis& b, const Matrix& coords, const Parallel& par = Parallel());

// S brought into the checkpoint's order of functions: element (map(j),
// map(i)) of the result is S(j, i).
Matrix toFileOrder(const Matrix& s, const Vec1<int>& map, const Parallel& par = Parallel());

}  // namespace mv
