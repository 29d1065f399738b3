// The report writers: the layout writer, which formats the items of one
// write request under a record layout such as "(1X,I3,A4,8F9.4)", and the
// free-format writer, which places items one after another on records of at
// most 80 columns.
#include "report/format.h"

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <ostream>
#include <stdexcept>

namespace mv {

namespace {

// ------------------------------------------------------------ number texts

// printf-style conversion of one double into a std::string.
std::string printfDouble(const char* fmt, int precision, double x) {
  int n = std::snprintf(nullptr, 0, fmt, precision, x);
  std::string s(static_cast<std::size_t>(n) + 1, '\0');
  std::snprintf(s.data(), s.size(), fmt, precision, x);
  s.resize(static_cast<std::size_t>(n));
  return s;
}

bool hasNonZeroDigit(const std::string& s) {
  for (char ch : s)
    if (ch >= '1' && ch <= '9') return true;
  return false;
}

// Right-justify `text` in a field of w columns (w = 0: the text as it is).
// A text one column too long whose digits start with the 0 before the
// decimal point loses that 0; any other text too long gives w asterisks.
std::string fitNumber(const std::string& sign, const std::string& digits, int w) {
  std::string text = sign + digits;
  if (w == 0) return text;
  const auto width = static_cast<std::size_t>(w);
  if (text.size() <= width) return std::string(width - text.size(), ' ') + text;
  if (text.size() == width + 1 && digits.size() >= 2 && digits[0] == '0' && digits[1] == '.')
    return sign + digits.substr(1);
  return std::string(width, '*');
}

// Iw (Iw.m: at least m digits).
std::string formatI(long long v, int w, int m) {
  unsigned long long mag =
      v < 0 ? 0ULL - static_cast<unsigned long long>(v) : static_cast<unsigned long long>(v);
  std::string digits = std::to_string(mag);
  if (static_cast<int>(digits.size()) < m)
    digits.insert(0, static_cast<std::size_t>(m) - digits.size(), '0');
  if (m == 0 && mag == 0 && w > 0) digits.clear();  // I w.0 of zero is all blanks
  std::string text = (v < 0 ? "-" : "") + digits;
  if (w == 0) return text;
  const auto width = static_cast<std::size_t>(w);
  if (text.size() > width) return std::string(width, '*');
  return std::string(width - text.size(), ' ') + text;
}

// Fw.d: fixed point with d decimals, rounded as "%#.*f" rounds.
std::string formatF(double x, int w, int d) {
  if (!std::isfinite(x)) return std::string(static_cast<std::size_t>(w == 0 ? 1 : w), '*');
  std::string digits = printfDouble("%#.*f", d, std::fabs(x));
  std::string sign = (std::signbit(x) && hasNonZeroDigit(digits)) ? "-" : "";
  return fitNumber(sign, digits, w);
}

// Ew.d / Dw.d: 0.ddddE+ee with d significant digits.
std::string formatE(double x, int w, int d, char letter) {
  if (!std::isfinite(x)) return std::string(static_cast<std::size_t>(w), '*');
  std::string mant;
  int expo = 0;
  if (x == 0.0) {
    mant.assign(static_cast<std::size_t>(d), '0');
  } else {
    // "%.*E" gives m.mmmE+xx with the mantissa in [1, 10).
    std::string s = printfDouble("%.*E", d - 1, std::fabs(x));
    std::size_t e = s.find('E');
    for (std::size_t k = 0; k < e; ++k)
      if (s[k] != '.') mant += s[k];
    expo = std::atoi(s.c_str() + e + 1) + 1;
  }
  int aexp = std::abs(expo);
  std::string etext;
  char esign = expo < 0 ? '-' : '+';
  if (aexp <= 99) {
    char buf[8];
    std::snprintf(buf, sizeof buf, "%c%c%02d", letter, esign, aexp);
    etext = buf;
  } else if (aexp <= 999) {
    char buf[8];
    std::snprintf(buf, sizeof buf, "%c%03d", esign, aexp);
    etext = buf;
  } else {
    return std::string(static_cast<std::size_t>(w), '*');
  }
  std::string sign = (std::signbit(x) && hasNonZeroDigit(mant)) ? "-" : "";
  return fitNumber(sign, "0." + mant + etext, w);
}

// Aw: short texts right-justified, long ones cut to their first w characters.
std::string formatA(const std::string& s, int w) {
  if (w < 0) return s;  // A without a width: the whole text
  const auto width = static_cast<std::size_t>(w);
  if (s.size() >= width) return s.substr(0, width);
  return std::string(width - s.size(), ' ') + s;
}

// ------------------------------------------------------------ layout parsing

// One descriptor of a record layout; a group holds its own descriptors.
struct Node {
  enum class Type { Data, Text, Skip, Slash, Colon, Group };
  Type type = Type::Text;
  int repeat = 1;
  char code = 0;  // data descriptors: 'I', 'F', 'E', 'D', 'A'
  int w = 0;      // width (-1: A without a width)
  int d = 0;      // decimals (F, E, D) or minimum digits (I)
  std::string text;
  std::vector<Node> children;
};

class Parser {
 public:
  explicit Parser(std::string_view s) : s_(s) {}

