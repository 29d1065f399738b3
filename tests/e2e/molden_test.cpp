// Molden files from end to end: the bundled psi4 files against numbers
// computed independently from the same files, the shared collection of
// several writers (MIRVANTE_MOLDEN), the NH3 files of several writers, the
// command line on damaged files, and the refusal of what is neither an fchk
// nor a Molden file.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <nlohmann/json.hpp>
#include <sstream>
#include <string>
#include <vector>

#include "app/pipeline.h"
#include "checkpoint/text.h"
#include "core/stop.h"
#include "support/testutil.h"

namespace {

using mvtest::dataPath;
using mvtest::readFile;
using nlohmann::json;
namespace fs = std::filesystem;

struct Analysed {
  mv::RunResults r;
  std::string report;
};

Analysed analyseMolden(const std::string& path) {
  Analysed a;
  std::ostringstream out;
  mv::TextReport rep(out);
  mv::RunOptions o;
  o.limits = mv::Limits::commandLine();
  const std::string bytes = readFile(path);
  mv::analyseMolden(bytes, path, o, a.r, &rep);
  a.report = out.str();
  return a;
}

double maxDiff(const mv::Vec1<double>& got, const json& want) {
  double d = 0.0;
  for (int a = 1; a <= got.size(); ++a)
    d = std::max(d, std::fabs(got(a) - want.at(static_cast<std::size_t>(a - 1)).get<double>()));
  return d;
}

// Populations, bond orders, total, used and free valences and the unpaired
// electrons of a Molden file within `tol` of its reference (by default
// NAME.ref.json beside it).
void checkAgainstReference(const std::string& path, double tol, std::string refPath = "") {
  SCOPED_TRACE(path);
  if (refPath.empty()) refPath = path + ".ref.json";
  const json ref = json::parse(readFile(refPath));
  Analysed a;
  try {
    a = analyseMolden(path);
  } catch (const mv::Stop& s) {
    FAIL() << "refused: " << s.message();
  }
  ASSERT_TRUE(a.r.complete);
  const mv::BondOrders& b = a.r.bonds;
  const int nat = b.total.size();
  ASSERT_EQ(nat, static_cast<int>(ref["atnums"].size()));
  for (int i = 1; i <= nat; ++i) {
    EXPECT_EQ(a.r.ck.atomicNumber(i), ref["atnums"][i - 1].get<int>());
    EXPECT_EQ(a.r.ck.nuclearCharge(i), ref["nuclear_charges"][i - 1].get<double>());
  }
  EXPECT_LT(maxDiff(a.r.populations.qat, ref["mulliken"]), tol);
  double d = 0.0;
  for (int i = 1; i <= nat; ++i)
    for (int k = 1; k <= nat; ++k)
      d = std::max(d, std::fabs(b.bonds(i, k) - ref["bond_orders"][i - 1][k - 1].get<double>()));
  EXPECT_LT(d, tol);
  EXPECT_LT(maxDiff(b.total, ref["total_valence"]), tol);
  EXPECT_LT(maxDiff(b.used, ref["valence_used_in_bonds"]), tol);
  EXPECT_LT(maxDiff(b.free, ref["free_valence"]), tol);
  EXPECT_NEAR(b.unpaired, ref["unpaired_electrons"].get<double>(), tol);
  EXPECT_EQ(b.spinTerm, ref["kind"].get<std::string>() == "unrestricted");
  EXPECT_LE(a.r.convention.deviation, mv::kOrthonormalityTolerance);
}

std::string moldenDir() {
  const char* e = std::getenv("MIRVANTE_MOLDEN");
  if (e == nullptr || *e == '\0' || !fs::is_directory(e)) return "";
  return e;
}

// The psi4 1.3.2 files of this project: a closed shell with pure d (and
// contractions psi4 does not normalise), a spin-unrestricted cation with
// Cartesian d, natural orbitals of a relaxed MP2 density.
const char* const kPsi4Pairs[] = {"glycine_rhf_ccpvdz", "ethanol_cation_uhf_631gs",
                                  "pyridine_mp2_no_ccpvdz"};

TEST(Molden, BundledFilesAgreeWithTheirReferences) {
  for (const std::string name : kPsi4Pairs)
    checkAgainstReference(dataPath("molden/" + name + ".molden"), 1e-6,
                          dataPath(name + ".molden.ref.json"));
}

// The same wave functions written by psi4 as fchk files: the same
// populations, bond orders and valences (the fchk stores the density with
// nine significant digits).
TEST(Molden, FchkTwinsGiveTheSameAnalysis) {
  for (const std::string name : kPsi4Pairs) {
    SCOPED_TRACE(name);
    const Analysed m = analyseMolden(dataPath("molden/" + name + ".molden"));
    Analysed f;
    std::ostringstream out;
    mv::TextReport rep(out);
    mv::RunOptions o;
    o.limits = mv::Limits::commandLine();
    const std::string path = dataPath(name + ".fchk");
    mv::analyse(mv::CheckpointText::fromFile(path, path), o, f.r, &rep);
    ASSERT_TRUE(m.r.complete && f.r.complete);
    EXPECT_EQ(m.r.ck.natoms, f.r.ck.natoms);
    EXPECT_EQ(m.r.ck.nbf, f.r.ck.nbf);
    EXPECT_EQ(m.r.bonds.spinTerm, f.r.bonds.spinTerm);
    const mv::BondOrders& a = m.r.bonds;
    const mv::BondOrders& b = f.r.bonds;
    double d = 0.0;
    for (int i = 1; i <= m.r.ck.natoms; ++i) {
      d = std::max(d, std::fabs(m.r.populations.qat(i) - f.r.populations.qat(i)));
      d = std::max(d, std::fabs(a.total(i) - b.total(i)));
      d = std::max(d, std::fabs(a.used(i) - b.used(i)));
      d = std::max(d, std::fabs(a.free(i) - b.free(i)));
      for (int k = 1; k <= m.r.ck.natoms; ++k)
        d = std::max(d, std::fabs(a.bonds(i, k) - b.bonds(i, k)));
    }
    EXPECT_LT(d, 1e-6);
    EXPECT_NEAR(a.unpaired, b.unpaired, 1e-6);
  }
}

// Every file of the shared collection (the Molden files of several writers,
// which are not kept with the tests).
TEST(Molden, SharedCollectionAgreesWithItsReferences) {
  const std::string dir = moldenDir();
  if (dir.empty()) GTEST_SKIP() << "MIRVANTE_MOLDEN is not set";
  std::vector<std::string> files = mvtest::listFiles(dir, ".molden");
  for (const std::string& f : mvtest::listFiles(dir, ".molden.input")) files.push_back(f);
  ASSERT_GE(files.size(), 11u);
  for (const std::string& f : files) checkAgainstReference(f, 1e-4);
}

// One NH3 geometry written by several programs, each with its conventions:
// once they are undone, the same charges and the same first bond order.  The
// charges are those of the basis in pure functions (50 of them); the file
// with Cartesian d and f has a basis of its own, and only the bond order in
// common.
TEST(Molden, AmmoniaOfEveryWriterGivesTheSameCharges) {
  const std::string dir = moldenDir();
  if (dir.empty()) GTEST_SKIP() << "MIRVANTE_MOLDEN is not set";
  const double charges[] = {0.0380, -0.2743, 0.0121, 0.2242};
  int files = 0;
  for (const std::string& f : mvtest::listFiles(dir, ".molden")) {
    if (fs::path(f).filename().string().rfind("nh3_", 0) != 0) continue;
    SCOPED_TRACE(f);
    ++files;
    const Analysed a = analyseMolden(f);
    ASSERT_TRUE(a.r.complete);
    if (a.r.ck.nbf == 50) {
      for (int i = 1; i <= 4; ++i)
        EXPECT_NEAR(a.r.ck.nuclearCharge(i) - a.r.populations.qat(i), charges[i - 1], 3e-4);
    }
    EXPECT_NEAR(a.r.bonds.bonds(1, 2), 1.0888, 3e-4);
  }
  EXPECT_GE(files, 3);
}

using Outcome = mvtest::RunResult;

Outcome run(const std::string& dir, const std::string& args) {
  return mvtest::runShell(mvtest::shellQuote(MV_PROGRAM) + " " + args, dir);
}

// Line (1-based) of the first occurrence of `text` in `file`.
int lineOf(const std::string& file, const std::string& text) {
  const std::size_t at = file.find(text);
  if (at == std::string::npos) return -1;
  return 1 + static_cast<int>(std::count(file.begin(), file.begin() + static_cast<long>(at), '\n'));
}

// A damage done to the small water file: `find` replaced by `replace` (the
// first occurrence; an empty find cuts the file after `cutLines` lines).
// The diagnostic must name the line of `lineAt` in the damaged file (the
// last line when empty) and contain `message`.
struct Damage {
  const char* what;
  const char* find;
  const char* replace;
  int cutLines;
  const char* lineAt;
  const char* message;
};

const Damage kDamages[] = {
    {"truncated in a shell", "", "", 9, " s    3  1.00", "the shell announces 3 primitives"},
    {"truncated before the orbitals", "", "", 31, "", "without an [MO] section"},
    {"no basis section", "[GTO]", "[GTX]", 0, "", "without a [GTO] section"},
    {"no atoms section", "[Atoms] (AU)", "[Atomz] (AU)", 0, "", "without an [Atoms] section"},
    {"more primitives than lines", " s    3  1.00\n        5.03", " s    4  1.00\n        5.03", 0,
     " p    3", "'p' is not a number"},
    {"atom number beyond the atoms", "\n  3 0\n", "\n  4 0\n", 0, "  4 0", "atom number 4"},
    {"function number beyond the basis", "\n  1  9.94", "\n  9  9.94", 0, "\n  9  9.94",
     "function number 9 is outside 1..7"},
    {"atom line too short", "H    3    1 ", "H    3 ", 0, "H    3 ", "an atom needs"},
    {"atom listed twice", "H    3    1         0.000000000000      -1.43",
     "H    2    1         0.000000000000      -1.43", 0, "-1.43", "listed twice"},
    {"exponent not a number", "130.7093200000", "130.70932x", 0, "130.70932x", "is not a number"},
    {"exponent not finite", "130.7093200000", "NaN", 0, "NaN", "'NaN' is not finite"},
    {"coordinate not finite", "1.430522676972", "Infinity", 0, "Infinity", "is not finite"},
    {"negative exponent", "130.7093200000", "-130.7093200000", 0, "-130.7", "is not positive"},
    {"occupation not finite", "Occup=  2.00000000000000000e+00", "Occup=  inf", 0, "Occup=  inf",
     "is not finite"},
    {"occupations not whole", "Occup=  2.00000000000000000e+00", "Occup=  1.5", 0, "[MO]",
     "not a whole number of electrons"},
    {"unknown spin", "Spin= Alpha", "Spin= Gamma", 0, "Spin= Gamma", "Alpha or Beta"},
    {"orbitals not orthonormal", "  1  9.94", "  1  2.94", 0, "[MO]", "largest deviation"},
    {"unknown shell", " p    3  1.00", " spd    3  1.00", 0, " spd    3",
     "expected an atom number"},
    {"shell above h", " p    3  1.00", " i    3  1.00", 0, " i    3", "above h are not supported"},
};

TEST(Molden, DamagedFilesGetOneDiagnosticWithTheirLine) {
  const std::string good = readFile(dataPath("molden/h2o_sto3g.molden"));
  ASSERT_FALSE(good.empty());
  const std::string dir = mvtest::makeTempDir("mvmolden");
  for (const Damage& d : kDamages) {
    SCOPED_TRACE(d.what);
    std::string bad = good;
    if (*d.find == '\0') {
      std::size_t at = 0;
      for (int k = 0; k < d.cutLines; ++k) at = bad.find('\n', at) + 1;
      bad.resize(at);
    } else {
      const std::size_t at = bad.find(d.find);
      ASSERT_NE(at, std::string::npos);
      bad = bad.substr(0, at) + d.replace + bad.substr(at + std::string(d.find).size());
    }
    mvtest::writeFile(dir + "/bad.molden", bad);
    const int nlines = static_cast<int>(std::count(bad.begin(), bad.end(), '\n'));
    const int line = *d.lineAt == '\0' ? nlines : lineOf(bad, d.lineAt) + (d.lineAt[0] == '\n');
    for (const char* options : {"", "--json"}) {
      const Outcome r = run(dir, std::string(options) + " bad.molden");
      EXPECT_EQ(r.status, 1);
      const std::string prefix = "mirvante: bad.molden:" + std::to_string(line) + ": ";
      EXPECT_EQ(r.err.rfind(prefix, 0), 0u) << r.err;
      EXPECT_NE(r.err.find(d.message), std::string::npos) << r.err;
      EXPECT_EQ(std::count(r.err.begin(), r.err.end(), '\n'), 1) << r.err;
      if (*options != '\0') {
        const json j = json::parse(r.out);
        EXPECT_NE(j["status"], "ok");
        EXPECT_EQ(j["error"]["line"], line);
      }
    }
  }
}

// What the program does not read: one line that says what it reads, with
// nothing of the content echoed, and formchk named for binary data.
TEST(Molden, FilesOfNoKnownFormatAreRefusedInOneLine) {
  const std::string dir = mvtest::makeTempDir("mvformat");
  std::string binary("GAUSSIAN\0\0\0\x01\x02\x03\xff\xfe", 16);
  for (int k = 0; k < 200; ++k) binary += std::string("\0\x07\x80zz\x1b[2J", 9);
  struct Case {
    const char* name;
    std::string bytes;
    const char* says;
  } cases[] = {
      {"empty.fchk", "", "empty"},
      {"blank.fchk", "  \n\n \t\n", "only blanks"},
      {"paper.pdf", "%PDF-1.7\n%\xe2\xe3\xcf\xd3\n1 0 obj\n", "PDF document"},
      {"job.chk", binary, "formchk"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    mvtest::writeFile(dir + "/" + c.name, c.bytes);
    const Outcome r = run(dir, c.name);
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(std::count(r.err.begin(), r.err.end(), '\n'), 1) << r.err;
    EXPECT_NE(r.err.find("mirvante reads formatted checkpoint files (fchk), Molden files"),
              std::string::npos)
        << r.err;
    EXPECT_NE(r.err.find(c.says), std::string::npos) << r.err;
    for (const char ch : r.err + r.out)
      EXPECT_TRUE(ch == '\n' || (ch >= 0x20 && ch < 0x7f)) << "echoed byte " << int(ch);
    EXPECT_EQ(r.out.find("GAUSSIAN"), std::string::npos);
  }
}

// The content decides, not the name; a Molden file's report has the
// sections of an fchk file's, its title from [Title] or else the file name,
// and one record naming the convention.
TEST(Molden, RecognisedByContentWithTheReportOfAnFchkFile) {
  const std::string dir = mvtest::makeTempDir("mvcontent");
  std::string text = readFile(dataPath("molden/h2o_sto3g.molden"));
  mvtest::writeFile(dir + "/water.fchk", text);
  const Outcome plain = run(dir, "water.fchk");
  ASSERT_EQ(plain.status, 0) << plain.err;
  fs::copy_file(dataPath("h2o_rhf_sto3g.fchk"), dir + "/gaussian.fchk");
  const Outcome fchk = run(dir, "gaussian.fchk");
  for (const char* section :
       {"Mulliken populations", "Number of effectively unpaired electrons", "BOND ORDER MATRIX",
        "TOTAL VALENCES", "VALENCES USED IN BONDS", "FREE VALENCES",
        "Number of basis functions:", "ATOMIC PAIRS", "nocc:"}) {
    EXPECT_NE(plain.out.find(section), std::string::npos) << section;
    EXPECT_NE(fchk.out.find(section), std::string::npos) << section;
  }
  EXPECT_NE(plain.out.find("\nwater.fchk  "), std::string::npos);
  EXPECT_NE(plain.out.find("  Orbital convention: "), std::string::npos);

  const std::size_t second = text.find('\n') + 1;
  text = text.substr(0, second) + "[Title]\n  Water, minimal basis  \n" + text.substr(second);
  mvtest::writeFile(dir + "/water.txt", text);
  const Outcome titled = run(dir, "water.txt");
  EXPECT_NE(titled.out.find("\nWater, minimal basis    "), std::string::npos) << titled.out;
  const Outcome j = run(dir, "--json water.txt water.fchk");
  ASSERT_EQ(j.status, 0) << j.err;
  std::istringstream lines(j.out);
  std::string l1, l2;
  std::getline(lines, l1);
  std::getline(lines, l2);
  const json a = json::parse(l1), b = json::parse(l2);
  EXPECT_EQ(a["format"], "molden");
  EXPECT_EQ(a["title"], "Water, minimal basis");
  EXPECT_EQ(b["title"], "water.fchk");
  EXPECT_EQ(a["convention"], b["convention"]);
  EXPECT_TRUE(a["method"].is_null());
  EXPECT_EQ(a["atoms"], b["atoms"]);
}

}  // namespace
