// Damaged checkpoint files: every input must end either in a complete report
// with finite numbers, or in a stop (status 1, a stop line or a known last
// record), or in an input error (status 2, a one-line diagnostic naming the
// file, the line and the section).  Never a crash, a hang, a sanitizer
// report or a non-finite number in a report.
//
// The expected outcome of a damaged file is predicted by a small model of
// the reader: the sections it needs, in the order it reads them, the limits
// of the no-argument run (taken from the code), and what a missing label, a
// short array, a value that is not a number or a non-finite value leads to;
// for an input error also the section and the line the diagnostic names.
// Changes that keep the file readable but alter its meaning (counts,
// exponents, huge values) may end in any clean outcome.  Each case runs the
// built program in a directory of its own, as a user runs it.
#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <utility>
#include <vector>

#include "core/limits.h"
#include "support/testutil.h"

using mvtest::readFile;
using mvtest::runProgram;

namespace {

// The tables of the no-argument run.
const mv::Limits kLimits = mv::Limits::classicRun();

// ------------------------------------------------------------ outcomes

enum class Cls { Report, Stop, InputError };

const char* clsName(Cls c) {
  switch (c) {
    case Cls::Report:
      return "complete report";
    case Cls::Stop:
      return "stop";
    default:
      return "input error";
  }
}

struct Outcome {
  Cls cls = Cls::Report;
  std::string code;     // stop code ("" for a plain stop)
  std::string section;  // input error: the section its diagnostic names
  int line = 0;         // input error: the line its diagnostic names
  std::string problem;  // why the run is not a clean outcome ("" when it is)
};

const char* const kStopCodes[] = {"9999", "1000", "7777", "4358", "968",  "7865", "1212", "7584",
                                  "7585", "8100", "8200", "8300", "8400", "8500", "8600", "8700"};
// Last records of the plain stops.
const char* const kPlainStops[] = {
    "Unknown orbital type - STOP", "The first shell must not be a pure D or F one!",
    "TOO MANY ATOMS, STOP",        "ONLY ONE ATOM",
    "WRONG DENSITY.  STOP.",       "Irrecoverable case"};

std::string lastRecord(const std::string& out) {
  auto ls = mvtest::lines(out);
  while (!ls.empty() && ls.back().find_first_not_of(' ') == std::string::npos) ls.pop_back();
  return ls.empty() ? "" : ls.back();
}

bool hasNonFinite(const std::string& text) {
  for (const char* bad : {"nan", "NaN", "NAN", "inf", "Inf", "INF"})
    if (text.find(bad) != std::string::npos) return true;
  return false;
}

// "nan" or "inf" as a word, as the C library prints non-finite numbers (the
// refusals name such values "NaN" and "Infinity" on purpose).
bool hasCNonFinite(const std::string& text) {
  auto letter = [](char c) { return std::isalpha(static_cast<unsigned char>(c)) != 0; };
  for (const char* w : {"nan", "inf"})
    for (std::size_t at = text.find(w); at != std::string::npos; at = text.find(w, at + 1))
      if ((at == 0 || !letter(text[at - 1])) && (at + 3 == text.size() || !letter(text[at + 3])))
        return true;
  return false;
}

// The analysis part of a report (from the Mulliken heading on).
std::string analysisPart(const std::string& out) {
  std::size_t at = out.find("Mulliken populations");
  return at == std::string::npos ? "" : out.substr(at);
}

Outcome classify(const mvtest::RunResult& r) {
  Outcome o;
  if (r.status == 0) {
    o.cls = Cls::Report;
    const std::string part = analysisPart(r.out);
    if (!r.err.empty())
      o.problem = "status 0 with standard error: " + r.err;
    else if (part.empty() || part.find("FREE VALENCES") == std::string::npos)
      o.problem = "status 0 without a complete report";
    else if (hasNonFinite(part))
      o.problem = "a non-finite number in the report";
    return o;
  }
  if (r.status == 1) {
    o.cls = Cls::Stop;
    if (r.err.empty()) {
      const std::string last = lastRecord(r.out);
      bool known = false;
      for (const char* p : kPlainStops) known = known || last.find(p) != std::string::npos;
      if (!known) o.problem = "plain stop after an unknown last record: '" + last + "'";
      return o;
    }
    if (hasCNonFinite(lastRecord(r.out)))
      o.problem = "a C library NaN or infinity in the message: " + lastRecord(r.out);
    const std::string head = "STOP ", tail = " statement executed\n";
    if (r.err.size() > head.size() + tail.size() && r.err.compare(0, head.size(), head) == 0 &&
        r.err.compare(r.err.size() - tail.size(), tail.size(), tail) == 0) {
      o.code = r.err.substr(head.size(), r.err.size() - head.size() - tail.size());
      for (const char* c : kStopCodes)
        if (o.code == c) return o;
    }
    o.problem = "status 1 with an unexpected standard error: " + r.err;
    return o;
  }
  if (r.status == 2) {
    // "mirvante: Test.FChk:LINE: section 'LABEL': DETAIL", one line.
    o.cls = Cls::InputError;
    const std::string head = "mirvante: Test.FChk:";
    const bool oneLine = !r.err.empty() && r.err.find('\n') == r.err.size() - 1;
    std::size_t p = head.size();
    std::size_t digits = 0;
    while (p + digits < r.err.size() && std::isdigit(static_cast<unsigned char>(r.err[p + digits])))
      ++digits;
    const std::string sec = ": section '";
    const std::size_t q = r.err.find("': ", p + digits + sec.size());
    if (!oneLine || r.err.compare(0, head.size(), head) != 0 || digits == 0 ||
        r.err.compare(p + digits, sec.size(), sec) != 0 || q == std::string::npos ||
        q + 4 >= r.err.size()) {
      o.problem = "status 2 without a one-line diagnostic naming line and section: " + r.err;
      return o;
    }
    o.line = std::atoi(r.err.substr(p, digits).c_str());
    o.section = r.err.substr(p + digits + sec.size(), q - (p + digits + sec.size()));
    return o;
  }
  o.problem = "status " + std::to_string(r.status) + " (crash, signal or timeout): " + r.err;
  return o;
}

// ------------------------------------------------------------ the reader model

using Lines = std::vector<std::string>;

std::string joinLines(const Lines& ls) {
  std::string t;
  for (const auto& l : ls) t += l + "\n";
  return t;
}

std::string col80(const std::string& l) {
  return l.size() > 80 ? l.substr(0, 80) : l;
}

bool startsWith(const std::string& l, const std::string& p) {
  return l.compare(0, p.size(), p) == 0;
}

bool isIntToken(const std::string& t) {
  std::size_t i = (t[0] == '+' || t[0] == '-') ? 1 : 0;
  if (i == t.size() || t.size() - i > 10) return false;
  for (; i < t.size(); ++i)
    if (t[i] < '0' || t[i] > '9') return false;
  const double v = std::atof(t.c_str());
  return v <= 2147483647.0 && v >= -2147483648.0;
}

// A real as the reader accepts it; sets finite to whether it is finite.
bool isRealToken(const std::string& t, bool& finite) {
  std::string u;
  for (char c : t) u += static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  std::size_t i = (u[0] == '+' || u[0] == '-') ? 1 : 0;
  const std::string rest = u.substr(i);
  if (rest == "nan" || rest == "inf" || rest == "infinity") {
    finite = false;
    return true;
  }
  int digits = 0;
  while (i < u.size() && std::isdigit(static_cast<unsigned char>(u[i]))) ++i, ++digits;
  if (i < u.size() && u[i] == '.') ++i;
  while (i < u.size() && std::isdigit(static_cast<unsigned char>(u[i]))) ++i, ++digits;
  if (digits == 0) return false;
  long ex = 0;
  if (i < u.size()) {
    if (u[i] == 'e' || u[i] == 'd' || u[i] == 'q')
      ++i;
    else if (u[i] != '+' && u[i] != '-')
      return false;
    bool neg = false;
    if (i < u.size() && (u[i] == '+' || u[i] == '-')) neg = u[i++] == '-';
    int ed = 0;
    while (i < u.size() && std::isdigit(static_cast<unsigned char>(u[i])))
      ex = std::min(100000L, ex * 10 + (u[i++] - '0')), ++ed;
    if (ed == 0 || i != u.size()) return false;
    if (neg) ex = -ex;
  }
  // Mantissas here have at most a few leading digits, so the exponent alone
  // decides about overflow.
  finite = ex < 300 || (ex <= 308 && std::atof(t.c_str()) < 1.7e308);
  return true;
}

// What the model predicts: an outcome class, a stop code, the section that a
// refusal or an input error names (and the line of the input error), and
// which density a report analyses.
struct Prediction {
  Cls cls = Cls::Report;
  std::string code;
  std::string section;
  int line = 0;
  std::string density;  // label line of the analysed density
};

class ReaderModel {
 public:
  explicit ReaderModel(const std::string& text) {
    for (const auto& l : mvtest::lines(text)) L_.push_back(col80(l));
  }

