#include "analysis/occupations.h"

#include <cblas.h>
#include <dlfcn.h>
#include <sys/mman.h>
#if defined(__SSE__)
#include <xmmintrin.h>
#endif

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <cstdlib>
#include <limits>
#include <string>
#include <vector>

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
  using Potrf = void (*)(const char*, const int*, double*, const int*, int*, std::size_t);
  using Tri = void (*)(CBLAS_ORDER, CBLAS_SIDE, CBLAS_UPLO, CBLAS_TRANSPOSE, CBLAS_DIAG, blasint,
                       blasint, double, const double*, blasint, double*, blasint);
  using Syevr = void (*)(const char*, const char*, const char*, const int*, double*, const int*,
                         const double*, const double*, const int*, const int*, const double*, int*,
                         double*, double*, const int*, int*, double*, const int*, int*, const int*,
                         int*, std::size_t, std::size_t, std::size_t);
  using Threads = void (*)(int);
  Gemm gemm = nullptr;
  Potrf potrf = nullptr;
  Tri trmm = nullptr, trsm = nullptr;
  Syevr syevr = nullptr;
  bool ok = false;

  Blas() {
    // The library starts its own threads when it is loaded unless told to
    // use one: under a limit on processes it cannot, and then it writes to
    // standard error and raises SIGINT.  Every call runs on one thread
    // anyway, the program's.
    if (const char* t = std::getenv("OPENBLAS_NUM_THREADS"); t == nullptr || std::string(t) != "1")
      ::setenv("OPENBLAS_NUM_THREADS", "1", 1);
    // Its calls take a work buffer of up to 128 MB at their first use, and
    // under a limit on the address space that leaves no room for it, it
    // retries for ever.  Without that room the program's own kernels are
    // used.
    if (!roomForBuffer()) return;
    void* lib = dlopen("libopenblas.so.0", RTLD_NOW | RTLD_LOCAL);
    if (lib == nullptr) return;
    gemm = reinterpret_cast<Gemm>(dlsym(lib, "cblas_dgemm"));
    potrf = reinterpret_cast<Potrf>(dlsym(lib, "dpotrf_"));
    trmm = reinterpret_cast<Tri>(dlsym(lib, "cblas_dtrmm"));
    trsm = reinterpret_cast<Tri>(dlsym(lib, "cblas_dtrsm"));
    syevr = reinterpret_cast<Syevr>(dlsym(lib, "dsyevr_"));
    const auto threads = reinterpret_cast<Threads>(dlsym(lib, "openblas_set_num_threads"));
    if (gemm == nullptr || potrf == nullptr || trmm == nullptr || trsm == nullptr ||
        syevr == nullptr || threads == nullptr)
      return;
    threads(1);
    // The buffer is taken now, by a small product, while the room is known
    // to be there; the library keeps it for every later call.
    const double a[4] = {1.0, 0.0, 0.0, 1.0};
    double c[4] = {0.0, 0.0, 0.0, 0.0};
    gemm(CblasColMajor, CblasNoTrans, CblasNoTrans, 2, 2, 2, 1.0, a, 2, a, 2, 0.0, c, 2);
    ok = c[0] == 1.0 && c[3] == 1.0;
  }

  // Twice the library's largest work buffer can be mapped now.
  static bool roomForBuffer() {
    constexpr std::size_t kRoom = std::size_t{256} << 20;
    void* p = ::mmap(nullptr, kRoom, PROT_NONE, MAP_PRIVATE | MAP_ANONYMOUS | MAP_NORESERVE, -1, 0);
    if (p == MAP_FAILED) return false;
    ::munmap(p, kRoom);
    return true;
  }
};

const Blas& blas() {
  static const Blas b;
  return b;
}

// Subnormal numbers are flushed to zero on the calling thread while one of
// these lives.  The forms of distant fragments hold elements that underflow
// into the subnormal range, and the processor takes a slow path for every
// such operand: the factorisations and products of a form then run several
// times slower.  The forms only decide whether eigenvalues lie below a
// threshold, with a margin of 1e-8, which numbers below 2.2e-308 cannot
// move; the printed results are never computed this way.
class FlushSubnormals {
 public:
#if defined(__SSE__)
  FlushSubnormals() : saved_(_mm_getcsr()) {
    _mm_setcsr(saved_ | kFlushToZero | kDenormalsAreZero);
  }
  ~FlushSubnormals() {
    _mm_setcsr(saved_);
  }

