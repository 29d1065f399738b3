// The outputs of a series: the text table and its list of events, the JSON
// object, and the line chart (well-formed, one line and one point per frame
// for every bond, the legend clear of the plot).
#include "report/series_report.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <nlohmann/json.hpp>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "report/series_samples.h"
#include "report/xmlcheck.h"
#include "support/testutil.h"

namespace {

std::string textOf(const mv::Series& s) {
  std::ostringstream os;
  mv::writeSeriesText(os, s);
  return os.str();
}

std::string svgOf(const mv::Series& s) {
  std::ostringstream os;
  mv::writeSeriesSvg(os, s);
  return os.str();
}

// A series of three atoms built from frames, as the command line does; the
// pair 1-3 never reaches 0.1 and is not followed.
mv::Series threeFrames(bool energies) {
  mv::SeriesBuilder b(std::nullopt, 0.1);
  const std::vector<int> z{6, 8, 1};
  b.add({"runs/a.fchk",
         energies ? std::optional<double>(-113.25) : std::nullopt,
         z,
         {0.431, 0.02, 0.93}});
  b.add({"b.fchk", std::nullopt, z, {0.612, 0.05, 0.90}});
  b.add({"c.fchk", energies ? std::optional<double>(-113.5) : std::nullopt, z, {0.70, 0.03, 0.2}});
  return b.finish();
}

TEST(SeriesText, TableOfFramesAndTheBondsFormedAndBroken) {
  EXPECT_EQ(textOf(threeFrames(true)),
            "\n BOND ORDERS ALONG THE SERIES\n\n"
            "  FRAME  FILE             ENERGY/EH     C1-O2     O2-H3\n"
            "      1  runs/a.fchk  -113.25000000  0.431000  0.930000\n"
            "      2  b.fchk                   -  0.612000  0.900000\n"
            "      3  c.fchk       -113.50000000  0.700000  0.200000\n"
            "\n BONDS FORMED AND BROKEN\n\n"
            " frame 2: 1-2 formed (0.431 -> 0.612)\n"
            " frame 3: 2-3 broken (0.900 -> 0.200)\n");
  // Without energies there is no energy column.
  const std::string plain = textOf(threeFrames(false));
  EXPECT_NE(plain.find("  FRAME  FILE            C1-O2     O2-H3\n"), std::string::npos) << plain;
  EXPECT_EQ(plain.find("ENERGY"), std::string::npos);
}

TEST(SeriesText, TwoFramesGainADifferenceRowAndEventsBySize) {
  mv::SeriesBuilder b(std::nullopt, 0.1);
  b.add({"first.fchk", -1.0, {1, 1, 1}, {0.45, 0.9, 0.2}});
  b.add({"second.fchk", -1.25, {1, 1, 1}, {0.55, 0.1, 0.8}});
  EXPECT_EQ(textOf(b.finish()),
            "\n BOND ORDERS ALONG THE SERIES\n\n"
            "  FRAME  FILE                  ENERGY/EH     H1-H2      H1-H3     H2-H3\n"
            "      1  first.fchk          -1.00000000  0.450000   0.900000  0.200000\n"
            "      2  second.fchk         -1.25000000  0.550000   0.100000  0.800000\n"
            "         difference (2 - 1)  -0.25000000  0.100000  -0.800000  0.600000\n"
            "\n BONDS FORMED AND BROKEN\n\n"
            " frame 2: 1-3 broken (0.900 -> 0.100)\n"
            " frame 2: 2-3 formed (0.200 -> 0.800)\n"
            " frame 2: 1-2 formed (0.450 -> 0.550)\n");
}

TEST(SeriesText, SaysSoWhenNothingIsFollowedOrNothingChanges) {
  mv::SeriesBuilder b(std::nullopt, 0.1);
  b.add({"a.fchk", std::nullopt, {1, 1}, {0.01}});
  const std::string t = textOf(b.finish());
  EXPECT_NE(t.find(" No pair of atoms has a bond order of 0.1 or more in any frame.\n"),
            std::string::npos)
      << t;
  EXPECT_NE(t.find(" No bond order crosses 0.5 between two consecutive frames.\n"),
            std::string::npos);
  mv::SeriesBuilder none(std::nullopt, 0.1);
  EXPECT_NE(textOf(none.finish()).find(" No frame of the series could be analysed.\n"),
            std::string::npos);
}

TEST(SeriesJson, FieldsCountFromOneWithNullForMissingEnergies) {
  const auto j = nlohmann::json::parse(mv::seriesJson(threeFrames(true)));
  ASSERT_EQ(j.size(), 1u);
  const auto& s = j.at("series");
  EXPECT_EQ(s.at("files"), nlohmann::json({"runs/a.fchk", "b.fchk", "c.fchk"}));
  EXPECT_EQ(s.at("energies"), nlohmann::json({-113.25, nullptr, -113.5}));
  EXPECT_EQ(s.at("bonds"), nlohmann::json({{1, 2}, {2, 3}}));
  EXPECT_EQ(s.at("bond_orders"), nlohmann::json({{0.431, 0.612, 0.70}, {0.93, 0.90, 0.2}}));
  ASSERT_EQ(s.at("events").size(), 2u);
  EXPECT_EQ(s.at("events")[1], nlohmann::json::parse(R"({"frame": 3, "atoms": [2, 3],
            "kind": "broken", "from": 0.9, "to": 0.2})"));
  // Keys in the documented order, on one line.
  const std::string line = mv::seriesJson(threeFrames(true));
  EXPECT_LT(line.find("\"files\""), line.find("\"energies\""));
  EXPECT_LT(line.find("\"energies\""), line.find("\"bonds\""));
  EXPECT_LT(line.find("\"bonds\""), line.find("\"bond_orders\""));
  EXPECT_LT(line.find("\"bond_orders\""), line.find("\"events\""));
  EXPECT_EQ(line.find('\n'), std::string::npos);
}

// The boxes of the chart read back from the document.
struct Box {
  double x0, y0, x1, y1;
};

std::vector<std::pair<double, double>> pointsOf(const std::string& attr) {
  std::vector<std::pair<double, double>> pts;
  std::istringstream in(attr);
  std::string p;
  while (in >> p) {
    const auto comma = p.find(',');
    pts.emplace_back(std::stod(p.substr(0, comma)), std::stod(p.substr(comma + 1)));
  }
  return pts;
}

TEST(SeriesSvg, OneLineAndOnePointPerFrameForEveryBondInsideThePlot) {
  const struct {
    std::size_t bonds, frames;
    bool energies;
  } cases[] = {{1, 14, true}, {3, 2, false}, {30, 200, true}, {1, 1, false}, {40, 5, false}};
  for (const auto& c : cases) {
    const mv::Series s = mvtest::sampleSeries(c.bonds, c.frames, c.energies);
    const std::string text = svgOf(s);
    const mvtest::XmlDoc doc = mvtest::parseXml(text);
    const std::string what = std::to_string(c.bonds) + "x" + std::to_string(c.frames);
    ASSERT_TRUE(doc.ok()) << what << ": " << doc.error;
    const auto areas = doc.byClass("plot-area");
    ASSERT_EQ(areas.size(), c.energies ? 2u : 1u) << what;
    const Box plot{areas[0]->num("x"), areas[0]->num("y"),
                   areas[0]->num("x") + areas[0]->num("width"),
                   areas[0]->num("y") + areas[0]->num("height")};
    const auto lines = doc.byClass("bond-line");
    ASSERT_EQ(lines.size(), c.bonds) << what;
    std::set<std::string> styles;
    for (std::size_t b = 0; b < lines.size(); ++b) {
      const auto pts = pointsOf(lines[b]->attr("points"));
      ASSERT_EQ(pts.size(), c.frames) << what;
      for (std::size_t k = 0; k < pts.size(); ++k) {
        EXPECT_GE(pts[k].first, plot.x0) << what;
        EXPECT_LE(pts[k].first, plot.x1) << what;
        EXPECT_GE(pts[k].second, plot.y0) << what;
        EXPECT_LE(pts[k].second, plot.y1) << what;
        if (k > 0) {
          EXPECT_GT(pts[k].first, pts[k - 1].first) << what;
        }
      }
      // Higher orders are drawn higher.
      if (const auto& o = s.bondOrders[b]; c.frames > 1 && std::fabs(o[0] - o[1]) > 1e-3) {
        EXPECT_EQ(o[0] > o[1], pts[0].second < pts[1].second) << what;
      }
      EXPECT_EQ(lines[b]->attr("data-atoms"),
                std::to_string(s.bonds[b].first) + " " + std::to_string(s.bonds[b].second));
      styles.insert(lines[b]->attr("stroke") + "/" + lines[b]->attr("stroke-dasharray"));
    }
    // Up to 32 bonds every line has a style of its own.
    EXPECT_EQ(styles.size(), std::min<std::size_t>(c.bonds, 32)) << what;
    EXPECT_EQ(doc.byClass("bond-point").size(), c.bonds * c.frames) << what;

    // The legend names every pair ("C1-O2") and lies right of the plot,
    // inside the picture.
    std::vector<std::string> labels;
    double legendLeft = 1e300, legendRight = 0.0, legendBottom = 0.0;
    for (const auto* e : doc.byClass("legend-label")) {
      labels.push_back(e->text);
      legendLeft = std::min(legendLeft, e->num("x"));
      legendRight = std::max(legendRight, e->num("x") + 8.0 * e->text.size());
      legendBottom = std::max(legendBottom, e->num("y"));
    }
    ASSERT_EQ(labels.size(), c.bonds + 1 + (c.energies ? 1 : 0)) << what;
    EXPECT_EQ(labels[0], "event threshold 0.5");
    EXPECT_EQ(labels[1], mv::pairLabel(s, s.bonds[0]));
    EXPECT_GT(legendLeft, plot.x1) << what;
    const auto* svg = &doc.elements[0];
    EXPECT_LE(legendRight, svg->num("width")) << what;
    EXPECT_LE(legendBottom, svg->num("height")) << what;

    // The event threshold at 0.5 on the bond-order axis.
    const auto threshold = doc.byClass("event-threshold");
    ASSERT_EQ(threshold.size(), 1u);
    EXPECT_GT(threshold[0]->num("y1"), plot.y0);
    EXPECT_LT(threshold[0]->num("y1"), plot.y1);
    // The energy panel: a point for every frame that has an energy.
    std::size_t withEnergy = 0;
    for (const auto& e : s.energies) withEnergy += e.has_value() ? 1 : 0;
    EXPECT_EQ(doc.byClass("energy-point").size(), withEnergy) << what;
  }
  EXPECT_EQ(mv::pairLabel(mvtest::sampleSeries(4, 2, false), {2, 4}), "O2-H4");
}

TEST(SeriesSvg, TheBondOrderAxisCoversOrdersAboveOne) {
  mv::SeriesBuilder b(std::nullopt, 0.1);
  b.add({"a", std::nullopt, {7, 7}, {2.9}});
  b.add({"b", std::nullopt, {7, 7}, {1.1}});
  const mvtest::XmlDoc doc = mvtest::parseXml(svgOf(b.finish()));
  ASSERT_TRUE(doc.ok()) << doc.error;
  const auto* area = doc.byClass("plot-area")[0];
  const auto pts = pointsOf(doc.byClass("bond-line")[0]->attr("points"));
  EXPECT_GE(pts[0].second, area->num("y"));
  std::vector<std::string> ticks;
  for (const auto* t : doc.byClass("tick-label")) ticks.push_back(t->text);
  EXPECT_NE(std::find(ticks.begin(), ticks.end(), "3"), ticks.end());
}

}  // namespace
