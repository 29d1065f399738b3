#include "checkpoint/molden.h"

#include <algorithm>
#include <charconv>
#include <climits>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "checkpoint/wavetext.h"
#include "core/angular.h"
#include "core/elements.h"
#include "core/memory.h"
#include "core/printable.h"
#include "core/stop.h"

namespace mv {

namespace {

// Bohr per Angstrom.
constexpr double kBohrPerAngstrom = 1.0 / 0.529177210903;
// Characters of the title the report shows.
constexpr std::size_t kTitleWidth = 80;
// Characters of a title line kept for the report and the JSON output.
constexpr std::size_t kTitleKept = 1000;

// The occupations of a single determinant are whole numbers; their printed
// digits leave them this far from one.
constexpr double kWholeOccupation = 1e-6;
// Natural orbitals of a correlated density may have occupations this far
// outside 0..2 (half of it outside 0..1 for one spin): the relaxed densities
// of perturbation theory are not exactly those of a wave function.
constexpr double kNaturalSlack = 0.02;
// The occupations must add up to a whole number of electrons within this.
constexpr double kElectronSlack = 1e-6;

// The Cartesian components of d, f and g shells in the order Molden files
// write them.
using angular::Powers;
const std::vector<Powers>& moldenOrder(int l) {
  static const std::vector<Powers> d{{2, 0, 0}, {0, 2, 0}, {0, 0, 2},
                                     {1, 1, 0}, {1, 0, 1}, {0, 1, 1}};
  static const std::vector<Powers> f{{3, 0, 0}, {0, 3, 0}, {0, 0, 3}, {1, 2, 0}, {2, 1, 0},
                                     {2, 0, 1}, {1, 0, 2}, {0, 1, 2}, {0, 2, 1}, {1, 1, 1}};
  static const std::vector<Powers> g{{4, 0, 0}, {0, 4, 0}, {0, 0, 4}, {3, 1, 0}, {3, 0, 1},
                                     {1, 3, 0}, {0, 3, 1}, {1, 0, 3}, {0, 1, 3}, {2, 2, 0},
                                     {2, 0, 2}, {0, 2, 2}, {2, 1, 1}, {1, 2, 1}, {1, 1, 2}};
  static const std::vector<Powers> p{{1, 0, 0}, {0, 1, 0}, {0, 0, 1}};
  static const std::vector<Powers> s{{0, 0, 0}};
  switch (l) {
    case 0:
      return s;
    case 1:
      return p;
    case 2:
      return d;
    case 3:
      return f;
    default:
      return g;
  }
}

// The atomic number of an element symbol ("HE", "c", "Cl2" with a label's
// digits), or 0 when it names none.
int elementOf(std::string_view symbol) {
  std::string letters;
  for (const char c : symbol) {
    if (!((c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z'))) break;
    letters += letters.empty() ? static_cast<char>(c & ~0x20) : static_cast<char>(c | 0x20);
  }
  for (int z = 1; z <= kMaxElement; ++z)
    if (elementSymbol(z) == letters) return z;
  return 0;
}

struct Line {
  std::string_view text;
  int number = 0;
};

std::string lower(std::string_view s) {
  std::string r(s);
  for (char& c : r)
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  return r;
}

// The text helpers every line-oriented reader shares.
using wavetext::parseInt;
using wavetext::parseReal;
using wavetext::shown;
using wavetext::tokens;
using wavetext::trim;

// Half the unit of the last digit a real number is printed with
// ("0.004690": 5e-7, "1.5D-03": 5e-5), or 0 when it has no decimal point.
double printedResolution(std::string_view t) {
  const std::size_t dot = t.find('.');
  if (dot == std::string_view::npos) return 0.0;
  std::size_t e = t.find_first_of("eEdD", dot);
  int decimals = static_cast<int>((e == std::string_view::npos ? t.size() : e) - dot - 1);
  long long exponent = 0;
  if (e != std::string_view::npos && !parseInt(t.substr(e + 1), exponent)) return 0.0;
  exponent = std::clamp(exponent, -400LL, 400LL);
  return 0.5 * std::pow(10.0, static_cast<double>(exponent - decimals));
}

using wavetext::realText;

struct Primitive {
  double exponent, coefficient, pCoefficient;
};

struct Shell {
  int l = 0;  // -1: sp
  int line = 0;
  std::vector<Primitive> primitives;
};

struct AtomBasis {
  int atom = 0;
  int line = 0;
  std::vector<Shell> shells;
};

struct Orbital {
  int line = 0;       // its first line
  int lastLine = 0;   // its last line
  bool beta = false;  // Spin= Beta
  double occupation = 0.0;
  bool hasOccupation = false;
  std::vector<std::pair<int, double>> coefficients;  // (index as written, value)
};

class Reader {
 public:
  Reader(std::string_view bytes, const std::string& name, const Limits& limits)
      : name_(name), limits_(limits) {
    split(bytes);
  }

  Checkpoint read();

 private:
  void split(std::string_view bytes);
  [[noreturn]] void fault(int line, const std::string& message) const {
    inputError(name_, line, message);
  }
  [[noreturn]] void badValue(int line, const std::string& message) const {
    refuse(" " + message, kCodeBadValue, line);
  }
  double real(std::string_view t, int line, const char* what) const;
  double finite(std::string_view t, int line, const char* what) const;
  long long integer(std::string_view t, int line, const char* what) const;
  // The lines of section `key` (without its header line); its header line
  // number in `header`.
  std::vector<Line> section(const std::string& key, int& header) const;
  bool has(const std::string& key) const { return sections_.count(key) != 0; }

  void title();
  void atoms();
  void basis();
  void pseudo();
  void orbitals();
  std::vector<Orbital> orbitalBlocks(int& header);

  std::string name_;
  Limits limits_;
  std::vector<Line> lines_;
  // Section name (lower case, without brackets) -> index of its header line.
  std::map<std::string, std::size_t> sections_;
  // Section name -> line of its second header, for a section given twice.
  std::map<std::string, int> repeated_;
  std::vector<int> moRow_;  // row of the program's order -> 1-based function number as written
  Checkpoint ck_;
};

void Reader::split(std::string_view b) {
  // The table of lines takes more memory than the text for short lines: a
  // file of blank lines is refused with that amount rather than ended by
  // the system.
  const auto count = static_cast<std::uint64_t>(std::count(b.begin(), b.end(), '\n')) + 1;
  if (count > static_cast<std::uint64_t>(INT_MAX)) fault(0, "more than 2147483647 lines");
  requireMemory(count * sizeof(Line), "the table of " + std::to_string(count) + " lines");
  lines_.reserve(static_cast<std::size_t>(count));
  int n = 0;
  while (!b.empty()) {
    const std::size_t e = b.find('\n');
    std::string_view l = b.substr(0, e);
    if (!l.empty() && l.back() == '\r') l.remove_suffix(1);
    lines_.push_back({l, ++n});
    if (e == std::string_view::npos) break;
    b.remove_prefix(e + 1);
  }
  for (std::size_t i = 0; i < lines_.size(); ++i) {
    const std::string_view l = lines_[i].text;
    const std::size_t s = l.find_first_not_of(" \t");
    if (s == std::string_view::npos || l[s] != '[') continue;
    const std::size_t e = l.find(']', s);
    if (e == std::string_view::npos) continue;
    const std::string key = lower(trim(l.substr(s + 1, e - s - 1)));
    // The first section of a name is the one read; a second one is kept to
    // be refused where the section is read.
    if (!sections_.emplace(key, i).second) repeated_.emplace(key, lines_[i].number);
  }
}

double Reader::real(std::string_view t, int line, const char* what) const {
  double v = 0.0;
  if (!parseReal(t, v)) fault(line, std::string(what) + ": " + shown(t) + " is not a number");
  return v;
}

double Reader::finite(std::string_view t, int line, const char* what) const {
  const double v = real(t, line, what);
  if (!std::isfinite(v)) badValue(line, std::string(what) + " " + shown(t) + " is not finite");
  return v;
}

long long Reader::integer(std::string_view t, int line, const char* what) const {
  long long v = 0;
  if (!parseInt(t, v)) fault(line, std::string(what) + ": " + shown(t) + " is not an integer");
  return v;
}

std::vector<Line> Reader::section(const std::string& key, int& header) const {
  const auto it = sections_.find(key);
  if (it == sections_.end()) {
    const int last = lines_.empty() ? 0 : lines_.back().number;
    static const std::map<std::string, std::string> shown{{"atoms", "Atoms"},   {"gto", "GTO"},
                                                          {"mo", "MO"},         {"title", "Title"},
                                                          {"pseudo", "Pseudo"}, {"sto", "STO"}};
    const auto name = shown.find(key);
    const std::string n = name != shown.end() ? name->second : key;
    // "an [MO]", "an [Atoms]", but "a [GTO]": the article of the name as
    // it is read out, letter by letter when it is in capitals.
    const bool capitals = n.find_first_of("abcdefghijklmnopqrstuvwxyz") == std::string::npos;
    const bool vowel = std::string_view(capitals ? "AEFHILMNORSUX" : "AEIOUaeiou").find(n[0]) !=
                       std::string_view::npos;
    fault(last,
          std::string("the file ends without ") + (vowel ? "an" : "a") + " [" + n + "] section");
  }
  header = lines_[it->second].number;
  // Two sections of atoms, basis or orbitals leave it open which one the
  // file means (a second [MO] section is often a second calculation).
  if (const auto twice = repeated_.find(key); twice != repeated_.end() && key != "title") {
    const std::string_view h = lines_[it->second].text;
    const std::size_t open = h.find('['), close = h.find(']', open);
    fault(twice->second, "a second [" + std::string(h.substr(open + 1, close - open - 1)) +
                             "] section: the file must hold one");
  }
  std::vector<Line> out;
  for (std::size_t i = it->second + 1; i < lines_.size(); ++i) {
    const std::string_view l = lines_[i].text;
    const std::size_t s = l.find_first_not_of(" \t");
    if (s != std::string_view::npos && l[s] == '[') break;
    out.push_back(lines_[i]);
  }
  return out;
}

void Reader::title() {
  std::string t;
  if (has("title")) {
    int header = 0;
    for (const Line& l : section("title", header)) {
      // A title line of any length keeps its first kTitleKept characters.
      t = trim(l.text.substr(0, kTitleKept));
      if (!t.empty()) break;
    }
  }
  if (t.empty()) t = name_;
  // Control bytes (an escape sequence) would act on the terminal that shows
  // the report: they are written as \xHH.
  t = printable(t);
  // The report shows the title as 80 characters.
  if (t.size() < kTitleWidth) t.resize(kTitleWidth, ' ');
  ck_.title = t;
}

void Reader::atoms() {
  int header = 0;
  const std::vector<Line> ls = section("atoms", header);
  ck_.sections.push_back({"[Atoms]", header});
  const std::size_t close = lines_[sections_.at("atoms")].text.find(']');
  const std::string unit = lower(trim(lines_[sections_.at("atoms")].text.substr(close + 1)));
  // The unit, with or without parentheses: atomic units (bohr) or Angstrom,
  // which is also the unit when none is given.  Any other unit is refused
  // rather than read as Angstrom.
  std::string bare = unit;
  if (bare.size() >= 2 && bare.front() == '(' && bare.back() == ')')
    bare = trim(bare.substr(1, bare.size() - 2));
  const bool bohr = bare == "au" || bare == "a.u." || bare == "bohr";
  if (!bohr && !bare.empty() && bare.rfind("ang", 0) != 0)
    fault(header, "unknown unit " + shown(unit) + " of the [Atoms] section: AU, Bohr or Angs");
  const double scale = bohr ? 1.0 : kBohrPerAngstrom;

  struct Entry {
    long long index;
    int z;
    double charge;
    double xyz[3];
    int line;
  };
  std::vector<Entry> entries;
  for (const Line& l : ls) {
    const auto t = tokens(l.text);
    if (t.empty()) continue;
    if (t.size() < 6)
      fault(l.number, "an atom needs a symbol, its number, its atomic number and x, y, z: " +
                          shown(trim(l.text)));
    Entry e{};
    e.line = l.number;
    e.index = integer(t[1], l.number, "atom number");
    const long long z = integer(t[2], l.number, "atomic number");
    if (z < 0 || z > 118)
      refuse(" Atomic number " + std::to_string(z) + " is outside 0..118", kCodeBadValue, l.number);
    // The column is the nuclear charge; a ghost atom (0) keeps the element
    // of its symbol, as the basis on it is that element's.  A symbol that
    // names another element than the column (psi4 writes silver with a
    // 28-electron core as "AG 1 19") names the element: the column is then
    // the charge left by an effective core potential.
    e.charge = static_cast<double>(z);
    const int named = elementOf(t[0]);
    e.z = z > 0 ? static_cast<int>(z) : named;
    if (z > 0 && named > 0 && named != z) {
      e.z = named;
      ck_.notes.push_back(
          "Atom " + std::string(t[1]) + ": the symbol " + shown(t[0]) + " names " +
          std::string(elementSymbol(named)) + " (atomic number " + std::to_string(named) +
          "); the atomic-number column, " + std::to_string(z) + ", is taken as its nuclear charge" +
          (named > z
               ? ", with " + std::to_string(named - z) + " electrons in an effective core potential"
               : std::string()));
    }
    for (int k = 0; k < 3; ++k) e.xyz[k] = finite(t[3 + k], l.number, "coordinate") * scale;
    entries.push_back(e);
  }
  const int n = static_cast<int>(entries.size());
  if (n == 0) fault(header, "the [Atoms] section lists no atom");
  if (Limits::beyond(n, limits_.atomsRead))
    refuse(" Number of atoms " + std::to_string(n) + " exceeds the limit of " +
               std::to_string(limits_.atomsRead),
           kCodeLimit, header);
  ck_.natoms = n;
  ck_.atomicNumber = Vec1<int>(n);
  ck_.nuclearCharge = Vec1<double>(n);
  ck_.coords = Matrix(3, n);
  std::vector<bool> seen(static_cast<std::size_t>(n) + 1, false);
  for (const Entry& e : entries) {
    if (e.index < 1 || e.index > n)
      fault(e.line, "atom number " + std::to_string(e.index) + " is outside 1.." +
                        std::to_string(n) + " (the section lists " + std::to_string(n) + " atoms)");
    const int a = static_cast<int>(e.index);
    if (seen[static_cast<std::size_t>(a)])
      fault(e.line, "atom number " + std::to_string(a) + " is listed twice");
    seen[static_cast<std::size_t>(a)] = true;
    ck_.atomicNumber(a) = e.z;
    ck_.nuclearCharge(a) = e.charge;
    for (int k = 0; k < 3; ++k) ck_.coords(k + 1, a) = e.xyz[k];
  }
}

void Reader::pseudo() {
  if (!has("pseudo")) return;
  int header = 0;
  for (const Line& l : section("pseudo", header)) {
    const auto t = tokens(l.text);
    if (t.empty()) continue;
    if (t.size() < 3)
      fault(l.number,
            "a pseudopotential line needs a symbol, the atom number and the valence "
            "charge: " +
                shown(trim(l.text)));
    const long long a = integer(t[1], l.number, "atom number");
    if (a < 1 || a > ck_.natoms)
      fault(l.number,
            "atom number " + std::to_string(a) + " is outside 1.." + std::to_string(ck_.natoms));
    const double q = finite(t[2], l.number, "valence charge");
    if (q < 0.0 || q > ck_.nuclearCharge(static_cast<int>(a)))
      refuse(" Valence charge " + realText(q) + " of atom " + std::to_string(a) +
                 " is outside 0.." + realText(ck_.nuclearCharge(static_cast<int>(a))),
             kCodeBadValue, l.number);
    ck_.nuclearCharge(static_cast<int>(a)) = q;
  }
}

void Reader::basis() {
  if (has("sto")) {
    int header = 0;
    section("sto", header);
    fault(header, "Slater-type orbitals ([STO]) are not supported; the basis must be [GTO]");
  }
  int header = 0;
  const std::vector<Line> ls = section("gto", header);
  ck_.sections.push_back({"[GTO]", header});

  // Pure or Cartesian, from the flags.
  const bool pureD = has("5d") || has("5d10f") || has("5d7f");
  const bool pureF = has("5d") || has("7f") || has("5d7f");
  const bool pureG = has("9g");
  const bool pureH = has("11h") || pureG;
  const bool pure[6] = {false, false, pureD, pureF, pureG, pureH};

  std::vector<AtomBasis> blocks;
  std::vector<bool> seen(static_cast<std::size_t>(ck_.natoms) + 1, false);
  for (std::size_t i = 0; i < ls.size(); ++i) {
    const Line& l = ls[i];
    const auto t = tokens(l.text);
    if (t.empty()) continue;
    long long a = 0, zero = 0;
    if (parseInt(t[0], a) && (t.size() == 1 || (t.size() == 2 && parseInt(t[1], zero)))) {
      // An atom's line: its number and (normally) a 0.
      a = integer(t[0], l.number, "atom number");
      if (a < 1 || a > ck_.natoms)
        fault(l.number, "atom number " + std::to_string(a) + " is outside 1.." +
                            std::to_string(ck_.natoms) + " (the number of atoms)");
      if (seen[static_cast<std::size_t>(a)])
        fault(l.number, "the basis of atom " + std::to_string(a) + " is given twice");
      seen[static_cast<std::size_t>(a)] = true;
      blocks.push_back({static_cast<int>(a), l.number, {}});
      continue;
    }
    const std::string label = lower(t[0]);
    static const char* const kLabels[] = {"s", "p", "d", "f", "g", "h"};
    int lq = -2;
    if (label == "sp") lq = -1;
    for (int k = 0; k < 6; ++k)
      if (label == kLabels[k]) lq = k;
    if (lq == -2) {
      if (label.size() == 1 && label[0] >= 'i' && label[0] <= 'z')
        refuse(" Shell " + shown(t[0]) + ": shells above h are not supported", kCodeLimit,
               l.number);
      fault(l.number,
            "expected an atom number or a shell (s, p, sp, d, f, g, h): " + shown(trim(l.text)));
    }
    if (blocks.empty()) fault(l.number, "a shell before the first atom number");
    if (t.size() < 2) fault(l.number, "the shell gives no number of primitives");
    const long long np = integer(t[1], l.number, "number of primitives");
    if (np < 1)
      fault(l.number, "the shell has " + std::to_string(np) + " primitives, at least 1 is needed");
    double scale = 1.0;
    if (t.size() >= 3) {
      scale = finite(t[2], l.number, "scale factor");
      if (!(scale > 0.0))
        refuse(" Scale factor " + realText(scale) + " is not positive", kCodeBadValue, l.number);
      // The exponents are multiplied by its square, which must be a number.
      if (!std::isfinite(scale * scale) || !(scale * scale > 0.0))
        refuse(" Scale factor " + realText(scale) + " is out of range (its square is " +
                   realText(scale * scale) + ")",
               kCodeBadValue, l.number);
    }
    const int l2 = lq < 0 ? 1 : lq;
    if (l2 > limits_.maxL)
      refuse(" Shell " + shown(t[0]) + ": angular momentum " + std::to_string(l2) +
                 " is above the highest supported, " + std::to_string(limits_.maxL),
             kCodeLimit, l.number);
    if (lq == 5 && !pure[5])
      refuse(
          " Cartesian h shells have no agreed order of components; only pure h shells "
          "([9G] or [11H]) are read",
          kCodeLimit, l.number);
    Shell sh;
    sh.l = lq;
    sh.line = l.number;
    for (long long k = 0; k < np; ++k) {
      ++i;
      if (i >= ls.size())
        fault(l.number, "the shell announces " + std::to_string(np) +
                            " primitives, the section "
                            "ends after " +
                            std::to_string(k));
      const Line& pl = ls[i];
      const auto pt = tokens(pl.text);
      const std::size_t want = lq < 0 ? 3 : 2;
      if (pt.size() < want)
        fault(pl.number, std::string("primitive ") + std::to_string(k + 1) + " of " +
                             std::to_string(np) + ": expected an exponent and " +
                             (lq < 0 ? "two coefficients" : "a coefficient") + ", found " +
                             shown(trim(pl.text)));
      Primitive p{};
      p.exponent = finite(pt[0], pl.number, "exponent") * scale * scale;
      if (!(p.exponent > 0.0) || !std::isfinite(p.exponent))
        refuse(" Exponent " + shown(pt[0]) + " is not positive", kCodeBadValue, pl.number);
      p.coefficient = finite(pt[1], pl.number, "contraction coefficient");
      p.pCoefficient = lq < 0 ? finite(pt[2], pl.number, "contraction coefficient") : 0.0;
      sh.primitives.push_back(p);
    }
    blocks.back().shells.push_back(std::move(sh));
  }
  if (blocks.empty()) fault(header, "the [GTO] section holds no basis functions");

  // The functions of each block in the order written, then the blocks in
  // atom order: the program needs each atom's functions together and the
  // atoms in ascending order.
  std::vector<int> firstWritten(blocks.size());
  long long written = 0, nprim = 0, nshell = 0;
  auto functions = [&](const Shell& s) {
    const int l = s.l < 0 ? 1 : s.l;
    return s.l < 0 ? 4 : (pure[l] ? 2 * l + 1 : (l + 1) * (l + 2) / 2);
  };
  for (std::size_t b = 0; b < blocks.size(); ++b) {
    firstWritten[b] = static_cast<int>(written) + 1;
    for (const Shell& s : blocks[b].shells) {
      written += functions(s);
      nprim += static_cast<long long>(s.primitives.size());
      ++nshell;
    }
    if (written > 100000000) refuse(" The basis has too many functions", kCodeLimit, header);
  }
  auto limit = [&](long long v, int lim, const char* what) {
    if (Limits::beyond(v, lim))
      refuse(std::string(" ") + what + " " + std::to_string(v) + " exceeds the limit of " +
                 std::to_string(lim),
             kCodeLimit, header);
  };
  limit(written, limits_.basisFunctions, "Number of basis functions");
  limit(nshell, limits_.shells, "Number of shells");
  limit(nprim, limits_.rawPrimitives, "Number of primitives");
  ck_.nbf = static_cast<int>(written);
  std::vector<std::size_t> order(blocks.size());
  for (std::size_t b = 0; b < order.size(); ++b) order[b] = b;
  std::stable_sort(order.begin(), order.end(),
                   [&](std::size_t x, std::size_t y) { return blocks[x].atom < blocks[y].atom; });

  Shells& sh = ck_.shells;
  sh.count = static_cast<int>(nshell);
  sh.primitives = static_cast<int>(nprim);
  sh.type = Vec1<int>(sh.count);
  sh.nprim = Vec1<int>(sh.count);
  sh.atom = Vec1<int>(sh.count);
  sh.exponent = Vec1<double>(sh.primitives);
  sh.coefficient = Vec1<double>(sh.primitives);
  sh.pCoefficient = Vec1<double>(sh.primitives);
  moRow_.assign(static_cast<std::size_t>(ck_.nbf), 0);
  int si = 0, pi = 0, row = 0;
  for (const std::size_t b : order) {
    int w = firstWritten[b];  // function number as written
    for (const Shell& s : blocks[b].shells) {
      ++si;
      const int l = s.l < 0 ? 1 : s.l;
      sh.type(si) = s.l < 0 ? -1 : (pure[l] && l >= 2 ? -l : l);
      sh.nprim(si) = static_cast<int>(s.primitives.size());
      sh.atom(si) = blocks[b].atom;
      for (const Primitive& p : s.primitives) {
        ++pi;
        sh.exponent(pi) = p.exponent;
        sh.coefficient(pi) = p.coefficient;
        sh.pCoefficient(pi) = p.pCoefficient;
      }
      const int nf = functions(s);
      if (s.l >= 2 && !pure[l]) {
        // Cartesian components: the program's order from the file's.
        const std::vector<Powers> want = angular::cartesianOrder(l);
        const std::vector<Powers>& have = moldenOrder(l);
        for (const Powers& p : want) {
          const auto at = std::find(have.begin(), have.end(), p);
          moRow_[static_cast<std::size_t>(row++)] = w + static_cast<int>(at - have.begin());
        }
      } else {
        for (int k = 0; k < nf; ++k) moRow_[static_cast<std::size_t>(row++)] = w + k;
      }
      w += nf;
    }
  }
}

std::vector<Orbital> Reader::orbitalBlocks(int& header) {
  const std::vector<Line> ls = section("mo", header);
  ck_.sections.push_back({"[MO]", header});
  std::vector<Orbital> out;
  std::set<std::string> keys;  // the keys of the orbital being read
  bool inCoefficients = false;
  for (const Line& l : ls) {
    const auto t = tokens(l.text);
    if (t.empty()) continue;
    const std::size_t eq = l.text.find('=');
    if (eq != std::string_view::npos) {
      const std::string key = lower(trim(l.text.substr(0, eq)));
      // A new orbital begins after the coefficients of the last one, or
      // where a key of it comes a second time.
      if (out.empty() || inCoefficients || keys.count(key) != 0) {
        out.push_back({});
        out.back().line = l.number;
        inCoefficients = false;
        keys.clear();
      }
      keys.insert(key);
      const std::string value = trim(l.text.substr(eq + 1));
      Orbital& o = out.back();
      if (key == "spin") {
        const std::string v = lower(value);
        if (v == "beta")
          o.beta = true;
        else if (v != "alpha")
          fault(l.number, "Spin= must be Alpha or Beta, not " + shown(value));
      } else if (key == "occup") {
        const auto vt = tokens(value);
        if (vt.empty()) fault(l.number, "Occup= gives no occupation");
        o.occupation = finite(vt[0], l.number, "occupation");
        o.hasOccupation = true;
      } else if (key == "ene") {
        const auto vt = tokens(value);
        if (!vt.empty()) (void)finite(vt[0], l.number, "orbital energy");
      }
      continue;
    }
    if (out.empty()) fault(l.number, "orbital coefficients before the first orbital's Occup=");
    if (t.size() < 2)
      fault(l.number, "expected a function number and a coefficient: " + shown(trim(l.text)));
    const long long k = integer(t[0], l.number, "function number");
    if (k < 1 || k > ck_.nbf)
      fault(l.number, "function number " + std::to_string(k) + " is outside 1.." +
                          std::to_string(ck_.nbf) + " (the basis has " + std::to_string(ck_.nbf) +
                          " functions)");
    const double c = finite(t[1], l.number, "orbital coefficient");
    out.back().coefficients.emplace_back(static_cast<int>(k), c);
    out.back().lastLine = l.number;
    ck_.coefficientResolution = std::fmax(ck_.coefficientResolution, printedResolution(t[1]));
    inCoefficients = true;
  }
  return out;
}

void Reader::orbitals() {
  int header = 0;
  const std::vector<Orbital> os = orbitalBlocks(header);
  int na = 0, nb = 0;
  for (const Orbital& o : os) {
    if (!o.hasOccupation)
      fault(o.line, &o == &os.back() && o.coefficients.empty()
                        ? "the last orbital has neither Occup= nor coefficients: the [MO] section "
                          "is cut short"
                        : "the orbital has no Occup= line");
    (o.beta ? nb : na)++;
  }
  if (na == 0) fault(header, "the [MO] section holds no alpha orbital");
  const int nbf = ck_.nbf;
  // Whole orbitals only: a file cut inside its orbitals would otherwise be
  // read as a smaller molecule, the missing coefficients being small enough
  // for the orbitals to stay nearly orthonormal.  Writers give every
  // coefficient of every orbital, except some that leave out the zero ones:
  // a file whose orbitals before the last are all complete must have a
  // complete last orbital too.  (Where earlier orbitals leave coefficients
  // out, a cut cannot be told from a left-out zero.)
  bool dense = true;
  for (std::size_t k = 0; k + 1 < os.size(); ++k)
    dense = dense && static_cast<int>(os[k].coefficients.size()) == nbf;
  if (dense && static_cast<int>(os.back().coefficients.size()) != nbf) {
    const Orbital& o = os.back();
    fault(o.lastLine > 0 ? o.lastLine : o.line,
          "orbital " + std::to_string(os.size()) + " has " + std::to_string(o.coefficients.size()) +
              " of its " + std::to_string(nbf) + " coefficients: the [MO] section is cut short");
  }
  if (nb > 0 && nb != na)
    fault(os.back().lastLine, "the [MO] section holds " + std::to_string(na) + " Alpha and " +
                                  std::to_string(nb) +
                                  " Beta orbitals: a spin-unrestricted file gives as many of each" +
                                  (nb < na ? " (the section is cut short?)" : ""));
  if (na > nbf || nb > nbf)
    fault(header, "the [MO] section holds " + std::to_string(na > nbf ? na : nb) + " " +
                      (na > nbf ? "alpha" : "beta") + " orbitals, more than the " +
                      std::to_string(nbf) + " basis functions");
  const bool unrestricted = nb > 0;
  const double top = unrestricted ? 1.0 : 2.0;
  // Where each function as written goes in the program's order.
  std::vector<int> to(static_cast<std::size_t>(nbf) + 1, 0);
  for (int r = 1; r <= nbf; ++r)
    to[static_cast<std::size_t>(moRow_[static_cast<std::size_t>(r - 1)])] = r;
  ck_.mo = Matrix(nbf, na);
  ck_.occupation = Vec1<double>(na);
  if (unrestricted) {
    ck_.moBeta = Matrix(nbf, nb);
    ck_.occupationBeta = Vec1<double>(nb);
  }
  int ia = 0, ib = 0;
  double sa = 0.0, sb = 0.0;
  int open = 0;
  // A single determinant has whole occupations (to their printed digits);
  // anything else is a correlated density given by its natural orbitals.
  bool whole = true;
  for (const Orbital& o : os)
    whole = whole && std::fabs(o.occupation - std::nearbyint(o.occupation)) < kWholeOccupation;
  const double slack = whole ? kWholeOccupation : (unrestricted ? 0.5 : 1.0) * kNaturalSlack;
  for (const Orbital& o : os) {
    if (!(o.occupation >= -slack && o.occupation <= top + slack))
      refuse(" Occupation " + realText(o.occupation) + " is outside 0.." + realText(top) +
                 (unrestricted ? " (a spin-unrestricted orbital holds at most one electron)" : ""),
             kCodeBadValue, o.line);
    Matrix& m = o.beta ? ck_.moBeta : ck_.mo;
    const int j = o.beta ? ++ib : ++ia;
    (o.beta ? ck_.occupationBeta : ck_.occupation)(j) = o.occupation;
    (o.beta ? sb : sa) += o.occupation;
    if (!unrestricted && std::fabs(o.occupation - 1.0) < 1e-6) ++open;
    std::vector<bool> given(static_cast<std::size_t>(nbf) + 1, false);
    for (const auto& [k, c] : o.coefficients) {
      if (given[static_cast<std::size_t>(k)])
        fault(o.line, "function " + std::to_string(k) + " has two coefficients in this orbital");
      given[static_cast<std::size_t>(k)] = true;
      m(to[static_cast<std::size_t>(k)], j) = c;
    }
  }
  ck_.betaOrbitals = unrestricted;
  const double total = sa + sb;
  const long long n = std::llround(total);
  if (std::fabs(total - static_cast<double>(n)) > kElectronSlack)
    refuse(" The occupations add up to " + realText(total) +
               ", which is not a whole number of electrons",
           kCodeBadValue, header);
  ck_.electrons = static_cast<int>(n);
  if (unrestricted) {
    ck_.nalpha = static_cast<int>(std::llround(sa));
    ck_.nbeta = static_cast<int>(std::llround(sb));
  } else {
    ck_.nbeta = (ck_.electrons - open) / 2;
    if (ck_.nbeta < 0) ck_.nbeta = 0;
    ck_.nalpha = ck_.electrons - ck_.nbeta;
  }

  ck_.calc.plain = whole;
  ck_.densityLabel = whole ? "Density of the occupied orbitals" : "Density of the natural orbitals";
  ck_.densityLine = header;
  ck_.ndens = 1;
}

Checkpoint Reader::read() {
  ck_.format = FileFormat::Molden;
  ck_.name = name_;
  ck_.hasEnergy = false;
  title();
  atoms();
  basis();
  requireMemory(
      12 * Matrix::bytesFor(ck_.nbf, ck_.nbf),
      std::to_string(ck_.nbf) + " basis functions and " + std::to_string(ck_.natoms) + " atoms");
  pseudo();
  orbitals();
  return std::move(ck_);
}

}  // namespace

Checkpoint readMolden(std::string_view bytes, const std::string& name, const Limits& limits) {
  Reader r(bytes, name, limits);
  return r.read();
}

}  // namespace mv
