// The dense kernels built for AVX2 alone, which the library runs on
// processors without AVX-512 (checks in kernel_variants.h).  Skipped where
// the processor lacks AVX2 or the compiler cannot target it.
#if defined(__x86_64__) && defined(__GNUC__)
#define MV_KERNELS_ONLY_AVX2
#include "analysis/linalg.cpp"
#include "analysis/sdiag.cpp"
#include "kernel_variants.h"
#include "tiny_terms.h"
#define MV_RUNS_VARIANT __builtin_cpu_supports("avx2")
#else
#include <gtest/gtest.h>
#define MV_RUNS_VARIANT false
#endif

namespace {

TEST(KernelsAvx2, ProductsEqualAscendingSums) {
  if (!MV_RUNS_VARIANT) GTEST_SKIP() << "no AVX2 here";
#ifdef MV_KERNELS_ONLY_AVX2
  checkProducts(mv::only::matmul, mv::only::spectral);
#endif
}

TEST(KernelsAvx2, ProductsPassOverOnlyTermsThatCannotChangeASum) {
  if (!MV_RUNS_VARIANT) GTEST_SKIP() << "no AVX2 here";
#ifdef MV_KERNELS_ONLY_AVX2
  tiny_terms::checkTinyTerms(mv::only::matmul, mv::only::spectral);
#endif
}

TEST(KernelsAvx2, EigenSolverEqualsTheLibrary) {
  if (!MV_RUNS_VARIANT) GTEST_SKIP() << "no AVX2 here";
#ifdef MV_KERNELS_ONLY_AVX2
  checkEigenSolver(mv::only::sdiag, mv::only::sdiagUnlessAllBelow);
#endif
}

}  // namespace
