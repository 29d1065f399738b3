#include "report/xmlcheck.h"

#include <cmath>
#include <cstdlib>

namespace mvtest {
namespace {

bool nameStart(char c) {
  return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || c == '_' || c == ':';
}
bool nameChar(char c) {
  return nameStart(c) || (c >= '0' && c <= '9') || c == '-' || c == '.';
}
bool space(char c) {
  return c == ' ' || c == '\t' || c == '\n' || c == '\r';
}

void appendUtf8(std::string& out, unsigned long cp) {
  if (cp < 0x80) {
    out += static_cast<char>(cp);
  } else if (cp < 0x800) {
    out += static_cast<char>(0xC0 | (cp >> 6));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  } else if (cp < 0x10000) {
    out += static_cast<char>(0xE0 | (cp >> 12));
    out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  } else {
    out += static_cast<char>(0xF0 | (cp >> 18));
    out += static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
    out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  }
}

bool xmlChar(unsigned long cp) {
  return cp == 0x9 || cp == 0xA || cp == 0xD || (cp >= 0x20 && cp <= 0xD7FF) ||
         (cp >= 0xE000 && cp <= 0xFFFD) || (cp >= 0x10000 && cp <= 0x10FFFF);
}

// The whole text as code points; "" when it is valid UTF-8 of XML
// characters, else the reason.
std::string checkEncoding(const std::string& s) {
  std::size_t i = 0;
  while (i < s.size()) {
    const auto c = static_cast<unsigned char>(s[i]);
    unsigned long cp = 0;
    std::size_t len = 0;
    if (c < 0x80) {
      cp = c, len = 1;
    } else if (c >= 0xC2 && c <= 0xDF) {
      cp = c & 0x1F, len = 2;
    } else if (c >= 0xE0 && c <= 0xEF) {
      cp = c & 0x0F, len = 3;
    } else if (c >= 0xF0 && c <= 0xF4) {
      cp = c & 0x07, len = 4;
    } else {
      return "invalid UTF-8 lead byte at " + std::to_string(i);
    }
    if (i + len > s.size()) return "truncated UTF-8 at " + std::to_string(i);
    for (std::size_t k = 1; k < len; ++k) {
      const auto b = static_cast<unsigned char>(s[i + k]);
      if ((b & 0xC0) != 0x80) return "invalid UTF-8 continuation at " + std::to_string(i + k);
      cp = (cp << 6) | (b & 0x3F);
    }
    const unsigned long minimum[] = {0, 0, 0x80, 0x800, 0x10000};
    if (cp < minimum[len]) return "overlong UTF-8 at " + std::to_string(i);
    if (!xmlChar(cp)) return "character U+" + std::to_string(cp) + " not allowed in XML";
    i += len;
  }
  return "";
}

class Parser {
 public:
  explicit Parser(const std::string& s) : s_(s) {}

  XmlDoc run() {
    doc_.error = checkEncoding(s_);
    if (!doc_.ok()) return doc_;
    try {
      if (s_.compare(0, 5, "<?xml") == 0) pi();
      misc();
      if (!at("<") || !nameStart(peek(1))) fail("no root element");
      element(0);
      misc();
      if (i_ != s_.size()) fail("content after the root element");
    } catch (const std::string& e) {
      doc_.error = e + " (at byte " + std::to_string(i_) + ")";
    }
    return doc_;
  }

