// The scratch copy, the free-format reader, the fixed-field readers and the
// section search.
#include "checkpoint/scratch.h"

#include <gtest/gtest.h>

#include <cmath>
#include <filesystem>
#include <string>

#include "driver/stop.h"
#include "support/testutil.h"

namespace fs = std::filesystem;
using mv::ReadResult;
using mv::ReadStatus;
using mv::Scratch;

namespace {

std::string pad(const std::string& s) {
  return s + std::string(80 - s.size(), ' ');
}

}  // namespace

// ---------------------------------------------------------------- the copy

TEST(ScratchCopy, KeepsEightyColumnsPadsAndDropsCarriageReturns) {
  std::string d = mvtest::makeTempDir("mvscr");
  ASSERT_FALSE(d.empty());
  std::string longLine(95, 'x');
  longLine.replace(79, 1, "Y");  // column 80 is kept, column 81 on is cut
  mvtest::writeFile(d + "/in", "short\r\n" + longLine + "\n\r\nlast without end\r");
  // An older, longer scratch file must be replaced, not overwritten in part.
  mvtest::writeFile(d + "/Tmp", std::string(5000, 'z'));
  Scratch s;
  EXPECT_EQ(s.copyFrom(d + "/in", d + "/Tmp"), 4);
  EXPECT_EQ(s.line(1), pad("short"));
  EXPECT_EQ(s.line(2), longLine.substr(0, 80));
  EXPECT_EQ(s.line(2).back(), 'Y');
  EXPECT_EQ(s.line(3), std::string(80, ' '));
  EXPECT_EQ(s.line(4), pad("last without end"));
  std::string written = mvtest::readFile(d + "/Tmp");
  EXPECT_EQ(written, pad("short") + "\n" + longLine.substr(0, 80) + "\n" + std::string(80, ' ') +
                         "\n" + pad("last without end") + "\n");
  fs::remove_all(d);
}

TEST(ScratchCopy, AbsentInputIsCreatedEmpty) {
  std::string d = mvtest::makeTempDir("mvscr");
  ASSERT_FALSE(d.empty());
  Scratch s;
  EXPECT_EQ(s.copyFrom(d + "/Test.FChk", d + "/Tmp"), 0);
  EXPECT_TRUE(fs::exists(d + "/Test.FChk"));
  EXPECT_EQ(fs::file_size(d + "/Test.FChk"), 0u);
  EXPECT_EQ(fs::file_size(d + "/Tmp"), 0u);
  fs::remove_all(d);
}

// ---------------------------------------------------------------- free format

TEST(FreeReader, ValuesOverLinesWithBlanksTabsAndCommas) {
  Scratch s;
  s.loadText("  1 2\t3\n\n 4 , 5,6\n7 8 9\nnext\n");
  int v[7] = {};
  ReadResult r = mv::readFree(s, 7, v);
  EXPECT_EQ(r.status, ReadStatus::Ok);
  EXPECT_EQ(r.count, 7);
  for (int k = 0; k < 7; ++k) EXPECT_EQ(v[k], k + 1);
  // The rest of the line of the last value is skipped.
  EXPECT_EQ(s.position(), 5);
}

TEST(FreeReader, NullValuesSlashAndRepeatCounts) {
  Scratch s;
  s.loadText("1,,3 , ,5\n3*7 2* 9\n4 / 99 99\nafter\n");
  int v[12];
  for (int& x : v) x = -1;
  ReadResult r = mv::readFree(s, 12, v);
  EXPECT_EQ(r.status, ReadStatus::Ok);
  int want[12] = {1, -1, 3, -1, 5, 7, 7, 7, -1, -1, 9, 4};
  for (int k = 0; k < 12; ++k) EXPECT_EQ(v[k], want[k]) << "item " << k;

  // A slash ends the request: later items keep their values, the line is done.
  s.loadText("1 2 / 3\n4\n");
  double d[4] = {-1, -1, -1, -1};
  r = mv::readFree(s, 4, d);
  EXPECT_EQ(r.status, ReadStatus::Ok);
  EXPECT_DOUBLE_EQ(d[1], 2.0);
  EXPECT_DOUBLE_EQ(d[2], -1.0);
  EXPECT_EQ(s.position(), 2);
}

