// The checkpoint reader on hand-made files and on the fixtures: the values
// it takes from the file, the records the report shows for them, and the
// refusals and input errors with their exact messages.
#include "checkpoint/reader.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <string>
#include <utility>
#include <vector>

#include "checkpoint/text.h"
#include "core/limits.h"
#include "core/stop.h"
#include "integrals/basis.h"
#include "report/format.h"
#include "report/text_report.h"
#include "support/fchktext.h"
#include "support/handmade.h"
#include "support/outcome.h"
#include "support/reportparse.h"
#include "support/testutil.h"

using mv::Item;

namespace {

using mvtest::fchkIntArray;
using mvtest::fchkIntScalar;
using mvtest::fchkRealArray;
using mvtest::fchkRealScalar;
using Fchk = mvtest::HandMadeH2;

const mv::Limits kClassic = mv::Limits::classicRun();

// One read of a checkpoint text as the no-argument run does it: the three
// steps of the reader and the expansion of the basis, each followed by the
// report records that belong to it.
struct Read {
  mvtest::StageOutcome o;
  mv::Checkpoint ck;
  mv::Basis basis;
  const std::string& out() const { return o.out; }
  // The stop code, "plain" for a plain stop, "input error", or "" after a
  // normal return.
  std::string stop() const {
    if (!o.stop) return "";
    if (o.inputError()) return "input error";
    return o.stop->code.empty() ? "plain" : o.stop->code;
  }
  std::string error() const { return o.stop ? o.stop->message() : ""; }
};

Read read(const mv::CheckpointText& t) {
  Read r;
  r.o = mvtest::runStage([&](mv::TextReport& report) {
    mv::CheckpointReader reader(t, kClassic, r.ck);
    reader.header();
    report.header(r.ck, false);
    reader.body();
    report.densitySelection(r.ck);
    reader.density();
    report.primitiveShells(r.ck);
    r.basis = mv::expandBasis(r.ck.shells, r.ck.natoms, r.ck.nbf, kClassic);
    report.occupation(r.ck);
  });
  return r;
}

Read read(const std::string& text) {
  return read(mv::CheckpointText::fromString(text, "Test.FChk"));
}

bool has(const std::string& out, const mv::Items& items) {
  return out.find(mv::formatFree(items)) != std::string::npos;
}

// Line number (1-based) of the first line of `text` that begins with
// `prefix`, or 0.
int lineOf(const std::string& text, const std::string& prefix) {
  const std::vector<std::string> ls = mvtest::lines(text);
  for (std::size_t k = 0; k < ls.size(); ++k)
    if (ls[k].rfind(prefix, 0) == 0) return static_cast<int>(k) + 1;
  return 0;
}

// A number from a fixture's .ref.json ("key": value at the top level).
double refNumber(const std::string& json, const std::string& key) {
  const std::vector<double> v = mvtest::jsonNumbers(json, key);
  return v.empty() ? NAN : v[0];
}

// The input error that a read must end in: file, line and message.
void expectInputError(const Read& r, int line, const std::string& message) {
  ASSERT_EQ(r.stop(), "input error") << r.out();
  EXPECT_EQ(r.o.stop->file, "Test.FChk");
  EXPECT_EQ(r.o.stop->line, line);
  EXPECT_EQ(r.o.stop->message(), message);
  EXPECT_TRUE(r.o.stop->records.empty());
}

// The refusal that a read must end in: its code and its one report record,
// which is also the last record of the report.
void expectRefusal(const Read& r, const std::string& code, const std::string& record) {
  ASSERT_EQ(r.stop(), code) << r.error();
  EXPECT_EQ(r.o.stop->records, std::vector<std::string>{record});
  const std::string last = mv::formatFree({Item(record)});
  ASSERT_GE(r.out().size(), last.size());
  EXPECT_EQ(r.out().substr(r.out().size() - last.size()), last);
}

}  // namespace

// ---------------------------------------------------------------- hand-made files

