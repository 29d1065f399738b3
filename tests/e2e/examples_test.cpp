// The bundled examples: the stored reports, error output and statuses are
// what the program gives, their numbers agree with independent values, and
// the script that compares them reports a difference.
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <ostream>
#include <string>
#include <vector>

#include "support/reportparse.h"
#include "support/testutil.h"

using mvtest::jsonNumbers;
using mvtest::parseReport;
using mvtest::readFile;

namespace fs = std::filesystem;

namespace {

std::string examplesDir() {
  return MV_EXAMPLES;
}

struct Example {
  const char* dir;
  const char* fixture;  // the same checkpoint file among the test data
  int status;
};

const Example kExamples[] = {
    {"water", "h2o_rhf_sto3g", 0},
    {"methylene-rohf", "ch2_rohf_631gs", 0},
    {"water-mp2", "h2o_mp2_ccpvdz", 0},
    {"oxygen-uhf", "o2_uhf_631gs", 1},
};

// The report with the value of the hermiticity check blanked out: that
// value is rounding noise, as in examples/run_all.sh.
std::string comparable(const std::string& report) {
  const std::string herm = "  Hermiticity control=";
  std::string out;
  for (const std::string& l : mvtest::lines(report))
    out += (l.rfind(herm, 0) == 0 ? herm + " (rounding noise)" : l) + "\n";
  return out;
}

// Name the example in test messages.
void PrintTo(const Example& e, std::ostream* os) {
  *os << e.dir;
}

class StoredExample : public ::testing::TestWithParam<Example> {};

TEST_P(StoredExample, ProgramGivesTheStoredResults) {
  const Example e = GetParam();
  const std::string dir = examplesDir() + "/" + e.dir;
  const std::string input = readFile(dir + "/Test.FChk");
  ASSERT_FALSE(input.empty()) << dir;
  EXPECT_EQ(input, readFile(mvtest::dataPath(std::string(e.fixture) + ".fchk")));
  EXPECT_EQ(readFile(dir + "/status.txt"), std::to_string(e.status) + "\n");

  auto run = mvtest::runProgram(input);
  EXPECT_EQ(run.status, e.status);
  const std::string stored = readFile(dir + "/report.txt");
  EXPECT_EQ(comparable(run.out), comparable(stored));
  EXPECT_EQ(run.err, readFile(dir + "/stderr.txt"));
}

INSTANTIATE_TEST_SUITE_P(Examples, StoredExample, ::testing::ValuesIn(kExamples),
                         [](const auto& info) {
                           std::string n = info.param.dir;
                           for (char& c : n)
                             if (c == '-') c = '_';
                           return n;
                         });

// Populations and, for the determinants, bond orders and valences used in
// bonds of the stored reports against psi4's numbers for the same files.
TEST(StoredExamples, AcceptedReportsAgreeWithReferenceNumbers) {
  for (const Example& e : kExamples) {
    if (e.status != 0) continue;
    SCOPED_TRACE(e.dir);
    const auto rep = parseReport(readFile(examplesDir() + "/" + e.dir + "/report.txt"));
    const std::string ref = readFile(mvtest::dataPath(std::string(e.fixture) + ".ref.json"));
    const auto gross = jsonNumbers(ref, "gross_populations");
    ASSERT_EQ(rep.populations.size(), gross.size());
    for (std::size_t a = 0; a < gross.size(); ++a) EXPECT_NEAR(rep.populations[a], gross[a], 1e-7);
    if (std::string(e.dir) == "water-mp2") continue;  // psi4 gives the P*S term only
    const auto bonds = jsonNumbers(ref, "bond_indices");
    ASSERT_EQ(rep.bonds.size(), bonds.size());
    for (std::size_t k = 0; k < bonds.size(); ++k) EXPECT_NEAR(rep.bonds[k], bonds[k], 5.0001e-5);
    const auto used = jsonNumbers(ref, "bonded_valences");
    ASSERT_EQ(rep.usedValence.size(), used.size());
    for (std::size_t a = 0; a < used.size(); ++a)
      EXPECT_NEAR(rep.usedValence[a], used[a], 5.0001e-6);
  }
}

// The correlated example against a separate calculation in which S comes
// from the orthonormality of the file's own orbitals, S = (C C^T)^-1, and R
// from a Jacobi diagonalisation: bond orders 0.996456 (O-H) and 0.007469
// (H-H), of which the P*S term gives 0.987649 and 0.007423.
TEST(StoredExamples, CorrelatedReportHasTheSecondTermAndFreeValences) {
  const auto rep = parseReport(readFile(examplesDir() + "/water-mp2/report.txt"));
  ASSERT_EQ(rep.natoms, 3);
  ASSERT_TRUE(rep.hasUnpaired);
  EXPECT_NEAR(rep.unpaired, 0.393867, 1.5e-6);
  ASSERT_EQ(rep.bonds.size(), 9u);
  EXPECT_NEAR(rep.bonds[1], 0.996456, 1e-4);
  EXPECT_NEAR(rep.bonds[2], 0.996456, 1e-4);
  EXPECT_NEAR(rep.bonds[5], 0.007469, 1e-4);
  const double total[] = {2.26859, 1.04536, 1.04536};
  const double freev[] = {0.27568, 0.04144, 0.04144};
  ASSERT_EQ(rep.freeValence.size(), 3u);
  ASSERT_EQ(rep.totalValence.size(), 3u);
  for (int a = 0; a < 3; ++a) {
    EXPECT_NEAR(rep.totalValence[a], total[a], 1.5e-5);
    EXPECT_NEAR(rep.freeValence[a], freev[a], 1.5e-5);
  }
}

// Run examples/run_all.sh on a copy of the examples; returns its exit status.
int runScript(const std::string& copy, std::string& out) {
  const std::string cmd = "bash '" + copy + "/run_all.sh' '" + MV_PROGRAM + "' >'" + copy +
                          "/script.out' 2>&1 </dev/null";
  const int rc = std::system(cmd.c_str());
  out = readFile(copy + "/script.out");
  return WIFEXITED(rc) ? WEXITSTATUS(rc) : 128;
}

TEST(ExamplesScript, PassesWhenAllAgreeAndNamesTheExampleThatDiffers) {
  const std::string copy = (fs::temp_directory_path() / "mv_examples_copy").string() +
                           std::to_string(static_cast<long>(::getpid()));
  fs::remove_all(copy);
  fs::copy(examplesDir(), copy, fs::copy_options::recursive);
  for (const auto& f : fs::recursive_directory_iterator(copy))
    fs::permissions(f.path(), fs::perms::owner_write, fs::perm_options::add);
  // A run by hand in examples/ leaves its scratch file there; the script must not.
  for (const Example& e : kExamples) fs::remove(copy + "/" + e.dir + "/Tmp");

  std::string out;
  EXPECT_EQ(runScript(copy, out), 0) << out;
  for (const Example& e : kExamples) {
    EXPECT_NE(out.find(std::string(e.dir) + " "), std::string::npos) << out;
    EXPECT_FALSE(fs::exists(copy + "/" + e.dir + "/Tmp")) << e.dir;
  }
  EXPECT_EQ(out.find("DIFFERS"), std::string::npos) << out;

  // One changed digit in a report, one changed status.
  std::string report = readFile(copy + "/water/report.txt");
  const std::size_t at = report.find("0.9541");
  ASSERT_NE(at, std::string::npos);
  report.replace(at, 6, "0.9542");
  mvtest::writeFile(copy + "/water/report.txt", report);
  mvtest::writeFile(copy + "/oxygen-uhf/status.txt", "0\n");
  // Another value of the hermiticity check alone is not a difference.
  std::string mp2 = readFile(copy + "/water-mp2/report.txt");
  const std::size_t h = mp2.find("  Hermiticity control=");
  ASSERT_NE(h, std::string::npos);
  mp2.replace(h, mp2.find('\n', h) - h, "  Hermiticity control=  2.5E-16");
  mvtest::writeFile(copy + "/water-mp2/report.txt", mp2);
  EXPECT_EQ(runScript(copy, out), 1) << out;
  EXPECT_NE(out.find("water            DIFFERS: report"), std::string::npos) << out;
  EXPECT_NE(out.find("oxygen-uhf       DIFFERS: status 1"), std::string::npos) << out;
  EXPECT_NE(out.find("water-mp2        ok"), std::string::npos) << out;
  fs::remove_all(copy);
}

}  // namespace
