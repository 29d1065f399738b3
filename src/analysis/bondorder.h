// Numbers of the bond-order analysis, for callers that need them without the
// report (the tests, and any later consumer of the results).
#pragma once

#include "tables.h"

namespace mv {

struct BondOrderResults {
  double unpaired = 0.0;   // number of effectively unpaired electrons, trace(2W - W W)
  double asymmetry = 0.0;  // largest |X(i,j) - X(j,i)| of X = S^1/2 D S^1/2
  double trace = 0.0;      // trace of X
  // Bond orders off the diagonal; on the diagonal the valence used in bonds.
  Fixed<double, kMaxAtoms, kMaxAtoms> bomat;
  Vec<double, kMaxAtoms> total;  // total valence of each atom
  Vec<double, kMaxAtoms> free;   // free valence of each atom
};

// The results of the last call of tarsel or analyseBondOrders.
const BondOrderResults& bondOrderResults();

// The computation of tarsel with the same arguments, effects on p and w and
// refusals, but without writing the report.
void analyseBondOrders(MatView p, MatView w, MatView s, const int* first, const int* last, int nat,
                       int nbf);

}  // namespace mv
