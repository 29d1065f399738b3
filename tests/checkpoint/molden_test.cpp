// The Molden reader on small hand-made files: units, flags, component
// orders, the orbitals, and the format detection that sends a file to it.
#include "checkpoint/molden.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <string>

#include "checkpoint/detect.h"
#include "checkpoint/orbitals.h"
#include "core/angular.h"
#include "core/stop.h"

namespace {

using mv::Checkpoint;

Checkpoint read(const std::string& text) {
  return mv::readMolden(text, "t.molden", mv::Limits::commandLine());
}

// Two atoms, an s shell on each (given for atom 2 first), and orbitals with
// the coefficients of the functions listed (in the file's numbering).
std::string twoAtoms(const std::string& atomsHeader, const std::string& x2,
                     const std::string& extra = "") {
  return "[Molden Format]\n" + atomsHeader +
         "\n"
         "H     1    1   0.0 0.0 0.0\n"
         "Li    2    3   " +
         x2 +
         " 0.0 0.0\n"
         "[GTO]\n"
         "  2 0\n"
         " s  2 1.00\n"
         "  1.0D+01  0.5\n"
         "  1.0D-01  0.5\n"
         "\n"
         "  1 0\n"
         " s  1 1.00\n"
         "  0.5 1.0\n"
         "\n" +
         extra +
         "[MO]\n"
         " Sym= 1a\n Ene= -0.5\n Spin= Alpha\n Occup= 2.0\n"
         "  1 0.25\n"
         " Sym= 2a\n Ene= 0.5\n Spin= Alpha\n Occup= 0.0\n"
         "  2 1.0\n";
}

TEST(MoldenReader, AtomsBasisAndOrbitals) {
  const Checkpoint au = read(twoAtoms("[Atoms] (AU)", "1.889726124565"));
  const Checkpoint angs = read(twoAtoms("[Atoms] Angs", "1.0"));
  const Checkpoint plain = read(twoAtoms("[ATOMS]", "1.0"));
  for (const Checkpoint* ck : {&au, &angs, &plain}) {
    EXPECT_EQ(ck->format, mv::FileFormat::Molden);
    EXPECT_EQ(ck->natoms, 2);
    EXPECT_EQ(ck->atomicNumber(2), 3);
    EXPECT_NEAR(ck->coords(1, 2), 1.889726124565, 1e-9);
    EXPECT_EQ(ck->nbf, 2);
    EXPECT_EQ(ck->electrons, 2);
    EXPECT_EQ(ck->nalpha, 1);
    EXPECT_EQ(ck->nbeta, 1);
    EXPECT_FALSE(ck->hasEnergy);
    EXPECT_FALSE(ck->unrestricted());
    // The shells in atom order: atom 1's single primitive first.
    EXPECT_EQ(ck->shells.atom(1), 1);
    EXPECT_EQ(ck->shells.nprim(1), 1);
    EXPECT_EQ(ck->shells.atom(2), 2);
    EXPECT_DOUBLE_EQ(ck->shells.exponent(2), 10.0);  // Fortran D exponent
    EXPECT_DOUBLE_EQ(ck->shells.exponent(3), 0.1);
    // Function 1 as written (atom 2's) is function 2 in atom order; the
    // coefficients not written are zero.
    EXPECT_EQ(ck->mo(2, 1), 0.25);
    EXPECT_EQ(ck->mo(1, 1), 0.0);
    EXPECT_EQ(ck->mo(1, 2), 1.0);
    EXPECT_EQ(ck->occupation(1), 2.0);
    // Title: the file name.
    EXPECT_EQ(ck->title.substr(0, 10), "t.molden  ");
  }
}

TEST(MoldenReader, TitleGhostsAndPseudopotentials) {
  std::string text = twoAtoms("[Atoms] AU", "2.0", "[Pseudo]\nLi 2 1.0\n");
  text.insert(text.find('\n') + 1, "[Title]\n   Lithium hydride, a test  \n");
  text.replace(text.find("H     1    1"), 12, "H     1    0");
  const Checkpoint ck = read(text);
  EXPECT_EQ(ck.title.substr(0, 26), "Lithium hydride, a test   ");
  EXPECT_EQ(ck.atomicNumber(1), 1);  // a ghost keeps its element
  EXPECT_EQ(ck.nuclearCharge(1), 0.0);
  EXPECT_EQ(ck.nuclearCharge(2), 1.0);  // valence charge of the pseudopotential
}

// The flags decide which shells are pure: d, f, g and h shell types.
TEST(MoldenReader, PureAndCartesianFlags) {
  struct Case {
    const char* flags;
    int d, f, g, h;
  } cases[] = {
      {"", 2, 3, 4, 0},
      {"[5D]\n", -2, -3, 4, 0},
      {"[5D10F]\n", -2, 3, 4, 0},
      {"[7F]\n", 2, -3, 4, 0},
      {"[5D7F]\n", -2, -3, 4, 0},
      {"[5d7f]\n[9g]\n", -2, -3, -4, -5},
      {"[5D7F]\n[11H]\n", -2, -3, 4, -5},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.flags);
    const bool h = c.h != 0;
    std::string text = "[Molden Format]\n[Atoms] AU\nX 1 8 0 0 0\n" + std::string(c.flags) +
                       "[GTO]\n1 0\nd 1 1.0\n1.0 1.0\nf 1 1.0\n1.0 1.0\ng 1 1.0\n1.0 1.0\n" +
                       (h ? "h 1 1.0\n1.0 1.0\n" : "") +
                       "\n[MO]\nOccup= 2\n1 1.0\nOccup= 0\n2 1.0\n";
    const Checkpoint ck = read(text);
    EXPECT_EQ(ck.shells.type(1), c.d);
    EXPECT_EQ(ck.shells.type(2), c.f);
    EXPECT_EQ(ck.shells.type(3), c.g);
    if (h) {
      EXPECT_EQ(ck.shells.type(4), c.h);
    }
    int nbf = 0;
    for (int i = 1; i <= ck.shells.count; ++i) {
      const int t = ck.shells.type(i);
      nbf += t < 0 ? 1 - 2 * t : (t + 1) * (t + 2) / 2;
    }
    EXPECT_EQ(ck.nbf, nbf);
  }
  // Cartesian h has no agreed order of components.
  EXPECT_THROW(read("[Molden Format]\n[Atoms] AU\nX 1 8 0 0 0\n[GTO]\n1 0\nh 1 1.0\n1.0 1.0\n\n"
                    "[MO]\nOccup= 2\n1 1.0\n"),
               mv::Stop);
}

