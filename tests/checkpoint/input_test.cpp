// The checkpoint reader on hand-made files and on the fixtures.
#include "checkpoint/input.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <string>
#include <utility>
#include <vector>

#include "checkpoint/scratch.h"
#include "driver/report.h"
#include "driver/stop.h"
#include "support/fchktext.h"
#include "support/reportparse.h"
#include "support/testutil.h"
#include "tables.h"

using mv::g;
using mv::Item;

namespace {

using mvtest::fchkIntArray;
using mvtest::fchkIntScalar;
using mvtest::fchkRealArray;
using mvtest::fchkRealScalar;

// A small checkpoint file, hydrogen molecule in a minimal basis, kept as
// named sections that a test may replace, drop or reorder.
struct Fchk {
  std::string title = "hand-made H2";
  std::string method = "RHF";
  std::vector<std::pair<std::string, std::string>> sec;

  Fchk() {
    add("natom", fchkIntScalar("Number of atoms", 2));
    add("nelec", fchkIntScalar("Number of electrons", 2));
    add("nalpha", fchkIntScalar("Number of alpha electrons", 1));
    add("nbeta", fchkIntScalar("Number of beta electrons", 1));
    add("nbf", fchkIntScalar("Number of basis functions", 2));
    add("ia", fchkIntArray("Atomic numbers", {1, 1}));
    add("charge", fchkRealArray("Nuclear charges", {1.0, 1.0}));
    add("coord", fchkRealArray("Current cartesian coordinates", {0, 0, 0.7, 0, 0, -0.7}));
    add("nshell", fchkIntScalar("Number of contracted shells", 2));
    add("nprim", fchkIntScalar("Number of primitive shells", 6));
    add("hang", fchkIntScalar("Highest angular momentum", 0));
    add("degr", fchkIntScalar("Largest degree of contraction", 3));
    add("types", fchkIntArray("Shell types", {0, 0}));
    add("npps", fchkIntArray("Number of primitives per shell", {3, 3}));
    add("map", fchkIntArray("Shell to atom map", {1, 2}));
    add("exp", fchkRealArray("Primitive exponents", {3.42525091, 0.62391373, 0.1688554, 3.42525091,
                                                     0.62391373, 0.1688554}));
    add("coef", fchkRealArray("Contraction coefficients", {0.15432897, 0.53532814, 0.44463454,
                                                           0.15432897, 0.53532814, 0.44463454}));
    add("shco", fchkRealArray("Coordinates of each shell", {0, 0, 0.7, 0, 0, -0.7}));
    add("escf", fchkRealScalar("SCF Energy", -1.1167593073));
    add("etot", fchkRealScalar("Total Energy", -1.1167593073));
    add("mo", fchkRealArray("Alpha MO coefficients",
                            {0.548842275, 0.548842275, 1.21245192, -1.21245192}));
    add("dens", fchkRealArray("Total SCF Density", {0.602455686, 0.25, 0.602455686}));
  }
  void add(const std::string& name, const std::string& text) { sec.emplace_back(name, text); }
  std::string& operator[](const std::string& name) {
    for (auto& s : sec)
      if (s.first == name) return s.second;
    add(name, "");
    return sec.back().second;
  }
  void drop(const std::string& name) {
    for (auto it = sec.begin(); it != sec.end(); ++it)
      if (it->first == name) {
        sec.erase(it);
        return;
      }
  }
  std::string text() const {
    char line2[128];
    std::snprintf(line2, sizeof line2, "%-10s%-60s%s\n", "SP", method.c_str(), "STO-3G");
    std::string s = title + "\n" + line2;
    for (const auto& x : sec) s += x.second;
    return s;
  }
};

// Outcome of one in-process read.
struct Outcome {
  std::string out;
  std::string stop;  // stop code, "plain", "input error" or "" after a normal return
  std::string error;
};

Outcome read(const std::string& text) {
  mv::resetTables();
  mv::tmp.loadText(text);
  mvtest::Capture cap;
  Outcome o;
  try {
    mv::inputFromScratch();
  } catch (const mv::Stop& st) {
    o.stop = st.code.empty() ? "plain" : st.code;
  } catch (const mv::InputError& e) {
    o.stop = "input error";
    o.error = e.operation + ": " + e.error + " (" + e.file + ")";
  }
  o.out = cap.out.str();
  return o;
}

bool has(const std::string& out, const mv::Items& items) {
  return out.find(mv::formatFree(items)) != std::string::npos;
}

// A number from a fixture's .ref.json ("key": value at the top level).
double refNumber(const std::string& json, const std::string& key) {
  const std::vector<double> v = mvtest::jsonNumbers(json, key);
  return v.empty() ? NAN : v[0];
}

}  // namespace

