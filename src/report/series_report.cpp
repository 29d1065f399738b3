#include "report/series_report.h"

#include <algorithm>
#include <cstdio>
#include <nlohmann/json.hpp>

#include "core/elements.h"
#include "report/json.h"

namespace mv {

std::string pairLabel(const Series& s, const AtomPair& p) {
  auto atom = [&](int a) {
    const bool known = a >= 1 && static_cast<std::size_t>(a) <= s.atomicNumbers.size();
    const std::string symbol =
        known ? std::string(elementSymbol(s.atomicNumbers[static_cast<std::size_t>(a) - 1])) : "";
    return symbol + std::to_string(a);
  };
  return atom(p.first) + "-" + atom(p.second);
}

namespace {

std::string number(const char* format, double v) {
  char b[64];
  std::snprintf(b, sizeof b, format, v);
  return b;
}

std::string padLeft(const std::string& s, std::size_t w) {
  return s.size() >= w ? s : std::string(w - s.size(), ' ') + s;
}
std::string padRight(const std::string& s, std::size_t w) {
  return s.size() >= w ? s : s + std::string(w - s.size(), ' ');
}

constexpr const char* kOrderFormat = "%.6f";
constexpr const char* kEnergyFormat = "%.8f";

}  // namespace

void writeSeriesText(std::ostream& out, const Series& s) {
  const std::size_t frames = s.frames();
  const bool energies = s.anyEnergy();
  const bool pair = frames == 2;

  // The cells of the table, column by column, then each column padded to
  // its widest cell.
  std::vector<std::vector<std::string>> cols;
  std::vector<bool> leftAligned;
  auto column = [&](std::string heading, bool left) {
    cols.push_back({std::move(heading)});
    leftAligned.push_back(left);
    return cols.size() - 1;
  };
  const std::size_t frameCol = column("FRAME", false);
  const std::size_t fileCol = column("FILE", true);
  const std::size_t energyCol = energies ? column("ENERGY/EH", false) : 0;
  std::vector<std::size_t> bondCols;
  for (const AtomPair& p : s.bonds) bondCols.push_back(column(pairLabel(s, p), false));
  for (std::size_t k = 0; k < frames; ++k) {
    cols[frameCol].push_back(std::to_string(k + 1));
    cols[fileCol].push_back(s.files[k]);
    if (energies)
      cols[energyCol].push_back(s.energies[k] ? number(kEnergyFormat, *s.energies[k]) : "-");
    for (std::size_t b = 0; b < s.bonds.size(); ++b)
      cols[bondCols[b]].push_back(number(kOrderFormat, s.bondOrders[b][k]));
  }
  if (pair) {
    cols[frameCol].push_back("");
    cols[fileCol].push_back("difference (2 - 1)");
    if (energies)
      cols[energyCol].push_back(s.energies[0] && s.energies[1]
                                    ? number(kEnergyFormat, *s.energies[1] - *s.energies[0])
                                    : "-");
    for (std::size_t b = 0; b < s.bonds.size(); ++b)
      cols[bondCols[b]].push_back(number(kOrderFormat, s.bondOrders[b][1] - s.bondOrders[b][0]));
  }

  out << "\n BOND ORDERS ALONG THE SERIES\n\n";
  if (frames == 0) {
    out << " No frame of the series could be analysed.\n";
  } else {
    std::vector<std::size_t> width(cols.size(), 0);
    for (std::size_t c = 0; c < cols.size(); ++c)
      for (const std::string& cell : cols[c]) width[c] = std::max(width[c], cell.size());
    for (std::size_t row = 0; row < cols[0].size(); ++row) {
      std::string line;
      for (std::size_t c = 0; c < cols.size(); ++c) {
        const std::string& cell = cols[c][row];
        line += "  ";
        // The file column is the only one left-aligned; it is not padded
        // when it is the last.
        if (leftAligned[c])
          line += c + 1 == cols.size() ? cell : padRight(cell, width[c]);
        else
          line += padLeft(cell, width[c]);
      }
      out << line << '\n';
    }
    if (s.bonds.empty()) {
      out << "\n No pair of atoms has a bond order of " << number("%.10g", s.minBond)
          << " or more in any frame.\n";
    }
  }

  out << "\n BONDS FORMED AND BROKEN\n\n";
  if (s.events.empty()) {
    out << " No bond order crosses " << number("%.10g", kEventThreshold)
        << " between two consecutive frames.\n";
    return;
  }
  for (const SeriesEvent& e : s.events) {
    out << " frame " << e.frame << ": " << e.atoms.first << "-" << e.atoms.second << ' '
        << (e.formed ? "formed" : "broken") << " (" << number("%.3f", e.from) << " -> "
        << number("%.3f", e.to) << ")\n";
  }
}

std::string seriesJson(const Series& s) {
  using Json = nlohmann::ordered_json;
  Json files = Json::array();
  for (const std::string& f : s.files) files.push_back(isUtf8(f) ? f : escapeNonUtf8(f));
  Json energies = Json::array();
  for (const std::optional<double>& e : s.energies) energies.push_back(e ? Json(*e) : Json());
  Json bonds = Json::array();
  for (const AtomPair& p : s.bonds) bonds.push_back({p.first, p.second});
  Json orders = Json::array();
  for (const std::vector<double>& along : s.bondOrders) orders.push_back(along);
  Json events = Json::array();
  for (const SeriesEvent& e : s.events) {
    Json j;
    j["frame"] = e.frame;
    j["atoms"] = {e.atoms.first, e.atoms.second};
    j["kind"] = e.formed ? "formed" : "broken";
    j["from"] = e.from;
    j["to"] = e.to;
    events.push_back(std::move(j));
  }
  Json series;
  series["files"] = std::move(files);
  series["energies"] = std::move(energies);
  series["bonds"] = std::move(bonds);
  series["bond_orders"] = std::move(orders);
  series["events"] = std::move(events);
  Json j;
  j["series"] = std::move(series);
  return j.dump(-1, ' ', false, Json::error_handler_t::replace);
}

}  // namespace mv