TEST(Reader, PlainRhfGivesTheValuesOfTheFile) {
  Fchk f;
  const std::string text = f.text();
  Read r = read(text);
  ASSERT_EQ(r.stop(), "") << r.error() << r.out();
  const mv::Checkpoint& ck = r.ck;
  EXPECT_EQ(ck.name, "Test.FChk");
  EXPECT_EQ(ck.natoms, 2);
  EXPECT_EQ(ck.nbf, 2);
  EXPECT_EQ(ck.nalpha, 1);
  EXPECT_EQ(ck.nbeta, 1);
  EXPECT_FALSE(ck.unrestricted());
  EXPECT_EQ(ck.electrons, 2);
  EXPECT_EQ(ck.shells.count, 2);
  EXPECT_EQ(ck.shells.primitives, 6);
  EXPECT_TRUE(ck.calc.plain);
  EXPECT_EQ(ck.calc.method, "RHF");
  EXPECT_NEAR(ck.escf, -1.1167593073, 1e-12);
  EXPECT_EQ(ck.atomicNumber(2), 1);
  EXPECT_NEAR(ck.coords(3, 1), 0.7, 1e-15);
  EXPECT_NEAR(ck.coords(3, 2), -0.7, 1e-15);
  EXPECT_NEAR(ck.nuclearCharge(2), 1.0, 1e-15);
  EXPECT_EQ(ck.shells.atom(2), 2);
  EXPECT_EQ(ck.shells.nprim(1), 3);
  EXPECT_NEAR(ck.shells.exponent(6), 0.1688554, 1e-15);
  EXPECT_NEAR(ck.shells.coefficient(2), 0.53532814, 1e-15);
  // MO coefficients orbital after orbital; the density triangle row by row.
  EXPECT_NEAR(ck.mo(1, 2), 1.21245192, 1e-15);
  EXPECT_NEAR(ck.mo(2, 2), -1.21245192, 1e-15);
  EXPECT_NEAR(ck.density(2, 1), 0.25, 1e-15);
  EXPECT_NEAR(ck.density(1, 2), 0.25, 1e-15);
  EXPECT_NEAR(ck.density(2, 2), 0.602455686, 1e-15);
  ASSERT_EQ(ck.packed.size(), 3u);
  EXPECT_NEAR(ck.packed[1], 0.25, 1e-15);
  EXPECT_EQ(ck.ndens, 1);
  EXPECT_EQ(ck.densityName(), "Total SCF Density");
  EXPECT_TRUE(ck.scfDensity());
  EXPECT_EQ(ck.densityLine, lineOf(text, "Total SCF Density"));
  EXPECT_FALSE(ck.rohfMarker);
  // Every section read, with the line of its label.
  EXPECT_EQ(ck.lineOf("Shell types "), lineOf(text, "Shell types"));
  EXPECT_EQ(ck.lineOf("Alpha MO coeffic"), lineOf(text, "Alpha MO coefficients"));
  EXPECT_EQ(ck.lineOf("Total SCF Density"), lineOf(text, "Total SCF Density"));
  EXPECT_EQ(ck.lineOf("P(S=P) Contracti"), 0);  // not needed without SP shells
  EXPECT_EQ(r.basis.nbf, 2);

  // The records, in order: title, three blanks, counts, energy.
  EXPECT_EQ(r.out().find("other than plain"), std::string::npos);
  EXPECT_EQ(r.out().find("Using the"), std::string::npos);
  std::string tail =
      mv::formatFree({Item(" ")}) + mv::formatFree({Item("Number of primitive shells:"), Item(6)}) +
      mv::formatFree(
          {Item("nocc:"), Item(1), Item("    nalpha:"), Item(1), Item("    nbeta:"), Item(1)}) +
      mv::formatFree({Item(" ")}) + mv::formatFree({Item(" E(SCF)="), Item(ck.escf)}) +
      mv::formatFree({Item(" ")});
  std::string title = f.title + std::string(80 - f.title.size(), ' ');
  EXPECT_EQ(r.out(), title + "\n" + mv::formatFree({Item("   ")}) + tail);
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
    Read r = read(t);
    ASSERT_EQ(r.stop(), "") << r.error();
    EXPECT_EQ(r.ck.natoms, 2);
    EXPECT_NEAR(r.ck.coords(3, 2), -0.7, 1e-15);
    EXPECT_NEAR(r.ck.density(2, 1), 0.25, 1e-15);
    EXPECT_NEAR(r.ck.escf, -1.1167593073, 1e-12);
  }
}

