// Löwdin populations and Wiberg-Löwdin bond indices: the density in the
// symmetrically orthogonalised basis, X = S^1/2 P S^1/2.
//   Löwdin population:  q_L(A) = sum over mu in A of X(mu,mu);
//   Wiberg-Löwdin index: W(A,B) = sum over mu in A, nu in B of X(mu,nu)^2
// for a closed shell or a density without spin density.  With a spin
// density Ps the index is formed from the alpha and beta densities,
//   W(A,B) = 2 sum [Xa(mu,nu)^2 + Xb(mu,nu)^2],  Xa,b = S^1/2 Pa,b S^1/2,
// which, with Pa,b = (P +- Ps) / 2, is sum [X(mu,nu)^2 + Y(mu,nu)^2],
// Y = S^1/2 Ps S^1/2.  Unlike the Mulliken populations and the bond orders,
// these numbers change when a basis function is rescaled: they belong to
// the file's normalisation (every function, Cartesian components included,
// of unit self-overlap).
#pragma once

#include "core/matrix.h"
#include "core/parallel.h"

namespace mv {

struct LowdinAnalysis {
  Vec1<double> population;  // q_L(A) of each atom
  double total = 0.0;       // trace(S^1/2 P S^1/2) = trace(P S), the electrons
  Matrix wiberg;            // W(A,B) of every pair of atoms, zero diagonal
};

// The analysis of the total density p and, when given, the spin density
// `spin`, on the overlap matrix s (all in the file's order of functions);
// first/last give each atom's functions.  S^1/2 is made here, by the
// eigen-solve of S; a basis whose S is not positive definite is refused.
// The dense products run on the threads of `par`.
LowdinAnalysis lowdinAnalysis(const Matrix& s, const Matrix& p, const Matrix* spin,
                              const Vec1<int>& first, const Vec1<int>& last, const Parallel& par);

}  // namespace mv
