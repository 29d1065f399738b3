// Dense products on the leading n by n blocks of column-major matrices.
//
// Every element is its own sum over k, formed in ascending k in double
// precision; the order in which the elements are computed is free.  None of
// the routines takes symmetry for granted: where a result is symmetric in
// exact arithmetic, each of its elements is still computed from its own sum.
#pragma once

#include "core/parallel.h"
#include "core/matrix.h"

// The hot loops are compiled twice, for AVX2 and for the baseline x86-64
// instruction set, and the loader picks the variant that the processor
// supports.  Fused multiply-add stays disabled in both, so both variants
// round every product and every sum alike and give identical results.
// Helpers of such a loop are forced inline so that they share its variant.
// Sanitizer builds keep the baseline variant alone (the loader's choice of
// variant runs before the sanitizer's run time is set up).
#if defined(__GNUC__) && !defined(__clang__) && defined(__x86_64__) && defined(__linux__) && \
    !defined(__SANITIZE_ADDRESS__) && !defined(__SANITIZE_THREAD__)
#define MV_WIDE_KERNEL __attribute__((target_clones("avx2", "default")))
#else
#define MV_WIDE_KERNEL
#endif
#define MV_INLINE_KERNEL __attribute__((always_inline)) inline

namespace mv {

// Any order n >= 0 and any leading dimensions (at least n) are accepted.
// The column panels of C are shared out among the threads of `par`; the
// result does not depend on how many there are.

// C = A * B:  C(i,j) = sum over k of A(i,k) * B(k,j).
// C must not share storage with A or B.
void matmul(MatView c, MatView a, MatView b, int n, const Parallel& par);

// C = U diag(w) U^T:  C(i,j) = sum over k of (U(i,k) * w(k)) * U(j,k), with
// w[k-1] = w(k).  C must not share storage with U.  `scratch` is not
// written: the factor U^T is packed panel by panel straight from U.
void spectral(MatView c, MatView u, const double* w, MatView scratch, int n, const Parallel& par);

}  // namespace mv
