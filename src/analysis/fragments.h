// Groups of atoms (fragments) and the quantities summed over them: the
// charge, the spin population and the total valence of each fragment, and
// the bond orders between fragments,
//   B(F,G) = sum over A in F, B in G of B_AB            (F != G),
//   B(F,F) = sum over the pairs A < B inside F of B_AB,
// so that the upper triangle of B(F,G), diagonal included, adds up to the
// sum of the bond orders of all pairs of atoms.  For the density of one
// determinant with unpaired electrons the bond order splits by spin,
//   B_AB = 2 sum (Pa S)(mu,nu) (Pa S)(nu,mu) + 2 sum (Pb S)(mu,nu) (Pb S)(nu,mu),
// and the two parts are summed the same way.
//
// Atoms are numbered from 1.  A request is text: `auto` (the connected
// components of the bonds from a threshold on) or groups separated by ';',
// each a comma list of atom numbers and ranges ("1-3,7;4-6"); the atoms
// not listed form one last fragment.
#pragma once

#include <string>
#include <utility>
#include <vector>

#include "core/matrix.h"
#include "core/parallel.h"

namespace mv {

// A range of atom numbers, first to last inclusive.
using AtomRange = std::pair<int, int>;

// A parsed request of fragments; the atoms are checked against a molecule
// only when it is known (atomsInRange).
struct FragmentRequest {
  std::string text;                            // as given, for messages
  bool automatic = false;                      // `auto`
  std::vector<std::vector<AtomRange>> groups;  // as given, in order
  bool empty() const { return !automatic && groups.empty(); }
};

// Parse a request.  Throws std::invalid_argument whose message names the
// bad text: an item that is not an atom number or a range, a range whose
// end is below its start, atom 0, an empty group, an atom listed twice.
FragmentRequest parseFragments(const std::string& text);

// Parse rings of atoms in cyclic order, separated by ';', atoms by ','
// ("1,2,3;4,5,6,7,8,9").  Throws std::invalid_argument naming the bad
// text: not an atom number, atom 0, a ring of fewer than two atoms, an atom
// repeated in a ring.
std::vector<std::vector<int>> parseRings(const std::string& text);

// Throws std::invalid_argument naming the first atom (or range) beyond the
// natoms atoms of a molecule.
void requireAtomsInRange(const FragmentRequest& request, int natoms);
void requireAtomsInRange(const std::vector<std::vector<int>>& rings, int natoms);

// The fragments of a molecule of natoms atoms, each its atoms in ascending
// order: the groups as given and then the atoms not listed (when any); for
// `auto` the connected components of the graph whose edges are the pairs
// of bond order minBond or more, ordered by their lowest atom.
std::vector<std::vector<int>> resolveFragments(const FragmentRequest& request, int natoms,
                                               const Matrix& bonds, double minBond);

// "1-3,7": the atoms (ascending) with runs of three or more as ranges.
std::string atomRangesText(const std::vector<int>& atoms);

// Sums over fragments of a symmetric matrix of atom pairs (zero diagonal):
// the fragment-pair matrix defined above.  fragmentOf(A) is A's fragment,
// from 1; nf fragments.  Pairs are taken in ascending order (A < B), so
// the result is symmetric to the last digit.
Matrix fragmentSums(const Matrix& pairs, const Vec1<int>& fragmentOf, int nf);

// 2 sum over mu in A, nu in B of W(mu,nu) W(nu,mu) for every pair of atoms
// (zero diagonal), W = Ps S: the part of the bond orders of one spin's
// density ps.  first/last give each atom's functions.
Matrix spinBondOrders(const Matrix& ps, const Matrix& s, const Vec1<int>& first,
                      const Vec1<int>& last, const Parallel& par = Parallel());

// What the fragments of one analysis hold.  The optional parts are empty
// where they do not apply.
struct FragmentAnalysis {
  std::vector<std::vector<int>> atoms;  // each fragment's atoms, ascending
  Vec1<double> charge;                  // Mulliken charges summed
  Vec1<double> spin;                    // spin populations summed; empty for none
  Vec1<double> valence;                 // total valences summed
  Matrix bonds;                         // bond orders between fragments
  Matrix alpha, beta;                   // their spin parts (open-shell determinant)
  Matrix wiberg;                        // Wiberg-Löwdin sums (with the Löwdin analysis)
  int count() const { return static_cast<int>(atoms.size()); }
};

// The per-atom values of an analysis that the fragment quantities sum.
struct AtomValues {
  const Vec1<double>* charge = nullptr;   // Mulliken charges
  const Vec1<double>* spin = nullptr;     // spin populations, or null
  const Vec1<double>* valence = nullptr;  // total valences
  const Matrix* bonds = nullptr;          // bond orders
  const Matrix* wiberg = nullptr;         // Wiberg-Löwdin indices, or null
};

// The spin densities of a determinant with unpaired electrons, for the
// spin parts: the total density P and the spin density Ps on S, giving
// Pa = (P + Ps)/2 and Pb = (P - Ps)/2.
struct SpinDensities {
  const Matrix* total = nullptr;
  const Matrix* spin = nullptr;
  const Matrix* overlap = nullptr;
  const Vec1<int>* first = nullptr;
  const Vec1<int>* last = nullptr;
};

// The fragment quantities; `densities` is given (its matrices non-null)
// only for an open-shell determinant.
FragmentAnalysis fragmentAnalysis(const std::vector<std::vector<int>>& fragments,
                                  const AtomValues& values, const SpinDensities* densities,
                                  const Parallel& par = Parallel());

}  // namespace mv
