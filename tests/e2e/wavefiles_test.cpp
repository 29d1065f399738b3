// .wfn, .wfx and .mwfn files from end to end: the bundled twins (the psi4
// fixtures written as all three) and the shared collection (MIRVANTE_WFX)
// against the numbers of FILE.ref.json, the command line's answers to
// --lowdin, --density, compressed copies and standard input, and damaged
// files refused with their line.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <nlohmann/json.hpp>
#include <sstream>
#include <string>
#include <vector>

#include "app/pipeline.h"
#include "checkpoint/detect.h"
#include "core/stop.h"
#include "support/testutil.h"

namespace {

using mvtest::dataPath;
using mvtest::readFile;
using nlohmann::json;
namespace fs = std::filesystem;

std::vector<std::string> waveFiles(const std::string& dir) {
  std::vector<std::string> files;
  for (const char* ext : {".wfn", ".wfx", ".mwfn"})
    for (const std::string& f : mvtest::listFiles(dir, ext)) files.push_back(f);
  return files;
}

// Charges, bond orders, valences and spin populations of a file within
// `tol` of FILE.ref.json; atomic numbers, nuclear charges and the electrons
// in the orbitals exactly.
void checkAgainstReference(const std::string& path, double tol) {
  SCOPED_TRACE(path);
  const json ref = json::parse(readFile(path + ".ref.json"));
  const std::string bytes = readFile(path);
  mv::RunResults r;
  mv::RunOptions o;
  o.limits = mv::Limits::commandLine();
  try {
    mv::analyseWaveFile(bytes, path, mv::detectFormat(bytes), o, r, nullptr);
  } catch (const mv::Stop& s) {
    FAIL() << "refused: " << s.message();
  }
  ASSERT_TRUE(r.complete);
  EXPECT_EQ(mv::formatName(r.ck.format), ref["format"].get<std::string>());
  EXPECT_EQ(r.ck.electrons, ref["electrons"].get<int>());
  const int nat = r.ck.natoms;
  ASSERT_EQ(nat, static_cast<int>(ref["charges"].size()));
  const mv::BondOrders& b = r.bonds;
  double d = 0.0;
  for (int i = 1; i <= nat; ++i) {
    const auto k = static_cast<std::size_t>(i - 1);
    EXPECT_EQ(r.ck.atomicNumber(i), ref["atomic_numbers"][k].get<int>());
    EXPECT_EQ(r.ck.nuclearCharge(i), ref["nuclear_charges"][k].get<double>());
    d = std::max(d, std::fabs(r.ck.nuclearCharge(i) - r.populations.qat(i) -
                              ref["charges"][k].get<double>()));
    d = std::max(d, std::fabs(b.total(i) - ref["valences"]["total"][k].get<double>()));
    d = std::max(d, std::fabs(b.used(i) - ref["valences"]["bonded"][k].get<double>()));
    d = std::max(d, std::fabs(b.free(i) - ref["valences"]["free"][k].get<double>()));
    for (int c = 1; c <= nat; ++c)
      d = std::max(d,
                   std::fabs(b.bonds(i, c) -
                             ref["bond_orders"][k][static_cast<std::size_t>(c - 1)].get<double>()));
    if (ref["spin"].is_null()) continue;
    ASSERT_TRUE(r.spin.has_value());
    d = std::max(d, std::fabs(r.spin->atom(i) - ref["spin"][k].get<double>()));
  }
  EXPECT_EQ(r.spin.has_value(), !ref["spin"].is_null());
  EXPECT_LT(d, tol);
}

TEST(WaveFiles, BundledTwinsAgreeWithTheirReferences) {
  const std::vector<std::string> files = waveFiles(dataPath("wfx"));
  ASSERT_EQ(files.size(), 12u);
  for (const std::string& f : files) checkAgainstReference(f, 1e-5);
}

// The shared collection: the Gaussian twins and the public files of other
// writers, which are not kept with the tests.
TEST(WaveFiles, SharedCollectionAgreesWithItsReferences) {
  const char* e = std::getenv("MIRVANTE_WFX");
  if (e == nullptr || *e == '\0' || !fs::is_directory(e)) GTEST_SKIP() << "MIRVANTE_WFX is not set";
  const std::vector<std::string> files = waveFiles(e);
  ASSERT_GE(files.size(), 26u);
  for (const std::string& f : files) checkAgainstReference(f, 1e-5);
}

using Outcome = mvtest::RunResult;

Outcome run(const std::string& dir, const std::string& args, const std::string& in = "/dev/null") {
  return mvtest::runShell(mvtest::shellQuote(MV_PROGRAM) + " " + args, dir, in);
}

// --lowdin needs the contracted basis: refused on primitives with the reason
// and where to find that basis, computed on a .mwfn file; --density has one
// density to choose from; compressed copies and standard input are read as
// the plain files, and the JSON names the reader.
TEST(WaveFiles, CommandLineOptionsAndInputs) {
  const std::string dir = mvtest::makeTempDir("mvwave");
  for (const char* ext : {"wfn", "wfx", "mwfn"})
    fs::copy_file(dataPath(std::string("wfx/o2_uhf_631gs.") + ext), dir + "/o2_uhf_631gs." + ext);
  for (const char* f : {"o2_uhf_631gs.wfn", "o2_uhf_631gs.wfx"}) {
    const Outcome r = run(dir, std::string("--lowdin ") + f);
    EXPECT_EQ(r.status, 1) << f;
    EXPECT_NE(r.err.find("uncontracted primitives"), std::string::npos) << r.err;
    EXPECT_NE(r.err.find("a .mwfn, fchk or Molden file"), std::string::npos) << r.err;
  }
  const Outcome lowdin = run(dir, "--lowdin --json o2_uhf_631gs.mwfn");
  ASSERT_EQ(lowdin.status, 0) << lowdin.err;
  EXPECT_TRUE(json::parse(lowdin.out)["wiberg_lowdin"].is_array());

  const Outcome density = run(dir, "--density MP2 o2_uhf_631gs.wfx");
  EXPECT_EQ(density.status, 1);
  EXPECT_NE(density.err.find("holds one density"), std::string::npos) << density.err;

  ASSERT_EQ(mvtest::runShell("gzip -k o2_uhf_631gs.wfn && xz -k o2_uhf_631gs.mwfn", dir).status, 0);
  const Outcome plain = run(dir, "--json o2_uhf_631gs.wfn o2_uhf_631gs.wfx o2_uhf_631gs.mwfn");
  const Outcome packed =
      run(dir, "--json o2_uhf_631gs.wfn.gz - o2_uhf_631gs.mwfn.xz", dir + "/o2_uhf_631gs.wfx");
  ASSERT_EQ(plain.status, 0) << plain.err;
  ASSERT_EQ(packed.status, 0) << packed.err;
  const std::vector<std::string> a = mvtest::lines(plain.out), b = mvtest::lines(packed.out);
  ASSERT_EQ(a.size(), 3u);
  ASSERT_EQ(b.size(), 3u);
  const char* formats[] = {"wfn", "wfx", "mwfn"};
  for (std::size_t k = 0; k < 3; ++k) {
    json x = json::parse(a[k]), y = json::parse(b[k]);
    EXPECT_EQ(x["format"], formats[k]);
    EXPECT_EQ(x["spin"], "unrestricted");
    x.erase("file");
    y.erase("file");
    x.erase("title");
    y.erase("title");
    EXPECT_EQ(x, y) << formats[k];
  }
}

// A damage done to a bundled file: `find` replaced by `replace` (the first
// occurrence; an empty find cuts the file after `cutLines` lines).  The
// diagnostic names the line of `lineAt` (the last line when empty).
struct Damage {
  const char* file;
  const char* find;
  const char* replace;
  int cutLines;
  const char* lineAt;
  const char* message;
};

const Damage kDamages[] = {
    {"wfn", "36 PRIMITIVES", "37 PRIMITIVES", 0, "TYPE ASSIGNMENTS",
     "expected CENTRE ASSIGNMENTS for 37 primitives"},
    {"wfn", "  9 10  1", "  9 57  1", 0, "TYPE ASSIGNMENTS", "has type 57, outside 1..56"},
    {"wfn", "CHARGE =  6.0", "CHARGX =  6.0", 0, "CHARGX", "a centre line needs"},
    {"wfn", "0.53403070D+00", "0.534O3070D+00", 0, "0.534O3070D+00", "is not a number"},
    {"wfn", "5 MOL ORBITALS", "6 MOL ORBITALS", 0, "END DATA", "announces 6 orbitals and holds 5"},
    {"wfn", "OCC NO =    2.0000000", "OCC NO =    1.5000000", 0, "MO    1",
     "not a whole number of electrons"},
    {"wfn", "", "", 30, "", "the file ends before END DATA"},
    {"wfx", "</Primitive Types>", "</Primitive Typos>", 0, "</Primitive Typos>",
     "does not close <Primitive Types>"},
    {"wfx", "</Title>\n", "", 0, "<Title>", "<Title> is never closed"},
    {"wfx", " Alpha\n</Molecular", " Gamma\n</Molecular", 0, " Gamma",
     "must be Alpha and Beta, Alpha or Beta"},
    {"wfx", "     5\n</Number of Occupied", "     6\n</Number of Occupied", 0,
     "<Molecular Orbital Occupation Numbers>", "holds 5 values for 6 orbitals"},
    {"wfx", "                   3\n</Primitive Centers>",
     "                   4\n</Primitive Centers>", 0, "<Primitive Centers>",
     "is on centre 4, outside 1..3"},
    {"mwfn", "$Shell centers", "$Shell centres", 0, "", "no $Shell centers block"},
    {"mwfn", "  0  0  1  0  1  2", "  0  0  1  0  1  9", 0, "$Shell types", "has type 9"},
    {"mwfn", "Type= 1", "Type= 7", 0, "Type= 7", "Type= must be 0"},
    {"mwfn", "  0  0  1  0  1  2", "  0  0  1  0  1 -2", 0,
     "Nbasis=", "the shell types give 18 basis functions, Nbasis= 19"},
    {"mwfn", "Nbasis=          19", "Nbasis=          20", 0, "Index=         2",
     "'Index=' is not a number"},
};

int lineOf(const std::string& text, const std::string& what) {
  const std::size_t at = text.find(what);
  if (at == std::string::npos) return -1;
  return 1 + static_cast<int>(std::count(text.begin(), text.begin() + static_cast<long>(at), '\n'));
}

TEST(WaveFiles, DamagedFilesGetOneDiagnosticWithTheirLine) {
  const std::string dir = mvtest::makeTempDir("mvwavebad");
  for (const Damage& d : kDamages) {
    SCOPED_TRACE(std::string(d.file) + ": " + d.message);
    std::string bad = readFile(dataPath(std::string("wfx/ch2_rohf_631gs.") + d.file));
    ASSERT_FALSE(bad.empty());
    if (*d.find == '\0') {
      std::size_t at = 0;
      for (int k = 0; k < d.cutLines; ++k) at = bad.find('\n', at) + 1;
      bad.resize(at);
    } else {
      const std::size_t at = bad.find(d.find);
      ASSERT_NE(at, std::string::npos);
      bad = bad.substr(0, at) + d.replace + bad.substr(at + std::string(d.find).size());
    }
    const std::string name = std::string("bad.") + d.file;
    mvtest::writeFile(dir + "/" + name, bad);
    const int nlines = static_cast<int>(std::count(bad.begin(), bad.end(), '\n'));
    const int line = *d.lineAt == '\0' ? nlines : lineOf(bad, d.lineAt);
    const Outcome r = run(dir, "--json " + name);
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err.rfind("mirvante: " + name + ":" + std::to_string(line) + ": ", 0), 0u) << r.err;
    EXPECT_NE(r.err.find(d.message), std::string::npos) << r.err;
    EXPECT_EQ(std::count(r.err.begin(), r.err.end(), '\n'), 1) << r.err;
    EXPECT_EQ(json::parse(r.out)["format"], d.file);
  }
}

}  // namespace
