// The text kept as its bytes and line offsets: lines read as 80 blank-padded
// columns whatever their stored length, and a cost of a few bytes a line;
// the memory a run on a file is estimated to need.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "checkpoint/reader.h"
#include "checkpoint/text.h"
#include "core/memory.h"
#include "support/testutil.h"

using mv::CheckpointText;

TEST(CheckpointTextCompact, ShortLinesReadAsPaddedAndLabelsMatchThroughThePadding) {
  const CheckpointText t =
      CheckpointText::fromString("Charge\r\n\nabc\rdef\n   x\nSCF Energy  \nlast", "x");
  ASSERT_EQ(t.lineCount(), 6);
  const struct {
    int k;
    std::string stored;
  } lines[] = {{1, "Charge"},       {2, ""},    {3, "abc\rdef"}, {4, "   x"},
               {5, "SCF Energy  "}, {6, "last"}};
  for (const auto& l : lines) {
    SCOPED_TRACE(l.k);
    EXPECT_EQ(t.text(l.k), l.stored);
    EXPECT_EQ(t.line(l.k), l.stored + std::string(80 - l.stored.size(), ' '));
    EXPECT_EQ(t.line(l.k)[79], ' ');
    EXPECT_EQ(t.line(l.k)[200], ' ');
  }
  // A label with trailing blanks matches a line that stops before them.
  EXPECT_TRUE(t.startsWith(1, "Charge          "));
  EXPECT_TRUE(t.startsWith(5, "SCF Energy      "));
  EXPECT_FALSE(t.startsWith(1, "Charge         x"));
  EXPECT_TRUE(t.holdsAt(4, 3, "x   "));
  EXPECT_FALSE(t.holdsAt(4, 2, "x"));
  EXPECT_TRUE(t.holdsAt(2, 8, "        "));
  EXPECT_FALSE(t.holdsAt(4, 78, "   "));  // beyond column 80
  EXPECT_EQ(t.line(4).substr(2, 4), " x  ");
  EXPECT_EQ(t.line(4).substr(78, 10), "  ");
  EXPECT_EQ(t.bytesFrom(6), 4u);
  EXPECT_EQ(t.bytesFrom(7), 0u);
}

TEST(CheckpointTextCompact, LinesCostTheirBytesAndAnOffset) {
  // 2 MB of empty lines, and of 81-column lines: about 4 bytes a line more
  // than the text itself, where 80-column records took 80 bytes a line.
  for (const std::string& one : {std::string("\n"), std::string(81, 'x') + "\n"}) {
    std::string text;
    const int n = 2000000 / static_cast<int>(one.size());
    for (int k = 0; k < n; ++k) text += one;
    const CheckpointText t = CheckpointText::fromString(text, "x");
    ASSERT_EQ(t.lineCount(), n);
    EXPECT_LE(t.storageBytes(), text.size() + 4 * static_cast<std::size_t>(n + 1) + 64);
    EXPECT_EQ(t.text(n).size(), one.size() == 1 ? 0u : 80u);
  }
}

TEST(CheckpointTextCompact, RunMemoryIsEstimatedFromTheDeclaredCounts) {
  const std::string dir = mvtest::makeTempDir("mvestimate");
  const struct {
    std::string text;
    long long nbf, natoms;
  } cases[] = {
      {mvtest::readFile(mvtest::dataPath("h2o_rhf_sto3g.fchk")), 7, 3},
      {"title\nSP RHF\nNumber of atoms                            I            20000\n"
       "Number of basis functions                  I          1000007\r\n",
       1000007, 20000},
      {"no counts at all\n", 0, 0},
  };
  for (const auto& c : cases) {
    mvtest::writeFile(dir + "/f", c.text);
    const std::uint64_t size = c.text.size();
    EXPECT_EQ(mv::estimatedRunMemory(dir + "/f"),
              size + size / 16 + mv::analysisMemory(c.nbf, c.natoms));
  }
  EXPECT_EQ(mv::estimatedRunMemory(dir + "/absent"), 0u);
  std::filesystem::remove_all(dir);
}