 private:
  [[noreturn]] void fail(const std::string& why) { throw why; }
  char peek(std::size_t k = 0) const { return i_ + k < s_.size() ? s_[i_ + k] : '\0'; }
  bool at(const char* lit) const {
    return s_.compare(i_, std::char_traits<char>::length(lit), lit) == 0;
  }
  void skipSpace() {
    while (i_ < s_.size() && space(s_[i_])) ++i_;
  }
  std::string name() {
    if (!nameStart(peek())) fail("bad name");
    const std::size_t b = i_;
    while (nameChar(peek())) ++i_;
    return s_.substr(b, i_ - b);
  }
  void pi() {
    const std::size_t e = s_.find("?>", i_);
    if (e == std::string::npos) fail("unterminated processing instruction");
    i_ = e + 2;
  }
  void comment() {
    const std::size_t e = s_.find("--", i_ + 4);
    if (e == std::string::npos || s_.compare(e, 3, "-->") != 0) fail("bad comment");
    i_ = e + 3;
  }
  // Whitespace, comments and processing instructions outside the root.
  void misc() {
    for (;;) {
      skipSpace();
      if (at("<!--")) {
        comment();
      } else if (at("<?")) {
        pi();
      } else {
        return;
      }
    }
  }
  // A reference after '&': its replacement text.
  std::string reference() {
    const std::size_t e = s_.find(';', i_);
    if (e == std::string::npos || e - i_ > 12) fail("unterminated reference");
    const std::string r = s_.substr(i_ + 1, e - i_ - 1);
    i_ = e + 1;
    if (r == "amp") return "&";
    if (r == "lt") return "<";
    if (r == "gt") return ">";
    if (r == "quot") return "\"";
    if (r == "apos") return "'";
    if (r.size() >= 2 && r[0] == '#') {
      const bool hex = r[1] == 'x';
      const std::string digits = r.substr(hex ? 2 : 1);
      if (digits.empty() || digits.find_first_not_of(hex ? "0123456789abcdefABCDEF"
                                                         : "0123456789") != std::string::npos) {
        fail("bad character reference &" + r + ";");
      }
      const unsigned long cp = std::strtoul(digits.c_str(), nullptr, hex ? 16 : 10);
      if (!xmlChar(cp)) fail("reference to a character not allowed: &" + r + ";");
      std::string out;
      appendUtf8(out, cp);
      return out;
    }
    fail("undefined entity &" + r + ";");
  }
  void element(int depth) {
    ++i_;  // '<'
    XmlElement el;
    el.name = name();
    el.depth = depth;
    for (;;) {
      const bool spaced = space(peek());
      skipSpace();
      if (at("/>") || at(">")) break;
      if (!spaced) fail("attributes not separated by whitespace in <" + el.name + ">");
      const std::string a = name();
      skipSpace();
      if (peek() != '=') fail("attribute " + a + " without a value");
      ++i_;
      skipSpace();
      const char q = peek();
      if (q != '"' && q != '\'') fail("unquoted value of attribute " + a);
      ++i_;
      std::string v;
      while (peek() != q) {
        if (i_ >= s_.size()) fail("unterminated attribute value");
        if (peek() == '<') fail("'<' in the value of attribute " + a);
        if (peek() == '&') {
          v += reference();
        } else {
          v += s_[i_++];
        }
      }
      ++i_;
      if (!el.attrs.emplace(a, v).second) fail("attribute " + a + " twice in <" + el.name + ">");
    }
    const std::size_t slot = doc_.elements.size();
    doc_.elements.push_back(el);
    if (at("/>")) {
      i_ += 2;
      return;
    }
    ++i_;  // '>'
    std::string text;
    for (;;) {
      if (i_ >= s_.size()) fail("unclosed element <" + el.name + ">");
      if (at("</")) {
        i_ += 2;
        const std::string closing = name();
        skipSpace();
        if (peek() != '>') fail("bad end tag </" + closing);
        ++i_;
        if (closing != el.name) fail("<" + el.name + "> closed by </" + closing + ">");
        doc_.elements[slot].text = text;
        return;
      }
      if (at("<!--")) {
        comment();
      } else if (at("<![CDATA[") || at("<!")) {
        fail("declaration or CDATA section inside <" + el.name + ">");
      } else if (at("<?")) {
        pi();
      } else if (peek() == '<') {
        element(depth + 1);
      } else if (peek() == '&') {
        text += reference();
      } else {
        if (at("]]>")) fail("']]>' in character data");
        text += s_[i_++];
      }
    }
  }

  const std::string& s_;
  std::size_t i_ = 0;
  XmlDoc doc_;
};

}  // namespace

double XmlElement::num(const std::string& a) const {
  const std::string v = attr(a);
  if (v.empty()) return std::nan("");
  char* end = nullptr;
  const double d = std::strtod(v.c_str(), &end);
  return end && *end == '\0' ? d : std::nan("");
}

std::vector<const XmlElement*> XmlDoc::byClass(const std::string& cls) const {
  std::vector<const XmlElement*> out;
  for (const auto& e : elements) {
    if (e.attr("class") == cls) out.push_back(&e);
  }
  return out;
}

XmlDoc parseXml(const std::string& text) {
  return Parser(text).run();
}

}  // namespace mvtest
