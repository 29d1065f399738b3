// The drawing's layout rules: radical halos only where there is a spin
// density, ghost atoms as hollow Bq markers, labels clear of discs and of
// each other, bond orders left out of large molecules or on request,
// far-apart fragments side by side.  The legend's place and the labels'
// boxes as a browser lays them out are checked by tests/render.
#include <gtest/gtest.h>

#include <array>
#include <cmath>
#include <map>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "core/elements.h"
#include "report/samples.h"
#include "report/svg.h"
#include "report/xmlcheck.h"

namespace {

using mv::Drawing;
using mvtest::molecule;
using mvtest::parseXml;
using mvtest::XmlDoc;

XmlDoc drawn(const Drawing& d) {
  std::ostringstream os;
  mv::writeSvg(os, d);
  XmlDoc doc = parseXml(os.str());
  EXPECT_TRUE(doc.ok()) << doc.error;
  return doc;
}

std::set<std::string> haloAtoms(const XmlDoc& doc) {
  std::set<std::string> s;
  for (const auto* e : doc.byClass("free-valence-halo")) s.insert(e->attr("data-atom"));
  return s;
}

std::vector<std::string> texts(const XmlDoc& doc, const std::string& cls) {
  std::vector<std::string> out;
  for (const auto* e : doc.byClass(cls)) out.push_back(e->text);
  return out;
}

TEST(SvgRadicals, HalosOnlyWhereThereIsASpinDensity) {
  // Allyl-like: free valences on the ends and the middle.
  const Drawing base = mvtest::alkane(3);
  const struct {
    const char* name;
    bool openShell;
    bool spin;
    std::set<std::string> halos;
    std::string first;   // the first halo's printed value
    std::string legend;  // the start of the legend's halo row
  } cases[] = {
      // A correlated closed-shell density: free valences, no radical.
      {"closed shell", false, false, {}, "", "no halo: a closed-shell density"},
      // Open shell without spin populations: the free valences above 0.1.
      {"open shell", true, false, {"1", "3"}, "fv 0.90", "halo: radical centre, free valence"},
      // Spin populations decide, whatever the free valences: only the
      // positive ones above 0.1, even for a closed-shell flag.
      {"spin", false, true, {"1", "2"}, "spin 0.62", "halo: radical centre, spin population"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    Drawing d = base;
    d.openShell = c.openShell;
    d.atoms[0].freeValence = 0.9;
    d.atoms[2].freeValence = 0.5;
    d.atoms[1].freeValence = 0.05;
    if (c.spin) {
      for (auto& a : d.atoms) a.spin = 0.0;
      d.atoms[0].spin = 0.62;
      d.atoms[1].spin = 0.11;
      d.atoms[2].spin = -0.3;
    }
    const XmlDoc doc = drawn(d);
    EXPECT_EQ(haloAtoms(doc), c.halos);
    const auto values = texts(doc, "free-valence-label");
    EXPECT_EQ(values.size(), c.halos.size());
    if (!c.first.empty()) {
      ASSERT_FALSE(values.empty());
      EXPECT_NE(std::find(values.begin(), values.end(), c.first), values.end());
    }
    const auto legend = texts(doc, "legend-halo");
    ASSERT_EQ(legend.size(), 1u);
    EXPECT_EQ(legend[0].rfind(c.legend, 0), 0u) << legend[0];
  }
}

TEST(SvgGhosts, GhostAtomsAreHollowBqMarkers) {
  // Water and a ghost water (atomic numbers kept, nuclear charge 0).
  Drawing d = molecule({{8, 0, 0, 0},
                        {1, 1.8, 0, 0},
                        {1, -0.5, 1.7, 0},
                        {8, 5.5, 0, 0},
                        {1, 7.3, 0, 0},
                        {1, 5.0, 1.7, 0}});
  for (int k = 3; k < 6; ++k) d.atoms[static_cast<std::size_t>(k)].ghost = true;
  d.atoms[3].charge = -0.02;
  d.bonds = {{1, 2, 0.95}, {1, 3, 0.95}};
  const XmlDoc doc = drawn(d);
  std::set<std::string> labels;
  for (const auto& t : texts(doc, "atom-label")) labels.insert(t);
  EXPECT_EQ(labels, (std::set<std::string>{"O1", "H2", "H3", "Bq4", "Bq5", "Bq6"}));
  int ghosts = 0;
  for (const auto* e : doc.byClass("atom-disc")) {
    if (e->attr("data-ghost") != "true") continue;
    ++ghosts;
    EXPECT_EQ(e->attr("fill"), "none");
    EXPECT_LT(e->num("r"), 6.0);
  }
  EXPECT_EQ(ghosts, 3);
  EXPECT_EQ(doc.byClass("charge-ring").size(), 3u);  // the real atoms only
  EXPECT_EQ(texts(doc, "legend-ghost").size(), 1u);
  // The ghost's charge does not set the scale.
  EXPECT_EQ(texts(doc, "legend-charge-max"), std::vector<std::string>{"+0.05"});
  // Without ghosts the legend does not mention them.
  EXPECT_TRUE(texts(drawn(mvtest::naphthalene()), "legend-ghost").empty());
}

// A box from an element's x, y, width and height attributes.
struct Rect {
  double x0, y0, x1, y1;
};
Rect rectOf(const mvtest::XmlElement& e) {
  return {e.num("x"), e.num("y"), e.num("x") + e.num("width"), e.num("y") + e.num("height")};
}
bool overlaps(const Rect& a, const Rect& b) {
  return a.x0 < b.x1 && b.x0 < a.x1 && a.y0 < b.y1 && b.y0 < a.y1;
}
bool meetsCircle(const Rect& a, double cx, double cy, double r) {
  const double dx = cx - std::clamp(cx, a.x0, a.x1), dy = cy - std::clamp(cy, a.y0, a.y1);
  return dx * dx + dy * dy < r * r;
}

TEST(SvgPlacement, BondOrdersAndHaloValuesKeepOffDiscsAndEachOther) {
  std::vector<Drawing> drawings = {mvtest::naphthalene(), mvtest::tripletMethylene(),
                                   mvtest::alkane(6)};
  Drawing c60 = mvtest::fullerene();
  c60.labels = mv::SvgLabels::Bonds;  // all 90 bond orders
  drawings.push_back(c60);
  // A short C=O bond beside C-H bonds, with a radical halo (formyl-like).
  Drawing formyl = molecule({{6, 0, 0, 0}, {8, 2.2, 0, 0}, {1, -1.0, 1.8, 0}});
  formyl.bonds = {{1, 2, 1.9}, {1, 3, 0.93}};
  formyl.openShell = true;
  formyl.title = "formyl";
  formyl.atoms[0].freeValence = 0.7;
  drawings.push_back(formyl);
  for (const Drawing& d : drawings) {
    SCOPED_TRACE(d.title);
    const XmlDoc doc = drawn(d);
    std::vector<Rect> boxes;
    for (const char* cls : {"bond-label-backing", "free-valence-label-backing"})
      for (const auto* e : doc.byClass(cls)) boxes.push_back(rectOf(*e));
    if (d.labels == mv::SvgLabels::Bonds || d.atoms.size() <= 40) {
      EXPECT_EQ(doc.byClass("bond-label-backing").size(), d.bonds.size());
    }
    // The short C=O line stays visible: its order is not over its middle.
    for (const auto* line : doc.byClass("bond")) {
      if (d.title != "formyl" || line->attr("data-atoms") != "1 2") continue;
      const double mx = (line->num("x1") + line->num("x2")) / 2.0;
      const double my = (line->num("y1") + line->num("y2")) / 2.0;
      for (const auto* b : doc.byClass("bond-label-backing")) {
        if (b->attr("data-atoms") == "1 2") {
          EXPECT_FALSE(meetsCircle(rectOf(*b), mx, my, 1.0));
        }
      }
    }
    for (std::size_t i = 0; i < boxes.size(); ++i) {
      for (std::size_t j = i + 1; j < boxes.size(); ++j)
        EXPECT_FALSE(overlaps(boxes[i], boxes[j])) << i << " " << j;
      for (const auto* ring : doc.byClass("charge-ring"))
        EXPECT_FALSE(meetsCircle(boxes[i], ring->num("cx"), ring->num("cy"), ring->num("r"))) << i;
    }
  }
}

TEST(SvgPlacement, BondOrdersAreLeftOutOfLargeMoleculesOrOnRequest) {
  const struct {
    Drawing d;
    mv::SvgLabels labels;
    std::size_t bondLabels, chargeLabels;
  } cases[] = {
      {mvtest::naphthalene(), mv::SvgLabels::Auto, 19, 0},
      {mvtest::naphthalene(), mv::SvgLabels::None, 0, 0},
      {mvtest::naphthalene(), mv::SvgLabels::All, 19, 18},
      {mvtest::fullerene(), mv::SvgLabels::Auto, 0, 0},
      {mvtest::fullerene(), mv::SvgLabels::Bonds, 90, 0},
  };
  for (const auto& c : cases) {
    Drawing d = c.d;
    d.labels = c.labels;
    const XmlDoc doc = drawn(d);
    EXPECT_EQ(doc.byClass("bond-label").size(), c.bondLabels) << d.title;
    EXPECT_EQ(doc.byClass("charge-label").size(), c.chargeLabels) << d.title;
    EXPECT_EQ(doc.byClass("atom-label").size(), d.atoms.size()) << d.title;
  }
}

TEST(SvgPlacement, ChargesArePrintedAsSignedNumbersOnRequest) {
  Drawing d = molecule({{8, 0, 0, 0}, {1, 1.8, 0, 0}, {1, -0.5, 1.7, 0}});
  d.bonds = {{1, 2, 0.95}, {1, 3, 0.95}};
  const double q[] = {-0.4, 0.2, -0.001};
  for (std::size_t i = 0; i < 3; ++i) d.atoms[i].charge = q[i];
  d.labels = mv::SvgLabels::All;
  std::map<std::string, std::string> byAtom;
  const auto doc = drawn(d);  // the elements live as long as their document
  for (const auto* e : doc.byClass("charge-label")) byAtom[e->attr("data-atom")] = e->text;
  EXPECT_EQ(byAtom,
            (std::map<std::string, std::string>{{"1", "-0.40"}, {"2", "+0.20"}, {"3", "0.00"}}));
}

TEST(SvgPlacement, FarApartFragmentsSitSideBySide) {
  // Two H2 1000 bohr apart, and five far-apart copies of a CH2.
  Drawing h2 = molecule({{1, 0, 0, 0}, {1, 1.4, 0, 0}, {1, 1000, 0, 0}, {1, 1001.4, 0, 0}});
  h2.bonds = {{1, 2, 1.0}, {3, 4, 1.0}};
  Drawing copies = molecule({});
  for (int k = 0; k < 5; ++k) {
    for (const auto& a : mvtest::tripletMethylene().atoms) {
      auto b = a;
      b.index = static_cast<int>(copies.atoms.size()) + 1;
      b.xyz[0] += 200.0 * k;
      copies.atoms.push_back(b);
    }
    copies.bonds.push_back({3 * k + 1, 3 * k + 2, 0.96});
    copies.bonds.push_back({3 * k + 1, 3 * k + 3, 0.96});
  }
  for (const Drawing& d : {h2, copies}) {
    const XmlDoc doc = drawn(d);
    const auto* root = &doc.elements.front();
    EXPECT_LT(root->num("width"), 1000.0) << d.atoms.size();
    EXPECT_LT(root->num("height"), 1000.0) << d.atoms.size();
    EXPECT_NE(doc.byClass("method")[0]->text.find("not to scale"), std::string::npos);
  }
  // Near fragments (a water dimer) stay to scale.
  Drawing dimer = molecule({{8, 0, 0, 0}, {1, 1.8, 0, 0}, {1, -0.5, 1.7, 0}, {8, 5.5, 0, 0}});
  dimer.bonds = {{1, 2, 0.95}, {1, 3, 0.95}};
  EXPECT_EQ(drawn(dimer).byClass("method")[0]->text.find("not to scale"), std::string::npos);
}

TEST(SvgPlacement, CountsAreSingularForOne) {
  const XmlDoc one = drawn(molecule({{10, 0, 0, 0}}));
  const std::string line = one.byClass("method")[0]->text;
  EXPECT_NE(line.find("1 atom \xC2\xB7 0 bonds"), std::string::npos) << line;
  Drawing h2 = molecule({{1, 0, 0, 0}, {1, 1.4, 0, 0}});
  h2.bonds = {{1, 2, 1.0}};
  EXPECT_NE(drawn(h2).byClass("method")[0]->text.find("2 atoms \xC2\xB7 1 bond of"),
            std::string::npos);
}

}  // namespace
