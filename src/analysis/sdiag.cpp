// Symmetric eigen-solver: Householder reduction to tridiagonal form with the
// transformations accumulated in the matrix itself, the QL algorithm with
// implicit shifts, and a sort of the eigenvalues into descending order.
//
// Only the lower triangle of the leading n by n block is read; its upper
// triangle serves as work space.  The row-wise sums of the reduction are
// evaluated by sweeping the lower triangle column by column, which keeps
// every access unit-stride in column-major storage while each sum still
// receives its terms in ascending index order.
#include <algorithm>
#include <cmath>
#include <string>

#include "analysis/sdiag.h"

#include "analysis/linalg.h"
#include "core/stop.h"

namespace mv {

namespace {

constexpr double kReduceTol = 5e-15;  // absolute: rows this small need no reflection
constexpr double kQlEps = 5e-10;      // relative convergence factor of the QL phase
constexpr int kMaxSweeps = 300;       // QL sweeps allowed for one eigenvalue
constexpr int kMaxBf = 500;           // order of the work vectors

// Off-diagonal vector of the tridiagonal matrix (1-based, e[1..n]).
double e[kMaxBf + 1];
// Copy of the current row of the reduction (1-based).
double u[kMaxBf + 1];
// Partial sums of the row-wise products of the reduction (1-based).
double acc[kMaxBf + 1];
// The sums s(j) of one step of the reduction or the accumulation (1-based).
double sv[kMaxBf + 1];

// Independent sums computed side by side: an ordered sum is a chain of
// dependent additions, so several of them run in parallel to keep the
// floating-point units busy.
constexpr int kChains = 8;

// sv(j) += sum over r = r0..r1, ascending, of A(r,j) v(r), for j = j0..j1.
MV_INLINE_KERNEL void columnDots(MatView A, int j0, int j1, const double* v, int r0, int r1,
                                 double* s) {
  if (j1 - j0 + 1 == kChains) {
    const double* c[kChains];
    double t[kChains];
    for (int q = 0; q < kChains; ++q) {
      c[q] = A.col(j0 + q);
      t[q] = s[j0 + q];
    }
    for (int r = r0; r <= r1; ++r) {
      const double vr = v[r];
      for (int q = 0; q < kChains; ++q) t[q] += c[q][r - 1] * vr;
    }
    for (int q = 0; q < kChains; ++q) s[j0 + q] = t[q];
    return;
  }
  for (int j = j0; j <= j1; ++j) {
    const double* cj = A.col(j);
    double t = s[j];
    for (int r = r0; r <= r1; ++r) t += cj[r - 1] * v[r];
    s[j] = t;
  }
}

// Phase 1: reduce rows n..2 to tridiagonal form.  d(i) receives the scale h
// of the reflection of row i (0 when the row needs none) and e(i) the
// sub-diagonal element of row i.
MV_WIDE_KERNEL void reduce(MatView A, double* d, int n) {
  for (int i = n; i >= 2; --i) {
    const int l = i - 1;
    for (int k = 1; k <= l; ++k) u[k] = A(i, k);
    double f = u[l];
    double g = 0.0;
    for (int k = 1; k <= i - 2; ++k) g += u[k] * u[k];
    double h = g + f * f;
    if (i == 2 || h < kReduceTol || g == 0.0) {
      e[i] = f;
      d[i - 1] = 0.0;
      continue;
    }
    const double gp = f > 0.0 ? -std::sqrt(h) : std::sqrt(h);
    h -= f * gp;
    A(i, l) = f - gp;
    u[l] = f - gp;

    // s(j) = sum_k A(j,k) u(k) over k <= j, then A(k,j) u(k) over k > j.
    // Column j supplies the k = j term of row j, the k > j tail of s(j) and
    // the k = j term of every later row.  The columns go in blocks: first
    // the block's own triangle, then the later rows' partial sums acc(r),
    // then the tails of the block's sums side by side.
    for (int j = 1; j <= l; ++j) acc[j] = 0.0;
    for (int j0 = 1; j0 <= l; j0 += kChains) {
      const int j1 = std::min(j0 + kChains - 1, l);
      for (int j = j0; j <= j1; ++j) {
        const double* cj = A.col(j);
        const double uj = u[j];
        double sum = acc[j] + cj[j - 1] * uj;
        for (int r = j + 1; r <= j1; ++r) {
          const double x = cj[r - 1];
          acc[r] += x * uj;
          sum += x * u[r];
        }
        sv[j] = sum;
      }
      for (int j = j0; j <= j1; ++j) {
        const double* cj = A.col(j);
        const double uj = u[j];
        for (int r = j1 + 1; r <= l; ++r) acc[r] += cj[r - 1] * uj;
      }
      columnDots(A, j0, j1, u, j1 + 1, l, sv);
    }
    double ff = 0.0;
    for (int j = 1; j <= l; ++j) {
      const double aji = u[j] / h;
      A(j, i) = aji;
      e[j] = sv[j] / h;
      ff += sv[j] * aji;
    }
    const double kk = ff / (h + h);
    for (int j = 1; j <= l; ++j) e[j] -= kk * u[j];

    // A(j,k) = A(j,k) - u(j) e(k) - e(j) u(k) on the lower triangle, column by column.
    for (int k = 1; k <= l; ++k) {
      double* ck = A.col(k);
      const double ek = e[k];
      const double uk = u[k];
      for (int j = k; j <= l; ++j) ck[j - 1] = ck[j - 1] - u[j] * ek - e[j] * uk;
    }
    d[i - 1] = h;
    e[i] = gp;
  }
}

// Exchange A(i,j) and A(j,i) over the leading n by n block, tile by tile.
MV_INLINE_KERNEL void transposeInPlace(MatView A, int n) {
  constexpr int kTile = 16;
  for (int j0 = 1; j0 <= n; j0 += kTile) {
    const int j1 = std::min(j0 + kTile - 1, n);
    for (int i0 = j0; i0 <= n; i0 += kTile) {
      const int i1 = std::min(i0 + kTile - 1, n);
      for (int j = j0; j <= j1; ++j)
        for (int i = (i0 == j0 ? j + 1 : i0); i <= i1; ++i) std::swap(A(i, j), A(j, i));
    }
  }
}

typedef double v4 __attribute__((vector_size(32)));  // four consecutive elements
// The same at any address aligned for a double, for loads and stores.
typedef double v4u __attribute__((vector_size(32), aligned(8), may_alias));
#define load4(p) (*reinterpret_cast<const v4u*>(p))
#define store4(p, v) (*reinterpret_cast<v4u*>(p) = (v))

// The sums of the current and the next step of the accumulation (0-based,
// on cache lines like the columns they are combined with).
alignas(64) double sumsA[kMaxBf];
alignas(64) double sumsB[kMaxBf];

// s[j-1] = sum over r = 1..l, ascending, of T(j,r) u(r), for j = 1..m, with u
// the column `uc` of T; four columns of T per pass over s.
MV_INLINE_KERNEL void transposedDots(MatView T, int uc, int l, int m, double* s) {
  const double* u = T.col(uc);
  for (int j = 0; j < m; ++j) s[j] = 0.0;
  int r = 1;
  for (; r + 3 <= l; r += 4) {
    const double* c0 = T.col(r);
    const double* c1 = T.col(r + 1);
    const double* c2 = T.col(r + 2);
    const double* c3 = T.col(r + 3);
    const double u0 = u[r - 1], u1 = u[r], u2 = u[r + 1], u3 = u[r + 2];
    int j = 0;
    for (; j + 4 <= m; j += 4) {
      v4 t = load4(s + j);
      t += load4(c0 + j) * u0;
      t += load4(c1 + j) * u1;
      t += load4(c2 + j) * u2;
      t += load4(c3 + j) * u3;
      store4(s + j, t);
    }
    for (; j < m; ++j) {
      double t = s[j];
      t += c0[j] * u0;
      t += c1[j] * u1;
      t += c2[j] * u2;
      t += c3[j] * u3;
      s[j] = t;
    }
  }
  for (; r <= l; ++r) {
    const double* cr = T.col(r);
    const double ur = u[r - 1];
    for (int j = 0; j < m; ++j) s[j] += cr[j] * ur;
  }
}

// Phase 2: build the orthogonal matrix of the reduction in A; d receives the
// diagonal of the tridiagonal matrix.
//
// Step i (with a reflection) forms s(j) = sum over r < i of A(r,j) A(i,r),
// r ascending, then A(k,j) = A(k,j) - s(j) A(k,i), for j, k < i; after it,
// row and column i become those of the unit matrix.  Both are evaluated on
// the transpose T of A, where they become unit-stride loops over j: s(j)
// grows by T(j,r) T(r,i) for r = 1, 2, ... and T(j,k) = T(j,k) - s(j) T(i,k).
// The update of step i and the sums of step i+1 go in one pass over T: as
// soon as column k of T is final for step i, it supplies term k of every
// sum of step i+1, so each sum still receives its terms in ascending order
// from the same values.  The transpose is taken before and undone after, in
// place.
MV_WIDE_KERNEL void accumulate(MatView A, double* d, int n) {
  transposeInPlace(A, n);
  const MatView T = A;
  d[0] = T(1, 1);
  T(1, 1) = 1.0;
  double* s = sumsA;   // sums of the current step, s[j-1] = s(j)
  double* sn = sumsB;  // sums of the next step
  bool ready = false;  // s holds the sums of the current step
  for (int i = 2; i <= n; ++i) {
    const int l = i - 1;
    const bool reflect = d[i - 1] > 0.0;
    const bool fuse = reflect && i < n && d[i] > 0.0;
    if (reflect && !ready) transposedDots(T, i, l, l, s);
    if (fuse) {
      // Update of step i with the sums of step i+1 (over rows 1..i).
      const double* un = T.col(i + 1);
      const double* s0 = s;
      double* t0 = sn;
      for (int j = 0; j < i; ++j) t0[j] = 0.0;
      int k = 1;
      for (; k + 3 <= l; k += 4) {
        double* c0 = T.col(k);
        double* c1 = T.col(k + 1);
        double* c2 = T.col(k + 2);
        double* c3 = T.col(k + 3);
        const double f0 = T(i, k), f1 = T(i, k + 1), f2 = T(i, k + 2), f3 = T(i, k + 3);
        const double u0 = un[k - 1], u1 = un[k], u2 = un[k + 1], u3 = un[k + 2];
        int j = 0;
        for (; j + 4 <= l; j += 4) {
          const v4 sj = load4(s0 + j);
          const v4 x0 = load4(c0 + j) - sj * f0;
          const v4 x1 = load4(c1 + j) - sj * f1;
          const v4 x2 = load4(c2 + j) - sj * f2;
          const v4 x3 = load4(c3 + j) - sj * f3;
          store4(c0 + j, x0);
          store4(c1 + j, x1);
          store4(c2 + j, x2);
          store4(c3 + j, x3);
          v4 t = load4(t0 + j);
          t += x0 * u0;
          t += x1 * u1;
          t += x2 * u2;
          t += x3 * u3;
          store4(t0 + j, t);
        }
        for (; j < l; ++j) {
          const double x0 = c0[j] - s0[j] * f0;
          const double x1 = c1[j] - s0[j] * f1;
          const double x2 = c2[j] - s0[j] * f2;
          const double x3 = c3[j] - s0[j] * f3;
          c0[j] = x0;
          c1[j] = x1;
          c2[j] = x2;
          c3[j] = x3;
          double t = t0[j];
          t += x0 * u0;
          t += x1 * u1;
          t += x2 * u2;
          t += x3 * u3;
          t0[j] = t;
        }
        // Row i of these columns is cleared and enters the sum of row i.
        for (int q = 0; q < 4; ++q) {
          T(i, k + q) = 0.0;
          t0[l] += T(i, k + q) * un[k + q - 1];
        }
      }
      for (; k <= l; ++k) {
        double* ck = T.col(k);
        const double f = T(i, k);
        const double uk = un[k - 1];
        for (int j = 0; j < l; ++j) {
          const double x = ck[j] - s0[j] * f;
          ck[j] = x;
          t0[j] += x * uk;
        }
        T(i, k) = 0.0;
        t0[l] += T(i, k) * uk;
      }
      d[i - 1] = T(i, i);
      T(i, i) = 1.0;
      for (int j = 1; j <= l; ++j) T(j, i) = 0.0;
      // Term i of the next sums: column i, now that of the unit matrix.
      const double* ci = T.col(i);
      const double ui = un[i - 1];
      for (int j = 0; j < i; ++j) t0[j] += ci[j] * ui;
      std::swap(s, sn);
      ready = true;
      continue;
    }
    if (reflect) {
      const double* s0 = s;
      for (int k = 1; k <= l; ++k) {
        double* ck = T.col(k);
        const double f = T(i, k);
        for (int j = 0; j < l; ++j) ck[j] -= s0[j] * f;
      }
    }
    ready = false;
    d[i - 1] = T(i, i);
    T(i, i) = 1.0;
    for (int j = 1; j <= l; ++j) {
      T(i, j) = 0.0;
      T(j, i) = 0.0;
    }
  }
  transposeInPlace(A, n);
}

[[noreturn]] void noConvergence(int l, int n) {
  refuse(" The symmetric eigen-solver did not converge: eigenvalue " + std::to_string(l) + " of " +
             std::to_string(n) + " still coupled after " + std::to_string(kMaxSweeps) +
             " QL sweeps (the matrix holds non-finite or badly scaled elements).",
         kCodeNoConvergence);
}

// Phase 3: QL iteration with implicit shifts on the tridiagonal matrix,
// rotating the columns of A along when Vectors is set (the rotations never
// feed back into the eigenvalues, which come out the same without them).
// Returns 0, or the index of an eigenvalue that did not converge within the
// sweep limit (the caller reports it: no exception may leave a function
// compiled in two variants).
template <bool Vectors>
MV_WIDE_KERNEL int ql(MatView A, double* dv, int n) {
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
          if (!Vectors) continue;
          double* vi = A.col(i);
          double* vj = A.col(i + 1);
          for (int k = 0; k < n; ++k) {
            const double x = vj[k];
            vj[k] = sn * vi[k] + cs * x;
            vi[k] = cs * vi[k] - sn * x;
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
      for (int r = 0; r < n; ++r) {
        const double x = ci[r];
        ci[r] = ck[r];
        ck[r] = x;
      }
    }
  }
}

}  // namespace