TEST(Reader, TheFirstMatchingLabelLineIsUsedAndCaseCounts) {
  Fchk f;
  // A later section whose label begins like "Number of atoms ".
  f.add("dup", fchkIntScalar("Number of atoms whatever follows", 9));
  Read r = read(f.text());
  ASSERT_EQ(r.stop(), "") << r.error();
  EXPECT_EQ(r.ck.natoms, 2);
  // An earlier one: it is the one read.
  Fchk g;
  g.sec.insert(g.sec.begin(), {"dup", fchkIntScalar("Number of atoms whatever follows", 9)});
  r = read(g.text());
  EXPECT_EQ(r.ck.natoms, 9);
  EXPECT_EQ(r.ck.lineOf("Number of atoms "), 3);

  // Case and blanks count in the comparison.
  Fchk h;
  h["natom"] = fchkIntScalar("number of atoms", 2);
  r = read(h.text());
  ASSERT_EQ(r.stop(), "1000");
  EXPECT_EQ(r.error(), "no section 'Number of atoms '");
  EXPECT_TRUE(r.o.stop->records.empty());
}

TEST(Reader, ShortFilesAndMissingSections) {
  // Five lines: the file counts as missing.
  Read r = read("a\nSP        RHF\nc\nd\ne\n");
  expectRefusal(r, "9999", " The required input file (Test.FChk) is missing. STOP");
  EXPECT_EQ(r.out(),
            mv::formatFree({Item(" The required input file (Test.FChk) is missing. STOP")}));
  r = read("");
  EXPECT_EQ(r.stop(), "9999");
  // Six lines: accepted, then the first section is missing.
  r = read("a\nSP        RHF\nc\nd\ne\nf\n");
  EXPECT_EQ(r.stop(), "1000");
  EXPECT_EQ(r.error(), "no section 'Number of atoms '");
  EXPECT_EQ(mvtest::lines(r.out()).size(), 2u);

  // The P(S=P) section is needed only when an SP shell exists.
  Fchk f;
  EXPECT_EQ(read(f.text()).stop(), "");
  f["types"] = fchkIntArray("Shell types", {-1, 0});
  f["nbf"] = fchkIntScalar("Number of basis functions", 5);
  r = read(f.text());
  EXPECT_EQ(r.stop(), "1000");
  EXPECT_EQ(r.error(), "no section 'P(S=P) Contracti'");

  // The alpha orbitals are required whatever the kind of calculation.
  Fchk m;
  m.drop("mo");
  r = read(m.text());
  EXPECT_EQ(r.stop(), "1000");
  EXPECT_EQ(r.error(), "no section 'Alpha MO coeffic'");

  Fchk h;
  h.drop("shco");
  r = read(h.text());
  EXPECT_EQ(r.stop(), "1000");
  EXPECT_EQ(r.error(), "no section 'Coordinates of e'");
}

TEST(Reader, MoSectionShortOrTruncated) {
  Fchk f;
  f["mo"] = fchkRealArray("Alpha MO coefficients", {0.5, 0.6, 0.7});
  Read r = read(f.text());
  ASSERT_EQ(r.stop(), "") << r.error();
  EXPECT_NEAR(r.ck.mo(1, 2), 0.7, 1e-15);
  EXPECT_EQ(r.ck.mo(2, 2), 0.0);
  EXPECT_NEAR(r.ck.density(2, 2), 0.602455686, 1e-15);

  // The end of the file inside the coefficients is not tolerated.
  Fchk e;
  e.drop("dens");
  e["mo"] = fchkRealArray("Alpha MO coefficients", {0.5, 0.6, 0.7});
  const std::string text = e.text();
  expectInputError(read(text), lineOf(text, "Alpha MO coefficients"),
                   "section 'Alpha MO coeffic': end of file after 3 of 4 values");
}

