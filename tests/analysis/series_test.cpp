// Bond orders along a series: the events between consecutive frames and the
// choice of the pairs followed.
#include "analysis/series.h"

#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <vector>

namespace {

using mv::AtomPair;
using mv::SeriesEvent;

std::string describe(const std::vector<SeriesEvent>& events) {
  std::string s;
  for (const SeriesEvent& e : events)
    s += std::to_string(e.frame) + ":" + std::to_string(e.atoms.first) + "-" +
         std::to_string(e.atoms.second) + (e.formed ? "+" : "-") + " ";
  return s;
}

TEST(SeriesEvents, EachCrossingOfTheThresholdBetweenConsecutiveFrames) {
  const struct {
    const char* what;
    std::vector<AtomPair> bonds;
    std::vector<std::vector<double>> orders;
    std::string expected;
  } cases[] = {
      {"no frame", {}, {}, ""},
      {"one frame", {{1, 2}}, {{0.9}}, ""},
      {"stays bonded", {{1, 2}}, {{0.9, 0.6, 0.51, 1.2}}, ""},
      {"stays apart", {{1, 2}}, {{0.1, 0.49, 0.0}}, ""},
      // 0.5 itself is the bonded side.
      {"reaches 0.5 exactly", {{1, 2}}, {{0.3, 0.5, 0.7}}, "2:1-2+ "},
      {"leaves 0.5", {{1, 2}}, {{0.5, 0.499999}}, "2:1-2- "},
      {"broken then formed again", {{2, 3}}, {{0.8, 0.2, 0.3, 0.6}}, "2:2-3- 4:2-3+ "},
      // Several bonds: by frame, then in the order the bonds are given.
      {"one forms while another breaks",
       {{3, 4}, {1, 2}},
       {{0.1, 0.2, 0.7, 0.9}, {1.0, 0.9, 0.4, 0.1}},
       "3:3-4+ 3:1-2- "},
      {"frames first", {{1, 2}, {1, 3}}, {{0.9, 0.9, 0.1}, {0.1, 0.6, 0.6}}, "2:1-3+ 3:1-2- "},
      // Two structures: the largest change first, whatever the bond order.
      {"two frames by size of change",
       {{1, 2}, {2, 3}, {3, 4}},
       {{0.45, 0.55}, {0.9, 0.1}, {0.2, 0.8}},
       "2:2-3- 2:3-4+ 2:1-2+ "},
  };
  for (const auto& c : cases)
    EXPECT_EQ(describe(mv::seriesEvents(c.bonds, c.orders)), c.expected) << c.what;
}

mv::SeriesFrame frame(const std::string& file, std::vector<int> z, std::vector<double> orders,
                      std::optional<double> energy = std::nullopt) {
  return {file, energy, std::move(z), std::move(orders)};
}

TEST(SeriesBuilder, DefaultPairsAreThoseReachingMinBondInAnyFrameWithAllTheirValues) {
  // Three atoms: pairs 1-2, 1-3, 2-3 in row order.
  mv::SeriesBuilder b(std::nullopt, 0.1);
  EXPECT_EQ(b.pairsFor(3), (std::vector<AtomPair>{{1, 2}, {1, 3}, {2, 3}}));
  b.add(frame("a", {6, 1, 8}, {0.95, 0.01, 0.02}, -1.5));
  b.add(frame("b", {6, 1, 8}, {0.60, 0.03, 0.05}));
  // 2-3 reaches the threshold only in the last frame, 1-3 never does.
  b.add(frame("c", {6, 1, 8}, {0.40, 0.0999, 0.1}, -1.25));
  const mv::Series s = b.finish();
  EXPECT_EQ(s.files, (std::vector<std::string>{"a", "b", "c"}));
  EXPECT_EQ(s.bonds, (std::vector<AtomPair>{{1, 2}, {2, 3}}));
  ASSERT_EQ(s.bondOrders.size(), 2u);
  EXPECT_EQ(s.bondOrders[0], (std::vector<double>{0.95, 0.60, 0.40}));
  EXPECT_EQ(s.bondOrders[1], (std::vector<double>{0.02, 0.05, 0.1}));
  ASSERT_EQ(s.energies.size(), 3u);
  EXPECT_EQ(s.energies[0], -1.5);
  EXPECT_FALSE(s.energies[1].has_value());
  EXPECT_TRUE(s.anyEnergy());
  EXPECT_EQ(describe(s.events), "3:1-2- ");
  EXPECT_EQ(s.atomicNumbers, (std::vector<int>{6, 1, 8}));
}

TEST(SeriesBuilder, RequestedPairsAreKeptInTheirOrderWhateverTheirValues) {
  mv::SeriesBuilder b(std::vector<AtomPair>{{2, 3}, {1, 2}}, 0.1);
  EXPECT_EQ(b.pairsFor(3), (std::vector<AtomPair>{{2, 3}, {1, 2}}));
  b.add(frame("a", {1, 1, 1}, {0.0, 0.7}));
  b.add(frame("b", {1, 1, 1}, {0.0, 0.3}));
  const mv::Series s = b.finish();
  EXPECT_EQ(s.bonds, (std::vector<AtomPair>{{2, 3}, {1, 2}}));
  EXPECT_EQ(s.bondOrders[0], (std::vector<double>{0.0, 0.0}));
  EXPECT_EQ(describe(s.events), "2:1-2- ");
  EXPECT_FALSE(s.anyEnergy());
}

TEST(SeriesBuilder, AFrameWithOtherAtomsIsNamedWithTheFirstDifference) {
  mv::SeriesBuilder b(std::vector<AtomPair>{{1, 3}}, 0.1);
  EXPECT_EQ(b.mismatch({8, 1, 1}), "");  // nothing to compare with yet
  EXPECT_FALSE(b.pairBeyond(3).has_value());
  EXPECT_EQ(b.pairBeyond(2), (AtomPair{1, 3}));
  b.add(frame("first.fchk", {8, 1, 1}, {0.0}));
  EXPECT_EQ(b.mismatch({8, 1, 1}), "");
  EXPECT_EQ(b.mismatch({8, 1}), "it has 2 atoms, the first frame (first.fchk) 3");
  EXPECT_EQ(b.mismatch({8, 1, 1, 1}), "it has 4 atoms, the first frame (first.fchk) 3");
  EXPECT_EQ(b.mismatch({8, 6, 1}),
            "atom 2 is C (Z = 6), in the first frame (first.fchk) H (Z = 1)");
  // The same atoms in another order are other atoms.
  EXPECT_EQ(b.mismatch({1, 8, 1}),
            "atom 1 is H (Z = 1), in the first frame (first.fchk) O (Z = 8)");
}

}  // namespace
