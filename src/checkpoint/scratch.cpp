// The scratch copy of the checkpoint file, the free-format reader and the
// fixed-field readers that the checkpoint scanning is built on.
#include "checkpoint/scratch.h"

#include <cerrno>
#include <charconv>
#include <climits>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <system_error>
#include <type_traits>

#include "driver/stop.h"

namespace mv {

Scratch tmp;

// ------------------------------------------------------------ the copy

void Scratch::addLine(std::string_view raw) {
  std::size_t at = buf_.size();
  buf_.resize(at + kLineWidth, ' ');
  std::size_t n = raw.size() < static_cast<std::size_t>(kLineWidth) ? raw.size() : kLineWidth;
  if (n > 0) std::memcpy(buf_.data() + at, raw.data(), n);
  ++nlines_;
}

namespace {

// Splits text that arrives in pieces into lines and hands every line to
// `add`.  A line ends at a line feed; a carriage return just before it
// belongs to the line end (CRLF files read exactly like LF files); the text
// after the last line feed is a line of its own when it is not empty.  Only
// the first 80 characters of a line are kept.
class LineSplitter {
 public:
  template <typename Add>
  void feed(std::string_view piece, Add add) {
    while (!piece.empty()) {
      const std::size_t lf = piece.find('\n');
      const std::string_view part = piece.substr(0, lf);
      if (lf != std::string_view::npos && len_ == 0) {
        // A whole line inside the piece: handed over without a copy.
        add(trim(part));
      } else {
        keep(part);
        if (lf != std::string_view::npos) flush(add);
      }
      if (lf == std::string_view::npos) break;
      piece.remove_prefix(lf + 1);
    }
  }
  // The end of the text: a last line without a line feed.
  template <typename Add>
  void finish(Add add) {
    if (len_ > 0) flush(add);
  }