 private:
  static constexpr unsigned kFlushToZero = 0x8000;
  static constexpr unsigned kDenormalsAreZero = 0x0040;
  unsigned saved_;
#endif
  FlushSubnormals(const FlushSubnormals&) = delete;
  FlushSubnormals& operator=(const FlushSubnormals&) = delete;
};

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
  const FlushSubnormals flush;
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
  // Q = L^T A L, panel by panel of columns.  With L lower triangular,
  // rows j0..n of column block J of Q need rows and columns j0..n of A and
  // of L only: Q(j0:n, J) = L(j0:n, j0:n)^T (A(j0:n, j0:n) L(j0:n, J)), a
  // product and a triangular product on one thread each.
  par.run(panels(n), [&](int t) {
    const FlushSubnormals flush;
    const int j0 = t * kPanel + 1;
    const int b = std::min(kPanel, n - j0 + 1);
    const int m = n - j0 + 1;
    double* qj = &q.col(j0)[j0 - 1];
    blas().gemm(CblasColMajor, CblasNoTrans, CblasNoTrans, m, b, m, 1.0, &a.col(j0)[j0 - 1], a.ld(),
                &l.col(j0)[j0 - 1], l.ld(), 0.0, qj, q.ld());
    blas().trmm(CblasColMajor, CblasLeft, CblasLower, CblasTrans, CblasNonUnit, m, b, 1.0,
                &l.col(j0)[j0 - 1], l.ld(), qj, q.ld());
  });
  // Both triangles of Q, from the lower one, for the products below.
  for (int j = 1; j <= n; ++j)
    for (int i = j + 1; i <= n; ++i) q(j, i) = q(i, j);
  // The lower triangle of C = c Q - Q Q, panel by panel of columns: every
  // panel is one call on one thread, so the result is the same for any
  // number of threads.
  Matrix r = Matrix::uninitialised(n, n);
  par.run(panels(n), [&](int t) {
    const FlushSubnormals flush;
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
  // The solver passes over rows whose squares sum below an absolute
  // tolerance: C is scaled by a power of two to a norm near 1 first, which
  // changes no digit of its eigenvalues.
  const double norm = frobeniusLower(c);
  const int e = norm > 0.0 && std::isfinite(norm) ? std::ilogb(norm) : 0;
  for (int j = 1; j <= n; ++j)
    for (int i = j; i <= n; ++i) c(i, j) = std::ldexp(c(i, j), -e);
  sdiagUnlessAllBelow(c.col(1), c.ld(), d.data(), n, std::numeric_limits<double>::infinity(), par);
  for (int k = 1; k <= n; ++k) d(k) = std::ldexp(d(k), e);
  return d;
}

bool eigenpairsAvailable(int n) {
  return useLibrary(n) && blas().ok;
}

void libraryProduct(MatView c, MatView a, MatView b, int n, const Parallel& par) {
  par.run(panels(n), [&](int t) {
    const int j0 = t * kPanel + 1;
    const int w = std::min(kPanel, n - j0 + 1);
    blas().gemm(CblasColMajor, CblasNoTrans, CblasNoTrans, n, w, n, 1.0, a.col(1), a.ld, b.col(j0),
                b.ld, 0.0, c.col(j0), c.ld);
  });
}

Eigenpairs eigenpairsFrom(Matrix& c, double t) {
  const int n = c.rows();
  Eigenpairs e;
  e.values = Vec1<double>(n);
  // Eigenvalues in (vl, vu]: vl is the double just below t.
  const double vl = std::nextafter(t, -std::numeric_limits<double>::infinity());
  const double vu = std::numeric_limits<double>::max();
  const int ld = c.ld();
  const double abstol = 0.0;
  const int none = 0;
  int found = 0;
  int info = 0;
  Matrix z = Matrix::uninitialised(n, std::max(n, 1));
  const int ldz = z.ld();
  std::vector<int> support(2 * static_cast<std::size_t>(std::max(n, 1)));
  int lwork = -1;
  int liwork = -1;
  double wsize = 0.0;
  int iwsize = 0;
  blas().syevr("V", "V", "L", &n, c.col(1), &ld, &vl, &vu, &none, &none, &abstol, &found,
               e.values.data(), z.col(1), &ldz, support.data(), &wsize, &lwork, &iwsize, &liwork,
               &info, 1, 1, 1);
  lwork = static_cast<int>(wsize);
  liwork = iwsize;
  std::vector<double> work(static_cast<std::size_t>(std::max(lwork, 1)));
  std::vector<int> iwork(static_cast<std::size_t>(std::max(liwork, 1)));
  blas().syevr("V", "V", "L", &n, c.col(1), &ld, &vl, &vu, &none, &none, &abstol, &found,
               e.values.data(), z.col(1), &ldz, support.data(), work.data(), &lwork, iwork.data(),
               &liwork, &info, 1, 1, 1);
  if (info != 0) {
    e.failed = true;
    return e;
  }
  e.count = found;
  e.vectors = Matrix::uninitialised(n, std::max(found, 1));
  for (int k = 1; k <= found; ++k)
    for (int i = 1; i <= n; ++i) e.vectors(i, k) = z(i, k);
  return e;
}

void squareRootFromForm(MatView r, const Matrix& l, const Eigenpairs& e, int n,
                        const Parallel& par) {
  const int m = e.count;
  if (m == 0) {
    for (int j = 1; j <= n; ++j)
      for (int i = 1; i <= n; ++i) r(i, j) = 0.0;
    return;
  }
  // A = L^-T U diag(sqrt(lambda)) and B = L U, then R = A B^T.
  Matrix a = Matrix::uninitialised(n, m);
  Matrix b = Matrix::uninitialised(n, m);
  for (int k = 1; k <= m; ++k) {
    const double root = std::sqrt(e.values(k));
    for (int i = 1; i <= n; ++i) {
      a(i, k) = e.vectors(i, k) * root;
      b(i, k) = e.vectors(i, k);
    }
  }
  blas().trsm(CblasColMajor, CblasLeft, CblasLower, CblasTrans, CblasNonUnit, n, m, 1.0, l.col(1),
              l.ld(), a.col(1), a.ld());
  blas().trmm(CblasColMajor, CblasLeft, CblasLower, CblasNoTrans, CblasNonUnit, n, m, 1.0, l.col(1),
              l.ld(), b.col(1), b.ld());
  par.run(panels(n), [&](int t) {
    const int j0 = t * kPanel + 1;
    const int w = std::min(kPanel, n - j0 + 1);
    blas().gemm(CblasColMajor, CblasNoTrans, CblasTrans, n, w, m, 1.0, a.col(1), a.ld(),
                &b.col(1)[j0 - 1], b.ld(), 0.0, &r(1, j0), r.ld);
  });
}

LibraryRoot libraryHalf(const Matrix& s) {
  LibraryRoot r;
  const int n = s.rows();
  if (n == 0 || !blas().ok) return r;
  Matrix c = Matrix::uninitialised(n, n);
  for (int j = 1; j <= n; ++j)
    for (int i = j; i <= n; ++i) c(i, j) = s(i, j);
  Eigenpairs e = eigenpairsFrom(c, -std::numeric_limits<double>::max());
  c.release();
  if (e.failed || e.count != n) return r;
  r.solved = true;
  r.smallest = e.values(1);
  // An eigenvalue within the solver's rounding of zero (n eps times the
  // largest) is zero: S is singular as computed.
  const double rounding = n * std::numeric_limits<double>::epsilon() * std::fabs(e.values(n));
  if (!(r.smallest > rounding)) {
    r.smallest = std::fmin(r.smallest, 0.0);
    return r;
  }
  // A = V diag(sqrt(lambda)), then S^1/2 = A V^T in one call.
  Matrix a = Matrix::uninitialised(n, n);
  for (int k = 1; k <= n; ++k) {
    const double root = std::sqrt(e.values(k));
    for (int i = 1; i <= n; ++i) a(i, k) = e.vectors(i, k) * root;
  }
  r.half = Matrix::uninitialised(n, n);
  blas().gemm(CblasColMajor, CblasNoTrans, CblasTrans, n, n, n, 1.0, a.col(1), a.ld(),
              e.vectors.col(1), e.vectors.ld(), 0.0, r.half.col(1), r.half.ld());
  // Symmetric to the last bit, as S is.
  for (int j = 1; j <= n; ++j)
    for (int i = j + 1; i <= n; ++i) r.half(j, i) = r.half(i, j);
  return r;
}

}  // namespace mv
