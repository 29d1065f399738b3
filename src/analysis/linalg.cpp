// Dense products for the bond-order analysis.
//
// Every element of C is its own sum over k, one rounding per product and one
// per addition, in ascending k.  The products are blocked for the caches:
//  - C is cut into column panels, one task each, shared out among threads;
//  - k runs in blocks of kKC, in ascending order for every element: the
//    first block starts each sum at zero, every later one reloads the
//    partial sums from C and goes on adding to them;
//  - per k block, a panel of B (kKC by up to kNCMax columns) is packed in
//    groups of as many columns as a register tile has, and for each block of
//    kMC rows of A the block of A is packed in groups of as many rows; the
//    register kernel then accumulates a tile of C, one element per register
//    lane, while k runs through the block.
// The tile is 12 by 4 in vectors of four lanes (AVX2 and baseline), 24 by 8
// in vectors of eight (AVX-512): 12 of the 16 or 24 of the 32 vector
// registers hold sums.  The shape decides only which lane of which register
// holds a sum, never the order of its terms.
// Rows and columns beyond n in the packed panels are zero, and results for
// them are thrown away, so every size goes through the same kernel.
//
// Terms too small to change a sum are not added (see skippable() for why
// the result is the same to the last bit).  Each packed k block is cut into
// sub-blocks of kKS values of k.  Packing notes the largest magnitude of
// each sub-block of a group of A and of B; when those say that a sub-block's
// terms are far smaller than the terms already added to a tile, the
// register kernel compares each partial sum in its registers with the
// largest term the sub-block could add to it (from the largest factor of its
// row and of its column, and the masks of their non-zero factors), and
// passes over the sub-block if none of the sums can change.  Matrices whose
// far-apart blocks hold tiny numbers (molecules far from each other) lose
// most of their tiny-by-tiny products after the large ones this way, and
// with them much of the subnormal arithmetic, which the processor does in
// microcode.
//
// The tiny terms before the first large one of a sum are still added.  They
// may be left out only if their total T is washed out by that large term p,
// |p| >= 2^54 |T|, for every sum of the tile, and which term of a sum is its
// first non-zero one is known only once its products are formed; bounds per
// row and column cannot promise it.  Between molecules far apart the sums
// are themselves tiny, their terms spread over hundreds of powers of ten, so
// a start that is tiny beside the largest terms a tile may get is often not
// tiny beside the first term of one of its sums.  A scheme that left such
// starts out, checked each lane's first large term afterwards and computed
// the tile afresh when the check failed was tried: the check failed in half
// the tiles of W W that had left a start out and in all of those of P S,
// and both products got slower.
#include "analysis/linalg.h"

#include <algorithm>
#include <cstddef>
#include <cstdlib>
#include <memory>
#include <new>
#include <vector>

