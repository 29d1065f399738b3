// What the command line says when an option, a value or a file is wrong,
// and where it puts drawings: the built program run as users run it.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "app/batch.h"
#include "core/stop.h"
#include "support/testutil.h"

namespace fs = std::filesystem;
using mvtest::dataPath;
using mvtest::readFile;
using mvtest::writeFile;
using CliRun = mvtest::RunResult;
using mvtest::runArgs;

namespace {

TEST(CommandLineMessages, UsageErrorsNameTheOptionAndSayWhatIsAllowed) {
  const std::string cwd = mvtest::makeTempDir("mvmsg");
  const std::string h2 = dataPath("h2_rhf_sto3g.fchk");
  const struct {
    std::vector<std::string> args;
    std::string err;
  } cases[] = {
      {{"-x"},
       "mirvante: The following argument was not expected: -x\n"
       "Run 'mirvante --help' for the options.\n"},
      {{"--jsn", h2},
       "mirvante: The following argument was not expected: --jsn\n"
       "Run 'mirvante --help' for the options.\n"},
      {{"--json"}, "mirvante: no FILE given (the classic run takes no argument at all)\n"},
      {{"-j", "abc", h2},
       "mirvante: -j 'abc': the number of threads must be a whole number from 1 to 4096\n"},
      {{"--jobs", "0", h2},
       "mirvante: -j '0': the number of threads must be a whole number from 1 to 4096\n"},
      {{"-j", "2x", h2},
       "mirvante: -j '2x': the number of threads must be a whole number from 1 to 4096\n"},
      {{"--min-bond", "abc", h2},
       "mirvante: --min-bond 'abc': the smallest bond order must be a finite number\n"},
      {{"--min-bond", "inf", h2},
       "mirvante: --min-bond 'inf': the smallest bond order must be a finite number\n"},
      {{"--svg-labels", "some", h2}, "mirvante: --svg-labels 'some': give none, bonds or all\n"},
      {{"--svg", "h2.PNG", h2},
       "mirvante: --svg 'h2.PNG': the drawing is SVG, not png; give a name ending in .svg (and "
       "convert the picture afterwards), or a directory\n"},
  };
  for (const auto& c : cases) {
    const CliRun r = runArgs(c.args, cwd);
    EXPECT_EQ(r.status, 2) << c.args.front();
    EXPECT_EQ(r.out, "") << c.args.front();
    EXPECT_EQ(r.err, c.err) << c.args.front();
  }
  EXPECT_FALSE(fs::exists(cwd + "/h2.PNG"));
  fs::remove_all(cwd);
}

TEST(CommandLineMessages, FilesThatCannotBeOpenedGetADiagnosticAndNoReport) {
  const std::string cwd = mvtest::makeTempDir("mvmsg");
  const std::string h2 = dataPath("h2_rhf_sto3g.fchk");
  fs::create_directory(cwd + "/adir");
  // Three lines: read, and refused as no checkpoint file.
  writeFile(cwd + "/short.fchk",
            "water\nSP        RHF                                                         STO-3G\n"
            "Number of atoms                            I                3\n");
  const std::string h2Report = runArgs({h2}, cwd).out;

  // Alone: nothing on standard output.
  for (const char* file : {"missing.fchk", "adir"}) {
    const CliRun r = runArgs({file}, cwd);
    EXPECT_EQ(r.status, 1) << file;
    EXPECT_EQ(r.out, "") << file;
  }
  // Among others: no header, no banner, and one empty line between the
  // reports that are there.
  const CliRun r = runArgs({"missing.fchk", h2, "adir", "short.fchk", h2}, cwd);
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.err,
            "mirvante: missing.fchk: cannot open: No such file or directory\n"
            "mirvante: adir: cannot read: Is a directory\n"
            "mirvante: short.fchk: the file has 3 lines: it is no formatted checkpoint file "
            "(stop 9999)\n");
  const std::string header = "==> " + h2 + " <==\n";
  const std::size_t shortAt = r.out.find("==> short.fchk <==\n");
  ASSERT_NE(shortAt, std::string::npos);
  EXPECT_EQ(r.out.substr(0, shortAt), header + h2Report + "\n");
  // The short file is opened: its report shows the banner and the refusal.
  EXPECT_NE(r.out.find(" short.fchk has 3 lines: it is no formatted checkpoint file. STOP\n"),
            std::string::npos);
  EXPECT_TRUE(r.out.ends_with("\n" + header + h2Report)) << r.out;

  // JSON: the same messages, without the STOP of the report.
  const CliRun j = runArgs({"--json", "short.fchk"}, cwd);
  EXPECT_NE(j.out.find("\"message\":\"the file has 3 lines: it is no formatted checkpoint file\""),
            std::string::npos)
      << j.out;
  fs::remove_all(cwd);
}

TEST(CommandLineMessages, StopDiagnosticsDropTheClosingStop) {
  const struct {
    std::vector<std::string> records;
    std::string diagnostic;
  } cases[] = {
      {{" The overlap matrix holds an element: out of range. STOP"},
       "The overlap matrix holds an element: out of range."},
      {{"   TOO MANY ATOMS, STOP"}, "TOO MANY ATOMS"},
      {{" Unknown orbital type - STOP"}, "Unknown orbital type"},
      {{" *** ", "  12.5", " WRONG DENSITY.  STOP. "}, "***  12.5 WRONG DENSITY."},
      {{" NONSTOP"}, "NONSTOP"},
      {{" STOP"}, "STOP"},
  };
  for (const auto& c : cases) {
    mv::Stop s;
    s.records = c.records;
    EXPECT_EQ(s.diagnostic(), c.diagnostic) << c.records.back();
  }
}

TEST(CommandLineMessages, DrawingDirectoryForAnyNumberOfInputs) {
  const std::string cwd = mvtest::makeTempDir("mvmsg");
  const std::string h2 = dataPath("h2_rhf_sto3g.fchk");
  // A trailing slash: a directory, made when missing, even for one input.
  CliRun r = runArgs({"--svg", "pics/", h2}, cwd);
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_TRUE(fs::is_regular_file(cwd + "/pics/h2_rhf_sto3g.svg"));
  // An existing directory, without the slash.
  fs::create_directory(cwd + "/there");
  r = runArgs({"--svg", "there", h2}, cwd);
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_TRUE(fs::is_regular_file(cwd + "/there/h2_rhf_sto3g.svg"));
  // Otherwise the drawing itself.
  r = runArgs({"--svg", "one.svg", h2}, cwd);
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_TRUE(fs::is_regular_file(cwd + "/one.svg"));
  EXPECT_EQ(readFile(cwd + "/one.svg"), readFile(cwd + "/there/h2_rhf_sto3g.svg"));
  fs::remove_all(cwd);
}

TEST(CommandLineMessages, TimeLeftFollowsTheBytesDone) {
  // Nine small files of 1 kB done in 9 s, one of 1 MB left: the estimate
  // is the rate per byte times the bytes left, not one more file's time.
  EXPECT_DOUBLE_EQ(mv::secondsLeft(9.0, 9000, 9000 + 1000000), 1000.0);
  EXPECT_DOUBLE_EQ(mv::secondsLeft(4.0, 500, 1000), 4.0);
  EXPECT_DOUBLE_EQ(mv::secondsLeft(4.0, 1000, 1000), 0.0);
  EXPECT_LT(mv::secondsLeft(1.0, 0, 1000), 0.0);  // nothing done: no estimate
}

}  // namespace
