// The text kept as its bytes and line offsets: lines read as 80 blank-padded
// columns whatever their stored length, and a cost of a few bytes a line.
#include <gtest/gtest.h>

#include <string>

#include "checkpoint/text.h"

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