// ---------------------------------------------------------------- hand-made files

TEST(Reader, PlainRhfFillsTheTables) {
  Fchk f;
  Outcome o = read(f.text());
  ASSERT_EQ(o.stop, "") << o.error << o.out;
  EXPECT_EQ(g.nat(1), 2);
  EXPECT_EQ(g.nat(2), 2);
  EXPECT_EQ(g.nat(4), 1);
  EXPECT_EQ(g.nat(5), 1);
  EXPECT_EQ(g.nat(6), 1);
  EXPECT_EQ(g.nat(7), 0);
  EXPECT_EQ(g.nelec, 2);
  EXPECT_EQ(g.nshell, 2);
  EXPECT_EQ(g.nprim, 6);
  EXPECT_EQ(g.plain, 1);
  EXPECT_NEAR(g.escf, -1.1167593073, 1e-12);
  EXPECT_EQ(g.ia(2), 1);
  EXPECT_NEAR(g.coord(3, 1), 0.7, 1e-15);
  EXPECT_NEAR(g.coord(3, 2), -0.7, 1e-15);
  EXPECT_NEAR(g.charge(2), 1.0, 1e-15);
  EXPECT_EQ(mv::raw.shatom(2), 2);
  EXPECT_EQ(mv::raw.shnprim(1), 3);
  EXPECT_NEAR(mv::raw.rawexp(6), 0.1688554, 1e-15);
  EXPECT_NEAR(mv::raw.rawcoef(2), 0.53532814, 1e-15);
  // MO coefficients orbital after orbital; the density triangle row by row.
  EXPECT_NEAR(g.c1(1, 2), 1.21245192, 1e-15);
  EXPECT_NEAR(g.c1(2, 2), -1.21245192, 1e-15);
  EXPECT_NEAR(g.c2(2, 1), 0.25, 1e-15);
  EXPECT_NEAR(g.c2(1, 2), 0.25, 1e-15);
  EXPECT_NEAR(g.c2(2, 2), 0.602455686, 1e-15);
  EXPECT_NEAR(g.opensh.a[1], 0.25, 1e-15);

  // The records, in order: title, three blanks, counts, energy.
  EXPECT_EQ(o.out.find("other than plain"), std::string::npos);
  EXPECT_EQ(o.out.find("Using the"), std::string::npos);
  std::string tail = mv::formatFree({Item(" ")}) +
                     mv::formatFree({Item("Number of primitive shells:"), Item(6)}) +
                     mv::formatFree({Item("nocc:"), Item(1), Item("    nalpha:"), Item(1),
                                     Item("    nbeta:"), Item(1)}) +
                     mv::formatFree({Item(" ")}) +
                     mv::formatFree({Item(" E(SCF)="), Item(g.escf)}) + mv::formatFree({Item(" ")});
  std::string title = f.title + std::string(80 - f.title.size(), ' ');
  EXPECT_EQ(o.out, title + "\n" + mv::formatFree({Item("   ")}) + tail);
}

