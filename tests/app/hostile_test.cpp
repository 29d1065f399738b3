// Damaged and hostile inputs of the command line, kept as data: every case
// of tests/data/hostile/cases.txt edits a bundled checkpoint file, and the
// built program must refuse it with the exact diagnostic and status, never
// with a complete analysis.  Then the inputs that are hostile by their name
// or their stream rather than their contents.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <sstream>
#include <string>
#include <vector>

#include "support/fchktext.h"
#include "support/handmade.h"
#include "support/testutil.h"

namespace fs = std::filesystem;
using mvtest::dataPath;
using mvtest::readFile;
using mvtest::writeFile;

namespace {

struct Case {
  int line = 0;  // in cases.txt
  std::string kind, file, edits, diagnostic;
  int status = 0;
};

std::string trim(const std::string& s) {
  const std::size_t b = s.find_first_not_of(' ');
  if (b == std::string::npos) return "";
  return s.substr(b, s.find_last_not_of(' ') - b + 1);
}

std::vector<std::string> split(const std::string& s, const std::string& sep) {
  std::vector<std::string> parts;
  std::size_t at = 0;
  for (std::size_t k; (k = s.find(sep, at)) != std::string::npos; at = k + sep.size())
    parts.push_back(s.substr(at, k - at));
  parts.push_back(s.substr(at));
  return parts;
}

// \xHH escapes as the bytes they stand for.
std::string bytes(const std::string& s) {
  std::string out;
  for (std::size_t i = 0; i < s.size(); ++i) {
    if (s.compare(i, 2, "\\x") == 0 && i + 3 < s.size()) {
      out += static_cast<char>(std::stoi(s.substr(i + 2, 2), nullptr, 16));
      i += 3;
    } else {
      out += s[i];
    }
  }
  return out;
}

std::vector<Case> loadCases() {
  std::vector<Case> cases;
  std::istringstream in(readFile(dataPath("hostile/cases.txt")));
  std::string l;
  for (int n = 1; std::getline(in, l); ++n) {
    if (trim(l).empty() || l[0] == '#') continue;
    const std::vector<std::string> f = split(l, " | ");
    if (f.size() != 5) {
      ADD_FAILURE() << "cases.txt:" << n << ": five fields expected";
      continue;
    }
    cases.push_back({n, trim(f[0]), trim(f[1]), trim(f[2]), f[4], std::stoi(f[3])});
  }
  return cases;
}

// The index of the first line that begins with `label`.
std::size_t labelLine(const std::vector<std::string>& ls, const std::string& label) {
  for (std::size_t k = 0; k < ls.size(); ++k)
    if (ls[k].rfind(label, 0) == 0) return k;
  throw std::runtime_error("no line begins with '" + label + "'");
}

// The line with its value field (from column 50) replaced by v, right-aligned
// at column 61.
std::string withValue(const std::string& l, const std::string& v) {
  std::string head = l.substr(0, 49);
  head.resize(49, ' ');
  return v.size() < 12 ? head + std::string(12 - v.size(), ' ') + v : head + v;
}

std::string applyEdits(const std::string& text, const std::string& edits) {
  std::vector<std::string> ls = mvtest::lines(text);
  for (const std::string& raw : split(edits, " ; ")) {
    const std::string e = bytes(trim(raw));
    if (e.rfind("set ", 0) == 0 || e.rfind("count ", 0) == 0) {
      const std::size_t eq = e.find(" = ");
      const std::string label = e.substr(e.find(' ') + 1, eq - e.find(' ') - 1);
      std::string& l = ls[labelLine(ls, label)];
      const std::string v = e.substr(eq + 3);
      l = e[0] == 's' ? withValue(l, v) : withValue(l.substr(0, 47) + "N=", v);
    } else if (e.rfind("sub ", 0) == 0) {
      const std::size_t plus = e.find(" +");
      const std::size_t slash = e.find(" /");
      const std::vector<std::string> on = split(e.substr(slash + 2), "/");
      std::string& l = ls[labelLine(ls, e.substr(4, plus - 4)) +
                          std::stoul(e.substr(plus + 2, slash - plus - 2))];
      const std::size_t at = l.find(on.at(0));
      if (at == std::string::npos) throw std::runtime_error("'" + on[0] + "' not found");
      l.replace(at, on[0].size(), on.at(1));
    } else {
      throw std::runtime_error("unknown edit '" + e + "'");
    }
  }
  std::string out;
  for (const std::string& l : ls) out += l + "\n";
  return out;
}

using ProgramRun = mvtest::RunResult;

// The program with `args` in `dir`; `prefix` runs it under another command.
ProgramRun mirvante(const std::string& args, const std::string& dir,
                    const std::string& prefix = "") {
  return mvtest::runShell(prefix + mvtest::shellQuote(MV_PROGRAM) + " " + args, dir, "");
}

}  // namespace

