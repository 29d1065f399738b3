// The .wfn, .wfx and .mwfn readers on small hand-made files: the primitive
// type codes, the merging of repeated primitives, fixed fields that run
// together, the spins of a .wfn file, the tags of a .wfx file, and the
// recognition of each format by its content.
#include "checkpoint/wavefiles.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <set>
#include <string>
#include <tuple>
#include <vector>

#include "checkpoint/detect.h"
#include "checkpoint/wavetext.h"
#include "core/stop.h"

namespace {

using mv::Checkpoint;
namespace wt = mv::wavetext;

TEST(WaveText, PrimitiveTypeCodesCoverEachShellOnce) {
  // Codes 1, 2-4, 5-10, 11-20, 21-35, 36-56: every monomial of l = 0..5 once.
  const int firstOfL[] = {1, 2, 5, 11, 21, 36, 57};
  std::set<std::tuple<int, int, int>> seen;
  for (int l = 0; l <= 5; ++l)
    for (int code = firstOfL[l]; code < firstOfL[l + 1]; ++code) {
      int x = -1, y = -1, z = -1;
      ASSERT_TRUE(wt::primitivePowers(code, x, y, z)) << code;
      EXPECT_EQ(x + y + z, l) << code;
      EXPECT_TRUE(seen.insert({x, y, z}).second) << code;
    }
  int x, y, z;
  EXPECT_FALSE(wt::primitivePowers(0, x, y, z));
  EXPECT_FALSE(wt::primitivePowers(57, x, y, z));
  // The f order of these files: xxy (14) before xyy (17).
  ASSERT_TRUE(wt::primitivePowers(14, x, y, z));
  EXPECT_EQ(std::make_tuple(x, y, z), std::make_tuple(2, 1, 0));
  ASSERT_TRUE(wt::primitivePowers(17, x, y, z));
  EXPECT_EQ(std::make_tuple(x, y, z), std::make_tuple(1, 2, 0));
}

TEST(WaveText, NumbersThatRunTogetherAreSplit) {
  const auto w = wt::numberWords("  0.00000000-94.48630664 1.5D-03-2.0E+01  7");
  ASSERT_EQ(w.size(), 5u);
  EXPECT_EQ(w[0], "0.00000000");
  EXPECT_EQ(w[1], "-94.48630664");
  EXPECT_EQ(w[2], "1.5D-03");
  EXPECT_EQ(w[3], "-2.0E+01");
  EXPECT_EQ(w[4], "7");
}

// Primitives of centre 2 listed before those of centre 1, a p function with
// only its y component, and a repeated s primitive: one shell per centre,
// angular momentum and exponent, in centre order, the repeat on the same
// function.
TEST(WaveText, PrimitiveBasisMergesRepeatsAndCompletesShells) {
  const std::vector<wt::Primitive> prims = {
      {2, 1, 0.5}, {1, 3, 2.0}, {1, 1, 0.5}, {2, 1, 0.5}, {1, 1, 0.25}};
  const wt::PrimitiveBasis pb = wt::primitiveBasis(prims, 2);
  ASSERT_EQ(pb.shells.count, 4);
  EXPECT_EQ(pb.nbf, 6);  // p (3) + s + s on centre 1, s on centre 2
  EXPECT_EQ(pb.shells.atom(1), 1);
  EXPECT_EQ(pb.shells.type(1), 1);
  EXPECT_EQ(pb.shells.exponent(1), 2.0);
  EXPECT_EQ(pb.shells.atom(4), 2);
  EXPECT_EQ(pb.row[0], pb.row[3]);  // the repeat
  EXPECT_EQ(pb.row[0], 6);
  EXPECT_EQ(pb.row[1], 2);  // y of the p shell
  EXPECT_EQ(pb.row[2], 4);
  EXPECT_EQ(pb.row[4], 5);
  // The bare s primitive is (pi / 2 alpha)^(3/4) times the normalised one.
  EXPECT_NEAR(pb.scale[2], std::pow(3.14159265358979 / 1.0, 0.75), 1e-12);
  // y: (2 alpha / pi)^(3/4) (4 alpha)^(1/2) is the norm of y exp(-alpha r^2).
  EXPECT_NEAR(pb.scale[1], 1.0 / (std::pow(4.0 / 3.14159265358979, 0.75) * std::sqrt(8.0)), 1e-12);
}

// A .wfn file of `n` hydrogen-like centres, one s primitive each, and the
// given orbitals (occupation, energy, number); all coefficients 1.
std::string wfn(int n, const std::vector<std::tuple<double, double, int>>& orbitals,
                const std::string& tail = "") {
  char buf[160];
  std::string s = " hand-made\n";
  std::snprintf(buf, sizeof buf, "GTO   %5zu MOL ORBITALS %6d PRIMITIVES %8d NUCLEI\n",
                orbitals.size(), n, n);
  s += buf;
  for (int a = 1; a <= n; ++a) {
    // Coordinates that fill their 12-column fields run together.
    std::snprintf(buf, sizeof buf, "  H%-4d     (CENTRE%3d) %12.8f%12.8f%12.8f  CHARGE =  1.0\n", a,
                  a, 0.0, -(90.0 + 0.05 * a), 1.5 * a);
    s += buf;
  }
  for (const char* label : {"CENTRE ASSIGNMENTS  ", "TYPE ASSIGNMENTS    "})
    for (int a = 1; a <= n; a += 20) {
      s += label;
      for (int k = a; k < a + 20 && k <= n; ++k) {
        std::snprintf(buf, sizeof buf, "%3d", label[0] == 'C' ? k : 1);
        s += buf;
      }
      s += "\n";
    }
  for (int a = 1; a <= n; a += 5) {
    s += "EXPONENTS ";
    for (int k = a; k < a + 5 && k <= n; ++k) s += " 0.1000000D+01";
    s += "\n";
  }
  for (const auto& [occ, energy, number] : orbitals) {
    std::snprintf(buf, sizeof buf,
                  "MO%5d     MO 0.0        OCC NO = %12.7f  ORB. ENERGY = %11.6f\n", number, occ,
                  energy);
    s += buf;
    for (int a = 1; a <= n; a += 5) {
      for (int k = a; k < a + 5 && k <= n; ++k) s += "  0.10000000D+01";
      s += "\n";
    }
  }
  return s + "END DATA\n THE SCF ENERGY =   -1.5 THE VIRIAL(-V/T)=   2.00000000\n" + tail;
}

Checkpoint readWfn(const std::string& text) {
  return mv::readWfn(text, "t.wfn", mv::Limits::commandLine());
}

TEST(WfnReader, FixedFieldsThatRunTogether) {
  const Checkpoint ck = readWfn(wfn(101, {{2.0, -0.5, 1}}));
  EXPECT_EQ(ck.format, mv::FileFormat::Wfn);
  ASSERT_EQ(ck.natoms, 101);
  EXPECT_EQ(ck.coords(2, 101), -95.05);  // "-95.05000000151.50000000"
  EXPECT_EQ(ck.coords(3, 101), 151.5);
  EXPECT_EQ(ck.coords(2, 1), -90.05);
  EXPECT_EQ(ck.atomicNumber(100), 1);
  // Centres 99, 100 and 101 written "99100101": one primitive each.
  EXPECT_EQ(ck.nbf, 101);
  EXPECT_EQ(ck.shells.atom(101), 101);
  EXPECT_EQ(ck.electrons, 2);
  EXPECT_EQ(ck.totalEnergy, -1.5);
  EXPECT_TRUE(ck.calc.plain);
}

// Assignments written blank-separated in other columns than Gaussian's, and
// exponents whose fields run together: read all the same.
TEST(WfnReader, OtherColumnsAndGluedExponents) {
  std::string text = wfn(3, {{2.0, -1.0, 1}});
  const std::size_t c = text.find("CENTRE ASSIGNMENTS");
  text.replace(c, text.find('\n', c) - c, "CENTRE ASSIGNMENTS 3 2 1");
  const std::size_t e = text.find("EXPONENTS");
  text.replace(e, text.find('\n', e) - e, "EXPONENTS  0.3000000D+0110.000000D+00 0.5000000D+00");
  const Checkpoint ck = readWfn(text);
  ASSERT_EQ(ck.nbf, 3);
  // In centre order: the primitive of centre 1 is the third, exponent 0.5.
  EXPECT_EQ(ck.shells.atom(1), 1);
  EXPECT_EQ(ck.shells.exponent(1), 0.5);
  EXPECT_EQ(ck.shells.exponent(2), 10.0);
  EXPECT_EQ(ck.shells.exponent(3), 3.0);
}

// All occupations at most 1: alpha orbitals, then beta ones from where the
// numbering jumps, the energy drops or the occupation rises; $MOSPIN only
// when it has one entry per orbital.
TEST(WfnReader, SpinsOfTheOrbitals) {
  struct Case {
    std::vector<std::tuple<double, double, int>> orbitals;
    std::string tail;
    int nalpha, nbeta;
    bool separate;
  } cases[] = {
      {{{1.0, -1.0, 1}, {1.0, -0.5, 2}, {1.0, -0.9, 5}}, "", 2, 1, true},   // numbering
      {{{1.0, -1.0, 1}, {1.0, -0.5, 2}, {1.0, -0.9, 3}}, "", 2, 1, true},   // energy
      {{{1.0, -1.0, 1}, {0.0, -0.5, 2}, {1.0, -0.1, 3}}, "", 1, 1, true},   // occupation
      {{{2.0, -1.0, 1}, {1.0, -0.5, 2}, {1.0, -0.9, 3}}, "", 3, 1, false},  // spatial, ROHF
      {{{1.0, -1.0, 1}, {1.0, -0.5, 2}, {1.0, -0.4, 3}}, "$MOSPIN\n 1 2 2\n$END\n", 1, 2, true},
      {{{1.0, -1.0, 1}, {1.0, -0.5, 2}, {1.0, -0.4, 3}}, "$MOSPIN\n 1 1 2 2\n$END\n", 3, 0, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.tail + std::to_string(c.nalpha) + "/" + std::to_string(c.nbeta));
    const Checkpoint ck = readWfn(wfn(3, c.orbitals, c.tail));
    EXPECT_EQ(ck.nalpha, c.nalpha);
    EXPECT_EQ(ck.nbeta, c.nbeta);
    EXPECT_EQ(ck.unrestricted(), c.separate);
  }
}

std::string wfx(const std::string& extra = "") {
  return "# made by hand\n<Title>\n two centres\n</Title>\n<Keywords>\nGTO\n</Keywords>\n"
         "<Number of Nuclei>\n2\n</Number of Nuclei>\n"
         "<Number of Occupied Molecular Orbitals>\n2\n</Number of Occupied Molecular Orbitals>\n"
         "<Nuclear Names>\n O1\n Si2\n</Nuclear Names>\n"
         "<Atomic Numbers>\n8\n14\n</Atomic Numbers>\n"
         "<Nuclear Charges>\n0.0\n4.0\n</Nuclear Charges>\n"
         "<Nuclear Cartesian Coordinates>\n0 0 0\n0 0 3.0\n</Nuclear Cartesian Coordinates>\n"
         "<Number of Primitives>\n3\n</Number of Primitives>\n"
         "<Primitive Centers>\n1 2 2\n</Primitive Centers>\n"
         "<Primitive Types>\n1 1 4\n</Primitive Types>\n"
         "<Primitive Exponents>\n1.0 0.5 0.5\n</Primitive Exponents>\n"
         "<Molecular Orbital Occupation Numbers>\n1.0\n1.0\n"
         "</Molecular Orbital Occupation Numbers>\n"
         "<Molecular Orbital Spin Types>\n Alpha\n Beta\n</Molecular Orbital Spin Types>\n"
         "<Molecular Orbital Primitive Coefficients>\n<MO Number>\n1\n</MO Number>\n"
         " 0.1 0.2\n 0.3\n<MO Number>\n2\n</MO Number>\n 0.4 0.5 0.6\n"
         "</Molecular Orbital Primitive Coefficients>\n" +
         extra + "<Energy = T + Vne + Vee + Vnn>\n-2.5\n</Energy  = T + Vne + Vee + Vnn>\n";
}

TEST(WfxReader, TagsCommentsGhostsAndCores) {
  const std::string edf =
      "<Additional Electron Density Function (EDF)>\n<Number of EDF Primitives>\n1\n"
      "</Number of EDF Primitives>\n<EDF Primitive Types>\n0\n</EDF Primitive Types>\n"
      "</Additional Electron Density Function (EDF)>\n";
  // Without the optional count of orbitals: one per occupation.
  std::string uncounted = wfx();
  const std::string count =
      "<Number of Occupied Molecular Orbitals>\n2\n</Number of Occupied Molecular Orbitals>\n";
  uncounted.erase(uncounted.find(count), count.size());
  for (const std::string& text : {wfx(), wfx(edf), uncounted}) {
    const Checkpoint ck = mv::readWfx(text, "t.wfx", mv::Limits::commandLine());
    EXPECT_EQ(ck.format, mv::FileFormat::Wfx);
    EXPECT_EQ(ck.title.substr(0, 12), "two centres ");
    // A ghost oxygen and a silicon with a core potential.
    EXPECT_EQ(ck.atomicNumber(1), 8);
    EXPECT_EQ(ck.nuclearCharge(1), 0.0);
    EXPECT_EQ(ck.atomicNumber(2), 14);
    EXPECT_EQ(ck.nuclearCharge(2), 4.0);
    EXPECT_EQ(ck.nalpha, 1);
    EXPECT_EQ(ck.nbeta, 1);
    EXPECT_TRUE(ck.unrestricted());
    EXPECT_EQ(ck.totalEnergy, -2.5);
    // Functions: s on 1, s and p (x, y, z) on 2; the z primitive is row 5.
    ASSERT_EQ(ck.nbf, 5);
    EXPECT_EQ(ck.mo(4, 1), 0.0);
    EXPECT_NE(ck.mo(5, 1), 0.0);
    EXPECT_NE(ck.moBeta(5, 1), 0.0);
  }
}

TEST(Detect, EachFormatByItsContent) {
  EXPECT_EQ(mv::detectFormat(wfn(2, {{2.0, -1.0, 1}})), mv::FileFormat::Wfn);
  EXPECT_EQ(mv::detectFormat(wfx()), mv::FileFormat::Wfx);
  EXPECT_EQ(mv::detectFormat("# Generated\n\nWfntype= 0\n"), mv::FileFormat::Mwfn);
  EXPECT_EQ(mv::detectFormat("[Molden Format]\n"), mv::FileFormat::Molden);
  EXPECT_EQ(mv::detectFormat("title\nSP   RHF   STO-3G\n"), mv::FileFormat::Fchk);
}

}  // namespace
