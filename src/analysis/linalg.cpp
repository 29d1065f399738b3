// Dense products for the bond-order analysis.
//
// Every element of C is its own sum over k, one rounding per product and one
// per addition, in ascending k.  The products are blocked for the caches:
//  - C is cut into column panels, one task each, shared out among threads;
//  - k runs in blocks of kKC, in ascending order for every element: the
//    first block starts each sum at zero, every later one reloads the
//    partial sums from C and goes on adding to them;
//  - per k block, a panel of B (kKC by up to kNC columns) is packed in
//    column quadruples, and for each block of kMC rows of A the block of A
//    is packed in row twelves; the register kernel then accumulates 12 by 4
//    elements of C, one per register lane, while k runs through the block.
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

constexpr int kVec = 3;        // vectors per column of a register tile
constexpr int kMR = 4 * kVec;  // rows of a register tile
constexpr int kNR = 4;         // columns of a register tile
constexpr int kKC = 256;       // k block
constexpr int kMC = 10 * kMR;  // rows of a packed block of A (L2)
constexpr int kNCMax = 512;    // most columns of a packed panel of B (L2)

// Scratch of one task, on cache lines.
struct Buffer {
  double* p = nullptr;
  explicit Buffer(std::size_t count)
      : p(static_cast<double*>(::operator new[](count * sizeof(double), std::align_val_t(64)))) {}
  ~Buffer() { ::operator delete[](p, std::align_val_t(64)); }
  Buffer(const Buffer&) = delete;
  Buffer& operator=(const Buffer&) = delete;
};

// C tile (12 by 4, leading dimension ldc) += packed A tile times packed B
// tile over kc values of k; with `first` the sums start at zero instead.
MV_INLINE_KERNEL void registerTile(double* c, std::ptrdiff_t ldc, const double* ap,
                                   const double* bp, int kc, bool first) {
  v4 acc[kNR][kVec];
  for (int jj = 0; jj < kNR; ++jj)
    for (int q = 0; q < kVec; ++q) {
      if (first)
        acc[jj][q] = v4{0.0, 0.0, 0.0, 0.0};
      else
        __builtin_memcpy(&acc[jj][q], c + jj * ldc + 4 * q, sizeof(v4));
    }
  for (int k = 0; k < kc; ++k, ap += kMR, bp += kNR) {
    v4 av[kVec];
    for (int q = 0; q < kVec; ++q) __builtin_memcpy(&av[q], ap + 4 * q, sizeof(v4));
    for (int jj = 0; jj < kNR; ++jj) {
      const double f = bp[jj];
      const v4 fv = {f, f, f, f};
      for (int q = 0; q < kVec; ++q) acc[jj][q] += av[q] * fv;
    }
  }
  for (int jj = 0; jj < kNR; ++jj)
    for (int q = 0; q < kVec; ++q) __builtin_memcpy(c + jj * ldc + 4 * q, &acc[jj][q], sizeof(v4));
}

// The same for a tile cut short by the edge of C (mr rows, nr columns).
MV_INLINE_KERNEL void edgeTile(double* c, std::ptrdiff_t ldc, int mr, int nr, const double* ap,
                               const double* bp, int kc, bool first) {
  double t[kNR * kMR] = {};
  if (!first)
    for (int jj = 0; jj < nr; ++jj)
      for (int r = 0; r < mr; ++r) t[jj * kMR + r] = c[jj * ldc + r];
  registerTile(t, kMR, ap, bp, kc, first);
  for (int jj = 0; jj < nr; ++jj)
    for (int r = 0; r < mr; ++r) c[jj * ldc + r] = t[jj * kMR + r];
}

// The operands of one product.  Scaled: A'(i,k) = A(i,k) w(k) (rounded
// once, as in the sum), else A' = A.  Transposed: B'(k,j) = B(j,k), else B'= B.
struct Operands {
  MatView c, a, b;
  const double* w;
  int n;
  bool scaled, transposed;
};

// Pack A'(i0 .. i0+mc-1, k0 .. k0+kc-1) in row twelves: tile t holds
// A'(i0 + 12t + r, k0 + k) at [t*12*kc + k*12 + r].
MV_INLINE_KERNEL void packA(const Operands& o, double* ap, int i0, int mc, int k0, int kc) {
  for (int t0 = 0; t0 < mc; t0 += kMR) {
    const int mr = std::min(kMR, mc - t0);
    double* dst = ap + static_cast<std::ptrdiff_t>(t0) * kc;
    for (int k = 0; k < kc; ++k, dst += kMR) {
      const double* src = o.a.col(k0 + k) + (i0 - 1 + t0);
      if (o.scaled) {
        const double wk = o.w[k0 + k - 1];
        for (int r = 0; r < mr; ++r) dst[r] = src[r] * wk;
      } else {
        for (int r = 0; r < mr; ++r) dst[r] = src[r];
      }
      for (int r = mr; r < kMR; ++r) dst[r] = 0.0;
    }
  }
}

