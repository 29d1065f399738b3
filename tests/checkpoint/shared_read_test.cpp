// Large sections read on several threads: the same values, status, count,
// next line and trailing text as the serial read, for Gaussian's layout and
// for every layout that must fall back to the serial read.
#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

#include "checkpoint/freeformat.h"
#include "checkpoint/text.h"
#include "core/matrix.h"
#include "core/parallel.h"

namespace {

// n values k * 1.25e-3 - 7, `per` to a line, in E16.8.
std::string section(int n, int per) {
  std::string s = "Label                                      R   N=" + std::to_string(n) + "\n";
  char b[32];
  for (int k = 0; k < n; ++k) {
    std::snprintf(b, sizeof b, "%16.8E", k * 1.25e-3 - 7);
    s += b;
    if ((k + 1) % per == 0 || k + 1 == n) s += '\n';
  }
  return s + "Next label                                 I            1\n";
}

}  // namespace

TEST(SharedRead, ThreadsGiveWhatTheSerialReadGives) {
  const int rows = 300, cols = 250;  // 75,000 values: above the threshold
  const int n = rows * cols;
  const std::string plain = section(n, 5);
  auto edit = [&](const std::string& from, const std::string& to) {
    std::string t = plain;
    t.replace(t.find(from), from.size(), to);
    return t;
  };
  const struct {
    const char* what;
    std::string text;
  } cases[] = {
      {"five to a line", plain},
      {"four to a line", section(n, 4)},
      {"a blank line first", edit("\n", "\n" + std::string(16, ' ') + "\n")},
      {"a value split by a blank", edit("-6.99875000E+00", "-6.9987 5000E+00")},
      {"a comma", edit(" -6.99875000E+00", ",-6.99875000E+00")},
      {"a repeat count", edit("-6.99875000E+00", "     1*-6.99875")},
      {"a long mantissa", edit("-6.99875000E+00", "-6.9987500000000000001")},
      {"a value too many on the last line", edit("8.67487500E+01\n", "8.67487500E+01 1.0\n")},
      {"the section cut short", plain.substr(0, plain.size() / 2)},
  };
  mv::ThreadPool pool(3);
  const mv::Parallel par(pool, 3);
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    const mv::CheckpointText t = mv::CheckpointText::fromString(c.text, "x");
    mv::Matrix one(rows, cols), three(rows, cols);
    const mv::ReadResult a = mv::readRealColumns(t, 2, rows, cols, one.view());
    const mv::ReadResult b = mv::readRealColumns(t, 2, rows, cols, three.view(), par);
    EXPECT_EQ(static_cast<int>(b.status), static_cast<int>(a.status));
    EXPECT_EQ(b.count, a.count);
    EXPECT_EQ(b.next, a.next);
    EXPECT_EQ(b.rest, a.rest);
    EXPECT_EQ(b.detail, a.detail);
    int differ = 0;
    for (int j = 1; j <= cols; ++j)
      for (int i = 1; i <= rows; ++i) differ += one(i, j) != three(i, j);
    EXPECT_EQ(differ, 0);
    std::vector<double> v1, v3;
    const mv::ReadResult c1 = mv::readReals(t, 2, n, v1, n);
    const mv::ReadResult c3 = mv::readReals(t, 2, n, v3, n, par);
    EXPECT_EQ(c3.count, c1.count);
    EXPECT_EQ(c3.rest, c1.rest);
    EXPECT_EQ(v3, v1);
  }
  // Gaussian's layout is read in full, to the line after the section.
  const mv::CheckpointText t = mv::CheckpointText::fromString(plain, "x");
  mv::Matrix m(rows, cols);
  const mv::ReadResult r = mv::readRealColumns(t, 2, rows, cols, m.view(), par);
  EXPECT_EQ(r.status, mv::ReadStatus::Ok);
  EXPECT_EQ(r.next, 2 + n / 5);
  EXPECT_EQ(m(rows, cols), (n - 1) * 1.25e-3 - 7);
}