namespace mv {

namespace {

typedef double v4 __attribute__((vector_size(32)));  // four lanes, one element each
typedef double v8 __attribute__((vector_size(64)));  // eight lanes
// The bits of either, for magnitudes and flags.  Flags are formed with
// shifts and additions rather than comparisons: the AVX-512 foundation set
// has no instruction that turns a comparison's mask into a vector.
typedef unsigned long long i4 __attribute__((vector_size(32)));
typedef unsigned long long i8 __attribute__((vector_size(64)));
template <typename V>
struct BitsOf;
template <>
struct BitsOf<v4> {
  using type = i4;
};
template <>
struct BitsOf<v8> {
  using type = i8;
};
// Signed, for the largest of magnitudes (below 2^63), which AVX2 compares
// only as signed numbers.
typedef long long s4 __attribute__((vector_size(32)));
typedef long long s8 __attribute__((vector_size(64)));
template <typename V>
struct SignedBitsOf;
template <>
struct SignedBitsOf<v4> {
  using type = s4;
};
template <>
struct SignedBitsOf<v8> {
  using type = s8;
};

// A register tile of Vecs vectors V per column (Rows rows) by Cols columns.
template <typename V, int Vecs, int Cols>
struct Tile {
  using Vec = V;
  static constexpr int kLanes = static_cast<int>(sizeof(V) / sizeof(double));
  static constexpr int kVecs = Vecs;
  static constexpr int kRows = kLanes * Vecs;
  static constexpr int kCols = Cols;
};
using NarrowTile = Tile<v4, 3, 4>;  // 12 by 4
using WideTile = Tile<v8, 3, 8>;    // 24 by 8

constexpr int kKC = 256;  // k block
constexpr int kKS = 64;   // sub-block of k, the unit of skipping
constexpr int kSubBlocks = kKC / kKS;
constexpr int kMC = 120;         // rows of a packed block of A (L2), whole tiles of either shape
constexpr int kNCMax = 512;      // most columns of a packed panel of B (L2)
constexpr int kColumnGroup = 8;  // panels of C are cut in multiples of this (either shape)
static_assert(kMC % NarrowTile::kRows == 0 && kMC % WideTile::kRows == 0);
static_assert(kColumnGroup % NarrowTile::kCols == 0 && kColumnGroup % WideTile::kCols == 0);
static_assert(kKC % kKS == 0 && kKS <= 64);  // a bit per k in a mask
// A group of B is one vector wide: its lane maxima are one vector per sub-block.
static_assert(NarrowTile::kCols == NarrowTile::kLanes && WideTile::kCols == WideTile::kLanes);

// Scratch of one task, on cache lines.
struct Buffer {
  double* p = nullptr;
  explicit Buffer(std::size_t count)
      : p(static_cast<double*>(::operator new[](count * sizeof(double), std::align_val_t(64)))) {}
  ~Buffer() { ::operator delete[](p, std::align_val_t(64)); }
  Buffer(const Buffer&) = delete;
  Buffer& operator=(const Buffer&) = delete;
};

// Bounds of magnitudes as powers of two, in integers: the bounds are often
// subnormal, and floating-point arithmetic on subnormals costs a microcode
// assist per instruction.  The code of a double x >= 0 is max(E, 1), E the
// biased exponent field of x, so that x < 2^(code - 1022); 4096 stands for
// a NaN or an infinity among the values bounded.
constexpr long long kCodeNonFinite = 4096;

// The codes (see kCodeNonFinite) of the lane maxima of kk <= 64 rows of W
// doubles at p (W a multiple of the lanes of V): code[x] that of the
// largest |p[k W + x]|, and bit k of nz[x] set unless p[k W + x] is zero;
// returns the largest code.  The magnitudes are compared as integers: for
// doubles without sign their bits order as their values do, with the
// infinity above every finite value and every NaN above the infinity.
template <typename V, int W>
MV_INLINE_KERNEL long long laneCodes(const double* p, int kk, long long* code, long long* nz) {
  using I = typename BitsOf<V>::type;
  constexpr int kL = static_cast<int>(sizeof(V) / sizeof(double)), kV = W / kL;
  static_assert(W % kL == 0);
  const I magnitude = I{} + 0x7fffffffffffffffULL;
  // The largest magnitude (its bits) and the non-zero bits.
  I top[kV], bits[kV];
  for (int q = 0; q < kV; ++q) top[q] = bits[q] = I{};
  for (int k = 0; k < kk; ++k, p += W) {
    for (int q = 0; q < kV; ++q) {
      I x;
      __builtin_memcpy(&x, p + kL * q, sizeof(I));
      x &= magnitude;
      top[q] = x > top[q] ? x : top[q];
      bits[q] |= ((x + magnitude) >> 63) << k;
    }
  }
  long long most = 1;
  for (int q = 0; q < kV; ++q) {
    unsigned long long t[kL];
    long long c[kL];
    __builtin_memcpy(t, &top[q], sizeof t);
    for (int l = 0; l < kL; ++l) {
      c[l] = t[l] >= 0x7ff0000000000000ULL ? kCodeNonFinite
                                           : std::max(static_cast<long long>(t[l] >> 52), 1LL);
      most = std::max(most, c[l]);
    }
    __builtin_memcpy(code + kL * q, c, sizeof c);
    __builtin_memcpy(nz + kL * q, &bits[q], sizeof(I));
  }
  return most;
}

// Whether adding the terms of one sub-block to the sums of a register tile
// leaves every sum as it is, so that the sub-block may be passed over.
// acode[r] and bcode[jj] are the codes of the largest magnitudes of A'(r,k)
// and of B'(k,jj) over the sub-block; bit k of anz[r] (bnz[jj]) is set
// unless A'(r,k0+k) (B'(k0+k,jj)) is zero.
//
// Why passing over is exact.  Let s be the partial sum of lane (r, jj), not
// a NaN, and p any of its terms in the sub-block, p = fl(A'(r,k) B'(k,jj)).
//  - If the row and column have no non-zero factor at the same k (a NaN or
//    an infinity counts as non-zero), p = 0 x = +-0 with x finite.
//  - Otherwise let c = acode[r] + bcode[jj] (below 4096 when the factors
//    are finite) and m = c - 2044: |A'(r,k) B'(k,jj)| < 2^m exactly.  If
//    m <= -1075, that is below half the least positive double, and p = +-0.
//    Else rounding is monotonic, so |p| <= 2^m when 2^m is a double (when
//    it is not, m > 1023 and the condition below cannot hold).
// A term +-0 leaves s as it is: a sum is never -0 (it starts at +0, and
// round-to-nearest gives -0 only for -0 + -0), and s + +-0 = s otherwise.
// Else suppose the exponent field E of s is at least c - 967 = m + 1077
// (then E >= 3 and s is normal or infinite; if infinite, s + p = s):
//    2^e <= |s| < 2^(e+1) with e = E - 1023 >= m + 54, one ulp of s is
//    2^(e-52), and |p| <= 2^m <= 2^(e-54), a quarter ulp.  If |s| is not a
//    power of two its neighbours lie a whole ulp away on either side, and
//    if |s| = 2^e the one toward zero lies half an ulp away; either way s + p
//    is no nearer a neighbour than s, and a tie goes to s, whose significand
//    is even (it is 1.0 when |s| is a power of two, and a tie at a quarter
//    ulp cannot happen otherwise).  So s + p rounds to s.
// So the first term's addition returns s, the hypothesis holds unchanged for
// the next term, and so on through the sub-block: every addition returns s,
// and leaving them out gives the same bits.  A NaN sum is never passed over
// (which NaN a sum of NaNs gives is not for this to decide).
template <typename T>
MV_INLINE_KERNEL bool skippable(const double* sums, const long long* acode, const long long* bcode,
                                const long long* anz, const long long* bnz) {
  using V = typename T::Vec;
  using I = typename BitsOf<V>::type;
  constexpr int kL = T::kLanes, kV = T::kVecs, kN = T::kCols;
  const I magnitude = I{} + 0x7fffffffffffffffULL;
  const I infinity = I{} + 0x7ff0000000000000ULL;
  I ac[kV], an[kV];
  for (int q = 0; q < kV; ++q) {
    __builtin_memcpy(&ac[q], acode + kL * q, sizeof(I));
    __builtin_memcpy(&an[q], anz + kL * q, sizeof(I));
  }
  // Per lane 1 if the lane may change: a NaN sum, or a term at some k and
  // an exponent field below the bound (the sign bit of a difference).
  I change = I{};
  for (int jj = 0; jj < kN; ++jj) {
    const I bc = I{} + static_cast<unsigned long long>(bcode[jj] - 967);
    const I bn = I{} + static_cast<unsigned long long>(bnz[jj]);
    for (int q = 0; q < kV; ++q) {
      I bits;
      __builtin_memcpy(&bits, sums + jj * T::kRows + kL * q, sizeof bits);
      bits &= magnitude;
      const I small = ((bits >> 52) - (ac[q] + bc)) >> 63;
      const I both = an[q] & bn;
      const I terms = (((both | (both >> 1)) & magnitude) + magnitude) >> 63;
      const I nan = (infinity - bits) >> 63;
      change |= (small & terms) | nan;
    }
  }
  unsigned long long any = change[0];
  for (int l = 1; l < kL; ++l) any |= change[l];
  return any == 0;
}

// The bounds of the terms of one tile, per sub-block s: the codes of the
// largest factors of the tile's rows of A' at aTop[s] and of its columns of
// B' at bTop[s], noted by packing; the codes of each lane's largest factor
// at aCode[s * kRows] and bCode[s * kCols] and the lanes' masks of non-zero
// factors at aNz[s * kRows] and bNz[s * kCols], noted when a check first
// needs them (aNoted[s], bNoted[s]), since most sub-blocks of most products
// are never checked and every group of A is packed once per panel.
struct TileMarks {
  const long long *aTop, *bTop;
  long long *aCode, *aNz, *bCode, *bNz;
  char *aNoted, *bNoted;
};

// What a tile carries from one k block to the next: the largest code of the
// terms of the sub-blocks added so far (0 before the first; the code of a
// sub-block's terms is the sum of the codes of the largest factors of its
// rows of A' and of its columns of B'), and that of the last sub-block that
// could not be passed over.
struct TileState {
  long long added, refused;
};
// Once something has been added, a sub-block is checked when the code of
// its terms has fallen this far (in powers of two) below those added, and
// this far below that of the last sub-block refused.
constexpr long long kFallToCheck = 40;
constexpr long long kFallToRecheck = 4;
constexpr long long kNothingRefused = 1LL << 40;

// C tile (leading dimension ldc) += packed A tile times packed B tile over
// kc values of k; with `first` the sums start at zero instead.  Sub-blocks
// that cannot change any sum of the tile are passed over.
template <typename T>
MV_INLINE_KERNEL void registerTile(double* c, std::ptrdiff_t ldc, const double* ap,
                                   const double* bp, int kc, bool first, const TileMarks& m,
                                   TileState& st) {
  using V = typename T::Vec;
  constexpr int kL = T::kLanes, kV = T::kVecs, kN = T::kCols, kR = T::kRows;
  V acc[kN][kV];
  for (int jj = 0; jj < kN; ++jj)
    for (int q = 0; q < kV; ++q) {
      if (first)
        acc[jj][q] = V{};
      else
        __builtin_memcpy(&acc[jj][q], c + jj * ldc + kL * q, sizeof(V));
    }
  for (int s = 0, k0 = 0; k0 < kc; ++s, k0 += kKS) {
    const int kk = std::min(kKS, kc - k0);
    const long long top = m.aTop[s] + m.bTop[s];
    // Before anything is added every sum is +0, and only a sub-block whose
    // lanes have no term but +-0 can go: one whose rows or columns are all
    // (nearly) zero, or whose terms all round to zero.
    const bool start = st.added == 0 && (m.aTop[s] == 1 || m.bTop[s] == 1 || top <= 969);
    if (__builtin_expect(start || (st.added != 0 && top + kFallToCheck <= st.added &&
                                   top + kFallToRecheck <= st.refused),
                         0)) {
      if (!m.aNoted[s]) {
        laneCodes<V, kR>(ap, kk, m.aCode + s * kR, m.aNz + s * kR);
        m.aNoted[s] = 1;
      }
      if (!m.bNoted[s]) {
        laneCodes<V, kN>(bp, kk, m.bCode + s * kN, m.bNz + s * kN);
        m.bNoted[s] = 1;
      }
      // The sums go through memory here, so that the compiler keeps them in
      // registers everywhere else.
      alignas(64) double sums[kN * kR];
      for (int jj = 0; jj < kN; ++jj)
        for (int q = 0; q < kV; ++q)
          __builtin_memcpy(sums + jj * kR + kL * q, &acc[jj][q], sizeof(V));
      if (skippable<T>(sums, m.aCode + s * kR, m.bCode + s * kN, m.aNz + s * kR, m.bNz + s * kN)) {
        ap += kk * kR;
        bp += kk * kN;
        continue;
      }
      st.refused = top;
    }
    for (int k = 0; k < kk; ++k, ap += kR, bp += kN) {
      V av[kV];
      for (int q = 0; q < kV; ++q) __builtin_memcpy(&av[q], ap + kL * q, sizeof(V));
      for (int jj = 0; jj < kN; ++jj) {
        const double f = bp[jj];
        for (int q = 0; q < kV; ++q) acc[jj][q] += av[q] * f;
      }
    }
    if (top > st.added) {
      // The sums may have grown: what was refused may pass now.
      st.added = top;
      st.refused = kNothingRefused;
    }
  }
  for (int jj = 0; jj < kN; ++jj)
    for (int q = 0; q < kV; ++q) __builtin_memcpy(c + jj * ldc + kL * q, &acc[jj][q], sizeof(V));
}

// The same for a tile cut short by the edge of C (mr rows, nr columns).
template <typename T>
MV_INLINE_KERNEL void edgeTile(double* c, std::ptrdiff_t ldc, int mr, int nr, const double* ap,
                               const double* bp, int kc, bool first, const TileMarks& m,
                               TileState& st) {
  alignas(64) double t[T::kCols * T::kRows] = {};
  if (!first)
    for (int jj = 0; jj < nr; ++jj)
      for (int r = 0; r < mr; ++r) t[jj * T::kRows + r] = c[jj * ldc + r];
  registerTile<T>(t, T::kRows, ap, bp, kc, first, m, st);
  for (int jj = 0; jj < nr; ++jj)
    for (int r = 0; r < mr; ++r) c[jj * ldc + r] = t[jj * T::kRows + r];
}

// The operands of one product.  Scaled: A'(i,k) = A(i,k) w(k) (rounded
// once, as in the sum), else A' = A.  Transposed: B'(k,j) = B(j,k), else B'= B.
struct Operands {
  MatView c, a, b;
  const double* w;
  int n;
  bool scaled, transposed;
};

// The bounds of the terms (see TileMarks) for the groups of the packed
// blocks of A and B: group t of A at aCode[(t * kSubBlocks + s) * kRows],
// aNz alike, aTop[t * kSubBlocks + s] and aNoted alike; group q of B alike.
struct Marks {
  long long *aTop, *aCode, *aNz, *bTop, *bCode, *bNz;
  char *aNoted, *bNoted;
  TileState* state;  // per tile of the panel
};

// The code of the largest magnitude among kk rows of W doubles at p (W a
// multiple of the lanes of V).
template <typename V, int W>
MV_INLINE_KERNEL long long topCode(const double* p, int kk) {
  using S = typename SignedBitsOf<V>::type;
  constexpr int kL = static_cast<int>(sizeof(V) / sizeof(double));
  const S magnitude = S{} + 0x7fffffffffffffffLL;
  S top = S{};
  for (int x = 0; x < kk * W; x += kL) {
    S bits;
    __builtin_memcpy(&bits, p + x, sizeof bits);
    bits &= magnitude;
    top = bits > top ? bits : top;
  }
  long long most = 0;
  for (int l = 0; l < kL; ++l) most = std::max(most, static_cast<long long>(top[l]));
  return most >= 0x7ff0000000000000LL ? kCodeNonFinite : std::max(most >> 52, 1LL);
}

// Pack A'(i0 .. i0+mc-1, k0 .. k0+kc-1) in groups of R = T::kRows rows:
// group t holds A'(i0 + Rt + r, k0 + k) at [t*R*kc + k*R + r]; note the code
// of each sub-block's largest magnitude, but none of the lanes' bounds yet.
template <typename T>
MV_INLINE_KERNEL void packA(const Operands& o, double* ap, int i0, int mc, int k0, int kc,
                            const Marks& m) {
  using V = typename T::Vec;
  using S = typename SignedBitsOf<V>::type;
  constexpr int R = T::kRows, kL = T::kLanes, kV = T::kVecs;
  const S magnitude = S{} + 0x7fffffffffffffffLL;
  for (int t0 = 0; t0 < mc; t0 += R) {
    const int mr = std::min(R, mc - t0);
    const int t = t0 / R;
    double* dst = ap + static_cast<std::ptrdiff_t>(t0) * kc;
    for (int s = 0, kb = 0; kb < kc; ++s, kb += kKS) {
      const int ke = std::min(kc, kb + kKS);
      // The largest magnitude of the sub-block, for its code at aTop.
      long long most = 0;
      if (mr == R) {
        S top = S{};
        for (int k = kb; k < ke; ++k, dst += R) {
          const double* src = o.a.col(k0 + k) + (i0 - 1 + t0);
          const double wk = o.scaled ? o.w[k0 + k - 1] : 1.0;
          for (int q = 0; q < kV; ++q) {
            V x;
            __builtin_memcpy(&x, src + kL * q, sizeof x);
            if (o.scaled) x = x * wk;
            __builtin_memcpy(dst + kL * q, &x, sizeof x);
            const S bits = reinterpret_cast<S>(x) & magnitude;
            top = bits > top ? bits : top;
          }
        }
        for (int l = 0; l < kL; ++l) most = std::max(most, static_cast<long long>(top[l]));
      } else {
        for (int k = kb; k < ke; ++k, dst += R) {
          const double* src = o.a.col(k0 + k) + (i0 - 1 + t0);
          for (int r = 0; r < mr; ++r) {
            const double x = o.scaled ? src[r] * o.w[k0 + k - 1] : src[r];
            dst[r] = x;
            long long bits;
            __builtin_memcpy(&bits, &x, sizeof bits);
            most = std::max(most, bits & 0x7fffffffffffffffLL);
          }
          for (int r = mr; r < R; ++r) dst[r] = 0.0;
        }
      }
      m.aTop[t * kSubBlocks + s] =
          most >= 0x7ff0000000000000LL ? kCodeNonFinite : std::max(most >> 52, 1LL);
      m.aNoted[t * kSubBlocks + s] = 0;
    }
  }
}

// Pack B'(k0 .. k0+kc-1, j0 .. j0+nc-1) in groups of N = T::kCols columns:
// group q holds B'(k0 + k, j0 + Nq + jj) at [q*N*kc + k*N + jj]; note the
// code of each sub-block's largest magnitude, but none of the lanes' bounds
// yet.
template <typename T>
MV_INLINE_KERNEL void packB(const Operands& o, double* bp, int k0, int kc, int j0, int nc,
                            const Marks& m) {
  constexpr int N = T::kCols;
  for (int q0 = 0; q0 < nc; q0 += N) {
    const int nr = std::min(N, nc - q0);
    double* dst = bp + static_cast<std::ptrdiff_t>(q0) * kc;
    if (o.transposed) {
      for (int k = 0; k < kc; ++k, dst += N) {
        const double* src = o.b.col(k0 + k) + (j0 - 1 + q0);
        for (int jj = 0; jj < nr; ++jj) dst[jj] = src[jj];
        for (int jj = nr; jj < N; ++jj) dst[jj] = 0.0;
      }
    } else {
      const double* src[N];
      for (int jj = 0; jj < N; ++jj) src[jj] = o.b.col(j0 + q0 + std::min(jj, nr - 1)) + (k0 - 1);
      for (int k = 0; k < kc; ++k, dst += N) {
        for (int jj = 0; jj < nr; ++jj) dst[jj] = src[jj][k];
        for (int jj = nr; jj < N; ++jj) dst[jj] = 0.0;
      }
    }
    const int q = q0 / N;
    for (int s = 0, kb = 0; kb < kc; ++s, kb += kKS) {
      m.bTop[q * kSubBlocks + s] = topCode<typename T::Vec, N>(
          bp + static_cast<std::ptrdiff_t>(q0) * kc + kb * N, std::min(kKS, kc - kb));
      m.bNoted[q * kSubBlocks + s] = 0;
    }
  }
}

// Columns j0 .. j1 of C, all rows, all k, in tiles of shape T.
template <typename T>
MV_INLINE_KERNEL void productPanelOf(const Operands& o, int j0, int j1, double* ap, double* bp,
                                     int ncMax, const Marks& m) {
  constexpr int kR = T::kRows, kN = T::kCols;
  const int n = o.n;
  const int rowTiles = (n + kR - 1) / kR;
  for (int jc = j0; jc <= j1; jc += ncMax) {
    const int nc = std::min(ncMax, j1 - jc + 1);
    for (int k0 = 1; k0 <= n; k0 += kKC) {
      const int kc = std::min(kKC, n - k0 + 1);
      const bool first = k0 == 1;
      packB<T>(o, bp, k0, kc, jc, nc, m);
      for (int i0 = 1; i0 <= n; i0 += kMC) {
        const int mc = std::min(kMC, n - i0 + 1);
        packA<T>(o, ap, i0, mc, k0, kc, m);
        for (int q0 = 0; q0 < nc; q0 += kN) {
          const int nr = std::min(kN, nc - q0);
          const double* bq = bp + static_cast<std::ptrdiff_t>(q0) * kc;
          const int q = q0 / kN;
          for (int t0 = 0; t0 < mc; t0 += kR) {
            const int mr = std::min(kR, mc - t0);
            const int t = t0 / kR;
            const double* at = ap + static_cast<std::ptrdiff_t>(t0) * kc;
            double* ct = o.c.col(jc + q0) + (i0 - 1 + t0);
            const TileMarks tm{m.aTop + t * kSubBlocks,       m.bTop + q * kSubBlocks,
                               m.aCode + t * kSubBlocks * kR, m.aNz + t * kSubBlocks * kR,
                               m.bCode + q * kSubBlocks * kN, m.bNz + q * kSubBlocks * kN,
                               m.aNoted + t * kSubBlocks,     m.bNoted + q * kSubBlocks};
            TileState& st = m.state[q * rowTiles + (i0 - 1 + t0) / kR];
            if (first) st = TileState{0, 0};
            if (mr == kR && nr == kN)
              registerTile<T>(ct, o.c.ld, at, bq, kc, first, tm, st);
            else
              edgeTile<T>(ct, o.c.ld, mr, nr, at, bq, kc, first, tm, st);
          }
        }
      }
    }
  }
}

// Columns j0 .. j1 of C (ap: kMC * kKC, bp: ncMax rounded up to a multiple
// of kColumnGroup, times kKC; m: see MarkSpace).
#if MV_KERNELS_AVX512
MV_AVX512_KERNEL void productPanel(const Operands& o, int j0, int j1, double* ap, double* bp,
                                   int ncMax, const Marks& m) {
  productPanelOf<WideTile>(o, j0, j1, ap, bp, ncMax, m);
}
#endif
#if MV_KERNELS_AVX2
MV_AVX2_KERNEL void productPanel(const Operands& o, int j0, int j1, double* ap, double* bp,
                                 int ncMax, const Marks& m) {
  productPanelOf<NarrowTile>(o, j0, j1, ap, bp, ncMax, m);
}
#endif
#if MV_KERNELS_BASELINE
MV_BASELINE_KERNEL void productPanel(const Operands& o, int j0, int j1, double* ap, double* bp,
                                     int ncMax, const Marks& m) {
  productPanelOf<NarrowTile>(o, j0, j1, ap, bp, ncMax, m);
}
#endif

// Room for the marks of a panel of at most ncMax columns of an order n
// product, for either tile shape: lane maxima and masks of kMC rows and of
// ncMax columns per sub-block, group maxima of as many groups as the narrow
// tiles make, and a bound per tile.
class MarkSpace {
 public:
  MarkSpace(int n, int ncMax)
      : aLanes_(kMC * kSubBlocks),
        bLanes_(static_cast<std::size_t>(ncMax) * kSubBlocks),
        codes_(2 * (aLanes_ + bLanes_) + (aLanes_ + bLanes_) / NarrowTile::kCols),
        noted_((aLanes_ + bLanes_) / NarrowTile::kCols),
        state_(static_cast<std::size_t>((n + NarrowTile::kRows - 1) / NarrowTile::kRows) *
               static_cast<std::size_t>((ncMax + NarrowTile::kCols - 1) / NarrowTile::kCols)) {}
  Marks marks() {
    Marks m{};
    m.aCode = codes_.data();
    m.aNz = m.aCode + aLanes_;
    m.bCode = m.aNz + aLanes_;
    m.bNz = m.bCode + bLanes_;
    m.bTop = m.bNz + bLanes_;
    m.aTop = m.bTop + bLanes_ / NarrowTile::kCols;
    m.aNoted = noted_.data();
    m.bNoted = m.aNoted + aLanes_ / NarrowTile::kCols;
    m.state = state_.data();
    return m;
  }

