// The atom partition of the basis functions and the Mulliken populations,
// with the records the report shows for them.
#include "analysis/partition.h"

#include <gtest/gtest.h>

#include <cmath>
#include <initializer_list>
#include <string>

#include "core/limits.h"
#include "core/stop.h"
#include "report/text_report.h"
#include "support/matrices.h"
#include "support/outcome.h"

namespace {

const mv::Limits kClassic = mv::Limits::classicRun();

// Per-atom function ranges as the basis gives them, over all the atoms the
// reader's tables hold: atoms of the given sizes, in order, owning
// consecutive functions; the other entries zero.
struct Ranges {
  mv::Vec1<int> first{kClassic.atomsRead};
  mv::Vec1<int> last{kClassic.atomsRead};
  explicit Ranges(std::initializer_list<int> sizes) {
    int next = 1, a = 0;
    for (int n : sizes) {
      ++a;
      first(a) = next;
      last(a) = next + n - 1;
      next += n;
    }
  }
};

struct Parted {
  mvtest::StageOutcome o;
  mv::Partition p;
};

// getparm, and the partition record when it returns.
Parted partition(const Ranges& r) {
  Parted x;
  x.o = mvtest::runStage([&](mv::TextReport& report) {
    x.p = mv::getparm(r.first, r.last, kClassic);
    report.partition(x.p);
  });
  return x;
}

TEST(Getparm, CountsAtomsAndPairs) {
  Parted x = partition(Ranges{1, 1});
  ASSERT_FALSE(x.o.stopped());
  EXPECT_EQ(x.p.natoms, 2);
  EXPECT_EQ(x.p.nbasis, 2);
  EXPECT_EQ(x.p.pairs, 1);
  EXPECT_EQ(x.o.out, "    \n 2 ATOMS,  1 ATOMIC PAIRS\n");

  x = partition(Ranges{5, 1, 1});
  ASSERT_FALSE(x.o.stopped());
  EXPECT_EQ(x.p.nbasis, 7);
  EXPECT_EQ(x.o.out, "    \n 3 ATOMS,  3 ATOMIC PAIRS\n");

  Ranges twenty{1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1};
  x = partition(twenty);
  ASSERT_FALSE(x.o.stopped());
  EXPECT_EQ(x.p.natoms, kClassic.atoms);
  EXPECT_EQ(x.o.out, "    \n 20 ATOMS,  190 ATOMIC PAIRS\n");
}

TEST(Getparm, RefusesTooManyAtomsBeforeOtherChecks) {
  Ranges many{1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1};
  const std::vector<std::string> records = {"   TOO MANY ATOMS, STOP"};
  Parted x = partition(many);
  ASSERT_TRUE(x.o.stopped());
  EXPECT_EQ(x.o.code(), "");
  EXPECT_EQ(x.o.stop->status, mv::kStatusStopped);
  EXPECT_EQ(x.o.stop->records, records);
  EXPECT_EQ(x.o.out, "    TOO MANY ATOMS, STOP\n");
  // Also when the ranges fail the sum test: the atom limit is reported first.
  many.first(4) = 9;
  x = partition(many);
  EXPECT_EQ(x.o.stop->records, records);
  // Every entry of the table is scanned, not only the first 20.
  Ranges far{3, 4};
  far.first(401) = 8;
  far.last(401) = 8;
  x = partition(far);
  ASSERT_TRUE(x.o.stopped());
  EXPECT_EQ(x.o.stop->records, records);
  // Without the classic limits the same ranges pass that check.
  try {
    (void)mv::getparm(far.first, far.last, mv::Limits::commandLine());
    ADD_FAILURE() << "no stop";
  } catch (const mv::Stop& s) {
    EXPECT_EQ(s.code, "1212");  // atoms 3 to 400 own nothing, yet count
  }
}

TEST(Getparm, RefusesSingleAtomAndBadSums) {
  Parted x = partition(Ranges{7});
  ASSERT_TRUE(x.o.stopped());
  EXPECT_EQ(x.o.code(), "");
  EXPECT_EQ(x.o.stop->records, std::vector<std::string>{"  ONLY ONE ATOM"});
  EXPECT_EQ(x.o.out, "   ONLY ONE ATOM\n");
  // More atoms listed, but only the first owns functions.
  Ranges onlyFirst{7};
  onlyFirst.first(2) = 0;
  onlyFirst.last(2) = 0;
  x = partition(onlyFirst);
  EXPECT_EQ(x.o.out, "   ONLY ONE ATOM\n");
  // A single atom is accepted outside the classic run.
  const mv::Partition one = mv::getparm(onlyFirst.first, onlyFirst.last, mv::Limits::commandLine());
  EXPECT_EQ(one.natoms, 1);
  EXPECT_EQ(one.pairs, 0);
  // An atom with a non-positive last limit below a counted one still
  // enters the sum: 0 - 0 + 1 makes it one too many.
  Ranges gap{2, 2, 2};
  gap.first(2) = 0;
  gap.last(2) = 0;
  gap.first(3) = 3;
  gap.last(3) = 4;
  x = partition(gap);
  ASSERT_TRUE(x.o.stopped());
  EXPECT_EQ(x.o.code(), "1212");
  EXPECT_TRUE(x.o.stop->records.empty());
  EXPECT_EQ(x.o.stop->message(), "the functions of the atoms add up to 5, not 4");
  EXPECT_EQ(x.o.out, "");
}

TEST(Inpint, OwnerOfEachFunction) {
  Ranges r{1, 2};
  const mv::Vec1<int> hold = mv::inpint(r.first, r.last, 2, 3);
  ASSERT_EQ(hold.size(), 3);
  EXPECT_EQ(hold(1), 1);
  EXPECT_EQ(hold(2), 2);
  EXPECT_EQ(hold(3), 2);
  // An atom without functions owns nothing; functions beyond nbf are not indexed.
  Ranges gap{2, 2};
  gap.first(2) = 0;
  gap.last(2) = 0;
  const mv::Vec1<int> h2 = mv::inpint(gap.first, gap.last, 2, 3);
  EXPECT_EQ(h2(1), 1);
  EXPECT_EQ(h2(2), 1);
  EXPECT_EQ(h2(3), 0);
}

struct Mulliken {
  mvtest::StageOutcome o;
  mv::Populations pop;
};

Mulliken populations(const mv::Matrix& s, const mv::Matrix& p, const Ranges& r, int natoms) {
  Mulliken m;
  m.o = mvtest::runStage([&](mv::TextReport& report) {
    m.pop = mv::mulliken(s, p, mv::inpint(r.first, r.last, natoms, s.rows()), natoms);
    report.populations(m.pop);
  });
  return m;
}

TEST(Populations, SumsDiagonalOfPSPerAtomAndPrintsTheTable) {
  // S with an off-diagonal overlap between functions 1 and 3.
  const mv::Matrix s = mvtest::fromRows({{1.0, 0.0, 0.5}, {0.0, 1.0, 0.0}, {0.5, 0.0, 1.0}});
  const mv::Matrix p = mvtest::fromRows({{2.0, 0.0, -1.5}, {0.0, 4.5, 0.0}, {-1.5, 0.0, 1.0}});
  Mulliken m = populations(s, p, Ranges{1, 2}, 2);
  ASSERT_FALSE(m.o.stopped());
  // (PS)(1,1) = 2 - 0.75 = 1.25; (PS)(2,2) = 4.5; (PS)(3,3) = -0.75 + 1 = 0.25.
  ASSERT_EQ(m.pop.qat.size(), 2);
  EXPECT_DOUBLE_EQ(m.pop.qat(1), 1.25);
  EXPECT_DOUBLE_EQ(m.pop.qat(2), 4.75);
  EXPECT_DOUBLE_EQ(m.pop.total, 6.0);
  EXPECT_EQ(m.o.out,
            "  \n  \n  Mulliken populations\n ---------------------\n"
            "    1   1.2500000000\n    2   4.7500000000\n ---------------------\n"
            " SUM=      6.0000000\n  \n");
}

TEST(Populations, NegativePopulationKeepsItsSign) {
  const mv::Matrix s = mvtest::identity(2);
  const mv::Matrix p = mvtest::fromRows({{6.0, 0.0}, {0.0, -0.5}});
  Mulliken m = populations(s, p, Ranges{1, 1}, 2);
  ASSERT_FALSE(m.o.stopped());
  EXPECT_NE(m.o.out.find("\n    1   6.0000000000\n    2  -0.5000000000\n"), std::string::npos);
  EXPECT_NE(m.o.out.find(" SUM=      5.5000000\n"), std::string::npos);
}

TEST(Populations, OverflowingProductsAreRefusedBeforeTheTable) {
  // 1.5 * 1.5E+308 overflows: no population table with a non-finite number.
  const mv::Matrix s = mvtest::fromRows({{1.0, 1.5}, {1.5, 1.0}});
  const mv::Matrix p = mvtest::fromRows({{1.0, 1.5e308}, {1.5e308, 1.0}});
  Mulliken m = populations(s, p, Ranges{1, 1}, 2);
  ASSERT_TRUE(m.o.stopped());
  EXPECT_EQ(m.o.code(), mv::kCodeBadValue);
  EXPECT_EQ(m.o.stop->records,
            std::vector<std::string>{" A Mulliken population is not a finite number: the density "
                                     "holds elements out of range. STOP"});
  EXPECT_EQ(m.o.out.find("-----"), std::string::npos);  // no table
}

}  // namespace
