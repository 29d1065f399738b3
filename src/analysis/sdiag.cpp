// Symmetric eigen-solver: Householder reduction to tridiagonal form with the
// transformations accumulated in the matrix itself, the QL algorithm with
// implicit shifts, and a sort of the eigenvalues into descending order.
//
// Only the lower triangle of the leading n by n block is read; its upper
// triangle serves as work space.  Every element goes through the same
// operations in the same order as in the plain form of the algorithm (each
// sum takes its terms in ascending index order); the work is only cut into
// pieces that threads can take and that stay in cache:
//  - reduction: the update of one step and both parts of the next step's
//    sums go in one sweep of the lower triangle, row panel by row panel,
//    each element read and written once (in two passes over row panels when
//    the triangle is small);
//  - accumulation: each column of the orthogonal matrix evolves on its own,
//    so the steps are taken in blocks, and column panels go through a whole
//    block of steps while they sit in cache;
//  - QL: the plane rotations never depend on the matrix, so they are
//    recorded and applied afterwards, chunk by chunk, to row panels.
#include "analysis/sdiag.h"

#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "analysis/linalg.h"
#include "core/stop.h"

namespace mv {

namespace {

constexpr double kReduceTol = 5e-15;  // absolute: rows this small need no reflection
constexpr double kQlEps = 5e-10;      // relative convergence factor of the QL phase
constexpr int kMaxSweeps = 300;       // QL sweeps allowed for one eigenvalue

// Orders of the active block below which a pass runs on the calling thread
// alone (the result is the same either way).  The other phases start one
// run per block of steps or of rotations; the reduction starts a run per
// step and, shared between threads, moves its triangle from core to core
// every step, which does not pay while the triangle fits in one core's L2.
constexpr int kThreadedOrder = 160;
constexpr int kThreadedReduction = 800;
// Orders of the active block from which the reduction sweeps the triangle
// once per step rather than in two passes (see sweepPass): below it the
// triangle stays in L2 between the passes, and the two passes do less work.
constexpr int kSweepOrder = 500;

typedef double v4 __attribute__((vector_size(32)));  // four consecutive elements
// The same at any address aligned for a double, for loads and stores.
typedef double v4u __attribute__((vector_size(32), aligned(8), may_alias));
#define load4(p) (*reinterpret_cast<const v4u*>(p))
#define store4(p, v) (*reinterpret_cast<v4u*>(p) = (v))
// Eight consecutive elements (AVX-512 variants).
typedef double v8 __attribute__((vector_size(64)));
typedef double v8u __attribute__((vector_size(64), aligned(8), may_alias));
#define load8(p) (*reinterpret_cast<const v8u*>(p))
#define store8(p, v) (*reinterpret_cast<v8u*>(p) = (v))
// Either width, for code templated on the vector type V.
template <typename V>
struct Unaligned;
template <>
struct Unaligned<v4> {
  using type = v4u;
};
template <>
struct Unaligned<v8> {
  using type = v8u;
};
#define loadVec(V, p) (*reinterpret_cast<const typename Unaligned<V>::type*>(p))
#define storeVec(V, p, v) (*reinterpret_cast<typename Unaligned<V>::type*>(p) = (v))

#define splat(x) (v4{(x), (x), (x), (x)})

std::size_t size(int n) {
  return static_cast<std::size_t>(n);
}

// A moment's wait in a loop that watches another thread's progress.
inline void spinPause() {
#if defined(__x86_64__) || defined(__i386__)
  __builtin_ia32_pause();
#endif
}

// Row panels of kRows rows.  When every column of A starts at the same
// offset within a cache line, the panels are cut at cache-line boundaries
// (after a short first panel), so that threads working on neighbouring
// panels never write to the same line.
struct RowPanels {
  int first;   // rows of the first panel (1..kRows)
  int count;   // panels covering rows 1..rows
  int height;  // kRows
  RowPanels(MatView A, int rows, int kRows) : height(kRows) {
    int lead = 0;
    if (A.ld % 8 == 0)
      lead = static_cast<int>((8 - reinterpret_cast<std::uintptr_t>(A.p) / 8 % 8) % 8);
    first = lead == 0 ? kRows : lead;
    if (first > rows) first = rows;
    count = rows <= first ? 1 : 1 + (rows - first + kRows - 1) / kRows;
  }
  // Rows r0..r1 of panel p (0-based) among rows 1..rows.
  void bounds(int p, int rows, int& r0, int& r1) const {
    r0 = p == 0 ? 1 : first + 1 + (p - 1) * height;
    r1 = std::min(rows, p == 0 ? first : first + p * height);
  }
};

// Row panels put into at most `groups` runs of neighbouring panels of about
// equal work, work(r0, r1, rows) for a panel of rows r0..r1.
class PanelGroups {
 public:
  template <typename Work>
  PanelGroups(const RowPanels& rp, int rows, int groups, Work work) {
    std::vector<double> upTo(size(rp.count) + 1, 0.0);
    for (int p = 0; p < rp.count; ++p) {
      int r0, r1;
      rp.bounds(p, rows, r0, r1);
      upTo[size(p) + 1] = upTo[size(p)] + work(r0, r1, rows);
    }
    const double total = upTo[size(rp.count)];
    starts_.push_back(0);
    for (int p = 1; p < rp.count; ++p)
      if (upTo[size(p)] >= total * static_cast<double>(starts_.size()) / groups)
        starts_.push_back(p);
    starts_.push_back(rp.count);
  }
  int count() const { return static_cast<int>(starts_.size()) - 1; }
  int first(int g) const { return starts_[size(g)]; }
  int last(int g) const { return starts_[size(g) + 1] - 1; }