TEST(HostileInputs, EveryCaseIsRefusedWithItsDiagnostic) {
  const std::vector<Case> cases = loadCases();
  ASSERT_GE(cases.size(), 20u);
  const std::string dir = mvtest::makeTempDir("mvhostile");
  for (const Case& c : cases) {
    SCOPED_TRACE("cases.txt:" + std::to_string(c.line) + " (" + c.kind + ")");
    const std::string name = "case" + std::to_string(c.line) + ".fchk";
    std::string text;
    try {
      text = applyEdits(readFile(dataPath(c.file)), c.edits);
    } catch (const std::exception& e) {
      ADD_FAILURE() << e.what();
      continue;
    }
    writeFile(dir + "/" + name, text);
    const ProgramRun r = mirvante(name, dir);
    std::string want = c.diagnostic;
    for (std::size_t at; (at = want.find("FILE")) != std::string::npos;) want.replace(at, 4, name);
    EXPECT_EQ(r.status, c.status);
    EXPECT_EQ(r.err, want + "\n");
    // Never a complete analysis: the report ends before the valences.
    EXPECT_EQ(r.out.find("FREE VALENCES"), std::string::npos);
  }
  fs::remove_all(dir);
}

TEST(HostileInputs, AReadErrorOfStandardInputIsNoEmptyFile) {
  const std::string dir = mvtest::makeTempDir("mvhostile");
  // A directory as standard input: every read fails.
  const ProgramRun r = mirvante("- < .", dir);
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.err, "mirvante: standard input: cannot read: Is a directory\n");
  EXPECT_EQ(r.out.find("has 0 lines"), std::string::npos);
  fs::remove_all(dir);
}

TEST(HostileInputs, AFileNameWithControlBytesGivesOneEscapedLine) {
  const std::string dir = mvtest::makeTempDir("mvhostile");
  const std::string name = "a\nb\x1b[2J\xff.fchk";
  writeFile(dir + "/" + name, "one line\n");
  const ProgramRun r = mirvante("a*", dir);
  const std::string shown = "a\\x0ab\\x1b[2J\\xff.fchk";
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.err, "mirvante: " + shown +
                       ": the file has 1 line: it is no formatted checkpoint file (stop 9999)\n");
  fs::remove_all(dir);
}

namespace {

// Two atoms with `nsh` Cartesian i shells (28 functions each) of one
// primitive, and everything the reader needs before the orbitals; the
// orbitals and the density are there as labels whose values never come.
std::string manyShells(int nsh) {
  mvtest::HandMadeH2 f = mvtest::manyIShells(nsh);
  const long long n = 28LL * nsh;
  f["mo"] = mvtest::fchkRealArrayLabel("Alpha MO coefficients", static_cast<int>(n * n)) + "\n";
  f["dens"] =
      mvtest::fchkRealArrayLabel("Total SCF Density", static_cast<int>(n * (n + 1) / 2)) + "\n";
  return f.text();
}

}  // namespace

TEST(HostileInputs, AFileThatNeedsMoreThanTheMemoryLimitIsRefusedWithTheAmounts) {
#if defined(__SANITIZE_ADDRESS__)
  // The sanitizer's shadow memory and leak checker need the address space
  // and the threads that this test takes away.
  GTEST_SKIP() << "not meaningful under AddressSanitizer";
#endif
  if (std::system("prlimit --version >/dev/null 2>&1") != 0) GTEST_SKIP() << "no prlimit";
  const std::string dir = mvtest::makeTempDir("mvhostile");
  // 2,800 functions need about 598 MB; the address space is limited to 256 MB.
  writeFile(dir + "/big.fchk", manyShells(100));
  writeFile(dir + "/small.fchk", readFile(dataPath("h2_rhf_sto3g.fchk")));
  const ProgramRun r = mirvante("-o out small.fchk big.fchk", dir, "prlimit --as=268435456 ");
  EXPECT_EQ(r.status, 1);
  const std::string head =
      "mirvante: big.fchk: The analysis of 2800 basis functions and 2 atoms needs about 598 MB "
      "of memory; ";
  EXPECT_EQ(r.err.substr(0, head.size()), head) << r.err;
  const std::string tail =
      " MB are available under the address-space limit (RLIMIT_AS) (stop 8100)\n";
  ASSERT_GE(r.err.size(), tail.size());
  EXPECT_EQ(r.err.substr(r.err.size() - tail.size()), tail) << r.err;
  // The small file before it was analysed in full.
  EXPECT_NE(readFile(dir + "/out/small.txt").find("FREE VALENCES"), std::string::npos);
  fs::remove_all(dir);
}

TEST(HostileInputs, CountsWithoutTheirValuesEndAtTheEndOfTheFile) {
  // 2,800 functions whose orbitals never come (the density's label follows
  // the orbitals' at once): the run ends there, room for the 7.8 million
  // coefficients being made only as they would arrive.
  const std::string dir = mvtest::makeTempDir("mvhostile");
  const std::string text = manyShells(100);
  writeFile(dir + "/bare.fchk", text);
  const std::vector<std::string> ls = mvtest::lines(text);
  const auto mo = std::find_if(ls.begin(), ls.end(), [](const std::string& l) {
    return l.rfind("Alpha MO coefficients", 0) == 0;
  });
  const ProgramRun r = mirvante("-j 1 bare.fchk", dir);
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.err, "mirvante: bare.fchk:" + std::to_string(mo - ls.begin() + 2) +
                       ": section 'Alpha MO coeffic': 'Total' is not a real number\n");
  fs::remove_all(dir);
}