TEST(Reader, BadValuesAreInputErrorsNamingSectionAndLine) {
  Fchk f;
  f["types"] = "Shell types                                I   N=           2\n   0   x\n";
  std::string text = f.text();
  expectInputError(read(text), lineOf(text, "Shell types") + 1,
                   "section 'Shell types ': 'x' is not an integer");

  Fchk n;
  n["natom"] = "Number of atoms                            I              abc\n";
  text = n.text();
  expectInputError(read(text), lineOf(text, "Number of atoms"),
                   "section 'Number of atoms ': '   abc' is not an integer");

  Fchk e;
  e["escf"] = "SCF Energy                                 R     Current\n";
  text = e.text();
  expectInputError(
      read(text), lineOf(text, "SCF Energy"),
      // Columns 46 to 75 of the label line, as they stand.
      "section 'SCF Energy  ': '    Current" + std::string(19, ' ') + "' is not a real number");

  Fchk s;
  s["shco"] =
      "Coordinates of each shell                  R   N=           6\n"
      "  0.00000000E+00  0.00000000E+00  7.00000000E-01  0.00000000E+00****************\n"
      " -7.00000000E-01\n";
  text = s.text();
  expectInputError(read(text), lineOf(text, "Coordinates of each shell") + 1,
                   "section 'Coordinates of e': '****************' is not a real number");

  // The shell coordinates end with the file.
  Fchk c;
  c.drop("escf");
  c.drop("etot");
  c.drop("mo");
  c.drop("dens");
  c["shco"] = "Coordinates of each shell                  R   N=           6\n";
  c.sec.insert(c.sec.begin(), {"escf", fchkRealScalar("SCF Energy", -1.0)});
  c.sec.insert(c.sec.begin(), {"mo", fchkRealArray("Alpha MO coefficients", {1, 0, 0, 1})});
  text = c.text();
  expectInputError(read(text), lineOf(text, "Coordinates of each shell"),
                   "section 'Coordinates of e': end of file after 0 of 6 values");

  // The file ends inside the density triangle.
  Fchk t;
  t["dens"] = mvtest::fchkRealArrayLabel("Total SCF Density", 3) + "\n" +
              mvtest::fchkRealValues({0.6, 0.25});
  text = t.text();
  expectInputError(read(text), lineOf(text, "Total SCF Density"),
                   "section 'Total SCF Density': end of file after 2 of 3 values");

  // A density shorter than the triangle meets the next label.
  Fchk d;
  d["dens"] = fchkRealArray("Total SCF Density", {0.6, 0.25});
  d.add("spin", fchkRealArray("Spin SCF Density", {0.0, 0.0, 0.0}));
  text = d.text();
  expectInputError(read(text), lineOf(text, "Spin SCF Density"),
                   "section 'Total SCF Density': 'Spin' is not a real number");
  // The records before the error are there; the error adds none.
  EXPECT_NE(read(text).out().find("hand-made H2"), std::string::npos);
}

TEST(Reader, LostExponentLetterInScalarsAndArrays) {
  Fchk f;
  f["escf"] = "SCF Energy                                 R        -1.234567890123456-101\n";
  f["mo"] =
      "Alpha MO coefficients                      R   N=           4\n"
      "  5.48842275E-01  5.48842275E-01  1.21245192+100 -1.21245192-100\n";
  Read r = read(f.text());
  ASSERT_EQ(r.stop(), "") << r.error();
  EXPECT_DOUBLE_EQ(r.ck.escf, -1.234567890123456e-101);
  EXPECT_DOUBLE_EQ(r.ck.mo(1, 2), 1.21245192e100);
  EXPECT_DOUBLE_EQ(r.ck.mo(2, 2), -1.21245192e-100);
}

TEST(Reader, KindOfCalculation) {
  Fchk f;
  f.method = "ROHF";
  f["nalpha"] = fchkIntScalar("Number of alpha electrons", 3);
  f["nbeta"] = fchkIntScalar("Number of beta electrons", 1);
  f["nelec"] = fchkIntScalar("Number of electrons", 5);
  Read r = read(f.text());
  ASSERT_EQ(r.stop(), "") << r.error();
  EXPECT_FALSE(r.ck.calc.plain);
  EXPECT_FALSE(r.ck.unrestricted());
  EXPECT_TRUE(r.ck.rohfMarker);
  std::string block = mv::formatLayout(
      "(/,/,10X,'The calculation was other than plain RHF/UHF ',/,/,' (In the DFT case the "
      "single determinant built up of',' the Kohn-Sham orbitals',/,' will be used.)',/,/)");
  std::size_t b = r.out().find(block);
  EXPECT_NE(b, std::string::npos);
  std::string single = mv::formatLayout(
      "(' There is only a single density in',' the checkpoint file - it is used.')");
  std::size_t sd = r.out().find(single);
  EXPECT_NE(sd, std::string::npos);
  EXPECT_LT(b, sd);
  EXPECT_NE(r.out().find(mv::formatLayout("(' (Only the SCF density ?)')")), std::string::npos);
  // An odd electron count loses the half in nocc.
  EXPECT_TRUE(has(r.out(), {Item("nocc:"), Item(2), Item("    nalpha:"), Item(3),
                            Item("    nbeta:"), Item(1)}));
  EXPECT_TRUE(has(r.out(), {Item(" E(SCF/DFT)="), Item(r.ck.escf)}));

  // "RHF" followed by more letters is not plain; no "Total SCF De" line, no SCF note.
  f.method = "RHFX";
  f["dens"] = fchkRealArray("Total CI Density", {0.6, 0.25, 0.6});
  r = read(f.text());
  ASSERT_EQ(r.stop(), "") << r.error();
  EXPECT_FALSE(r.ck.calc.plain);
  EXPECT_FALSE(r.ck.rohfMarker);
  EXPECT_EQ(r.ck.densityName(), "Total CI Density");
  EXPECT_FALSE(r.ck.scfDensity());
  EXPECT_NE(r.out().find(single), std::string::npos);
  EXPECT_EQ(r.out().find("Only the SCF"), std::string::npos);
}

