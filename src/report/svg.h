// Drawing of the analysed molecule as a standalone SVG picture.
//
// The atoms sit at the projection of their coordinates onto the plane of the
// two largest principal axes of the molecule, as discs coloured by element
// (CPK colours) and sized by covalent radius, painted back to front, the
// farther ones smaller and paler; a ghost atom is a small hollow marker
// labelled Bq.  Every bond given is a line whose width grows with the bond
// order, its order printed beside or on it (not for large molecules, see
// SvgLabels); a colour ring around each atom shows its Mulliken charge on a
// symmetric teal-white-brown scale, clear of the element colours; a halo
// with the value printed marks every radical centre: an atom whose spin
// population, or else whose free valence in an open-shell density, is
// above 0.1.  Labels are placed where they meet no disc and no other label.
// Fragments far apart are set side by side, not to scale.  A title and a
// legend of these encodings, above the molecule, complete the picture.
//
// The picture is plain SVG 1.1 text: no script, no web font (generic font
// families only), every text that comes from the checkpoint file escaped.
// The parts carry stable class names: "atom" (group, id "atom-N"),
// "atom-disc" (data-ghost="true" for a ghost's marker), "charge-ring",
// "atom-label" (the text "C1"), "charge-label", "bond", "bond-label",
// "bond-label-backing", "free-valence-halo", "free-valence-label",
// "free-valence-label-backing", "title", "method", "legend".  When the atoms
// belong to fragments, the outline of each charge ring takes its
// fragment's colour (data-fragment="N" on the atom's group), and the
// legend shows the colours ("legend-fragments").
#pragma once

#include <optional>
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
  bool ghost = false;  // nuclear charge 0 (as is atomic number 0): a ghost atom
  std::optional<double> spin = std::nullopt;  // spin population, when the analysis gives one
  int fragment = 0;  // the atom's fragment (from 1) when fragments are asked for, else 0
};

// Which labels the drawing prints on the molecule: atom labels only (None),
// and the bond orders (Bonds), and the Mulliken charges as signed numbers
// (All).  Auto: Bonds, or None when the bond orders would crowd the picture
// (more than kBondLabelAtoms atoms).
enum class SvgLabels { Auto, None, Bonds, All };
inline constexpr int kBondLabelAtoms = 40;

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
  SvgLabels labels = SvgLabels::Auto;
  // The density has unpaired electrons (nalpha != nbeta, or a spin-unrestricted
  // wave function): without spin populations, free valences mark radical
  // centres.
  bool openShell = false;
};

// Spin populations (or free valences of an open-shell density) above this
// are drawn as radical centres.
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
