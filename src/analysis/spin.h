// Mulliken spin populations: where the unpaired spin of an open-shell wave
// function sits.  With Ps = Pa - Pb the spin density,
//   s(A) = sum over mu in A of (Ps S)(mu,mu),
// and the populations add up to trace(Ps S) = nalpha - nbeta.
#pragma once

#include "checkpoint/checkpoint.h"
#include "core/matrix.h"

namespace mv {

// Where the spin density of the analysed density comes from.
enum class SpinSource {
  None,      // a closed shell, or an open shell whose file holds no spin density for it
  File,      // the file's section ("Spin SCF Density", "Spin MP2 Density", ...)
  Orbitals,  // a restricted open-shell determinant: its singly occupied alpha orbitals
};

struct SpinPopulations {
  Vec1<double> atom;   // s(A) of each atom
  double total = 0.0;  // trace(Ps S)
};

// Which spin density the spin populations of `ck` take.  A spin-unrestricted
// wave function, or a correlated density with nalpha != nbeta, takes the
// file's spin density of the analysed density when the reader found one; the
// SCF density of a restricted open-shell wave function (nalpha != nbeta, one
// set of orbitals), or the density of its occupied orbitals (a file without
// a density, a Molden file), takes its orbitals, which the classic rebuild
// of the density trusts as well.  Closed shells have none.
SpinSource spinSource(const Checkpoint& ck);

// The spin density of a restricted open shell from ck's alpha orbitals: the
// singly occupied ones by their occupations when the orbitals carry them,
// else orbitals nbeta+1 .. nalpha.
Matrix openShellSpinDensity(const Checkpoint& ck);

// The spin density of a restricted open-shell determinant, from the alpha MO
// coefficients (one orbital per column): the sum over the singly occupied
// orbitals nbeta+1 .. nalpha of C(mu,o) C(nu,o).  Orbitals the file does not
// hold count as zero.
Matrix openShellSpinDensity(const Matrix& mo, int nalpha, int nbeta);
// The same from the occupations of the columns of mo: the orbitals occupied
// once.
Matrix openShellSpinDensity(const Matrix& mo, const Vec1<double>& occupation);

// The spin populations of spin density ps; hold gives the atom of each basis
// function.  S and ps are in the file's order of functions.  Populations
// that are not finite numbers (a spin density with elements out of range)
// are refused.
SpinPopulations spinPopulations(const Matrix& s, const Matrix& ps, const Vec1<int>& hold,
                                int natoms);

}  // namespace mv
