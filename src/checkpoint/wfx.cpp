// The .wfx reader.  Every item stands between an opening tag <Name> and its
// closing tag </Name>, each on a line of its own; tags nest (the orbitals'
// <MO Number>, the EDF block) and are compared with runs of blanks
// collapsed.  Lines beginning with '#' are comments.
#include <cmath>
#include <map>
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

namespace {

// A tag's name with its blanks collapsed ("Energy  = T" -> "Energy = T").
std::string tagName(std::string_view t) {
  std::string n;
  for (const char c : t) {
    if (c == ' ' || c == '\t') {
      if (!n.empty() && n.back() != ' ') n += ' ';
    } else {
      n += c;
    }
  }
  if (!n.empty() && n.back() == ' ') n.pop_back();
  return n;
}

struct Item {
  int line = 0;             // the line of its opening tag
  std::vector<Line> lines;  // everything between its tags, nested tags included
};

class WfxReader {
 public:
  WfxReader(std::string_view bytes, const std::string& name, const Limits& limits)
      : lines_(splitLines(bytes)), name_(name), limits_(limits) {}
  Checkpoint read();

 private:
  [[noreturn]] void fail(int line, const std::string& m) const { fault(name_, line, m); }
  void scan();
  const Item& need(const std::string& tag) const {
    const auto it = items_.find(tag);
    if (it == items_.end())
      fail(static_cast<int>(lines_.size()), "the file has no <" + tag + "> section");
    return it->second;
  }
  const Item* find(const std::string& tag) const {
    const auto it = items_.find(tag);
    return it == items_.end() ? nullptr : &it->second;
  }
  std::vector<double> reals(const Item& item, const std::string& tag, bool finiteOnly = true) const;
  std::vector<long long> integers(const Item& item, const std::string& tag) const;
  long long single(const std::string& tag) const;

