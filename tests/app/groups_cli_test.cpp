// The usage errors of --fragments and --multicenter: the text refused before
// any file is read, and atoms a file's molecule does not have, refused for
// that file while the others are analysed.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "support/testutil.h"

namespace {

using mvtest::dataPath;
using mvtest::runArgs;

TEST(GroupOptions, BadTextIsAUsageErrorNamingIt) {
  const struct {
    std::vector<std::string> args;
    const char* message;
  } cases[] = {
      {{"--fragments", "1-3;3-5"}, "--fragments '1-3;3-5': atom 3 is listed twice"},
      {{"--fragments", ""}, "--fragments '': group 1 is empty"},
      {{"--multicenter", "1,2,2"}, "--multicenter '1,2,2': atom 2 is repeated in ring 1 ('1,2,2')"},
  };
  const std::string dir = mvtest::makeTempDir("mvgroupcli");
  for (const auto& c : cases) {
    std::vector<std::string> args = c.args;
    args.push_back(dataPath("h2o_rhf_sto3g.fchk"));
    const mvtest::RunResult r = runArgs(args, dir);
    EXPECT_EQ(r.status, 2) << c.message;
    EXPECT_EQ(r.err, std::string("mirvante: ") + c.message + "\n");
    EXPECT_EQ(r.out, "");
  }
}

// Water has 3 atoms, ammonia-borane 8: the atoms beyond water's fail that
// file alone, and the status says the command line was wrong.
TEST(GroupOptions, AtomsBeyondAFilesMoleculeFailThatFile) {
  const std::string dir = mvtest::makeTempDir("mvgroupcli");
  const std::string water = dataPath("h2o_rhf_sto3g.fchk");
  const std::string borane = dataPath("groups/nh3bh3_rhf_ccpvdz.fchk");
  const struct {
    const char* option;
    const char* value;
    const char* message;
  } cases[] = {
      {"--fragments", "1-4",
       "--fragments '1-4': atom 4 (of range 1-4) is out of range: the molecule has 3 atoms"},
      {"--fragments", "1;5", "--fragments '1;5': atom 5 is out of range: the molecule has 3 atoms"},
      {"--multicenter", "1,2;1,8",
       "--multicenter '1,2;1,8': atom 8 is out of range: the molecule has 3 atoms"},
  };
  for (const auto& c : cases) {
    const mvtest::RunResult r = runArgs({"--json", c.option, c.value, borane, water}, dir);
    EXPECT_EQ(r.status, 2);
    EXPECT_EQ(r.err, "mirvante: " + water + ": " + c.message + "\n");
    const std::vector<std::string> lines = mvtest::lines(r.out);
    ASSERT_EQ(lines.size(), 2u);
    EXPECT_NE(lines[0].find("\"status\":\"ok\""), std::string::npos);
    EXPECT_NE(lines[1].find("\"status\":\"error\""), std::string::npos);
    EXPECT_NE(lines[1].find(c.message), std::string::npos);
  }
  // In range for both: both analysed.
  EXPECT_EQ(runArgs({"--fragments", "1;3", "--multicenter", "3,1,2", borane, water}, dir).status,
            0);
}

}  // namespace