TEST(Reader, SectionsInAnyOrderLongLinesAndCrlf) {
  Fchk f;
  // Reverse order, except that the total density must stay the last "Tota" line.
  std::reverse(f.sec.begin(), f.sec.end());
  std::string etot = f["etot"];
  f.drop("etot");
  f.sec.insert(f.sec.begin(), {"etot", etot});
  // Text beyond column 80 is never seen.
  f["coord"] = fchkRealArray("Current cartesian coordinates", {0, 0, 0.7, 0, 0}) +
               std::string(" -7.00000000E-01") + std::string(20, ' ') + "9.9\n";
  std::string text = f.text();
  std::string crlf;
  for (char c : text) crlf += c == '\n' ? std::string("\r\n") : std::string(1, c);
  for (const std::string& t : {text, crlf}) {
    Outcome o = read(t);
    ASSERT_EQ(o.stop, "") << o.error;
    EXPECT_EQ(g.nat(1), 2);
    EXPECT_NEAR(g.coord(3, 2), -0.7, 1e-15);
    EXPECT_NEAR(g.c2(2, 1), 0.25, 1e-15);
    EXPECT_NEAR(g.escf, -1.1167593073, 1e-12);
  }
}

TEST(Reader, ShortFilesAndMissingSections) {
  // Five lines: the file counts as missing.
  Outcome o = read("a\nSP        RHF\nc\nd\ne\n");
  EXPECT_EQ(o.stop, "9999");
  EXPECT_EQ(o.out, mv::formatFree({Item(" The required input file (Test.FChk) is missing. STOP")}));
  o = read("");
  EXPECT_EQ(o.stop, "9999");
  // Six lines: accepted by the copy, then the first section is missing.
  o = read("a\nSP        RHF\nc\nd\ne\nf\n");
  EXPECT_EQ(o.stop, "1000");
  EXPECT_EQ(mvtest::lines(o.out).size(), 2u);

  // The P(S=P) section is needed only when an SP shell exists.
  Fchk f;
  EXPECT_EQ(read(f.text()).stop, "");
  f["types"] = fchkIntArray("Shell types", {-1, 0});
  f["nbf"] = fchkIntScalar("Number of basis functions", 5);
  EXPECT_EQ(read(f.text()).stop, "1000");

  Fchk h;
  h.drop("shco");
  EXPECT_EQ(read(h.text()).stop, "1000");
}

TEST(Reader, MoSectionShortOrTruncated) {
  Fchk f;
  f["mo"] = fchkRealArray("Alpha MO coefficients", {0.5, 0.6, 0.7});
  Outcome o = read(f.text());
  ASSERT_EQ(o.stop, "") << o.error;
  EXPECT_NEAR(g.c1(1, 2), 0.7, 1e-15);
  EXPECT_EQ(g.c1(2, 2), 0.0);
  EXPECT_NEAR(g.c2(2, 2), 0.602455686, 1e-15);

  // The end of the file inside the coefficients is not tolerated.
  Fchk e;
  e.drop("dens");
  e["mo"] = fchkRealArray("Alpha MO coefficients", {0.5, 0.6, 0.7});
  o = read(e.text());
  EXPECT_EQ(o.stop, "input error");
  EXPECT_NE(o.error.find("Alpha MO coeffic"), std::string::npos) << o.error;
}

TEST(Reader, BadValuesAreInputErrors) {
  Fchk f;
  f["types"] = "Shell types                                I   N=           2\n   0   x\n";
  Outcome o = read(f.text());
  EXPECT_EQ(o.stop, "input error");
  EXPECT_NE(o.error.find("reading section 'Shell types ' of Tmp"), std::string::npos) << o.error;
  EXPECT_NE(o.error.find("'x' at line"), std::string::npos) << o.error;

  Fchk s;
  s["shco"] =
      "Coordinates of each shell                  R   N=           6\n"
      "  0.00000000E+00  0.00000000E+00  7.00000000E-01  0.00000000E+00****************\n"
      " -7.00000000E-01\n";
  EXPECT_EQ(read(s.text()).stop, "input error");

  // A density shorter than the triangle meets the next label.
  Fchk d;
  d["dens"] = fchkRealArray("Total SCF Density", {0.6, 0.25});
  d.add("spin", fchkRealArray("Spin SCF Density", {0.0, 0.0, 0.0}));
  o = read(d.text());
  EXPECT_EQ(o.stop, "input error");
  EXPECT_NE(o.error.find("Total SCF Density"), std::string::npos) << o.error;
}

