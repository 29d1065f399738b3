// Basis-set tables: the checkpoint's contracted shells expanded into basis
// functions made of Cartesian Gaussian primitives.
//
// Every shell of n raw primitives is laid out as a run of blocks, one block
// of n primitives per Cartesian component.  A Cartesian (or SP) function owns
// exactly one block.  A pure d or f function is a fixed combination of
// Cartesian components, so it spans one to three consecutive blocks, and
// neighbouring pure functions share blocks.  The functions are numbered in
// the program's own order; `map` leads to the checkpoint's order, which
// differs only inside pure shells.
#include "checkpoint/basis.h"

#include <cmath>
#include <string>

#include "driver/report.h"
#include "driver/stop.h"
#include "tables.h"

namespace mv {

namespace {

// Shell type codes of the checkpoint file.
constexpr int kS = 0, kP = 1, kSP = -1, kCartD = 2, kPureD = -2, kCartF = 3, kPureF = -3;

// Combination factors of the pure f functions, as stored (ten digits).
constexpr double dc11 = 1.095445115;
constexpr double dc12 = 2.449489743;
constexpr double dc21 = 0.866025403;
constexpr double dc41 = 0.790569415;
constexpr double dc42 = 1.060660172;

// Atom of each basis function (reader scratch).
Vec<int, kMaxFunc> fatom;

bool knownType(int type) {
  return type >= kPureF && type <= kCartF;
}

// Number of Cartesian blocks of a shell type.
int blocksOfType(int type) {
  switch (type) {
    case kPureD:
      return 6;
    case kPureF:
      return 10;
    default:
      return functionsOfType(type);
  }
}

// Largest number of blocks a single function of this shell type spans.
int blocksPerFunction(int type) {
  return (type == kPureD || type == kPureF) ? 3 : 1;
}

// Cartesian powers (lx, ly, lz) of the blocks of each shell type, in block order.
struct Powers {
  int x, y, z;
};
constexpr Powers kBlockS[] = {{0, 0, 0}};
constexpr Powers kBlockP[] = {{1, 0, 0}, {0, 1, 0}, {0, 0, 1}};
constexpr Powers kBlockSP[] = {{0, 0, 0}, {1, 0, 0}, {0, 1, 0}, {0, 0, 1}};
constexpr Powers kBlockCartD[] = {{2, 0, 0}, {0, 2, 0}, {0, 0, 2}, {1, 1, 0}, {1, 0, 1}, {0, 1, 1}};
// xz, yz, xy, xx, yy, zz
constexpr Powers kBlockPureD[] = {{1, 0, 1}, {0, 1, 1}, {1, 1, 0}, {2, 0, 0}, {0, 2, 0}, {0, 0, 2}};
// xxx, yyy, zzz, xyy, xxy, xxz, xzz, yzz, yyz, xyz
constexpr Powers kBlockCartF[] = {{3, 0, 0}, {0, 3, 0}, {0, 0, 3}, {1, 2, 0}, {2, 1, 0},
                                  {2, 0, 1}, {1, 0, 2}, {0, 1, 2}, {0, 2, 1}, {1, 1, 1}};
// xzz, xxx, xyy, yzz, xxy, yyy, zzz, yyz, xxz, xyz
constexpr Powers kBlockPureF[] = {{1, 0, 2}, {3, 0, 0}, {1, 2, 0}, {0, 1, 2}, {2, 1, 0},
                                  {0, 3, 0}, {0, 0, 3}, {0, 2, 1}, {2, 0, 1}, {1, 1, 1}};

const Powers* blockPowers(int type) {
  switch (type) {
    case kS:
      return kBlockS;
    case kP:
      return kBlockP;
    case kSP:
      return kBlockSP;
    case kCartD:
      return kBlockCartD;
    case kPureD:
      return kBlockPureD;
    case kCartF:
      return kBlockCartF;
    default:
      return kBlockPureF;
  }
}

std::string limitMessage(const std::string& what, long long value, int limit) {
  return what + ": " + std::to_string(value) + " exceeds the limit of " + std::to_string(limit);
}

// Refusals of counts the fixed tables cannot hold, and of shell data that
// would index a table out of range.  Run after the classic checks on the
// shell types and counts, before any table is filled from the shells.
void checkShells(const RawBasis& raw) {
  const int nshell = raw.nshell;
  const int natom = g.nat(1);
  long long rawsum = 0;
  for (int i = 1; i <= nshell; ++i) {
    const int n = raw.shnprim(i);
    if (n < 1) {
      refuse("Number of primitives per shell: shell " + std::to_string(i) + " has " +
                 std::to_string(n) + ", at least 1 is needed",
             kCodeBadIndex);
    }
    rawsum += n;
  }
  if (rawsum > raw.nprim) {
    refuse("Number of primitives per shell: the sum " + std::to_string(rawsum) +
               " exceeds the number of primitive shells " + std::to_string(raw.nprim),
           kCodeBadIndex);
  }
  for (int i = 1; i <= nshell; ++i) {
    const int a = raw.shatom(i);
    if (a < 1 || a > natom) {
      refuse("Shell to atom map: shell " + std::to_string(i) + " is on atom " + std::to_string(a) +
                 ", outside 1.." + std::to_string(natom),
             kCodeBadIndex);
    }
    // The functions of an atom must form one consecutive run; a return to
    // an earlier atom would give overlapping per-atom ranges.
    if (i > 1 && a < raw.shatom(i - 1)) {
      refuse("Shell to atom map: shell " + std::to_string(i) + " returns to atom " +
                 std::to_string(a) + " after atom " + std::to_string(raw.shatom(i - 1)),
             kCodeBadIndex);
    }
  }
  long long nexp = 0;
  for (int i = 1; i <= nshell; ++i)
    nexp += static_cast<long long>(blocksOfType(raw.shtype(i))) * raw.shnprim(i);
  if (nexp > kMaxPrim)
    refuse(limitMessage("Primitives after expansion", nexp, kMaxPrim), kCodeLimit);
  for (int i = 1; i <= nshell; ++i) {
    const long long per = static_cast<long long>(blocksPerFunction(raw.shtype(i))) * raw.shnprim(i);
    if (per > kMaxCont) {
      refuse(limitMessage("Primitives per basis function in shell " + std::to_string(i), per,
                          kMaxCont),
             kCodeLimit);
    }
  }
}

// Primitive ranges of the functions (provisional cont = the shell's n).
void primitiveRanges(const RawBasis& raw) {
  int k = 0;
  for (int i = 1; i <= raw.nshell; ++i) {
    const int type = raw.shtype(i);
    const int m = raw.shnprim(i);
    const int nf = functionsOfType(type);
    for (int c = 1; c <= nf; ++c) {
      ++k;
      int first = 0;
      int length = m;
      if (k == 1) {
        first = 1;
      } else if (type == kPureD) {
        if (c <= 3) {
          first = g.plast(k - 1) + 1;
        } else if (c == 4) {
          first = g.plast(k - 1) + 1;
          length = 2 * m;
        } else {
          first = g.pfirst(k - 1);
          length = 3 * m;
        }
      } else if (type == kPureF) {
        if (c == 7) {
          first = g.plast(k - 1) + 1;
        } else if (c % 2 == 1) {
          first = g.plast(k - 1) + 1;
          length = 3 * m;
        } else {
          first = g.pfirst(k - 1) + m;
          length = 2 * m;
        }
      } else {
        first = g.plast(k - 1) + 1;
      }
      g.pfirst(k) = first;
      g.plast(k) = first + length - 1;
    }
  }
}

// Per-atom function limits.  With the shells of every atom consecutive and
// in atom order (checked above), these are the bounds of each atom's run.
void atomLimits(int natom, int nbf) {
  for (int a = 1; a <= natom; ++a) {
    for (int k = 1; k <= nbf; ++k) {
      const bool here = fatom(k) == a;
      const bool prevHere = k > 1 && fatom(k - 1) == a;
      if (here && !prevHere) g.lim(a, 1) = k;
      if (!here && prevHere) g.lim(a, 2) = k - 1;
    }
  }
  if (natom >= 1) g.lim(natom, 2) = nbf;
}

// Powers of the primitives and contraction coefficients of the functions of
// shell i, whose first function is s, first expanded primitive q and first
// raw primitive j0.
void fillShell(const RawBasis& raw, int i, int s, int q, int j0) {
  const int type = raw.shtype(i);
  const int n = raw.shnprim(i);
  const Powers* pw = blockPowers(type);
  const int nb = blocksOfType(type);
  for (int t = 0; t < nb; ++t) {
    for (int j = 1; j <= n; ++j) {
      const int p = q + t * n + j - 1;
      g.lx(p) = pw[t].x;
      g.ly(p) = pw[t].y;
      g.lz(p) = pw[t].z;
    }
  }
  const double sqrt3 = std::sqrt(3.0);
  const double sqrt5 = std::sqrt(5.0);
  for (int j = 1; j <= n; ++j) {
    const double cc = raw.rawcoef(j0 + j - 1);
    switch (type) {
      case kPureD:
        g.coeff(s, j) = cc;      // xz
        g.coeff(s + 1, j) = cc;  // yz
        g.coeff(s + 2, j) = cc;  // xy
        g.coeff(s + 3, j) = cc;  // xx - yy
        g.coeff(s + 3, n + j) = -cc;
        g.coeff(s + 4, j) = -cc / sqrt3;  // (2zz - xx - yy) / sqrt(3)
        g.coeff(s + 4, n + j) = -cc / sqrt3;
        g.coeff(s + 4, 2 * n + j) = 2.0 * cc / sqrt3;
        break;
      case kPureF:
        g.coeff(s, j) = dc11 * cc;  // x (4zz - xx - yy)
        g.coeff(s, n + j) = -(dc12 * 0.25) * cc;
        g.coeff(s, 2 * n + j) = -(dc11 * 0.25) * cc;
        g.coeff(s + 1, j) = dc41 * cc;  // x (xx - 3yy)
        g.coeff(s + 1, n + j) = -dc42 * cc;
        g.coeff(s + 2, j) = dc11 * cc;  // y (4zz - xx - yy)
        g.coeff(s + 2, n + j) = -(dc11 * 0.25) * cc;
        g.coeff(s + 2, 2 * n + j) = -(dc12 * 0.25) * cc;
        g.coeff(s + 3, j) = dc42 * cc;  // y (3xx - yy)
        g.coeff(s + 3, n + j) = -dc41 * cc;
        g.coeff(s + 4, j) = sqrt5 * cc;  // z (2zz - 3xx - 3yy)
        g.coeff(s + 4, n + j) = -1.5 * cc;
        g.coeff(s + 4, 2 * n + j) = -1.5 * cc;
        g.coeff(s + 5, j) = -dc21 * cc;  // z (xx - yy)
        g.coeff(s + 5, n + j) = dc21 * cc;
        g.coeff(s + 6, j) = cc;  // xyz
        break;
      case kSP: {
        const double pc = raw.rawpcoef(j0 + j - 1);
        g.coeff(s, j) = cc;
        for (int c = 1; c <= 3; ++c) g.coeff(s + c, j) = pc;
        break;
      }
      default:
        for (int c = 0; c < nb; ++c) g.coeff(s + c, j) = cc;
        break;
    }
  }
}

}  // namespace

int functionsOfType(int type) {
  switch (type) {
    case kS:
      return 1;
    case kP:
      return 3;
    case kSP:
      return 4;
    case kCartD:
      return 6;
    case kPureD:
      return 5;
    case kCartF:
      return 10;
    case kPureF:
      return 7;
    default:
      return 1;
  }
}

void buildBasis(const RawBasis& raw) {
  const int nshell = raw.nshell;
  const int natom = g.nat(1);
  const int nbf = g.nat(2);

  // The reader's own tables bound what can be expanded.
  if (nshell > kMaxShell)
    refuse(limitMessage("Number of contracted shells", nshell, kMaxShell), kCodeLimit);
  if (raw.nprim > kMaxRawPrim)
    refuse(limitMessage("Number of primitive shells", raw.nprim, kMaxRawPrim), kCodeLimit);
  if (natom > kMaxAtomRead)
    refuse(limitMessage("Number of atoms", natom, kMaxAtomRead), kCodeLimit);

  // A lone p shell cannot open the basis.
  if (nshell >= 1 && raw.shtype(1) == kP) {
    writeFree({Item(" The first shell in the system must not be a pure p one")});
    writeFree({Item("          PROGRAM STOPS")});
    stopCode("4358");
  }

  // Shell types and the number of functions they give.
  long long count = 0;
  for (int i = 1; i <= nshell; ++i) {
    if (!knownType(raw.shtype(i))) {
      writeFree({Item(" Unknown orbital type - STOP")});
      stopPlain();
    }
    count += functionsOfType(raw.shtype(i));
  }
  if (count != nbf) stopCode("968");
  if (count > kMaxFunc)
    refuse(limitMessage("Number of basis functions", count, kMaxFunc), kCodeLimit);

  // The first function must be an s, p or Cartesian one: the ranges of pure
  // functions are counted from the function before them.
  if (nshell >= 1 && (raw.shtype(1) == kPureD || raw.shtype(1) == kPureF)) {
    writeFree({Item("The first shell must not be a pure D or F one!")});
    stopPlain();
  }
  if (nbf < 1) refuse("Number of basis functions: 0, the basis is empty", kCodeBadValue);

  checkShells(raw);

  // Function list: provisional cont (the shell's n) and the owning atom.
  {
    int k = 0;
    for (int i = 1; i <= nshell; ++i) {
      for (int c = 1; c <= functionsOfType(raw.shtype(i)); ++c) {
        ++k;
        g.cont(k) = raw.shnprim(i);
        fatom(k) = raw.shatom(i);
      }
    }
  }

  primitiveRanges(raw);

  // Exponents: every block of a shell repeats the shell's raw exponents.
  int q = 1;
  int j0 = 1;
  for (int i = 1; i <= nshell; ++i) {
    const int n = raw.shnprim(i);
    const int nb = blocksOfType(raw.shtype(i));
    for (int t = 0; t < nb; ++t)
      for (int j = 1; j <= n; ++j) g.expo(q + t * n + j - 1) = raw.rawexp(j0 + j - 1);
    q += nb * n;
    j0 += n;
  }
  g.nat(3) = q - 1;
  if (g.plast(nbf) != g.nat(3)) stopCode("7865");

  atomLimits(natom, nbf);

  // Powers and coefficients, shell by shell.
  q = 1;
  j0 = 1;
  int s = 1;
  for (int i = 1; i <= nshell; ++i) {
    fillShell(raw, i, s, q, j0);
    const int n = raw.shnprim(i);
    q += blocksOfType(raw.shtype(i)) * n;
    j0 += n;
    s += functionsOfType(raw.shtype(i));
  }

  // Order map: the checkpoint lists pure d as d0, d+1, d-1, d+2, d-2 and
  // pure f as f0, f+1, f-1, f+2, f-2, f+3, f-3.
  for (int k = 1; k <= nbf; ++k) g.map(k) = k;
  s = 1;
  for (int i = 1; i <= nshell; ++i) {
    const int type = raw.shtype(i);
    if (type == kPureD) {
      static constexpr int kD[5] = {1, 2, 4, 3, 0};
      for (int c = 0; c < 5; ++c) g.map(s + c) = s + kD[c];
    } else if (type == kPureF) {
      static constexpr int kF[7] = {1, 5, 2, 6, 0, 3, 4};
      for (int c = 0; c < 7; ++c) g.map(s + c) = s + kF[c];
    }
    s += functionsOfType(type);
  }

  // Final counts: the length of each function's primitive range.
  s = 1;
  for (int i = 1; i <= nshell; ++i) {
    const int type = raw.shtype(i);
    if (type == kPureD) {
      g.cont(s + 3) *= 2;
      g.cont(s + 4) *= 3;
    } else if (type == kPureF) {
      for (int c = 0; c < 6; ++c) g.cont(s + c) *= (c % 2 == 0) ? 3 : 2;
    }
    s += functionsOfType(type);
  }
}

}  // namespace mv
