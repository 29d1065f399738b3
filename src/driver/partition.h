// Atom partition of the basis functions and Mulliken populations.
#pragma once

#include "tables.h"

namespace mv {

// Derive the atom count and basis count from the per-atom limits (all
// `entries` scanned), check them and print the atoms and atomic pairs line.
void getparm(const int* first, const int* last, int& natoms, int& nbasis, int entries,
             int atomLimit);
// Bring S (stv1) from the program's order into the checkpoint's order.
void getsome(int dim, int nbasis, int natoms, MatView h);
// Owning atom of each basis function.
void inpint(int natoms, const int* first, const int* last);
// Mulliken gross populations: compute qat and print the table.
void populations();

}  // namespace mv