  std::vector<Line> lines_;
  std::string name_;
  Limits limits_;
  std::map<std::string, Item> items_;  // the top-level items by name (the first of each)
};

void WfxReader::scan() {
  struct Open {
    std::string name;
    int line;
  };
  std::vector<Open> stack;
  std::string top;  // the top-level item being filled
  for (const Line& l : lines_) {
    const std::string t = trim(l.text);
    if (!t.empty() && t[0] == '#') continue;
    const bool tag = t.size() >= 3 && t.front() == '<' && t.back() == '>';
    if (tag && t[1] == '/') {
      const std::string n = tagName(std::string_view(t).substr(2, t.size() - 3));
      if (stack.empty()) fail(l.number, "the closing tag </" + n + "> closes nothing");
      if (stack.back().name != n)
        fail(l.number, "the closing tag </" + n + "> does not close <" + stack.back().name +
                           "> of line " + std::to_string(stack.back().line));
      stack.pop_back();
      if (stack.empty()) {
        top.clear();
        continue;
      }
    } else if (tag) {
      const std::string n = tagName(std::string_view(t).substr(1, t.size() - 2));
      stack.push_back({n, l.number});
      if (stack.size() == 1) {
        top = n;
        items_.emplace(n, Item{l.number, {}});
        continue;
      }
    } else if (stack.empty()) {
      if (t.empty()) continue;
      fail(l.number, "text outside any <tag>: " + shown(t));
    }
    if (!top.empty()) {
      Item& it = items_.at(top);
      if (it.line == stack.front().line) it.lines.push_back(l);
    }
  }
  if (!stack.empty()) fail(stack.back().line, "<" + stack.back().name + "> is never closed");
}

std::vector<double> WfxReader::reals(const Item& item, const std::string& tag,
                                     bool finiteOnly) const {
  std::vector<double> v;
  for (const Line& l : item.lines)
    for (std::string_view w : tokens(l.text)) {
      double x = 0.0;
      if (!parseReal(w, x)) fail(l.number, "<" + tag + ">: " + shown(w) + " is not a number");
      if (finiteOnly && !std::isfinite(x))
        refuse(" <" + tag + ">: " + shown(w) + " is not finite", kCodeBadValue, l.number);
      v.push_back(x);
    }
  return v;
}

std::vector<long long> WfxReader::integers(const Item& item, const std::string& tag) const {
  std::vector<long long> v;
  for (const Line& l : item.lines)
    for (std::string_view w : tokens(l.text)) {
      long long x = 0;
      if (!parseInt(w, x)) fail(l.number, "<" + tag + ">: " + shown(w) + " is not a whole number");
      v.push_back(x);
    }
  return v;
}

long long WfxReader::single(const std::string& tag) const {
  const Item& it = need(tag);
  const std::vector<long long> v = integers(it, tag);
  if (v.size() != 1 || v[0] < 0)
    fail(it.line, "<" + tag + "> must hold one whole number, not negative");
  return v[0];
}

Checkpoint WfxReader::read() {
  scan();
  Checkpoint ck;
  ck.format = FileFormat::Wfx;
  ck.name = name_;
  ck.hasEnergy = false;
  std::string title;
  if (const Item* t = find("Title"))
    for (const Line& l : t->lines)
      if (!(title = trim(l.text)).empty()) break;
  ck.title = titleOf(title, name_);

  // The nuclei.
  const long long nat = single("Number of Nuclei");
  if (nat < 1) fail(need("Number of Nuclei").line, "the file has no nuclei");
  if (Limits::beyond(nat, limits_.atomsRead))
    refuse(" Number of nuclei " + std::to_string(nat) + " exceeds the limit of " +
               std::to_string(limits_.atomsRead),
           kCodeLimit, need("Number of Nuclei").line);
  const Item& charges = need("Nuclear Charges");
  const std::vector<double> q = reals(charges, "Nuclear Charges");
  if (static_cast<long long>(q.size()) != nat)
    fail(charges.line, "<Nuclear Charges> holds " + std::to_string(q.size()) + " values for " +
                           std::to_string(nat) + " nuclei");
  const Item& xyz = need("Nuclear Cartesian Coordinates");
  const std::vector<double> x = reals(xyz, "Nuclear Cartesian Coordinates");
  if (static_cast<long long>(x.size()) != 3 * nat)
    fail(xyz.line, "<Nuclear Cartesian Coordinates> holds " + std::to_string(x.size()) +
                       " values for " + std::to_string(nat) + " nuclei");
  const int natoms = static_cast<int>(nat);
  ck.natoms = natoms;
  ck.atomicNumber = Vec1<int>(natoms);
  ck.nuclearCharge = Vec1<double>(natoms);
  ck.coords = Matrix(3, natoms);
  ck.sections.push_back({"[Atoms]", charges.line});
  std::vector<std::string> names;
  if (const Item* n = find("Nuclear Names"))
    for (const Line& l : n->lines)
      for (std::string_view w : tokens(l.text)) names.emplace_back(w);
  std::vector<long long> numbers;
  if (const Item* z = find("Atomic Numbers")) {
    numbers = integers(*z, "Atomic Numbers");
    if (static_cast<long long>(numbers.size()) != nat)
      fail(z->line, "<Atomic Numbers> holds " + std::to_string(numbers.size()) + " values for " +
                        std::to_string(nat) + " nuclei");
  }
  for (int a = 1; a <= natoms; ++a) {
    const auto k = static_cast<std::size_t>(a - 1);
    if (!(q[k] >= 0.0 && q[k] <= kMaxElement))
      refuse(" Nuclear charge " + realText(q[k]) + " of nucleus " + std::to_string(a) +
                 " is outside 0.." + std::to_string(kMaxElement),
             kCodeBadValue, charges.line);
    ck.nuclearCharge(a) = q[k];
    long long z = 0;
    if (!numbers.empty()) {
      z = numbers[k];
      if (z < 0 || z > kMaxElement)
        refuse(" Atomic number " + std::to_string(z) + " of nucleus " + std::to_string(a) +
                   " is outside 0.." + std::to_string(kMaxElement),
               kCodeBadValue, find("Atomic Numbers")->line);
    } else if (k < names.size()) {
      z = elementOfName(names[k]);
    }
    if (z == 0) z = std::lround(q[k]);
    ck.atomicNumber(a) = static_cast<int>(z);
    for (int c = 1; c <= 3; ++c) ck.coords(c, a) = x[3 * k + static_cast<std::size_t>(c - 1)];
  }

  // The primitives.
  const long long nprim = single("Number of Primitives");
  const Item& centres = need("Primitive Centers");
  const Item& types = need("Primitive Types");
  const Item& exps = need("Primitive Exponents");
  const std::vector<long long> c = integers(centres, "Primitive Centers");
  const std::vector<long long> t = integers(types, "Primitive Types");
  const std::vector<double> e = reals(exps, "Primitive Exponents");
  for (const auto& [item, size, tag] : {std::tuple{&centres, c.size(), "Primitive Centers"},
                                        std::tuple{&types, t.size(), "Primitive Types"},
                                        std::tuple{&exps, e.size(), "Primitive Exponents"}})
    if (static_cast<long long>(size) != nprim)
      fail(item->line, "<" + std::string(tag) + "> holds " + std::to_string(size) + " values for " +
                           std::to_string(nprim) + " primitives");
  if (nprim < 1) fail(need("Number of Primitives").line, "the file has no primitives");
  std::vector<Primitive> prims(static_cast<std::size_t>(nprim));
  for (std::size_t p = 0; p < prims.size(); ++p) {
    if (c[p] < 1 || c[p] > nat)
      refuse(" Primitive " + std::to_string(p + 1) + " is on centre " + std::to_string(c[p]) +
                 ", outside 1.." + std::to_string(nat),
             kCodeBadIndex, centres.line);
    int px, py, pz;
    if (t[p] < 1 || t[p] > kMaxPrimitiveType ||
        !primitivePowers(static_cast<int>(t[p]), px, py, pz))
      refuse(" Primitive " + std::to_string(p + 1) + " has type " + std::to_string(t[p]) +
                 ", outside 1.." + std::to_string(kMaxPrimitiveType),
             kCodeBadValue, types.line);
    if (!(e[p] > 0.0))
      refuse(" Exponent " + realText(e[p]) + " of primitive " + std::to_string(p + 1) +
                 " is not positive",
             kCodeBadValue, exps.line);
    prims[p] = {static_cast<int>(c[p]), static_cast<int>(t[p]), e[p]};
  }

  // The orbitals: occupations, spins and coefficients.
  const Item& occItem = need("Molecular Orbital Occupation Numbers");
  const std::vector<double> occ = reals(occItem, "Molecular Orbital Occupation Numbers");
  // The number of orbital blocks; a file without it has one per occupation.
  const long long nmo = find("Number of Occupied Molecular Orbitals") != nullptr
                            ? single("Number of Occupied Molecular Orbitals")
                            : static_cast<long long>(occ.size());
  const Item& spinItem = need("Molecular Orbital Spin Types");
  std::vector<int> spin;  // 0 both, 1 alpha, 2 beta
  for (const Line& l : spinItem.lines) {
    std::string s = tagName(trim(l.text));
    for (char& ch : s) ch = static_cast<char>(std::tolower(static_cast<unsigned char>(ch)));
    if (s.empty()) continue;
    if (s == "alpha and beta")
      spin.push_back(0);
    else if (s == "alpha")
      spin.push_back(1);
    else if (s == "beta")
      spin.push_back(2);
    else
      fail(l.number,
           "a spin type must be Alpha and Beta, Alpha or Beta, not " + shown(trim(l.text)));
  }
  if (static_cast<long long>(occ.size()) != nmo)
    fail(occItem.line, "<Molecular Orbital Occupation Numbers> holds " +
                           std::to_string(occ.size()) + " values for " + std::to_string(nmo) +
                           " orbitals");
  if (static_cast<long long>(spin.size()) != nmo)
    fail(spinItem.line, "<Molecular Orbital Spin Types> holds " + std::to_string(spin.size()) +
                            " entries for " + std::to_string(nmo) + " orbitals");
  const Item& coef = need("Molecular Orbital Primitive Coefficients");
  std::vector<std::vector<double>> cs;
  std::vector<int> csLine;
  for (std::size_t k = 0; k < coef.lines.size(); ++k) {
    const Line& l = coef.lines[k];
    const std::string s = tagName(trim(l.text));
    if (s == "<MO Number>") {
      long long no = 0;
      if (k + 2 >= coef.lines.size() || !parseInt(trim(coef.lines[k + 1].text), no) ||
          tagName(trim(coef.lines[k + 2].text)) != "</MO Number>")
        fail(l.number, "<MO Number> must hold the orbital's number on one line");
      if (no != static_cast<long long>(cs.size()) + 1)
        fail(coef.lines[k + 1].number, "orbital number " + std::to_string(no) + " where " +
                                           std::to_string(cs.size() + 1) + " is expected");
      if (static_cast<long long>(cs.size()) == nmo)
        fail(l.number, "more orbitals than the " + std::to_string(nmo) + " announced");
      cs.emplace_back();
      csLine.push_back(l.number);
      k += 2;
      continue;
    }
    if (s.empty()) continue;
    if (cs.empty()) fail(l.number, "coefficients before the first <MO Number>");
    for (std::string_view w : tokens(l.text)) {
      double v = 0.0;
      if (!parseReal(w, v)) fail(l.number, "coefficient " + shown(w) + " is not a number");
      if (!std::isfinite(v))
        refuse(" Coefficient " + shown(w) + " is not finite", kCodeBadValue, l.number);
      if (static_cast<long long>(cs.back().size()) == nprim)
        fail(l.number, "orbital " + std::to_string(cs.size()) + " has more than " +
                           std::to_string(nprim) + " coefficients");
      cs.back().push_back(v);
    }
  }
  if (static_cast<long long>(cs.size()) != nmo)
    fail(coef.line, "the file announces " + std::to_string(nmo) + " orbitals and holds " +
                        std::to_string(cs.size()));
  for (std::size_t k = 0; k < cs.size(); ++k)
    if (static_cast<long long>(cs[k].size()) != nprim)
      fail(csLine[k], "orbital " + std::to_string(k + 1) + " has " + std::to_string(cs[k].size()) +
                          " coefficients, not " + std::to_string(nprim));
  ck.sections.push_back({"[MO]", coef.line});
  if (const Item* en = find("Energy = T + Vne + Vee + Vnn")) {
    double v = 0.0;
    if (!en->lines.empty()) {
      const auto w = tokens(en->lines.front().text);
      if (!w.empty() && parseReal(w[0], v) && std::isfinite(v)) ck.totalEnergy = v;
    }
  }

  // Spins given apart as soon as one orbital is Beta alone; an orbital of
  // both spins is then half in each set.
  bool separate = false;
  for (const int s : spin) separate = separate || s == 2;
  PrimitiveBasis pb = primitiveBasis(prims, natoms);
  requireMemory(
      12 * Matrix::bytesFor(pb.nbf, pb.nbf),
      std::to_string(pb.nbf) + " basis functions and " + std::to_string(natoms) + " atoms");
  ck.shells = std::move(pb.shells);
  ck.nbf = pb.nbf;
  if (Limits::beyond(ck.nbf, limits_.basisFunctions))
    refuse(" Number of basis functions " + std::to_string(ck.nbf) + " exceeds the limit of " +
               std::to_string(limits_.basisFunctions),
           kCodeLimit, need("Number of Primitives").line);
  int na = 0, nb = 0;
  for (const int s : spin) {
    na += separate ? (s != 2) : 1;
    nb += separate && s != 1;
  }
  ck.mo = Matrix(ck.nbf, na);
  ck.occupation = Vec1<double>(na);
  if (separate) {
    ck.moBeta = Matrix(ck.nbf, nb);
    ck.occupationBeta = Vec1<double>(nb);
  }
  int ia = 0, ib = 0;
  auto put = [&](Matrix& m, Vec1<double>& o, int j, std::size_t k, double n) {
    o(j) = n;
    for (std::size_t p = 0; p < prims.size(); ++p) m(pb.row[p], j) += cs[k][p] * pb.scale[p];
  };
  for (std::size_t k = 0; k < cs.size(); ++k) {
    const double n = separate && spin[k] == 0 ? occ[k] / 2 : occ[k];
    if (!separate || spin[k] != 2) put(ck.mo, ck.occupation, ++ia, k, n);
    if (separate && spin[k] != 1) put(ck.moBeta, ck.occupationBeta, ++ib, k, n);
  }
  settleOccupations(ck, coef.line, separate);
  return ck;
}

}  // namespace

Checkpoint readWfx(std::string_view bytes, const std::string& name, const Limits& limits) {
  WfxReader r(bytes, name, limits);
  return r.read();
}

}  // namespace mv