 private:
  std::size_t aLanes_, bLanes_;
  std::vector<long long> codes_;
  std::vector<char> noted_;
  std::vector<TileState> state_;
};

// Orders below this are computed on the calling thread alone.
constexpr int kThreadedProduct = 96;

void product(const Operands& o, const Parallel& par) {
  const int n = o.n;
  if (n <= 0) return;
  // Column panels: about two per thread, in whole groups of kColumnGroup, at
  // most kNCMax wide.  Each panel packs all of A once per k block, so fewer, wider
  // panels repack less.
  const int threads = n < kThreadedProduct ? 1 : par.maxThreads();
  int width = (n + 2 * threads - 1) / (2 * threads);
  if (threads == 1) width = n;
  width = std::min(kNCMax, (width + kColumnGroup - 1) / kColumnGroup * kColumnGroup);
  const int panels = (n + width - 1) / width;
  const int ncMax = width;
  auto panel = [&](int p) {
    const Buffer ap(static_cast<std::size_t>(kMC) * kKC);
    const Buffer bp(static_cast<std::size_t>(ncMax) * kKC);
    MarkSpace marks(n, ncMax);
    const int j0 = 1 + p * width;
    productPanel(o, j0, std::min(n, j0 + width - 1), ap.p, bp.p, ncMax, marks.marks());
  };
  if (threads == 1) {
    for (int p = 0; p < panels; ++p) panel(p);
  } else {
    par.run(panels, panel);
  }
}

}  // namespace

MV_KERNELS_ENTRY_BEGIN

void matmul(MatView c, MatView a, MatView b, int n, const Parallel& par) {
  product(Operands{c, a, b, nullptr, n, false, false}, par);
}

// C(i,j) = sum over k of (U(i,k) w(k)) U^T(k,j): the rows of U are scaled by
// w as they are packed, and the columns of U^T are packed from the rows of U.
void spectral(MatView c, MatView u, const double* w, int n, const Parallel& par) {
  product(Operands{c, u, u, w, n, true, true}, par);
}

MV_KERNELS_ENTRY_END

}  // namespace mv