TEST(Reader, LostExponentLetterInScalarsAndArrays) {
  Fchk f;
  f["escf"] = "SCF Energy                                 R        -1.234567890123456-101\n";
  f["mo"] =
      "Alpha MO coefficients                      R   N=           4\n"
      "  5.48842275E-01  5.48842275E-01  1.21245192+100 -1.21245192-100\n";
  Outcome o = read(f.text());
  ASSERT_EQ(o.stop, "") << o.error;
  EXPECT_DOUBLE_EQ(g.escf, -1.234567890123456e-101);
  EXPECT_DOUBLE_EQ(g.c1(1, 2), 1.21245192e100);
  EXPECT_DOUBLE_EQ(g.c1(2, 2), -1.21245192e-100);
}

TEST(Reader, KindOfCalculation) {
  Fchk f;
  f.method = "ROHF";
  f["nalpha"] = fchkIntScalar("Number of alpha electrons", 3);
  f["nbeta"] = fchkIntScalar("Number of beta electrons", 1);
  f["nelec"] = fchkIntScalar("Number of electrons", 5);
  Outcome o = read(f.text());
  ASSERT_EQ(o.stop, "") << o.error;
  EXPECT_EQ(g.plain, 0);
  EXPECT_EQ(g.nat(7), 0);
  EXPECT_EQ(g.nat(4), 2);  // an odd count loses the half
  std::string block = mv::formatLayout(
      "(/,/,10X,'The calculation was other than plain RHF/UHF ',/,/,' (In the DFT case the "
      "single determinant built up of',' the Kohn-Sham orbitals',/,' will be used.)',/,/)");
  std::size_t b = o.out.find(block);
  EXPECT_NE(b, std::string::npos);
  std::string single = mv::formatLayout(
      "(' There is only a single density in',' the checkpoint file - it is used.')");
  std::size_t sd = o.out.find(single);
  EXPECT_NE(sd, std::string::npos);
  EXPECT_LT(b, sd);
  EXPECT_NE(o.out.find(mv::formatLayout("(' (Only the SCF density ?)')")), std::string::npos);
  EXPECT_TRUE(has(
      o.out, {Item("nocc:"), Item(2), Item("    nalpha:"), Item(3), Item("    nbeta:"), Item(1)}));
  EXPECT_TRUE(has(o.out, {Item(" E(SCF/DFT)="), Item(g.escf)}));

  // "RHF" followed by more letters is not plain; no "Total SCF De" line, no SCF note.
  f.method = "RHFX";
  f["dens"] = fchkRealArray("Total CI Density", {0.6, 0.25, 0.6});
  o = read(f.text());
  ASSERT_EQ(o.stop, "") << o.error;
  EXPECT_EQ(g.plain, 0);
  EXPECT_NE(o.out.find(single), std::string::npos);
  EXPECT_EQ(o.out.find("Only the SCF"), std::string::npos);
}

TEST(Reader, UnrestrictedIsRefused) {
  for (const char* m : {"UHF", "UB3LYP"}) {
    Fchk f;
    f.method = m;
    f.add("beta", fchkRealArray("Beta MO coefficients", {1, 0, 0, 1}));
    Outcome o = read(f.text());
    EXPECT_EQ(o.stop, "7777") << m;
    EXPECT_EQ(g.nat(7), 1);
    std::string refusal =
        mv::formatFree({Item(" This program should not be used for UHF or"),
                        Item(" unrestricted DFT calculations!")}) +
        mv::formatFree(
            {Item(" (Use the original program TARSEL -- or DELKORA-2 -- "), Item("instead.)")}) +
        mv::formatFree({Item(" ")});
    EXPECT_EQ(o.out.substr(o.out.size() - refusal.size()), refusal) << m;
    EXPECT_EQ(o.out.find("Number of primitive shells:"), std::string::npos);
    f.drop("beta");
    EXPECT_EQ(read(f.text()).stop, "1000") << m;
  }
  Fchk u;
  u.method = "UHF";
  u.add("beta", fchkRealArray("Beta MO coefficients", {1, 0, 0, 1}));
  EXPECT_EQ(read(u.text()).out.find("other than plain"), std::string::npos);
}

