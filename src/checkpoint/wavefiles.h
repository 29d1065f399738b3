// The readers of the wave-function files of real-space analysis programs,
// each returning the same Checkpoint value as the formatted checkpoint and
// Molden readers:
//  - readWfn: the fixed-layout AIM file (.wfn);
//  - readWfx: its tagged successor (.wfx), with separate nuclear charges
//    and atomic numbers, and explicit spins;
//  - readMwfn: the .mwfn file, which keeps the contracted basis.
//
// A .wfn or .wfx file lists every basis function as one bare Cartesian
// primitive on a centre, contractions and pure combinations multiplied into
// the orbital coefficients.  The readers give it as single-primitive
// Cartesian shells (wavetext.h, primitiveBasis): Mulliken populations and
// bond orders over the primitives equal those of the contracted basis,
// since the contraction map is block-diagonal by atom.
//
// None of these files holds a density: it is built from the orbitals and
// their occupations (a determinant's, or natural orbitals with fractional
// occupations), per spin where the spins are given apart.  Nuclear charges
// are those of the file (reduced by an effective core potential, 0 for a
// ghost atom), elements those of the atoms' names or atomic numbers.
// A fault is refused with the file, the line and the reason.
#pragma once

#include <string>
#include <string_view>

#include "checkpoint/checkpoint.h"
#include "core/limits.h"

namespace mv {

Checkpoint readWfn(std::string_view bytes, const std::string& name, const Limits& limits);
Checkpoint readWfx(std::string_view bytes, const std::string& name, const Limits& limits);
Checkpoint readMwfn(std::string_view bytes, const std::string& name, const Limits& limits);

// The atomic number an atom's name gives ("O", "LI", "Li1", "Cl12"), 0
// when its letters name no element.
int elementOfName(std::string_view name);

}  // namespace mv