  Prediction predict() {
    try {
      run();
    } catch (const Prediction& p) {
      return p;
    }
    return result_;
  }

 private:
  Lines L_;
  Prediction result_;

  [[noreturn]] void end(Cls c, const std::string& code = "", const std::string& section = "") {
    Prediction p;
    p.cls = c;
    p.code = code;
    p.section = section;
    throw p;
  }
  // An input error in section `label` at line `line` (1-based).
  [[noreturn]] void inputError(const std::string& label, std::size_t line) {
    Prediction p;
    p.cls = Cls::InputError;
    p.section = label;
    p.line = static_cast<int>(line);
    throw p;
  }

  // Index (0-based) of the line after the first line that begins with label.
  std::size_t find(const std::string& label) {
    for (std::size_t k = 0; k < L_.size(); ++k)
      if (startsWith(L_[k], label)) return k + 1;
    end(Cls::Stop, "1000");
  }

  static std::string field(const std::string& l, std::size_t col, std::size_t w) {
    std::string f;
    for (std::size_t k = col - 1; k < col - 1 + w && k < l.size(); ++k)
      if (l[k] != ' ') f += l[k];
    return f;
  }

  static std::string name(const std::string& labelLine) {
    std::string n = labelLine.substr(0, std::min<std::size_t>(40, labelLine.size()));
    while (!n.empty() && n.back() == ' ') n.pop_back();
    return n;
  }

