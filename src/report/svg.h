// Drawing of the analysed molecule as a standalone SVG picture.
//
// The atoms sit at the projection of their coordinates onto the plane of the
// two largest principal axes of the molecule, as discs coloured by element
// (CPK colours) and sized by covalent radius, painted back to front.  Every
// bond given is a line whose width grows with the bond order, its order
// printed on it; a colour ring around each atom shows its Mulliken charge on
// a symmetric blue-white-red scale, and a halo with the value printed marks
// every atom whose free valence is above 0.1 (a radical centre).  A title,
// a legend of these encodings and the charge scale complete the picture.
//
// The picture is plain SVG 1.1 text: no script, no web font (generic font
// families only), every text that comes from the checkpoint file escaped.
// The parts carry stable class names: "atom" (group, id "atom-N"),
// "atom-disc", "charge-ring", "atom-label" (the text "C1"), "bond",
// "bond-label", "bond-label-backing", "free-valence-halo",
// "free-valence-label", "title", "method", "legend".
#pragma once

#include <ostream>
#include <string>
#include <vector>

namespace mv {

struct DrawAtom {
  int index;           // the atom's number in the checkpoint file, from 1
  int atomicNumber;    // 0 for a ghost atom
  std::string symbol;  // element symbol; blanks around it are ignored, and an
                       // empty one is taken from the atomic number
  double xyz[3];       // Cartesian coordinates, bohr
  double charge;       // Mulliken charge: nuclear charge - gross population
  double freeValence;
};

struct DrawBond {
  int a, b;  // the atoms' numbers (DrawAtom::index)
  double order;
};

struct Drawing {
  std::string title;   // the checkpoint file's title line
  std::string method;  // e.g. "RHF/STO-3G"
  std::vector<DrawAtom> atoms;
  std::vector<DrawBond> bonds;  // already filtered: order >= minBond
  double minBond = 0.1;         // the filter's threshold, shown in the legend
};

// Free valences above this are drawn as radical centres.
inline constexpr double kFreeValenceShown = 0.1;

// An atom in the principal frame of the molecule, bohr: x along the largest
// principal axis, y along the second, depth along the third (towards the
// viewer).  See projectAtoms for how the frame is fixed.
struct Projected {
  double x, y, depth;
};

// Coordinates of the atoms in the principal frame, in the order given.
//
// The frame is the eigenvectors of the 3x3 second-moment matrix of the
// coordinates about their (unweighted) centre, largest eigenvalue first.
// Each axis is fixed up to its sign by the matrix; the signs are fixed by
// the atoms: x points away from the first atom (in the order given) whose
// coordinate along it exceeds 1e-4 of the molecule's root-mean-square
// radius, so that this atom lies on the left, and y points towards the
// first such atom along y, so that it lies above.  The depth axis is the
// cross product of the first two: the frame is right-handed, and the mirror
// image of a molecule with three distinct moments draws with the same
// picture and its depths reversed.
//
// Where two moments agree to 1e-3 of the largest, the eigenvectors within
// their common space are arbitrary; there x (or y) is the direction, within
// that space, of the first atom's component longer than the bound above.
// Where all three agree (a spherical top such as methane or C60, or a
// single point), every direction is principal: the view is then the one,
// of 241 directions spread over a half sphere around the frame that the
// same rules give, in which the two atoms nearest each other in the
// picture are farthest apart (the first one on ties), so that no atom
// hides exactly behind another; x and y follow the rules above.
//
// So a rotated and translated copy of a molecule gives the same
// coordinates.  Non-finite input coordinates count as zero; every output
// is finite, also for one atom, two atoms, linear molecules and atoms that
// all coincide (these lie on the x axis, or at the origin).
std::vector<Projected> projectAtoms(const std::vector<DrawAtom>& atoms);

// Write the drawing as a standalone SVG document.  Throws
// std::invalid_argument, before writing anything, when two atoms share a
// number or a bond names an atom that is not in the drawing.
void writeSvg(std::ostream& out, const Drawing& d);

}  // namespace mv