TEST(Reader, UnrestrictedIsRefused) {
  for (const char* m : {"UHF", "UB3LYP"}) {
    Fchk f;
    f.method = m;
    f.add("beta", fchkRealArray("Beta MO coefficients", {1, 0, 0, 1}));
    Read r = read(f.text());
    ASSERT_EQ(r.stop(), "7777") << m;
    EXPECT_TRUE(r.ck.calc.unrestrictedName);
    EXPECT_TRUE(r.ck.unrestricted());
    const std::vector<std::string> records = {
        " This program should not be used for UHF or unrestricted DFT calculations!",
        " (Use the original program TARSEL -- or DELKORA-2 -- instead.)", " "};
    EXPECT_EQ(r.o.stop->records, records);
    std::string refusal =
        mv::formatFree({Item(" This program should not be used for UHF or"),
                        Item(" unrestricted DFT calculations!")}) +
        mv::formatFree(
            {Item(" (Use the original program TARSEL -- or DELKORA-2 -- "), Item("instead.)")}) +
        mv::formatFree({Item(" ")});
    EXPECT_EQ(r.out().substr(r.out().size() - refusal.size()), refusal) << m;
    EXPECT_EQ(r.out().find("Number of primitive shells:"), std::string::npos);
    f.drop("beta");
    r = read(f.text());
    EXPECT_EQ(r.stop(), "1000") << m;
    EXPECT_EQ(r.error(), "no section 'Beta MO coeffici'");
  }
  Fchk u;
  u.method = "UHF";
  u.add("beta", fchkRealArray("Beta MO coefficients", {1, 0, 0, 1}));
  Read r = read(u.text());
  EXPECT_TRUE(r.ck.calc.plain);
  EXPECT_EQ(r.out().find("other than plain"), std::string::npos);

  // Without the classic limits the same file is read to the end, with its
  // spin density.
  u.add("spin", fchkRealArray("Spin SCF Density", {0.1, 0.0, -0.1}));
  mv::Checkpoint ck = mv::readCheckpoint(mv::CheckpointText::fromString(u.text(), "Test.FChk"),
                                         mv::Limits::commandLine());
  EXPECT_TRUE(ck.betaOrbitals);
  EXPECT_EQ(ck.spinLine, lineOf(u.text(), "Spin SCF Density"));
  EXPECT_EQ(ck.spin(2, 2), -0.1);
}

TEST(Reader, DensitySelection) {
  Fchk f;
  f.add("mp2", fchkRealArray("Total MP2 Density", {0.59, 0.2, 0.61}));
  Read r = read(f.text());
  ASSERT_EQ(r.stop(), "") << r.error();
  EXPECT_EQ(r.ck.ndens, 2);
  EXPECT_TRUE(
      has(r.out(), {Item("Using the "), Item(2), Item("-d/th density in the checkpoint file")}));
  EXPECT_NEAR(r.ck.density(1, 1), 0.59, 1e-15);
  EXPECT_NEAR(r.ck.density(1, 2), 0.2, 1e-15);
  EXPECT_NEAR(r.ck.density(2, 2), 0.61, 1e-15);

  // No total density at all: only the total energy line begins "Tota".
  Fchk n;
  n.drop("dens");
  expectRefusal(read(n.text()), mv::kCodeNoDensity,
                " The checkpoint file holds no total density matrix");
  // The last "Tota" line heads no list of numbers.
  Fchk t;
  t.add("totx", fchkIntScalar("Total something else", 3));
  t.add("tail", fchkIntScalar("Trailing label", 1));
  expectRefusal(read(t.text()), mv::kCodeNoDensity,
                " The checkpoint file holds no total density matrix");
}

