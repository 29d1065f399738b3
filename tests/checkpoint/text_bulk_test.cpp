// The checkpoint text and its scratch copy, for files much larger than the pieces in which they are
// read, and the conversion of many real numbers, checked against simple
// independent readings of the same text.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <random>
#include <string>
#include <vector>

#include "checkpoint/freeformat.h"
#include "checkpoint/text.h"
#include "core/parallel.h"
#include "support/testutil.h"

namespace fs = std::filesystem;

namespace {

// The lines of text as the copy must hold them: split at line feeds, a
// carriage return before a line feed dropped, cut or padded to 80 columns.
std::vector<std::string> expectedLines(const std::string& text) {
  std::vector<std::string> out;
  std::size_t start = 0;
  while (start < text.size()) {
    std::size_t end = text.find('\n', start);
    std::size_t next = end == std::string::npos ? text.size() : end + 1;
    if (end == std::string::npos) end = text.size();
    std::string l = text.substr(start, end - start);
    if (!l.empty() && l.back() == '\r') l.pop_back();
    l.resize(80, ' ');
    out.push_back(l);
    start = next;
  }
  return out;
}

// Several hundred kilobytes of lines of every length from 0 to 200, with
// and without carriage returns, and carriage returns inside lines.
std::string mixedText() {
  std::mt19937 gen(7);
  std::string text;
  int serial = 0;
  while (text.size() < 600000) {
    const int len = static_cast<int>(gen() % 201);
    std::string l;
    for (int k = 0; k < len; ++k) l += static_cast<char>('!' + (serial + k) % 90);
    if (gen() % 7 == 0 && !l.empty()) l[gen() % l.size()] = '\r';
    if (gen() % 3 == 0) l += '\r';
    text += l;
    text += '\n';
    ++serial;
  }
  return text;
}

void expectCopy(const std::string& text, const std::string& what) {
  const std::string dir = mvtest::makeTempDir("mvbulk");
  ASSERT_FALSE(dir.empty());
  const std::string in = dir + "/Test.FChk";
  const std::string out = dir + "/Tmp";
  mvtest::writeFile(in, text);
  const mv::CheckpointText s = mv::CheckpointText::fromFile(in, "Test.FChk");
  s.writeCopy(out);
  const std::vector<std::string> want = expectedLines(text);
  ASSERT_EQ(s.lineCount(), static_cast<int>(want.size())) << what;
  std::string written;
  for (int k = 1; k <= s.lineCount(); ++k) {
    ASSERT_EQ(std::string(s.line(k)), want[k - 1]) << what << ", line " << k;
    written += want[k - 1] + "\n";
  }
  EXPECT_EQ(mvtest::readFile(out), written) << what;
  fs::remove_all(dir);
}

}  // namespace

TEST(CheckpointTextLarge, LinesOfAllLengthsAcrossReadPieces) {
  const std::string text = mixedText();
  expectCopy(text, "mixed lines");
  expectCopy(text.substr(0, text.size() - 1), "no final line feed");
  expectCopy(text + "tail\r", "final line with a carriage return and no line feed");
}

TEST(CheckpointTextLarge, LineEndsAtEveryOffsetOfAPowerOfTwo) {
  // Line ends and long lines placed around every offset near 2^k (k >= 12),
  // where pieces of a read are likely to end: a CR LF split over two
  // pieces, a line of more than 80 columns split over two pieces.
  for (int shift = 0; shift < 4; ++shift) {
    std::string text;
    for (std::size_t mark = 4096; mark <= (std::size_t{1} << 18); mark *= 2) {
      const std::size_t at = mark - 1 + static_cast<std::size_t>(shift);
      std::string filler(at - text.size() - 40, 'f');
      for (std::size_t k = 79; k < filler.size(); k += 80) filler[k] = '\n';
      filler.back() = '\n';
      text += filler;
      std::string lead(at - text.size() - 1, 'a');  // a short line whose CR LF ends at `at`
      text += lead + "\r\n";
      text += std::string(150, 'b') + "\n";
    }
    expectCopy(text, "shift " + std::to_string(shift));
  }
}

