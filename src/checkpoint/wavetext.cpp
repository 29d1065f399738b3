#include "checkpoint/wavetext.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <map>
#include <tuple>

#include "core/angular.h"
#include "core/stop.h"

namespace mv::wavetext {

namespace {

// Occupations may stray this far outside 0..2 (natural orbitals of a
// correlated density), and their sum this far from a whole number.
constexpr double kOccupationSlack = 0.1;
constexpr double kElectronSlack = 0.05;

// The primitive type codes as the letters of their monomials.
constexpr const char* kTypes[kMaxPrimitiveType] = {
    "",      "x",     "y",     "z",     "xx",    "yy",    "zz",    "xy",    "xz",    "yz",
    "xxx",   "yyy",   "zzz",   "xxy",   "xxz",   "yyz",   "xyy",   "xzz",   "yzz",   "xyz",
    "xxxx",  "yyyy",  "zzzz",  "xxxy",  "xxxz",  "xyyy",  "yyyz",  "xzzz",  "yzzz",  "xxyy",
    "xxzz",  "yyzz",  "xxyz",  "xyyz",  "xyzz",  "zzzzz", "yzzzz", "yyzzz", "yyyzz", "yyyyz",
    "yyyyy", "xzzzz", "xyzzz", "xyyzz", "xyyyz", "xyyyy", "xxzzz", "xxyzz", "xxyyz", "xxyyy",
    "xxxzz", "xxxyz", "xxxyy", "xxxxz", "xxxxy", "xxxxx"};

double doubleFactorial(int n) {  // n!! for odd n >= -1
  double r = 1.0;
  for (int k = n; k > 1; k -= 2) r *= k;
  return r;
}

// Normalisation constant of x^a y^b z^c exp(-alpha r^2).
double norm(int a, int b, int c, double alpha) {
  const int l = a + b + c;
  const double pi = 3.14159265358979323846;
  return std::pow(2.0 * alpha / pi, 0.75) * std::pow(4.0 * alpha, 0.5 * l) /
         std::sqrt(doubleFactorial(2 * a - 1) * doubleFactorial(2 * b - 1) *
                   doubleFactorial(2 * c - 1));
}

}  // namespace

std::vector<Line> splitLines(std::string_view b) {
  std::vector<Line> lines;
  int n = 0;
  while (!b.empty()) {
    const std::size_t e = b.find('\n');
    std::string_view l = b.substr(0, e);
    if (!l.empty() && l.back() == '\r') l.remove_suffix(1);
    lines.push_back({l, ++n});
    if (e == std::string_view::npos) break;
    b.remove_prefix(e + 1);
  }
  return lines;
}

std::vector<std::string_view> tokens(std::string_view l) {
  std::vector<std::string_view> t;
  std::size_t p = 0;
  while ((p = l.find_first_not_of(" \t\r\f\v", p)) != std::string_view::npos) {
    std::size_t e = l.find_first_of(" \t\r\f\v", p);
    if (e == std::string_view::npos) e = l.size();
    t.push_back(l.substr(p, e - p));
    p = e;
  }
  return t;
}

std::string trim(std::string_view s) {
  const std::size_t b = s.find_first_not_of(" \t\r\f\v");
  if (b == std::string_view::npos) return "";
  const std::size_t e = s.find_last_not_of(" \t\r\f\v");
  return std::string(s.substr(b, e - b + 1));
}

std::string shown(std::string_view t) {
  std::string q = "'";
  for (std::size_t i = 0; i < t.size() && i < 60; ++i) {
    const auto c = static_cast<unsigned char>(t[i]);
    q += (c >= 0x20 && c < 0x7f) ? static_cast<char>(c) : '?';
  }
  if (t.size() > 60) q += "...";
  return q + "'";
}

bool parseInt(std::string_view t, long long& v) {
  const char* e = t.data() + t.size();
  const auto r = std::from_chars(t.data() + (!t.empty() && t[0] == '+' ? 1 : 0), e, v);
  return !t.empty() && r.ec == std::errc() && r.ptr == e;
}

bool parseReal(std::string_view t, double& v) {
  if (t.empty() || t.size() > 64) return false;
  char buf[72] = {};
  std::size_t n = 0;
  for (std::size_t i = t[0] == '+' ? 1 : 0; i < t.size(); ++i)
    buf[n++] = (t[i] == 'D' || t[i] == 'd') ? 'E' : t[i];
  const auto r = std::from_chars(buf, buf + n, v);
  return n > 0 && r.ec == std::errc() && r.ptr == buf + n;
}

std::string realText(double x) {
  char buf[40];
  std::snprintf(buf, sizeof buf, "%.10G", x);
  return buf;
}

std::vector<std::string_view> numberWords(std::string_view line) {
  std::vector<std::string_view> out;
  for (std::string_view t : tokens(line)) {
    std::size_t start = 0;
    for (std::size_t i = 1; i < t.size(); ++i) {
      const char c = t[i], before = t[i - 1];
      if ((c == '-' || c == '+') && before != 'E' && before != 'e' && before != 'D' &&
          before != 'd') {
        out.push_back(t.substr(start, i - start));
        start = i;
      }
    }
    out.push_back(t.substr(start));
  }
  return out;
}

std::string titleOf(std::string_view text, const std::string& name) {
  std::string t = trim(text);
  if (t.empty()) t = name;
  if (t.size() < 80) t.resize(80, ' ');
  return t;
}

void fault(const std::string& file, int line, const std::string& message) {
  inputError(file, line, message);
}

bool primitivePowers(int type, int& x, int& y, int& z) {
  if (type < 1 || type > kMaxPrimitiveType) return false;
  x = y = z = 0;
  for (const char* c = kTypes[type - 1]; *c != '\0'; ++c) (*c == 'x' ? x : *c == 'y' ? y : z)++;
  return true;
}

PrimitiveBasis primitiveBasis(const std::vector<Primitive>& prims, int natoms) {
  // The shells: one per centre, angular momentum and exponent, in order of
  // centre and, within a centre, of first appearance.
  struct Group {
    int centre, l;
    double exponent;
    int first = 0;  // its first function
  };
  std::vector<Group> groups;
  std::map<std::tuple<int, int, double>, std::size_t> index;
  std::vector<std::size_t> groupOf(prims.size());
  for (std::size_t i = 0; i < prims.size(); ++i) {
    int x = 0, y = 0, z = 0;
    primitivePowers(prims[i].type, x, y, z);
    const int l = x + y + z;
    const auto key = std::make_tuple(prims[i].centre, l, prims[i].exponent);
    auto [it, fresh] = index.emplace(key, groups.size());
    if (fresh) groups.push_back({prims[i].centre, l, prims[i].exponent});
    groupOf[i] = it->second;
  }
  std::vector<std::size_t> order(groups.size());
  for (std::size_t g = 0; g < order.size(); ++g) order[g] = g;
  std::stable_sort(order.begin(), order.end(), [&](std::size_t a, std::size_t b) {
    return groups[a].centre < groups[b].centre;
  });

  PrimitiveBasis pb;
  Shells& sh = pb.shells;
  const int n = static_cast<int>(groups.size());
  sh.count = n;
  sh.primitives = n;
  sh.type = Vec1<int>(n);
  sh.nprim = Vec1<int>(n);
  sh.atom = Vec1<int>(n);
  sh.exponent = Vec1<double>(n);
  sh.coefficient = Vec1<double>(n);
  sh.pCoefficient = Vec1<double>(n);
  int k = 0;
  for (int s = 1; s <= n; ++s) {
    Group& g = groups[order[static_cast<std::size_t>(s - 1)]];
    sh.type(s) = g.l;  // 0 s, 1 p, 2 and above Cartesian
    sh.nprim(s) = 1;
    sh.atom(s) = g.centre;
    sh.exponent(s) = g.exponent;
    sh.coefficient(s) = 1.0;
    g.first = k + 1;
    k += angular::cartesianCount(g.l);
  }
  pb.nbf = k;
  (void)natoms;
  pb.row.resize(prims.size());
  pb.scale.resize(prims.size());
  for (std::size_t i = 0; i < prims.size(); ++i) {
    const Group& g = groups[groupOf[i]];
    int x = 0, y = 0, z = 0;
    primitivePowers(prims[i].type, x, y, z);
    const std::vector<angular::Powers> comps = angular::cartesianOrder(g.l);
    const auto at = std::find(comps.begin(), comps.end(), angular::Powers{x, y, z});
    pb.row[i] = g.first + static_cast<int>(at - comps.begin());
    pb.scale[i] = 1.0 / norm(x, y, z, g.exponent);
  }
  return pb;
}

void settleOccupations(Checkpoint& ck, int line, bool separate) {
  const double top = separate ? 1.0 : 2.0;
  double sa = 0.0, sb = 0.0;
  int open = 0;
  bool whole = true;
  auto scan = [&](const Vec1<double>& occ, double& sum) {
    for (int i = 1; i <= occ.size(); ++i) {
      const double o = occ(i);
      if (!(o >= -kOccupationSlack && o <= top + kOccupationSlack))
        refuse(" Occupation " + realText(o) + " of orbital " + std::to_string(i) +
                   " is outside 0.." + realText(top) +
                   (separate ? " (an orbital of one spin holds at most one electron)" : ""),
               kCodeBadValue, line);
      sum += o;
      whole = whole && std::fabs(o - std::nearbyint(o)) < 1e-6;
      if (!separate && std::fabs(o - 1.0) < 1e-6) ++open;
    }
  };
  scan(ck.occupation, sa);
  scan(ck.occupationBeta, sb);
  const double total = sa + sb;
  const long long n = std::llround(total);
  if (!(std::fabs(total - static_cast<double>(n)) <= kElectronSlack))
    refuse(" The occupations add up to " + realText(total) +
               ", which is not a whole number of electrons",
           kCodeBadValue, line);
  ck.electrons = static_cast<int>(n);
  if (separate) {
    ck.nalpha = static_cast<int>(std::llround(sa));
    ck.nbeta = static_cast<int>(std::llround(sb));
  } else {
    ck.nbeta = (ck.electrons - open) / 2;
    if (ck.nbeta < 0) ck.nbeta = 0;
    ck.nalpha = ck.electrons - ck.nbeta;
  }
  ck.betaOrbitals = separate;
  ck.calc.plain = whole;
  ck.densityLabel = whole ? "Density of the occupied orbitals" : "Density of the natural orbitals";
  ck.densityLine = line;
  ck.ndens = 1;
  ck.densityFromOrbitals = true;
}

}  // namespace mv::wavetext