 private:
  static std::string_view trim(std::string_view l) {
    if (!l.empty() && l.back() == '\r') l.remove_suffix(1);
    return l;
  }
  // Part of a line that continues in the next piece: its first 81
  // characters are enough (80 kept, one more to tell a final CR apart).
  void keep(std::string_view part) {
    if (part.empty()) return;
    const std::size_t room = sizeof held_ - (len_ < sizeof held_ ? len_ : sizeof held_);
    const std::size_t take = part.size() < room ? part.size() : room;
    std::memcpy(held_ + (sizeof held_ - room), part.data(), take);
    len_ += part.size();
    last_ = part.back();
  }
  template <typename Add>
  void flush(Add add) {
    std::size_t n = len_ < sizeof held_ ? len_ : sizeof held_;
    if (n > 0 && len_ <= sizeof held_ && last_ == '\r') --n;  // the CR is the line end
    add(std::string_view(held_, n));
    len_ = 0;
  }
  char held_[kLineWidth + 1];
  std::size_t len_ = 0;  // length of the line so far
  char last_ = 0;        // its last character
};

// Pieces in which the checkpoint file is read and the copy written.
char piece[1 << 16];

}  // namespace

int Scratch::loadText(std::string_view text) {
  buf_.clear();
  nlines_ = 0;
  cur_ = 0;
  std::size_t lf = 0;
  for (char ch : text)
    if (ch == '\n') ++lf;
  buf_.reserve((lf + 1) * kLineWidth);
  LineSplitter split;
  auto add = [this](std::string_view l) { addLine(l); };
  split.feed(text, add);
  split.finish(add);
  return nlines_;
}

int Scratch::copyFrom(const std::string& inPath, const std::string& tmpPath) {
  name_ = kScratchName;
  buf_.clear();
  nlines_ = 0;
  cur_ = 0;
  // The file goes straight into the 80-column lines, piece by piece; it is
  // never held whole a second time.
  std::FILE* in = std::fopen(inPath.c_str(), "rb");
  if (in == nullptr) {
    // An absent input file is left behind empty and has no lines.
    std::FILE* created = std::fopen(inPath.c_str(), "ab");
    if (created != nullptr) std::fclose(created);
  } else {
    // Room for the lines of a file of this size written at 80 columns or
    // more; reserved pages that stay unused cost no memory.
    std::error_code ec;
    const auto size = std::filesystem::file_size(inPath, ec);
    if (!ec && size < (std::size_t{1} << 32)) buf_.reserve(size + size / 8 + kLineWidth);
    LineSplitter split;
    auto add = [this](std::string_view l) { addLine(l); };
    for (;;) {
      const std::size_t got = std::fread(piece, 1, sizeof piece, in);
      split.feed(std::string_view(piece, got), add);
      if (got < sizeof piece) break;
    }
    split.finish(add);
    bool bad = std::ferror(in) != 0;
    int err = errno;
    std::fclose(in);
    if (bad) inputError("copying the checkpoint file", std::strerror(err), inPath);
  }

  // Write the copy: exactly the copied lines, each of 80 characters.
  std::FILE* out = std::fopen(tmpPath.c_str(), "wb");
  if (out == nullptr) inputError("opening the scratch copy", std::strerror(errno), tmpPath);
  constexpr std::size_t kRecord = kLineWidth + 1;
  bool ok = true;
  int err = 0;
  std::size_t used = 0;
  for (int k = 1; k <= nlines_ && ok; ++k) {
    std::memcpy(piece + used, line(k).data(), kLineWidth);
    piece[used + kLineWidth] = '\n';
    used += kRecord;
    if (used + kRecord > sizeof piece || k == nlines_) {
      if (std::fwrite(piece, 1, used, out) != used) {
        ok = false;
        err = errno;
      }
      used = 0;
    }
  }
  if (std::fclose(out) != 0 && ok) {
    ok = false;
    err = errno;
  }
  if (!ok) inputError("writing the scratch copy", std::strerror(err), tmpPath);
  return nlines_;
}

bool Scratch::next(std::string_view& l) {
  if (cur_ >= nlines_) return false;
  ++cur_;
  l = line(cur_);
  return true;
}

// ------------------------------------------------------------ numbers

namespace {

bool isDigit(char c) {
  return c >= '0' && c <= '9';
}

bool equalsNoCase(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    char c = a[i];
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    if (c != b[i]) return false;
  }
  return true;
}

// Not-a-number and infinities as Fortran reads them ("NaN", "Inf",
// "Infinity", any case, "NaN" optionally followed by a parenthesised tag).
bool parseSpecial(std::string_view t, bool neg, double& v) {
  if (equalsNoCase(t, "inf") || equalsNoCase(t, "infinity")) {
    v = neg ? -HUGE_VAL : HUGE_VAL;
    return true;
  }
  if (t.size() >= 3 && equalsNoCase(t.substr(0, 3), "nan") &&
      (t.size() == 3 || (t[3] == '(' && t.back() == ')'))) {
    v = std::nan("");
    return true;
  }
  return false;
}

// 10^0 .. 10^22, every one exactly representable.
constexpr double kPowersOfTen[23] = {1e0,  1e1,  1e2,  1e3,  1e4,  1e5,  1e6,  1e7,
                                     1e8,  1e9,  1e10, 1e11, 1e12, 1e13, 1e14, 1e15,
                                     1e16, 1e17, 1e18, 1e19, 1e20, 1e21, 1e22};

// A real number: optional sign, digits with an optional decimal point (at
// least one digit), an optional exponent introduced by E, D or Q in either
// case, or by its sign alone (a Fortran E format drops the letter of a
// three-digit exponent: 0.12345678-100).  Without a decimal point the last
// `implied` digits are decimals.
bool parseReal(std::string_view t, int implied, double& v) {
  if (t.empty() || t.size() > 100) return false;
  std::size_t i = 0, n = t.size();
  bool neg = false;
  if (t[i] == '+' || t[i] == '-') {
    neg = t[i] == '-';
    ++i;
  }
  if (i < n && !isDigit(t[i]) && t[i] != '.') return parseSpecial(t.substr(i), neg, v);
  const std::size_t first = i;  // digits and point: t[first, last)
  int digits = 0;
  int decimals = 0;  // digits after the point
  bool point = false;
  std::uint64_t mantissa = 0;  // the digits as an integer (meaningful up to 15 digits)
  while (i < n && isDigit(t[i])) {
    mantissa = mantissa * 10 + static_cast<unsigned>(t[i++] - '0');
    ++digits;
  }
  if (i < n && t[i] == '.') {
    point = true;
    ++i;
    while (i < n && isDigit(t[i])) {
      mantissa = mantissa * 10 + static_cast<unsigned>(t[i++] - '0');
      ++digits;
      ++decimals;
    }
  }
  const std::size_t last = i;
  if (digits == 0) return false;
  long exponent = 0;
  if (i < n) {
    char c = t[i];
    bool letter = c == 'E' || c == 'e' || c == 'D' || c == 'd' || c == 'Q' || c == 'q';
    if (!letter && c != '+' && c != '-') return false;
    if (letter) ++i;
    bool eneg = false;
    if (i < n && (t[i] == '+' || t[i] == '-')) {
      eneg = t[i] == '-';
      ++i;
    }
    int edigits = 0;
    while (i < n && isDigit(t[i])) {
      if (exponent < 100000) exponent = exponent * 10 + (t[i] - '0');
      ++i;
      ++edigits;
    }
    if (edigits == 0 || i != n) return false;
    if (eneg) exponent = -exponent;
  }
  if (!point) exponent -= implied;
  // With at most 15 digits the mantissa is an exact double, and so is 10^k
  // for k <= 22: one multiplication or division then rounds the exact
  // decimal value once, which is the correctly rounded result that the
  // general conversion below gives too, only much faster.
  const long scale = exponent - (point ? decimals : 0);
  if (digits <= 15 && scale >= -22 && scale <= 22) {
    const double x = static_cast<double>(mantissa);
    v = scale >= 0 ? x * kPowersOfTen[scale] : x / kPowersOfTen[-scale];
    if (neg) v = -v;
    return true;
  }
  char buf[128];
  int m = 0;
  if (neg) buf[m++] = '-';
  std::memcpy(buf + m, t.data() + first, last - first);
  m += static_cast<int>(last - first);
  if (exponent != 0) {
    buf[m++] = 'e';
    auto r = std::to_chars(buf + m, buf + sizeof buf - 1, exponent);
    m = static_cast<int>(r.ptr - buf);
  }
  buf[m] = '\0';
  auto r = std::from_chars(buf, buf + m, v);
  if (r.ec == std::errc::result_out_of_range) {
    // Overflow gives an infinity and underflow a (denormal) zero, as strtod does.
    v = std::strtod(buf, nullptr);
  } else if (r.ec != std::errc() || r.ptr != buf + m) {
    return false;
  }
  return true;
}

// An integer: optional sign and decimal digits, within 32 bits.
bool parseInt(std::string_view t, int& v) {
  std::size_t i = 0, n = t.size();
  bool neg = false;
  if (i < n && (t[i] == '+' || t[i] == '-')) {
    neg = t[i] == '-';
    ++i;
  }
  if (i == n) return false;
  long long x = 0;
  for (; i < n; ++i) {
    if (!isDigit(t[i])) return false;
    x = x * 10 + (t[i] - '0');
    if (x > static_cast<long long>(INT_MAX) + 1) return false;
  }
  if (neg) x = -x;
  if (x > INT_MAX || x < INT_MIN) return false;
  v = static_cast<int>(x);
  return true;
}

bool parseValue(std::string_view t, int& v) {
  return parseInt(t, v);
}
bool parseValue(std::string_view t, double& v) {
  return parseReal(t, 0, v);
}
const char* kindName(int*) {
  return "an integer";
}
const char* kindName(double*) {
  return "a real number";
}

std::string quoted(std::string_view t) {
  std::string q;
  q.reserve(t.size() + 2);
  q += '\'';
  q.append(t);
  q += '\'';
  return q;
}

bool isBlank(char c) {
  return c == ' ' || c == '\t';
}
bool endsValue(char c) {
  return c == ' ' || c == '\t' || c == ',' || c == '/';
}

// A plain real at p (at most `room` characters): optional sign, digits with
// an optional decimal point, an optional exponent with the letter E or D
// (either case), ending at a blank, a tab, a comma, a slash or after `room`
// characters.  Returns its length with the value in v when it has at most 15
// digits and a decimal scale within 10^+-22, which is then exact before one
// correctly rounded operation, as in parseReal; otherwise 0, and the token
// takes the general way.
int plainReal(const char* p, int room, double& v) {
  int i = 0;
  const bool neg = room > 0 && p[0] == '-';
  if (room > 0 && (p[0] == '-' || p[0] == '+')) ++i;
  std::uint64_t mantissa = 0;
  int digits = 0;
  int decimals = 0;
  while (i < room && isDigit(p[i])) {
    mantissa = mantissa * 10 + static_cast<unsigned>(p[i++] - '0');
    ++digits;
  }
  if (i < room && p[i] == '.') {
    ++i;
    while (i < room && isDigit(p[i])) {
      mantissa = mantissa * 10 + static_cast<unsigned>(p[i++] - '0');
      ++digits;
      ++decimals;
    }
  }
  if (digits == 0 || digits > 15) return 0;
  int exponent = 0;
  if (i < room && (p[i] == 'E' || p[i] == 'e' || p[i] == 'D' || p[i] == 'd')) {
    ++i;
    bool eneg = false;
    if (i < room && (p[i] == '+' || p[i] == '-')) eneg = p[i++] == '-';
    int edigits = 0;
    while (i < room && isDigit(p[i]) && edigits < 4) {
      exponent = exponent * 10 + (p[i++] - '0');
      ++edigits;
    }
    if (edigits == 0) return 0;
    if (eneg) exponent = -exponent;
  }
  if (i < room && !endsValue(p[i])) return 0;
  const int scale = exponent - decimals;
  if (scale < -22 || scale > 22) return 0;
  const double x = static_cast<double>(mantissa);
  v = scale >= 0 ? x * kPowersOfTen[scale] : x / kPowersOfTen[-scale];
  if (neg) v = -v;
  return i;
}

// The free-format read request: n items of type T handed to store(q, value)
// for q = 0 .. n-1.  The cursor of s stands at the start of a line.
template <typename T, typename Store>
ReadResult readItems(Scratch& s, int n, Store store) {
  ReadResult res;
  if (n <= 0) return res;
  const int nl = s.lineCount();
  int ln = s.position();  // line being scanned
  int pos = 0;            // column (0-based) in that line
  std::string_view L = ln <= nl ? s.line(ln) : std::string_view();

  // Skip blanks, tabs and line ends; false at the end of the copy.
  auto skipSpace = [&]() {
    for (;;) {
      if (ln > nl) return false;
      while (pos < kLineWidth && isBlank(L[pos])) ++pos;
      if (pos < kLineWidth) return true;
      ++ln;
      pos = 0;
      if (ln <= nl) L = s.line(ln);
    }
  };
  // The request is over: the rest of the current line is skipped.
  auto finish = [&](ReadStatus st) {
    res.status = st;
    s.seek(ln > nl ? nl + 1 : ln + 1);
    return res;
  };

  int q = 0;
  while (q < n) {
    if (!skipSpace()) {
      res.count = q;
      res.detail =
          "end of file after " + std::to_string(q) + " of " + std::to_string(n) + " values";
      res.status = ReadStatus::End;
      s.seek(nl + 1);
      return res;
    }
    char c = L[pos];
    if (c == ',') {  // a null value: the item keeps what it held
      ++pos;
      ++q;
      continue;
    }
    if (c == '/') {  // the request ends; later items keep what they held
      res.count = q;
      return finish(ReadStatus::Ok);
    }
    if constexpr (std::is_same_v<T, double>) {
      // The common case, a plain real of up to 15 digits, in one pass.
      double value;
      const int len = plainReal(L.data() + pos, kLineWidth - pos, value);
      if (len > 0) {
        pos += len;
        store(q, value);
        ++q;
        if (q >= n) break;
        if (skipSpace() && L[pos] == ',') ++pos;
        continue;
      }
    }
    int b = pos;
    int starAt = -1;  // column of the first '*' of the token
    while (pos < kLineWidth && !endsValue(L[pos])) {
      if (L[pos] == '*' && starAt < 0) starAt = pos;
      ++pos;
    }
    std::string_view tok = L.substr(static_cast<std::size_t>(b), static_cast<std::size_t>(pos - b));

    // r*v stands for r copies of v, r* for r null values.
    int repeat = 1;
    std::string_view val = tok;
    if (starAt >= 0) {
      const std::size_t star = static_cast<std::size_t>(starAt - b);
      std::string_view rs = tok.substr(0, star);
      bool digitsOnly = !rs.empty();
      for (char d : rs) digitsOnly = digitsOnly && isDigit(d);
      if (!digitsOnly || !parseInt(rs, repeat) || repeat < 1) {
        res.count = q;
        res.detail = quoted(tok) + " at line " + std::to_string(ln) + " has no valid repeat count";
        return finish(ReadStatus::Error);
      }
      val = tok.substr(star + 1);
    }
    T value{};
    bool isNull = val.empty();
    if (!isNull && !parseValue(val, value)) {
      res.count = q;
      res.detail = quoted(tok) + " at line " + std::to_string(ln) + " is not " +
                   kindName(static_cast<T*>(nullptr));
      return finish(ReadStatus::Error);
    }
    int cover = repeat < n - q ? repeat : n - q;
    for (int r = 0; r < cover; ++r, ++q)
      if (!isNull) store(q, value);
    if (q >= n) break;
    // One comma, with or without blanks (line ends included) around it,
    // separates two values.
    if (skipSpace() && L[pos] == ',') ++pos;
  }
  res.count = q;
  return finish(ReadStatus::Ok);
}

}  // namespace

