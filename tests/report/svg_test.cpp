// Tests of the molecule drawing: the document is well-formed standalone
// SVG, every atom and bond is labelled once, file texts are escaped, the
// projection is the principal frame with its documented signs, halos mark
// exactly the radical centres, and degenerate molecules stay finite.
#include "report/svg.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <limits>
#include <map>
#include <set>
#include <sstream>
#include <stdexcept>
#include <string>
#include <vector>

#include "core/elements.h"
#include "report/samples.h"
#include "report/svg_tables.h"
#include "report/xmlcheck.h"

namespace {

using mv::Drawing;
using mvtest::molecule;
using mvtest::parseXml;
using mvtest::XmlDoc;

std::string svgOf(const Drawing& d) {
  std::ostringstream os;
  mv::writeSvg(os, d);
  return os.str();
}

// No symmetry at all: three distinct moments.
Drawing asymmetric() {
  return molecule({{8, 0.3, -0.2, 0.1},
                   {6, 2.1, 0.4, -0.3},
                   {1, -1.0, 1.6, 0.2},
                   {7, 3.5, -1.9, 1.1},
                   {1, 0.2, -1.3, -1.7},
                   {16, -2.8, -0.6, 0.9}});
}

// Rotation about a general axis followed by a translation.
Drawing moved(Drawing d) {
  const double a = 0.7, b = -1.3, c = 2.2;  // z-y-x Euler angles
  const double R[3][3] = {{std::cos(a) * std::cos(b),
                           std::cos(a) * std::sin(b) * std::sin(c) - std::sin(a) * std::cos(c),
                           std::cos(a) * std::sin(b) * std::cos(c) + std::sin(a) * std::sin(c)},
                          {std::sin(a) * std::cos(b),
                           std::sin(a) * std::sin(b) * std::sin(c) + std::cos(a) * std::cos(c),
                           std::sin(a) * std::sin(b) * std::cos(c) - std::cos(a) * std::sin(c)},
                          {-std::sin(b), std::cos(b) * std::sin(c), std::cos(b) * std::cos(c)}};
  for (auto& atom : d.atoms) {
    const double x[3] = {atom.xyz[0], atom.xyz[1], atom.xyz[2]};
    for (int i = 0; i < 3; ++i) atom.xyz[i] = R[i][0] * x[0] + R[i][1] * x[1] + R[i][2] * x[2];
    atom.xyz[0] += 12.5, atom.xyz[1] -= 3.25, atom.xyz[2] += 40.0;
  }
  return d;
}

std::vector<std::string> textsOf(const XmlDoc& doc, const std::string& cls) {
  std::vector<std::string> out;
  for (const auto* e : doc.byClass(cls)) out.push_back(e->text);
  return out;
}

std::vector<Drawing> samples() {
  return {mvtest::naphthalene(), mvtest::tripletMethylene(), mvtest::fullerene(),
          mvtest::alkane(33)};
}

// ------------------------------------------------------- the checker itself
TEST(XmlCheck, AcceptsAWellFormedDocument) {
  const XmlDoc d = parseXml(
      "<?xml version=\"1.0\"?>\n<!-- c --><a x=\"1\" y='&lt;&#65;&#x42;'><b/>t&amp;u</a>\n");
  ASSERT_TRUE(d.ok()) << d.error;
  ASSERT_EQ(d.elements.size(), 2u);
  EXPECT_EQ(d.elements[0].attr("y"), "<AB");
  EXPECT_EQ(d.elements[0].text, "t&u");
}

TEST(XmlCheck, RejectsEachKindOfMalformation) {
  for (const char* bad :
       {"<a><b></a></b>", "<a x=1/>", "<a x=\"1\" x=\"2\"/>", "<a x=\"<\"/>", "<a>&nbsp;</a>",
        "<a>x < y</a>", "<a>&amp</a>", "<a/><b/>", "<a>", "<a x=\"1\"y=\"2\"/>", "<1a/>",
        "<a>]]></a>", "<a>\x01</a>", "<a>\xff</a>", "<a>\xc0\x80</a>", "<a>&#0;</a>",
        "<!DOCTYPE a><a/>", "<a><![CDATA[x]]></a>", "<a><!-- -- --></a>"}) {
    EXPECT_FALSE(parseXml(bad).ok()) << bad;
  }
}

// ------------------------------------------------------------- the document
TEST(SvgDocument, EverySampleIsWellFormedStandaloneSvg) {
  for (const Drawing& d : samples()) {
    const std::string svg = svgOf(d);
    const XmlDoc doc = parseXml(svg);
    ASSERT_TRUE(doc.ok()) << d.title << ": " << doc.error;
    const auto& root = doc.elements.front();
    EXPECT_EQ(root.name, "svg");
    EXPECT_EQ(root.attr("xmlns"), "http://www.w3.org/2000/svg");
    EXPECT_GT(root.num("width"), 0.0);
    EXPECT_GT(root.num("height"), 0.0);
    EXPECT_EQ(root.attr("viewBox"), "0 0 " + root.attr("width") + " " + root.attr("height"));
    for (const auto& e : doc.elements) {
      EXPECT_NE(e.name, "script");
      EXPECT_NE(e.name, "style");  // no @font-face or imports either
      EXPECT_FALSE(e.has("href") || e.has("xlink:href")) << e.name;
      for (const auto& [k, v] : e.attrs) {
        EXPECT_NE(k.rfind("on", 0), 0u) << "event handler " << k;
        if (k == "font-family") {
          EXPECT_TRUE(v.ends_with("sans-serif")) << v;
        }
      }
    }
  }
}

TEST(SvgDocument, InconsistentDrawingsAreRefusedBeforeAnythingIsWritten) {
  Drawing dup = mvtest::naphthalene();
  dup.atoms[3].index = 1;
  Drawing missing = mvtest::naphthalene();
  missing.bonds.push_back({1, 19, 0.5});
  Drawing self = mvtest::naphthalene();
  self.bonds.push_back({4, 4, 0.5});
  for (const Drawing& d : {dup, missing, self}) {
    std::ostringstream os;
    EXPECT_THROW(mv::writeSvg(os, d), std::invalid_argument);
    EXPECT_TRUE(os.str().empty());
  }
}

// ------------------------------------------------------------------ labels
TEST(SvgLabels, EveryAtomIsLabelledExactlyOnceWithSymbolAndNumber) {
  for (const Drawing& d : samples()) {
    const XmlDoc doc = parseXml(svgOf(d));
    ASSERT_TRUE(doc.ok());
    std::multiset<std::string> expected, got;
    for (const auto& a : d.atoms) expected.insert(a.symbol + std::to_string(a.index));
    for (const auto& t : textsOf(doc, "atom-label")) got.insert(t);
    EXPECT_EQ(got, expected) << d.title;
    EXPECT_EQ(doc.byClass("atom").size(), d.atoms.size());
    EXPECT_EQ(doc.byClass("atom-disc").size(), d.atoms.size());
    EXPECT_EQ(doc.byClass("charge-ring").size(), d.atoms.size());
  }
}

TEST(SvgLabels, SymbolsAreTrimmedOrTakenFromTheAtomicNumber) {
  Drawing d = molecule({{1, 0, 0, 0}, {26, 3, 0, 0}, {0, 0, 3, 0}, {118, 3, 3, 0}});
  d.atoms[0].symbol = "  H ";  // as the report's element labels are padded
  d.atoms[1].symbol = "";
  d.atoms[2].symbol = " ";
  d.atoms[3].symbol = "";
  const XmlDoc doc = parseXml(svgOf(d));
  ASSERT_TRUE(doc.ok());
  EXPECT_EQ(textsOf(doc, "atom-label"), (std::vector<std::string>{"H1", "Fe2", "Bq3", "Og4"}));
}

TEST(SvgLabels, EveryBondOrderIsPrintedOnceWithTwoDecimalsOnItsBond) {
  Drawing d = molecule({{6, 0, 0, 0}, {6, 2.8, 0, 0}, {8, 5.0, 1.0, 0}, {1, -1.5, 1.5, 0.3}});
  d.bonds = {{1, 2, 1.0}, {2, 3, 2.5}, {1, 4, 0.125}, {3, 4, 0.1}};
  const XmlDoc doc = parseXml(svgOf(d));
  ASSERT_TRUE(doc.ok());
  std::map<std::string, std::string> byBond;
  for (const auto* e : doc.byClass("bond-label")) byBond[e->attr("data-atoms")] = e->text;
  EXPECT_EQ(byBond, (std::map<std::string, std::string>{
                        {"1 2", "1.00"}, {"2 3", "2.50"}, {"1 4", "0.12"}, {"3 4", "0.10"}}));
  EXPECT_EQ(doc.byClass("bond").size(), 4u);
  EXPECT_EQ(doc.byClass("bond-label-backing").size(), 4u);

  // Each number sits within its bond's span on the page.
  std::map<int, std::pair<double, double>> centre;
  const auto discs = doc.byClass("atom-disc");
  const auto groups = doc.byClass("atom");
  ASSERT_EQ(discs.size(), groups.size());
  for (std::size_t k = 0; k < discs.size(); ++k) {
    centre[std::stoi(groups[k]->attr("id").substr(5))] = {discs[k]->num("cx"), discs[k]->num("cy")};
  }
  for (const auto* e : doc.byClass("bond-label")) {
    std::istringstream ab(e->attr("data-atoms"));
    int a = 0, b = 0;
    ab >> a >> b;
    const auto [xa, ya] = centre[a];
    const auto [xb, yb] = centre[b];
    EXPECT_GE(e->num("x"), std::min(xa, xb) - 1.0);
    EXPECT_LE(e->num("x"), std::max(xa, xb) + 1.0);
    EXPECT_GE(e->num("y"), std::min(ya, yb) - 8.0);
    EXPECT_LE(e->num("y"), std::max(ya, yb) + 8.0);
  }
}

TEST(SvgLabels, LineWidthGrowsWithTheBondOrder) {
  Drawing d = molecule({{6, 0, 0, 0}, {6, 2.8, 0, 0}, {6, 5.6, 0.5, 0}, {6, 8.4, 0, 0}});
  d.bonds = {{1, 2, 2.0}, {2, 3, 0.5}, {3, 4, 1.0}};
  const XmlDoc doc = parseXml(svgOf(d));
  ASSERT_TRUE(doc.ok());
  std::map<std::string, double> width;
  for (const auto* e : doc.byClass("bond")) width[e->attr("data-atoms")] = e->num("stroke-width");
  EXPECT_LT(width["2 3"], width["3 4"]);
  EXPECT_LT(width["3 4"], width["1 2"]);
}

TEST(SvgLabels, AtomsThatCoincideInThePictureGetSeparateLabels) {
  // The alkane is seen perpendicular to its zigzag plane: each CH2's two
  // hydrogens fall on one point of the picture.
  const XmlDoc doc = parseXml(svgOf(mvtest::alkane(6)));
  ASSERT_TRUE(doc.ok());
  const auto labels = doc.byClass("atom-label");
  for (std::size_t i = 0; i < labels.size(); ++i) {
    for (std::size_t j = i + 1; j < labels.size(); ++j) {
      const double dx = labels[i]->num("x") - labels[j]->num("x");
      const double dy = labels[i]->num("y") - labels[j]->num("y");
      EXPECT_GT(std::hypot(dx, dy), 10.0) << labels[i]->text << " " << labels[j]->text;
    }
  }
}

// ----------------------------------------------------------------- escaping
TEST(SvgEscaping, HostileTitleMethodAndSymbolComeBackUnchanged) {
  Drawing d = mvtest::tripletMethylene();
  d.title = "</text><script>alert(\"x&y\")</script> 'q' ]]> &amp; <!-- -->";
  d.method = "UHF\"/><a href='x'>";
  d.atoms[1].symbol = "<b>";
  const std::string svg = svgOf(d);
  const XmlDoc doc = parseXml(svg);
  ASSERT_TRUE(doc.ok()) << doc.error;
  EXPECT_EQ(svg.find("<script"), std::string::npos);
  EXPECT_EQ(textsOf(doc, "title"), std::vector<std::string>{d.title});
  EXPECT_NE(doc.byClass("method")[0]->text.find(d.method), std::string::npos);
  const auto labels = textsOf(doc, "atom-label");
  EXPECT_EQ(std::count(labels.begin(), labels.end(), "<b>2"), 1);
  for (const auto& e : doc.elements) EXPECT_NE(e.name, "a");
}

TEST(SvgEscaping, ControlCharactersAndBrokenUtf8BecomeReplacementCharacters) {
  Drawing d = mvtest::tripletMethylene();
  // A control character, a stray continuation byte, a byte that never
  // starts UTF-8, an encoded surrogate, U+FFFF; then good two-, three- and
  // four-byte characters and a tab.
  d.title = std::string("A\x01") + "B\x80" + "C\xff" + "D\xed\xa0\x80" + "E\xef\xbf\xbf" +
            "\xc3\xa9\xe2\x9c\x93\xf0\x9f\x98\x80\t.";
  const XmlDoc doc = parseXml(svgOf(d));
  ASSERT_TRUE(doc.ok()) << doc.error;
  const std::string r = "\xef\xbf\xbd";
  EXPECT_EQ(textsOf(doc, "title"),
            std::vector<std::string>{"A" + r + "B" + r + "C" + r + "D" + r + r + r + "E" + r + r +
                                     r + "\xc3\xa9\xe2\x9c\x93\xf0\x9f\x98\x80 ."});
}

// ----------------------------------------------------- charges and halos
TEST(SvgCharge, RingsFollowTheSymmetricScaleAndTheLegendShowsItsEnds) {
  Drawing d =
      molecule({{8, 0, 0, 0}, {1, 1.8, 0, 0}, {1, -0.5, 1.7, 0}, {6, 3, 3, 0}, {6, -3, 3, 0}});
  const double q[] = {-0.4, 0.2, -0.2, 0.4, 0.0};
  for (std::size_t i = 0; i < d.atoms.size(); ++i) d.atoms[i].charge = q[i];
  const XmlDoc doc = parseXml(svgOf(d));
  ASSERT_TRUE(doc.ok());
  std::vector<std::string> ring;
  for (const auto* e : doc.byClass("charge-ring")) ring.push_back(e->attr("fill"));
  // Painting order differs from the input order: map through the groups.
  std::map<std::string, std::string> byAtom;
  const auto groups = doc.byClass("atom");
  for (std::size_t k = 0; k < groups.size(); ++k) byAtom[groups[k]->attr("id")] = ring[k];
  EXPECT_EQ(byAtom["atom-1"], "#01665E");  // -0.40: the teal end
  EXPECT_EQ(byAtom["atom-3"], "#80CDC1");  // half way to the teal end
  EXPECT_EQ(byAtom["atom-5"], "#FFFFFF");  // neutral
  EXPECT_EQ(byAtom["atom-2"], "#DFC27D");
  EXPECT_EQ(byAtom["atom-4"], "#8C510A");  // +0.40: the brown end
  EXPECT_EQ(textsOf(doc, "legend-charge-min"), std::vector<std::string>{"-0.40"});
  EXPECT_EQ(textsOf(doc, "legend-charge-max"), std::vector<std::string>{"+0.40"});
}

TEST(SvgCharge, NeutralMoleculeKeepsAMinimalScale) {
  const XmlDoc doc = parseXml(svgOf(mvtest::fullerene()));
  ASSERT_TRUE(doc.ok());
  EXPECT_EQ(textsOf(doc, "legend-charge-max"), std::vector<std::string>{"+0.05"});
  for (const auto* e : doc.byClass("charge-ring")) EXPECT_EQ(e->attr("fill"), "#FFFFFF");
}

TEST(SvgHalo, HalosMarkExactlyTheFreeValencesAboveOneTenth) {
  Drawing d = mvtest::alkane(3);  // 11 atoms
  d.openShell = true;
  const double fv[] = {0.0,    0.1,          0.1000001, 0.5,
                       1.93,   std::nan(""), -0.3,      std::numeric_limits<double>::infinity(),
                       0.0999, 0.2,          0.0};
  for (std::size_t i = 0; i < d.atoms.size(); ++i) d.atoms[i].freeValence = fv[i];
  const XmlDoc doc = parseXml(svgOf(d));
  ASSERT_TRUE(doc.ok());
  std::map<std::string, std::string> labelOf;
  for (const auto* e : doc.byClass("free-valence-label")) labelOf[e->attr("data-atom")] = e->text;
  std::set<std::string> halos;
  for (const auto* e : doc.byClass("free-valence-halo")) halos.insert(e->attr("data-atom"));
  EXPECT_EQ(halos, (std::set<std::string>{"3", "4", "5", "10"}));
  EXPECT_EQ(labelOf, (std::map<std::string, std::string>{
                         {"3", "fv 0.10"}, {"4", "fv 0.50"}, {"5", "fv 1.93"}, {"10", "fv 0.20"}}));
}

// ------------------------------------------------------ elements and size
TEST(SvgElements, DiscsTakeTheElementColourAndCovalentRadius) {
  Drawing d = molecule(
      {{6, 0, 0, 0}, {8, 3, 0, 0}, {1, 0, 3, 0}, {26, 3, 3, 0}, {0, 6, 0, 0}, {79, 6, 3, 0}});
  d.bonds = {{1, 2, 1.0}};
  const XmlDoc doc = parseXml(svgOf(d));
  ASSERT_TRUE(doc.ok());
  const auto discs = doc.byClass("atom-disc");
  const auto groups = doc.byClass("atom");
  std::map<std::string, const mvtest::XmlElement*> byAtom;
  for (std::size_t k = 0; k < groups.size(); ++k) byAtom[groups[k]->attr("id")] = discs[k];
  EXPECT_EQ(byAtom["atom-1"]->attr("fill"), "#909090");    // C
  EXPECT_EQ(byAtom["atom-2"]->attr("fill"), "#FF0D0D");    // O
  EXPECT_EQ(byAtom["atom-3"]->attr("fill"), "#FFFFFF");    // H
  EXPECT_EQ(byAtom["atom-4"]->attr("fill"), "#E06633");    // Fe
  EXPECT_EQ(byAtom["atom-6"]->attr("fill"), "#FFD123");    // Au
  EXPECT_TRUE(byAtom["atom-5"]->has("stroke-dasharray"));  // the ghost atom
  const double rc = byAtom["atom-1"]->num("r");
  EXPECT_NEAR(byAtom["atom-2"]->num("r") / rc, 0.66 / 0.76, 0.01);
  EXPECT_NEAR(byAtom["atom-4"]->num("r") / rc, 1.32 / 0.76, 0.01);
  EXPECT_NEAR(byAtom["atom-6"]->num("r") / rc, 1.36 / 0.76, 0.01);
}

TEST(SvgElements, BondsAreDrawnAboutEqualLengthWhateverTheMoleculesSize) {
  // The typical bond keeps its length on the page, so the fixed-size
  // numbers keep their room from H2 to a 101-atom alkane.
  for (const Drawing& d :
       {molecule({{1, 0, 0, 0}, {1, 1.4, 0, 0}}), mvtest::naphthalene(), mvtest::alkane(33)}) {
    Drawing withBond = d;
    if (withBond.bonds.empty()) withBond.bonds = {{1, 2, 1.0}};
    const XmlDoc doc = parseXml(svgOf(withBond));
    ASSERT_TRUE(doc.ok());
    std::vector<double> lengths;
    for (const auto* e : doc.byClass("bond")) {
      lengths.push_back(std::hypot(e->num("x2") - e->num("x1"), e->num("y2") - e->num("y1")));
    }
    // Bonds seen at a slant are shorter on the page: the longest one counts.
    const double longest = *std::max_element(lengths.begin(), lengths.end());
    EXPECT_GT(longest, 80.0) << d.title;
    EXPECT_LT(longest, 250.0) << d.title;
  }
}

// --------------------------------------------------------------- projection
void expectPrincipalFrame(const Drawing& d) {
  const auto p = mv::projectAtoms(d.atoms);
  ASSERT_EQ(p.size(), d.atoms.size());
  double m[3] = {0, 0, 0}, c[3][3] = {};
  for (const auto& q : p) {
    const double v[3] = {q.x, q.y, q.depth};
    for (int i = 0; i < 3; ++i) {
      m[i] += v[i];
      for (int j = 0; j < 3; ++j) c[i][j] += v[i] * v[j];
    }
  }
  const double scale = c[0][0] + c[1][1] + c[2][2];
  for (int i = 0; i < 3; ++i) EXPECT_NEAR(m[i], 0.0, 1e-9 * std::sqrt(scale));
  EXPECT_NEAR(c[0][1], 0.0, 1e-9 * scale);
  EXPECT_NEAR(c[0][2], 0.0, 1e-9 * scale);
  EXPECT_NEAR(c[1][2], 0.0, 1e-9 * scale);
  EXPECT_GE(c[0][0], c[1][1] - 1e-9 * scale);
  EXPECT_GE(c[1][1], c[2][2] - 1e-9 * scale);
  // Distances are kept: the frame is orthonormal.
  for (std::size_t i = 0; i < p.size(); ++i) {
    for (std::size_t j = i + 1; j < p.size(); ++j) {
      const auto& a = d.atoms[i].xyz;
      const auto& b = d.atoms[j].xyz;
      EXPECT_NEAR(std::hypot(p[i].x - p[j].x, p[i].y - p[j].y, p[i].depth - p[j].depth),
                  std::hypot(a[0] - b[0], a[1] - b[1], a[2] - b[2]), 1e-9);
    }
  }
}

TEST(SvgProjection, IsThePrincipalFrameOfTheCentredCoordinates) {
  expectPrincipalFrame(asymmetric());
  expectPrincipalFrame(moved(asymmetric()));
  expectPrincipalFrame(mvtest::naphthalene());
  expectPrincipalFrame(moved(mvtest::alkane(7)));
}

TEST(SvgProjection, SignsFollowTheFirstAtoms) {
  for (const Drawing& d :
       {asymmetric(), mvtest::naphthalene(), mvtest::alkane(5), mvtest::fullerene()}) {
    const auto p = mv::projectAtoms(d.atoms);
    // The first atom off each axis: left of the centre, and above it.
    auto first = [&](auto coord) {
      for (const auto& q : p) {
        if (std::fabs(coord(q)) > 1e-3) return coord(q);
      }
      return 0.0;
    };
    EXPECT_LT(first([](const mv::Projected& q) { return q.x; }), 0.0) << d.title;
    EXPECT_GT(first([](const mv::Projected& q) { return q.y; }), 0.0) << d.title;
  }
}

TEST(SvgProjection, RotatedAndTranslatedCopiesProjectAlike) {
  // Three distinct moments, two equal (benzene-like ring), a prolate top
  // (linear), and spherical tops (methane, C60).
  Drawing ring;
  for (int k = 0; k < 6; ++k) {
    const double t = k * std::acos(-1.0) / 3.0 + 0.1;
    ring.atoms.push_back({k + 1, 6, "C", {2.64 * std::cos(t), 2.64 * std::sin(t), 0.0}, 0, 0});
  }
  const double s = 1.18;
  const Drawing methane =
      molecule({{6, 0, 0, 0}, {1, s, s, s}, {1, s, -s, -s}, {1, -s, s, -s}, {1, -s, -s, s}});
  const Drawing linear = molecule({{8, 0, 0, -2.2}, {6, 0, 0, 0}, {8, 0, 0, 2.2}});
  for (const Drawing& d :
       {asymmetric(), mvtest::naphthalene(), ring, linear, methane, mvtest::fullerene()}) {
    const auto a = mv::projectAtoms(d.atoms);
    const auto b = mv::projectAtoms(moved(d).atoms);
    ASSERT_EQ(a.size(), b.size());
    for (std::size_t i = 0; i < a.size(); ++i) {
      EXPECT_NEAR(a[i].x, b[i].x, 1e-7) << d.title << " atom " << i + 1;
      EXPECT_NEAR(a[i].y, b[i].y, 1e-7) << d.title << " atom " << i + 1;
      EXPECT_NEAR(a[i].depth, b[i].depth, 1e-7) << d.title << " atom " << i + 1;
    }
  }
}

TEST(SvgProjection, SphericalTopIsSeenWithoutAtomsHiddenBehindOthers) {
  // Methane seen in the frame of its first two hydrogens would put the
  // other two on one point; the chosen view keeps every pair apart.
  const double s = 1.18;
  const Drawing methane =
      molecule({{6, 0, 0, 0}, {1, s, s, s}, {1, s, -s, -s}, {1, -s, s, -s}, {1, -s, -s, s}});
  for (const Drawing& d : {methane, mvtest::fullerene()}) {
    const auto p = mv::projectAtoms(d.atoms);
    double nearest = 1e300;
    for (std::size_t i = 0; i < p.size(); ++i) {
      for (std::size_t j = i + 1; j < p.size(); ++j) {
        nearest = std::min(nearest, std::hypot(p[i].x - p[j].x, p[i].y - p[j].y));
      }
    }
    EXPECT_GT(nearest, 0.2) << d.title;  // bohr
  }
}

TEST(SvgProjection, MirrorImageKeepsThePictureAndReversesTheDepths) {
  Drawing mirror = asymmetric();
  for (auto& a : mirror.atoms) a.xyz[2] = -a.xyz[2];
  const auto p = mv::projectAtoms(asymmetric().atoms);
  const auto q = mv::projectAtoms(mirror.atoms);
  for (std::size_t i = 0; i < p.size(); ++i) {
    EXPECT_NEAR(p[i].x, q[i].x, 1e-9);
    EXPECT_NEAR(p[i].y, q[i].y, 1e-9);
    EXPECT_NEAR(p[i].depth, -q[i].depth, 1e-9);
  }
}

TEST(SvgProjection, DegenerateMoleculesStayFinite) {
  const double nan = std::nan("");
  EXPECT_TRUE(mv::projectAtoms({}).empty());
  const auto one = mv::projectAtoms(molecule({{6, 5, -3, 2}}).atoms);
  EXPECT_EQ(one[0].x, 0.0);
  EXPECT_EQ(one[0].y, 0.0);
  const auto two = mv::projectAtoms(molecule({{1, 1, 1, 1}, {1, 1, 1, 2.4}}).atoms);
  EXPECT_NEAR(two[0].x, -0.7, 1e-12);  // the first atom on the left
  EXPECT_NEAR(two[1].x, 0.7, 1e-12);
  for (const auto& q : two) EXPECT_NEAR(std::hypot(q.y, q.depth), 0.0, 1e-12);
  const auto point = mv::projectAtoms(molecule({{6, 2, 2, 2}, {8, 2, 2, 2}, {1, 2, 2, 2}}).atoms);
  for (const auto& q : point) EXPECT_TRUE(q.x == 0.0 && q.y == 0.0 && q.depth == 0.0);
  const auto broken =
      mv::projectAtoms(molecule({{6, nan, 0, 0}, {8, 1, 2, 3}, {1, 0, 1, 0}}).atoms);
  for (const auto& q : broken) {
    EXPECT_TRUE(std::isfinite(q.x) && std::isfinite(q.y) && std::isfinite(q.depth));
  }
}

TEST(SvgProjection, DegenerateDrawingsHaveNoNonFiniteNumbers) {
  const double nan = std::nan("");
  const double inf = std::numeric_limits<double>::infinity();
  Drawing two = molecule({{1, 0, 0, 0}, {1, 0, 0, 1.4}});
  two.bonds = {{1, 2, 1.0}};
  Drawing linear = molecule({{8, 0, 0, -2.2}, {6, 0, 0, 0}, {8, 0, 0, 2.2}});
  linear.bonds = {{1, 2, 2.0}, {2, 3, 2.0}};
  Drawing point = molecule({{6, 1, 1, 1}, {6, 1, 1, 1}, {6, 1, 1, 1}});
  point.bonds = {{1, 2, 1.0}};
  Drawing bad = molecule({{6, nan, 0, 0}, {8, inf, 1, 0}, {1, 0, 1, -inf}});
  bad.atoms[0].charge = nan;
  bad.atoms[1].charge = inf;
  bad.atoms[2].freeValence = nan;
  bad.bonds = {{1, 2, nan}, {2, 3, inf}};
  for (const Drawing& d : {Drawing{}, molecule({{6, 0, 0, 0}}), two, linear, point, bad}) {
    std::string svg = svgOf(d);
    const XmlDoc doc = parseXml(svg);
    ASSERT_TRUE(doc.ok()) << doc.error;
    std::transform(svg.begin(), svg.end(), svg.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    EXPECT_EQ(svg.find("nan"), std::string::npos) << d.atoms.size();
    EXPECT_EQ(svg.find("inf"), std::string::npos) << d.atoms.size();
    for (const auto& e : doc.elements) {
      for (const char* a : {"x", "y", "cx", "cy", "r", "x1", "y1", "x2", "y2", "width"}) {
        if (e.has(a) && e.attr(a).back() != '%') {
          EXPECT_TRUE(std::isfinite(e.num(a))) << a;
        }
      }
    }
  }
}

// ------------------------------------------------- determinism and order
TEST(SvgDeterminism, SameInputGivesTheSameBytes) {
  for (const Drawing& d : samples()) EXPECT_EQ(svgOf(d), svgOf(Drawing(d)));
}

TEST(SvgDeterminism, RotatedCopyIsDrawnWithTheSameLayout) {
  for (const Drawing& d : {mvtest::naphthalene(), mvtest::fullerene()}) {
    const XmlDoc a = parseXml(svgOf(d));
    const XmlDoc b = parseXml(svgOf(moved(d)));
    const auto da = a.byClass("atom-disc"), db = b.byClass("atom-disc");
    ASSERT_EQ(da.size(), db.size());
    const auto ga = a.byClass("atom"), gb = b.byClass("atom");
    for (std::size_t k = 0; k < da.size(); ++k) {
      EXPECT_EQ(ga[k]->attr("id"), gb[k]->attr("id"));  // same painting order
      EXPECT_NEAR(da[k]->num("cx"), db[k]->num("cx"), 0.011);
      EXPECT_NEAR(da[k]->num("cy"), db[k]->num("cy"), 0.011);
    }
  }
}

TEST(SvgPainting, AtomsBackToFrontAndEachBondBeforeItsAtoms) {
  const Drawing d = mvtest::fullerene();
  const auto p = mv::projectAtoms(d.atoms);
  const XmlDoc doc = parseXml(svgOf(d));
  ASSERT_TRUE(doc.ok());
  std::map<int, std::size_t> atomAt;  // atom -> position in the document
  std::vector<std::pair<std::size_t, std::string>> bondsAt;
  double last = -1e300;
  for (std::size_t k = 0; k < doc.elements.size(); ++k) {
    const auto& e = doc.elements[k];
    if (e.attr("class") == "atom") {
      const int index = std::stoi(e.attr("id").substr(5));
      atomAt[index] = k;
      EXPECT_GE(p[index - 1].depth, last - 1e-6);
      last = p[index - 1].depth;
    } else if (e.attr("class") == "bond") {
      bondsAt.emplace_back(k, e.attr("data-atoms"));
    }
  }
  ASSERT_EQ(atomAt.size(), 60u);
  ASSERT_EQ(bondsAt.size(), 90u);
  for (const auto& [k, ab] : bondsAt) {
    std::istringstream is(ab);
    int a = 0, b = 0;
    is >> a >> b;
    EXPECT_LT(k, atomAt[a]) << ab;
    EXPECT_LT(k, atomAt[b]) << ab;
  }
}

}  // namespace