TEST(Reader, CountsBeyondTheTablesAreRefused) {
  struct Case {
    const char* sec;
    const char* label;
    int value;
    const char* code;
    int limit;  // the table the count sizes (-1: none)
  };
  const Case cases[] = {
      {"natom", "Number of atoms", kClassic.atomsRead + 1, mv::kCodeLimit, kClassic.atomsRead},
      {"nbf", "Number of basis functions", kClassic.basisFunctions + 112, mv::kCodeLimit,
       kClassic.basisFunctions},
      {"nshell", "Number of contracted shells", kClassic.shells + 1, mv::kCodeLimit,
       kClassic.shells},
      {"nprim", "Number of primitive shells", kClassic.rawPrimitives + 1, mv::kCodeLimit,
       kClassic.rawPrimitives},
      {"natom", "Number of atoms", -1, mv::kCodeBadIndex, -1},
      {"nprim", "Number of primitive shells", -6, mv::kCodeBadIndex, -1},
      {"nelec", "Number of electrons", -2, mv::kCodeBadIndex, -1},
      {"nbeta", "Number of beta electrons", -1, mv::kCodeBadIndex, -1},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.label);
    Fchk f;
    f[c.sec] = fchkIntScalar(c.label, c.value);
    const std::string what = std::string(" ") + c.label + " " + std::to_string(c.value);
    expectRefusal(read(f.text()), c.code,
                  c.value < 0 ? what + " is negative"
                              : what + " exceeds the limit of " + std::to_string(c.limit));
  }
  // More atoms than the analysis accepts are read; the partition refuses them later.
  Fchk m;
  const int many = kClassic.atoms + 1;
  std::vector<int> z(static_cast<std::size_t>(many), 1);
  std::vector<double> q(static_cast<std::size_t>(many), 1.0), xyz(3 * z.size(), 0.5);
  m["natom"] = fchkIntScalar("Number of atoms", many);
  m["ia"] = fchkIntArray("Atomic numbers", z);
  m["charge"] = fchkRealArray("Nuclear charges", q);
  m["coord"] = fchkRealArray("Current cartesian coordinates", xyz);
  Read r = read(m.text());
  EXPECT_EQ(r.stop(), "") << r.error();
  EXPECT_EQ(r.ck.natoms, many);
  EXPECT_NEAR(r.ck.coords(3, many), 0.5, 1e-15);
}

TEST(Reader, NonFiniteAndNonPositiveValuesAreRefused) {
  struct Case {
    const char* sec;
    std::string text;
    std::string record;
  };
  const std::string nf = "' holds a value that is not a finite number: ";
  const Case cases[] = {
      {"mo", fchkRealArray("Alpha MO coefficients", {0.5, NAN, 1.2, -1.2}),
       " Section 'Alpha MO coefficients" + nf + "NaN"},
      {"dens", fchkRealArray("Total SCF Density", {0.6, INFINITY, 0.6}),
       " Section 'Total SCF Density" + nf + "Infinity"},
      {"escf", "SCF Energy                                 R      1.0E+999\n",
       " Section 'SCF Energy" + nf + "Infinity"},
      {"coord", fchkRealArray("Current cartesian coordinates", {0, 0, NAN, 0, 0, 1}),
       " Section 'Current cartesian coordinates" + nf + "NaN"},
      {"charge", fchkRealArray("Nuclear charges", {1.0, -INFINITY}),
       " Section 'Nuclear charges" + nf + "-Infinity"},
      {"coef", fchkRealArray("Contraction coefficients", {0.1, 0.5, 0.4, 0.1, 0.5, -INFINITY}),
       " Section 'Contraction coefficients" + nf + "-Infinity"},
      {"shco", fchkRealArray("Coordinates of each shell", {0, 0, 0.7, 0, 0, NAN}),
       " Section 'Coordinates of each shell" + nf + "NaN"},
      {"exp", fchkRealArray("Primitive exponents", {3.4, 0.6, 0.17, 3.4, 0.0, 0.17}),
       " Section 'Primitive exponents': exponent 5 is not positive: 0"},
      {"exp", fchkRealArray("Primitive exponents", {3.4, 0.6, -0.17, 3.4, 0.6, 0.17}),
       " Section 'Primitive exponents': exponent 3 is not positive: -0.17"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.record);
    Fchk f;
    f[c.sec] = c.text;
    expectRefusal(read(f.text()), mv::kCodeBadValue, c.record);
  }
}