  // `at` is the line number of the label line (the index after it).
  int scalar(const std::string& label, const std::string& what, int limit) {
    const std::size_t at = find(label);
    const std::string f = field(L_[at - 1], 56, 6);
    if (!f.empty() && !isIntToken(f)) inputError(label, at);
    const int v = f.empty() ? 0 : std::atoi(f.c_str());
    if (what.empty()) return v;  // required, but its value is not used
    if (v < 0) end(Cls::Stop, "8300", what);
    if (mv::Limits::beyond(v, limit)) end(Cls::Stop, "8100", what);
    return v;
  }

  // Free-format values after line `at`; returns how many were read before a
  // token that is not a number (sets stoppedByText) or the end of the file.
  struct Scan {
    int count = 0;
    bool text = false, eof = false, finite = true;
    std::size_t textLine = 0;  // line number of the token that is not a number
    std::vector<int> ints;
    std::vector<double> reals;
  };
  Scan values(std::size_t at, int n, bool integers) {
    Scan s;
    for (std::size_t k = at; k < L_.size() && s.count < n; ++k) {
      const std::string& l = L_[k];
      std::size_t p = 0;
      while (s.count < n) {
        p = l.find_first_not_of(' ', p);
        if (p == std::string::npos) break;
        std::size_t e = l.find(' ', p);
        if (e == std::string::npos) e = l.size();
        const std::string t = l.substr(p, e - p);
        p = e;
        bool fin = true;
        if (integers ? !isIntToken(t) : !isRealToken(t, fin)) {
          s.text = true;
          s.textLine = k + 1;
          return s;
        }
        if (integers)
          s.ints.push_back(std::atoi(t.c_str()));
        else
          s.reals.push_back(fin ? std::strtod(t.c_str(), nullptr) : 1.0);
        s.finite = s.finite && fin;
        ++s.count;
      }
    }
    s.eof = s.count < n;
    return s;
  }

  std::vector<int> array(const std::string& label, int n, bool integers, bool positive = false) {
    const std::size_t at = find(label);
    Scan s = values(at, n, integers);
    if (s.text) inputError(label, s.textLine);
    if (s.eof) inputError(label, at);
    if (!s.finite) end(Cls::Stop, "8200", name(L_[at - 1]));
    for (double x : s.reals)
      if (positive && !(x > 0.0)) end(Cls::Stop, "8200", "Primitive exponents");
    return s.ints;
  }

  void run() {
    if (L_.size() <= 5) end(Cls::Stop, "9999");
    const std::string calc = L_[1] + std::string(80, ' ');
    const bool unrestricted = calc.substr(8, 8) == "  UHF   " || calc[10] == 'U';

    const int natom = scalar("Number of atoms ", "Number of atoms", kLimits.atomsRead);
    scalar("Number of electr", "Number of electrons", mv::kNoLimit);
    scalar("Number of alpha ", "Number of alpha electrons", mv::kNoLimit);
    scalar("Number of beta e", "Number of beta electrons", mv::kNoLimit);
    const int nbf = scalar("Number of basis ", "Number of basis functions", kLimits.basisFunctions);
    const int nshell = scalar("Number of contra", "Number of contracted shells", kLimits.shells);
    scalar("Highest angular ", "", mv::kNoLimit);
    scalar("Largest degree o", "", mv::kNoLimit);
    const int nprim =
        scalar("Number of primitive shel", "Number of primitive shells", kLimits.rawPrimitives);

    const std::size_t e = find("SCF Energy  ");
    bool fin = true;
    const std::string ef = field(L_[e - 1], 46, 30);
    if (!ef.empty() && !isRealToken(ef, fin)) inputError("SCF Energy  ", e);
    if (!fin) end(Cls::Stop, "8200", "SCF Energy");

    array("Atomic numbe", natom, true);
    array("Nuclear charges ", natom, false);
    array("Current cartesia", 3 * natom, false);
    const std::vector<int> types = array("Shell types ", nshell, true);
    array("Number of primitives per", nshell, true);
    array("Shell to atom ma", nshell, true);
    array("Primitive expone", nprim, false, true);
    array("Contraction coef", nprim, false);
    if (std::find(types.begin(), types.end(), -1) != types.end())
      array("P(S=P) Contracti", nprim, false);

    // Shell coordinates in fixed fields of 16 columns, five per line.
    {
      const std::size_t at = find("Coordinates of e");
      int done = 0;
      for (std::size_t k = at; done < 3 * nshell; ++k) {
        if (k >= L_.size()) inputError("Coordinates of e", at);
        for (int f = 0; f < 5 && done < 3 * nshell; ++f, ++done) {
          const std::string v = field(L_[k], 1 + 16 * f, 16);
          bool ok = true;
          if (!v.empty() && !isRealToken(v, ok)) inputError("Coordinates of e", k + 1);
          if (!ok) end(Cls::Stop, "8200", "Coordinates of each shell");
        }
      }
    }

    // MO coefficients: a value that is not a number ends the read quietly.
    {
      const std::size_t at = find("Alpha MO coeffic");
      Scan s = values(at, nbf * nbf, false);
      if (!s.text && s.eof) inputError("Alpha MO coeffic", at);
      if (!s.finite) end(Cls::Stop, "8200", "Alpha MO coefficients");
    }
    if (unrestricted) {
      find("Beta MO coeffici");
      end(Cls::Stop, "7777");
    }

    // The density under the last line that begins with "Tota".
    int ndens = -1;
    std::size_t last = 0;
    for (std::size_t k = 0; k < L_.size(); ++k)
      if (startsWith(L_[k], "Tota")) ++ndens, last = k + 1;
    if (ndens < 1) end(Cls::Stop, "8500");
    Scan s = values(last, nbf * (nbf + 1) / 2, false);
    if (s.count == 0 && nbf > 0) end(Cls::Stop, "8500");
    if (s.text) inputError(name(L_[last - 1]), s.textLine);
    if (s.eof) inputError(name(L_[last - 1]), last);
    if (!s.finite) end(Cls::Stop, "8200", name(L_[last - 1]));
    result_.density = L_[last - 1];
  }
};

// ------------------------------------------------------------ running cases

const char* const kFixtures[] = {"h2o_rhf_sto3g", "h2o_rhf_631gs_sp", "ch2o_rhf_ccpvdz",
                                 "n2_rhf_ccpvtz", "ch2_rohf_631gs",   "h2o_mp2_ccpvdz"};

std::string fixtureText(const std::string& name) {
  return readFile(mvtest::dataPath(name + ".fchk"));
}

// One damaged file.  `meaningChanged`: the damage alters what the file says,
// so a predicted report may become any clean outcome; otherwise a predicted
// report must repeat the original analysis when the same density is analysed.
struct Case {
  std::string what;
  std::string text;
  bool meaningChanged = false;
};

class Runner {
 public:
  explicit Runner(const std::string& fixture) : name_(fixture), text_(fixtureText(fixture)) {
    auto run = runProgram(text_);
    EXPECT_EQ(run.status, 0) << fixture << ": " << run.err;
    original_ = analysisPart(run.out);
    originalDensity_ = ReaderModel(text_).predict().density;
    std::filesystem::remove_all(run.dir);
  }
  const std::string& text() const { return text_; }
  Lines lines() const { return mvtest::lines(text_); }