ReadResult readFree(Scratch& s, int n, int* v) {
  return readItems<int>(s, n, [v](int q, int x) { v[q] = x; });
}

ReadResult readFree(Scratch& s, int n, double* v) {
  return readItems<double>(s, n, [v](int q, double x) { v[q] = x; });
}

ReadResult readFreeColumns(Scratch& s, int rows, int cols, double* a, int ld) {
  long long total = static_cast<long long>(rows) * cols;
  if (rows <= 0 || cols <= 0) total = 0;
  return readItems<double>(s, static_cast<int>(total), [a, rows, ld](int q, double x) {
    a[static_cast<std::ptrdiff_t>(q % rows) + static_cast<std::ptrdiff_t>(q / rows) * ld] = x;
  });
}

// ------------------------------------------------------------ fixed fields

namespace {

// The field of width w from column col of line (blank-padded), blanks removed.
std::string_view compactField(std::string_view line, int col, int w, char* buf) {
  int m = 0;
  for (int k = 0; k < w; ++k) {
    std::size_t at = static_cast<std::size_t>(col - 1 + k);
    char c = at < line.size() ? line[at] : ' ';
    if (c != ' ') buf[m++] = c;
  }
  return std::string_view(buf, static_cast<std::size_t>(m));
}

}  // namespace

