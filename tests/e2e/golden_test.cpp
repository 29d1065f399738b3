// Whole reports compared line by line with stored reports.  Each stored
// report was checked by hand against the record layouts, and its numbers
// against the independent reference values of the fixture (populations,
// bond orders, valences), before it was accepted.
#include <gtest/gtest.h>

#include <string>

#include "support/testutil.h"

namespace {

class Golden : public ::testing::TestWithParam<const char*> {};

TEST_P(Golden, ReportMatchesStoredReport) {
  const std::string name = GetParam();
  const std::string want = mvtest::readFile(mvtest::dataPath("golden/" + name + ".out"));
  ASSERT_FALSE(want.empty());
  auto run = mvtest::runProgram(mvtest::readFile(mvtest::dataPath(name + ".fchk")));
  EXPECT_EQ(run.status, 0);
  EXPECT_EQ(run.err, "");
  auto got = mvtest::lines(run.out), exp = mvtest::lines(want);
  ASSERT_EQ(got.size(), exp.size());
  const std::string herm = "  Hermiticity control=";
  for (std::size_t k = 0; k < exp.size(); ++k) {
    if (exp[k].rfind(herm, 0) == 0) {
      // The asymmetry left by rounding is noise; only the record's shape counts.
      EXPECT_EQ(got[k].rfind(herm, 0), 0u) << "line " << k + 1;
      continue;
    }
    EXPECT_EQ(got[k], exp[k]) << "line " << k + 1;
  }
  // Every record ends with a newline, the last one included.
  EXPECT_EQ(run.out.back(), '\n');
}

INSTANTIATE_TEST_SUITE_P(Reports, Golden,
                         ::testing::Values("h2_rhf_sto3g", "h2o_rhf_sto3g", "ch2_rohf_631gs",
                                           "c10h8_rhf_ccpvtz_cart"));

}  // namespace
