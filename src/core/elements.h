// Chemical elements by atomic number.
#pragma once

#include <string>
#include <string_view>

namespace mv {

// Highest atomic number with a symbol.
inline constexpr int kMaxElement = 118;

// Chemical symbol of atomic number z ("H", "Sm"); "Bq" for 0, a ghost atom
// (basis functions without a nucleus); "?" outside 0..118.
std::string_view elementSymbol(int z);

// Standard atomic weight of atomic number z (the mass number of the
// longest-lived isotope for elements without a stable one); 0 outside 1..118.
double standardAtomicWeight(int z);

// The element an atomic weight names for an atom whose atomic number is
// given as `reduced`, the charge left by an effective core potential: the
// heavier element, by an even number of core electrons, whose standard
// weight lies within 3 of `weight`; 0 when the weight fits `reduced`
// itself (within 4, isotopes included) or names no such element.
int elementOfReducedCharge(int reduced, double weight);

// The 4-character atom label of the report: the symbol right-aligned in
// three columns and a blank ("  H ", " Sm ", " Bq ", "  ? ").
std::string mend(int z);

}  // namespace mv
