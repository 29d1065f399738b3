#include "core/elements.h"

#include <array>

namespace mv {

namespace {

// Entry 0 is the ghost atom, 1..118 the elements of the periodic table.
constexpr std::array<std::string_view, kMaxElement + 1> kSymbols = {
    "Bq", "H",  "He", "Li", "Be", "B",  "C",  "N",  "O",  "F",  "Ne", "Na", "Mg", "Al", "Si",
    "P",  "S",  "Cl", "Ar", "K",  "Ca", "Sc", "Ti", "V",  "Cr", "Mn", "Fe", "Co", "Ni", "Cu",
    "Zn", "Ga", "Ge", "As", "Se", "Br", "Kr", "Rb", "Sr", "Y",  "Zr", "Nb", "Mo", "Tc", "Ru",
    "Rh", "Pd", "Ag", "Cd", "In", "Sn", "Sb", "Te", "I",  "Xe", "Cs", "Ba", "La", "Ce", "Pr",
    "Nd", "Pm", "Sm", "Eu", "Gd", "Tb", "Dy", "Ho", "Er", "Tm", "Yb", "Lu", "Hf", "Ta", "W",
    "Re", "Os", "Ir", "Pt", "Au", "Hg", "Tl", "Pb", "Bi", "Po", "At", "Rn", "Fr", "Ra", "Ac",
    "Th", "Pa", "U",  "Np", "Pu", "Am", "Cm", "Bk", "Cf", "Es", "Fm", "Md", "No", "Lr", "Rf",
    "Db", "Sg", "Bh", "Hs", "Mt", "Ds", "Rg", "Cn", "Nh", "Fl", "Mc", "Lv", "Ts", "Og"};

// Standard atomic weights (IUPAC, abridged), entry z.
constexpr std::array<double, kMaxElement + 1> kWeights = {
    0.0,    1.008,  4.0026, 6.94,   9.0122, 10.81,  12.011, 14.007, 15.999, 18.998, 20.180, 22.990,
    24.305, 26.982, 28.085, 30.974, 32.06,  35.45,  39.95,  39.098, 40.078, 44.956, 47.867, 50.942,
    51.996, 54.938, 55.845, 58.933, 58.693, 63.546, 65.38,  69.723, 72.630, 74.922, 78.971, 79.904,
    83.798, 85.468, 87.62,  88.906, 91.224, 92.906, 95.95,  97.0,   101.07, 102.91, 106.42, 107.87,
    112.41, 114.82, 118.71, 121.76, 127.60, 126.90, 131.29, 132.91, 137.33, 138.91, 140.12, 140.91,
    144.24, 145.0,  150.36, 151.96, 157.25, 158.93, 162.50, 164.93, 167.26, 168.93, 173.05, 174.97,
    178.49, 180.95, 183.84, 186.21, 190.23, 192.22, 195.08, 196.97, 200.59, 204.38, 207.2,  208.98,
    209.0,  210.0,  222.0,  223.0,  226.0,  227.0,  232.04, 231.04, 238.03, 237.0,  244.0,  243.0,
    247.0,  247.0,  251.0,  252.0,  257.0,  258.0,  259.0,  262.0,  267.0,  268.0,  269.0,  270.0,
    269.0,  278.0,  281.0,  282.0,  285.0,  286.0,  289.0,  290.0,  293.0,  294.0,  294.0};

}  // namespace

double standardAtomicWeight(int z) {
  if (z < 1 || z > kMaxElement) return 0.0;
  return kWeights[static_cast<std::size_t>(z)];
}

int elementOfReducedCharge(int reduced, double weight) {
  if (reduced < 1 || reduced > kMaxElement || !(weight > 0.0)) return 0;
  const double own = standardAtomicWeight(reduced);
  if (weight - own <= 4.0 && own - weight <= 4.0) return 0;
  // Cores hold whole shells: an even number of electrons.
  int best = 0;
  double gap = 3.0;
  for (int z = reduced + 2; z <= kMaxElement; z += 2) {
    const double d = weight > kWeights[static_cast<std::size_t>(z)]
                         ? weight - kWeights[static_cast<std::size_t>(z)]
                         : kWeights[static_cast<std::size_t>(z)] - weight;
    if (d <= gap) {
      gap = d;
      best = z;
    }
  }
  return best;
}

std::string_view elementSymbol(int z) {
  if (z < 0 || z > kMaxElement) return "?";
  return kSymbols[static_cast<std::size_t>(z)];
}

std::string mend(int z) {
  const std::string_view sym = elementSymbol(z);
  return std::string(3 - sym.size(), ' ').append(sym) + ' ';
}

}  // namespace mv
