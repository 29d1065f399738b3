#include "analysis/occupations.h"

#include <cblas.h>
#include <dlfcn.h>

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <limits>

#include "analysis/sdiag.h"

namespace mv {

namespace {

// Columns per task of the products: every panel is one call of the library
// on one thread, so its result does not depend on which thread takes it.
constexpr int kPanel = 128;

// The system's OpenBLAS, loaded when a run first needs it: linked in, its
// start-up would cost every run of the program several milliseconds, the
// classic run and a batch of small files included.  Each call runs on the
// calling thread alone (the threads of a run share the panels among
// themselves); that is set once, before the first call.
struct Blas {
  using Gemm = void (*)(CBLAS_ORDER, CBLAS_TRANSPOSE, CBLAS_TRANSPOSE, blasint, blasint, blasint,
                        double, const double*, blasint, const double*, blasint, double, double*,
                        blasint);
  using Trmm = void (*)(CBLAS_ORDER, CBLAS_SIDE, CBLAS_UPLO, CBLAS_TRANSPOSE, CBLAS_DIAG, blasint,
                        blasint, double, const double*, blasint, double*, blasint);
  using Potrf = void (*)(const char*, const int*, double*, const int*, int*, std::size_t);
  using Threads = void (*)(int);
  Gemm gemm = nullptr;
  Trmm trmm = nullptr;
  Potrf potrf = nullptr;
  bool ok = false;

