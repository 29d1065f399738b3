// The overlap matrix of the contracted basis.
#pragma once

namespace mv {

// Normalise the primitives, renormalise every contraction of two or more
// primitives to unit self-overlap, and assemble S (matrix stv1) atom block by
// atom block in the program's own basis-function order.
// An element that is not a finite number (extreme coordinates or exponents
// overflow the integrals) is refused.
void buildOverlap();

}  // namespace mv
