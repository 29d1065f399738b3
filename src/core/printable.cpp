#include "core/printable.h"

namespace mv {

namespace {

bool continuation(unsigned char c) {
  return (c & 0xC0) == 0x80;
}

// Length of the valid UTF-8 sequence at the start of s, 0 when there is none.
std::size_t sequence(std::string_view s) {
  const auto c = static_cast<unsigned char>(s[0]);
  std::size_t n = 0;
  unsigned char lo = 0x80, hi = 0xBF;  // allowed range of the second byte
  if (c >= 0xC2 && c <= 0xDF) {
    n = 2;
  } else if (c >= 0xE0 && c <= 0xEF) {
    n = 3;
    if (c == 0xE0) lo = 0xA0;
    if (c == 0xED) hi = 0x9F;  // no surrogates
  } else if (c >= 0xF0 && c <= 0xF4) {
    n = 4;
    if (c == 0xF0) lo = 0x90;
    if (c == 0xF4) hi = 0x8F;
  } else {
    return 0;
  }
  if (s.size() < n) return 0;
  const auto c1 = static_cast<unsigned char>(s[1]);
  if (c1 < lo || c1 > hi) return 0;
  for (std::size_t k = 2; k < n; ++k)
    if (!continuation(static_cast<unsigned char>(s[k]))) return 0;
  return n;
}

void escape(std::string& out, unsigned char c) {
  static const char hex[] = "0123456789abcdef";
  out += "\\x";
  out += hex[c >> 4];
  out += hex[c & 15];
}

}  // namespace

std::string printable(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  std::size_t i = 0;
  while (i < text.size()) {
    const auto c = static_cast<unsigned char>(text[i]);
    if (c >= 0x20 && c < 0x7F) {
      out += static_cast<char>(c);
      ++i;
      continue;
    }
    const std::size_t n = c < 0x80 ? 0 : sequence(text.substr(i));
    // U+0080 .. U+009F are the C1 controls (CSI among them): escaped too.
    const bool c1 = n == 2 && c == 0xC2 && static_cast<unsigned char>(text[i + 1]) < 0xA0;
    if (n == 0 || c1) {
      for (std::size_t k = 0; k < (c1 ? 2 : 1); ++k)
        escape(out, static_cast<unsigned char>(text[i + k]));
      i += c1 ? 2 : 1;
      continue;
    }
    out.append(text.substr(i, n));
    i += n;
  }
  return out;
}

}  // namespace mv
