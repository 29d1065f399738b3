// The scratch copy of the checkpoint file, the free-format reader and the
// fixed-field readers that the checkpoint scanning is built on.
#include "checkpoint/scratch.h"

#include <cerrno>
#include <charconv>
#include <climits>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>

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

int Scratch::loadText(std::string_view text) {
  buf_.clear();
  nlines_ = 0;
  cur_ = 0;
  std::size_t lf = 0;
  for (char ch : text)
    if (ch == '\n') ++lf;
  buf_.reserve((lf + 1) * kLineWidth);
  std::size_t start = 0;
  while (start < text.size()) {
    std::size_t end = text.find('\n', start);
    std::size_t next = end == std::string_view::npos ? text.size() : end + 1;
    if (end == std::string_view::npos) end = text.size();
    std::string_view ln = text.substr(start, end - start);
    // A carriage return that ends the line belongs to the line end (CRLF
    // files read exactly like LF files).
    if (!ln.empty() && ln.back() == '\r') ln.remove_suffix(1);
    addLine(ln);
    start = next;
  }
  return nlines_;
}

int Scratch::copyFrom(const std::string& inPath, const std::string& tmpPath) {
  name_ = kScratchName;
  std::string text;
  std::FILE* in = std::fopen(inPath.c_str(), "rb");
  if (in == nullptr) {
    // An absent input file is left behind empty and has no lines.
    std::FILE* created = std::fopen(inPath.c_str(), "ab");
    if (created != nullptr) std::fclose(created);
  } else {
    char chunk[1 << 16];
    for (;;) {
      std::size_t got = std::fread(chunk, 1, sizeof chunk, in);
      text.append(chunk, got);
      if (got < sizeof chunk) break;
    }
    bool bad = std::ferror(in) != 0;
    int err = errno;
    std::fclose(in);
    if (bad) inputError("copying the checkpoint file", std::strerror(err), inPath);
  }
  loadText(text);
  text.clear();
  text.shrink_to_fit();

  // Write the copy: exactly the copied lines, each of 80 characters.
  std::FILE* out = std::fopen(tmpPath.c_str(), "wb");
  if (out == nullptr) inputError("opening the scratch copy", std::strerror(errno), tmpPath);
  std::vector<char> rec;
  rec.reserve(static_cast<std::size_t>(nlines_) * (kLineWidth + 1));
  for (int k = 1; k <= nlines_; ++k) {
    std::string_view l = line(k);
    rec.insert(rec.end(), l.begin(), l.end());
    rec.push_back('\n');
  }
  bool ok = rec.empty() || std::fwrite(rec.data(), 1, rec.size(), out) == rec.size();
  int err = errno;
  if (std::fclose(out) != 0) ok = false;
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
  char buf[128];
  int m = 0;
  if (neg) buf[m++] = '-';
  int digits = 0;
  bool point = false;
  while (i < n && isDigit(t[i])) buf[m++] = t[i++], ++digits;
  if (i < n && t[i] == '.') {
    point = true;
    buf[m++] = t[i++];
    while (i < n && isDigit(t[i])) buf[m++] = t[i++], ++digits;
  }
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
    int b = pos;
    while (pos < kLineWidth && !endsValue(L[pos])) ++pos;
    std::string_view tok = L.substr(static_cast<std::size_t>(b), static_cast<std::size_t>(pos - b));

    // r*v stands for r copies of v, r* for r null values.
    int repeat = 1;
    std::string_view val = tok;
    std::size_t star = tok.find('*');
    if (star != std::string_view::npos) {
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
