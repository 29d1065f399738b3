// Dense products on the leading n by n blocks of column-major matrices.
//
// Every element is its own sum over k, formed in ascending k in double
// precision; the order in which the elements are computed is free.  None of
// the routines takes symmetry for granted: where a result is symmetric in
// exact arithmetic, each of its elements is still computed from its own sum.
#pragma once

#include "core/matrix.h"
#include "core/parallel.h"

// The hot loops are compiled for AVX-512, for AVX2 and for the baseline
// x86-64 instruction set, and the loader picks the widest variant that the
// processor supports.  Fused multiply-add stays disabled in all of them, so
// every variant rounds every product and every sum alike and gives identical
// results, whatever its vector width or register tile.
//  - MV_WIDE_KERNEL marks a function whose one body is compiled for each
//    instruction set;
//  - MV_AVX512_KERNEL, MV_AVX2_KERNEL and MV_BASELINE_KERNEL mark versions of
//    one function with bodies of their own (say, a register tile that fills
//    the 32 registers of AVX-512), each defined only where
//    MV_KERNELS_AVX512, MV_KERNELS_AVX2 or MV_KERNELS_BASELINE is 1.
// Helpers of such a loop are forced inline so that they share its variant.
// Sanitizer builds keep the baseline variant alone (the loader's choice of
// variant runs before the sanitizer's run time is set up).
//
// A test source may build the kernels for one instruction set alone, to
// check each variant on any processor that runs it: it defines
// MV_KERNELS_ONLY_BASELINE, MV_KERNELS_ONLY_AVX2 or MV_KERNELS_ONLY_AVX512,
// then includes linalg.cpp and sdiag.cpp; their entry points are then
// mv::only::matmul and so on, private to that source.
#if defined(MV_KERNELS_ONLY_BASELINE) || defined(MV_KERNELS_ONLY_AVX2) || \
    defined(MV_KERNELS_ONLY_AVX512)
#define MV_KERNELS_AVX512 0
#define MV_KERNELS_AVX2 0
#define MV_KERNELS_BASELINE 0
#if defined(MV_KERNELS_ONLY_AVX512)
#undef MV_KERNELS_AVX512
#define MV_KERNELS_AVX512 1
#define MV_WIDE_KERNEL __attribute__((target("avx512f")))
#elif defined(MV_KERNELS_ONLY_AVX2)
#undef MV_KERNELS_AVX2
#define MV_KERNELS_AVX2 1
#define MV_WIDE_KERNEL __attribute__((target("avx2")))
#else
#undef MV_KERNELS_BASELINE
#define MV_KERNELS_BASELINE 1
#define MV_WIDE_KERNEL
#endif
#define MV_AVX512_KERNEL MV_WIDE_KERNEL
#define MV_AVX2_KERNEL MV_WIDE_KERNEL
#define MV_BASELINE_KERNEL MV_WIDE_KERNEL
#define MV_KERNELS_ENTRY_BEGIN \
  namespace {                  \
  namespace only {
#define MV_KERNELS_ENTRY_END \
  }                          \
  }
#elif defined(__GNUC__) && !defined(__clang__) && defined(__x86_64__) && defined(__linux__) && \
    !defined(__SANITIZE_ADDRESS__) && !defined(__SANITIZE_THREAD__)
#define MV_KERNELS_AVX512 1
#define MV_KERNELS_AVX2 1
#define MV_KERNELS_BASELINE 1
#define MV_WIDE_KERNEL __attribute__((target_clones("avx512f", "avx2", "default")))
#define MV_AVX512_KERNEL __attribute__((target("avx512f")))
#define MV_AVX2_KERNEL __attribute__((target("avx2")))
#define MV_BASELINE_KERNEL __attribute__((target("default")))
#else
#define MV_KERNELS_AVX512 0
#define MV_KERNELS_AVX2 0
#define MV_KERNELS_BASELINE 1
#define MV_WIDE_KERNEL
#define MV_BASELINE_KERNEL
#endif
#ifndef MV_KERNELS_ENTRY_BEGIN
#define MV_KERNELS_ENTRY_BEGIN
#define MV_KERNELS_ENTRY_END
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
// w[k-1] = w(k).  C must not share storage with U.  The factor U^T is packed
// panel by panel straight from U.
void spectral(MatView c, MatView u, const double* w, int n, const Parallel& par);

}  // namespace mv