  std::vector<Node> parse() {
    skipBlanks();
    if (!eat('(')) fail("does not begin with '('");
    std::vector<Node> list = parseList();
    skipBlanks();
    if (pos_ != s_.size()) fail("text after the closing parenthesis");
    return list;
  }

 private:
  static constexpr long kMaxCount = 100000;

  [[noreturn]] void fail(const char* why) const {
    throw std::logic_error("malformed record layout \"" + std::string(s_) + "\": " + why);
  }
  bool atEnd() const { return pos_ >= s_.size(); }
  char peek() const { return atEnd() ? '\0' : s_[pos_]; }
  static char upper(char ch) { return (ch >= 'a' && ch <= 'z') ? static_cast<char>(ch - 32) : ch; }
  static bool isDigit(char ch) { return ch >= '0' && ch <= '9'; }
  void skipBlanks() {
    while (!atEnd() && (s_[pos_] == ' ' || s_[pos_] == '\t')) ++pos_;
  }
  bool eat(char ch) {
    skipBlanks();
    if (peek() != ch) return false;
    ++pos_;
    return true;
  }
  // An unsigned count, or -1 when no digit stands here.
  long number() {
    skipBlanks();
    if (!isDigit(peek())) return -1;
    long v = 0;
    while (isDigit(peek())) {
      v = v * 10 + (s_[pos_++] - '0');
      if (v > kMaxCount) fail("count too large");
    }
    return v;
  }

  // Descriptors up to and including the closing parenthesis of the list.
  std::vector<Node> parseList() {
    std::vector<Node> list;
    for (;;) {
      skipBlanks();
      if (atEnd()) fail("missing ')'");
      bool separated = parseItem(list);
      skipBlanks();
      if (eat(')')) return list;
      if (eat(',')) {
        skipBlanks();
        if (peek() == ')' || peek() == ',') fail("empty descriptor");
        continue;
      }
      // Fortran lets "/", ":" and a scale factor stand without a comma.
      if (!separated && peek() != '/' && peek() != ':') fail("missing ','");
    }
  }

