// The Molden reader: atoms, the contracted Gaussian basis and the orbitals
// with their occupations, returned as the same Checkpoint value as the
// formatted checkpoint reader's.
//
// A Molden file holds neither an overlap matrix nor a density.  The reader
// keeps the contraction coefficients and the orbital coefficients exactly as
// written; which of the writers' conventions they follow can only be decided
// with the overlap matrix (analysis/convention.h), and the density is built
// from the orbitals after that.
//
// What the reader does with the file:
//  - sections are found by their bracketed names in any case and order;
//    sections it does not use are skipped;
//  - [Atoms] in bohr ("AU", "(AU)", "Bohr") or in Angstrom (the default);
//  - [GTO]: shells s, p, sp, d, f, g and h; pure shells where the flags
//    [5D], [5D10F], [7F], [5D7F], [9G] or [11H] say so (a file with pure g
//    has pure h too); exponents scaled by the square of a shell's scale
//    factor; Fortran D exponents; atoms in any order (their functions are
//    put in atom order, and the orbital coefficients with them);
//  - Cartesian components put into the program's order (they differ from g
//    on); pure functions keep the file's order m = 0, +1, -1, ...;
//  - [MO]: Alpha orbitals, then Beta orbitals for a spin-unrestricted wave
//    function; coefficients left out are zero;
//  - [Pseudo]: the valence charges of atoms with an effective core
//    potential replace their nuclear charges.
// A fault is refused with the line it is on.
#pragma once

#include <string_view>

#include "checkpoint/checkpoint.h"
#include "core/limits.h"

namespace mv {

Checkpoint readMolden(std::string_view bytes, const std::string& name, const Limits& limits);

}  // namespace mv
