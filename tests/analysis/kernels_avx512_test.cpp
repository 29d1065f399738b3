// The dense kernels built for AVX-512 alone, which the library runs
// wherever the processor has it (checks in kernel_variants.h).  Skipped where
// the processor lacks AVX-512 or the compiler cannot target it.
#if defined(__x86_64__) && defined(__GNUC__)
#define MV_KERNELS_ONLY_AVX512
#include "analysis/linalg.cpp"
#include "analysis/sdiag.cpp"
#include "kernel_variants.h"
#include "tiny_terms.h"
#define MV_RUNS_VARIANT __builtin_cpu_supports("avx512f")
#else
#include <gtest/gtest.h>
#define MV_RUNS_VARIANT false
#endif

namespace {

TEST(KernelsAvx512, ProductsEqualAscendingSums) {
  if (!MV_RUNS_VARIANT) GTEST_SKIP() << "no AVX-512 here";
#ifdef MV_KERNELS_ONLY_AVX512
  checkProducts(mv::only::matmul, mv::only::spectral);
#endif
}

TEST(KernelsAvx512, ProductsPassOverOnlyTermsThatCannotChangeASum) {
  if (!MV_RUNS_VARIANT) GTEST_SKIP() << "no AVX-512 here";
#ifdef MV_KERNELS_ONLY_AVX512
  tiny_terms::checkTinyTerms(mv::only::matmul, mv::only::spectral);
#endif
}

TEST(KernelsAvx512, EigenSolverEqualsTheLibrary) {
  if (!MV_RUNS_VARIANT) GTEST_SKIP() << "no AVX-512 here";
#ifdef MV_KERNELS_ONLY_AVX512
  checkEigenSolver(mv::only::sdiag, mv::only::sdiagUnlessAllBelow);
#endif
}

}  // namespace
