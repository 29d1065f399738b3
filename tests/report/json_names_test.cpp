// File names in the JSON object: UTF-8 as given, anything else escaped so
// that the bytes can be recovered.
#include <gtest/gtest.h>

#include <string>

#include "report/json.h"

namespace {

TEST(JsonFileName, Utf8IsKeptAndOtherBytesAreEscaped) {
  const struct {
    std::string name;
    bool utf8;
    std::string escaped;
  } cases[] = {
      {"", true, ""},
      {"runs/water.fchk", true, "runs/water.fchk"},
      {"a\\b", true, "a\\\\b"},
      {"w\xc3\xa4ter", true, "w\xc3\xa4ter"},               // two bytes
      {"\xe2\x82\xac", true, "\xe2\x82\xac"},               // three bytes
      {"\xf0\x9f\x98\x80", true, "\xf0\x9f\x98\x80"},       // four bytes
      {"\xff", false, "\\xFF"},                             // never in UTF-8
      {"a\x80z", false, "a\\x80z"},                         // continuation alone
      {"\xc3", false, "\\xC3"},                             // cut at the end
      {"\xc0\xaf", false, "\\xC0\\xAF"},                    // overlong '/'
      {"\xe0\x80\xaf", false, "\\xE0\\x80\\xAF"},           // overlong, three bytes
      {"\xed\xa0\x80", false, "\\xED\\xA0\\x80"},           // a surrogate
      {"\xf4\x90\x80\x80", false, "\\xF4\\x90\\x80\\x80"},  // above U+10FFFF
      {"\xe2\x82", false, "\\xE2\\x82"},                    // three bytes cut short
      {"\\\xfe\xc3\xa4", false, "\\\\\\xFE\xc3\xa4"},       // backslash, bad byte, UTF-8
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.escaped);
    EXPECT_EQ(mv::isUtf8(c.name), c.utf8);
    EXPECT_EQ(mv::escapeNonUtf8(c.name), c.escaped);
  }
}

}  // namespace
