// The .wfn reader.  The file is read line by line in its fixed order: title,
// counts, centres, the centre and type of every primitive, the exponents,
// the orbitals, END DATA and the energy; a $MOSPIN block of orbital spins may follow.
#include <algorithm>
#include <cmath>
#include <string>
#include <vector>

#include "checkpoint/checkpoint.h"
#include "checkpoint/wavefiles.h"
#include "checkpoint/wavetext.h"
#include "core/elements.h"
#include "core/memory.h"
#include "core/stop.h"

namespace mv {

using namespace wavetext;

int elementOfName(std::string_view name) {
  std::string letters;
  for (const char c : name) {
    if (!((c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z'))) break;
    letters += letters.empty() ? static_cast<char>(c & ~0x20) : static_cast<char>(c | 0x20);
  }
  for (int z = 1; z <= kMaxElement; ++z)
    if (elementSymbol(z) == letters) return z;
  return 0;
}

namespace {

struct WfnOrbital {
  int line = 0;
  long long number = 0;
  double occupation = 0.0, energy = 0.0;
  std::vector<double> coefficients;
};

class WfnReader {
 public:
  WfnReader(std::string_view bytes, const std::string& name, const Limits& limits)
      : lines_(splitLines(bytes)), name_(name), limits_(limits) {}
  Checkpoint read();

 private:
  [[noreturn]] void fail(int line, const std::string& m) const { fault(name_, line, m); }
  const Line& at(std::size_t i, const char* what) const {
    if (i >= lines_.size())
      fail(static_cast<int>(lines_.size()),
           std::string("the file ends before ") + what + " (a .wfn file lists them in order)");
    return lines_[i];
  }
  long long count(const std::vector<std::string_view>& t, const char* keyword, int line) const;
  double number(std::string_view t, int line, const char* what) const {
    double v = 0.0;
    if (!parseReal(t, v)) fail(line, std::string(what) + ": " + shown(t) + " is not a number");
    if (!std::isfinite(v))
      refuse(" " + std::string(what) + " " + shown(t) + " is not finite", kCodeBadValue, line);
    return v;
  }
  // The value after `key` on the line ("CHARGE =", "OCC NO ="), or a fault.
  double after(const Line& l, std::string_view key, const char* what) const;
  // Integers in fixed fields of 3 characters from column 21, under `label`.
  std::vector<int> assignments(std::size_t& i, const char* label, long long n) const;

  std::vector<Line> lines_;
  std::string name_;
  Limits limits_;
};

long long WfnReader::count(const std::vector<std::string_view>& t, const char* keyword,
                           int line) const {
  for (std::size_t k = 1; k < t.size(); ++k) {
    if (t[k] != keyword) continue;
    long long v = 0;
    if (!parseInt(t[k - 1], v) || v < 0)
      fail(line, "the count before " + std::string(keyword) + " is " + shown(t[k - 1]) +
                     ", not a whole number");
    return v;
  }
  fail(line, "the second line must give the numbers of MOL ORBITALS, PRIMITIVES and NUCLEI: " +
                 shown(trim(lines_[1].text)));
}

double WfnReader::after(const Line& l, std::string_view key, const char* what) const {
  const std::size_t p = l.text.find(key);
  if (p == std::string_view::npos)
    fail(l.number, std::string("the line has no ") + std::string(key) + ": " + shown(trim(l.text)));
  const auto t = numberWords(l.text.substr(p + key.size()));
  if (t.empty()) fail(l.number, std::string(what) + " is missing after " + std::string(key));
  return number(t[0], l.number, what);
}

std::vector<int> WfnReader::assignments(std::size_t& i, const char* label, long long n) const {
  std::vector<int> v;
  const std::string_view lab(label);
  while (static_cast<long long>(v.size()) < n) {
    const Line& l = at(i, label);
    if (l.text.substr(0, lab.size()) != lab)
      fail(l.number, "expected " + std::string(label) + " for " + std::to_string(n) +
                         " primitives, found " + std::to_string(v.size()) + " before " +
                         shown(trim(l.text)));
    // Blank-separated numbers of at most three digits are read as words,
    // whatever the columns; numbers that run together ("99100101") are
    // read in the fixed fields of 3 characters from column 21.
    const std::string_view rest = l.text.substr(std::min(lab.size(), l.text.size()));
    std::vector<std::string> fields;
    bool glued = false;
    for (std::string_view w : tokens(rest)) glued = glued || w.size() > 3;
    if (!glued)
      for (std::string_view w : tokens(rest)) fields.emplace_back(w);
    else
      for (std::size_t c = 20; c < l.text.size(); c += 3)
        fields.push_back(trim(l.text.substr(c, 3)));
    for (const std::string& f : fields) {
      if (f.empty()) continue;
      long long x = 0;
      if (!parseInt(f, x))
        fail(l.number, std::string(label) + ": " + shown(f) + " is not a whole number");
      if (static_cast<long long>(v.size()) == n)
        fail(l.number, std::string(label) + ": more than the " + std::to_string(n) + " primitives");
      v.push_back(static_cast<int>(x < -1000000 ? -1000000 : x > 1000000 ? 1000000 : x));
    }
    ++i;
  }
  return v;
}

Checkpoint WfnReader::read() {
  Checkpoint ck;
  ck.format = FileFormat::Wfn;
  ck.name = name_;
  ck.hasEnergy = false;
  ck.title = titleOf(at(0, "the title").text, name_);
  const Line& counts = at(1, "the counts");
  const auto ct = tokens(counts.text);
  const long long nmo = count(ct, "MOL", counts.number);
  const long long nprim = count(ct, "PRIMITIVES", counts.number);
  const long long nat = count(ct, "NUCLEI", counts.number);
  if (nat < 1) fail(counts.number, "the file has no nuclei");
  if (nprim < 1) fail(counts.number, "the file has no primitives");
  if (Limits::beyond(nat, limits_.atomsRead) || nat > static_cast<long long>(lines_.size()))
    fail(counts.number, std::to_string(nat) + " NUCLEI: more than the file's lines or the limit");

  // The centres.
  const int natoms = static_cast<int>(nat);
  ck.natoms = natoms;
  ck.atomicNumber = Vec1<int>(natoms);
  ck.nuclearCharge = Vec1<double>(natoms);
  ck.coords = Matrix(3, natoms);
  std::size_t i = 2;
  ck.sections.push_back({"[Atoms]", static_cast<int>(i + 1)});
  for (int a = 1; a <= natoms; ++a, ++i) {
    const Line& l = at(i, "every centre");
    const std::size_t open = l.text.find("(CENTRE");
    const std::size_t close = open == std::string_view::npos ? open : l.text.find(')', open);
    const std::size_t charge = l.text.find("CHARGE");
    if (close == std::string_view::npos || charge == std::string_view::npos || charge < close)
      fail(l.number, "a centre line needs its name, (CENTRE n), x, y, z and CHARGE =: " +
                         shown(trim(l.text)));
    // x, y, z in fields of 12 characters; a field filled to its first
    // column runs into the one before it, and only a sign may separate them.
    std::string_view seg = l.text.substr(close + 1, charge - close - 1);
    while (!seg.empty() && (seg.back() == ' ' || seg.back() == '\t')) seg.remove_suffix(1);
    std::vector<std::string_view> xyz = numberWords(seg);
    double v = 0.0;
    bool ok = xyz.size() == 3;
    for (std::size_t k = 0; ok && k < 3; ++k) ok = parseReal(xyz[k], v);
    if (!ok && seg.size() >= 36) {
      const std::string_view f = seg.substr(seg.size() - 36);
      xyz = {f.substr(0, 12), f.substr(12, 12), f.substr(24, 12)};
      for (std::string_view& w : xyz)
        while (!w.empty() && w.front() == ' ') w.remove_prefix(1);
    } else if (!ok) {
      fail(l.number, "a centre needs three coordinates: " + shown(trim(seg)));
    }
    for (int k = 0; k < 3; ++k)
      ck.coords(k + 1, a) = number(xyz[static_cast<std::size_t>(k)], l.number, "coordinate");
    const Line rest{l.text.substr(charge), l.number};
    const double q = after(rest, "=", "the nuclear charge");
    if (q < 0.0 || q > kMaxElement)
      refuse(" Nuclear charge " + realText(q) + " is outside 0.." + std::to_string(kMaxElement),
             kCodeBadValue, l.number);
    ck.nuclearCharge(a) = q;
    const auto name = tokens(l.text.substr(0, open));
    int z = name.empty() ? 0 : elementOfName(name[0]);
    // A name that is no element (a dummy centre): the element of its charge.
    if (z == 0) z = static_cast<int>(std::lround(q));
    ck.atomicNumber(a) = z;
  }

  // The centre and type of every primitive, then the exponents.
  const std::vector<int> centre = assignments(i, "CENTRE ASSIGNMENTS", nprim);
  const int typeLine = static_cast<int>(i + 1);
  const std::vector<int> type = assignments(i, "TYPE ASSIGNMENTS", nprim);
  std::vector<double> exponent;
  while (static_cast<long long>(exponent.size()) < nprim) {
    const Line& l = at(i, "the EXPONENTS");
    if (l.text.substr(0, 9) != "EXPONENTS")
      fail(l.number, "expected EXPONENTS for " + std::to_string(nprim) + " primitives, found " +
                         std::to_string(exponent.size()) + " before " + shown(trim(l.text)));
    // Exponents in fields of 14 characters from column 11; fields that run
    // together ("0.1234567D+040.7654321D+03") are read as fixed fields.
    std::vector<std::string_view> words = numberWords(l.text.substr(9));
    double probe = 0.0;
    bool glued = false;
    for (std::string_view w : words) glued = glued || !parseReal(w, probe);
    if (glued) {
      words.clear();
      for (std::size_t c = 10; c < l.text.size(); c += 14) {
        std::string_view f = l.text.substr(c, 14);
        while (!f.empty() && f.front() == ' ') f.remove_prefix(1);
        while (!f.empty() && f.back() == ' ') f.remove_suffix(1);
        if (!f.empty()) words.push_back(f);
      }
    }
    for (std::string_view t : words) {
      if (static_cast<long long>(exponent.size()) == nprim)
        fail(l.number, "EXPONENTS: more than the " + std::to_string(nprim) + " primitives");
      const double e = number(t, l.number, "exponent");
      if (!(e > 0.0)) refuse(" Exponent " + shown(t) + " is not positive", kCodeBadValue, l.number);
      exponent.push_back(e);
    }
    ++i;
  }
  std::vector<Primitive> prims(static_cast<std::size_t>(nprim));
  for (std::size_t p = 0; p < prims.size(); ++p) {
    if (centre[p] < 1 || centre[p] > natoms)
      refuse(" Primitive " + std::to_string(p + 1) + " is on centre " + std::to_string(centre[p]) +
                 ", outside 1.." + std::to_string(natoms),
             kCodeBadIndex, typeLine - 1);
    int x, y, z;
    if (!primitivePowers(type[p], x, y, z))
      refuse(" Primitive " + std::to_string(p + 1) + " has type " + std::to_string(type[p]) +
                 ", outside 1.." + std::to_string(kMaxPrimitiveType),
             kCodeBadValue, typeLine);
    prims[p] = {centre[p], type[p], exponent[p]};
  }

  // The orbitals, up to END DATA.
  const int moLine = static_cast<int>(i + 1);
  std::vector<WfnOrbital> os;
  for (;; ++i) {
    const Line& l = at(i, "END DATA");
    const std::string t = trim(l.text);
    if (t.rfind("END DATA", 0) == 0) break;
    if (t.empty()) continue;
    if (t.rfind("MO", 0) == 0) {
      if (static_cast<long long>(os.size()) == nmo)
        fail(l.number, "more orbitals than the " + std::to_string(nmo) + " MOL ORBITALS");
      WfnOrbital o;
      o.line = l.number;
      const auto w = numberWords(std::string_view(t).substr(2));
      if (w.empty() || !parseInt(w[0], o.number))
        fail(l.number, "an orbital line must begin with MO and its number: " + shown(t));
      o.occupation = after(l, "OCC NO =", "the occupation");
      o.energy = after(l, "ORB. ENERGY =", "the orbital energy");
      os.push_back(std::move(o));
      continue;
    }
    if (os.empty()) fail(l.number, "expected an orbital (MO ...), found " + shown(t));
    for (std::string_view w : numberWords(l.text)) {
      if (static_cast<long long>(os.back().coefficients.size()) == nprim)
        fail(l.number, "orbital " + std::to_string(os.back().number) + " has more than " +
                           std::to_string(nprim) + " coefficients");
      os.back().coefficients.push_back(number(w, l.number, "coefficient"));
    }
  }
  const int endLine = lines_[i].number;
  if (static_cast<long long>(os.size()) != nmo)
    fail(endLine, "the file announces " + std::to_string(nmo) + " orbitals and holds " +
                      std::to_string(os.size()));
  for (const WfnOrbital& o : os)
    if (static_cast<long long>(o.coefficients.size()) != nprim)
      fail(o.line, "orbital " + std::to_string(o.number) + " has " +
                       std::to_string(o.coefficients.size()) + " coefficients, not " +
                       std::to_string(nprim));
  ck.sections.push_back({"[MO]", moLine});

  // The energy line and the spins of a $MOSPIN block.
  std::vector<int> spins;
  for (std::size_t k = i + 1; k < lines_.size(); ++k) {
    const Line& l = lines_[k];
    if (!ck.totalEnergy && l.text.find("ENERGY =") != std::string_view::npos) {
      const auto w = numberWords(l.text.substr(l.text.find("ENERGY =") + 8));
      double e = 0.0;
      if (!w.empty() && parseReal(w[0], e) && std::isfinite(e)) ck.totalEnergy = e;
    }
    if (trim(l.text) == "$MOSPIN") {
      for (++k; k < lines_.size() && trim(lines_[k].text) != "$END"; ++k)
        for (std::string_view w : tokens(lines_[k].text)) {
          long long s = 0;
          spins.push_back(parseInt(w, s) ? static_cast<int>(s % 10) : -1);
        }
    }
  }

  // Spatial orbitals (some occupation above 1), or alpha then beta
  // orbitals: the beta set starts where the numbering jumps, the orbital
  // energy drops or the occupation rises again, or as $MOSPIN says when it
  // gives exactly one entry per orbital.
  std::size_t betaFrom = os.size();
  bool spatial = false;
  for (const WfnOrbital& o : os) spatial = spatial || o.occupation > 1.0 + 1e-6;
  if (!spatial) {
    if (spins.size() == os.size()) {
      for (std::size_t k = 0; k < os.size() && betaFrom == os.size(); ++k)
        if (spins[k] == 2) betaFrom = k;
    } else {
      for (std::size_t k = 1; k < os.size(); ++k) {
        const WfnOrbital &a = os[k - 1], &b = os[k];
        if (b.number != a.number + 1 || b.energy < a.energy || b.occupation > a.occupation + 1e-9) {
          betaFrom = k;
          break;
        }
      }
    }
  }
  const bool separate = betaFrom < os.size();

  PrimitiveBasis pb = primitiveBasis(prims, natoms);
  requireMemory(
      12 * Matrix::bytesFor(pb.nbf, pb.nbf),
      std::to_string(pb.nbf) + " basis functions and " + std::to_string(natoms) + " atoms");
  ck.shells = std::move(pb.shells);
  ck.nbf = pb.nbf;
  if (Limits::beyond(ck.nbf, limits_.basisFunctions))
    refuse(" Number of basis functions " + std::to_string(ck.nbf) + " exceeds the limit of " +
               std::to_string(limits_.basisFunctions),
           kCodeLimit, counts.number);
  const int na = static_cast<int>(betaFrom), nb = static_cast<int>(os.size() - betaFrom);
  ck.mo = Matrix(ck.nbf, na);
  ck.occupation = Vec1<double>(na);
  if (separate) {
    ck.moBeta = Matrix(ck.nbf, nb);
    ck.occupationBeta = Vec1<double>(nb);
  }
  for (std::size_t k = 0; k < os.size(); ++k) {
    const bool beta = k >= betaFrom;
    const int j = static_cast<int>(beta ? k - betaFrom : k) + 1;
    Matrix& m = beta ? ck.moBeta : ck.mo;
    (beta ? ck.occupationBeta : ck.occupation)(j) = os[k].occupation;
    for (std::size_t p = 0; p < prims.size(); ++p)
      m(pb.row[p], j) += os[k].coefficients[p] * pb.scale[p];
  }
  settleOccupations(ck, moLine, separate);
  return ck;
}

}  // namespace

Checkpoint readWfn(std::string_view bytes, const std::string& name, const Limits& limits) {
  WfnReader r(bytes, name, limits);
  return r.read();
}

}  // namespace mv
