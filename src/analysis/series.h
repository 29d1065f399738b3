// Bond orders along a series of frames: the structures of one reaction path,
// relaxed scan or comparison, analysed one by one.  Of each frame only what
// the series needs is kept (the atoms, the energy and the bond orders of the
// pairs of atoms), so that the frame's matrices are released as soon as its
// analysis ends.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace mv {

// A pair of atoms, numbered from 1, first < second.
using AtomPair = std::pair<int, int>;

// A bond order crossing this value between two consecutive frames is an
// event: the bond is formed (rising to it or above) or broken (falling
// below it).
inline constexpr double kEventThreshold = 0.5;

// What one analysed frame leaves for the series.
struct SeriesFrame {
  std::string file;  // the path as given
  std::optional<double> energy;
  std::vector<int> atomicNumbers;
  // The bond orders of the pairs kept (`pairs` of SeriesBuilder, or every
  // pair i < j in row order when it follows every pair).
  std::vector<double> orders;
};

struct SeriesEvent {
  int frame;  // the frame, from 1, where the new side is first reached
  AtomPair atoms;
  bool formed;  // true: formed, false: broken
  double from, to;
};

// The values of the whole series, frames in the order given.
struct Series {
  std::vector<std::string> files;
  std::vector<std::optional<double>> energies;
  std::vector<int> atomicNumbers;  // of every frame (they are the same)
  std::vector<AtomPair> bonds;     // the pairs followed
  // bondOrders[b][k]: the order of bonds[b] in frame k (both from 0).
  std::vector<std::vector<double>> bondOrders;
  std::vector<SeriesEvent> events;
  double minBond = 0.1;  // the threshold of the default list of pairs

  std::size_t frames() const { return files.size(); }
  bool anyEnergy() const;
};

// The events of a series: for every bond, in the order of `bonds`, each pair
// of consecutive frames whose orders lie on different sides of
// kEventThreshold.  Ordered by frame, then by the order of `bonds`; with two
// frames by the size of the change, largest first (ties in the order of
// `bonds`).
std::vector<SeriesEvent> seriesEvents(const std::vector<AtomPair>& bonds,
                                      const std::vector<std::vector<double>>& bondOrders);

// Gathers the frames one at a time.  With `pairs` given, only their orders
// are kept; without, the orders of every pair (the triangle of the bond-order
// matrix, n(n-1)/2 numbers a frame) until finish() chooses the pairs whose
// order reaches `minBond` in some frame.
class SeriesBuilder {
 public:
  SeriesBuilder(std::optional<std::vector<AtomPair>> pairs, double minBond)
      : pairs_(std::move(pairs)), minBond_(minBond) {}

  // The pairs to take from a frame of `atoms` atoms: the requested ones,
  // or every pair i < j in row order.
  std::vector<AtomPair> pairsFor(int atoms) const;

  // Why a frame cannot join the series ("" when it can): its atoms are not
  // those of the first frame (their number, or the first atom that differs).
  std::string mismatch(const std::vector<int>& atomicNumbers) const;

  // The first requested pair that names an atom beyond `atoms`, if any.
  std::optional<AtomPair> pairBeyond(int atoms) const;

  // Add a frame (one that mismatch() accepted), its orders taken for
  // pairsFor(its atom count).
  void add(SeriesFrame frame);

  std::size_t frames() const { return frames_.size(); }

  // The series, with its bonds and events; the frames are given up.
  Series finish();

 private:
  std::optional<std::vector<AtomPair>> pairs_;
  double minBond_;
  std::vector<int> atomicNumbers_;  // of the first frame
  std::vector<SeriesFrame> frames_;
};

}  // namespace mv
