#include "support/reportparse.h"

#include <cstdlib>
#include <sstream>

#include "support/testutil.h"

namespace mvtest {

std::vector<double> jsonNumbers(const std::string& json, const std::string& key) {
  std::vector<double> v;
  const std::string quoted = "\"" + key + "\"";
  std::size_t at = json.find(quoted);
  if (at == std::string::npos) return v;
  at = json.find(':', at + quoted.size());
  if (at == std::string::npos) return v;
  ++at;
  int depth = 0;
  for (std::size_t i = at; i < json.size(); ++i) {
    char ch = json[i];
    if (ch == '[') {
      ++depth;
    } else if (ch == ']') {
      if (--depth <= 0) break;
    } else if ((ch == ',' || ch == '}') && depth == 0) {
      break;
    } else if (ch == '-' || ch == '+' || ch == '.' || (ch >= '0' && ch <= '9')) {
      char* end = nullptr;
      double x = std::strtod(json.c_str() + i, &end);
      v.push_back(x);
      i = static_cast<std::size_t>(end - json.c_str()) - 1;
      if (depth == 0) break;
    }
  }
  return v;
}

namespace {

bool startsWith(const std::string& s, const std::string& p) {
  return s.compare(0, p.size(), p) == 0;
}

double numberAfter(const std::string& s, const std::string& label) {
  std::size_t at = s.find(label);
  return std::strtod(s.c_str() + at + label.size(), nullptr);
}

// Rows of a value table: groups of (I3, A4, F8.5) with a blank between groups.
void valueRows(const std::vector<std::string>& ls, std::size_t& i, int natoms,
               std::vector<double>& out, std::vector<std::string>* labels) {
  while (static_cast<int>(out.size()) < natoms && i < ls.size()) {
    const std::string& l = ls[i++];
    if (l.empty()) continue;
    std::size_t pos = 0;
    bool first = true;
    while (pos + 15 <= l.size() && static_cast<int>(out.size()) < natoms) {
      if (!first) ++pos;  // the 1X between groups
      first = false;
      if (labels) labels->push_back(l.substr(pos + 3, 4));
      out.push_back(std::strtod(l.substr(pos + 7, 8).c_str(), nullptr));
      pos += 15;
    }
  }
}

}  // namespace

ParsedReport parseReport(const std::string& report) {
  ParsedReport r;
  std::vector<std::string> ls = lines(report);
  for (std::size_t i = 0; i < ls.size(); ++i) {
    const std::string& l = ls[i];
    if (l.find(" ATOMIC PAIRS") != std::string::npos && r.natoms == 0) {
      r.natoms = std::atoi(l.c_str());
    } else if (l == "  Mulliken populations") {
      i += 2;  // the hyphen record
      while (i < ls.size() && !startsWith(ls[i], " ---")) {
        r.populations.push_back(std::strtod(ls[i].c_str() + 5, nullptr));
        ++i;
      }
    } else if (startsWith(l, " SUM= ")) {
      r.sum = numberAfter(l, " SUM= ");
      r.hasSum = true;
    } else if (startsWith(l, " Number of effectively unpaired electrons=")) {
      r.unpaired = numberAfter(l, "electrons=");
      r.hasUnpaired = true;
    } else if (startsWith(l, "  Hermiticity control=")) {
      r.hermiticity = numberAfter(l, "control=");
    } else if (startsWith(l, "  Trace=")) {
      r.trace = numberAfter(l, "Trace=");
    } else if (l.find("BOND ORDER MATRIX") != std::string::npos) {
      const int n = r.natoms;
      r.bonds.assign(static_cast<std::size_t>(n) * n, 0.0);
      std::size_t j = i + 1;
      for (int j1 = 1; j1 <= n; j1 += 8) {
        const int j2 = std::min(n, j1 + 7);
        while (j < ls.size() && ls[j].empty()) ++j;
        ++j;  // the header record
        while (j < ls.size() && ls[j].empty()) ++j;
        for (int row = 1; row <= n; ++row, ++j) {
          const std::string& rl = ls[j];
          for (int col = j1; col <= j2; ++col)
            r.bonds[static_cast<std::size_t>(row - 1) * n + (col - 1)] =
                std::strtod(rl.substr(8 + 9 * (col - j1), 9).c_str(), nullptr);
        }
      }
      i = j - 1;
    } else if (l.find("TOTAL VALENCES") != std::string::npos) {
      std::size_t j = i + 1;
      while (j < ls.size() && ls[j].empty()) ++j;
      ++j;  // the label record
      valueRows(ls, j, r.natoms, r.totalValence, &r.labels);
      i = j - 1;
    } else if (l.find("VALENCES USED IN BONDS") != std::string::npos) {
      std::size_t j = i + 1;
      valueRows(ls, j, r.natoms, r.usedValence, nullptr);
      i = j - 1;
    } else if (l.find("FREE VALENCES") != std::string::npos) {
      std::size_t j = i + 3;  // the two records of the note
      valueRows(ls, j, r.natoms, r.freeValence, nullptr);
      i = j - 1;
    }
  }
  return r;
}

}  // namespace mvtest
