// Molecules for the drawing's tests and its rendering check in a browser,
// with plausible bond orders, Mulliken charges and free valences (made up in
// the ranges the analysis gives, not computed).
#pragma once

#include <array>
#include <string>
#include <vector>

#include "report/svg.h"

namespace mvtest {

// Bohr per angstrom.
inline constexpr double kBohr = 1.0 / 0.529177210903;

// Naphthalene, planar: 10 C then 8 H, alternating C-C orders 1.2-1.6.
mv::Drawing naphthalene();
// Triplet methylene: the carbon a radical centre, free valence 1.93.
mv::Drawing tripletMethylene();
// Buckminsterfullerene: a truncated icosahedron of 60 C (1.42 A edges),
// orders 1.44 on the edges between hexagons and 1.14 on the pentagons.
mv::Drawing fullerene();
// A zigzag alkane CnH(2n+2) (n = 33 gives 101 atoms).
mv::Drawing alkane(int n);

// A drawing titled "test" of atoms given in bohr as {Z, x, y, z},
// numbered from 1, with symbols from the table and no bonds.
mv::Drawing molecule(const std::vector<std::array<double, 4>>& atoms);

// The sample of that name ("naphthalene", "methylene", "fullerene",
// "alkane"); an empty drawing for any other name.
mv::Drawing sampleByName(const std::string& name);

}  // namespace mvtest
