#include "report/samples.h"

#include <array>
#include <cmath>

#include "core/elements.h"

namespace mvtest {
namespace {

using V = std::array<double, 3>;

V add(const V& a, const V& b) {
  return {a[0] + b[0], a[1] + b[1], a[2] + b[2]};
}
V sub(const V& a, const V& b) {
  return {a[0] - b[0], a[1] - b[1], a[2] - b[2]};
}
V mul(double s, const V& a) {
  return {s * a[0], s * a[1], s * a[2]};
}
double len(const V& a) {
  return std::sqrt(a[0] * a[0] + a[1] * a[1] + a[2] * a[2]);
}
V unit(const V& a) {
  return mul(1.0 / len(a), a);
}

// Append an atom given in angstrom; its number is its position from 1.
void addAtom(mv::Drawing& d, int z, const char* sym, const V& angstrom, double q, double fv) {
  const int index = static_cast<int>(d.atoms.size()) + 1;
  d.atoms.push_back(
      {index, z, sym, {angstrom[0] * kBohr, angstrom[1] * kBohr, angstrom[2] * kBohr}, q, fv});
}

}  // namespace

mv::Drawing naphthalene() {
  mv::Drawing d;
  d.title = "Naphthalene C10H8, RHF/cc-pVTZ (Cartesian d and f)";
  d.method = "RHF/cc-pVTZ";
  const double h = 1.40 * std::sqrt(3.0) / 2.0;  // ring centre to the fused bond
  // C1..C4 and C5..C8 the alpha and beta positions, C9/C10 the fused pair.
  const V c[10] = {{h, 1.40, 0},   {2 * h, 0.70, 0},   {2 * h, -0.70, 0}, {h, -1.40, 0},
                   {-h, -1.40, 0}, {-2 * h, -0.70, 0}, {-2 * h, 0.70, 0}, {-h, 1.40, 0},
                   {0, 0.70, 0},   {0, -0.70, 0}};
  const double q[10] = {-0.16, -0.13, -0.13, -0.16, -0.16, -0.13, -0.13, -0.16, 0.04, 0.04};
  for (int i = 0; i < 10; ++i) addAtom(d, 6, "C", c[i], q[i], 0.0);
  for (int i = 0; i < 8; ++i) {
    const V centre{i < 4 ? h : -h, 0, 0};
    addAtom(d, 1, "H", add(c[i], mul(1.08, unit(sub(c[i], centre)))), 0.135, 0.0);
  }
  d.bonds = {{1, 2, 1.58},  {2, 3, 1.31},  {3, 4, 1.58},  {4, 10, 1.27}, {10, 5, 1.27},
             {5, 6, 1.58},  {6, 7, 1.31},  {7, 8, 1.58},  {8, 9, 1.27},  {9, 1, 1.27},
             {9, 10, 1.22}, {1, 11, 0.95}, {2, 12, 0.95}, {3, 13, 0.95}, {4, 14, 0.95},
             {5, 15, 0.95}, {6, 16, 0.95}, {7, 17, 0.95}, {8, 18, 0.95}};
  return d;
}

mv::Drawing tripletMethylene() {
  mv::Drawing d;
  d.title = "Triplet methylene CH2, ROHF/6-31G*";
  d.method = "ROHF/6-31G*";
  d.openShell = true;
  const double half = 67.0 * std::acos(-1.0) / 180.0;  // half the H-C-H angle of 134 degrees
  addAtom(d, 6, "C", {0, 0.10, 0}, -0.20, 1.93);
  addAtom(d, 1, "H", {1.075 * std::sin(half), 0.10 - 1.075 * std::cos(half), 0}, 0.10, 0.02);
  addAtom(d, 1, "H", {-1.075 * std::sin(half), 0.10 - 1.075 * std::cos(half), 0}, 0.10, 0.02);
  d.bonds = {{1, 2, 0.96}, {1, 3, 0.96}};
  return d;
}

mv::Drawing fullerene() {
  mv::Drawing d;
  d.title = "Buckminsterfullerene C60, RHF/STO-3G";
  d.method = "RHF/STO-3G";
  const double phi = (1.0 + std::sqrt(5.0)) / 2.0;
  // The cyclic permutations of (0, 1, 3phi), (1, 2+phi, 2phi), (phi, 2, 2phi+1)
  // with every choice of signs: the vertices of the truncated icosahedron of
  // edge 2.
  const V base[3] = {{0, 1, 3 * phi}, {1, 2 + phi, 2 * phi}, {phi, 2, 2 * phi + 1}};
  std::array<V, 60> v{};
  int n = 0;
  for (const V& b : base) {
    for (int rot = 0; rot < 3; ++rot) {
      const V r{b[rot % 3], b[(rot + 1) % 3], b[(rot + 2) % 3]};
      for (int signs = 0; signs < 8; ++signs) {
        const V s{signs & 1 ? -r[0] : r[0], signs & 2 ? -r[1] : r[1], signs & 4 ? -r[2] : r[2]};
        bool seen = false;  // a zero coordinate gives each point twice
        for (int k = 0; k < n; ++k) seen = seen || len(sub(v[k], s)) < 1e-9;
        if (!seen) v[n++] = s;
      }
    }
  }
  // Pentagon centres: the directions of the icosahedron's vertices, the
  // cyclic permutations of (0, +-1, +-phi).  An edge whose two atoms belong
  // to the same pentagon is a 5:6 edge.
  auto pentagon = [&](const V& x) {
    int best = 0;
    double bestDot = -1e300;
    for (int k = 0; k < 12; ++k) {
      const V p0{0, k & 1 ? -1.0 : 1.0, k & 2 ? -phi : phi};
      const int rot = k / 4;
      const V p{p0[(3 - rot) % 3], p0[(4 - rot) % 3], p0[(5 - rot) % 3]};
      const double dt = p[0] * x[0] + p[1] * x[1] + p[2] * x[2];
      if (dt > bestDot) bestDot = dt, best = k;
    }
    return best;
  };
  for (int i = 0; i < n; ++i) addAtom(d, 6, "C", mul(0.71, v[i]), 0.0, 0.0);
  for (int i = 0; i < n; ++i) {
    for (int j = i + 1; j < n; ++j) {
      if (std::fabs(len(sub(v[i], v[j])) - 2.0) < 1e-6) {
        d.bonds.push_back({i + 1, j + 1, pentagon(v[i]) == pentagon(v[j]) ? 1.14 : 1.44});
      }
    }
  }
  return d;
}

mv::Drawing molecule(const std::vector<std::array<double, 4>>& atoms) {
  mv::Drawing d;
  d.title = "test";
  d.method = "RHF/STO-3G";
  for (const auto& a : atoms) {
    const int z = static_cast<int>(a[0]);
    d.atoms.push_back({static_cast<int>(d.atoms.size()) + 1,
                       z,
                       std::string(mv::elementSymbol(z)),
                       {a[1], a[2], a[3]},
                       0.0,
                       0.0});
  }
  return d;
}

mv::Drawing alkane(int n) {
  mv::Drawing d;
  d.title = "n-Alkane C" + std::to_string(n) + "H" + std::to_string(2 * n + 2) + ", RHF/STO-3G";
  d.method = "RHF/STO-3G";
  const double cc = 1.53, ch = 1.09;
  const double half = 56.0 * std::acos(-1.0) / 180.0;  // half the C-C-C angle
  const double tet = 54.75 * std::acos(-1.0) / 180.0;  // half the H-C-H angle
  auto carbon = [&](int i) {  // i from 0; i = -1 and n give the virtual neighbours
    return V{i * cc * std::sin(half), (i % 2 != 0 ? 1.0 : 0.0) * cc * std::cos(half), 0};
  };
  for (int i = 0; i < n; ++i) {
    const bool end = i == 0 || i == n - 1;
    addAtom(d, 6, "C", carbon(i), end ? -0.27 : -0.18, 0.0);
  }
  for (int i = 0; i < n; ++i) {
    const V c = carbon(i);
    const V u1 = unit(sub(carbon(i - 1), c)), u2 = unit(sub(carbon(i + 1), c));
    const V b = unit(mul(-1.0, add(u1, u2)));
    for (double side : {1.0, -1.0}) {
      addAtom(d, 1, "H", add(c, mul(ch, add(mul(std::cos(tet), b), V{0, 0, side * std::sin(tet)}))),
              0.09, 0.0);
      d.bonds.push_back({i + 1, static_cast<int>(d.atoms.size()), 0.96});
    }
    if (i == 0 || i == n - 1) {  // the third hydrogen of a methyl group
      addAtom(d, 1, "H", add(c, mul(ch, i == 0 ? u1 : u2)), 0.09, 0.0);
      d.bonds.push_back({i + 1, static_cast<int>(d.atoms.size()), 0.96});
    }
    if (i + 1 < n) d.bonds.push_back({i + 1, i + 2, 1.00});
  }
  return d;
}

mv::Drawing sampleByName(const std::string& name) {
  if (name == "naphthalene") return naphthalene();
  if (name == "methylene") return tripletMethylene();
  if (name == "fullerene") return fullerene();
  if (name == "alkane") return alkane(33);
  return {};
}

}  // namespace mvtest
