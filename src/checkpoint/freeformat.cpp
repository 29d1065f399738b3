// The free-format reader and the fixed-field readers of checkpoint text.
#include "checkpoint/freeformat.h"

#include <algorithm>
#include <charconv>
#include <climits>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <system_error>
#include <type_traits>
#include <vector>

namespace mv {

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
// for q = 0 .. n-1, starting at the first column of line `first`.
template <typename T, typename Store>
ReadResult readItems(const CheckpointText& t, int first, long long n, Store store) {
  ReadResult res;
  res.next = first;
  if (n <= 0) return res;
  const int nl = t.lineCount();
  int ln = first;  // line being scanned
  int pos = 0;     // column (0-based) in that line
  std::string_view L = ln <= nl ? t.line(ln) : std::string_view();

  // Skip blanks, tabs and line ends; false at the end of the text.
  auto skipSpace = [&]() {
    for (;;) {
      if (ln > nl) return false;
      while (pos < kLineWidth && isBlank(L[pos])) ++pos;
      if (pos < kLineWidth) return true;
      ++ln;
      pos = 0;
      if (ln <= nl) L = t.line(ln);
    }
  };
  // The request is over: the rest of the current line is skipped.
  auto finish = [&](ReadStatus st) {
    res.status = st;
    if (st == ReadStatus::Ok && ln <= nl && pos < kLineWidth) {
      std::string_view r = L.substr(static_cast<std::size_t>(pos));
      const std::size_t b = r.find_first_not_of(" \t");
      if (b != std::string_view::npos) {
        r = r.substr(b, r.find_last_not_of(" \t") - b + 1);
        res.rest.assign(r.data(), r.size());
      }
    }
    res.next = ln > nl ? nl + 1 : ln + 1;
    return res;
  };
  auto fail = [&](long long q, std::string detail) {
    res.count = q;
    res.detail = std::move(detail);
    res.line = ln;
    return finish(ReadStatus::Error);
  };

  long long q = 0;
  while (q < n) {
    if (!skipSpace()) {
      res.count = q;
      res.detail =
          "end of file after " + std::to_string(q) + " of " + std::to_string(n) + " values";
      res.status = ReadStatus::End;
      res.next = nl + 1;
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
      if (!digitsOnly || !parseInt(rs, repeat) || repeat < 1)
        return fail(q, quoted(tok) + " has no valid repeat count");
      val = tok.substr(star + 1);
    }
    T value{};
    bool isNull = val.empty();
    if (!isNull && !parseValue(val, value))
      return fail(q, quoted(tok) + " is not " + kindName(static_cast<T*>(nullptr)));
    const long long cover = repeat < n - q ? repeat : n - q;
    for (long long r = 0; r < cover; ++r, ++q)
      if (!isNull) store(q, value);
    if (q >= n) break;
    // One comma, with or without blanks (line ends included) around it,
    // separates two values.
    if (skipSpace() && L[pos] == ',') ++pos;
  }
  res.count = q;
  return finish(ReadStatus::Ok);
}

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

std::string quoted(std::string_view t) {
  std::string q;
  q.reserve(t.size() + 2);
  q += '\'';
  q.append(t);
  q += '\'';
  return q;
}

ReadResult readInts(const CheckpointText& t, int first, long long n, int* v) {
  return readItems<int>(t, first, n, [v](long long q, int x) { v[q] = x; });
}

ReadResult readReals(const CheckpointText& t, int first, long long n, double* v) {
  return readItems<double>(t, first, n, [v](long long q, double x) { v[q] = x; });
}

ReadResult readRealColumns(const CheckpointText& t, int first, int rows, int cols, MatView a) {
  const long long total =
      rows <= 0 || cols <= 0 ? 0 : static_cast<long long>(rows) * static_cast<long long>(cols);
  return readItems<double>(t, first, total, [a, rows](long long q, double x) {
    a(static_cast<int>(q % rows) + 1, static_cast<int>(q / rows) + 1) = x;
  });
}

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

}  // namespace mv