TEST(Reader, DensitySelection) {
  Fchk f;
  f.add("mp2", fchkRealArray("Total MP2 Density", {0.59, 0.2, 0.61}));
  Outcome o = read(f.text());
  ASSERT_EQ(o.stop, "") << o.error;
  EXPECT_TRUE(
      has(o.out, {Item("Using the "), Item(2), Item("-d/th density in the checkpoint file")}));
  EXPECT_NEAR(g.c2(1, 1), 0.59, 1e-15);
  EXPECT_NEAR(g.c2(1, 2), 0.2, 1e-15);
  EXPECT_NEAR(g.c2(2, 2), 0.61, 1e-15);

  // No total density at all: only the total energy line begins "Tota".
  Fchk n;
  n.drop("dens");
  o = read(n.text());
  EXPECT_EQ(o.stop, mv::kCodeNoDensity);
  EXPECT_NE(o.out.find("no total density"), std::string::npos);
  // The last "Tota" line heads no list of numbers.
  Fchk t;
  t.add("totx", fchkIntScalar("Total something else", 3));
  t.add("tail", fchkIntScalar("Trailing label", 1));
  o = read(t.text());
  EXPECT_EQ(o.stop, mv::kCodeNoDensity);
}

TEST(Reader, CountsBeyondTheTablesAreRefused) {
  struct Case {
    const char* sec;
    const char* label;
    int value;
    const char* code;
  };
  const Case cases[] = {
      {"natom", "Number of atoms", 501, mv::kCodeLimit},
      {"nbf", "Number of basis functions", 612, mv::kCodeLimit},
      {"nshell", "Number of contracted shells", 501, mv::kCodeLimit},
      {"nprim", "Number of primitive shells", 2001, mv::kCodeLimit},
      {"natom", "Number of atoms", -1, mv::kCodeBadIndex},
      {"nprim", "Number of primitive shells", -6, mv::kCodeBadIndex},
      {"nelec", "Number of electrons", -2, mv::kCodeBadIndex},
  };
  for (const Case& c : cases) {
    Fchk f;
    f[c.sec] = fchkIntScalar(c.label, c.value);
    Outcome o = read(f.text());
    EXPECT_EQ(o.stop, c.code) << c.label;
    EXPECT_NE(o.out.find(std::string(c.label) + " " + std::to_string(c.value)), std::string::npos)
        << o.out;
  }
  // 21 atoms are read; the partition refuses them later.
  Fchk m;
  std::vector<int> z(21, 1);
  std::vector<double> q(21, 1.0), xyz(63, 0.5);
  m["natom"] = fchkIntScalar("Number of atoms", 21);
  m["ia"] = fchkIntArray("Atomic numbers", z);
  m["charge"] = fchkRealArray("Nuclear charges", q);
  m["coord"] = fchkRealArray("Current cartesian coordinates", xyz);
  Outcome o = read(m.text());
  EXPECT_NE(o.stop, mv::kCodeLimit);
  EXPECT_EQ(g.nat(1), 21);
  EXPECT_NEAR(g.coord(3, 21), 0.5, 1e-15);
}

TEST(Reader, NonFiniteAndNonPositiveValuesAreRefused) {
  struct Case {
    const char* sec;
    std::string text;
    const char* name;
  };
  const Case cases[] = {
      {"mo", fchkRealArray("Alpha MO coefficients", {0.5, NAN, 1.2, -1.2}),
       "Alpha MO coefficients"},
      {"dens", fchkRealArray("Total SCF Density", {0.6, INFINITY, 0.6}), "Total SCF Density"},
      {"escf", "SCF Energy                                 R      1.0E+999\n", "SCF Energy"},
      {"coord", fchkRealArray("Current cartesian coordinates", {0, 0, NAN, 0, 0, 1}),
       "Current cartesian coordinates"},
      {"coef", fchkRealArray("Contraction coefficients", {0.1, 0.5, 0.4, 0.1, 0.5, -INFINITY}),
       "Contraction coefficients"},
      {"exp", fchkRealArray("Primitive exponents", {3.4, 0.6, 0.17, 3.4, 0.0, 0.17}),
       "Primitive exponents"},
      {"exp", fchkRealArray("Primitive exponents", {3.4, 0.6, -0.17, 3.4, 0.6, 0.17}),
       "Primitive exponents"},
  };
  for (const Case& c : cases) {
    Fchk f;
    f[c.sec] = c.text;
    Outcome o = read(f.text());
    EXPECT_EQ(o.stop, mv::kCodeBadValue) << c.name << " " << o.error;
    EXPECT_NE(o.out.find(c.name), std::string::npos) << o.out;
  }
}

