// Checkpoint files from other writers, and real files cut short, on the
// command line: what holds the data the analysis needs is analysed, and
// gives the numbers computed independently from the same wave function;
// the no-argument run refuses them as it always did.  Also the choice of
// the density (--density) and the JSON fields that describe the file.
#include <gtest/gtest.h>

#include <cmath>
#include <filesystem>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "support/testutil.h"

namespace fs = std::filesystem;
using mvtest::dataPath;
using mvtest::readFile;
using Json = nlohmann::json;

namespace {

using Outcome = mvtest::RunResult;

// The command line on one file with the given options.
Outcome mirvante(const std::string& options, const std::string& file) {
  return mvtest::runShell(
      mvtest::shellQuote(MV_PROGRAM) + " " + options + " " + mvtest::shellQuote(file),
      fs::current_path().string());
}

// The JSON object without the file name, for comparing two files.
Json withoutFile(const std::string& line) {
  Json j = Json::parse(line);
  j.erase("file");
  return j;
}

// The file without the named sections: each label line and the lines of
// numbers under it.
std::string withoutSections(const std::string& text, const std::vector<std::string>& labels) {
  std::string out;
  bool skipping = false;
  for (const std::string& l : mvtest::lines(text)) {
    const bool label = !l.empty() && std::isalpha(static_cast<unsigned char>(l[0]));
    if (label) {
      skipping = false;
      for (const std::string& s : labels) skipping = skipping || l.rfind(s, 0) == 0;
    }
    if (!skipping) out += l + "\n";
  }
  return out;
}

// The real value of a scalar section, read from its label line.
double scalarValue(const std::string& text, const std::string& label) {
  const std::size_t at = text.find("\n" + label + " ");
  EXPECT_NE(at, std::string::npos) << label;
  const std::size_t eol = text.find('\n', at + 1);
  return std::stod(text.substr(at + 50, eol - at - 50));
}

// psi4's own fchk files: complete for the analysis, but without "SCF
// Energy", "Highest angular momentum" in the classic sense of the no-argument
// run, and with the density under a label the classic count does not find.
TEST(OtherWriters, Psi4FilesAgreeWithTheirReference) {
  struct Case {
    std::string name, basis, density;
    int charge, multiplicity;
  };
  const std::vector<Case> cases = {
      {"glycine_rhf_ccpvdz", "CC-PVDZ", "Total SCF Density", 0, 1},
      {"ethanol_cation_uhf_631gs", "6-31G*", "Total SCF Density", 1, 2},
      {"pyridine_mp2_no_ccpvdz", "CC-PVDZ", "Total CC Density", 0, 1},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const std::string file = dataPath(c.name + ".fchk");
    const std::string text = readFile(file);
    const Outcome o = mirvante("--json", file);
    ASSERT_EQ(o.status, 0) << o.err;
    EXPECT_EQ(o.err, "");
    const Json j = Json::parse(o.out);
    EXPECT_EQ(j["format"], "fchk");
    EXPECT_EQ(j["basis"], c.basis);
    EXPECT_EQ(j["density"], c.density);
    EXPECT_EQ(j["charge"], c.charge);
    EXPECT_EQ(j["multiplicity"], c.multiplicity);
    EXPECT_EQ(j["energy"].get<double>(), scalarValue(text, "Total Energy"));
    // The numbers an independent program computed from the same wave
    // function (written as a Molden file).
    const Json ref = Json::parse(readFile(dataPath(c.name + ".molden.ref.json")));
    const int n = static_cast<int>(j["atoms"].size());
    ASSERT_EQ(n, static_cast<int>(ref["mulliken"].size()));
    for (int a = 0; a < n; ++a) {
      EXPECT_NEAR(j["atoms"][a]["population"].get<double>(), ref["mulliken"][a].get<double>(),
                  1e-6);
      EXPECT_NEAR(j["atoms"][a]["free_valence"].get<double>(), ref["free_valence"][a].get<double>(),
                  1e-6);
      EXPECT_NEAR(j["atoms"][a]["total_valence"].get<double>(),
                  ref["total_valence"][a].get<double>(), 1e-6);
      for (int b = 0; b < n; ++b)
        EXPECT_NEAR(j["bond_orders"][a][b].get<double>(), ref["bond_orders"][a][b].get<double>(),
                    1e-6);
    }
    EXPECT_NEAR(j["unpaired_electrons"].get<double>(), ref["unpaired_electrons"].get<double>(),
                1e-6);
    // The no-argument run stops where it always stopped: at "SCF Energy".
    const mvtest::RunResult classic = mvtest::runProgram(text);
    EXPECT_EQ(classic.status, 1);
    EXPECT_EQ(classic.err, "STOP 1000 statement executed\n");
    fs::remove_all(classic.dir);
  }
}

// Real files with sections cut out: each gives exactly the JSON of its copy
// made whole (completed/), whose added sections were derived from the same
// arrays; files without a basis are refused with the section named in full.
TEST(OtherWriters, AbridgedRealFilesGiveTheResultsOfTheirCompletedCopies) {
  const std::string dir = mvtest::extraDir();
  if (dir.empty()) GTEST_SKIP() << "MIRVANTE_EXTRA_FCHK not set";
  int compared = 0;
  for (const std::string& completed : mvtest::listFiles(dir + "/completed", ".fchk")) {
    const std::string stem = fs::path(completed).stem().string();
    const std::string abridged = dir + "/" + stem.substr(0, stem.size() - 10) + ".fchk";
    SCOPED_TRACE(abridged);
    ASSERT_TRUE(fs::exists(abridged));
    const Outcome a = mirvante("--json", abridged), c = mirvante("--json", completed);
    ASSERT_EQ(a.status, 0) << a.err;
    ASSERT_EQ(c.status, 0) << c.err;
    EXPECT_EQ(withoutFile(a.out), withoutFile(c.out));
    ++compared;
  }
  EXPECT_EQ(compared, 12);
  for (const std::string name : {"methanol_g16_opt", "methanol_g16_scan"}) {
    const std::string file = dir + "/" + name + ".fchk";
    const Outcome o = mirvante("", file);
    EXPECT_EQ(o.status, 1);
    EXPECT_EQ(o.err, "mirvante: " + file + ": no section 'Shell types' (stop 1000)\n");
  }
}

// --density KIND analyses "Total KIND Density": the numbers are those of the
// file from which every later density has been cut out, so that the chosen
// one is the last.  For a spin-unrestricted file its spin density goes with
// it.
TEST(OtherWriters, DensityChoiceGivesThatDensitysNumbers) {
  struct Case {
    std::string file;
    std::string kind;
    std::vector<std::string> cut;  // the sections after the chosen density
    bool spinDensity;              // the spin density of the file is used
  };
  std::vector<Case> cases = {
      {dataPath("h2o_mp2_ccpvdz.fchk"), "SCF", {"Total MP2 Density"}, false},
      {dataPath("c2h4_mp2_ccpvtz.fchk"), "scf", {"Total MP2 Density"}, false},
      {dataPath("pyridine_mp2_no_ccpvdz.fchk"), "SCF", {"Total CC Density"}, false},
  };
  if (const std::string dir = mvtest::extraDir(); !dir.empty()) {
    cases.push_back(
        {dir + "/nitrogen-mp2.fchk", "SCF", {"Total MP2 Density", "Spin MP2 Density"}, true});
    cases.push_back({dir + "/2h-azirine-cc.fchk", "SCF", {"Total CC Density"}, false});
  }
  const std::string tmp = mvtest::makeTempDir("mvdensity");
  for (const Case& c : cases) {
    SCOPED_TRACE(c.file);
    const Outcome chosen = mirvante("--json --density " + c.kind, c.file);
    ASSERT_EQ(chosen.status, 0) << chosen.err;
    const std::string cut = tmp + "/cut.fchk";
    mvtest::writeFile(cut, withoutSections(readFile(c.file), c.cut));
    const Outcome last = mirvante("--json", cut);
    ASSERT_EQ(last.status, 0) << last.err;
    const Json j = withoutFile(chosen.out);
    EXPECT_EQ(j, withoutFile(last.out));
    EXPECT_EQ(j["density"], "Total SCF Density");
    EXPECT_EQ(j["spin_density_used"], c.spinDensity);
    // The default stays the last density, with other numbers.
    const Json byDefault = withoutFile(mirvante("--json", c.file).out);
    EXPECT_EQ(byDefault["density"], c.cut.front());
    EXPECT_NE(byDefault["atoms"], j["atoms"]);
    // The text report says which of the densities it uses.
    const Outcome text = mirvante("--density " + c.kind, c.file);
    EXPECT_NE(text.out.find(" Using the  1-d/th density in the checkpoint file\n"),
              std::string::npos);
  }
  fs::remove_all(tmp);
  // A kind the file lacks is refused, with the kinds it has.
  const std::string file = dataPath("h2o_mp2_ccpvdz.fchk");
  const Outcome o = mirvante("--density CI", file);
  EXPECT_EQ(o.status, 1);
  EXPECT_EQ(o.err, "mirvante: " + file +
                       ": The checkpoint file holds no 'Total CI Density'; its total densities: "
                       "SCF, MP2 (stop 8500)\n");
  const Json j = Json::parse(mirvante("--json --density CI", file).out);
  EXPECT_EQ(j["status"], "refused");
  EXPECT_EQ(j["error"]["code"], "8500");
}

// A file with orbitals and no density: the density of the occupied
// orbitals (aufbau from nalpha and nbeta; alpha and beta orbitals when
// spin-unrestricted) gives the numbers of the file's own SCF density.  The
// no-argument run still refuses the file for want of a density.
TEST(OtherWriters, OrbitalsWithoutADensityGiveTheirDensity) {
  struct Case {
    std::string name;
    bool unrestricted;
  };
  const std::vector<Case> cases = {
      {"glycine_rhf_ccpvdz", false}, {"ethanol_cation_uhf_631gs", true}, {"ch3_uhf_631gs", true},
      {"ch2_rohf_631gs", false},     {"h2o_rhf_631gs_sp", false},
  };
  const std::string tmp = mvtest::makeTempDir("mvorbitals");
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const std::string text = readFile(dataPath(c.name + ".fchk"));
    const std::string cut = tmp + "/" + c.name + ".fchk";
    mvtest::writeFile(cut, withoutSections(text, {"Total SCF Density", "Spin SCF Density"}));
    const Outcome o = mirvante("--json", cut),
                  full = mirvante("--json", dataPath(c.name + ".fchk"));
    ASSERT_EQ(o.status, 0) << o.err;
    ASSERT_EQ(full.status, 0) << full.err;
    const Json j = Json::parse(o.out), f = Json::parse(full.out);
    EXPECT_EQ(j["density"], "Density of the occupied orbitals");
    EXPECT_EQ(j["spin_density_used"], c.unrestricted);
    const std::size_t n = f["atoms"].size();
    ASSERT_EQ(j["atoms"].size(), n);
    for (std::size_t a = 0; a < n; ++a) {
      EXPECT_NEAR(j["atoms"][a]["population"].get<double>(),
                  f["atoms"][a]["population"].get<double>(), 1e-6);
      EXPECT_NEAR(j["atoms"][a]["free_valence"].get<double>(),
                  f["atoms"][a]["free_valence"].get<double>(), 1e-6);
      for (std::size_t b = 0; b < n; ++b)
        EXPECT_NEAR(j["bond_orders"][a][b].get<double>(), f["bond_orders"][a][b].get<double>(),
                    1e-6);
    }
    const Outcome report = mirvante("", cut);
    EXPECT_NE(report.out.find(" The file holds no total density: the density of the occupied "
                              "orbitals is analysed\n"),
              std::string::npos);
  }
  // The no-argument run: no density, as before.
  const mvtest::RunResult classic = mvtest::runProgram(readFile(tmp + "/h2o_rhf_631gs_sp.fchk"));
  EXPECT_EQ(classic.status, 1);
  EXPECT_EQ(classic.err, "STOP 8500 statement executed\n");
  fs::remove_all(classic.dir);
  // Orbitals too few for the electrons are refused.
  std::string few = readFile(dataPath("h2_rhf_sto3g.fchk"));
  few =
      withoutSections(few, {"Total SCF Density", "Number of electrons", "Multiplicity", "Charge"});
  const std::size_t at = few.find("Number of alpha electrons");
  few.replace(few.find('\n', at) - 1, 1, "3");
  mvtest::writeFile(tmp + "/few.fchk", few);
  const Outcome o = mirvante("", tmp + "/few.fchk");
  EXPECT_EQ(o.status, 1);
  EXPECT_NE(o.err.find("The file has 2 orbitals, too few for 3 alpha and 1 beta electrons"),
            std::string::npos)
      << o.err;
  fs::remove_all(tmp);
}

}  // namespace
