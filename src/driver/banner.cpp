// The banner of the report, the element symbols used as atom labels and the
// printer of square matrices such as the bond order matrix.
#include <algorithm>
#include <array>

#include "driver/report.h"
#include "tables.h"

namespace mv {

namespace {

// Chemical symbols by atomic number; entry 0 is the ghost atom (a basis
// set without a nucleus), 1..118 the elements of the periodic table.
constexpr std::array<const char*, 119> kSymbols = {
    "Bq", "H",  "He", "Li", "Be", "B",  "C",  "N",  "O",  "F",  "Ne", "Na", "Mg", "Al", "Si",
    "P",  "S",  "Cl", "Ar", "K",  "Ca", "Sc", "Ti", "V",  "Cr", "Mn", "Fe", "Co", "Ni", "Cu",
    "Zn", "Ga", "Ge", "As", "Se", "Br", "Kr", "Rb", "Sr", "Y",  "Zr", "Nb", "Mo", "Tc", "Ru",
    "Rh", "Pd", "Ag", "Cd", "In", "Sn", "Sb", "Te", "I",  "Xe", "Cs", "Ba", "La", "Ce", "Pr",
    "Nd", "Pm", "Sm", "Eu", "Gd", "Tb", "Dy", "Ho", "Er", "Tm", "Yb", "Lu", "Hf", "Ta", "W",
    "Re", "Os", "Ir", "Pt", "Au", "Hg", "Tl", "Pb", "Bi", "Po", "At", "Rn", "Fr", "Ra", "Ac",
    "Th", "Pa", "U",  "Np", "Pu", "Am", "Cm", "Bk", "Cf", "Es", "Fm", "Md", "No", "Lr", "Rf",
    "Db", "Sg", "Bh", "Hs", "Mt", "Ds", "Rg", "Cn", "Nh", "Fl", "Mc", "Lv", "Ts", "Og"};

}  // namespace

std::string mend(int z) {
  if (z < 0 || z >= static_cast<int>(kSymbols.size())) return "  ? ";
  std::string sym = kSymbols[static_cast<std::size_t>(z)];
  return std::string(3 - sym.size(), ' ') + sym + ' ';
}

void kiir() {
  writeLayout("(1X,79(1H-))");
  writeLayout("(/,20X,'Program MIRVANTE, Version 1.00')");
  writeLayout("(20X,28(1H-),/)");
  writeLayout("(3X,'Calculating:')");
  writeLayout("(3X,'------------',/)");
  writeLayout(
      "(5X,2H  ,' Conventional (Hilbert space) bond orders and',' valences',/,"
      "8X,'(Conventional bond-order method: see the original journal article on "
      "Hilbert-space bond orders)')");
  writeLayout("(5X,2H  ,' by using a new - but equivalent - formalism for',' ROHF case')");
  writeLayout(
      "(5X,2H  ,' and an improved one for correlated systems.',/,"
      "8X,'(The author(s), to be published)',/)");
  writeLayout("(2X,' Cite this program as:')");
  writeLayout("(2X,' ---------------------')");
  writeLayout(
      "(3X,'The MIRVANTE developers, Program \"MIRVANTE\", Version 1.00, Worldwide, 2026',/)");
  writeLayout("(1X,79(1H-))");
}

void mprint(const double* a, int n, int lda) {
  for (int j1 = 1; j1 <= n; j1 += 8) {
    const int j2 = std::min(n, j1 + 7);
    Items head;
    for (int j = j1; j <= j2; ++j) {
      head.emplace_back(j);
      head.emplace_back(mend(g.ia(j)));
    }
    writeLayout("(10X,8(1X,I3,A4,1X))", head);
    writeLayout("(1X)");
    for (int i = 1; i <= n; ++i) {
      Items row{Item(i), Item(mend(g.ia(i)))};
      for (int j = j1; j <= j2; ++j)
        row.emplace_back(a[(i - 1) + static_cast<std::ptrdiff_t>(j - 1) * lda]);
      writeLayout("(1X,I3,A4,8F9.4)", row);
    }
    if (j2 < n) writeLayout("(1X,/,/,/)");
  }
}

}  // namespace mv
