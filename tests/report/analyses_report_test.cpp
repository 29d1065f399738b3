// The command line's sections of the report (the table of atoms and the
// bond list) rendered from values: their columns stay apart however many
// atoms there are and however large the numbers grow, the bond list is
// sorted and cut at the threshold.
#include <gtest/gtest.h>

#include <cmath>
#include <sstream>
#include <string>
#include <vector>

#include "report/text_report.h"
#include "support/testutil.h"

namespace {

struct Case {
  const char* name;
  int atoms;
  double scale;  // the size of every number
  bool spin, lowdin;
};

// The whitespace-separated fields of a line.
std::vector<std::string> fields(const std::string& line) {
  std::vector<std::string> out;
  std::istringstream in(line);
  for (std::string f; in >> f;) out.push_back(f);
  return out;
}

// A chain of atoms, 3 bohr times `scale` apart, with bond order
// scale * (1 + a / atoms) between neighbours and zero elsewhere.
struct Molecule {
  mv::Checkpoint ck;
  mv::Populations pop;
  mv::SpinPopulations spin;
  mv::LowdinAnalysis lowdin;
  mv::BondOrders b;
  Molecule(int n, double scale) {
    ck.natoms = n;
    ck.nalpha = 5;
    ck.nbeta = 4;
    ck.calc.unrestrictedName = true;
    ck.spinLabel = "Spin SCF Density";
    ck.atomicNumber = mv::Vec1<int>(n, 6);
    ck.nuclearCharge = mv::Vec1<double>(n, 6.0);
    ck.coords = mv::Matrix(3, n);
    pop.qat = mv::Vec1<double>(n);
    spin.atom = mv::Vec1<double>(n);
    lowdin.population = mv::Vec1<double>(n);
    lowdin.wiberg = mv::Matrix(n, n);
    b.bonds = mv::Matrix(n, n);
    for (int a = 1; a <= n; ++a) {
      ck.coords(1, a) = 3.0 * scale * a;
      pop.qat(a) = 6.0 + scale * (a % 2 == 0 ? 1 : -1);
      spin.atom(a) = -scale;
      lowdin.population(a) = 6.0 - scale;
      if (a < n) {
        b.bonds(a, a + 1) = b.bonds(a + 1, a) = scale * (1.0 + static_cast<double>(a) / n);
        lowdin.wiberg(a, a + 1) = lowdin.wiberg(a + 1, a) = -scale;
      }
    }
  }
};

class AnalysesReport : public ::testing::TestWithParam<Case> {};

TEST_P(AnalysesReport, ColumnsStayApartAndListTheBondsInOrder) {
  const Case c = GetParam();
  const Molecule m(c.atoms, c.scale);
  std::ostringstream out;
  mv::ReportOptions o;
  o.minBond = c.scale;  // every bond of the chain
  mv::TextReport report(out, mv::ReportStyle::Fit, o);
  report.charges(m.ck, m.pop, c.spin ? &m.spin : nullptr,
                 c.spin ? mv::SpinSource::File : mv::SpinSource::None,
                 c.lowdin ? &m.lowdin : nullptr);
  report.bondList(m.ck, m.b, c.lowdin ? &m.lowdin : nullptr);
  const std::vector<std::string> lines = mvtest::lines(out.str());

  // The table: one line per atom, then the sums.
  std::size_t k = 0;
  while (k < lines.size() && (fields(lines[k]).empty() || fields(lines[k])[0] != "ATOM")) ++k;
  ASSERT_LT(k, lines.size());
  const std::size_t columns = 1 + (c.spin ? 1 : 0) + (c.lowdin ? 1 : 0);
  EXPECT_EQ(fields(lines[k]).size(), 1 + columns) << lines[k];
  for (int a = 1; a <= c.atoms; ++a) {
    const std::vector<std::string> f = fields(lines[k + static_cast<std::size_t>(a)]);
    ASSERT_EQ(f.size(), 2 + columns) << lines[k + static_cast<std::size_t>(a)];
    EXPECT_EQ(f[0], std::to_string(a));
    EXPECT_EQ(f[1], "C");
    EXPECT_NEAR(std::stod(f[2]), -m.pop.qat(a) + 6.0, 1e-5);
    if (c.spin) {
      EXPECT_NEAR(std::stod(f[3]), -c.scale, 1e-5);
    }
    if (c.lowdin) {
      EXPECT_NEAR(std::stod(f.back()), c.scale, 1e-5);
    }
  }
  const std::vector<std::string> sums = fields(lines[k + static_cast<std::size_t>(c.atoms) + 1]);
  ASSERT_EQ(sums.size(), 1 + columns);
  EXPECT_EQ(sums[0], "SUM");
  if (c.spin) {
    EXPECT_NEAR(std::stod(sums[2]), -c.scale * c.atoms, 1e-5 * c.atoms);
  }

  // The bond list: every bond of the chain, by decreasing order.
  k += static_cast<std::size_t>(c.atoms) + 2;
  while (k < lines.size() && lines[k].find("BOND ORDER") == std::string::npos) ++k;
  ASSERT_LT(k, lines.size());
  ASSERT_EQ(lines.size(), k + static_cast<std::size_t>(c.atoms));  // n - 1 bonds
  for (int j = 1; j < c.atoms; ++j) {
    const std::vector<std::string> f = fields(lines[k + static_cast<std::size_t>(j)]);
    ASSERT_EQ(f.size(), (c.lowdin ? 7U : 6U)) << lines[k + static_cast<std::size_t>(j)];
    const int a = c.atoms - j;  // the largest order first
    EXPECT_EQ(f[0], std::to_string(a));
    EXPECT_EQ(f[2], std::to_string(a + 1));
    EXPECT_NEAR(std::stod(f[4]), m.b.bonds(a, a + 1), 1e-4);
    if (c.lowdin) {
      EXPECT_NEAR(std::stod(f[5]), -c.scale, 1e-4);
    }
    EXPECT_NEAR(std::stod(f.back()), 3.0 * c.scale * mv::kBohrInAngstrom, 1e-4 * c.scale);
  }
}

INSTANTIATE_TEST_SUITE_P(Sizes, AnalysesReport,
                         ::testing::Values(Case{"two_atoms", 2, 0.5, false, false},
                                           Case{"huge_numbers", 12, 123456.789, true, true},
                                           Case{"many_atoms_huge_numbers", 1234, 98765.4321, true,
                                                true}),
                         [](const ::testing::TestParamInfo<Case>& i) { return i.param.name; });

TEST(AnalysesReport, ThresholdAboveEveryBondSaysSo) {
  const Molecule m(3, 0.5);
  std::ostringstream out;
  mv::ReportOptions o;
  o.minBond = 2.5;
  mv::TextReport(out, mv::ReportStyle::Fit, o).bondList(m.ck, m.b, nullptr);
  const std::vector<std::string> lines = mvtest::lines(out.str());
  ASSERT_FALSE(lines.empty());
  EXPECT_EQ(lines.back(), "  No pair of atoms has a bond order of 2.5 or more.");
  EXPECT_NE(out.str().find("           BONDS WITH ORDER >= 2.5\n"), std::string::npos);
}

}  // namespace