TEST(FreeReader, RealNotations) {
  Scratch s;
  s.loadText(
      "1.5D-3 1.5E-3 0.0015 1.5q-3 -2 .25 3. 1.5e+2\n0.12345678-100 -1.23456789-105 2.5+3\n");
  double v[11] = {};
  ASSERT_EQ(mv::readFree(s, 11, v).status, ReadStatus::Ok);
  for (int k = 0; k < 4; ++k) EXPECT_DOUBLE_EQ(v[k], 0.0015);
  EXPECT_DOUBLE_EQ(v[4], -2.0);
  EXPECT_DOUBLE_EQ(v[5], 0.25);
  EXPECT_DOUBLE_EQ(v[6], 3.0);
  EXPECT_DOUBLE_EQ(v[7], 150.0);
  EXPECT_DOUBLE_EQ(v[8], 0.12345678e-100);
  EXPECT_DOUBLE_EQ(v[9], -1.23456789e-105);
  EXPECT_DOUBLE_EQ(v[10], 2500.0);
}

TEST(FreeReader, ErrorsAndEndOfFile) {
  Scratch s;
  int iv[3] = {};
  s.loadText("1 2.0 3\n");
  ReadResult r = mv::readFree(s, 3, iv);
  EXPECT_EQ(r.status, ReadStatus::Error);
  EXPECT_EQ(r.count, 1);
  EXPECT_NE(r.detail.find("'2.0' at line 1"), std::string::npos) << r.detail;

  s.loadText("1 2E3\n");
  EXPECT_EQ(mv::readFree(s, 2, iv).status, ReadStatus::Error);
  s.loadText("1 99999999999\n");
  EXPECT_EQ(mv::readFree(s, 2, iv).status, ReadStatus::Error);

  double dv[4] = {};
  s.loadText("1.0 2.0\nShell types   I   N= 3\n");
  r = mv::readFree(s, 4, dv);
  EXPECT_EQ(r.status, ReadStatus::Error);
  EXPECT_EQ(r.count, 2);
  EXPECT_NE(r.detail.find("line 2"), std::string::npos) << r.detail;

  for (const char* bad : {"1.5x\n", "1.5E\n", ".\n", "+\n", "0*3\n", "1.0-\n", "--1\n"}) {
    s.loadText(bad);
    EXPECT_EQ(mv::readFree(s, 1, dv).status, ReadStatus::Error) << bad;
  }

  s.loadText("1.0 2.0\n3.0\n");
  r = mv::readFree(s, 4, dv);
  EXPECT_EQ(r.status, ReadStatus::End);
  EXPECT_EQ(r.count, 3);
  EXPECT_DOUBLE_EQ(dv[2], 3.0);
  EXPECT_TRUE(s.atEnd());
}

TEST(FreeReader, NonFiniteSpellingsAreNumbers) {
  Scratch s;
  s.loadText("NaN -Inf Infinity 1.0E+999\n");
  double v[4] = {};
  ASSERT_EQ(mv::readFree(s, 4, v).status, ReadStatus::Ok);
  EXPECT_TRUE(std::isnan(v[0]));
  EXPECT_TRUE(std::isinf(v[1]) && v[1] < 0);
  EXPECT_TRUE(std::isinf(v[2]) && v[2] > 0);
  EXPECT_TRUE(std::isinf(v[3]));
}

TEST(FreeReader, ColumnsWithLeadingDimension) {
  Scratch s;
  s.loadText("1 2 3 4 5 6\n");
  double a[4 * 3];
  for (double& x : a) x = 0.0;
  ASSERT_EQ(mv::readFreeColumns(s, 2, 3, a, 4).status, ReadStatus::Ok);
  EXPECT_DOUBLE_EQ(a[0], 1.0);
  EXPECT_DOUBLE_EQ(a[1], 2.0);
  EXPECT_DOUBLE_EQ(a[2], 0.0);
  EXPECT_DOUBLE_EQ(a[4], 3.0);
  EXPECT_DOUBLE_EQ(a[9], 6.0);
}

// ---------------------------------------------------------------- fixed fields

TEST(FixedFields, IntegerField) {
  int v = -1;
  std::string l = pad("Number of atoms                            I                3");
  EXPECT_TRUE(mv::readIntField(l, 56, 6, v));
  EXPECT_EQ(v, 3);
  // Seven digits ending in column 61: the leading digit is not seen.
  l = pad("Number of primitive shells                 I          1234567");
  EXPECT_TRUE(mv::readIntField(l, 56, 6, v));
  EXPECT_EQ(v, 234567);
  EXPECT_TRUE(mv::readIntField("short", 56, 6, v));  // beyond the line: blank, zero
  EXPECT_EQ(v, 0);
  EXPECT_TRUE(mv::readIntField(" - 1 2", 1, 6, v));  // blanks inside are ignored
  EXPECT_EQ(v, -12);
  EXPECT_FALSE(mv::readIntField("  12.0", 1, 6, v));
  EXPECT_FALSE(mv::readIntField("  ab  ", 1, 6, v));
}

