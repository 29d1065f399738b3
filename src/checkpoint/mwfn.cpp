// The .mwfn reader.  Lines "Key= value" and blocks "$Name" whose values
// follow on the next lines, up to an empty line ("$Coeff": the orbital's
// Nbasis coefficients); '#' lines are comments.  The basis is contracted
// as in a checkpoint file, with the same order of functions in a shell.
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

constexpr double kBohrPerAngstrom = 1.0 / 0.529177210903;

struct Block {
  int line = 0;
  std::vector<Line> lines;
};

struct MwfnOrbital {
  int line = 0;
  int type = 0;  // 0 both spins, 1 alpha, 2 beta
  double occupation = 0.0;
  bool hasOccupation = false;
  std::vector<double> coefficients;
};

class MwfnReader {
 public:
  MwfnReader(std::string_view bytes, const std::string& name, const Limits& limits)
      : lines_(splitLines(bytes)), name_(name), limits_(limits) {}
  Checkpoint read();

 private:
  [[noreturn]] void fail(int line, const std::string& m) const { fault(name_, line, m); }
  void scan();
  const Block& block(const std::string& name) const {
    const auto it = blocks_.find(name);
    if (it == blocks_.end())
      fail(static_cast<int>(lines_.size()), "the file has no $" + name + " block");
    return it->second;
  }
  // The value of Key=, as a whole number or a real.
  std::pair<std::string, int> value(const std::string& key) const {
    const auto it = keys_.find(key);
    if (it == keys_.end())
      fail(static_cast<int>(lines_.size()), "the file has no " + key + "= line");
    return it->second;
  }
  long long whole(const std::string& key) const;
  double real(const std::string& key) const;
  std::vector<double> reals(const Block& b, const std::string& name) const;

  std::vector<Line> lines_;
  std::string name_;
  Limits limits_;
  std::map<std::string, std::pair<std::string, int>> keys_;  // the first of each key
  std::map<std::string, Block> blocks_;
  std::vector<MwfnOrbital> orbitals_;
  long long nbasis_ = -1;
};

void MwfnReader::scan() {
  for (std::size_t i = 0; i < lines_.size(); ++i) {
    const Line& l = lines_[i];
    const std::string t = trim(l.text);
    if (t.empty() || t[0] == '#') continue;
    if (t[0] == '$') {
      const std::string n = trim(std::string_view(t).substr(1));
      if (n == "Coeff") {
        if (orbitals_.empty()) fail(l.number, "$Coeff before the first orbital's Index=");
        if (nbasis_ < 0) fail(l.number, "$Coeff before Nbasis=");
        MwfnOrbital& o = orbitals_.back();
        if (!o.coefficients.empty()) fail(l.number, "a second $Coeff for this orbital");
        while (static_cast<long long>(o.coefficients.size()) < nbasis_) {
          if (++i >= lines_.size())
            fail(l.number, "the file ends inside the coefficients of this orbital");
          for (std::string_view w : numberWords(lines_[i].text)) {
            double v = 0.0;
            if (!parseReal(w, v))
              fail(lines_[i].number, "coefficient " + shown(w) + " is not a number");
            if (!std::isfinite(v))
              refuse(" Coefficient " + shown(w) + " is not finite", kCodeBadValue,
                     lines_[i].number);
            if (static_cast<long long>(o.coefficients.size()) == nbasis_)
              fail(lines_[i].number,
                   "more than the " + std::to_string(nbasis_) + " coefficients of Nbasis");
            o.coefficients.push_back(v);
          }
        }
        continue;
      }
      Block b{l.number, {}};
      // Its values run up to an empty line, the next block or the next key.
      for (; i + 1 < lines_.size(); ++i) {
        const std::string next = trim(lines_[i + 1].text);
        if (next.empty() || next[0] == '$' || next.find('=') != std::string::npos) break;
        b.lines.push_back(lines_[i + 1]);
      }
      blocks_.emplace(n, std::move(b));
      continue;
    }
    const std::size_t eq = t.find('=');
    if (eq == std::string::npos) fail(l.number, "expected Key= value or a $block: " + shown(t));
    const std::string key = trim(std::string_view(t).substr(0, eq));
    const std::string val = trim(std::string_view(t).substr(eq + 1));
    if (key == "Index") {
      orbitals_.emplace_back();
      orbitals_.back().line = l.number;
      continue;
    }
    if (!orbitals_.empty() && (key == "Type" || key == "Occ")) {
      double v = 0.0;
      if (!parseReal(val, v) || !std::isfinite(v))
        fail(l.number, key + "= " + shown(val) + " is not a number");
      if (key == "Type") {
        if (v != 0.0 && v != 1.0 && v != 2.0)
          fail(l.number, "Type= must be 0 (both spins), 1 (alpha) or 2 (beta), not " + shown(val));
        orbitals_.back().type = static_cast<int>(v);
      } else {
        orbitals_.back().occupation = v;
        orbitals_.back().hasOccupation = true;
      }
      continue;
    }
    if (orbitals_.empty()) keys_.emplace(key, std::make_pair(val, l.number));
    if (key == "Nbasis" && nbasis_ < 0) {
      if (!parseInt(val, nbasis_) || nbasis_ < 1)
        fail(l.number, "Nbasis= " + shown(val) + " is not a positive whole number");
    }
  }
}