void sdiag(double* a, int lda, double* d, int n) {
  if (n <= 0) return;
  if (n > kMaxBf || lda < n) stopCode(kCodeLimit);
  const MatView A{a, lda};
  if (n == 1) {
    d[0] = A(1, 1);
    A(1, 1) = 1.0;
    return;
  }
  reduce(A, d, n);
  accumulate(A, d, n);
  if (const int l = ql<true>(A, d, n); l != 0) noConvergence(l, n);
  sortDescending(A, d, n, true);
}

bool sdiagUnlessAllBelow(double* a, int lda, double* d, int n, double threshold) {
  if (n <= 0) return false;
  if (n > kMaxBf || lda < n) stopCode(kCodeLimit);
  const MatView A{a, lda};
  if (n == 1) {
    d[0] = A(1, 1);
    A(1, 1) = 1.0;
    return !(d[0] < threshold);
  }
  reduce(A, d, n);
  // The eigenvalues alone: the diagonal of the reduced matrix, which the
  // accumulation would leave as it is, and the QL phase without rotations.
  // The state of the reduction (d, e) is kept for the eigenvectors.
  static double scales[kMaxBf];
  static double offDiagonal[kMaxBf + 1];
  std::copy(d, d + n, scales);
  std::copy(e, e + n + 1, offDiagonal);
  for (int i = 1; i <= n; ++i) d[i - 1] = A(i, i);
  if (const int l = ql<false>(A, d, n); l != 0) noConvergence(l, n);
  sortDescending(A, d, n, false);
  bool allBelow = true;
  for (int k = 0; k < n; ++k) allBelow = allBelow && d[k] < threshold;
  if (allBelow) return false;

  std::copy(scales, scales + n, d);
  std::copy(offDiagonal, offDiagonal + n + 1, e);
  accumulate(A, d, n);
  if (const int l = ql<true>(A, d, n); l != 0) noConvergence(l, n);
  sortDescending(A, d, n, true);
  return true;
}

}  // namespace mv