  // Returns the actual outcome (for callers that check more).
  Outcome check(const Case& c) {
    const Prediction want = ReaderModel(c.text).predict();
    auto run = runProgram(c.text);
    const Outcome got = classify(run);
    const std::string where = name_ + ": " + c.what;
    ++cases_;
    bool ok = got.problem.empty();
    EXPECT_TRUE(got.problem.empty()) << where << ": " << got.problem;
    if (ok && !(want.cls == Cls::Report && c.meaningChanged)) {
      EXPECT_EQ(clsName(got.cls), std::string(clsName(want.cls)))
          << where << " (stop code '" << got.code << "', last record '" << lastRecord(run.out)
          << "', stderr " << run.err << ")";
      ok = got.cls == want.cls;
      if (ok && want.cls == Cls::Stop) {
        EXPECT_EQ(got.code, want.code) << where << ", last record '" << lastRecord(run.out) << "'";
        ok = got.code == want.code;
      }
      if (ok && want.cls == Cls::InputError) {
        EXPECT_EQ(got.section, want.section) << where << ": " << run.err;
        EXPECT_EQ(got.line, want.line) << where << ": " << run.err;
      } else if (ok && !want.section.empty()) {
        EXPECT_NE(lastRecord(run.out).find(want.section), std::string::npos)
            << where << ": the refusal does not name '" << want.section
            << "': " << lastRecord(run.out);
      }
      if (ok && want.cls == Cls::Report && want.density == originalDensity_) {
        EXPECT_EQ(analysisPart(run.out), original_) << where << ": the analysis changed";
        ok = analysisPart(run.out) == original_;
      }
    }
    if (ok) std::filesystem::remove_all(run.dir);
    return got;
  }
  int cases() const { return cases_; }