TEST(FreeReaderBulk, RealsMatchTheCorrectlyRoundedConversion) {
  // Many reals in the notations of checkpoint files and beyond: E16.8 as
  // written by Gaussian, 15 and 17 significant digits, fixed point, integers,
  // leading zeros, D exponents and exponents beyond 10^22.  Each must come
  // out as the correctly rounded double of its decimal text (strtod).
  std::mt19937_64 gen(11);
  std::uniform_real_distribution<double> mant(-10.0, 10.0);
  std::uniform_int_distribution<int> expo(-40, 40);
  std::vector<std::string> tokens;
  char buf[64];
  for (int k = 0; k < 4000; ++k) {
    const double x = mant(gen) * std::pow(10.0, expo(gen));
    const char* formats[] = {"%.8E", "%.14E", "%.16E", "%.6f", "%.17g", "%.0f"};
    std::snprintf(buf, sizeof buf, formats[k % 6], x);
    if (std::strlen(buf) > 38) continue;  // two to a line of 80 columns
    tokens.emplace_back(buf);
  }
  for (const char* t : {"0.00000000E+00",
                        "-0.00000000E+00",
                        "000123.4500",
                        "-.5",
                        "7.",
                        "123456789012345",
                        "1234567890123456",
                        "0.1234567890123456789",
                        "9007199254740993",
                        "1.0E22",
                        "1.0E23",
                        "4.9E-324",
                        "1.7976931348623157E308",
                        "2.2250738585072014E-308",
                        "0.30000000000000004",
                        "1.5D-3",
                        "-2.5d+4",
                        "+7.25",
                        "1.0E+0005",
                        "2.5q2",
                        "-3.75Q-01"})
    tokens.emplace_back(t);

  std::string text;
  for (std::size_t k = 0; k < tokens.size(); ++k) text += tokens[k] + (k % 2 == 1 ? "\n" : " ");
  const mv::CheckpointText s = mv::CheckpointText::fromString(text, "Test.FChk");
  std::vector<double> got(tokens.size(), 99.0);
  ASSERT_EQ(mv::readReals(s, 1, static_cast<long long>(got.size()), got.data()).status,
            mv::ReadStatus::Ok);
  for (std::size_t k = 0; k < tokens.size(); ++k) {
    std::string c = tokens[k];
    for (char& ch : c)
      if (ch == 'D' || ch == 'd' || ch == 'Q' || ch == 'q') ch = 'E';
    const double want = std::strtod(c.c_str(), nullptr);
    EXPECT_EQ(std::memcmp(&got[k], &want, sizeof want), 0)
        << tokens[k] << " read as " << got[k] << ", expected " << want;
  }
}

// Large files are split into lines on several threads; the lines must be
// those of one thread.
TEST(ParallelReading, LinesOfALargeFileOnThreads) {
  std::string text;
  while (text.size() < (std::size_t{9} << 20)) text += mixedText();
  text += "last line without a line feed\r";
  const std::string dir = mvtest::makeTempDir("mvpar");
  mvtest::writeFile(dir + "/big.fchk", text);
  mv::ThreadPool pool(3);
  const mv::CheckpointText one = mv::CheckpointText::fromFile(dir + "/big.fchk", "x");
  const mv::CheckpointText three =
      mv::CheckpointText::fromFile(dir + "/big.fchk", "x", mv::Parallel(pool, 3));
  ASSERT_EQ(one.lineCount(), three.lineCount());
  EXPECT_EQ(one.lineCount(), static_cast<int>(expectedLines(text).size()));
  for (int k = 1; k <= one.lineCount(); ++k) ASSERT_EQ(one.line(k), three.line(k)) << "line " << k;
  fs::remove_all(dir);
}