// Cartesian components come in the file's order and go to the program's:
// d and f orders agree, g differs.
TEST(MoldenReader, CartesianComponentsInTheProgramsOrder) {
  const char* molden[] = {"xxxx", "yyyy", "zzzz", "xxxy", "xxxz", "xyyy", "yyyz", "xzzz",
                          "yzzz", "xxyy", "xxzz", "yyzz", "xxyz", "xyyz", "xyzz"};
  std::string text =
      "[Molden Format]\n[Atoms] AU\nX 1 8 0 0 0\n[GTO]\n1 0\nsp 1 1.0\n1.0 0.5 0.7\n"
      "g 1 1.0\n1.0 1.0\n\n[MO]\nOccup= 2\n1 0\n2 0\n3 0\n4 0\n";
  // Orbital coefficient of the k-th g component as written: 10 + k.
  for (int k = 1; k <= 15; ++k) text += std::to_string(4 + k) + " " + std::to_string(10 + k) + "\n";
  const Checkpoint ck = read(text);
  EXPECT_EQ(ck.shells.type(1), -1);
  EXPECT_EQ(ck.shells.pCoefficient(1), 0.7);
  const auto order = mv::angular::cartesianOrder(4);
  for (int r = 0; r < 15; ++r) {
    const mv::angular::Powers p = order[static_cast<std::size_t>(r)];
    const double c = ck.mo(5 + r, 1);
    const std::string name = molden[static_cast<int>(c) - 11];
    const int nx = static_cast<int>(std::count(name.begin(), name.end(), 'x'));
    const int ny = static_cast<int>(std::count(name.begin(), name.end(), 'y'));
    EXPECT_EQ(nx, p.x) << name;
    EXPECT_EQ(ny, p.y) << name;
  }
}