bool readIntField(std::string_view line, int col, int w, int& value) {
  if (w < 1 || w > 100 || col < 1) return false;
  char buf[128];
  std::string_view f = compactField(line, col, w, buf);
  if (f.empty()) {
    value = 0;
    return true;
  }
  return parseInt(f, value);
}

bool readRealField(std::string_view line, int col, int w, int d, double& value) {
  if (w < 1 || w > 100 || col < 1) return false;
  char buf[128];
  std::string_view f = compactField(line, col, w, buf);
  if (f.empty()) {
    value = 0.0;
    return true;
  }
  return parseReal(f, d, value);
}

// ------------------------------------------------------------ sections

namespace {
// The label of the last section search, for the diagnostics of getint and getreal.
std::string lastLabel;

std::string sectionOperation(std::string_view what) {
  return "reading section '" + std::string(what) + "' of " + tmp.name();
}
}  // namespace

void findlab(std::string_view label) {
  lastLabel.assign(label);
  const int nl = tmp.lineCount();
  const std::size_t len =
      label.size() < static_cast<std::size_t>(kLineWidth) ? label.size() : kLineWidth;
  for (int k = 1; k <= nl; ++k) {
    if (std::memcmp(tmp.line(k).data(), label.data(), len) == 0) {
      tmp.seek(k + 1);
      return;
    }
  }
  tmp.seek(nl + 1);
  stopCode("1000");
}

