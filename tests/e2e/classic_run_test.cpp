// The no-argument run in process (runClassic in a directory of its own) and
// as the built program: the same report, scratch copy and diagnostics, and
// the exact diagnostic of every error that ends it with status 2.
#include "app/classic_run.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <sstream>
#include <string>
#include <vector>

#include "core/stop.h"
#include "support/testutil.h"

namespace fs = std::filesystem;

namespace {

struct InProcess {
  int status = -1;
  std::string out, err;
};

InProcess runIn(const std::string& dir) {
  std::ostringstream out, err;
  InProcess r;
  r.status = mv::runClassic(out, err, dir);
  r.out = out.str();
  r.err = err.str();
  return r;
}

// The banner alone, as every report begins.
std::string banner() {
  const std::string dir = mvtest::makeTempDir("mvbanner");
  fs::create_directory(dir + "/Test.FChk");
  const std::string out = runIn(dir).out;
  fs::remove_all(dir);
  return out;
}

// Line number (1-based) of the first line of `text` that begins with `prefix`.
int lineOf(const std::string& text, const std::string& prefix) {
  const std::vector<std::string> ls = mvtest::lines(text);
  for (std::size_t k = 0; k < ls.size(); ++k)
    if (ls[k].rfind(prefix, 0) == 0) return static_cast<int>(k) + 1;
  return 0;
}

TEST(ClassicRun, InProcessRunEqualsTheProgram) {
  for (const char* name : {"h2o_rhf_sto3g", "o2_uhf_631gs", "ne_rhf_631gs"}) {
    SCOPED_TRACE(name);
    const std::string text = mvtest::readFile(mvtest::dataPath(std::string(name) + ".fchk"));
    const mvtest::RunResult prog = mvtest::runProgram(text);
    const std::string dir = mvtest::makeTempDir("mvclassic");
    mvtest::writeFile(dir + "/Test.FChk", text);
    const InProcess lib = runIn(dir);
    EXPECT_EQ(lib.status, prog.status);
    EXPECT_EQ(lib.out, prog.out);
    EXPECT_EQ(lib.err, prog.err);
    // The scratch copy: every line at 80 columns.
    const std::string tmp = mvtest::readFile(dir + "/Tmp");
    EXPECT_EQ(tmp, mvtest::readFile(prog.dir + "/Tmp"));
    EXPECT_EQ(tmp.size() % 81, 0u);
    EXPECT_EQ(tmp.size() / 81, mvtest::lines(text).size());
    fs::remove_all(dir);
    fs::remove_all(prog.dir);
  }
}

TEST(ClassicRun, MissingInputIsCreatedEmptyAndStops9999) {
  const std::string dir = mvtest::makeTempDir("mvclassic");
  const InProcess r = runIn(dir);
  EXPECT_EQ(r.status, mv::kStatusStopped);
  EXPECT_EQ(r.err, "STOP 9999 statement executed\n");
  EXPECT_EQ(r.out, banner() + "  The required input file (Test.FChk) is missing. STOP\n");
  EXPECT_TRUE(fs::exists(dir + "/Test.FChk"));
  EXPECT_EQ(fs::file_size(dir + "/Test.FChk"), 0u);
  EXPECT_TRUE(fs::exists(dir + "/Tmp"));
  EXPECT_EQ(fs::file_size(dir + "/Tmp"), 0u);
  fs::remove_all(dir);
}

TEST(ClassicRun, UnreadableInputIsAnInputError) {
  // A directory named Test.FChk opens but cannot be read (root reads any file).
  const std::string dir = mvtest::makeTempDir("mvclassic");
  fs::create_directory(dir + "/Test.FChk");
  const mvtest::RunResult r = mvtest::runProgramIn(dir);
  EXPECT_EQ(r.status, mv::kStatusInputError);
  EXPECT_EQ(r.err, "mirvante: Test.FChk: cannot read: Is a directory\n");
  EXPECT_EQ(r.out, banner());
  EXPECT_FALSE(fs::exists(dir + "/Tmp"));
  fs::remove_all(dir);
}

TEST(ClassicRun, UnwritableScratchCopyIsAnOutputError) {
  const std::string dir = mvtest::makeTempDir("mvclassic");
  mvtest::writeFile(dir + "/Test.FChk", mvtest::readFile(mvtest::dataPath("h2o_rhf_sto3g.fchk")));
  fs::create_directory(dir + "/Tmp");
  const mvtest::RunResult r = mvtest::runProgramIn(dir);
  EXPECT_EQ(r.status, mv::kStatusInputError);
  EXPECT_EQ(r.err, "mirvante: Tmp: cannot write: Is a directory\n");
  EXPECT_EQ(r.out, banner());
  fs::remove_all(dir);
}

TEST(ClassicRun, ReadErrorsNameFileLineAndSection) {
  const std::string text = mvtest::readFile(mvtest::dataPath("h2o_rhf_sto3g.fchk"));
  // The values of the nuclear charges removed: the next label is read.
  std::vector<std::string> ls = mvtest::lines(text);
  const int charges = lineOf(text, "Nuclear charges");
  ASSERT_GT(charges, 0);
  ls.erase(ls.begin() + charges);
  std::string noCharges;
  for (const auto& l : ls) noCharges += l + "\n";
  mvtest::RunResult r = mvtest::runProgram(noCharges);
  EXPECT_EQ(r.status, mv::kStatusInputError);
  EXPECT_EQ(r.err, "mirvante: Test.FChk:" + std::to_string(charges + 1) +
                       ": section 'Nuclear charges ': 'Current' is not a real number\n");
  // The report stops after the records before the error.
  EXPECT_EQ(mvtest::lines(r.out).back(), "    ");
  fs::remove_all(r.dir);

  // The file ends after ten of the 49 MO coefficients.
  const int mo = lineOf(text, "Alpha MO coefficients");
  ASSERT_GT(mo, 0);
  ls = mvtest::lines(text);
  std::string cut;
  for (int k = 0; k < mo + 2; ++k) cut += ls[static_cast<std::size_t>(k)] + "\n";
  r = mvtest::runProgram(cut);
  EXPECT_EQ(r.status, mv::kStatusInputError);
  EXPECT_EQ(r.err, "mirvante: Test.FChk:" + std::to_string(mo) +
                       ": section 'Alpha MO coeffic': end of file after 10 of 49 values\n");
  fs::remove_all(r.dir);
}

// Standard output on a full device, and closed.
mvtest::RunResult runWithStdout(const std::string& redirect) {
  const std::string dir = mvtest::makeTempDir("mvclassic");
  mvtest::writeFile(dir + "/Test.FChk", mvtest::readFile(mvtest::dataPath("h2o_rhf_sto3g.fchk")));
  const mvtest::RunResult r = mvtest::runProgramIn(dir, redirect);
  fs::remove_all(dir);
  return r;
}

const char* const kReportError = "mirvante: cannot write the report to standard output: ";

TEST(ClassicRun, ReportThatCannotBeWrittenIsAnOutputError) {
  for (const char* redirect : {">/dev/full", ">&-"}) {
    SCOPED_TRACE(redirect);
    const mvtest::RunResult r = runWithStdout(redirect);
    EXPECT_EQ(r.status, mv::kStatusInputError);
    // One line that says what failed.
    const std::string head = kReportError;
    EXPECT_EQ(r.err.rfind(head, 0), 0u) << r.err;
    EXPECT_GT(r.err.size(), head.size() + 1) << r.err;
    EXPECT_EQ(r.err.find('\n'), r.err.size() - 1) << r.err;
  }
}

// The diagnostic names the system's reason.
TEST(ClassicRun, ReportWriteErrorNamesTheSystemsReason) {
  EXPECT_EQ(runWithStdout(">/dev/full").err,
            std::string(kReportError) + "No space left on device\n");
  EXPECT_EQ(runWithStdout(">&-").err, std::string(kReportError) + "Bad file descriptor\n");
}

TEST(ClassicRun, DiagnosticLineShape) {
  EXPECT_EQ(mv::errorLine("Test.FChk", 14, "section 'Nuclear charges ': 'x' is not a real number"),
            "mirvante: Test.FChk:14: section 'Nuclear charges ': 'x' is not a real number");
  EXPECT_EQ(mv::errorLine("Test.FChk", 0, "cannot read: Is a directory"),
            "mirvante: Test.FChk: cannot read: Is a directory");
}

}  // namespace
