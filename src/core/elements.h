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

// The 4-character atom label of the report: the symbol right-aligned in
// three columns and a blank ("  H ", " Sm ", " Bq ", "  ? ").
std::string mend(int z);

}  // namespace mv
