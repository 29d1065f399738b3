// A small checkpoint file, the hydrogen molecule in a minimal basis, kept
// as named sections that a test may replace, drop or reorder.
#pragma once

#include <string>
#include <utility>
#include <vector>

namespace mvtest {

struct HandMadeH2 {
  std::string title = "hand-made H2";
  std::string method = "RHF";
  std::vector<std::pair<std::string, std::string>> sec;

  HandMadeH2();
  void add(const std::string& name, const std::string& text) { sec.emplace_back(name, text); }
  // The text of a section (a new, empty one at the end when there is none).
  std::string& operator[](const std::string& name);
  void drop(const std::string& name);
  // The whole file: title, calculation line, the sections in order.
  std::string text() const;
};

// The hydrogen molecule with `nsh` Cartesian i shells (28 functions each)
// of one primitive, half on each atom, in place of its own basis.
HandMadeH2 manyIShells(int nsh);

}  // namespace mvtest