// ---------------------------------------------------------------- fixtures

namespace {

struct FixtureRead {
  Outcome o;
  std::string text;
  std::string ref;
};

FixtureRead readFixture(const std::string& name) {
  FixtureRead r;
  r.text = mvtest::readFile(mvtest::dataPath(name + ".fchk"));
  r.ref = mvtest::readFile(mvtest::dataPath(name + ".ref.json"));
  r.o = read(r.text);
  return r;
}

void expectCounts(const FixtureRead& r) {
  EXPECT_EQ(g.nat(1), static_cast<int>(refNumber(r.ref, "natom")));
  EXPECT_EQ(g.nat(2), static_cast<int>(refNumber(r.ref, "nbf")));
  EXPECT_EQ(g.nelec, static_cast<int>(refNumber(r.ref, "nelectrons")));
  EXPECT_EQ(g.nat(5), static_cast<int>(refNumber(r.ref, "nalpha")));
  EXPECT_EQ(g.nat(6), static_cast<int>(refNumber(r.ref, "nbeta")));
  EXPECT_NEAR(g.escf, refNumber(r.ref, "scf_energy"), 1e-9);
}

// The density in c2 against the triangle under `label` in the fixture text.
void expectDensity(const FixtureRead& r, const std::string& label) {
  int n = g.nat(2);
  std::vector<double> tri = mvtest::fchkArray(r.text, label, n * (n + 1) / 2);
  ASSERT_EQ(static_cast<int>(tri.size()), n * (n + 1) / 2);
  int k = 0;
  double asym = 0.0;
  for (int i = 1; i <= n; ++i)
    for (int j = 1; j <= i; ++j, ++k) {
      EXPECT_EQ(g.c2(i, j), tri[static_cast<std::size_t>(k)]);
      asym = std::max(asym, std::fabs(g.c2(i, j) - g.c2(j, i)));
    }
  EXPECT_EQ(asym, 0.0);
}

}  // namespace

TEST(ReaderFixtures, RhfSingleDensity) {
  FixtureRead r = readFixture("h2o_rhf_sto3g");
  ASSERT_EQ(r.o.stop, "") << r.o.error;
  expectCounts(r);
  expectDensity(r, "Total SCF Density");
  std::vector<double> mo = mvtest::fchkArray(r.text, "Alpha MO coefficients", 49);
  ASSERT_EQ(mo.size(), 49u);
  EXPECT_EQ(g.c1(1, 1), mo[0]);
  EXPECT_EQ(g.c1(3, 2), mo[9]);
  EXPECT_EQ(g.c1(7, 7), mo[48]);
  EXPECT_EQ(r.o.out.find("Using the"), std::string::npos);
  EXPECT_EQ(r.o.out.find("single density"), std::string::npos);
  EXPECT_TRUE(has(r.o.out, {Item("Number of primitive shells:"), Item(15)}));
}

TEST(ReaderFixtures, Mp2UsesTheSecondDensity) {
  FixtureRead r = readFixture("h2o_mp2_ccpvdz");
  ASSERT_EQ(r.o.stop, "") << r.o.error;
  expectCounts(r);
  expectDensity(r, "Total MP2 Density");
  EXPECT_TRUE(
      has(r.o.out, {Item("Using the "), Item(2), Item("-d/th density in the checkpoint file")}));
  EXPECT_EQ(r.o.out.find("single density"), std::string::npos);
}