TEST(FixedFields, RealField) {
  double v = 0.0;
  std::string l = pad("SCF Energy                                 R     -7.496302313852723E+01");
  EXPECT_TRUE(mv::readRealField(l, 46, 30, 10, v));
  EXPECT_DOUBLE_EQ(v, -74.96302313852723);
  // Without a decimal point the last d digits are decimals.
  EXPECT_TRUE(mv::readRealField("      12345", 1, 11, 10, v));
  EXPECT_DOUBLE_EQ(v, 12345e-10);
  EXPECT_TRUE(mv::readRealField("  15D2", 1, 6, 1, v));
  EXPECT_DOUBLE_EQ(v, 150.0);
  EXPECT_TRUE(mv::readRealField("  1.5D2", 1, 7, 1, v));
  EXPECT_DOUBLE_EQ(v, 150.0);
  EXPECT_TRUE(mv::readRealField(" -1.23456789-105", 1, 16, 8, v));
  EXPECT_DOUBLE_EQ(v, -1.23456789e-105);
  EXPECT_TRUE(mv::readRealField("  0.12345678+100", 1, 16, 8, v));
  EXPECT_DOUBLE_EQ(v, 0.12345678e100);
  EXPECT_TRUE(mv::readRealField("", 1, 16, 8, v));
  EXPECT_DOUBLE_EQ(v, 0.0);
  EXPECT_FALSE(mv::readRealField("****************", 1, 16, 8, v));
  EXPECT_FALSE(mv::readRealField("Shell types     ", 1, 16, 8, v));
}

// ---------------------------------------------------------------- section search

TEST(SectionSearch, PrefixFirstOccurrenceAndStop1000) {
  mv::tmp.loadText(
      "title\nline2\n"
      "Number of atoms whatever follows           I                7\n"
      "Values                                     I   N=           3\n"
      " 1 2\n 3\n"
      "Number of atoms                            I                9\n"
      "SCF Energy                                 R     -1.5D+00\n");
  mv::findlab("Number of atoms ");
  EXPECT_EQ(mv::getint(), 7);  // the first of two matching lines
  EXPECT_EQ(mv::tmp.position(), 4);
  mv::findlab("SCF Energy  ");
  EXPECT_DOUBLE_EQ(mv::getreal(), -1.5);
  mv::findlab("Values      ");
  int v[3] = {};
  mv::getlist(3, v, "Values      ");
  EXPECT_EQ(v[2], 3);
  try {
    mv::findlab("Number of basis ");
    ADD_FAILURE() << "no stop";
  } catch (const mv::Stop& st) {
    EXPECT_EQ(st.code, "1000");
  }
  // Case and blanks count in the comparison.
  EXPECT_THROW(mv::findlab("number of atoms "), mv::Stop);
}

TEST(SectionSearch, BadValuesAreInputErrors) {
  mv::tmp.loadText(
      "title\nline2\n"
      "Number of atoms                            I              abc\n"
      "Shell types                                I   N=           3\n"
      " 1 2\n"
      "Shell to atom map                          I   N=           3\n");
  mv::findlab("Number of atoms ");
  try {
    mv::getint();
    ADD_FAILURE() << "no input error";
  } catch (const mv::InputError& e) {
    EXPECT_EQ(e.operation, "reading section 'Number of atoms ' of Tmp");
    EXPECT_NE(e.error.find("line 3"), std::string::npos) << e.error;
    EXPECT_EQ(e.file, "Tmp");
  }
  mv::findlab("Shell types ");
  int v[3];
  try {
    mv::getlist(3, v, "Shell types ");
    ADD_FAILURE() << "no input error";
  } catch (const mv::InputError& e) {
    EXPECT_EQ(e.operation, "reading section 'Shell types ' of Tmp");
    EXPECT_NE(e.error.find("'Shell' at line 6 is not an integer"), std::string::npos) << e.error;
  }
  mv::findlab("Shell to atom ma");
  EXPECT_THROW(mv::getlist(3, v, "Shell to atom ma"), mv::InputError);  // end of file
}
