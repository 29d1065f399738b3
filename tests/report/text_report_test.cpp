// The banner, the element symbols and the matrix printer.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "driver/report.h"
#include "support/testutil.h"
#include "tables.h"

namespace {

TEST(ElementSymbols, LabelsByAtomicNumber) {
  EXPECT_EQ(mv::mend(1), "  H ");
  EXPECT_EQ(mv::mend(2), " He ");
  EXPECT_EQ(mv::mend(6), "  C ");
  EXPECT_EQ(mv::mend(17), " Cl ");
  EXPECT_EQ(mv::mend(26), " Fe ");
  EXPECT_EQ(mv::mend(53), "  I ");
  EXPECT_EQ(mv::mend(62), " Sm ");
  EXPECT_EQ(mv::mend(79), " Au ");
  EXPECT_EQ(mv::mend(92), "  U ");
  EXPECT_EQ(mv::mend(93), " Np ");
  EXPECT_EQ(mv::mend(118), " Og ");
  EXPECT_EQ(mv::mend(0), " Bq ");
  EXPECT_EQ(mv::mend(119), "  ? ");
  EXPECT_EQ(mv::mend(-1), "  ? ");
}

TEST(Banner, RecordShapes) {
  mvtest::Capture cap;
  mv::kiir();
  const std::vector<std::string> r = mvtest::lines(cap.out.str());
  ASSERT_EQ(r.size(), 19u);
  const std::string rule = " " + std::string(79, '-');
  const std::string b7(7, ' ');
  EXPECT_EQ(r[0], rule);
  EXPECT_EQ(r[1], "");
  EXPECT_EQ(r[2], std::string(20, ' ') + "Program MIRVANTE, Version 1.00");
  EXPECT_EQ(r[3], std::string(20, ' ') + std::string(28, '-'));
  EXPECT_EQ(r[4], "");
  EXPECT_EQ(r[5], "   Calculating:");
  EXPECT_EQ(r[6], "   " + std::string(12, '-'));
  EXPECT_EQ(r[7], "");
  EXPECT_EQ(r[8], b7 + " Conventional (Hilbert space) bond orders and valences");
  EXPECT_EQ(r[10], b7 + " by using a new - but equivalent - formalism for ROHF case");
  EXPECT_EQ(r[11], b7 + " and an improved one for correlated systems.");
  // The two citation records: 8 blanks and a text in parentheses.
  for (int k : {9, 12}) {
    EXPECT_EQ(r[k].substr(0, 9), std::string(8, ' ') + "(") << k;
    EXPECT_EQ(r[k].back(), ')') << k;
  }
  EXPECT_NE(r[12].find("to be published"), std::string::npos);
  EXPECT_EQ(r[13], "");
  EXPECT_EQ(r[14], "   Cite this program as:");
  EXPECT_EQ(r[15], "   " + std::string(21, '-'));
  EXPECT_EQ(r[16].substr(0, 3), "   ");
  EXPECT_NE(r[16][3], ' ');
  EXPECT_NE(r[16].find("Program \"MIRVANTE\", Version 1.00"), std::string::npos);
  EXPECT_EQ(r[17], "");
  EXPECT_EQ(r[18], rule);
  EXPECT_EQ(cap.err.str(), "");
}

// A 9-atom matrix a(i, j) = i + j/100 with leading dimension 20.
struct MatrixPrinter : ::testing::Test {
  static inline double a[20 * 20];
  void SetUp() override {
    const int z[9] = {6, 1, 1, 1, 1, 8, 1, 7, 17};
    for (int i = 1; i <= 9; ++i) {
      mv::g.ia(i) = z[i - 1];
      for (int j = 1; j <= 9; ++j) a[(i - 1) + (j - 1) * 20] = i + j / 100.0;
    }
    a[(2 - 1) + (9 - 1) * 20] = -0.00004;  // rounds to zero: no sign
  }
  static constexpr const char* kHeader1 =
      "             1  C     2  H     3  H     4  H     5  H     6  O     7  H     8  N ";
  static constexpr const char* kRow1 =
      "   1  C    1.0100   1.0200   1.0300   1.0400   1.0500   1.0600   1.0700   1.0800";
};

TEST_F(MatrixPrinter, EightAtomsMakeOneBlock) {
  mvtest::Capture cap;
  mv::mprint(a, 8, 20);
  const std::vector<std::string> r = mvtest::lines(cap.out.str());
  ASSERT_EQ(r.size(), 10u);
  EXPECT_EQ(r[0], kHeader1);
  EXPECT_EQ(r[1], "");
  EXPECT_EQ(r[2], kRow1);
  EXPECT_EQ(r[9],
            "   8  N    8.0100   8.0200   8.0300   8.0400   8.0500   8.0600   8.0700   8.0800");
}

TEST_F(MatrixPrinter, NineAtomsMakeTwoBlocksWithAllRows) {
  mvtest::Capture cap;
  mv::mprint(a, 9, 20);
  const std::vector<std::string> r = mvtest::lines(cap.out.str());
  ASSERT_EQ(r.size(), 26u);
  EXPECT_EQ(r[0], kHeader1);
  EXPECT_EQ(r[2], kRow1);
  EXPECT_EQ(r[10],
            "   9 Cl    9.0100   9.0200   9.0300   9.0400   9.0500   9.0600   9.0700   9.0800");
  for (int k = 11; k <= 14; ++k) EXPECT_EQ(r[k], "") << k;
  EXPECT_EQ(r[15], "             9 Cl ");
  EXPECT_EQ(r[16], "");
  EXPECT_EQ(r[17], "   1  C    1.0900");
  EXPECT_EQ(r[18], "   2  H    0.0000");
  EXPECT_EQ(r[25], "   9 Cl    9.0900");
}

}  // namespace