long long MwfnReader::whole(const std::string& key) const {
  const auto [v, line] = value(key);
  long long x = 0;
  double r = 0.0;
  if (parseInt(v, x)) return x;
  if (parseReal(v, r) && std::fabs(r) < 1e15 && r == std::nearbyint(r)) return std::llround(r);
  fail(line, key + "= " + shown(v) + " is not a whole number");
}

double MwfnReader::real(const std::string& key) const {
  const auto [v, line] = value(key);
  double r = 0.0;
  if (!parseReal(v, r) || !std::isfinite(r)) fail(line, key + "= " + shown(v) + " is not a number");
  return r;
}

std::vector<double> MwfnReader::reals(const Block& b, const std::string& name) const {
  std::vector<double> v;
  for (const Line& l : b.lines)
    for (std::string_view w : numberWords(l.text)) {
      double x = 0.0;
      if (!parseReal(w, x)) fail(l.number, "$" + name + ": " + shown(w) + " is not a number");
      if (!std::isfinite(x))
        refuse(" $" + name + ": " + shown(w) + " is not finite", kCodeBadValue, l.number);
      v.push_back(x);
    }
  return v;
}

Checkpoint MwfnReader::read() {
  scan();
  Checkpoint ck;
  ck.format = FileFormat::Mwfn;
  ck.name = name_;
  ck.hasEnergy = false;
  ck.title = titleOf("", name_);
  const long long wfntype = whole("Wfntype");
  if (wfntype < 0 || wfntype > 4)
    fail(value("Wfntype").second, "Wfntype= must be 0 to 4, not " + std::to_string(wfntype));
  if (keys_.count("E_tot")) ck.totalEnergy = real("E_tot");

  // The centres: index, symbol, atomic number, nuclear charge, x, y, z in angstrom.
  const long long nat = whole("Ncenter");
  const Block& centres = block("Centers");
  if (nat < 1) fail(value("Ncenter").second, "the file has no centres");
  if (Limits::beyond(nat, limits_.atomsRead) || nat != static_cast<long long>(centres.lines.size()))
    fail(centres.line, "$Centers lists " + std::to_string(centres.lines.size()) +
                           " centres, Ncenter= " + std::to_string(nat));
  const int natoms = static_cast<int>(nat);
  ck.natoms = natoms;
  ck.atomicNumber = Vec1<int>(natoms);
  ck.nuclearCharge = Vec1<double>(natoms);
  ck.coords = Matrix(3, natoms);
  ck.sections.push_back({"[Atoms]", centres.line});
  for (int a = 1; a <= natoms; ++a) {
    const Line& l = centres.lines[static_cast<std::size_t>(a - 1)];
    const auto t = tokens(l.text);
    long long index = 0, z = 0;
    double q = 0.0;
    if (t.size() != 7 || !parseInt(t[0], index) || !parseInt(t[2], z) || !parseReal(t[3], q))
      fail(l.number,
           "a centre needs its index, symbol, atomic number, nuclear charge and x, y, z: " +
               shown(trim(l.text)));
    if (index != a)
      fail(l.number,
           "centre " + std::to_string(index) + " where " + std::to_string(a) + " is expected");
    if (z < 0 || z > kMaxElement || !(q >= 0.0 && q <= kMaxElement))
      refuse(" Atomic number " + std::to_string(z) + " or nuclear charge " + realText(q) +
                 " is outside 0.." + std::to_string(kMaxElement),
             kCodeBadValue, l.number);
    ck.atomicNumber(a) = static_cast<int>(z == 0 ? elementOfName(t[1]) : z);
    ck.nuclearCharge(a) = q;
    for (int c = 1; c <= 3; ++c) {
      double v = 0.0;
      if (!parseReal(t[static_cast<std::size_t>(c + 3)], v) || !std::isfinite(v))
        fail(l.number,
             "coordinate " + shown(t[static_cast<std::size_t>(c + 3)]) + " is not a number");
      ck.coords(c, a) = v * kBohrPerAngstrom;
    }
  }

  // The shells.
  const long long nshell = whole("Nshell");
  const long long nprimshell = whole("Nprimshell");
  const Block& types = block("Shell types");
  const Block& shellCentres = block("Shell centers");
  const Block& degrees = block("Shell contraction degrees");
  const Block& exps = block("Primitive exponents");
  const Block& coefs = block("Contraction coefficients");
  const std::vector<double> ty = reals(types, "Shell types"),
                            ce = reals(shellCentres, "Shell centers"),
                            dg = reals(degrees, "Shell contraction degrees"),
                            ex = reals(exps, "Primitive exponents"),
                            co = reals(coefs, "Contraction coefficients");
  if (nshell < 1 || static_cast<long long>(ty.size()) != nshell ||
      static_cast<long long>(ce.size()) != nshell || static_cast<long long>(dg.size()) != nshell)
    fail(types.line, "Nshell= " + std::to_string(nshell) + ", but the shell blocks hold " +
                         std::to_string(ty.size()) + ", " + std::to_string(ce.size()) + " and " +
                         std::to_string(dg.size()) + " values");
  if (static_cast<long long>(ex.size()) != nprimshell ||
      static_cast<long long>(co.size()) != nprimshell)
    fail(exps.line, "Nprimshell= " + std::to_string(nprimshell) +
                        ", but the exponents and coefficients are " + std::to_string(ex.size()) +
                        " and " + std::to_string(co.size()));
  Shells& sh = ck.shells;
  const int n = static_cast<int>(nshell);
  sh.count = n;
  sh.primitives = static_cast<int>(nprimshell);
  sh.type = Vec1<int>(n);
  sh.nprim = Vec1<int>(n);
  sh.atom = Vec1<int>(n);
  long long sum = 0, functions = 0;
  for (int s = 1; s <= n; ++s) {
    const auto k = static_cast<std::size_t>(s - 1);
    if (ty[k] != std::nearbyint(ty[k]) || ty[k] < -6 || ty[k] > 6 || ty[k] == -1)
      refuse(" Shell " + std::to_string(s) + " has type " + realText(ty[k]) +
                 " (0 s, 1 p, 2 to 6 Cartesian, -2 to -6 pure)",
             kCodeBadValue, types.line);
    if (ce[k] != std::nearbyint(ce[k]) || ce[k] < 1 || ce[k] > nat)
      refuse(" Shell " + std::to_string(s) + " is on centre " + realText(ce[k]) + ", outside 1.." +
                 std::to_string(nat),
             kCodeBadIndex, shellCentres.line);
    if (dg[k] != std::nearbyint(dg[k]) || dg[k] < 1 || dg[k] > nprimshell)
      refuse(" Shell " + std::to_string(s) + " has " + realText(dg[k]) + " primitives",
             kCodeBadIndex, degrees.line);
    sh.type(s) = static_cast<int>(ty[k]);
    sh.atom(s) = static_cast<int>(ce[k]);
    sh.nprim(s) = static_cast<int>(dg[k]);
    sum += sh.nprim(s);
    const long long l = sh.type(s) < 0 ? -sh.type(s) : sh.type(s);
    functions += sh.type(s) < 0 ? 2 * l + 1 : (l + 1) * (l + 2) / 2;
  }
  if (functions != nbasis_)
    fail(value("Nbasis").second, "the shell types give " + std::to_string(functions) +
                                     " basis functions, Nbasis= " + std::to_string(nbasis_));
  if (sum != nprimshell)
    fail(degrees.line, "the contraction degrees add up to " + std::to_string(sum) +
                           ", not Nprimshell= " + std::to_string(nprimshell));
  sh.exponent = Vec1<double>(static_cast<int>(nprimshell));
  sh.coefficient = Vec1<double>(static_cast<int>(nprimshell));
  sh.pCoefficient = Vec1<double>(static_cast<int>(nprimshell));
  for (int p = 1; p <= static_cast<int>(nprimshell); ++p) {
    sh.exponent(p) = ex[static_cast<std::size_t>(p - 1)];
    if (!(sh.exponent(p) > 0.0))
      refuse(" Exponent " + realText(sh.exponent(p)) + " is not positive", kCodeBadValue,
             exps.line);
    sh.coefficient(p) = co[static_cast<std::size_t>(p - 1)];
  }

  // The orbitals.
  const long long nbasis = nbasis_;
  if (nbasis < 1) fail(static_cast<int>(lines_.size()), "the file has no Nbasis= line");
  if (Limits::beyond(nbasis, limits_.basisFunctions))
    refuse(" Number of basis functions " + std::to_string(nbasis) + " exceeds the limit of " +
               std::to_string(limits_.basisFunctions),
           kCodeLimit, value("Nbasis").second);
  requireMemory(
      12 * Matrix::bytesFor(static_cast<int>(nbasis), static_cast<int>(nbasis)),
      std::to_string(nbasis) + " basis functions and " + std::to_string(natoms) + " atoms");
  ck.nbf = static_cast<int>(nbasis);
  if (orbitals_.empty()) fail(static_cast<int>(lines_.size()), "the file holds no orbital");
  const bool separate = wfntype == 1 || wfntype == 4;
  int na = 0, nb = 0;
  for (const MwfnOrbital& o : orbitals_) {
    if (!o.hasOccupation) fail(o.line, "the orbital has no Occ= line");
    if (static_cast<long long>(o.coefficients.size()) != nbasis)
      fail(o.line, "the orbital has no $Coeff block of Nbasis= " + std::to_string(nbasis) +
                       " coefficients");
    if (separate && o.type == 0)
      fail(o.line, "an orbital of both spins (Type= 0) in a spin-unrestricted file");
    if (!separate && o.type == 2)
      fail(o.line, "a beta orbital (Type= 2) in a spin-restricted file");
    (separate && o.type == 2 ? nb : na)++;
  }
  if (na > nbasis || nb > nbasis)
    fail(orbitals_.front().line,
         "more orbitals of one spin than the " + std::to_string(nbasis) + " basis functions");
  ck.mo = Matrix(ck.nbf, na);
  ck.occupation = Vec1<double>(na);
  if (separate) {
    ck.moBeta = Matrix(ck.nbf, nb);
    ck.occupationBeta = Vec1<double>(nb);
  }
  int ia = 0, ib = 0;
  for (const MwfnOrbital& o : orbitals_) {
    const bool beta = separate && o.type == 2;
    Matrix& m = beta ? ck.moBeta : ck.mo;
    const int j = beta ? ++ib : ++ia;
    (beta ? ck.occupationBeta : ck.occupation)(j) = o.occupation;
    for (int r = 1; r <= ck.nbf; ++r) m(r, j) = o.coefficients[static_cast<std::size_t>(r - 1)];
  }
  ck.sections.push_back({"[MO]", orbitals_.front().line});
  settleOccupations(ck, orbitals_.front().line, separate);
  return ck;
}

}  // namespace

Checkpoint readMwfn(std::string_view bytes, const std::string& name, const Limits& limits) {
  MwfnReader r(bytes, name, limits);
  return r.read();
}

}  // namespace mv
