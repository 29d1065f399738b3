#include "analysis/series.h"

#include <algorithm>
#include <cmath>

#include "core/elements.h"

namespace mv {

bool Series::anyEnergy() const {
  return std::any_of(energies.begin(), energies.end(),
                     [](const std::optional<double>& e) { return e.has_value(); });
}

std::vector<SeriesEvent> seriesEvents(const std::vector<AtomPair>& bonds,
                                      const std::vector<std::vector<double>>& bondOrders) {
  std::vector<SeriesEvent> events;
  const std::size_t frames = bondOrders.empty() ? 0 : bondOrders.front().size();
  // Frame by frame, and within a frame in the order of the bonds.
  for (std::size_t k = 1; k < frames; ++k) {
    for (std::size_t b = 0; b < bonds.size(); ++b) {
      const double before = bondOrders[b][k - 1], now = bondOrders[b][k];
      const bool wasBonded = before >= kEventThreshold, isBonded = now >= kEventThreshold;
      if (wasBonded == isBonded) continue;
      events.push_back({static_cast<int>(k) + 1, bonds[b], isBonded, before, now});
    }
  }
  // Two structures side by side: the largest changes first.
  if (frames == 2)
    std::stable_sort(events.begin(), events.end(), [](const SeriesEvent& x, const SeriesEvent& y) {
      return std::fabs(x.to - x.from) > std::fabs(y.to - y.from);
    });
  return events;
}

std::vector<AtomPair> SeriesBuilder::pairsFor(int atoms) const {
  if (pairs_) return *pairs_;
  std::vector<AtomPair> all;
  all.reserve(static_cast<std::size_t>(atoms) * static_cast<std::size_t>(std::max(atoms - 1, 0)) /
              2);
  for (int i = 1; i <= atoms; ++i)
    for (int j = i + 1; j <= atoms; ++j) all.emplace_back(i, j);
  return all;
}

namespace {

std::string atomName(int z) {
  return std::string(elementSymbol(z)) + " (Z = " + std::to_string(z) + ")";
}

}  // namespace

std::string SeriesBuilder::mismatch(const std::vector<int>& atomicNumbers) const {
  if (frames_.empty()) return "";
  const std::vector<int>& first = atomicNumbers_;
  if (atomicNumbers.size() != first.size())
    return "it has " + std::to_string(atomicNumbers.size()) + " atoms, the first frame (" +
           frames_.front().file + ") " + std::to_string(first.size());
  for (std::size_t a = 0; a < first.size(); ++a) {
    if (atomicNumbers[a] != first[a])
      return "atom " + std::to_string(a + 1) + " is " + atomName(atomicNumbers[a]) +
             ", in the first frame (" + frames_.front().file + ") " + atomName(first[a]);
  }
  return "";
}

std::optional<AtomPair> SeriesBuilder::pairBeyond(int atoms) const {
  if (!pairs_) return std::nullopt;
  for (const AtomPair& p : *pairs_)
    if (p.second > atoms || p.first > atoms) return p;
  return std::nullopt;
}

void SeriesBuilder::add(SeriesFrame frame) {
  if (frames_.empty()) atomicNumbers_ = frame.atomicNumbers;
  frames_.push_back(std::move(frame));
}

Series SeriesBuilder::finish() {
  Series s;
  s.minBond = minBond_;
  s.atomicNumbers = atomicNumbers_;
  const std::vector<AtomPair> kept = pairsFor(static_cast<int>(atomicNumbers_.size()));
  // The pairs followed: those requested, or those that reach minBond in
  // some frame (in row order).
  std::vector<std::size_t> columns;
  for (std::size_t c = 0; c < kept.size(); ++c) {
    const bool reached = std::any_of(frames_.begin(), frames_.end(),
                                     [&](const SeriesFrame& f) { return f.orders[c] >= minBond_; });
    if (pairs_ || reached) columns.push_back(c);
  }
  for (const std::size_t c : columns) {
    s.bonds.push_back(kept[c]);
    std::vector<double> along;
    along.reserve(frames_.size());
    for (const SeriesFrame& f : frames_) along.push_back(f.orders[c]);
    s.bondOrders.push_back(std::move(along));
  }
  for (SeriesFrame& f : frames_) {
    s.files.push_back(std::move(f.file));
    s.energies.push_back(f.energy);
  }
  frames_.clear();
  s.events = seriesEvents(s.bonds, s.bondOrders);
  return s;
}

}  // namespace mv
