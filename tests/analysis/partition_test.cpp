// Atom partition, reordering of the overlap matrix and Mulliken populations.
#include "driver/partition.h"

#include <gtest/gtest.h>

#include "driver/stop.h"
#include "support/testutil.h"
#include "tables.h"

namespace {

using mv::g;

struct Limits {
  int first[mv::kMaxAtomRead] = {};
  int last[mv::kMaxAtomRead] = {};
  // Atoms of the given sizes, in order, owning consecutive functions.
  explicit Limits(std::initializer_list<int> sizes) {
    int next = 1, a = 0;
    for (int n : sizes) {
      first[a] = next;
      last[a] = next + n - 1;
      next += n;
      ++a;
    }
  }
};

// Run getparm; returns the stop code ("" for a plain stop, "none" when it
// returned normally).
std::string partition(const Limits& l, int& natoms, int& nbasis, std::string& out) {
  mvtest::Capture cap;
  std::string result = "none";
  try {
    mv::getparm(l.first, l.last, natoms, nbasis, mv::kMaxAtomRead, mv::kMaxAtoms);
  } catch (const mv::Stop& st) {
    result = st.code;
    EXPECT_EQ(st.status, mv::kStatusStopped);
  }
  out = cap.out.str();
  return result;
}

TEST(Getparm, CountsAtomsAndPairs) {
  int na = 0, nb = 0;
  std::string out;
  EXPECT_EQ(partition(Limits{1, 1}, na, nb, out), "none");
  EXPECT_EQ(na, 2);
  EXPECT_EQ(nb, 2);
  EXPECT_EQ(out, "    \n 2 ATOMS,  1 ATOMIC PAIRS\n");

  EXPECT_EQ(partition(Limits{5, 1, 1}, na, nb, out), "none");
  EXPECT_EQ(nb, 7);
  EXPECT_EQ(out, "    \n 3 ATOMS,  3 ATOMIC PAIRS\n");

  Limits twenty{1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1};
  EXPECT_EQ(partition(twenty, na, nb, out), "none");
  EXPECT_EQ(out, "    \n 20 ATOMS,  190 ATOMIC PAIRS\n");
}

TEST(Getparm, RefusesTooManyAtomsBeforeOtherChecks) {
  Limits many{1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1};
  int na = 0, nb = 0;
  std::string out;
  EXPECT_EQ(partition(many, na, nb, out), "");
  EXPECT_EQ(out, "    TOO MANY ATOMS, STOP\n");
  // Also when the ranges fail the sum test: the atom limit is reported first.
  many.first[3] = 9;
  EXPECT_EQ(partition(many, na, nb, out), "");
  EXPECT_EQ(out, "    TOO MANY ATOMS, STOP\n");
  // Every one of the 500 entries is scanned, not only the first 20.
  Limits far{3, 4};
  far.first[400] = 8;
  far.last[400] = 8;
  EXPECT_EQ(partition(far, na, nb, out), "");
  EXPECT_EQ(na, 401);
}

TEST(Getparm, RefusesSingleAtomAndBadSums) {
  int na = 0, nb = 0;
  std::string out;
  EXPECT_EQ(partition(Limits{7}, na, nb, out), "");
  EXPECT_EQ(out, "   ONLY ONE ATOM\n");
  // More atoms listed, but only the first owns functions.
  Limits onlyFirst{7};
  onlyFirst.first[1] = 0;
  onlyFirst.last[1] = 0;
  EXPECT_EQ(partition(onlyFirst, na, nb, out), "");
  EXPECT_EQ(out, "   ONLY ONE ATOM\n");
  // An atom with a non-positive last limit below a counted one still
  // enters the sum: 0 - 0 + 1 makes it one too many.
  Limits gap{2, 2, 2};
  gap.first[1] = 0;
  gap.last[1] = 0;
  gap.first[2] = 3;
  gap.last[2] = 4;
  EXPECT_EQ(partition(gap, na, nb, out), "1212");
  EXPECT_EQ(out, "");
}

TEST(Getsome, AppliesTheOrderMapAndLeavesTheRestAlone) {
  mv::resetTables();
  static mv::Square h;
  mv::MatView s = mv::view(g.stv1);
  const int n = 6;
  for (int j = 1; j <= n; ++j)
    for (int i = 1; i <= n; ++i) s(i, j) = 10.0 * i + j;
  s(7, 7) = 99.0;
  for (int k = 1; k <= n; ++k) g.map(k) = k;
  mv::getsome(mv::kLd, n, 2, mv::view(h));
  for (int j = 1; j <= n; ++j)
    for (int i = 1; i <= n; ++i) EXPECT_EQ(s(i, j), 10.0 * i + j);

  // A pure d shell at functions 2..6: program order -> checkpoint order.
  const int pure[5] = {3, 4, 6, 5, 2};
  for (int k = 0; k < 5; ++k) g.map(k + 2) = pure[k];
  mv::getsome(mv::kLd, n, 2, mv::view(h));
  for (int j = 1; j <= n; ++j)
    for (int i = 1; i <= n; ++i) EXPECT_EQ(s(g.map(i), g.map(j)), 10.0 * i + j);
  EXPECT_EQ(s(7, 7), 99.0);
}

TEST(Populations, SumsDiagonalOfPSPerAtomAndPrintsTheTable) {
  mv::resetTables();
  g.nat(1) = 2;
  g.nat(2) = 3;
  mv::MatView s = mv::view(g.stv1), p = mv::view(g.c2);
  // S with an off-diagonal overlap between functions 1 and 3.
  for (int i = 1; i <= 3; ++i) s(i, i) = 1.0;
  s(1, 3) = s(3, 1) = 0.5;
  p(1, 1) = 2.0;
  p(2, 2) = 4.5;
  p(3, 3) = 1.0;
  p(1, 3) = p(3, 1) = -1.5;
  Limits l{1, 2};
  mv::inpint(2, l.first, l.last);
  EXPECT_EQ(g.hold(1), 1);
  EXPECT_EQ(g.hold(3), 2);
  mvtest::Capture cap;
  mv::populations();
  // (PS)(1,1) = 2 - 0.75 = 1.25; (PS)(2,2) = 4.5; (PS)(3,3) = -0.75 + 1 = 0.25.
  EXPECT_DOUBLE_EQ(g.qat(1), 1.25);
  EXPECT_DOUBLE_EQ(g.qat(2), 4.75);
  EXPECT_EQ(cap.out.str(),
            "  \n  \n  Mulliken populations\n ---------------------\n"
            "    1   1.2500000000\n    2   4.7500000000\n ---------------------\n"
            " SUM=      6.0000000\n  \n");
}

TEST(Populations, NegativePopulationKeepsItsSign) {
  mv::resetTables();
  g.nat(1) = 2;
  g.nat(2) = 2;
  mv::MatView s = mv::view(g.stv1), p = mv::view(g.c2);
  s(1, 1) = s(2, 2) = 1.0;
  p(1, 1) = 6.0;
  p(2, 2) = -0.5;
  Limits l{1, 1};
  mv::inpint(2, l.first, l.last);
  mvtest::Capture cap;
  mv::populations();
  EXPECT_NE(cap.out.str().find("\n    1   6.0000000000\n    2  -0.5000000000\n"),
            std::string::npos);
  EXPECT_NE(cap.out.str().find(" SUM=      5.5000000\n"), std::string::npos);
}

TEST(Populations, OverflowingProductsAreRefusedBeforeTheTable) {
  // 1.5 * 1.5E+308 overflows: no population table with a non-finite number.
  mv::resetTables();
  g.nat(1) = 2;
  g.nat(2) = 2;
  mv::MatView s = mv::view(g.stv1), p = mv::view(g.c2);
  s(1, 1) = s(2, 2) = 1.0;
  s(1, 2) = s(2, 1) = 1.5;
  p(1, 1) = p(2, 2) = 1.0;
  p(1, 2) = p(2, 1) = 1.5e308;
  Limits l{1, 1};
  mv::inpint(2, l.first, l.last);
  mvtest::Capture cap;
  try {
    mv::populations();
    ADD_FAILURE() << "no stop";
  } catch (const mv::Stop& st) {
    EXPECT_EQ(st.code, mv::kCodeBadValue);
  }
  EXPECT_EQ(cap.out.str().find("-----"), std::string::npos);  // no table
  EXPECT_NE(cap.out.str().find("not a finite number"), std::string::npos);
}

}  // namespace
