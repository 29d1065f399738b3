// The checkpoint text (80-column lines, the scratch copy), the free-format
// reader and the fixed-field readers.
#include "checkpoint/freeformat.h"

#include <gtest/gtest.h>

#include <cmath>
#include <filesystem>
#include <sstream>
#include <string>

#include "checkpoint/text.h"
#include "core/stop.h"
#include "support/testutil.h"

namespace fs = std::filesystem;
using mv::CheckpointText;
using mv::ReadResult;
using mv::ReadStatus;

namespace {

std::string pad(const std::string& s) {
  return s + std::string(80 - s.size(), ' ');
}

CheckpointText text(const std::string& s) {
  return CheckpointText::fromString(s, "Test.FChk");
}

}  // namespace

// ---------------------------------------------------------------- the text and its copy

TEST(CheckpointTextCopy, KeepsEightyColumnsPadsAndDropsCarriageReturns) {
  std::string d = mvtest::makeTempDir("mvscr");
  ASSERT_FALSE(d.empty());
  std::string longLine(95, 'x');
  longLine.replace(79, 1, "Y");  // column 80 is kept, column 81 on is cut
  mvtest::writeFile(d + "/in", "short\r\n" + longLine + "\n\r\nlast without end\r");
  // An older, longer scratch file must be replaced, not overwritten in part.
  mvtest::writeFile(d + "/Tmp", std::string(5000, 'z'));
  const CheckpointText t = CheckpointText::fromFile(d + "/in", "Test.FChk");
  t.writeCopy(d + "/Tmp");
  ASSERT_EQ(t.lineCount(), 4);
  EXPECT_EQ(t.name(), "Test.FChk");
  EXPECT_EQ(t.line(1), pad("short"));
  EXPECT_EQ(t.line(2), longLine.substr(0, 80));
  EXPECT_EQ(t.line(2).back(), 'Y');
  EXPECT_EQ(t.line(3), std::string(80, ' '));
  EXPECT_EQ(t.line(4), pad("last without end"));
  EXPECT_TRUE(t.startsWith(2, "xxx"));
  EXPECT_FALSE(t.startsWith(2, std::string(81, 'x')));
  std::string written = mvtest::readFile(d + "/Tmp");
  EXPECT_EQ(written, pad("short") + "\n" + longLine.substr(0, 80) + "\n" + std::string(80, ' ') +
                         "\n" + pad("last without end") + "\n");
  // The same text from a string and from a stream.
  const std::string raw = mvtest::readFile(d + "/in");
  std::istringstream in(raw);
  for (const CheckpointText& u :
       {CheckpointText::fromString(raw, "s"), CheckpointText::fromStream(in, "s")}) {
    ASSERT_EQ(u.lineCount(), 4);
    for (int k = 1; k <= 4; ++k) EXPECT_EQ(u.line(k), t.line(k)) << k;
  }
  fs::remove_all(d);
}

TEST(CheckpointTextCopy, EmptyTextWritesAnEmptyCopy) {
  std::string d = mvtest::makeTempDir("mvscr");
  ASSERT_FALSE(d.empty());
  const CheckpointText t = text("");
  EXPECT_EQ(t.lineCount(), 0);
  t.writeCopy(d + "/Tmp");
  EXPECT_TRUE(fs::exists(d + "/Tmp"));
  EXPECT_EQ(fs::file_size(d + "/Tmp"), 0u);
  fs::remove_all(d);
}

TEST(CheckpointTextCopy, UnreadableInputAndUnwritableCopyAreInputErrors) {
  std::string d = mvtest::makeTempDir("mvscr");
  ASSERT_FALSE(d.empty());
  try {
    CheckpointText::fromFile(d + "/absent", "Test.FChk");
    FAIL() << "no input error";
  } catch (const mv::Stop& s) {
    EXPECT_TRUE(s.isError());
    EXPECT_EQ(s.file, "Test.FChk");
    EXPECT_EQ(s.line, 0);
    EXPECT_EQ(s.message(), "cannot open: No such file or directory");
  }
  // A directory opens, but cannot be read.
  try {
    CheckpointText::fromFile(d, "Test.FChk");
    FAIL() << "no input error";
  } catch (const mv::Stop& s) {
    EXPECT_TRUE(s.isError());
    EXPECT_EQ(s.message(), "cannot read: Is a directory");
  }
  // The copy cannot replace a directory.
  fs::create_directory(d + "/Tmp");
  try {
    text("a\n").writeCopy(d + "/Tmp");
    FAIL() << "no output error";
  } catch (const mv::Stop& s) {
    EXPECT_TRUE(s.isError());
    EXPECT_EQ(s.file, d + "/Tmp");
    EXPECT_EQ(s.message(), "cannot write: Is a directory");
  }
  fs::remove_all(d);
}

// ---------------------------------------------------------------- free format

TEST(FreeReader, ValuesOverLinesWithBlanksTabsAndCommas) {
  const CheckpointText t = text("  1 2\t3\n\n 4 , 5,6\n7 8 9\nnext\n");
  int v[7] = {};
  ReadResult r = mv::readInts(t, 1, 7, v);
  EXPECT_EQ(r.status, ReadStatus::Ok);
  EXPECT_EQ(r.count, 7);
  for (int k = 0; k < 7; ++k) EXPECT_EQ(v[k], k + 1);
  // The rest of the line of the last value is skipped.
  EXPECT_EQ(r.next, 5);
  // A read may start at any line.
  int w[2] = {};
  r = mv::readInts(t, 3, 2, w);
  EXPECT_EQ(w[0], 4);
  EXPECT_EQ(w[1], 5);
  EXPECT_EQ(r.next, 4);
}