int getint() {
  int k = tmp.position() - 1;
  if (k < 1) inputError(sectionOperation(lastLabel), "no label line to read", tmp.name());
  std::string_view l = tmp.line(k);
  int v = 0;
  if (!readIntField(l, 56, 6, v))
    inputError(sectionOperation(lastLabel),
               quoted(l.substr(55, 6)) + " at line " + std::to_string(k) + " is not an integer",
               tmp.name());
  return v;
}

double getreal() {
  int k = tmp.position() - 1;
  if (k < 1) inputError(sectionOperation(lastLabel), "no label line to read", tmp.name());
  std::string_view l = tmp.line(k);
  double v = 0.0;
  if (!readRealField(l, 46, 30, 10, v))
    inputError(sectionOperation(lastLabel),
               quoted(l.substr(45, 30)) + " at line " + std::to_string(k) + " is not a real number",
               tmp.name());
  return v;
}

namespace {
template <typename T>
void getlistOf(int n, T* v, std::string_view what) {
  ReadResult r = readFree(tmp, n, v);
  if (r.status != ReadStatus::Ok) inputError(sectionOperation(what), r.detail, tmp.name());
}
}  // namespace

void getlist(int n, int* v, std::string_view what) {
  getlistOf(n, v, what);
}
void getlist(int n, double* v, std::string_view what) {
  getlistOf(n, v, what);
}

}  // namespace mv
