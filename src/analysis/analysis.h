// Bond-order analysis: density verification, bond orders and valences, and
// the symmetric eigen-solver.
#pragma once

#include "core/parallel.h"
#include "tables.h"

namespace mv {

// Make sure the density in c2 belongs to S: accept it, rebuild it (ROHF),
// reread it in the other triangular order, or stop.
void denstest();

// Bond orders, valences, free valences and effectively unpaired electrons.
// p: density (then work space), w: work (out: P*S), s: overlap; first/last:
// 1-based per-atom function limits (first[a-1] is the first function of atom a).
void tarsel(MatView p, MatView w, MatView s, const int* first, const int* last, int nat, int nbf);

// All eigenvalues (descending, into d[0..n-1]) and eigenvectors (columns of
// a) of the symmetric matrix whose lower triangle is in the leading n by n
// block of a (column-major, leading dimension lda >= n).  Any order n is
// accepted; the work is shared out among the threads of `par`, and the
// results are the same for any number of threads.
void sdiag(double* a, int lda, double* d, int n, const Parallel& par);
// The same, except that the eigenvectors are not formed when every
// eigenvalue is below `threshold`: returns false then (a is left as work
// space), true with the eigenvectors in a otherwise.  The eigenvalues are
// those of sdiag either way.
bool sdiagUnlessAllBelow(double* a, int lda, double* d, int n, double threshold,
                         const Parallel& par);

}  // namespace mv
