#include "support/handmade.h"

#include <algorithm>
#include <cstdio>
#include <vector>

#include "support/fchktext.h"

namespace mvtest {

HandMadeH2::HandMadeH2() {
  add("natom", fchkIntScalar("Number of atoms", 2));
  add("nelec", fchkIntScalar("Number of electrons", 2));
  add("nalpha", fchkIntScalar("Number of alpha electrons", 1));
  add("nbeta", fchkIntScalar("Number of beta electrons", 1));
  add("nbf", fchkIntScalar("Number of basis functions", 2));
  add("ia", fchkIntArray("Atomic numbers", {1, 1}));
  add("charge", fchkRealArray("Nuclear charges", {1.0, 1.0}));
  add("coord", fchkRealArray("Current cartesian coordinates", {0, 0, 0.7, 0, 0, -0.7}));
  add("nshell", fchkIntScalar("Number of contracted shells", 2));
  add("nprim", fchkIntScalar("Number of primitive shells", 6));
  add("hang", fchkIntScalar("Highest angular momentum", 0));
  add("degr", fchkIntScalar("Largest degree of contraction", 3));
  add("types", fchkIntArray("Shell types", {0, 0}));
  add("npps", fchkIntArray("Number of primitives per shell", {3, 3}));
  add("map", fchkIntArray("Shell to atom map", {1, 2}));
  add("exp", fchkRealArray("Primitive exponents",
                           {3.42525091, 0.62391373, 0.1688554, 3.42525091, 0.62391373, 0.1688554}));
  add("coef", fchkRealArray("Contraction coefficients", {0.15432897, 0.53532814, 0.44463454,
                                                         0.15432897, 0.53532814, 0.44463454}));
  add("shco", fchkRealArray("Coordinates of each shell", {0, 0, 0.7, 0, 0, -0.7}));
  add("escf", fchkRealScalar("SCF Energy", -1.1167593073));
  add("etot", fchkRealScalar("Total Energy", -1.1167593073));
  add("mo",
      fchkRealArray("Alpha MO coefficients", {0.548842275, 0.548842275, 1.21245192, -1.21245192}));
  add("dens", fchkRealArray("Total SCF Density", {0.602455686, 0.25, 0.602455686}));
}

std::string& HandMadeH2::operator[](const std::string& name) {
  for (auto& s : sec)
    if (s.first == name) return s.second;
  add(name, "");
  return sec.back().second;
}

void HandMadeH2::drop(const std::string& name) {
  for (auto it = sec.begin(); it != sec.end(); ++it)
    if (it->first == name) {
      sec.erase(it);
      return;
    }
}

std::string HandMadeH2::text() const {
  char line2[128];
  std::snprintf(line2, sizeof line2, "%-10s%-60s%s\n", "SP", method.c_str(), "STO-3G");
  std::string s = title + "\n" + line2;
  for (const auto& x : sec) s += x.second;
  return s;
}

HandMadeH2 manyIShells(int nsh) {
  HandMadeH2 f;
  f["nbf"] = fchkIntScalar("Number of basis functions", 28 * nsh);
  f["nshell"] = fchkIntScalar("Number of contracted shells", nsh);
  f["nprim"] = fchkIntScalar("Number of primitive shells", nsh);
  f["hang"] = fchkIntScalar("Highest angular momentum", 6);
  f["degr"] = fchkIntScalar("Largest degree of contraction", 1);
  f["types"] = fchkIntArray("Shell types", std::vector<int>(nsh, 6));
  f["npps"] = fchkIntArray("Number of primitives per shell", std::vector<int>(nsh, 1));
  std::vector<int> map(static_cast<std::size_t>(nsh), 1);
  std::fill(map.begin() + nsh / 2, map.end(), 2);
  f["map"] = fchkIntArray("Shell to atom map", map);
  f["exp"] = fchkRealArray("Primitive exponents", std::vector<double>(nsh, 1.5));
  f["coef"] = fchkRealArray("Contraction coefficients", std::vector<double>(nsh, 1.0));
  f["shco"] = fchkRealArray("Coordinates of each shell", std::vector<double>(3 * nsh, 0.0));
  return f;
}

}  // namespace mvtest
