// Text made safe for a diagnostic line: what is escaped and what is kept.
#include "core/printable.h"

#include <gtest/gtest.h>

#include <string>

TEST(Printable, ControlsAndInvalidUtf8AreEscapedTheRestKept) {
  struct {
    std::string in, out;
  } const cases[] = {
      {"plain ASCII 0-9 'x' (y) \\ ~", "plain ASCII 0-9 'x' (y) \\ ~"},
      {"a\nb\tc\rd", "a\\x0ab\\x09c\\x0dd"},
      {"\x1b[2J\x7f", "\\x1b[2J\\x7f"},
      {std::string("nul\0byte", 8), "nul\\x00byte"},
      {"caf\xc3\xa9 \xe2\x82\xac \xf0\x9f\x98\x80", "caf\xc3\xa9 \xe2\x82\xac \xf0\x9f\x98\x80"},
      {"\xc2\x9b"
       "31m \xc2\x85",
       "\\xc2\\x9b31m \\xc2\\x85"},  // C1 controls
      {"\xc2\xa0", "\xc2\xa0"},      // first character after them
      {"\xff\xfe", "\\xff\\xfe"},
      {"\xc3", "\\xc3"},                             // cut short
      {"\xc0\xaf", "\\xc0\\xaf"},                    // overlong
      {"\xe0\x80\xaf", "\\xe0\\x80\\xaf"},           // overlong, three bytes
      {"\xed\xa0\x80", "\\xed\\xa0\\x80"},           // a surrogate
      {"\xf4\x90\x80\x80", "\\xf4\\x90\\x80\\x80"},  // beyond U+10FFFF
      {"\xe2\x82", "\\xe2\\x82"},
  };
  for (const auto& c : cases) EXPECT_EQ(mv::printable(c.in), c.out) << c.out;
}
