// The symmetric eigen-solver.
#pragma once

#include <atomic>

#include "core/parallel.h"

namespace mv {

// All eigenvalues (descending, into d[0..n-1]) and eigenvectors (columns of
// a) of the symmetric matrix whose lower triangle is in the leading n by n
// block of a (column-major, leading dimension lda >= n).  Any order n is
// accepted; the work is shared out among the threads of `par`, and the
// results are the same for any number of threads.
void sdiag(double* a, int lda, double* d, int n, const Parallel& par = Parallel());
// The same, except that when `abandon` becomes true the solve ends early:
// returns false then, leaving a and d unspecified.
bool sdiagUnlessAbandoned(double* a, int lda, double* d, int n, const Parallel& par,
                          const std::atomic<bool>& abandon);
// The same, except that the eigenvectors are not formed when every
// eigenvalue is below `threshold`: returns false then (a is left as work
// space), true with the eigenvectors in a otherwise.  The eigenvalues are
// those of sdiag either way.
bool sdiagUnlessAllBelow(double* a, int lda, double* d, int n, double threshold,
                         const Parallel& par = Parallel());

}  // namespace mv
