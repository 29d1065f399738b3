// Basis-set tables: expansion of the checkpoint's shells into basis
// functions made of Cartesian Gaussian primitives.
#pragma once

#include "tables.h"

namespace mv {

// The shell data as read from the checkpoint file (the reader's scratch
// tables).  Static storage only: far too large for the stack.
struct RawBasis {
  int nshell = 0;  // NSHELL
  int nprim = 0;   // NPRIM
  Vec<int, kMaxShell> shtype, shnprim, shatom;
  Vec<double, kMaxRawPrim> rawexp, rawcoef, rawpcoef;
};

// Number of basis functions of a shell type code (an unknown code counts 1).
int functionsOfType(int type);

// Build the basis tables of g (expo, lx/ly/lz, pfirst/plast, cont, coeff,
// lim, map, nat(3)) from the raw shells, with the checks "4358", unknown
// type, "968", pure first shell and "7865" in that order.  g.nat(1) and
// g.nat(2) must hold the counts as read.
void buildBasis(const RawBasis& raw);

}  // namespace mv
