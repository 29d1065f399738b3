// Multicentre bond indices of rings of atoms.
//
// For a ring A1, A2, ..., An in cyclic order and a matrix M, the cyclic
// product
//   C_M(A1..An) = trace( M[A1,A2] M[A2,A3] ... M[An-1,An] M[An,A1] ),
// M[A,B] the block of the rows of A's functions and the columns of B's,
// is one chain of products of small blocks.  The index is
//   closed shell:  I = C_{PS}
//   open shell:    I = 2^(n-1) (C_{Pa S} + C_{Pb S}),  Pa,b = (P +- Ps)/2
// (with Pa = Pb = P/2 the second form is the first), and for a correlated
// density C_{PS} of the analysed total density, which has no square-root
// term: its two-centre index is the first term of the bond order only.  The
// normalised index is sign(I) |I|^(1/n).  For the density of one
// determinant the index of two atoms is their bond order.  Reversing a ring
// can change the index (PS is not symmetric); rotating it cannot.
#pragma once

#include <vector>

#include "core/matrix.h"

namespace mv {

// Which of the formulas above gives the indices.
enum class MulticenterFormula {
  ClosedShell,   // C_{PS}, closed-shell determinant
  SpinResolved,  // 2^(n-1) (C_{Pa S} + C_{Pb S}), open-shell determinant
  TotalDensity,  // C_{PS} of a correlated total density, no square-root term
};

// The name of a formula in the report and the JSON object.
const char* formulaName(MulticenterFormula f);

struct MulticenterIndex {
  std::vector<int> atoms;  // the ring as given, atoms from 1
  double index = 0.0;
  double normalized = 0.0;
};

struct MulticenterAnalysis {
  MulticenterFormula formula = MulticenterFormula::ClosedShell;
  std::vector<MulticenterIndex> rings;
};

// sign(x) |x|^(1/n), and 0 for x = 0.
double normalizedIndex(double index, int n);

// The index of each ring (atoms from 1, in range) of the density p, with
// the spin density `spin` for the spin-resolved formula (else null), on S
// (all in the file's order of functions); first/last give each atom's
// functions.  Only the blocks of P S (and Ps S) that a ring joins are
// formed: the cost is about n m^2 N per ring for m functions per atom and
// N in all.
MulticenterAnalysis multicenterIndices(const Matrix& p, const Matrix* spin, const Matrix& s,
                                       const Vec1<int>& first, const Vec1<int>& last,
                                       const std::vector<std::vector<int>>& rings,
                                       MulticenterFormula formula);

}  // namespace mv
