// Dense products for the bond-order analysis.
//
// Every element of C is its own sum over k, one rounding per product and one
// per addition, in ascending k.  The elements are computed in panels:
//  - rows in chunks of kNI: the chunk of A is copied into a contiguous
//    buffer, and kNI by kNJ elements of C are accumulated in registers while
//    k runs from 1 to n (each register lane holds one element of C);
//  - the rows left over (fewer than kNI): NJ columns at a time, adding the
//    column A(:,k) times the factors of row k to accumulators in L1.
#include "analysis/linalg.h"

#include <algorithm>

namespace mv {

namespace {

typedef double v4 __attribute__((vector_size(32)));  // four lanes, one element each

constexpr int kVec = 3;        // vectors per column of a register panel
constexpr int kNI = 4 * kVec;  // rows of a register panel
constexpr int kNJ = 4;         // columns of a panel
constexpr int kRows = 64;      // rows of an L1 panel

// The kNI-row chunk of A being multiplied: packed(r, k) at [(k-1)*kNI + r].
constexpr int kLd = 500;  // longest column of a chunk
alignas(64) double packed[kNI * kLd];

// C(i0..i0+kNI-1, j0..j0+NJ-1) from the packed chunk of A.
template <int NJ>
MV_INLINE_KERNEL void registerPanel(MatView c, MatView b, int n, int i0, int j0) {
  v4 acc[NJ][kVec];
  for (int jj = 0; jj < NJ; ++jj)
    for (int q = 0; q < kVec; ++q) acc[jj][q] = v4{0.0, 0.0, 0.0, 0.0};
  const double* ap = packed;
  for (int k = 1; k <= n; ++k, ap += kNI) {
    v4 av[kVec];
    for (int q = 0; q < kVec; ++q) __builtin_memcpy(&av[q], ap + 4 * q, sizeof(v4));
    for (int jj = 0; jj < NJ; ++jj) {
      const double f = b(k, j0 + jj);
      const v4 fv = {f, f, f, f};
      for (int q = 0; q < kVec; ++q) acc[jj][q] += av[q] * fv;
    }
  }
  for (int jj = 0; jj < NJ; ++jj) {
    double* cj = c.col(j0 + jj) + (i0 - 1);
    for (int q = 0; q < kVec; ++q) __builtin_memcpy(cj + 4 * q, &acc[jj][q], sizeof(v4));
  }
}

// C(i0..i0+ni-1, j0..j0+NJ-1), ni <= kRows, straight from the columns of A
// (each scaled by w(k) when Scaled).
template <int NJ, bool Scaled>
MV_INLINE_KERNEL void cachePanel(MatView c, MatView a, MatView b, const double* w, int n, int i0,
                                 int ni, int j0) {
  double acc[NJ][kRows];
  for (int jj = 0; jj < NJ; ++jj)
    for (int i = 0; i < ni; ++i) acc[jj][i] = 0.0;
  for (int k = 1; k <= n; ++k) {
    const double* ak = a.col(k) + (i0 - 1);
    double f[NJ];
    for (int jj = 0; jj < NJ; ++jj) f[jj] = b(k, j0 + jj);
    const double wk = Scaled ? w[k - 1] : 1.0;
    for (int i = 0; i < ni; ++i) {
      const double x = Scaled ? ak[i] * wk : ak[i];
      for (int jj = 0; jj < NJ; ++jj) acc[jj][i] += x * f[jj];
    }
  }
  for (int jj = 0; jj < NJ; ++jj) {
    double* cj = c.col(j0 + jj) + (i0 - 1);
    for (int i = 0; i < ni; ++i) cj[i] = acc[jj][i];
  }
}

// C = A' * B with A'(i,k) = A(i,k) * w(k) when Scaled, A'= A otherwise.
template <bool Scaled>
MV_WIDE_KERNEL void product(MatView c, MatView a, MatView b, const double* w, int n) {
  const int full = n / kNI * kNI;
  for (int i0 = 1; i0 <= full; i0 += kNI) {
    for (int k = 1; k <= n; ++k) {
      const double* ak = a.col(k) + (i0 - 1);
      double* pk = packed + static_cast<std::ptrdiff_t>(k - 1) * kNI;
      const double wk = Scaled ? w[k - 1] : 1.0;
      for (int r = 0; r < kNI; ++r) pk[r] = Scaled ? ak[r] * wk : ak[r];
    }
    int j0 = 1;
    for (; j0 + kNJ - 1 <= n; j0 += kNJ) registerPanel<kNJ>(c, b, n, i0, j0);
    for (; j0 <= n; ++j0) registerPanel<1>(c, b, n, i0, j0);
  }
  if (full < n) {
    const int i0 = full + 1;
    const int ni = n - full;
    int j0 = 1;
    for (; j0 + kNJ - 1 <= n; j0 += kNJ) cachePanel<kNJ, Scaled>(c, a, b, w, n, i0, ni, j0);
    for (; j0 <= n; ++j0) cachePanel<1, Scaled>(c, a, b, w, n, i0, ni, j0);
  }
}

}  // namespace

void matmul(MatView c, MatView a, MatView b, int n) {
  product<false>(c, a, b, nullptr, n);
}

// C(i,j) = sum over k of (U(i,k) w(k)) U^T(k,j): U^T goes to the scratch
// matrix, so that both factors of every term are read along columns, and the
// scaling by w is applied as the rows of U are packed.
void spectral(MatView c, MatView u, const double* w, MatView scratch, int n) {
  constexpr int kTile = 16;
  for (int j0 = 1; j0 <= n; j0 += kTile)
    for (int i0 = 1; i0 <= n; i0 += kTile) {
      const int j1 = std::min(j0 + kTile - 1, n);
      const int i1 = std::min(i0 + kTile - 1, n);
      for (int j = j0; j <= j1; ++j)
        for (int i = i0; i <= i1; ++i) scratch(i, j) = u(j, i);
    }
  product<true>(c, u, scratch, w, n);
}

}  // namespace mv
