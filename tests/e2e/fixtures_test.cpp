// End-to-end runs of the built program on the bundled fixtures, compared
// with the independent numbers of their reference files.
#include <gtest/gtest.h>

#include <cmath>
#include <string>

#include "support/reportparse.h"
#include "support/testutil.h"

using mvtest::jsonNumbers;
using mvtest::parseReport;
using mvtest::readFile;
using mvtest::runProgram;

namespace {

enum class Kind { ClosedShell, OpenShell, Correlated };

struct Fixture {
  const char* name;
  Kind kind;
};

const Fixture kAccepted[] = {
    {"h2_rhf_sto3g", Kind::ClosedShell},           {"h2o_rhf_sto3g", Kind::ClosedShell},
    {"h2o_rhf_sto3g_colorder", Kind::ClosedShell}, {"h2o_rhf_631gs_cart", Kind::ClosedShell},
    {"h2o_rhf_631gs_sp", Kind::ClosedShell},       {"ch2o_rhf_ccpvdz", Kind::ClosedShell},
    {"n2_rhf_ccpvtz", Kind::ClosedShell},          {"h2o_b3lyp_ccpvdz", Kind::ClosedShell},
    {"c10h8_rhf_ccpvtz_cart", Kind::ClosedShell},  {"ch2_rohf_631gs", Kind::OpenShell},
    {"ch2_rohf_631gs_baddens", Kind::OpenShell},   {"h2o_mp2_ccpvdz", Kind::Correlated},
};

void PrintTo(const Fixture& f, std::ostream* os) {
  *os << f.name;
}

class AcceptedFixture : public ::testing::TestWithParam<Fixture> {};

// Populations, bond orders, valences and unpaired electrons against psi4.
TEST_P(AcceptedFixture, MatchesIndependentReference) {
  const Fixture f = GetParam();
  const std::string ref = readFile(mvtest::dataPath(std::string(f.name) + ".ref.json"));
  ASSERT_FALSE(ref.empty());
  auto run = runProgram(readFile(mvtest::dataPath(std::string(f.name) + ".fchk")));
  ASSERT_EQ(run.status, 0) << run.err;
  EXPECT_EQ(run.err, "");
  auto rep = parseReport(run.out);

  const auto gross = jsonNumbers(ref, "gross_populations");
  const int natoms = static_cast<int>(gross.size());
  ASSERT_EQ(rep.natoms, natoms);
  ASSERT_EQ(rep.populations.size(), gross.size());
  for (int a = 0; a < natoms; ++a)
    EXPECT_NEAR(rep.populations[a], gross[a], 1e-6) << "atom " << a + 1;
  const double nel = jsonNumbers(ref, "nelectrons").at(0);
  ASSERT_TRUE(rep.hasSum);
  EXPECT_NEAR(rep.sum, nel, 1e-6);

  ASSERT_TRUE(rep.hasUnpaired);
  const double na = jsonNumbers(ref, "nalpha").at(0), nb = jsonNumbers(ref, "nbeta").at(0);
  ASSERT_EQ(rep.bonds.size(), static_cast<std::size_t>(natoms * natoms));
  ASSERT_EQ(rep.totalValence.size(), gross.size());
  ASSERT_EQ(rep.usedValence.size(), gross.size());
  ASSERT_EQ(rep.freeValence.size(), gross.size());
  for (double x : rep.bonds) EXPECT_TRUE(std::isfinite(x));

  if (f.kind == Kind::Correlated) {
    // The second bond-order term and the free valences appear.
    EXPECT_GT(rep.unpaired, 1e-3);
    double largest = 0.0;
    for (double v : rep.freeValence) largest = std::max(largest, std::fabs(v));
    EXPECT_GT(largest, 1e-4);
    return;
  }
  EXPECT_NEAR(rep.unpaired, na - nb, 1e-5);
  const auto bonds = jsonNumbers(ref, "bond_indices");
  ASSERT_EQ(bonds.size(), rep.bonds.size());
  for (std::size_t k = 0; k < bonds.size(); ++k)
    EXPECT_NEAR(rep.bonds[k], bonds[k], 1.0001e-4) << "element " << k;
  const auto used = jsonNumbers(ref, "bonded_valences");
  for (int a = 0; a < natoms; ++a) {
    EXPECT_NEAR(rep.usedValence[a], used[a], 1.0001e-4) << "atom " << a + 1;
    if (f.kind == Kind::ClosedShell) {
      EXPECT_NEAR(rep.totalValence[a], used[a], 1.0001e-4) << "atom " << a + 1;
      EXPECT_NEAR(rep.freeValence[a], 0.0, 1.0001e-4) << "atom " << a + 1;
    }
  }
}

INSTANTIATE_TEST_SUITE_P(Fixtures, AcceptedFixture, ::testing::ValuesIn(kAccepted),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(Refusals, MissingFileGivesBannerMessageAndStop9999) {
  auto run = runProgram("", false);
  EXPECT_EQ(run.status, 1);
  EXPECT_EQ(run.err, "STOP 9999 statement executed\n");
  auto ls = mvtest::lines(run.out);
  ASSERT_GE(ls.size(), 2u);
  EXPECT_EQ(ls.front(), " " + std::string(79, '-'));
  EXPECT_EQ(ls[ls.size() - 2], " " + std::string(79, '-'));
  EXPECT_EQ(ls.back(), "  The required input file (Test.FChk) is missing. STOP");
}

TEST(Refusals, UnrestrictedWaveFunctionIsRefused) {
  auto run = runProgram(readFile(mvtest::dataPath("o2_uhf_631gs.fchk")));
  EXPECT_EQ(run.status, 1);
  EXPECT_EQ(run.err, "STOP 7777 statement executed\n");
  EXPECT_NE(run.out.find("  This program should not be used for UHF or unrestricted DFT "
                         "calculations!\n"),
            std::string::npos);
  EXPECT_EQ(run.out.find("Mulliken"), std::string::npos);
}

TEST(Refusals, SingleAtomAndTooManyAtoms) {
  auto one = runProgram(readFile(mvtest::dataPath("ne_rhf_631gs.fchk")));
  EXPECT_EQ(one.status, 1);
  EXPECT_EQ(one.err, "");
  EXPECT_EQ(mvtest::lines(one.out).back(), "   ONLY ONE ATOM");
  auto many = runProgram(readFile(mvtest::dataPath("c7h16_rhf_sto3g.fchk")));
  EXPECT_EQ(many.status, 1);
  EXPECT_EQ(many.err, "");
  EXPECT_EQ(mvtest::lines(many.out).back(), "    TOO MANY ATOMS, STOP");
}

TEST(Refusals, MissingSectionStops1000) {
  std::string text = readFile(mvtest::dataPath("h2o_rhf_sto3g.fchk"));
  const std::string label = "Highest angular momentum";
  std::size_t at = text.find(label);
  ASSERT_NE(at, std::string::npos);
  text.replace(at, 7, "Lowest ");
  auto run = runProgram(text);
  EXPECT_EQ(run.status, 1);
  EXPECT_EQ(run.err, "STOP 1000 statement executed\n");
}

}  // namespace