TEST(FreeReader, NullValuesSlashAndRepeatCounts) {
  int v[12];
  for (int& x : v) x = -1;
  ReadResult r = mv::readInts(text("1,,3 , ,5\n3*7 2* 9\n4 / 99 99\nafter\n"), 1, 12, v);
  EXPECT_EQ(r.status, ReadStatus::Ok);
  int want[12] = {1, -1, 3, -1, 5, 7, 7, 7, -1, -1, 9, 4};
  for (int k = 0; k < 12; ++k) EXPECT_EQ(v[k], want[k]) << "item " << k;

  // A slash ends the request: later items keep their values, the line is done.
  double d[4] = {-1, -1, -1, -1};
  r = mv::readReals(text("1 2 / 3\n4\n"), 1, 4, d);
  EXPECT_EQ(r.status, ReadStatus::Ok);
  EXPECT_EQ(r.count, 2);
  EXPECT_DOUBLE_EQ(d[1], 2.0);
  EXPECT_DOUBLE_EQ(d[2], -1.0);
  EXPECT_EQ(r.next, 2);
}

TEST(FreeReader, RealNotations) {
  double v[11] = {};
  ASSERT_EQ(mv::readReals(text("1.5D-3 1.5E-3 0.0015 1.5q-3 -2 .25 3. 1.5e+2\n0.12345678-100 "
                               "-1.23456789-105 2.5+3\n"),
                          1, 11, v)
                .status,
            ReadStatus::Ok);
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
  int iv[3] = {};
  ReadResult r = mv::readInts(text("1 2.0 3\n"), 1, 3, iv);
  EXPECT_EQ(r.status, ReadStatus::Error);
  EXPECT_EQ(r.count, 1);
  EXPECT_EQ(r.detail, "'2.0' is not an integer");
  EXPECT_EQ(r.line, 1);

  EXPECT_EQ(mv::readInts(text("1 2E3\n"), 1, 2, iv).status, ReadStatus::Error);
  r = mv::readInts(text("1 99999999999\n"), 1, 2, iv);
  EXPECT_EQ(r.status, ReadStatus::Error);
  EXPECT_EQ(r.detail, "'99999999999' is not an integer");

  double dv[4] = {};
  r = mv::readReals(text("1.0 2.0\nShell types   I   N= 3\n"), 1, 4, dv);
  EXPECT_EQ(r.status, ReadStatus::Error);
  EXPECT_EQ(r.count, 2);
  EXPECT_EQ(r.detail, "'Shell' is not a real number");
  EXPECT_EQ(r.line, 2);
  EXPECT_EQ(r.next, 3);

  for (const std::string bad : {"1.5x", "1.5E", ".", "+", "1.0-", "--1"}) {
    r = mv::readReals(text(bad + "\n"), 1, 1, dv);
    EXPECT_EQ(r.status, ReadStatus::Error) << bad;
    EXPECT_EQ(r.detail, "'" + bad + "' is not a real number");
  }
  r = mv::readReals(text("0*3\n"), 1, 1, dv);
  EXPECT_EQ(r.status, ReadStatus::Error);
  EXPECT_EQ(r.detail, "'0*3' has no valid repeat count");

  const CheckpointText two = text("1.0 2.0\n3.0\n");
  r = mv::readReals(two, 1, 4, dv);
  EXPECT_EQ(r.status, ReadStatus::End);
  EXPECT_EQ(r.count, 3);
  EXPECT_EQ(r.detail, "end of file after 3 of 4 values");
  EXPECT_EQ(r.line, 0);
  EXPECT_DOUBLE_EQ(dv[2], 3.0);
  EXPECT_EQ(r.next, two.lineCount() + 1);
}

TEST(FreeReader, NonFiniteSpellingsAreNumbers) {
  double v[5] = {};
  ASSERT_EQ(mv::readReals(text("NaN -Inf Infinity 1.0E+999 nan(0x1)\n"), 1, 5, v).status,
            ReadStatus::Ok);
  EXPECT_TRUE(std::isnan(v[0]));
  EXPECT_TRUE(std::isinf(v[1]) && v[1] < 0);
  EXPECT_TRUE(std::isinf(v[2]) && v[2] > 0);
  EXPECT_TRUE(std::isinf(v[3]));
  EXPECT_TRUE(std::isnan(v[4]));
}

TEST(FreeReader, ColumnsOfAMatrix) {
  mv::Matrix a(3, 3);
  ASSERT_EQ(mv::readRealColumns(text("1 2 3 4 5 6\n"), 1, 2, 3, a.view()).status, ReadStatus::Ok);
  EXPECT_DOUBLE_EQ(a(1, 1), 1.0);
  EXPECT_DOUBLE_EQ(a(2, 1), 2.0);
  EXPECT_DOUBLE_EQ(a(3, 1), 0.0);
  EXPECT_DOUBLE_EQ(a(1, 2), 3.0);
  EXPECT_DOUBLE_EQ(a(2, 3), 6.0);
  EXPECT_DOUBLE_EQ(a(3, 3), 0.0);
  // Nothing to read: nothing happens.
  const ReadResult r = mv::readRealColumns(text(""), 1, 0, 3, a.view());
  EXPECT_EQ(r.status, ReadStatus::Ok);
  EXPECT_EQ(r.count, 0);
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
  EXPECT_EQ(mv::quoted("Current"), "'Current'");
}
