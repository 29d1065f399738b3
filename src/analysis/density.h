// Density verification: the total density P read from the checkpoint file
// must belong to the overlap matrix S built here, that is trace(P S) must be
// the number of electrons.  A density that fails the check is rebuilt from
// the alpha MO coefficients (restricted open-shell case) or taken from the
// same stored triangle read column by column; if neither repair gives the
// right electron count the run stops.
#pragma once

#include <optional>
#include <vector>

#include "checkpoint/checkpoint.h"
#include "core/limits.h"
#include "core/matrix.h"
#include "core/stop.h"

namespace mv {

enum class DensityOutcome {
  Accepted,          // trace within traceTolerance() of the electron count as read
  Rebuilt,           // rebuilt from the orbitals, both traces within 0.01
  Irrecoverable,     // rebuilt, but a trace is off: the run stops
  RebuildRefused,    // the electron counts do not fit the orbital table: the run stops
  Reread,            // the other triangle order gives the right trace
  WrongAfterReread,  // neither order does: the run stops
};

struct DensityCheck {
  DensityOutcome outcome = DensityOutcome::Accepted;
  double trace = 0.0;        // trace(P S) of the density as read
  double totalTrace = 0.0;   // rebuilt: trace(P S); reread: trace(P S) of the reread density
  double spinTrace = 0.0;    // rebuilt: trace(Ps S)
  int ndens = 0;             // reread: number of the density reread (NDENS)
  std::optional<Stop> stop;  // the stop that ends the run after the check's records
  Matrix density;            // the density to analyse

  bool repaired() const { return outcome != DensityOutcome::Accepted; }
};

// Check, and where needed repair, the density of `ck` (moved out of it).
// S is in the checkpoint's order of functions.
DensityCheck checkDensity(Checkpoint& ck, const Matrix& s, const Limits& limits);

// The command line's tolerance of |trace(P S) - N| relative to N: a density
// printed to nine significant digits keeps its trace within some 1e-9 N
// (2e-9 N at most over the real Gaussian files and the fixtures), while a
// density scaled, relabelled or with functions swapped is off by far more.
inline constexpr double kPrintedTraceTolerance = 1e-6;

// The accepted |trace(P S) - N| of a density read from the file: 0.1 in the
// classic run, kPrintedTraceTolerance N (N at least 1) in the command line.
double traceTolerance(const Limits& limits, int electrons);

// trace(A S) = sum over j, i of S(i,j) A(j,i), in ascending index order.
double traceWithS(const Matrix& a, const Matrix& s);

}  // namespace mv
