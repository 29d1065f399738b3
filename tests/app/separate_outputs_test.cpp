// Outputs of different kinds that name one file are refused before any
// file is analysed, and standard input closed when the program started is
// not taken for an empty file.
#include <gtest/gtest.h>

#include <filesystem>
#include <set>
#include <string>
#include <vector>

#include "support/testutil.h"

namespace {

namespace fs = std::filesystem;

TEST(SeparateOutputs, TwoKindsOfOutputNamingOneFileAreRefused) {
  const std::string dir = mvtest::makeTempDir("mvapart");
  fs::copy_file(mvtest::dataPath("h2_rhf_sto3g.fchk"), dir + "/h2.fchk");
  fs::copy_file(mvtest::dataPath("h2o_rhf_sto3g.fchk"), dir + "/h2o.fchk");
  const struct {
    std::vector<std::string> args;
    std::string err;
  } cases[] = {
      {{"-o", "out", "--svg", "out/h2.txt", "h2.fchk"},
       "mirvante: the drawing of h2.fchk and the output of h2.fchk would both be out/h2.txt; "
       "give them different names\n"},
      {{"-o", "out", "--svg", "./out/../out/h2.json", "--json", "h2.fchk"},
       "mirvante: the drawing of h2.fchk and the output of h2.fchk would both be "
       "./out/../out/h2.json; give them different names\n"},
      {{"-o", "out", "--svg", "out", "h2.fchk"},
       "mirvante: the drawing of h2.fchk and the output directory would both be out; give them "
       "different names\n"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.args[3]);
    const mvtest::RunResult r = mvtest::runArgs(c.args, dir);
    EXPECT_EQ(r.status, 2);
    EXPECT_EQ(r.err, c.err);
    EXPECT_FALSE(fs::exists(dir + "/out"));
  }
  // Apart, both are written: the report and the drawing of each input.
  const mvtest::RunResult r =
      mvtest::runArgs({"-o", "out", "--svg", "out/", "h2.fchk", "h2o.fchk"}, dir);
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(mvtest::listing(dir + "/out"),
            (std::set<std::string>{"h2.txt", "h2.svg", "h2o.txt", "h2o.svg"}));
  fs::remove_all(dir);
}

TEST(SeparateOutputs, ClosedStandardInputIsNoEmptyFile) {
  const std::string dir = mvtest::makeTempDir("mvclosed");
  const std::string mv = mvtest::shellQuote(MV_PROGRAM);
  const mvtest::RunResult closed = mvtest::runShell(mv + " - 0<&-", dir, "");
  EXPECT_EQ(closed.status, 1);
  EXPECT_EQ(closed.err, "mirvante: standard input: closed when the program started\n");
  const mvtest::RunResult empty = mvtest::runShell(mv + " -", dir);  // from /dev/null
  EXPECT_EQ(empty.status, 1);
  EXPECT_NE(empty.err.find("the file is empty"), std::string::npos) << empty.err;
  fs::remove_all(dir);
}

}  // namespace
