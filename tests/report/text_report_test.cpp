// The report rendered from values: the banner, the matrix printer, and the
// records of the stages that have no suite of their own to check them.
#include "report/text_report.h"

#include <gtest/gtest.h>

#include <sstream>
#include <string>
#include <vector>

#include "core/stop.h"
#include "report/format.h"
#include "support/matrices.h"
#include "support/testutil.h"

namespace {

TEST(Banner, RecordShapes) {
  std::ostringstream out;
  mv::TextReport(out).banner();
  const std::vector<std::string> r = mvtest::lines(out.str());
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
}

// A 9-atom matrix a(i, j) = i + j/100.
struct MatrixPrinter : ::testing::Test {
  mv::Matrix a{9, 9};
  mv::Vec1<int> ia = mvtest::vec1({6, 1, 1, 1, 1, 8, 1, 7, 17});
  void SetUp() override {
    for (int i = 1; i <= 9; ++i)
      for (int j = 1; j <= 9; ++j) a(i, j) = i + j / 100.0;
    a(2, 9) = -0.00004;  // rounds to zero: no sign
  }
  std::vector<std::string> print(int n) const {
    std::ostringstream out;
    mv::TextReport(out).mprint(a, n, ia);
    return mvtest::lines(out.str());
  }
  static constexpr const char* kHeader1 =
      "             1  C     2  H     3  H     4  H     5  H     6  O     7  H     8  N ";
  static constexpr const char* kRow1 =
      "   1  C    1.0100   1.0200   1.0300   1.0400   1.0500   1.0600   1.0700   1.0800";
};

TEST_F(MatrixPrinter, EightAtomsMakeOneBlock) {
  const std::vector<std::string> r = print(8);
  ASSERT_EQ(r.size(), 10u);
  EXPECT_EQ(r[0], kHeader1);
  EXPECT_EQ(r[1], "");
  EXPECT_EQ(r[2], kRow1);
  EXPECT_EQ(r[9],
            "   8  N    8.0100   8.0200   8.0300   8.0400   8.0500   8.0600   8.0700   8.0800");
}

TEST_F(MatrixPrinter, NineAtomsMakeTwoBlocksWithAllRows) {
  const std::vector<std::string> r = print(9);
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

TEST(StopRecords, EachRecordIsOneFreeFormatWrite) {
  mv::Stop s;
  s.records = {" This program should not be used for UHF or unrestricted DFT calculations!", " ",
               "TOO MANY"};
  std::ostringstream out;
  mv::TextReport(out).stop(s);
  EXPECT_EQ(out.str(), mv::formatFree({mv::Item(s.records[0])}) + "  \n TOO MANY\n");
  // A stop without records adds nothing.
  std::ostringstream none;
  mv::TextReport(none).stop(mv::Stop());
  EXPECT_EQ(none.str(), "");
}

TEST(SpinNote, OnlyOutsideTheClassicRunAndNamingTheSecondTerm) {
  mv::Checkpoint ck;
  ck.title = std::string(80, ' ');
  ck.calc.plain = true;
  ck.densityLabel = "Total SCF Density                          R   N=           3";
  std::ostringstream scf, none, corr;
  mv::TextReport(scf).header(ck, true);
  mv::TextReport(none).header(ck, false);
  // A free-format text record begins with a blank of its own.
  EXPECT_EQ(scf.str(), none.str() +
                           "  Spin-unrestricted wave function: spin term from the file's spin "
                           "density\n");
  ck.densityLabel = "Total MP2 Density                          R   N=           3";
  mv::TextReport(corr).header(ck, true);
  EXPECT_EQ(corr.str(), none.str() +
                            "  Spin-unrestricted wave function: square-root term from the total "
                            "density\n");
}

}  // namespace
