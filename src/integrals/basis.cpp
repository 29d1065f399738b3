#include "integrals/basis.h"

#include <cmath>
#include <cstdlib>
#include <string>
#include <vector>

#include "core/angular.h"
#include "core/stop.h"

namespace mv {

namespace {

using angular::Powers;

// Shell type codes of the checkpoint file with a meaning of their own.
constexpr int kS = 0, kP = 1, kSP = -1, kPureD = -2, kPureF = -3;

// One Cartesian component of a basis function: its powers and its factor.
// The coefficient of a primitive is (mul * c) / div, c being the shell's
// contraction coefficient of that primitive: the pure d and f functions of
// the method are written with factors such as -c / sqrt(3), and forming them
// the same way keeps every overlap sum the same to the last bit.
struct Term {
  Powers p;
  double mul = 1.0;
  double div = 1.0;
};

// One basis function of a shell: its components and its place in the
// checkpoint's order of the shell's functions (0-based).
struct Function {
  std::vector<Term> terms;
  int filePos = 0;
  bool pPart = false;  // an SP shell's p function: coefficients from "P(S=P) Contraction"
};

using ShellFunctions = std::vector<Function>;

constexpr Powers xx{2, 0, 0}, yy{0, 2, 0}, zz{0, 0, 2}, xy{1, 1, 0}, xz{1, 0, 1}, yz{0, 1, 1};

// Pure d in the method's own order of functions: xz, yz, xy, xx - yy and
// (2zz - xx - yy) / sqrt(3); the checkpoint lists them as d0, d+1, d-1, d+2, d-2.
ShellFunctions pureD() {
  const double sqrt3 = std::sqrt(3.0);
  return {{{{xz}}, 1},
          {{{yz}}, 2},
          {{{xy}}, 4},
          {{{xx}, {yy, -1.0}}, 3},
          {{{xx, -1.0, sqrt3}, {yy, -1.0, sqrt3}, {zz, 2.0, sqrt3}}, 0}};
}

// Pure f in the method's own order of functions, with its combination
// factors as the method stores them (ten digits); the checkpoint lists them
// as f0, f+1, f-1, f+2, f-2, f+3, f-3.
ShellFunctions pureF() {
  constexpr double dc11 = 1.095445115;
  constexpr double dc12 = 2.449489743;
  constexpr double dc21 = 0.866025403;
  constexpr double dc41 = 0.790569415;
  constexpr double dc42 = 1.060660172;
  constexpr Powers xzz{1, 0, 2}, xxx{3, 0, 0}, xyy{1, 2, 0}, yzz{0, 1, 2}, xxy{2, 1, 0},
      yyy{0, 3, 0}, zzz{0, 0, 3}, yyz{0, 2, 1}, xxz{2, 0, 1}, xyz{1, 1, 1};
  const double sqrt5 = std::sqrt(5.0);
  return {{{{xzz, dc11}, {xxx, -(dc12 * 0.25)}, {xyy, -(dc11 * 0.25)}}, 1},  // x(4zz - xx - yy)
          {{{xxx, dc41}, {xyy, -dc42}}, 5},                                  // x(xx - 3yy)
          {{{yzz, dc11}, {xxy, -(dc11 * 0.25)}, {yyy, -(dc12 * 0.25)}}, 2},  // y(4zz - xx - yy)
          {{{xxy, dc42}, {yyy, -dc41}}, 6},                                  // y(3xx - yy)
          {{{zzz, sqrt5}, {yyz, -1.5}, {xxz, -1.5}}, 0},                     // z(2zz - 3xx - 3yy)
          {{{yyz, -dc21}, {xxz, dc21}}, 3},                                  // z(xx - yy)
          {{{xyz}}, 4}};
}

// Pure functions of l >= 4, generated, in the checkpoint's order.
ShellFunctions pureGenerated(int l) {
  const std::vector<Powers> comps = angular::cartesianOrder(l);
  const auto pure = angular::pureFunctions(l);
  ShellFunctions fs;
  for (std::size_t m = 0; m < pure.size(); ++m) {
    Function f;
    f.filePos = static_cast<int>(m);
    for (const angular::Term& t : pure[m])
      f.terms.push_back({comps[static_cast<std::size_t>(t.component)], t.coefficient, 1.0});
    fs.push_back(std::move(f));
  }
  return fs;
}

// Cartesian shell of angular momentum l (an SP shell: s and p together).
ShellFunctions cartesian(int type) {
  ShellFunctions fs;
  if (type == kSP) {
    fs.push_back({{{Powers{0, 0, 0}}}, 0, false});
    for (const Powers& p : angular::cartesianOrder(1))
      fs.push_back({{{p}}, static_cast<int>(fs.size()), true});
    return fs;
  }
  for (const Powers& p : angular::cartesianOrder(type))
    fs.push_back({{{p}}, static_cast<int>(fs.size()), false});
  return fs;
}

ShellFunctions functionsOf(int type) {
  if (type == kPureD) return pureD();
  if (type == kPureF) return pureF();
  if (type < kSP) return pureGenerated(-type);
  return cartesian(type);
}

// Cartesian components of a shell type: the blocks of the method's
// expanded primitive table (an SP shell has four).
int componentsOfType(int type) {
  if (type == kSP) return 4;
  return angular::cartesianCount(std::abs(type));
}

std::string limitMessage(const std::string& what, long long value, int limit) {
  return what + ": " + std::to_string(value) + " exceeds the limit of " + std::to_string(limit);
}

// Refusals of shell data that would index a table out of range.
void checkShells(const Shells& sh, int natoms, const Limits& limits) {
  long long rawsum = 0;
  for (int i = 1; i <= sh.count; ++i) {
    const int n = sh.nprim(i);
    if (n < 1)
      refuse("Number of primitives per shell: shell " + std::to_string(i) + " has " +
                 std::to_string(n) + ", at least 1 is needed",
             kCodeBadIndex);
    rawsum += n;
  }
  if (rawsum > sh.primitives)
    refuse("Number of primitives per shell: the sum " + std::to_string(rawsum) +
               " exceeds the number of primitive shells " + std::to_string(sh.primitives),
           kCodeBadIndex);
  for (int i = 1; i <= sh.count; ++i) {
    const int a = sh.atom(i);
    if (a < 1 || a > natoms)
      refuse("Shell to atom map: shell " + std::to_string(i) + " is on atom " + std::to_string(a) +
                 ", outside 1.." + std::to_string(natoms),
             kCodeBadIndex);
    // The functions of an atom must form one consecutive run; a return to
    // an earlier atom would give overlapping per-atom ranges.
    if (i > 1 && a < sh.atom(i - 1))
      refuse("Shell to atom map: shell " + std::to_string(i) + " returns to atom " +
                 std::to_string(a) + " after atom " + std::to_string(sh.atom(i - 1)),
             kCodeBadIndex);
  }
  long long nexp = 0;
  for (int i = 1; i <= sh.count; ++i)
    nexp += static_cast<long long>(componentsOfType(sh.type(i))) * sh.nprim(i);
  if (Limits::beyond(nexp, limits.primitives))
    refuse(limitMessage("Primitives after expansion", nexp, limits.primitives), kCodeLimit);
  for (int i = 1; i <= sh.count; ++i) {
    const int type = sh.type(i);
    const long long per = static_cast<long long>(type <= kPureD ? 3 : 1) * sh.nprim(i);
    if (Limits::beyond(per, limits.perFunction))
      refuse(limitMessage("Primitives per basis function in shell " + std::to_string(i), per,
                          limits.perFunction),
             kCodeLimit);
  }
}

// Per-atom function limits: the bounds of each atom's run of functions.  A
// later run of the same atom would overwrite them (the shell order is
// checked above, so there is none); an atom without functions keeps zeros;
// the last atom ends at the last function.
void atomLimits(Basis& b) {
  for (int a = 1; a <= b.natoms; ++a) {
    for (int k = 1; k <= b.nbf; ++k) {
      const bool here = b.atomOf(k) == a;
      const bool prevHere = k > 1 && b.atomOf(k - 1) == a;
      if (here && !prevHere) b.first(a) = k;
      if (!here && prevHere) b.last(a) = k - 1;
    }
  }
  if (b.natoms >= 1) b.last(b.natoms) = b.nbf;
}

// The command line's bounds: every atom a range, an atom without functions
// (a dummy atom) the empty range first(a) = last(a) + 1 at its place, so
// that it has no population and takes no part in any sum over functions.
void atomRanges(Basis& b) {
  int k = 0;
  for (int a = 1; a <= b.natoms; ++a) {
    b.first(a) = k + 1;
    while (k < b.nbf && b.atomOf(k + 1) == a) ++k;
    b.last(a) = k;
  }
}

}  // namespace

int functionsOfType(int type) {
  if (type == kSP) return 4;
  if (type < -6 || type > 6) return 0;
  return type < 0 ? angular::pureCount(-type) : angular::cartesianCount(type);
}

Basis expandBasis(const Shells& sh, int natoms, int nbf, const Limits& limits) {
  // A lone p shell cannot open the basis of the method's tables.
  if (limits.classic && sh.count >= 1 && sh.type(1) == kP) {
    Stop s;
    s.code = "4358";
    s.records = {" The first shell in the system must not be a pure p one",
                 "          PROGRAM STOPS"};
    throw s;
  }

  // Shell types and the number of functions they give.
  long long count = 0;
  for (int i = 1; i <= sh.count; ++i) {
    const int type = sh.type(i);
    if (type < -limits.maxL || type > limits.maxL) {
      if (limits.classic) stopPlain({" Unknown orbital type - STOP"});
      refuse(" Shell " + std::to_string(i) + " has type " + std::to_string(type) +
                 ": shells of angular momentum above " + std::to_string(limits.maxL) +
                 " are not supported. STOP",
             kCodeLimit);
    }
    count += functionsOfType(type);
  }
  if (count != nbf)
    stopCode("968", "the shell types give " + std::to_string(count) +
                        " basis functions, the file says " + std::to_string(nbf));
  if (Limits::beyond(count, limits.functions))
    refuse(limitMessage("Number of basis functions", count, limits.functions), kCodeLimit);

  // The method's tables count the primitives of a pure function from the
  // function before it, so the first function must not be pure.
  if (limits.classic && sh.count >= 1 && (sh.type(1) == kPureD || sh.type(1) == kPureF))
    stopPlain({"The first shell must not be a pure D or F one!"});
  if (nbf < 1) refuse("Number of basis functions: 0, the basis is empty", kCodeBadValue);

  checkShells(sh, natoms, limits);

  Basis b;
  b.natoms = natoms;
  b.nbf = nbf;
  b.first = Vec1<int>(natoms);
  b.last = Vec1<int>(natoms);
  b.atomOf = Vec1<int>(nbf);
  b.pfirst = Vec1<int>(nbf);
  b.plast = Vec1<int>(nbf);
  b.map = Vec1<int>(nbf);

  // Every shell's functions with their components, the primitives they own.
  std::vector<ShellFunctions> kinds(13);
  std::vector<bool> known(13, false);
  long long nprim = 0;
  for (int i = 1; i <= sh.count; ++i) {
    const int type = sh.type(i);
    b.expandedPrimitives += static_cast<long long>(componentsOfType(type)) * sh.nprim(i);
    const std::size_t slot = static_cast<std::size_t>(type + 6);
    if (!known[slot]) {
      kinds[slot] = functionsOf(type);
      known[slot] = true;
    }
    for (const Function& f : kinds[slot])
      nprim += static_cast<long long>(f.terms.size()) * sh.nprim(i);
  }
  b.expo = Vec1<double>(static_cast<int>(nprim));
  b.coeff = Vec1<double>(static_cast<int>(nprim));
  b.lx = Vec1<int>(static_cast<int>(nprim));
  b.ly = Vec1<int>(static_cast<int>(nprim));
  b.lz = Vec1<int>(static_cast<int>(nprim));

  int k = 0;   // functions so far
  int p = 0;   // primitives so far
  int j0 = 1;  // first raw primitive of the shell
  for (int i = 1; i <= sh.count; ++i) {
    const int type = sh.type(i);
    const int n = sh.nprim(i);
    const int s = k + 1;  // first function of the shell (both orders)
    for (const Function& f : kinds[static_cast<std::size_t>(type + 6)]) {
      ++k;
      b.atomOf(k) = sh.atom(i);
      b.map(k) = s + f.filePos;
      b.pfirst(k) = p + 1;
      for (const Term& t : f.terms) {
        for (int j = 1; j <= n; ++j) {
          ++p;
          const double c = f.pPart ? sh.pCoefficient(j0 + j - 1) : sh.coefficient(j0 + j - 1);
          b.expo(p) = sh.exponent(j0 + j - 1);
          b.coeff(p) = (t.mul * c) / t.div;
          b.lx(p) = t.p.x;
          b.ly(p) = t.p.y;
          b.lz(p) = t.p.z;
          const int l =
              t.p.x > t.p.y ? (t.p.x > t.p.z ? t.p.x : t.p.z) : (t.p.y > t.p.z ? t.p.y : t.p.z);
          if (l > b.maxPower) b.maxPower = l;
        }
      }
      b.plast(k) = p;
    }
    j0 += n;
  }
  if (limits.classic)
    atomLimits(b);
  else
    atomRanges(b);
  return b;
}

}  // namespace mv