  // Parse one descriptor into `list`; returns true when the descriptor may
  // be followed by another without a comma ("/", ":", a scale factor).
  bool parseItem(std::vector<Node>& list) {
    skipBlanks();
    bool negative = false;
    if (peek() == '-' || peek() == '+') {  // only a scale factor may be signed
      negative = true;
      ++pos_;
    }
    long count = number();
    skipBlanks();
    char ch = upper(peek());
    if (atEnd()) fail("missing descriptor");
    if (negative && ch != 'P') fail("sign before a descriptor");
    if (count == 0 && ch != 'P') fail("zero count");
    Node n;
    n.repeat = count > 0 ? static_cast<int>(count) : 1;
    ++pos_;
    switch (ch) {
      case '(':
        n.type = Node::Type::Group;
        n.children = parseList();
        break;
      case '\'':
      case '"': {
        n.type = Node::Type::Text;
        for (;;) {
          if (atEnd()) fail("unterminated text");
          char c = s_[pos_++];
          if (c == ch) {
            if (peek() == ch) {
              n.text += ch;
              ++pos_;
              continue;
            }
            break;
          }
          n.text += c;
        }
        break;
      }
      case 'H':
        if (count < 1) fail("H without a character count");
        if (s_.size() - pos_ < static_cast<std::size_t>(count)) fail("H text cut short");
        n.type = Node::Type::Text;
        n.text = std::string(s_.substr(pos_, static_cast<std::size_t>(count)));
        n.repeat = 1;
        pos_ += static_cast<std::size_t>(count);
        break;
      case 'X':
        n.type = Node::Type::Skip;
        n.w = n.repeat;
        n.repeat = 1;
        break;
      case '/':
        n.type = Node::Type::Slash;
        list.push_back(n);
        return true;
      case ':':
        if (count >= 0) fail("count before ':'");
        n.type = Node::Type::Colon;
        list.push_back(n);
        return true;
      case 'P':
        if (count < 0) fail("P without a scale factor");
        return true;  // the scale factor has no effect on this report
      case 'I':
      case 'F':
      case 'E':
      case 'D':
      case 'A': {
        n.type = Node::Type::Data;
        n.code = ch;
        long w = number();
        long d = -1;
        if (eat('.')) {
          d = number();
          if (d < 0) fail("missing digits after '.'");
        }
        if (ch == 'A') {
          if (d >= 0) fail("A with decimals");
          if (w == 0) fail("A0");
          n.w = static_cast<int>(w);  // -1: no width
        } else {
          if (w < 0) fail("missing field width");
          if (ch != 'I' && d < 0) fail("missing decimals");
          if ((ch == 'E' || ch == 'D') && (w == 0 || d == 0)) fail("E or D field too small");
          if (ch == 'E' && upper(peek()) == 'E') {  // Ew.dEe: exponent width ignored
            ++pos_;
            if (number() < 1) fail("missing exponent width");
          }
          n.w = static_cast<int>(w);
          n.d = static_cast<int>(d < 0 ? (ch == 'I' ? 1 : 0) : d);
        }
        break;
      }
      default:
        fail("unknown descriptor");
    }
    list.push_back(std::move(n));
    return false;
  }

  std::string_view s_;
  std::size_t pos_ = 0;
};

bool hasData(const std::vector<Node>& list) {
  for (const Node& n : list)
    if (n.type == Node::Type::Data || (n.type == Node::Type::Group && hasData(n.children)))
      return true;
  return false;
}

// ------------------------------------------------------------ layout writing

class LayoutWriter {
 public:
  explicit LayoutWriter(const Items& items) : items_(items) {}

  // Carry out the descriptors of `list` from index `from`; returns false
  // when writing ends at a data descriptor (or ':') with no item left.
  bool run(const std::vector<Node>& list, std::size_t from) {
    for (std::size_t k = from; k < list.size(); ++k) {
      const Node& n = list[k];
      for (int r = 0; r < n.repeat; ++r) {
        switch (n.type) {
          case Node::Type::Data:
            if (next_ >= items_.size()) return false;
            put(format(n, items_[next_++]));
            break;
          case Node::Type::Text:
            put(n.text);
            break;
          case Node::Type::Skip:
            col_ += static_cast<std::size_t>(n.w);
            break;
          case Node::Type::Slash:
            endRecord();
            break;
          case Node::Type::Colon:
            if (next_ >= items_.size()) return false;
            break;
          case Node::Type::Group:
            if (!run(n.children, 0)) return false;
            break;
        }
      }
    }
    return true;
  }

  bool itemsLeft() const { return next_ < items_.size(); }
  std::size_t used() const { return next_; }

  // End the current record; blanks of a trailing nX are not written.
  void endRecord() {
    out_ += rec_;
    out_ += '\n';
    rec_.clear();
    col_ = 0;
  }

  std::string take() { return std::move(out_); }

