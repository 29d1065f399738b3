// Reading numbers back from a printed report, and from the reference files
// of the fixtures, for end-to-end comparisons.
#pragma once

#include <string>
#include <vector>

namespace mvtest {

// All numbers of the value of `key` in a JSON text (nested arrays are
// flattened row by row); empty when the key is absent.
std::vector<double> jsonNumbers(const std::string& json, const std::string& key);

// What an end-to-end comparison needs from a report.
struct ParsedReport {
  std::vector<double> populations;  // Mulliken gross population per atom
  double sum = 0.0;                 // the SUM line
  bool hasSum = false;
  double unpaired = 0.0;  // number of effectively unpaired electrons
  bool hasUnpaired = false;
  double hermiticity = 0.0, trace = 0.0;
  int natoms = 0;
  std::vector<double> bonds;  // natoms x natoms, row-major
  std::vector<double> totalValence, usedValence, freeValence;
  std::vector<std::string> labels;  // element labels of the value tables
};

ParsedReport parseReport(const std::string& report);

}  // namespace mvtest