// Pack B'(k0 .. k0+kc-1, j0 .. j0+nc-1) in column quadruples: quadruple q
// holds B'(k0 + k, j0 + 4q + jj) at [q*4*kc + k*4 + jj].
MV_INLINE_KERNEL void packB(const Operands& o, double* bp, int k0, int kc, int j0, int nc) {
  for (int q0 = 0; q0 < nc; q0 += kNR) {
    const int nr = std::min(kNR, nc - q0);
    double* dst = bp + static_cast<std::ptrdiff_t>(q0) * kc;
    if (o.transposed) {
      for (int k = 0; k < kc; ++k, dst += kNR) {
        const double* src = o.b.col(k0 + k) + (j0 - 1 + q0);
        for (int jj = 0; jj < nr; ++jj) dst[jj] = src[jj];
        for (int jj = nr; jj < kNR; ++jj) dst[jj] = 0.0;
      }
    } else {
      const double* src[kNR];
      for (int jj = 0; jj < kNR; ++jj) src[jj] = o.b.col(j0 + q0 + std::min(jj, nr - 1)) + (k0 - 1);
      for (int k = 0; k < kc; ++k, dst += kNR) {
        for (int jj = 0; jj < nr; ++jj) dst[jj] = src[jj][k];
        for (int jj = nr; jj < kNR; ++jj) dst[jj] = 0.0;
      }
    }
  }
}

// Columns j0 .. j1 of C, all rows, all k.
MV_WIDE_KERNEL void productPanel(const Operands& o, int j0, int j1, double* ap, double* bp,
                                 int ncMax) {
  const int n = o.n;
  for (int jc = j0; jc <= j1; jc += ncMax) {
    const int nc = std::min(ncMax, j1 - jc + 1);
    for (int k0 = 1; k0 <= n; k0 += kKC) {
      const int kc = std::min(kKC, n - k0 + 1);
      const bool first = k0 == 1;
      packB(o, bp, k0, kc, jc, nc);
      for (int i0 = 1; i0 <= n; i0 += kMC) {
        const int mc = std::min(kMC, n - i0 + 1);
        packA(o, ap, i0, mc, k0, kc);
        for (int q0 = 0; q0 < nc; q0 += kNR) {
          const int nr = std::min(kNR, nc - q0);
          const double* bq = bp + static_cast<std::ptrdiff_t>(q0) * kc;
          for (int t0 = 0; t0 < mc; t0 += kMR) {
            const int mr = std::min(kMR, mc - t0);
            const double* at = ap + static_cast<std::ptrdiff_t>(t0) * kc;
            double* ct = o.c.col(jc + q0) + (i0 - 1 + t0);
            if (mr == kMR && nr == kNR)
              registerTile(ct, o.c.ld, at, bq, kc, first);
            else
              edgeTile(ct, o.c.ld, mr, nr, at, bq, kc, first);
          }
        }
      }
    }
  }
}

// Orders below this are computed on the calling thread alone.
constexpr int kThreadedOrder = 96;

void product(const Operands& o, const Parallel& par) {
  const int n = o.n;
  if (n <= 0) return;
  // Column panels: about two per thread, in whole quadruples, at most kNCMax
  // wide.  Each panel packs all of A once per k block, so fewer, wider
  // panels repack less.
  const int threads = n < kThreadedOrder ? 1 : par.maxThreads();
  int width = (n + 2 * threads - 1) / (2 * threads);
  if (threads == 1) width = n;
  width = std::min(kNCMax, (width + kNR - 1) / kNR * kNR);
  const int panels = (n + width - 1) / width;
  const int ncMax = width;
  auto panel = [&](int p) {
    const Buffer ap(static_cast<std::size_t>(kMC) * kKC);
    const Buffer bp(static_cast<std::size_t>((ncMax + kNR - 1) / kNR * kNR) * kKC);
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

void matmul(MatView c, MatView a, MatView b, int n, const Parallel& par) {
  product(Operands{c, a, b, nullptr, n, false, false}, par);
}

// C(i,j) = sum over k of (U(i,k) w(k)) U^T(k,j): the rows of U are scaled by
// w as they are packed, and the columns of U^T are packed from the rows of U.
void spectral(MatView c, MatView u, const double* w, [[maybe_unused]] MatView scratch, int n,
              const Parallel& par) {
  product(Operands{c, u, u, w, n, true, true}, par);
}

}  // namespace mv
