// The atom partition of the basis functions and the Mulliken populations.
#pragma once

#include "core/limits.h"
#include "core/matrix.h"

namespace mv {

struct Partition {
  int natoms = 0;  // the highest atom whose last function is positive
  int nbasis = 0;  // the last function of that atom
  long long pairs = 0;
};

// Derive the atom and basis counts from the per-atom function ranges and
// check them: more atoms than the analysis accepts and (in the classic run)
// a single atom are refused; the functions per atom must add up to the
// basis count (stop "1212").
Partition getparm(const Vec1<int>& first, const Vec1<int>& last, const Limits& limits);

// Owning atom of each of the nbf basis functions (0 for none).
Vec1<int> inpint(const Vec1<int>& first, const Vec1<int>& last, int natoms, int nbf);

struct Populations {
  Vec1<double> qat;    // Mulliken gross population of each atom
  double total = 0.0;  // trace(P S), the electrons the density describes
};

// Gross population of an atom: the sum of the diagonal of P S over its
// functions; only the diagonal is formed.  Populations that are not finite
// numbers (a density with elements out of range) are refused.
Populations mulliken(const Matrix& s, const Matrix& p, const Vec1<int>& hold, int natoms);

}  // namespace mv