 private:
  std::vector<int> starts_;
};

// ------------------------------------------------------------- reduction

// Step i of the reduction (l = i - 1, u the reflected row i) forms
//   s(j) = sum over k = 1..j of A(j,k) u(k), then over k = j+1..l of A(k,j) u(k),
// and afterwards updates the lower triangle of the leading l by l block,
//   A(j,k) = A(j,k) - u(j) e(k) - e(j) u(k).
// The update of step i+1 is put off into the pass of step i, which goes
// over row panels of the leading l by l block.  From order kSweepOrder on,
// each element is updated and at once adds its term A(j,k) u(k) to the row
// part of s(j) and its term A(j,k) u(j) to the column part of s(k) (see
// sweepPanel for the order).  Below it, where the triangle stays in L2, in
// two parts:
//  (a) rows r0..r1, column by column: each element is updated and at once
//      adds its term to the row part of its sum (terms k <= j);
//  (b) the column parts (terms k > j) of the panel's sums, once every panel
//      has finished (a), so that the columns it reads are updated.
// Each sum thus still takes its terms in ascending k, from the same values.
constexpr int kPanelRows = 32;
// Columns between the one worked on and the one asked for ahead of time.
constexpr int kReducePrefetch = 16;

// Work arrays of the reduction, 1-based.
struct Reduction {
  MatView A;
  int n;
  std::vector<double> uPrev, ePrev;  // pending update: row i+1 and e of step i+1
  std::vector<double> uCur, eCur;    // this step: row i and e
  std::vector<double> s;             // the sums s(j)
  explicit Reduction(MatView a, int order)
      : A(a),
        n(order),
        uPrev(size(order) + 1),
        ePrev(size(order) + 1),
        uCur(size(order) + 1),
        eCur(size(order) + 1),
        s(size(order) + 1) {}
};

// Part (a) on rows r0..r1; Update: the pending update, Sums: the row parts
// of the sums (from zero) into s.
// A full panel goes in vectors V (four or eight lanes).
template <bool Update, bool Sums, typename V>
MV_INLINE_KERNEL void rowPanel(MatView A, int r0, int r1, const double* uP, const double* eP,
                               const double* uC, double* s) {
  const int m = r1 - r0 + 1;
  if (m == kPanelRows) {
    constexpr int kL = static_cast<int>(sizeof(V) / sizeof(double));
    constexpr int kV = kPanelRows / kL;
    V acc[kV];
    for (int v = 0; v < kV; ++v) acc[v] = V{};
    const double* upr = uP + r0;
    const double* epr = eP + r0;
    for (int k = 1; k < r0; ++k) {
      double* ck = A.col(k) + (r0 - 1);
      // The panel's rows of consecutive columns lie a column apart, out of
      // reach of the hardware's stream detection: ask for a later one ahead.
      if (k + kReducePrefetch < r0)
        for (int v = 0; v < kPanelRows; v += 8)
          __builtin_prefetch(ck + kReducePrefetch * static_cast<std::ptrdiff_t>(A.ld) + v, 1);
      const double ek = eP[k], uk = uP[k], wk = uC[k];
      for (int v = 0; v < kV; ++v) {
        V x = loadVec(V, ck + kL * v);
        if (Update) {
          x = x - loadVec(V, upr + kL * v) * ek - loadVec(V, epr + kL * v) * uk;
          storeVec(V, ck + kL * v, x);
        }
        if (Sums) acc[v] += x * wk;
      }
    }
    if (Sums)
      for (int v = 0; v < kV; ++v) storeVec(V, s + r0 + kL * v, acc[v]);
  } else {
    // A short panel: the same per row, four rows to a vector where possible.
    if (Sums)
      for (int r = r0; r <= r1; ++r) s[r] = 0.0;
    const int rv = r0 + (m / 4) * 4;  // first row past the vectors
    for (int k = 1; k < r0; ++k) {
      double* ck = A.col(k) - 1;
      const double ek = eP[k], uk = uP[k], wk = uC[k];
      int r = r0;
      for (; r < rv; r += 4) {
        v4 x = load4(ck + r);
        if (Update) {
          x = x - load4(uP + r) * ek - load4(eP + r) * uk;
          store4(ck + r, x);
        }
        if (Sums) store4(s + r, load4(s + r) + x * wk);
      }
      for (; r <= r1; ++r) {
        double x = ck[r];
        if (Update) {
          x = x - uP[r] * ek - eP[r] * uk;
          ck[r] = x;
        }
        if (Sums) s[r] += x * wk;
      }
    }
  }
  // The panel's own triangle.
  for (int k = r0; k <= r1; ++k) {
    double* ck = A.col(k);
    const double ek = eP[k], uk = uP[k], wk = uC[k];
    for (int r = k; r <= r1; ++r) {
      double x = ck[r - 1];
      if (Update) {
        x = x - uP[r] * ek - eP[r] * uk;
        ck[r - 1] = x;
      }
      if (Sums) s[r] += x * wk;
    }
  }
}

// Independent sums computed side by side: an ordered sum is a chain of
// dependent additions, so several of them run at once to keep the
// floating-point units busy.
constexpr int kChains = 8;

// s(j) += sum over r = ra..rb, ascending, of A(r,j) u(r), for j = j0..j1.
MV_INLINE_KERNEL void columnDots(MatView A, int j0, int j1, const double* u, int ra, int rb,
                                 double* s) {
  if (j1 - j0 + 1 == kChains) {
    const double* c[kChains];
    double t[kChains];
    for (int q = 0; q < kChains; ++q) {
      c[q] = A.col(j0 + q) - 1;
      t[q] = s[j0 + q];
    }
    for (int r = ra; r <= rb; ++r) {
      const double ur = u[r];
      for (int q = 0; q < kChains; ++q) t[q] += c[q][r] * ur;
    }
    for (int q = 0; q < kChains; ++q) s[j0 + q] = t[q];
    return;
  }
  for (int j = j0; j <= j1; ++j) {
    const double* cj = A.col(j) - 1;
    double t = s[j];
    for (int r = ra; r <= rb; ++r) t += cj[r] * u[r];
    s[j] = t;
  }
}

typedef double v2u __attribute__((vector_size(16), aligned(8), may_alias));
#define load2(p) (*reinterpret_cast<const v2u*>(p))

// The same for the kWide columns j0 .. j0+kWide-1, one vector lane per
// column: each pair of rows of four columns is loaded as two halves per
// vector and regrouped into one vector per row, so that lane q still adds
// A(r, j0+q) u(r) for r = ra, ra+1, ... in turn.
constexpr int kWide = 16;

MV_INLINE_KERNEL void columnDotsWide(MatView A, int j0, const double* u, int ra, int rb,
                                     double* s) {
  const double* c[kWide];
  for (int q = 0; q < kWide; ++q) c[q] = A.col(j0 + q) - 1;
  v4 t[kWide / 4];
  for (int g = 0; g < kWide / 4; ++g) t[g] = load4(s + j0 + 4 * g);
  int r = ra;
  for (; r < rb; r += 2) {
    const double u0 = u[r], u1 = u[r + 1];
    for (int g = 0; g < kWide / 4; ++g) {
      const double* const* cg = c + 4 * g;
      // a: rows r, r+1 of columns 0 and 2; b: of columns 1 and 3.
      const v4 a = __builtin_shufflevector(load2(cg[0] + r), load2(cg[2] + r), 0, 1, 2, 3);
      const v4 b = __builtin_shufflevector(load2(cg[1] + r), load2(cg[3] + r), 0, 1, 2, 3);
      t[g] += __builtin_shufflevector(a, b, 0, 4, 2, 6) * u0;
      t[g] += __builtin_shufflevector(a, b, 1, 5, 3, 7) * u1;
    }
  }
  for (int g = 0; g < kWide / 4; ++g) store4(s + j0 + 4 * g, t[g]);
  if (r == rb)
    for (int q = 0; q < kWide; ++q) s[j0 + q] += c[q][r] * u[r];
}

// Part (b) on the columns r0..r1 of the leading l by l block.
MV_INLINE_KERNEL void columnParts(MatView A, int r0, int r1, int l, const double* uC, double* s) {
  for (int j0 = r0; j0 <= r1; j0 += kWide) {
    const int j1 = std::min(j0 + kWide - 1, r1);
    // Within the panel's own triangle: row by row, each row adding to the
    // sums of the columns left of it.
    for (int r = j0 + 1; r <= r1; ++r) {
      const double ur = uC[r];
      for (int j = j0; j <= std::min(j1, r - 1); ++j) s[j] += A(r, j) * ur;
    }
    // Below the panel, the columns side by side.
    if (j1 - j0 + 1 == kWide) {
      columnDotsWide(A, j0, uC, r1 + 1, l, s);
    } else {
      for (int k0 = j0; k0 <= j1; k0 += kChains)
        columnDots(A, k0, std::min(k0 + kChains - 1, j1), uC, r1 + 1, l, s);
    }
  }
}

// Part (a) on the panels p0..p1 of the pass of step i.
template <bool Update, bool Sums, typename V>
MV_INLINE_KERNEL void rowPartsOf(Reduction& R, const RowPanels& rp, int i, int p0, int p1) {
  for (int p = p0; p <= p1; ++p) {
    int r0, r1;
    rp.bounds(p, i - 1, r0, r1);
    rowPanel<Update, Sums, V>(R.A, r0, r1, R.uPrev.data(), R.ePrev.data(), R.uCur.data(),
                              R.s.data());
  }
}

template <typename V>
MV_INLINE_KERNEL void rowPartsIn(Reduction& R, const RowPanels& rp, int i, int p0, int p1,
                                 bool update, bool sums) {
  if (update && sums)
    rowPartsOf<true, true, V>(R, rp, i, p0, p1);
  else if (update)
    rowPartsOf<true, false, V>(R, rp, i, p0, p1);
  else if (sums)
    rowPartsOf<false, true, V>(R, rp, i, p0, p1);
}

#if MV_KERNELS_AVX512
MV_AVX512_KERNEL void rowParts(Reduction& R, const RowPanels& rp, int i, int p0, int p1,
                               bool update, bool sums) {
  rowPartsIn<v8>(R, rp, i, p0, p1, update, sums);
}
#endif
#if MV_KERNELS_AVX2
MV_AVX2_KERNEL void rowParts(Reduction& R, const RowPanels& rp, int i, int p0, int p1, bool update,
                             bool sums) {
  rowPartsIn<v4>(R, rp, i, p0, p1, update, sums);
}
#endif
#if MV_KERNELS_BASELINE
MV_BASELINE_KERNEL void rowParts(Reduction& R, const RowPanels& rp, int i, int p0, int p1,
                                 bool update, bool sums) {
  rowPartsIn<v4>(R, rp, i, p0, p1, update, sums);
}
#endif

// Part (b) on the panels p0..p1 of the pass of step i.
MV_WIDE_KERNEL void columnParts(Reduction& R, const RowPanels& rp, int i, int p0, int p1) {
  for (int p = p0; p <= p1; ++p) {
    int r0, r1;
    rp.bounds(p, i - 1, r0, r1);
    columnParts(R.A, r0, r1, i - 1, R.uCur.data(), R.s.data());
  }
}

// The pass of step i over the leading l by l block in two parts, on the
// calling thread: part (a) on every panel, then part (b) on every panel.
template <bool Update, bool Sums>
void twoPasses(Reduction& R, int i) {
  const RowPanels rp(R.A, i - 1, kPanelRows);
  rowParts(R, rp, i, 0, rp.count - 1, Update, Sums);
  if (Sums) columnParts(R, rp, i, 0, rp.count - 1);
}

// The pass in one sweep.  Each element of the lower triangle is read once
// per step: it takes the pending update, adds its term to the row part of
// the sum of its row and to the column part of the sum of its column, and is
// written back.  A task takes the columns c0..c1 of every row panel, the
// panels in order from the top, and in a panel its columns from the left:
//  - the row part of s(r) takes its terms in ascending column order, so a
//    task whose columns lie right of another's takes a panel only after the
//    other has finished it (the partial row parts wait in s);
//  - the column part of s(j) takes its terms in ascending row order, panel
//    after panel, always by the task that owns column j, and only after the
//    row part of s(j) is complete: in the panel holding row j, at the
//    diagonal, by the same task.
// Within a block of as many columns as a vector has lanes, the row parts go
// down the columns, and the column parts along the rows of the block turned
// over in registers, so that lane q adds A(r, j0+q) u(r) for ascending r.

// The kL by kL block at `from` (columns fs apart) turned over: out[x] holds
// row x of the block, lane q its element of column q.
MV_INLINE_KERNEL void turnOver(const double* from, std::ptrdiff_t fs, v8 (&out)[8]) {
  v8 r[8], t[8], u[8];
  for (int k = 0; k < 8; ++k) r[k] = load8(from + k * fs);
  for (int k = 0; k < 8; k += 2) {
    t[k] = __builtin_shufflevector(r[k], r[k + 1], 0, 8, 2, 10, 4, 12, 6, 14);
    t[k + 1] = __builtin_shufflevector(r[k], r[k + 1], 1, 9, 3, 11, 5, 13, 7, 15);
  }
  for (int k = 0; k < 8; k += 4)
    for (int h = 0; h < 2; ++h) {
      u[k + h] = __builtin_shufflevector(t[k + h], t[k + h + 2], 0, 1, 8, 9, 4, 5, 12, 13);
      u[k + h + 2] = __builtin_shufflevector(t[k + h], t[k + h + 2], 2, 3, 10, 11, 6, 7, 14, 15);
    }
  for (int k = 0; k < 4; ++k) {
    out[k] = __builtin_shufflevector(u[k], u[k + 4], 0, 1, 2, 3, 8, 9, 10, 11);
    out[k + 4] = __builtin_shufflevector(u[k], u[k + 4], 4, 5, 6, 7, 12, 13, 14, 15);
  }
}

MV_INLINE_KERNEL void turnOver(const double* from, std::ptrdiff_t fs, v4 (&out)[4]) {
  v4 r[4];
  for (int k = 0; k < 4; ++k) r[k] = load4(from + k * fs);
  const v4 t0 = __builtin_shufflevector(r[0], r[1], 0, 4, 2, 6);
  const v4 t1 = __builtin_shufflevector(r[0], r[1], 1, 5, 3, 7);
  const v4 t2 = __builtin_shufflevector(r[2], r[3], 0, 4, 2, 6);
  const v4 t3 = __builtin_shufflevector(r[2], r[3], 1, 5, 3, 7);
  out[0] = __builtin_shufflevector(t0, t2, 0, 1, 4, 5);
  out[1] = __builtin_shufflevector(t1, t3, 0, 1, 4, 5);
  out[2] = __builtin_shufflevector(t0, t2, 2, 3, 6, 7);
  out[3] = __builtin_shufflevector(t1, t3, 2, 3, 6, 7);
}

// Columns c0..c1 of rows r0..r1 (elements on and below the diagonal).
template <bool Update, bool Sums, typename V>
MV_INLINE_KERNEL void sweepPanel(MatView A, int r0, int r1, int c0, int c1, const double* uP,
                                 const double* eP, const double* uC, double* s) {
  constexpr int kL = static_cast<int>(sizeof(V) / sizeof(double));
  constexpr int kV = kPanelRows / kL;
  const int m = r1 - r0 + 1;
  const int last = std::min(c1, r0 - 1);  // the last column left of the triangle
  const int rowFrom = std::max(r0, c0);   // rows with columns of this task
  // The row parts of the panel's rows so far: from s, unless this task
  // starts them.
  alignas(64) double part[kPanelRows];
  if (Sums)
    for (int r = rowFrom; r <= r1; ++r) part[r - r0] = c0 == 1 ? 0.0 : s[r];
  auto element = [&](double* at, int r, int c) {
    double x = *at;
    if (Update) {
      x = x - uP[r] * eP[c] - eP[r] * uP[c];
      *at = x;
    }
    return x;
  };
  int c = c0;
  if (m == kPanelRows && c0 <= last) {
    V acc[kV];
    if (Sums)
      for (int v = 0; v < kV; ++v) acc[v] = loadVec(V, part + kL * v);
    const double* upr = uP + r0;
    const double* epr = eP + r0;
    for (; c <= last; c += kL) {
      const int w = std::min(kL, last - c + 1);
      for (int k = c; k < c + w; ++k) {
        double* ck = A.col(k) + (r0 - 1);
        if (k + kReducePrefetch <= last)
          for (int v = 0; v < kPanelRows; v += 8)
            __builtin_prefetch(ck + kReducePrefetch * static_cast<std::ptrdiff_t>(A.ld) + v, 1);
        const double ek = eP[k], uk = uP[k], wk = uC[k];
        for (int v = 0; v < kV; ++v) {
          V x = loadVec(V, ck + kL * v);
          if (Update) {
            x = x - loadVec(V, upr + kL * v) * ek - loadVec(V, epr + kL * v) * uk;
            storeVec(V, ck + kL * v, x);
          }
          if (Sums) acc[v] += x * wk;
        }
      }
      if (!Sums) continue;
      if (w == kL) {
        // Column parts, lane q for column c + q, rows in ascending order.
        V t = loadVec(V, s + c);
        const double* block = A.col(c) + (r0 - 1);
        for (int v = 0; v < kV; ++v) {
          V y[kL];
          turnOver(block + kL * v, A.ld, y);
          for (int x = 0; x < kL; ++x) t += y[x] * uC[r0 + kL * v + x];
        }
        storeVec(V, s + c, t);
      } else {
        for (int k = c; k < c + w; ++k) {
          const double* ck = A.col(k) - 1;
          double t = s[k];
          for (int r = r0; r <= r1; ++r) t += ck[r] * uC[r];
          s[k] = t;
        }
      }
    }
    if (Sums)
      for (int v = 0; v < kV; ++v) storeVec(V, part + kL * v, acc[v]);
  } else {
    // A short panel: element by element, in the same order for every sum.
    for (; c <= last; ++c) {
      double* ck = A.col(c) - 1;
      const double wk = uC[c];
      double t = Sums ? s[c] : 0.0;
      for (int r = r0; r <= r1; ++r) {
        const double x = element(ck + r, r, c);
        if (Sums) {
          part[r - r0] += x * wk;
          t += x * uC[r];
        }
      }
      if (Sums) s[c] = t;
    }
  }
  // The panel's own triangle: column c adds to the row parts of rows c..r1,
  // which completes the row part of s(c), then takes the column part of s(c)
  // over rows c+1..r1.
  for (c = std::max(c0, r0); c <= std::min(c1, r1); ++c) {
    double* ck = A.col(c) - 1;
    const double wk = uC[c];
    for (int r = c; r <= r1; ++r) {
      const double x = element(ck + r, r, c);
      if (Sums) part[r - r0] += x * wk;
    }
    if (Sums) {
      double t = part[c - r0];
      for (int r = c + 1; r <= r1; ++r) t += ck[r] * uC[r];
      part[c - r0] = t;
    }
  }
  if (Sums)
    for (int r = rowFrom; r <= r1; ++r) s[r] = part[r - r0];
}

template <typename V>
MV_INLINE_KERNEL void sweepIn(Reduction& R, int r0, int r1, int c0, int c1, bool update,
                              bool sums) {
  const double *uP = R.uPrev.data(), *eP = R.ePrev.data(), *uC = R.uCur.data();
  double* s = R.s.data();
  if (update && sums)
    sweepPanel<true, true, V>(R.A, r0, r1, c0, c1, uP, eP, uC, s);
  else if (update)
    sweepPanel<true, false, V>(R.A, r0, r1, c0, c1, uP, eP, uC, s);
  else if (sums)
    sweepPanel<false, true, V>(R.A, r0, r1, c0, c1, uP, eP, uC, s);
}

#if MV_KERNELS_AVX512
MV_AVX512_KERNEL void sweep(Reduction& R, int r0, int r1, int c0, int c1, bool update, bool sums) {
  sweepIn<v8>(R, r0, r1, c0, c1, update, sums);
}
#endif
#if MV_KERNELS_AVX2
MV_AVX2_KERNEL void sweep(Reduction& R, int r0, int r1, int c0, int c1, bool update, bool sums) {
  sweepIn<v4>(R, r0, r1, c0, c1, update, sums);
}
#endif
#if MV_KERNELS_BASELINE
MV_BASELINE_KERNEL void sweep(Reduction& R, int r0, int r1, int c0, int c1, bool update,
                              bool sums) {
  sweepIn<v4>(R, r0, r1, c0, c1, update, sums);
}
#endif

// The pass of step i over the leading l by l block in one sweep.  On two
// threads the columns are split at about l/3: the left task never waits,
// and the right one takes a panel once the left one has finished it; with
// the work of a panel's row proportional to its columns, the split at l/3
// lets the right task finish about when the left one does.
template <bool Update, bool Sums>
void sweepPass(Reduction& R, int i, const Parallel& par) {
  const int l = i - 1;
  const RowPanels rp(R.A, l, kPanelRows);
  if (l < kSweepOrder) {
    twoPasses<Update, Sums>(R, i);
    return;
  }
  if (l < kThreadedReduction || par.maxThreads() == 1) {
    for (int p = 0; p < rp.count; ++p) {
      int r0, r1;
      rp.bounds(p, l, r0, r1);
      sweep(R, r0, r1, 1, r1, Update, Sums);
    }
    return;
  }
  const int split = l / 3 / 8 * 8 + 1;  // the first column of the right task
  std::atomic<int> leftDone{-1};
  par.run(2, [&](int task) {
    for (int p = 0; p < rp.count; ++p) {
      int r0, r1;
      rp.bounds(p, l, r0, r1);
      if (task == 0) {
        sweep(R, r0, r1, 1, std::min(r1, split - 1), Update, Sums);
        leftDone.store(p, std::memory_order_release);
      } else if (r1 >= split) {
        while (leftDone.load(std::memory_order_acquire) < p) spinPause();
        sweep(R, r0, r1, split, r1, Update, Sums);
      }
    }
  });
}

// Phase 1: reduce rows n..2 to tridiagonal form.  d(i) receives the scale h
// of the reflection of row i (0 when the row needs none) and e(i) the
// sub-diagonal element of row i (e is 1-based).
// Returns false when `abandon` became true before the reduction was done.
bool reduce(MatView A, double* d, double* e, int n, const Parallel& par,
            const std::atomic<bool>* abandon = nullptr) {
  Reduction R(A, n);
  double* uP = R.uPrev.data();
  double* eP = R.ePrev.data();
  bool pending = false;
  for (int i = n; i >= 2; --i) {
    if (abandon != nullptr && abandon->load(std::memory_order_relaxed)) return false;
    const int l = i - 1;
    double* u = R.uCur.data();
    // Row i takes the pending update first: it is the row reflected now.
    if (pending) {
      for (int k = 1; k <= i; ++k) A(i, k) = A(i, k) - uP[i] * eP[k] - eP[i] * uP[k];
    }
    for (int k = 1; k <= l; ++k) u[k] = A(i, k);
    const double f = u[l];
    double g = 0.0;
    for (int k = 1; k <= i - 2; ++k) g += u[k] * u[k];
    double h = g + f * f;
    const bool reflect = !(i == 2 || h < kReduceTol || g == 0.0);
    double gp = 0.0;
    if (reflect) {
      gp = f > 0.0 ? -std::sqrt(h) : std::sqrt(h);
      h -= f * gp;
      A(i, l) = f - gp;
      u[l] = f - gp;
    }
    if (pending && reflect)
      sweepPass<true, true>(R, i, par);
    else if (pending)
      sweepPass<true, false>(R, i, par);
    else if (reflect)
      sweepPass<false, true>(R, i, par);
    if (!reflect) {
      e[i] = f;
      d[i - 1] = 0.0;
      pending = false;
      continue;
    }
    const double* s = R.s.data();
    double* ec = R.eCur.data();
    double ff = 0.0;
    for (int j = 1; j <= l; ++j) {
      const double aji = u[j] / h;
      A(j, i) = aji;
      ec[j] = s[j] / h;
      ff += s[j] * aji;
    }
    const double kk = ff / (h + h);
    for (int j = 1; j <= l; ++j) ec[j] -= kk * u[j];
    d[i - 1] = h;
    e[i] = gp;
    // This step's update is the next pass's pending one.
    std::swap(R.uPrev, R.uCur);
    std::swap(R.ePrev, R.eCur);
    uP = R.uPrev.data();
    eP = R.ePrev.data();
    pending = true;
  }
  return true;
}

// ---------------------------------------------------------- accumulation

// Step i of the accumulation (with a reflection, d(i) > 0) forms, for every
// column j < i of the orthogonal matrix Q in the leading block,
//   s(j) = sum over r = 1..i-1 of u(r) Q(r,j)   (u: row i of the reduction)
// and then Q(r,j) = Q(r,j) - s(j) v(r) for r < i (v: column i above the
// diagonal, u / h); every step then makes row and column i those of the unit
// matrix.  Column j thus starts as the unit vector at step j and after that
// depends on nothing but itself and the vectors u, v of the later steps.
// The steps go in blocks of kStepBlock: the block's vectors are copied out,
// and panels of columns, packed side by side (one register lane each), go
// through all the steps of the block at once.  A panel has 32 lanes (four
// vectors of eight) in the AVX-512 variant, 16 (four of four) in the others;
// a task takes kTaskColumns columns, as one panel or as two.
constexpr int kStepBlock = 32;
constexpr int kTaskColumns = 32;

struct StepBlock {
  int i0 = 0, i1 = 0;
  std::vector<double> u, v;  // vectors of step i at [(i - i0) * n], 0-based rows
  std::vector<char> reflect;
  int n = 0;
  const double* uOf(int i) const { return u.data() + size(i - i0) * size(n); }
  const double* vOf(int i) const { return v.data() + size(i - i0) * size(n); }
};

// The sum over r = 1..rows, ascending, of un(r) Q(r, lane) for one lane of a
// panel of `Lanes` lanes.
template <int Lanes>
MV_INLINE_KERNEL double laneDot(const double* qp, int lane, const double* un, int rows) {
  double t = 0.0;
  for (int r = 0; r < rows; ++r) t += un[r] * qp[size(r) * Lanes + size(lane)];
  return t;
}

// The 8 by 8 block of 8 vectors of 8 consecutive elements at `from`, `fs`
// apart, transposed into `to`, `ts` apart.
MV_INLINE_KERNEL void transpose8(const double* from, std::ptrdiff_t fs, double* to,
                                 std::ptrdiff_t ts) {
  v8 rows[8];
  turnOver(from, fs, rows);
  for (int k = 0; k < 8; ++k) store8(to + k * ts, rows[k]);
}

// Rows 1..rows of the columns c0..c0+w-1 of A into the lanes of the packed
// panel qp (toPanel), or back.  With eight lanes to a vector, in 8 by 8
// blocks, so that both sides are read and written a vector at a time.
template <typename V, int Lanes>
MV_INLINE_KERNEL void copyPanel(MatView A, int c0, int w, int rows, double* qp, bool toPanel) {
  auto copy = [&](int r, int q) {
    double& p = qp[size(r) * Lanes + size(q)];
    double& a = A.col(c0 + q)[r];
    if (toPanel)
      p = a;
    else
      a = p;
  };
  if constexpr (sizeof(V) == sizeof(v8)) {
    const int qv = w / 8 * 8, rv = rows / 8 * 8;  // lanes and rows in blocks
    const std::ptrdiff_t ld = A.ld;
    for (int q = 0; q < qv; q += 8)
      for (int r = 0; r < rv; r += 8) {
        double* a = A.col(c0 + q) + r;
        double* p = qp + size(r) * Lanes + size(q);
        if (toPanel)
          transpose8(a, ld, p, Lanes);
        else
          transpose8(p, Lanes, a, ld);
      }
    for (int q = 0; q < w; ++q)
      for (int r = q < qv ? rv : 0; r < rows; ++r) copy(r, q);
  } else {
    for (int r = 0; r < rows; ++r)
      for (int q = 0; q < w; ++q) copy(r, q);
  }
}

// Columns c0..c1 (c1 - c0 < Lanes) through the steps of the block, in the
// packed panel qp (rows 1..i1, row r at [(r-1) * Lanes]), in vectors V.
template <typename V, int Lanes>
MV_INLINE_KERNEL void accumulatePanel(MatView A, const StepBlock& B, int c0, int c1, double* qp) {
  constexpr int kL = static_cast<int>(sizeof(V) / sizeof(double));
  constexpr int kVecs = Lanes / kL;
  const int i0 = B.i0, i1 = B.i1;
  const int w = c1 - c0 + 1;
  copyPanel<V, Lanes>(A, c0, w, i1, qp, true);
  if (w < Lanes)
    for (int r = 0; r < i1; ++r)
      for (int q = w; q < Lanes; ++q) qp[size(r) * Lanes + size(q)] = 0.0;
  // A column that starts inside the block is a unit vector from its own
  // step on; before that its lane holds values that are never used.
  alignas(64) double s[Lanes];  // sums of the current step
  bool ready = false;           // s holds them already
  for (int i = i0; i <= i1; ++i) {
    const int l = i - 1;
    const bool fuse = i < i1 && B.reflect[size(i + 1 - i0)];
    const double* un = fuse ? B.uOf(i + 1) : nullptr;
    alignas(64) double sn[Lanes];  // sums of the next step, over rows 1..l
    if (B.reflect[size(i - i0)]) {
      const double* u = B.uOf(i);
      const double* v = B.vOf(i);
      V sv[kVecs], tv[kVecs];
      if (!ready) {
        // Every lane's sum at once, each still in ascending r.
        for (int q = 0; q < kVecs; ++q) tv[q] = V{};
        const double* row = qp;
        for (int r = 0; r < l; ++r, row += Lanes) {
          const double ur = u[r];
          for (int q = 0; q < kVecs; ++q) tv[q] += loadVec(V, row + kL * q) * ur;
        }
        for (int q = 0; q < kVecs; ++q) storeVec(V, s + kL * q, tv[q]);
      }
      for (int q = 0; q < kVecs; ++q) {
        sv[q] = loadVec(V, s + kL * q);
        tv[q] = V{};
      }
      double* row = qp;
      if (fuse) {
        for (int r = 0; r < l; ++r, row += Lanes) {
          const double vr = v[r], ur = un[r];
          for (int q = 0; q < kVecs; ++q) {
            const V x = loadVec(V, row + kL * q) - sv[q] * vr;
            storeVec(V, row + kL * q, x);
            tv[q] += x * ur;
          }
        }
        for (int q = 0; q < kVecs; ++q) storeVec(V, sn + kL * q, tv[q]);
      } else {
        for (int r = 0; r < l; ++r, row += Lanes) {
          const double vr = v[r];
          for (int q = 0; q < kVecs; ++q)
            storeVec(V, row + kL * q, loadVec(V, row + kL * q) - sv[q] * vr);
        }
      }
    }
    // Row i becomes that of the unit matrix; so does column i, if here.
    double* rowi = qp + size(l) * Lanes;
    for (int q = 0; q < Lanes; ++q) rowi[q] = 0.0;
    const int lane = i - c0;
    if (lane >= 0 && lane < w) {
      for (int r = 0; r < l; ++r) qp[size(r) * Lanes + size(lane)] = 0.0;
      rowi[lane] = 1.0;
    }
    if (fuse) {
      if (B.reflect[size(i - i0)]) {
        // Term i of the next sums: row i, now zero (one for column i).
        for (int q = 0; q < Lanes; ++q) s[q] = sn[q] + un[l] * rowi[q];
        if (lane >= 0 && lane < w) s[lane] = laneDot<Lanes>(qp, lane, un, i);
        ready = true;
      } else {
        ready = false;
      }
    } else {
      ready = false;
    }
  }
  copyPanel<V, Lanes>(A, c0, w, i1, qp, false);
}

// Columns c0..c1 (c1 - c0 < kTaskColumns) through the steps of the block;
// qp holds kTaskColumns * B.i1 doubles.
#if MV_KERNELS_AVX512
MV_AVX512_KERNEL void accumulateColumns(MatView A, const StepBlock& B, int c0, int c1, double* qp) {
  accumulatePanel<v8, kTaskColumns>(A, B, c0, c1, qp);
}
#endif
#if MV_KERNELS_AVX2
MV_AVX2_KERNEL void accumulateColumns(MatView A, const StepBlock& B, int c0, int c1, double* qp) {
  for (int p0 = c0; p0 <= c1; p0 += kTaskColumns / 2)
    accumulatePanel<v4, kTaskColumns / 2>(A, B, p0, std::min(c1, p0 + kTaskColumns / 2 - 1), qp);
}
#endif
#if MV_KERNELS_BASELINE
MV_BASELINE_KERNEL void accumulateColumns(MatView A, const StepBlock& B, int c0, int c1,
                                          double* qp) {
  for (int p0 = c0; p0 <= c1; p0 += kTaskColumns / 2)
    accumulatePanel<v4, kTaskColumns / 2>(A, B, p0, std::min(c1, p0 + kTaskColumns / 2 - 1), qp);
}
#endif

// Phase 2: build the orthogonal matrix of the reduction in A; d receives the
// diagonal of the tridiagonal matrix.
void accumulate(MatView A, double* d, int n, const Parallel& par) {
  d[0] = A(1, 1);
  A(1, 1) = 1.0;
  StepBlock B;
  B.n = n;
  B.u.resize(size(kStepBlock) * size(n));
  B.v.resize(size(kStepBlock) * size(n));
  B.reflect.resize(size(kStepBlock));
  for (int i0 = 2; i0 <= n; i0 += kStepBlock) {
    const int i1 = std::min(n, i0 + kStepBlock - 1);
    B.i0 = i0;
    B.i1 = i1;
    for (int i = i0; i <= i1; ++i) {
      B.reflect[size(i - i0)] = d[i - 1] > 0.0;
      double* u = B.u.data() + size(i - i0) * size(n);
      double* v = B.v.data() + size(i - i0) * size(n);
      for (int r = 1; r < i; ++r) {
        u[r - 1] = A(i, r);
        v[r - 1] = A(r, i);
      }
    }
    for (int i = i0; i <= i1; ++i) d[i - 1] = A(i, i);
    const int panels = (i1 + kTaskColumns - 1) / kTaskColumns;
    auto task = [&](int p) {
      std::vector<double> qp(size(kTaskColumns) * size(i1));
      const int c0 = 1 + p * kTaskColumns;
      accumulateColumns(A, B, c0, std::min(i1, c0 + kTaskColumns - 1), qp.data());
    };
    if (i1 < kThreadedOrder || par.maxThreads() == 1) {
      for (int p = 0; p < panels; ++p) task(p);
    } else {
      par.run(panels, task);
    }
  }
}

// -------------------------------------------------------------------- QL

[[noreturn]] void noConvergence(int l, int n) {
  refuse(" The symmetric eigen-solver did not converge: eigenvalue " + std::to_string(l) + " of " +
             std::to_string(n) + " still coupled after " + std::to_string(kMaxSweeps) +
             " QL sweeps (the matrix holds non-finite or badly scaled elements).",
         kCodeNoConvergence);
}

// The rotations of the QL sweeps, recorded for the eigenvectors.  A sweep
// rotates the column pairs (i, i+1) for i = top down to top - count + 1;
// its cosines and sines are kept in that order.
struct RotationLog {
  struct Sweep {
    int top, count, at;
  };
  std::vector<double> cs, sn;
  std::vector<Sweep> sweeps;
  int used = 0;
  explicit RotationLog(int capacity) : cs(size(capacity)), sn(size(capacity)) {}
  int capacity() const { return static_cast<int>(cs.size()); }
};

// Rotations recorded before they are applied: a bounded chunk (1 MB), or one
// whole sweep for larger orders.
constexpr int kLogRotations = 1 << 16;
// Rows of the panels the rotations are applied to.
constexpr int kRotRows = 32;
// Columns between the one rotated and the one asked for ahead of time.
constexpr int kPrefetchAhead = 4;

// Two sweeps from the same top column, the second ending no lower than the
// first, on the kPairRows rows from k0: the second sweep follows the first
// one column behind.  Its rotation of columns (q, q+1) needs the first
// sweep's rotations of (q-1, q) and everything before, and nothing of the
// first sweep after that touches columns q or q+1; so every element still
// goes through the same rotations in the same order, while each column is
// loaded and stored once for both sweeps.
constexpr int kPairRows = 16;

MV_INLINE_KERNEL void rotatePair(MatView A, const RotationLog& log, const RotationLog::Sweep& s1,
                                 const RotationLog::Sweep& s2, int k0) {
  constexpr int kV = kPairRows / 4;
  const int top = s1.top;
  const int bot1 = top - s1.count + 1, bot2 = top - s2.count + 1;
  const double* c1 = log.cs.data() + s1.at;
  const double* n1 = log.sn.data() + s1.at;
  const double* c2 = log.cs.data() + s2.at;
  const double* n2 = log.sn.data() + s2.at;
  auto col = [&](int c) { return A.col(c) + (k0 - 1); };
  v4 x1[kV], x2[kV];  // the columns each sweep carries along
  {
    const double* ct = col(top + 1);
    const double* ci = col(top);
    const double c = c1[0], s = n1[0];
    for (int v = 0; v < kV; ++v) {
      const v4 t = load4(ct + 4 * v);
      const v4 vi = load4(ci + 4 * v);
      x2[v] = vi * s + t * c;
      x1[v] = vi * c - t * s;
    }
  }
  for (int r = 1; r < s1.count; ++r) {
    const int p = top - r;  // the first sweep rotates (p, p+1), the second (p+1, p+2)
    const double* ci = col(p);
    if (p > kPrefetchAhead)
      for (int v = 0; v < kPairRows; v += 8)
        __builtin_prefetch(ci - kPrefetchAhead * static_cast<std::ptrdiff_t>(A.ld) + v, 1);
    const double ca = c1[r], sa = n1[r];
    if (p + 1 >= bot2) {
      const double cb = c2[r - 1], sb = n2[r - 1];
      double* out = col(p + 2);
      for (int v = 0; v < kV; ++v) {
        const v4 vi = load4(ci + 4 * v);
        const v4 y = vi * sa + x1[v] * ca;
        x1[v] = vi * ca - x1[v] * sa;
        store4(out + 4 * v, y * sb + x2[v] * cb);
        x2[v] = y * cb - x2[v] * sb;
      }
      if (p + 1 == bot2) {
        double* last = col(p + 1);
        for (int v = 0; v < kV; ++v) store4(last + 4 * v, x2[v]);
      }
    } else {
      double* out = col(p + 1);
      for (int v = 0; v < kV; ++v) {
        const v4 vi = load4(ci + 4 * v);
        store4(out + 4 * v, vi * sa + x1[v] * ca);
        x1[v] = vi * ca - x1[v] * sa;
      }
    }
  }
  if (bot2 == bot1) {
    const double cb = c2[s2.count - 1], sb = n2[s2.count - 1];
    double* cj = col(bot1 + 1);
    double* ci = col(bot1);
    for (int v = 0; v < kV; ++v) {
      store4(cj + 4 * v, x1[v] * sb + x2[v] * cb);
      store4(ci + 4 * v, x1[v] * cb - x2[v] * sb);
    }
  } else {
    double* ci = col(bot1);
    for (int v = 0; v < kV; ++v) store4(ci + 4 * v, x1[v]);
  }
}

// One recorded sweep on the rows k0..k1 of a panel shorter than kRotRows.
MV_INLINE_KERNEL void rotateShortPanel(MatView A, const RotationLog& log,
                                       const RotationLog::Sweep& sw, int k0, int k1) {
  const double* cs = log.cs.data() + sw.at;
  const double* sn = log.sn.data() + sw.at;
  const int m = k1 - k0 + 1;
  const int kv = k0 - 1 + (m / 4) * 4;  // first row (0-based) past the vectors
  for (int r = 0; r < sw.count; ++r) {
    const int i = sw.top - r;
    double* ci = A.col(i);
    double* cj = A.col(i + 1);
    const double c = cs[r], s = sn[r];
    int k = k0 - 1;
    for (; k < kv; k += 4) {
      const v4 t = load4(cj + k);
      const v4 vi = load4(ci + k);
      store4(cj + k, vi * s + t * c);
      store4(ci + k, vi * c - t * s);
    }
    for (; k < k1; ++k) {
      const double t = cj[k];
      cj[k] = s * ci[k] + c * t;
      ci[k] = c * ci[k] - s * t;
    }
  }
}

// The recorded sweeps on rows k0..k1 of A.  Each row is rotated on its own,
// in the recorded order: t = A(k,i+1); A(k,i+1) = sn A(k,i) + cs t;
// A(k,i) = cs A(k,i) - sn t.  Column i+1 of a rotation is column i of the
// one before, so it stays in registers along a sweep.
MV_INLINE_KERNEL void rotateRowsInPairs(MatView A, const RotationLog& log, int k0, int k1) {
  const int m = k1 - k0 + 1;
  const std::size_t sweeps = log.sweeps.size();
  for (std::size_t w = 0; w < sweeps; ++w) {
    const RotationLog::Sweep& sw = log.sweeps[w];
    if (m != kRotRows) {
      rotateShortPanel(A, log, sw, k0, k1);
      continue;
    }
    if (w + 1 < sweeps) {
      const RotationLog::Sweep& next = log.sweeps[w + 1];
      if (next.top == sw.top && next.count <= sw.count) {
        for (int h = 0; h < kRotRows; h += kPairRows) rotatePair(A, log, sw, next, k0 + h);
        ++w;
        continue;
      }
    }
    const double* cs = log.cs.data() + sw.at;
    const double* sn = log.sn.data() + sw.at;
    constexpr int kV = kRotRows / 4;
    v4 x[kV];
    const double* top = A.col(sw.top + 1) + (k0 - 1);
    for (int v = 0; v < kV; ++v) x[v] = load4(top + 4 * v);
    for (int r = 0; r < sw.count; ++r) {
      const int i = sw.top - r;
      double* ci = A.col(i) + (k0 - 1);
      double* cj = A.col(i + 1) + (k0 - 1);
      // The columns come from L2 one after the other, a page apart: ask
      // for a later one ahead of time.
      if (i > kPrefetchAhead)
        for (int v = 0; v < kRotRows; v += 8)
          __builtin_prefetch(ci - kPrefetchAhead * static_cast<std::ptrdiff_t>(A.ld) + v, 1);
      const double c = cs[r], s = sn[r];
      for (int v = 0; v < kV; ++v) {
        const v4 vi = load4(ci + 4 * v);
        store4(cj + 4 * v, vi * s + x[v] * c);
        x[v] = vi * c - x[v] * s;
      }
    }
    double* last = A.col(sw.top - sw.count + 1) + (k0 - 1);
    for (int v = 0; v < kV; ++v) store4(last + 4 * v, x[v]);
  }
}

// G consecutive sweeps from the same top column on the kRotRows rows from
// k0, as a wavefront: sweep g follows sweep g-1 one column behind.  At step
// r, sweep g takes its rotation r - g, of the columns (top - r + g,
// top - r + g + 1), the lower of which sweep g-1 has just left for good, and
// hands the upper one, which it leaves for good, on to sweep g+1; a sweep
// with no rotation at that step (not yet begun, or done) hands it on as it
// is.  So every element still goes through the rotations of the sweeps in
// the recorded order, and each column is loaded and stored once for all G.
// Register x[g] holds column top - r + g + 1 before step r (a column above
// top + 1, which no sweep touches, while sweep g has not begun).
template <int G>
MV_INLINE_KERNEL void rotateWave(MatView A, const RotationLog& log, const RotationLog::Sweep* sw,
                                 int k0) {
  constexpr int kV = kRotRows / 8;
  const int top = sw[0].top;
  int bottom = top;  // the lowest column rotated
  const double* cs[G];
  const double* sn[G];
  int count[G];
  for (int g = 0; g < G; ++g) {
    cs[g] = log.cs.data() + sw[g].at;
    sn[g] = log.sn.data() + sw[g].at;
    count[g] = sw[g].count;
    bottom = std::min(bottom, top - count[g] + 1);
  }
  auto col = [&](int c) { return A.col(c) + (k0 - 1); };
  v8 x[G][kV], y[kV];
  for (int v = 0; v < kV; ++v) x[0][v] = load8(col(top + 1) + 8 * v);
  // The columns above top + 1 only pass through, and are never stored.
  for (int v = 0; v < kV; ++v) {
    for (int g = 1; g < G; ++g) x[g][v] = x[0][v];
    y[v] = x[0][v];
  }
  const int steps = top - bottom + G;
  for (int r = 0; r <= steps; ++r) {
    const int p = top - r;  // the column sweep 0 meets at this step
    if (p >= bottom) {
      const double* cp = col(p);
      if (p - kPrefetchAhead >= bottom)
        for (int v = 0; v < kRotRows; v += 8)
          __builtin_prefetch(cp - kPrefetchAhead * static_cast<std::ptrdiff_t>(A.ld) + v, 1);
      for (int v = 0; v < kV; ++v) y[v] = load8(cp + 8 * v);
    }
    for (int g = 0; g < G; ++g) {
      const int at = r - g;
      if (at >= 0 && at < count[g]) {
        const double c = cs[g][at], s = sn[g][at];
        for (int v = 0; v < kV; ++v) {
          const v8 up = y[v] * s + x[g][v] * c;
          x[g][v] = y[v] * c - x[g][v] * s;
          y[v] = up;
        }
      } else {
        for (int v = 0; v < kV; ++v) {
          const v8 up = x[g][v];
          x[g][v] = y[v];
          y[v] = up;
        }
      }
    }
    if (r >= G - 1) {
      double* out = col(p + G);
      for (int v = 0; v < kV; ++v) store8(out + 8 * v, y[v]);
    }
  }
}

// The same recorded sweeps as rotateRowsInPairs, up to kWaveSweeps from the
// same top column at a time as a wavefront.
constexpr int kWaveSweeps = 4;

MV_INLINE_KERNEL void rotateRowsInWaves(MatView A, const RotationLog& log, int k0, int k1) {
  const int m = k1 - k0 + 1;
  const std::size_t sweeps = log.sweeps.size();
  for (std::size_t w = 0; w < sweeps;) {
    const RotationLog::Sweep* sw = log.sweeps.data() + w;
    if (m != kRotRows) {
      rotateShortPanel(A, log, *sw, k0, k1);
      ++w;
      continue;
    }
    int g = 1;
    while (g < kWaveSweeps && w + g < sweeps && sw[g].top == sw[0].top) ++g;
    switch (g) {
      case 1:
        rotateWave<1>(A, log, sw, k0);
        break;
      case 2:
        rotateWave<2>(A, log, sw, k0);
        break;
      case 3:
        rotateWave<3>(A, log, sw, k0);
        break;
      default:
        rotateWave<kWaveSweeps>(A, log, sw, k0);
        break;
    }
    w += static_cast<std::size_t>(g);
  }
}

#if MV_KERNELS_AVX512
MV_AVX512_KERNEL void rotateRows(MatView A, const RotationLog& log, int k0, int k1) {
  rotateRowsInWaves(A, log, k0, k1);
}
#endif
#if MV_KERNELS_AVX2
MV_AVX2_KERNEL void rotateRows(MatView A, const RotationLog& log, int k0, int k1) {
  rotateRowsInPairs(A, log, k0, k1);
}
#endif
#if MV_KERNELS_BASELINE
MV_BASELINE_KERNEL void rotateRows(MatView A, const RotationLog& log, int k0, int k1) {
  rotateRowsInPairs(A, log, k0, k1);
}
#endif

void applyRotations(MatView A, RotationLog& log, int n, const Parallel& par) {
  if (log.sweeps.empty()) return;
  const RowPanels rp(A, n, kRotRows);
  auto panel = [&](int p) {
    int k0, k1;
    rp.bounds(p, n, k0, k1);
    rotateRows(A, log, k0, k1);
  };
  if (n < kThreadedOrder || par.maxThreads() == 1) {
    for (int p = 0; p < rp.count; ++p) panel(p);
  } else {
    // Threads take groups of neighbouring panels (see reducePass).
    const PanelGroups groups(rp, n, 2 * par.maxThreads(),
                             [](int r0, int r1, int) { return r1 - r0 + 1; });
    par.run(groups.count(), [&](int g) {
      for (int p = groups.first(g); p <= groups.last(g); ++p) panel(p);
    });
  }
  log.sweeps.clear();
  log.used = 0;
}

// Phase 3: QL iteration with implicit shifts on the tridiagonal matrix (d,
// e 1-based, e shifted down here), recording the rotations in `log` when
// given (they never feed back into the eigenvalues, which come out the same
// without them).  Returns 0, or the index of an eigenvalue that did not
// converge within the sweep limit.
// (Scalar code, compiled once: it may allocate, and no exception may leave
// a function compiled in two variants.)
template <bool Vectors>
int qlValues(double* dv, double* e, int n, RotationLog* log, MatView A, const Parallel* par) {
  auto d = [dv](int i) -> double& { return dv[i - 1]; };
  for (int i = 2; i <= n; ++i) e[i - 1] = e[i];
  e[n] = 0.0;

  double shift = 0.0;
  double b = 0.0;
  for (int l = 1; l <= n; ++l) {
    const double t = kQlEps * (std::fabs(d(l)) + std::fabs(e[l]));
    if (t > b) b = t;
    int m = l;
    while (m < n && !(std::fabs(e[m]) <= b)) ++m;
    if (m != l) {
      int sweeps = 0;
      for (;;) {
        double p = (d(l + 1) - d(l)) * 0.5 / e[l];
        double r = std::sqrt(p * p + 1.0);
        const double sigma = p >= 0.0 ? d(l) - e[l] / (p + r) : d(l) - e[l] / (p - r);
        for (int k = l; k <= n; ++k) d(k) -= sigma;
        shift += sigma;

        double* rc = nullptr;
        double* rs = nullptr;
        if (Vectors) {
          if (log->used + (m - l) > log->capacity()) applyRotations(A, *log, n, *par);
          log->sweeps.push_back({m - 1, m - l, log->used});
          rc = log->cs.data() + log->used;
          rs = log->sn.data() + log->used;
          log->used += m - l;
        }
        p = d(m);
        double cs = 1.0;
        double sn = 0.0;
        for (int i = m - 1; i >= l; --i) {
          const double g = cs * e[i];
          const double hh = cs * p;
          if (std::fabs(e[i]) > std::fabs(p)) {
            cs = p / e[i];
            r = std::sqrt(cs * cs + 1.0);
            e[i + 1] = sn * e[i] * r;
            sn = 1.0 / r;
            cs = cs / r;
          } else {
            cs = e[i] / p;
            r = std::sqrt(cs * cs + 1.0);
            e[i + 1] = sn * p * r;
            sn = cs / r;
            cs = 1.0 / r;
          }
          p = cs * d(i) - sn * g;
          d(i + 1) = hh + sn * (cs * g + sn * d(i));
          if (Vectors) {
            *rc++ = cs;
            *rs++ = sn;
          }
        }
        e[l] = sn * p;
        d(l) = cs * p;
        if (std::fabs(e[l]) <= b) break;
        if (++sweeps >= kMaxSweeps) return l;
      }
    }
    d(l) += shift;
  }
  return 0;
}

// The QL phase with the eigenvectors rotated along.
int qlVectors(MatView A, double* d, double* e, int n, const Parallel& par) {
  RotationLog log(std::max(kLogRotations, n));
  const int l = qlValues<true>(d, e, n, &log, A, &par);
  if (l == 0) applyRotations(A, log, n, par);
  return l;
}

// Phase 4: eigenvalues into descending order, the first of equal values
// first, the eigenvectors exchanged along (with `vectors`).
void sortDescending(MatView A, double* d, int n, bool vectors) {
  for (int i = 1; i < n; ++i) {
    int k = i;
    double p = d[i - 1];
    for (int j = i + 1; j <= n; ++j) {
      if (d[j - 1] > p) {
        k = j;
        p = d[j - 1];
      }
    }
    if (k != i) {
      d[k - 1] = d[i - 1];
      d[i - 1] = p;
      if (!vectors) continue;
      double* ci = A.col(i);
      double* ck = A.col(k);
      for (int r = 0; r < n; ++r) std::swap(ci[r], ck[r]);
    }
  }
}

void checkOrder(int n, int lda) {
  if (lda < n) stopCode(kCodeLimit);
}

// The whole solve; false when `abandon` became true before it was done.
bool solve(double* a, int lda, double* d, int n, const Parallel& par,
           const std::atomic<bool>* abandon) {
  if (n <= 0) return true;
  checkOrder(n, lda);
  const MatView A{a, lda};
  if (n == 1) {
    d[0] = A(1, 1);
    A(1, 1) = 1.0;
    return true;
  }
  std::vector<double> e(size(n) + 1);
  if (!reduce(A, d, e.data(), n, par, abandon)) return false;
  accumulate(A, d, n, par);
  if (const int l = qlVectors(A, d, e.data(), n, par); l != 0) noConvergence(l, n);
  sortDescending(A, d, n, true);
  return true;
}

}  // namespace

MV_KERNELS_ENTRY_BEGIN

// (Not every source that takes in these definitions calls this one.)
[[maybe_unused]] bool sdiagUnlessAbandoned(double* a, int lda, double* d, int n,
                                           const Parallel& par, const std::atomic<bool>& abandon) {
  return solve(a, lda, d, n, par, &abandon);
}

void sdiag(double* a, int lda, double* d, int n, const Parallel& par) {
  solve(a, lda, d, n, par, nullptr);
}

bool sdiagUnlessAllBelow(double* a, int lda, double* d, int n, double threshold,
                         const Parallel& par) {
  if (n <= 0) return false;
  checkOrder(n, lda);
  const MatView A{a, lda};
  if (n == 1) {
    d[0] = A(1, 1);
    A(1, 1) = 1.0;
    return !(d[0] < threshold);
  }
  std::vector<double> e(size(n) + 1);
  reduce(A, d, e.data(), n, par);
  // The eigenvalues alone: the diagonal of the reduced matrix, which the
  // accumulation would leave as it is, and the QL phase without rotations.
  // The state of the reduction (d, e) is kept for the eigenvectors.
  const std::vector<double> scales(d, d + n);
  const std::vector<double> offDiagonal = e;
  for (int i = 1; i <= n; ++i) d[i - 1] = A(i, i);
  if (const int l = qlValues<false>(d, e.data(), n, nullptr, A, nullptr); l != 0)
    noConvergence(l, n);
  sortDescending(A, d, n, false);
  bool allBelow = true;
  for (int k = 0; k < n; ++k) allBelow = allBelow && d[k] < threshold;
  if (allBelow) return false;

  std::copy(scales.begin(), scales.end(), d);
  e = offDiagonal;
  accumulate(A, d, n, par);
  if (const int l = qlVectors(A, d, e.data(), n, par); l != 0) noConvergence(l, n);
  sortDescending(A, d, n, true);
  return true;
}

MV_KERNELS_ENTRY_END

}  // namespace mv