 private:
  void put(const std::string& s) {
    if (s.empty()) return;
    if (col_ > rec_.size()) rec_.append(col_ - rec_.size(), ' ');
    rec_ += s;
    col_ = rec_.size();
  }

  static std::string format(const Node& n, const Item& it) {
    auto mismatch = [&](const char* want) {
      return std::logic_error(std::string("layout descriptor ") + n.code + " needs " + want);
    };
    switch (n.code) {
      case 'I':
        if (it.kind != Item::Kind::Int) throw mismatch("an integer item");
        return formatI(it.i, n.w, n.d);
      case 'F':
        if (it.kind != Item::Kind::Real) throw mismatch("a real item");
        return formatF(it.d, n.w, n.d);
      case 'E':
      case 'D':
        if (it.kind != Item::Kind::Real) throw mismatch("a real item");
        return formatE(it.d, n.w, n.d, n.code);
      default:
        if (it.kind != Item::Kind::Text) throw mismatch("a text item");
        return formatA(it.s, n.w);
    }
  }

  const Items& items_;
  std::size_t next_ = 0;
  std::string out_;
  std::string rec_;
  std::size_t col_ = 0;
};

// --------------------------------------------------------- free-format texts

constexpr std::size_t kLineLimit = 80;

std::string freeReal(double x) {
  std::string text = " ";
  text += x < 0.0 ? '-' : ' ';
  if (x == 0.0) return text + "0.";
  std::string mag = printfDouble("%.*G", 9, std::fabs(x));
  if (std::isfinite(x) && mag.find('.') == std::string::npos) {
    std::size_t e = mag.find('E');
    if (e == std::string::npos)
      mag += '.';
    else
      mag.insert(mag.begin() + static_cast<std::ptrdiff_t>(e), '.');
  }
  return text + mag;
}

}  // namespace

std::string formatLayout(std::string_view layout, const Items& items) {
  std::vector<Node> top = Parser(layout).parse();
  LayoutWriter wr(items);
  bool reachedEnd = wr.run(top, 0);
  if (reachedEnd && wr.itemsLeft()) {
    if (!hasData(top))
      throw std::logic_error("record layout \"" + std::string(layout) +
                             "\" has no data descriptor for its items");
    // Take the layout up again at its last top-level group, or from the start.
    std::size_t restart = 0;
    for (std::size_t k = 0; k < top.size(); ++k)
      if (top[k].type == Node::Type::Group) restart = k;
    while (reachedEnd && wr.itemsLeft()) {
      wr.endRecord();
      std::size_t before = wr.used();
      reachedEnd = wr.run(top, restart);
      if (reachedEnd && wr.used() == before)
        throw std::logic_error("record layout \"" + std::string(layout) +
                               "\" takes no item when it is taken up again");
    }
  }
  wr.endRecord();
  return wr.take();
}

std::string formatFree(const Items& items) {
  std::string out;
  std::string rec;
  auto breakBefore = [&](std::size_t length) {
    if (!rec.empty() && rec.size() + length >= kLineLimit) {
      out += rec;
      out += '\n';
      rec.clear();
    }
  };
  for (const Item& it : items) {
    switch (it.kind) {
      case Item::Kind::Int: {
        unsigned long long mag = it.i < 0 ? 0ULL - static_cast<unsigned long long>(it.i)
                                          : static_cast<unsigned long long>(it.i);
        std::string digits = std::to_string(mag);
        breakBefore(digits.size());
        rec += ' ';
        if (it.i < 0) rec += '-';
        rec += digits;
        break;
      }
      case Item::Kind::Real: {
        std::string text = freeReal(it.d);
        breakBefore(text.size());
        rec += text;
        break;
      }
      case Item::Kind::Text:
        breakBefore(it.s.size());
        if (rec.empty()) rec += ' ';
        rec += it.s;
        break;
    }
  }
  out += rec;
  out += '\n';
  return out;
}

void writeLayout(std::ostream& out, std::string_view layout, const Items& items) {
  out << formatLayout(layout, items);
}
void writeFree(std::ostream& out, const Items& items) {
  out << formatFree(items);
}

}  // namespace mv