// ---------------------------------------------------------------- fixtures

namespace {

struct FixtureRead {
  Read r;
  std::string text;
  std::string ref;
};

FixtureRead readFixture(const std::string& name) {
  FixtureRead f;
  f.text = mvtest::readFile(mvtest::dataPath(name + ".fchk"));
  f.ref = mvtest::readFile(mvtest::dataPath(name + ".ref.json"));
  f.r = read(f.text);
  return f;
}

void expectCounts(const FixtureRead& f) {
  const mv::Checkpoint& ck = f.r.ck;
  EXPECT_EQ(ck.natoms, static_cast<int>(refNumber(f.ref, "natom")));
  EXPECT_EQ(ck.nbf, static_cast<int>(refNumber(f.ref, "nbf")));
  EXPECT_EQ(ck.electrons, static_cast<int>(refNumber(f.ref, "nelectrons")));
  EXPECT_EQ(ck.nalpha, static_cast<int>(refNumber(f.ref, "nalpha")));
  EXPECT_EQ(ck.nbeta, static_cast<int>(refNumber(f.ref, "nbeta")));
  EXPECT_NEAR(ck.escf, refNumber(f.ref, "scf_energy"), 1e-9);
}

// The density read against the triangle under `label` in the fixture text.
void expectDensity(const FixtureRead& f, const std::string& label) {
  const mv::Checkpoint& ck = f.r.ck;
  const int n = ck.nbf;
  std::vector<double> tri = mvtest::fchkArray(f.text, label, n * (n + 1) / 2);
  ASSERT_EQ(static_cast<int>(tri.size()), n * (n + 1) / 2);
  EXPECT_EQ(ck.packed, tri);
  int k = 0;
  double asym = 0.0;
  for (int i = 1; i <= n; ++i)
    for (int j = 1; j <= i; ++j, ++k) {
      EXPECT_EQ(ck.density(i, j), tri[static_cast<std::size_t>(k)]);
      asym = std::max(asym, std::fabs(ck.density(i, j) - ck.density(j, i)));
    }
  EXPECT_EQ(asym, 0.0);
}

}  // namespace

TEST(ReaderFixtures, RhfSingleDensity) {
  FixtureRead f = readFixture("h2o_rhf_sto3g");
  ASSERT_EQ(f.r.stop(), "") << f.r.error();
  expectCounts(f);
  expectDensity(f, "Total SCF Density");
  std::vector<double> mo = mvtest::fchkArray(f.text, "Alpha MO coefficients", 49);
  ASSERT_EQ(mo.size(), 49u);
  EXPECT_EQ(f.r.ck.mo(1, 1), mo[0]);
  EXPECT_EQ(f.r.ck.mo(3, 2), mo[9]);
  EXPECT_EQ(f.r.ck.mo(7, 7), mo[48]);
  EXPECT_EQ(f.r.out().find("Using the"), std::string::npos);
  EXPECT_EQ(f.r.out().find("single density"), std::string::npos);
  EXPECT_TRUE(has(f.r.out(), {Item("Number of primitive shells:"), Item(15)}));
}

TEST(ReaderFixtures, Mp2UsesTheSecondDensity) {
  FixtureRead f = readFixture("h2o_mp2_ccpvdz");
  ASSERT_EQ(f.r.stop(), "") << f.r.error();
  expectCounts(f);
  expectDensity(f, "Total MP2 Density");
  EXPECT_TRUE(
      has(f.r.out(), {Item("Using the "), Item(2), Item("-d/th density in the checkpoint file")}));
  EXPECT_EQ(f.r.out().find("single density"), std::string::npos);
}