TEST(ReaderFixtures, B3lypAndRohf) {
  FixtureRead r = readFixture("h2o_b3lyp_ccpvdz");
  ASSERT_EQ(r.o.stop, "") << r.o.error;
  expectCounts(r);
  EXPECT_NE(r.o.out.find("The calculation was other than plain RHF/UHF"), std::string::npos);
  EXPECT_NE(r.o.out.find(" (Only the SCF density ?)"), std::string::npos);
  EXPECT_TRUE(has(r.o.out, {Item(" E(SCF/DFT)="), Item(g.escf)}));

  r = readFixture("ch2_rohf_631gs");
  ASSERT_EQ(r.o.stop, "") << r.o.error;
  expectCounts(r);
  expectDensity(r, "Total SCF Density");
  EXPECT_EQ(g.nat(4), g.nelec / 2);
}

TEST(ReaderFixtures, UhfRefused) {
  FixtureRead r = readFixture("o2_uhf_631gs");
  EXPECT_EQ(r.o.stop, "7777");
  // Without its beta section the same file stops at the search.
  std::string text = r.text;
  std::size_t at = text.find("\nBeta MO coefficients");
  ASSERT_NE(at, std::string::npos);
  text[at + 1] = 'b';
  EXPECT_EQ(read(text).stop, "1000");
}

TEST(ReaderFixtures, LargeFileIsCopiedAndRead) {
  std::string path = mvtest::dataPath("c10h8_rhf_ccpvtz_cart.fchk");
  std::string ref = mvtest::readFile(mvtest::dataPath("c10h8_rhf_ccpvtz_cart.ref.json"));
  std::string dir = ::testing::TempDir();
  mv::resetTables();
  mvtest::Capture cap;
  int lines = mv::tmp.copyFrom(path, dir + "/mv_reader_Tmp");
  std::string stop;
  try {
    mv::inputFromScratch();
  } catch (const mv::Stop& st) {
    stop = st.code;
  }
  EXPECT_EQ(stop, "");
  EXPECT_GT(lines, 60000);
  EXPECT_EQ(g.nat(2), static_cast<int>(refNumber(ref, "nbf")));
  EXPECT_EQ(g.nat(1), static_cast<int>(refNumber(ref, "natom")));
  EXPECT_EQ(g.nprim, 324);
  std::remove((dir + "/mv_reader_Tmp").c_str());
}

TEST(ReaderFixtures, RealGaussianFiles) {
  std::string dir = mvtest::extraDir();
  if (dir.empty()) GTEST_SKIP() << "MIRVANTE_EXTRA_FCHK not set";
  struct Case {
    const char* file;
    const char* stop;
  };
  // Stops that the reader itself owns; files that pass the reader return
  // normally (the basis tables may stop them, which is checked elsewhere).
  const Case cases[] = {
      {"h_sto3g.fchk", "7777"},          {"hf_sto3g.fchk", "1000"},
      {"methanol_g16_opt.fchk", "1000"}, {"li_h_3-21G_hf_g09.fchk", "1000"},
      {"ch3_hf_sto3g.fchk", "1000"},     {"water_sto3g_hf_g03.fchk", ""},
      {"li2_g09_nbasis_indep.fchk", ""}, {"o2_cc_pvtz_pure.fchk", ""},
  };
  for (const Case& c : cases) {
    std::string text = mvtest::readFile(dir + "/" + c.file);
    ASSERT_FALSE(text.empty()) << c.file;
    Outcome o = read(text);
    EXPECT_EQ(o.stop, c.stop) << c.file << " " << o.error;
  }
  // li2: 37 orbitals stored for 38 functions; the last orbital stays zero.
  read(mvtest::readFile(dir + "/li2_g09_nbasis_indep.fchk"));
  EXPECT_EQ(g.nat(2), 38);
  double col38 = 0.0, col37 = 0.0;
  for (int i = 1; i <= 38; ++i) {
    col38 += std::fabs(g.c1(i, 38));
    col37 += std::fabs(g.c1(i, 37));
  }
  EXPECT_EQ(col38, 0.0);
  EXPECT_GT(col37, 0.0);
}
