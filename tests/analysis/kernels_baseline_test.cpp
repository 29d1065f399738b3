// The dense kernels built for the baseline instruction set alone, which the
// library runs on processors without AVX2 (checks in kernel_variants.h).
#define MV_KERNELS_ONLY_BASELINE
#include "analysis/linalg.cpp"
#include "analysis/sdiag.cpp"
#include "kernel_variants.h"
#include "tiny_terms.h"

namespace {

TEST(KernelsBaseline, ProductsEqualAscendingSums) {
  checkProducts(mv::only::matmul, mv::only::spectral);
}

TEST(KernelsBaseline, ProductsPassOverOnlyTermsThatCannotChangeASum) {
  tiny_terms::checkTinyTerms(mv::only::matmul, mv::only::spectral);
}

TEST(KernelsBaseline, EigenSolverEqualsTheLibrary) {
  checkEigenSolver(mv::only::sdiag, mv::only::sdiagUnlessAllBelow);
}

}  // namespace