 private:
  std::string name_, text_, original_, originalDensity_;
  int cases_ = 0;
};

// Positions of the whitespace-separated tokens of a line: [begin, end).
std::vector<std::pair<std::size_t, std::size_t>> tokens(const std::string& l) {
  std::vector<std::pair<std::size_t, std::size_t>> v;
  std::size_t p = 0;
  while ((p = l.find_first_not_of(' ', p)) != std::string::npos) {
    std::size_t e = l.find(' ', p);
    if (e == std::string::npos) e = l.size();
    v.emplace_back(p, e);
    p = e;
  }
  return v;
}

// Replace the token [b, e) of a line by t, keeping its last column (so
// fixed fields and right-aligned scalars stay where they were).
std::string replaceToken(std::string l, std::size_t b, std::size_t e, const std::string& t) {
  std::size_t start = t.size() <= e ? e - t.size() : 0;
  if (start < b) {
    for (std::size_t k = start; k < b; ++k)
      if (l[k] != ' ') start = b;  // no room on the left: grow to the right
  }
  l.erase(b, e - b);
  l.insert(b, std::string(e - b, ' '));
  if (start == b && t.size() > e - b) return l.substr(0, b) + t + l.substr(e);
  l.replace(start, t.size(), t);
  return l;
}

// Label lines: lines from 3 on that do not begin with a blank.
bool isLabel(const Lines& ls, std::size_t k) {
  return k >= 2 && !ls[k].empty() && ls[k][0] != ' ';
}

// Line index (0-based) of the first label line that begins with `label`.
std::size_t labelLine(const Lines& ls, const std::string& label) {
  for (std::size_t k = 0; k < ls.size(); ++k)
    if (startsWith(ls[k], label)) return k;
  ADD_FAILURE() << "no label " << label;
  return 0;
}

// Set the integer scalar of a label line, right-aligned to column 61.
std::string withScalar(const std::string& text, const std::string& label, const std::string& v) {
  Lines ls = mvtest::lines(text);
  std::string& l = ls[labelLine(ls, label)];
  l = l.substr(0, 49) + std::string(12 - std::min<std::size_t>(12, v.size()), ' ') + v;
  return joinLines(ls);
}

// Replace the value with index q (0-based) of the array under `label`.
std::string withArrayValue(const std::string& text, const std::string& label, int q,
                           const std::string& v) {
  Lines ls = mvtest::lines(text);
  for (std::size_t k = labelLine(ls, label) + 1; k < ls.size() && !isLabel(ls, k); ++k) {
    auto t = tokens(ls[k]);
    if (q < static_cast<int>(t.size())) {
      ls[k] = replaceToken(ls[k], t[q].first, t[q].second, v);
      return joinLines(ls);
    }
    q -= static_cast<int>(t.size());
  }
  ADD_FAILURE() << "no value " << q << " under " << label;
  return text;
}

// The integer values of the array under `label`.
std::vector<int> arrayValues(const std::string& text, const std::string& label) {
  Lines ls = mvtest::lines(text);
  std::vector<int> v;
  for (std::size_t k = labelLine(ls, label) + 1; k < ls.size() && !isLabel(ls, k); ++k)
    for (const auto& [b, e] : tokens(ls[k])) v.push_back(std::atoi(ls[k].substr(b, e - b).c_str()));
  return v;
}

// Basis functions of a shell type.
int functionsOf(int type) {
  switch (type) {
    case 0:
      return 1;
    case 1:
      return 3;
    case -1:
      return 4;
    case 2:
      return 6;
    case -2:
      return 5;
    case 3:
      return 10;
    default:
      return 7;
  }
}

class Corruption : public ::testing::TestWithParam<const char*> {};

// The file cut off at many points, on line boundaries and inside lines.
TEST_P(Corruption, TruncatedFiles) {
  Runner r(GetParam());
  const Lines ls = r.lines();
  const int n = static_cast<int>(ls.size());
  const int stride = std::max(1, n / 40);
  for (int k = 0; k <= n; k += (k < 30 ? 1 : stride)) {
    Lines kept(ls.begin(), ls.begin() + k);
    r.check({"first " + std::to_string(k) + " lines", joinLines(kept)});
  }
  // Cuts inside a line: the last line is incomplete (a number may lose
  // digits, so the values may change).
  const std::string& t = r.text();
  for (std::size_t at = 37; at < t.size(); at += t.size() / 30 + 1)
    r.check({"first " + std::to_string(at) + " bytes", t.substr(0, at), true});
  // The last line without its line end.
  r.check({"no final line end", t.substr(0, t.size() - 1)});
  EXPECT_GT(r.cases(), 60);
}

// One line deleted: label lines of every section, and data lines with a stride.
TEST_P(Corruption, DeletedLines) {
  Runner r(GetParam());
  const Lines ls = r.lines();
  const std::size_t stride = std::max<std::size_t>(1, ls.size() / 60);
  for (std::size_t k = 0; k < ls.size(); ++k) {
    if (!(k < 2 || isLabel(ls, k) || k % stride == 0)) continue;
    Lines v = ls;
    v.erase(v.begin() + static_cast<std::ptrdiff_t>(k));
    r.check({"line " + std::to_string(k + 1) + " deleted", joinLines(v)});
  }
}

// Numbers replaced by text, by huge, negative or zero values, by NaN and
// by Inf, in every section (first, middle and last value of each array).
TEST_P(Corruption, ReplacedValues) {
  Runner r(GetParam());
  const Lines ls = r.lines();
  struct Repl {
    std::string name;
    bool meaningChanged;
  };
  const std::vector<Repl> repl = {{"abc", false},       {"NaN", false},     {"Inf", false},
                                  {"-Infinity", false}, {"1.0E+308", true}, {"99999999", true},
                                  {"-", true},          {"0", true}};
  int rotate = 0;
  for (std::size_t k = 2; k < ls.size(); ++k) {
    if (!isLabel(ls, k)) continue;
    std::vector<std::pair<std::size_t, int>> where;  // (line, token index)
    if (ls[k].find("N=") == std::string::npos) {
      auto t = tokens(ls[k]);
      where.emplace_back(k, static_cast<int>(t.size()) - 1);
    } else {
      std::vector<std::pair<std::size_t, int>> all;
      for (std::size_t j = k + 1; j < ls.size() && !isLabel(ls, j); ++j)
        for (int q = 0; q < static_cast<int>(tokens(ls[j]).size()); ++q) all.emplace_back(j, q);
      if (all.empty()) continue;
      where = {all.front(), all[all.size() / 2], all.back()};
      where.erase(std::unique(where.begin(), where.end()), where.end());
    }
    for (const auto& [line, q] : where) {
      // Scalars get every replacement; array positions take turns.
      const bool scalar = line == k;
      for (std::size_t i = 0; i < repl.size(); ++i) {
        if (!scalar && (i + static_cast<std::size_t>(rotate)) % 3 != 0) continue;
        Lines v = ls;
        auto t = tokens(v[line])[static_cast<std::size_t>(q)];
        std::string old = v[line].substr(t.first, t.second - t.first);
        std::string nv =
            repl[i].name == "-" ? "-" + old.substr(old[0] == '-' ? 1 : 0) : repl[i].name;
        v[line] = replaceToken(v[line], t.first, t.second, nv);
        r.check({"'" + old + "' -> '" + nv + "' at line " + std::to_string(line + 1), joinLines(v),
                 repl[i].meaningChanged});
      }
      ++rotate;
    }
  }
  EXPECT_GT(r.cases(), 150);
}

// The counts of atoms, basis functions, shells and primitives moved up
// and down, to zero, negative and beyond the limits.
TEST_P(Corruption, ChangedCounts) {
  Runner r(GetParam());
  const Lines ls = r.lines();
  for (const char* label : {"Number of atoms ", "Number of basis ", "Number of contra",
                            "Number of primitive shel", "Number of electr", "Number of alpha "}) {
    const std::string& l = ls[labelLine(ls, label)];
    const int v = std::atoi(l.substr(55, 6).c_str());
    for (int nv : {v + 1, v - 1, v + 7, 0, -1, -v, kLimits.basisFunctions + 1,
                   kLimits.rawPrimitives + 1, 999999}) {
      const Outcome o = r.check({std::string(label) + " set to " + std::to_string(nv),
                                 withScalar(r.text(), label, std::to_string(nv)), true});
      if (nv < 0) {
        EXPECT_EQ(o.code, "8300") << label << nv;
      }
    }
  }
}

// Shell types, primitive counts and shell-to-atom entries out of range.
TEST_P(Corruption, ShellTablesOutOfRange) {
  Runner r(GetParam());
  const Lines ls = r.lines();
  const int nshell = std::atoi(ls[labelLine(ls, "Number of contra")].substr(55, 6).c_str());
  const int natom = std::atoi(ls[labelLine(ls, "Number of atoms ")].substr(55, 6).c_str());
  const std::vector<int> types = arrayValues(r.text(), "Shell types ");
  ASSERT_EQ(static_cast<int>(types.size()), nshell);
  for (int s : {0, nshell / 2, nshell - 1}) {
    const std::string at = " of shell " + std::to_string(s + 1);
    // Unknown shell types: the plain stop with its message.
    for (const char* t : {"4", "-4", "5", "99", "-99", "2147483647", "-2147483647"}) {
      auto o = r.check(
          {std::string("type ") + t + at, withArrayValue(r.text(), "Shell types ", s, t), true});
      EXPECT_TRUE(o.cls == Cls::Stop && o.code.empty()) << "type " << t << at;
    }
    // A known type with another number of functions: the function count no
    // longer matches the basis-function count, unless a p shell comes
    // first, which is refused before that.
    for (const char* t : {"2", "1", "-3"}) {
      if (functionsOf(std::atoi(t)) == functionsOf(types[static_cast<std::size_t>(s)])) continue;
      auto o = r.check(
          {std::string("type ") + t + at, withArrayValue(r.text(), "Shell types ", s, t), true});
      EXPECT_EQ(o.code, s == 0 && std::string(t) == "1" ? "4358" : "968") << "type " << t << at;
    }
    for (const std::string& n :
         {std::string("0"), std::string("-1"), std::to_string(kLimits.perFunction + 1),
          std::string("100"), std::to_string(kLimits.rawPrimitives), std::string("2147483647")}) {
      auto p = r.check({"primitives " + n + at,
                        withArrayValue(r.text(), "Number of primitives per", s, n), true});
      EXPECT_EQ(p.code, "8300") << "primitives " << n << at;
    }
    for (int a : {0, -1, natom + 1, kLimits.atoms + 1, kLimits.atomsRead + 1, 1000000}) {
      auto p = r.check({"atom " + std::to_string(a) + at,
                        withArrayValue(r.text(), "Shell to atom ma", s, std::to_string(a)), true});
      EXPECT_EQ(p.code, "8300") << "atom " << a << at;
    }
  }
}

// Zero and negative exponents are refused naming the section; tiny and
// huge ones end cleanly.
TEST_P(Corruption, NonPositiveAndExtremeExponents) {
  Runner r(GetParam());
  const Lines ls = r.lines();
  const int nprim = std::atoi(ls[labelLine(ls, "Number of primitive shel")].substr(55, 6).c_str());
  for (int q : {0, nprim / 2, nprim - 1}) {
    for (const char* e : {"0.0", "-0.0", "-1.5E+00", "0"}) {
      auto o = r.check(
          {std::string("exponent ") + e, withArrayValue(r.text(), "Primitive expone", q, e)});
      EXPECT_EQ(o.code, "8200");
    }
    for (const char* e : {"1.0E-300", "1.0E-30", "1.0E+30", "1.0E+300", "4.9E-324"})
      r.check(
          {std::string("exponent ") + e, withArrayValue(r.text(), "Primitive expone", q, e), true});
  }
}

// The lowest integer as a shell type is an unknown type like any other.
// Disabled: the basis expansion takes std::abs of the type, which is
// undefined for the lowest integer (it stays negative in practice), so the
// type passes the check and the run stops with 968 instead.
TEST(CorruptionShellTypes, LowestIntegerIsAnUnknownType) {
  Runner r("h2o_rhf_sto3g");
  const int nshell = static_cast<int>(arrayValues(r.text(), "Shell types ").size());
  for (int s : {0, nshell / 2, nshell - 1}) {
    auto o = r.check({"type -2147483648 of shell " + std::to_string(s + 1),
                      withArrayValue(r.text(), "Shell types ", s, "-2147483648"), true});
    EXPECT_TRUE(o.cls == Cls::Stop && o.code.empty()) << "shell " << s + 1;
  }
}

INSTANTIATE_TEST_SUITE_P(Fixtures, Corruption, ::testing::ValuesIn(kFixtures),
                         [](const auto& info) { return std::string(info.param); });

// Odd calculation lines: the method decides the messages and the refusal
// of unrestricted wave functions; the file's analysis does not change.
TEST(CorruptionOddLines, CalculationLine) {
  for (const char* fixture : {"h2o_rhf_sto3g", "ch2_rohf_631gs", "h2o_mp2_ccpvdz"}) {
    Runner r(fixture);
    Lines ls = r.lines();
    for (std::string l2 : {std::string(""), std::string(200, 'x'), std::string("\t\tRHF"),
                           std::string("SP        RHF"), std::string("SP         RHF   "),
                           std::string("SP        ROHF"), std::string("SP        RHFX"),
                           std::string("SP        uhf"), std::string(80, ' '), std::string("Tota"),
                           std::string("SP\0\0RHF", 7)}) {
      Lines v = ls;
      v[1] = l2;
      // A line 2 beginning "Tota" adds a density to the count; the analysis
      // stays the same.
      r.check({"line 2 '" + l2 + "'", joinLines(v)});
    }
    // Unrestricted methods without a beta MO section stop with 1000.
    for (std::string l2 : {"SP        UHF", "SP        UB3LYP", "SP        UMP2"}) {
      Lines v = ls;
      v[1] = l2;
      auto o = r.check({"line 2 '" + l2 + "'", joinLines(v)});
      EXPECT_EQ(o.code, "1000");
    }
  }
}

// Lines beginning "Tota" that do not head a density, and densities missing.
TEST(CorruptionOddLines, TotalLines) {
  for (const char* fixture : {"h2o_rhf_sto3g", "ch2_rohf_631gs", "h2o_mp2_ccpvdz"}) {
    Runner r(fixture);
    const Lines ls = r.lines();
    auto insertAt = [&](std::size_t k, const std::string& l) {
      Lines v = ls;
      v.insert(v.begin() + static_cast<std::ptrdiff_t>(k), l);
      return joinLines(v);
    };
    // An extra "Tota" line at the end: nothing follows it.
    EXPECT_EQ(r.check({"Tota at the end", insertAt(ls.size(), "Total nonsense")}).code, "8500");
    // A "Tota" line early in the file only changes the density count.
    r.check({"Tota as line 3", insertAt(2, "Tota")});
    r.check({"Tota as title", insertAt(0, "Total title")});
    // A "Tota" line inside the density: the values after it are too few.
    const std::size_t d = labelLine(ls, "Total SCF Density");
    r.check({"Tota inside the density", insertAt(d + 2, "Tota")});
    // Labels renamed so that no line begins "Tota", or only the energy does.
    Lines v = ls;
    for (auto& l : v)
      if (startsWith(l, "Tota")) l[0] = 'X';
    EXPECT_EQ(r.check({"no Tota line", joinLines(v)}).code, "8500");
    v = ls;
    for (std::size_t k = 0; k < v.size(); ++k)
      if (startsWith(v[k], "Total") && v[k].find("Density") != std::string::npos) v[k][0] = 'X';
    EXPECT_EQ(r.check({"only Total Energy", joinLines(v)}).code, "8500");
    // The density label followed by text instead of numbers.
    v = ls;
    v[d + 1] = " density values follow";
    r.check({"text in the density", joinLines(v)});
  }
}

// ------------------------------------------------------------ decided behaviours

// CRLF line ends read exactly as LF: the same report.
TEST(CorruptionDecided, CrlfReadsAsLf) {
  for (const char* fixture : {"h2o_rhf_sto3g", "ch2_rohf_631gs"}) {
    const std::string lf = fixtureText(fixture);
    std::string crlf;
    for (char c : lf) crlf += c == '\n' ? std::string("\r\n") : std::string(1, c);
    auto a = runProgram(lf), b = runProgram(crlf);
    EXPECT_EQ(a.status, 0);
    EXPECT_EQ(b.status, 0) << b.err;
    EXPECT_EQ(b.err, "");
    EXPECT_EQ(a.out, b.out) << fixture;
    std::filesystem::remove_all(a.dir);
    std::filesystem::remove_all(b.dir);
  }
}

// A three-digit exponent without its letter ("0.12345678-100") is that
// number: written so in the density, in the MO coefficients and in the shell
// coordinates it gives the same report as the usual notation.
TEST(CorruptionDecided, ExponentWithoutLetter) {
  Runner r("h2o_rhf_sto3g");
  std::string t = r.text();
  // Density (1,1) = 2.10627784 written as 0.210627784+001, and a zero
  // element of the density as a tiny number.
  t = withArrayValue(t, "Total SCF Density", 0, "0.210627784+001");
  t = withArrayValue(t, "Total SCF Density", 3, "0.12345678-100");
  t = withArrayValue(t, "Alpha MO coeffic", 2, "-1.23456789-105");
  t = withArrayValue(t, "Coordinates of e", 0, "  0.12345678-100");
  r.check({"exponents without their letter", t});
  // Changing the same value to something else does change the analysis:
  // the comparison above is not blind.
  auto run = runProgram(withArrayValue(r.text(), "Total SCF Density", 0, "0.210627784+002"));
  EXPECT_NE(classify(run).cls, Cls::Report);
  std::filesystem::remove_all(run.dir);
}

// Non-finite values in every real section that is read are refused with a
// message that names the section, and status 1.
TEST(CorruptionDecided, NonFiniteValuesNameTheirSection) {
  struct Where {
    const char* fixture;
    const char* label;
    const char* name;
  };
  const Where where[] = {
      {"h2o_rhf_sto3g", "Nuclear charges ", "Nuclear charges"},
      {"h2o_rhf_sto3g", "Current cartesia", "Current cartesian coordinates"},
      {"h2o_rhf_sto3g", "Primitive expone", "Primitive exponents"},
      {"h2o_rhf_sto3g", "Contraction coef", "Contraction coefficients"},
      {"h2o_rhf_631gs_sp", "P(S=P) Contracti", "P(S=P) Contraction coefficients"},
      {"h2o_rhf_sto3g", "Coordinates of e", "Coordinates of each shell"},
      {"h2o_rhf_sto3g", "Alpha MO coeffic", "Alpha MO coefficients"},
      {"h2o_rhf_sto3g", "Total SCF Density", "Total SCF Density"},
      {"h2o_mp2_ccpvdz", "Total MP2 Density", "Total MP2 Density"}};
  // The value as the refusal names it.
  const std::pair<const char*, const char*> values[] = {
      {"NaN", "NaN"}, {"-Inf", "-Infinity"}, {"1.0E+309", "Infinity"}, {"nan(0x1)", "NaN"}};
  for (const Where& w : where) {
    Runner r(w.fixture);
    for (const auto& [v, shown] : values) {
      auto run = runProgram(withArrayValue(r.text(), w.label, 1, v));
      const Outcome o = classify(run);
      EXPECT_TRUE(o.problem.empty()) << o.problem;
      EXPECT_EQ(run.status, 1) << w.label << " " << v;
      EXPECT_EQ(run.err, "STOP 8200 statement executed\n") << w.label << " " << v;
      EXPECT_EQ(lastRecord(run.out), std::string("  Section '") + w.name +
                                         "' holds a value that is not a finite number: " + shown);
      std::filesystem::remove_all(run.dir);
    }
  }
  // The SCF energy on its label line.
  Runner r("h2o_rhf_sto3g");
  Lines ls = r.lines();
  std::string& l = ls[labelLine(ls, "SCF Energy  ")];
  l = l.substr(0, 49) + "                   NaN";
  auto run = runProgram(joinLines(ls));
  EXPECT_EQ(run.err, "STOP 8200 statement executed\n");
  EXPECT_EQ(lastRecord(run.out),
            "  Section 'SCF Energy' holds a value that is not a finite number: NaN");
  std::filesystem::remove_all(run.dir);
}

// Negative counts are refused naming the count.
TEST(CorruptionDecided, NegativeCountsNameTheCount) {
  Runner r("h2o_rhf_sto3g");
  for (const char* label : {"Number of atoms", "Number of electrons", "Number of alpha electrons",
                            "Number of beta electrons", "Number of basis functions",
                            "Number of contracted shells", "Number of primitive shells"}) {
    auto run = runProgram(withScalar(r.text(), label, "-2"));
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(run.err, "STOP 8300 statement executed\n") << label;
    EXPECT_EQ(lastRecord(run.out), std::string("  ") + label + " -2 is negative");
    std::filesystem::remove_all(run.dir);
  }
}

// ------------------------------------------------------------ regression cases

// Every kept input (tests/data/bad/NAME.fchk: hand-made files, and inputs
// found by fuzzing once their fault is fixed) ends in a clean outcome.
TEST(CorruptionRegression, KeptInputsEndCleanly) {
  int n = 0;
  for (const auto& f : mvtest::listFiles(mvtest::dataPath("bad"), ".fchk")) {
    auto run = runProgram(readFile(f));
    const Outcome o = classify(run);
    EXPECT_TRUE(o.problem.empty()) << f << ": " << o.problem;
    if (o.problem.empty()) std::filesystem::remove_all(run.dir);
    ++n;
  }
  EXPECT_GT(n, 0);
}

// The hand-made inputs and the refusal each must end in.
TEST(CorruptionRegression, HandMadeInputsAreRefusedWithTheirReason) {
  struct Bad {
    const char* file;
    const char* err;
    const char* last;  // the last record
  };
  const Bad bad[] = {
      // Overflowing products of a density that passes the trace check.
      {"h2_far_apart_huge_density.fchk", "STOP 8200 statement executed\n",
       "  The bond-order analysis gives a value that is not a finite number (number of "
       "effectively unpaired electrons): the density holds elements out of range. STOP"},
      // A coordinate so large that the overlap integrals overflow.
      {"h2o_coordinate_1e308.fchk", "STOP 8200 statement executed\n",
       "  The overlap matrix holds an element that is not a finite number (S(6,5)): the "
       "coordinates or exponents are out of range. STOP"},
  };
  for (const Bad& b : bad) {
    auto run = runProgram(readFile(mvtest::dataPath(std::string("bad/") + b.file)));
    EXPECT_EQ(run.status, 1) << b.file;
    EXPECT_EQ(run.err, b.err) << b.file;
    EXPECT_EQ(lastRecord(run.out), b.last) << b.file;
    std::filesystem::remove_all(run.dir);
  }
}

}  // namespace
