// The checks of a checkpoint's values that every reader's result passes in
// the command line before it is analysed: counts and values that a damaged
// or hand-edited file can hold although each of them reads as a number.
#pragma once

#include "checkpoint/checkpoint.h"

namespace mv {

// Labels under which the sections these checks name are recorded in
// Checkpoint::sections (a reader of another format records its own lines
// under them, so that a refusal points at the right line).
inline constexpr const char* kAtomicNumbersLabel = "Atomic numbe";
inline constexpr const char* kNuclearChargesLabel = "Nuclear charges ";
inline constexpr const char* kElectronsLabel = "Number of electr";
inline constexpr const char* kBetaLabel = "Number of beta e";
inline constexpr const char* kChargeLabel = "Charge          ";
inline constexpr const char* kMultiplicityLabel = "Multiplicity    ";

// Refuse (stop 8200, naming the line) a checkpoint whose
// - atomic numbers are not those of elements or ghost atoms (0 to 118),
// - nuclear charges are negative,
// - electron counts disagree: nalpha + nbeta must be the number of
//   electrons, with 0 <= nbeta <= nalpha,
// - multiplicity (when given) is not nalpha - nbeta + 1,
// - charge (when given) is not the nuclear charges less the electrons.
// Needs the counts and the atoms, not the orbitals or the density.
void validateCheckpoint(const Checkpoint& ck);

}  // namespace mv
