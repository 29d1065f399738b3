// Whole reports compared line by line with stored reports.  Each stored
// report was checked by hand against the record layouts, and its numbers
// against the independent reference values of the fixture (populations,
// bond orders, valences), before it was accepted.  The reports of the
// bundled examples are stored once, in examples/, where users read them;
// the others in tests/data/golden.
#include <gtest/gtest.h>

#include <ostream>
#include <string>

#include "support/testutil.h"

namespace {

struct Stored {
  const char* fixture;  // NAME of tests/data/NAME.fchk
  const char* report;   // the stored report
};

void PrintTo(const Stored& s, std::ostream* os) {
  *os << s.fixture;
}

class Golden : public ::testing::TestWithParam<Stored> {};

std::string storedReport(const Stored& s) {
  const std::string r = s.report;
  return r.rfind("examples/", 0) == 0 ? mvtest::examplePath(r.substr(9)) : mvtest::dataPath(r);
}

TEST_P(Golden, ReportMatchesStoredReport) {
  const std::string name = GetParam().fixture;
  const std::string want = mvtest::readFile(storedReport(GetParam()));
  ASSERT_FALSE(want.empty()) << storedReport(GetParam());
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

const Stored kStored[] = {
    {"h2_rhf_sto3g", "golden/h2_rhf_sto3g.out"},
    {"h2o_rhf_sto3g", "examples/water/report.txt"},
    {"ch2_rohf_631gs", "examples/methylene-rohf/report.txt"},
    {"c10h8_rhf_ccpvtz_cart", "golden/c10h8_rhf_ccpvtz_cart.out"},
};

INSTANTIATE_TEST_SUITE_P(Reports, Golden, ::testing::ValuesIn(kStored),
                         [](const auto& info) { return std::string(info.param.fixture); });

}  // namespace