TEST(ReaderFixtures, B3lypAndRohf) {
  FixtureRead f = readFixture("h2o_b3lyp_ccpvdz");
  ASSERT_EQ(f.r.stop(), "") << f.r.error();
  expectCounts(f);
  EXPECT_NE(f.r.out().find("The calculation was other than plain RHF/UHF"), std::string::npos);
  EXPECT_NE(f.r.out().find(" (Only the SCF density ?)"), std::string::npos);
  EXPECT_TRUE(has(f.r.out(), {Item(" E(SCF/DFT)="), Item(f.r.ck.escf)}));

  f = readFixture("ch2_rohf_631gs");
  ASSERT_EQ(f.r.stop(), "") << f.r.error();
  expectCounts(f);
  expectDensity(f, "Total SCF Density");
  EXPECT_TRUE(f.r.ck.rohfMarker);
  EXPECT_TRUE(has(f.r.out(), {Item("nocc:"), Item(f.r.ck.electrons / 2), Item("    nalpha:"),
                              Item(f.r.ck.nalpha), Item("    nbeta:"), Item(f.r.ck.nbeta)}));
}

TEST(ReaderFixtures, UhfRefused) {
  FixtureRead f = readFixture("o2_uhf_631gs");
  EXPECT_EQ(f.r.stop(), "7777");
  // Without its beta section the same file stops at the search.
  std::string text = f.text;
  std::size_t at = text.find("\nBeta MO coefficients");
  ASSERT_NE(at, std::string::npos);
  text[at + 1] = 'b';
  EXPECT_EQ(read(text).stop(), "1000");
}

TEST(ReaderFixtures, LargeFileIsCopiedAndRead) {
  const std::string path = mvtest::dataPath("c10h8_rhf_ccpvtz_cart.fchk");
  const std::string ref = mvtest::readFile(mvtest::dataPath("c10h8_rhf_ccpvtz_cart.ref.json"));
  const std::string dir = mvtest::makeTempDir("mvreader");
  ASSERT_FALSE(dir.empty());
  const mv::CheckpointText t = mv::CheckpointText::fromFile(path, "Test.FChk");
  t.writeCopy(dir + "/Tmp");
  EXPECT_GT(t.lineCount(), 60000);
  EXPECT_EQ(mvtest::readFile(dir + "/Tmp").size(), static_cast<std::size_t>(t.lineCount()) * 81);
  Read r = read(t);
  EXPECT_EQ(r.stop(), "") << r.error();
  EXPECT_EQ(r.ck.nbf, static_cast<int>(refNumber(ref, "nbf")));
  EXPECT_EQ(r.ck.natoms, static_cast<int>(refNumber(ref, "natom")));
  EXPECT_EQ(r.ck.shells.primitives, 324);
  std::filesystem::remove_all(dir);
}

TEST(ReaderFixtures, RealGaussianFiles) {
  std::string dir = mvtest::extraDir();
  if (dir.empty()) GTEST_SKIP() << "MIRVANTE_EXTRA_FCHK not set";
  struct Case {
    const char* file;
    const char* stop;
  };
  // Stops of the reader and of the basis expansion; files that pass both
  // return normally (later stages are checked elsewhere).
  const Case cases[] = {
      {"h_sto3g.fchk", "7777"},          {"hf_sto3g.fchk", "1000"},
      {"methanol_g16_opt.fchk", "1000"}, {"li_h_3-21G_hf_g09.fchk", "1000"},
      {"ch3_hf_sto3g.fchk", "1000"},     {"water_sto3g_hf_g03.fchk", ""},
      {"li2_g09_nbasis_indep.fchk", ""}, {"o2_cc_pvtz_pure.fchk", ""},
  };
  for (const Case& c : cases) {
    std::string text = mvtest::readFile(dir + "/" + c.file);
    ASSERT_FALSE(text.empty()) << c.file;
    Read r = read(text);
    EXPECT_EQ(r.stop(), c.stop) << c.file << " " << r.error();
  }
  // li2: 37 orbitals stored for 38 functions; the last orbital stays zero.
  Read r = read(mvtest::readFile(dir + "/li2_g09_nbasis_indep.fchk"));
  ASSERT_EQ(r.ck.nbf, 38);
  double col38 = 0.0, col37 = 0.0;
  for (int i = 1; i <= 38; ++i) {
    col38 += std::fabs(r.ck.mo(i, 38));
    col37 += std::fabs(r.ck.mo(i, 37));
  }
  EXPECT_EQ(col38, 0.0);
  EXPECT_GT(col37, 0.0);
}
