// End-to-end runs of the density verification: a density triangle stored in
// the other order is reread, a restricted open-shell density is rebuilt from
// the orbitals, and a density that no repair fixes ends the run.
#include <gtest/gtest.h>

#include <string>

#include "support/reportparse.h"
#include "support/testutil.h"

namespace {

using mvtest::lines;
using mvtest::readFile;
using mvtest::runProgram;

TEST(DensityRepair, ColumnOrderTriangleIsRereadAndAnalysedAsItsTwin) {
  auto twin = runProgram(readFile(mvtest::dataPath("h2o_rhf_sto3g.fchk")));
  auto col = runProgram(readFile(mvtest::dataPath("h2o_rhf_sto3g_colorder.fchk")));
  ASSERT_EQ(twin.status, 0);
  ASSERT_EQ(col.status, 0) << col.err;
  EXPECT_EQ(col.err, "");
  EXPECT_EQ(twin.out.find("WRONG DENSITY"), std::string::npos);
  // The row-order reading misses the electron count (4.49 instead of 10).
  EXPECT_NE(col.out.find("\n  \n  WRONG DENSITY  (Trace of DS=  4.49"), std::string::npos);
  EXPECT_NE(col.out.find("\n Different data order. Rereading the 1-d/th density of the "
                         "checkpoint file\n"),
            std::string::npos);
  // Populations, bond orders and valences agree to the last printed digit
  // except for rounding noise in the hermiticity control.
  auto a = mvtest::parseReport(twin.out), b = mvtest::parseReport(col.out);
  ASSERT_EQ(a.populations.size(), b.populations.size());
  for (std::size_t k = 0; k < a.populations.size(); ++k)
    EXPECT_NEAR(a.populations[k], b.populations[k], 2e-9);
  ASSERT_EQ(a.bonds.size(), b.bonds.size());
  for (std::size_t k = 0; k < a.bonds.size(); ++k) EXPECT_NEAR(a.bonds[k], b.bonds[k], 1e-4);
  EXPECT_EQ(a.totalValence, b.totalValence);
}

TEST(DensityRepair, RestrictedOpenShellDensityIsRebuiltFromTheOrbitals) {
  auto twin = runProgram(readFile(mvtest::dataPath("ch2_rohf_631gs.fchk")));
  auto bad = runProgram(readFile(mvtest::dataPath("ch2_rohf_631gs_baddens.fchk")));
  ASSERT_EQ(twin.status, 0);
  ASSERT_EQ(bad.status, 0) << bad.err;
  const std::string out = bad.out;
  // The stored "total" density is the alpha density: trace 5 instead of 8.
  std::size_t w = out.find("  WRONG DENSITY  (Trace of DS=  5.");
  std::size_t r =
      out.find("\n  ROHF case\n Density and spin-density will be re-built by using the MO-s\n");
  std::size_t c = out.find("\n Now correct density and spin density  (Traces=  8.");
  ASSERT_NE(w, std::string::npos);
  ASSERT_NE(r, std::string::npos);
  ASSERT_NE(c, std::string::npos);
  EXPECT_LT(w, r);
  EXPECT_LT(r, c);
  auto a = mvtest::parseReport(twin.out), b = mvtest::parseReport(bad.out);
  ASSERT_EQ(a.populations.size(), 3u);
  ASSERT_EQ(b.populations.size(), 3u);
  for (int k = 0; k < 3; ++k) EXPECT_NEAR(a.populations[k], b.populations[k], 1e-6);
  for (std::size_t k = 0; k < a.bonds.size(); ++k) EXPECT_NEAR(a.bonds[k], b.bonds[k], 1.0001e-4);
  EXPECT_NEAR(b.unpaired, 2.0, 1e-5);
}

// Replace the values of the total density by a triangle that is wrong read
// either way: every element doubled.
TEST(DensityRepair, DensityWrongInBothOrdersEndsTheRun) {
  std::string text = readFile(mvtest::dataPath("h2o_rhf_sto3g.fchk"));
  std::size_t at = text.find("Total SCF Density");
  ASSERT_NE(at, std::string::npos);
  std::size_t body = text.find('\n', at) + 1;
  std::size_t end = text.find("\n", body);
  // 28 values on 6 lines; scale the first line's five values by 3.
  std::string first = text.substr(body, end - body);
  std::string scaled;
  for (int k = 0; k < 5; ++k) {
    double v = std::stod(first.substr(16 * k, 16));
    char buf[32];
    std::snprintf(buf, sizeof buf, "%16.8E", 3.0 * v);
    scaled += buf;
  }
  text.replace(body, end - body, scaled);
  auto run = runProgram(text);
  EXPECT_EQ(run.status, 1);
  EXPECT_EQ(run.err, "");
  auto ls = lines(run.out);
  ASSERT_GE(ls.size(), 2u);
  EXPECT_EQ(ls[ls.size() - 2].rfind("  *** ", 0), 0u) << ls[ls.size() - 2];
  EXPECT_EQ(ls.back(), "  WRONG DENSITY.  STOP. ");
  EXPECT_EQ(run.out.find("Mulliken"), std::string::npos);
}

}  // namespace