  Blas() {
    void* lib = dlopen("libopenblas.so.0", RTLD_NOW | RTLD_LOCAL);
    if (lib == nullptr) return;
    gemm = reinterpret_cast<Gemm>(dlsym(lib, "cblas_dgemm"));
    trmm = reinterpret_cast<Trmm>(dlsym(lib, "cblas_dtrmm"));
    potrf = reinterpret_cast<Potrf>(dlsym(lib, "dpotrf_"));
    const auto threads = reinterpret_cast<Threads>(dlsym(lib, "openblas_set_num_threads"));
    if (gemm == nullptr || trmm == nullptr || potrf == nullptr || threads == nullptr) return;
    threads(1);
    ok = true;
  }
};

const Blas& blas() {
  static const Blas b;
  return b;
}

// Orders below which the factorisations and products run here, without
// loading the library: for them, loading it would cost more than the work.
constexpr int kLibraryOrder = 160;

bool useLibrary(int n) {
  return n >= kLibraryOrder;
}

// Lower Cholesky factorisation in place, column by column; true when it
// succeeds.
bool smallCholesky(Matrix& a) {
  const int n = a.rows();
  for (int j = 1; j <= n; ++j) {
    for (int k = 1; k < j; ++k) {
      const double f = a(j, k);
      for (int i = j; i <= n; ++i) a(i, j) -= a(i, k) * f;
    }
    if (!(a(j, j) > 0.0)) return false;
    const double d = std::sqrt(a(j, j));
    for (int i = j; i <= n; ++i) a(i, j) /= d;
  }
  return true;
}

// Lower Cholesky factorisation in place; true when it succeeds.
bool cholesky(Matrix& a) {
  const int n = a.rows();
  if (n == 0) return true;
  if (!useLibrary(n)) return smallCholesky(a);
  const int lda = a.ld();
  int info = 0;
  blas().potrf("L", &n, a.col(1), &lda, &info, 1);
  return info == 0;
}

int panels(int n) {
  return (n + kPanel - 1) / kPanel;
}

// occupationForm() for small orders, by plain sums.
Matrix smallForm(const Matrix& l, const Matrix& a, double c) {
  const int n = a.rows();
  Matrix y(n, n), q(n, n), r(n, n);
  for (int j = 1; j <= n; ++j)  // Y = A L
    for (int k = j; k <= n; ++k)
      for (int i = 1; i <= n; ++i) y(i, j) += a(i, k) * l(k, j);
  for (int j = 1; j <= n; ++j)  // Q = L^T Y
    for (int i = 1; i <= n; ++i)
      for (int k = i; k <= n; ++k) q(i, j) += l(k, i) * y(k, j);
  for (int j = 1; j <= n; ++j)
    for (int i = j + 1; i <= n; ++i) q(i, j) = q(j, i) = 0.5 * (q(i, j) + q(j, i));
  for (int j = 1; j <= n; ++j)  // C = c Q - Q Q, lower triangle
    for (int i = j; i <= n; ++i) {
      double sum = 0.0;
      for (int k = 1; k <= n; ++k) sum += q(k, i) * q(k, j);
      r(i, j) = c * q(i, j) - sum;
    }
  return r;
}

}  // namespace

bool occupationsAvailable(int n) {
  return !useLibrary(n) || blas().ok;
}

Matrix overlapFactor(const Matrix& s, const Parallel& par) {
  const int n = s.rows();
  if (!occupationsAvailable(n)) return Matrix();
  Matrix l = Matrix::uninitialised(n, n);
  par.run(panels(n), [&](int t) {
    const int j0 = t * kPanel + 1;
    const int j1 = std::min(n, j0 + kPanel - 1);
    for (int j = j0; j <= j1; ++j) {
      for (int i = 1; i < j; ++i) l(i, j) = 0.0;
      for (int i = j; i <= n; ++i) l(i, j) = s(i, j);
    }
  });
  if (!cholesky(l)) return Matrix();
  return l;
}

Matrix occupationForm(const Matrix& l, const Matrix& a, double c, const Parallel& par) {
  const int n = a.rows();
  Matrix q = Matrix::uninitialised(n, n);
  if (n == 0) return q;
  if (!useLibrary(n)) return smallForm(l, a, c);
  // Q = L^T (A L), panel by panel of columns: L(j0:n, J) is lower
  // trapezoidal, so A L takes rows j0..n of it only.
  par.run(panels(n), [&](int t) {
    const int j0 = t * kPanel + 1;
    const int b = std::min(kPanel, n - j0 + 1);
    blas().gemm(CblasColMajor, CblasNoTrans, CblasNoTrans, n, b, n - j0 + 1, 1.0, a.col(j0), a.ld(),
                &l.col(j0)[j0 - 1], l.ld(), 0.0, q.col(j0), q.ld());
    blas().trmm(CblasColMajor, CblasLeft, CblasLower, CblasTrans, CblasNonUnit, n, b, 1.0, l.col(1),
                l.ld(), q.col(j0), q.ld());
  });
  // Q is symmetric but for rounding: both triangles take the mean.
  for (int j = 1; j <= n; ++j)
    for (int i = j + 1; i <= n; ++i) {
      const double m = 0.5 * (q(i, j) + q(j, i));
      q(i, j) = m;
      q(j, i) = m;
    }
  // The lower triangle of C = c Q - Q Q, by panels of columns again.
  Matrix r = Matrix::uninitialised(n, n);
  par.run(panels(n), [&](int t) {
    const int j0 = t * kPanel + 1;
    const int b = std::min(kPanel, n - j0 + 1);
    const int m = n - j0 + 1;
    for (int j = j0; j < j0 + b; ++j)
      for (int i = j0; i <= n; ++i) r(i, j) = c * q(i, j);
    blas().gemm(CblasColMajor, CblasNoTrans, CblasNoTrans, m, b, n, -1.0, &q.col(1)[j0 - 1], q.ld(),
                q.col(j0), q.ld(), 1.0, &r.col(j0)[j0 - 1], r.ld());
  });
  return r;
}

double frobeniusLower(const Matrix& c) {
  const int n = c.rows();
  double off = 0.0;
  double diag = 0.0;
  for (int j = 1; j <= n; ++j) {
    diag += c(j, j) * c(j, j);
    for (int i = j + 1; i <= n; ++i) off += c(i, j) * c(i, j);
  }
  return std::sqrt(diag + 2.0 * off);
}

bool allEigenvaluesBelow(Matrix& c, double t) {
  const int n = c.rows();
  for (int j = 1; j <= n; ++j) {
    for (int i = j; i <= n; ++i) c(i, j) = -c(i, j);
    c(j, j) += t;
  }
  return cholesky(c);
}

Vec1<double> eigenvaluesLower(Matrix& c, const Parallel& par) {
  const int n = c.rows();
  Vec1<double> d(n);
  sdiagUnlessAllBelow(c.col(1), c.ld(), d.data(), n, std::numeric_limits<double>::infinity(), par);
  return d;
}

}  // namespace mv
