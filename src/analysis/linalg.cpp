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
#include "analysis/linalg.h"

#include <algorithm>
#include <cstddef>
#include <cstdlib>
#include <memory>
#include <new>

namespace mv {

namespace {

typedef double v4 __attribute__((vector_size(32)));  // four lanes, one element each
typedef double v8 __attribute__((vector_size(64)));  // eight lanes

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

constexpr int kKC = 256;         // k block
constexpr int kMC = 120;         // rows of a packed block of A (L2), whole tiles of either shape
constexpr int kNCMax = 512;      // most columns of a packed panel of B (L2)
constexpr int kColumnGroup = 8;  // panels of C are cut in multiples of this (either shape)
static_assert(kMC % NarrowTile::kRows == 0 && kMC % WideTile::kRows == 0);
static_assert(kColumnGroup % NarrowTile::kCols == 0 && kColumnGroup % WideTile::kCols == 0);

// Scratch of one task, on cache lines.
struct Buffer {
  double* p = nullptr;
  explicit Buffer(std::size_t count)
      : p(static_cast<double*>(::operator new[](count * sizeof(double), std::align_val_t(64)))) {}
  ~Buffer() { ::operator delete[](p, std::align_val_t(64)); }
  Buffer(const Buffer&) = delete;
  Buffer& operator=(const Buffer&) = delete;
};

// C tile (leading dimension ldc) += packed A tile times packed B tile over
// kc values of k; with `first` the sums start at zero instead.
template <typename T>
MV_INLINE_KERNEL void registerTile(double* c, std::ptrdiff_t ldc, const double* ap,
                                   const double* bp, int kc, bool first) {
  using V = typename T::Vec;
  constexpr int kL = T::kLanes, kV = T::kVecs, kN = T::kCols;
  V acc[kN][kV];
  for (int jj = 0; jj < kN; ++jj)
    for (int q = 0; q < kV; ++q) {
      if (first)
        acc[jj][q] = V{};
      else
        __builtin_memcpy(&acc[jj][q], c + jj * ldc + kL * q, sizeof(V));
    }
  for (int k = 0; k < kc; ++k, ap += T::kRows, bp += kN) {
    V av[kV];
    for (int q = 0; q < kV; ++q) __builtin_memcpy(&av[q], ap + kL * q, sizeof(V));
    for (int jj = 0; jj < kN; ++jj) {
      const double f = bp[jj];
      for (int q = 0; q < kV; ++q) acc[jj][q] += av[q] * f;
    }
  }
  for (int jj = 0; jj < kN; ++jj)
    for (int q = 0; q < kV; ++q) __builtin_memcpy(c + jj * ldc + kL * q, &acc[jj][q], sizeof(V));
}

// The same for a tile cut short by the edge of C (mr rows, nr columns).
template <typename T>
MV_INLINE_KERNEL void edgeTile(double* c, std::ptrdiff_t ldc, int mr, int nr, const double* ap,
                               const double* bp, int kc, bool first) {
  alignas(64) double t[T::kCols * T::kRows] = {};
  if (!first)
    for (int jj = 0; jj < nr; ++jj)
      for (int r = 0; r < mr; ++r) t[jj * T::kRows + r] = c[jj * ldc + r];
  registerTile<T>(t, T::kRows, ap, bp, kc, first);
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

// Pack A'(i0 .. i0+mc-1, k0 .. k0+kc-1) in groups of R rows: group t holds
// A'(i0 + Rt + r, k0 + k) at [t*R*kc + k*R + r].
template <int R>
MV_INLINE_KERNEL void packA(const Operands& o, double* ap, int i0, int mc, int k0, int kc) {
  for (int t0 = 0; t0 < mc; t0 += R) {
    const int mr = std::min(R, mc - t0);
    double* dst = ap + static_cast<std::ptrdiff_t>(t0) * kc;
    for (int k = 0; k < kc; ++k, dst += R) {
      const double* src = o.a.col(k0 + k) + (i0 - 1 + t0);
      if (o.scaled) {
        const double wk = o.w[k0 + k - 1];
        for (int r = 0; r < mr; ++r) dst[r] = src[r] * wk;
      } else {
        for (int r = 0; r < mr; ++r) dst[r] = src[r];
      }
      for (int r = mr; r < R; ++r) dst[r] = 0.0;
    }
  }
}

// Pack B'(k0 .. k0+kc-1, j0 .. j0+nc-1) in groups of N columns: group q
// holds B'(k0 + k, j0 + Nq + jj) at [q*N*kc + k*N + jj].
template <int N>
MV_INLINE_KERNEL void packB(const Operands& o, double* bp, int k0, int kc, int j0, int nc) {
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
  }
}

// Columns j0 .. j1 of C, all rows, all k, in tiles of shape T.
template <typename T>
MV_INLINE_KERNEL void productPanelOf(const Operands& o, int j0, int j1, double* ap, double* bp,
                                     int ncMax) {
  constexpr int kR = T::kRows, kN = T::kCols;
  const int n = o.n;
  for (int jc = j0; jc <= j1; jc += ncMax) {
    const int nc = std::min(ncMax, j1 - jc + 1);
    for (int k0 = 1; k0 <= n; k0 += kKC) {
      const int kc = std::min(kKC, n - k0 + 1);
      const bool first = k0 == 1;
      packB<kN>(o, bp, k0, kc, jc, nc);
      for (int i0 = 1; i0 <= n; i0 += kMC) {
        const int mc = std::min(kMC, n - i0 + 1);
        packA<kR>(o, ap, i0, mc, k0, kc);
        for (int q0 = 0; q0 < nc; q0 += kN) {
          const int nr = std::min(kN, nc - q0);
          const double* bq = bp + static_cast<std::ptrdiff_t>(q0) * kc;
          for (int t0 = 0; t0 < mc; t0 += kR) {
            const int mr = std::min(kR, mc - t0);
            const double* at = ap + static_cast<std::ptrdiff_t>(t0) * kc;
            double* ct = o.c.col(jc + q0) + (i0 - 1 + t0);
            if (mr == kR && nr == kN)
              registerTile<T>(ct, o.c.ld, at, bq, kc, first);
            else
              edgeTile<T>(ct, o.c.ld, mr, nr, at, bq, kc, first);
          }
        }
      }
    }
  }
}

// Columns j0 .. j1 of C (ap: kMC * kKC, bp: ncMax rounded up to a multiple
// of kColumnGroup, times kKC).
#if MV_KERNELS_AVX512
MV_AVX512_KERNEL void productPanel(const Operands& o, int j0, int j1, double* ap, double* bp,
                                   int ncMax) {
  productPanelOf<WideTile>(o, j0, j1, ap, bp, ncMax);
}
#endif
#if MV_KERNELS_AVX2
MV_AVX2_KERNEL void productPanel(const Operands& o, int j0, int j1, double* ap, double* bp,
                                 int ncMax) {
  productPanelOf<NarrowTile>(o, j0, j1, ap, bp, ncMax);
}
#endif
#if MV_KERNELS_BASELINE
MV_BASELINE_KERNEL void productPanel(const Operands& o, int j0, int j1, double* ap, double* bp,
                                     int ncMax) {
  productPanelOf<NarrowTile>(o, j0, j1, ap, bp, ncMax);
}
#endif

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
    const int j0 = 1 + p * width;
    productPanel(o, j0, std::min(n, j0 + width - 1), ap.p, bp.p, ncMax);
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
void spectral(MatView c, MatView u, const double* w, [[maybe_unused]] MatView scratch, int n,
              const Parallel& par) {
  product(Operands{c, u, u, w, n, true, true}, par);
}

MV_KERNELS_ENTRY_END

}  // namespace mv