TEST(MoldenReader, SpinUnrestrictedAndNaturalOrbitals) {
  const std::string head =
      "[Molden Format]\n[Atoms] AU\nH 1 1 0 0 0\nH 2 1 0 0 1.4\n[GTO]\n1 0\ns 1 1.0\n1.0 1.0\n\n"
      "2 0\ns 1 1.0\n1.0 1.0\n\n[MO]\n";
  const Checkpoint u = read(head +
                            "Spin= Alpha\nOccup= 1\n1 0.5\n2 0.5\nSpin= Alpha\nOccup= 1\n1 0.5\n"
                            "2 -0.5\nSpin= Beta\nOccup= 1.0\n1 0.5\n2 0.5\nSpin= Beta\n"
                            "Occup= 0\n1 0.5\n2 -0.5\n");
  EXPECT_TRUE(u.unrestricted());
  EXPECT_EQ(u.nalpha, 2);
  EXPECT_EQ(u.nbeta, 1);
  EXPECT_EQ(u.moBeta.cols(), 2);
  EXPECT_TRUE(u.calc.plain);
  const Checkpoint no = read(head + "Occup= 1.9\n1 0.5\n2 0.5\nOccup= 0.1\n1 0.5\n2 -0.5\n");
  EXPECT_FALSE(no.unrestricted());
  EXPECT_FALSE(no.calc.plain);
  EXPECT_EQ(no.nalpha, 1);
  EXPECT_EQ(no.densityName(), "Density of the natural orbitals");
}

// P = sum over orbitals of n C C^T, symmetric, orbitals of zero occupation
// left out.
TEST(MoldenReader, DensityFromOrbitals) {
  mv::Matrix c(3, 3);
  const double v[3][3] = {{0.5, 0.1, -2.0}, {0.25, -0.3, 7.0}, {-1.0, 0.2, 3.0}};
  for (int i = 1; i <= 3; ++i)
    for (int j = 1; j <= 3; ++j) c(i, j) = v[i - 1][j - 1];
  mv::Vec1<double> occ(2);  // the third column is no orbital of the set
  occ(1) = 2.0;
  occ(2) = 0.5;
  const mv::Matrix p = mv::densityFromOrbitals(c, occ);
  for (int i = 1; i <= 3; ++i)
    for (int j = 1; j <= 3; ++j)
      EXPECT_DOUBLE_EQ(p(i, j), 2.0 * v[i - 1][0] * v[j - 1][0] + 0.5 * v[i - 1][1] * v[j - 1][1]);
}

TEST(FormatDetection, ByContent) {
  EXPECT_EQ(mv::detectFormat("[Molden Format]\n[Atoms] AU\n"), mv::FileFormat::Molden);
  EXPECT_EQ(mv::detectFormat("\xEF\xBB\xBF\n  \t[MOLDEN FORMAT]  \r\n"), mv::FileFormat::Molden);
  EXPECT_EQ(mv::detectFormat("Title\nSP  RHF  STO-3G\nNumber of atoms  I  3\n"),
            mv::FileFormat::Fchk);
  EXPECT_EQ(mv::detectFormat("title [Molden Format]\n"), mv::FileFormat::Fchk);
  // UTF-16 text, with or without its byte-order mark, is named as such.
  std::string utf16;
  for (const char c : std::string("Title\nSP  RHF  STO-3G\n")) utf16 += std::string{c, '\0'};
  for (const std::string& text : {utf16, "\xFF\xFE" + utf16}) {
    try {
      mv::detectFormat(text);
      ADD_FAILURE() << "accepted UTF-16";
    } catch (const mv::Stop& s) {
      EXPECT_NE(s.message().find("text in UTF-16, not in ASCII or UTF-8"), std::string::npos)
          << s.message();
    }
  }
  for (const std::string& bad : {std::string(), std::string("\n \n"), std::string("%PDF-1.5\n"),
                                 std::string("ab\0cd", 5), std::string(200, '\x01')}) {
    try {
      mv::detectFormat(bad);
      ADD_FAILURE() << "accepted " << bad.size() << " bytes";
    } catch (const mv::Stop& s) {
      EXPECT_NE(s.message().find(mv::kWhatIsRead), std::string::npos);
    }
  }
}

}  // namespace
