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

#include "analysis/analysis.h"
#include "analysis/linalg.h"
#include "driver/stop.h"

namespace mv {

namespace {

constexpr double kReduceTol = 5e-15;  // absolute: rows this small need no reflection
constexpr double kQlEps = 5e-10;      // relative convergence factor of the QL phase
constexpr int kMaxSweeps = 300;       // QL sweeps allowed for one eigenvalue

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

// Phase 2: build the orthogonal matrix of the reduction in A; d receives the
// diagonal of the tridiagonal matrix.
MV_WIDE_KERNEL void accumulate(MatView A, double* d, int n) {
  d[0] = A(1, 1);
  A(1, 1) = 1.0;
  for (int i = 2; i <= n; ++i) {
    const int l = i - 1;
    if (d[i - 1] > 0.0) {
      for (int k = 1; k <= l; ++k) u[k] = A(i, k);
      const double* ci = A.col(i);
      for (int j0 = 1; j0 <= l; j0 += kChains) {
        const int j1 = std::min(j0 + kChains - 1, l);
        for (int j = j0; j <= j1; ++j) sv[j] = 0.0;
        columnDots(A, j0, j1, u, 1, l, sv);
        for (int j = j0; j <= j1; ++j) {
          double* cj = A.col(j);
          const double sj = sv[j];
          for (int k = 1; k <= l; ++k) cj[k - 1] -= sj * ci[k - 1];
        }
      }
    }
    d[i - 1] = A(i, i);
    A(i, i) = 1.0;
    for (int j = 1; j <= l; ++j) {
      A(i, j) = 0.0;
      A(j, i) = 0.0;
    }
  }
}

[[noreturn]] void noConvergence(int l, int n) {
  refuse(" The symmetric eigen-solver did not converge: eigenvalue " + std::to_string(l) + " of " +
             std::to_string(n) + " still coupled after " + std::to_string(kMaxSweeps) +
             " QL sweeps (the matrix holds non-finite or badly scaled elements).",
         kCodeNoConvergence);
}

// Phase 3: QL iteration with implicit shifts on the tridiagonal matrix,
// rotating the columns of A along.  Returns 0, or the index of an
// eigenvalue that did not converge within the sweep limit (the caller
// reports it: no exception may leave a function compiled in two variants).
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
// first, the eigenvectors exchanged along.
void sortDescending(MatView A, double* d, int n) {
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
  if (const int l = ql(A, d, n); l != 0) noConvergence(l, n);
  sortDescending(A, d, n);
}

}  // namespace mv
