// The density of a set of orbitals with their occupations.
#pragma once

#include "core/matrix.h"

namespace mv {

// P(mu,nu) = sum over orbitals i of n(i) C(mu,i) C(nu,i), the sum over i in
// ascending order; orbitals of zero occupation add nothing.  The first
// occ.size() columns of c are used (c may hold more).  P is symmetric by
// construction: each element below the diagonal is computed once and copied.
Matrix densityFromOrbitals(const Matrix& c, const Vec1<double>& occ);

}  // namespace mv
