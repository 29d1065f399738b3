// The program's own eigen-solver and product against LAPACK's dsyevd and
// dsyevr and BLAS's dgemm (the system's OpenBLAS, one thread per call, as
// the program would call them), on one thread, for symmetric matrices of
// order n with the spectrum of an overlap matrix (a normalised Gram matrix
// of random vectors); the least of R repeats is printed:
//   mv_library_times N [repeats]
#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <random>
#include <vector>

#include "analysis/linalg.h"
#include "analysis/sdiag.h"

extern "C" {
void openblas_set_num_threads(int);
void dsyevd_(const char*, const char*, const int*, double*, const int*, double*, double*,
             const int*, int*, const int*, int*, std::size_t, std::size_t);
void dsyevr_(const char*, const char*, const char*, const int*, double*, const int*, const double*,
             const double*, const int*, const int*, const double*, int*, double*, double*,
             const int*, int*, double*, const int*, int*, const int*, int*, std::size_t,
             std::size_t, std::size_t);
void dgemm_(const char*, const char*, const int*, const int*, const int*, const double*,
            const double*, const int*, const double*, const int*, const double*, double*,
            const int*, std::size_t, std::size_t);
}

using namespace mv;

namespace {

template <typename F>
double least(int repeats, F&& f) {
  double best = 1e300;
  for (int r = 0; r < repeats; ++r) {
    const auto t0 = std::chrono::steady_clock::now();
    f();
    const auto t1 = std::chrono::steady_clock::now();
    best = std::min(best, std::chrono::duration<double>(t1 - t0).count());
  }
  return best;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) {
    std::fprintf(stderr, "usage: mv_library_times N [repeats]\n");
    return 2;
  }
  const int n = std::atoi(argv[1]);
  const int repeats = argc > 2 ? std::atoi(argv[2]) : 1;
  openblas_set_num_threads(1);
  std::mt19937 gen(1);
  std::normal_distribution<double> dist;
  Matrix g(n, n);
  for (int j = 1; j <= n; ++j)
    for (int i = 1; i <= n; ++i) g(i, j) = dist(gen);
  // S = the Gram matrix G G^T, normalised to a unit diagonal.
  Matrix gt(n, n), s(n, n);
  for (int j = 1; j <= n; ++j)
    for (int i = 1; i <= n; ++i) gt(i, j) = g(j, i);
  matmul(s.view(), g.view(), gt.view(), n, Parallel());
  std::vector<double> d(n + 1);
  for (int i = 1; i <= n; ++i) d[i] = std::sqrt(s(i, i));
  for (int j = 1; j <= n; ++j)
    for (int i = 1; i <= n; ++i) s(i, j) /= d[i] * d[j];
  Matrix a = Matrix::uninitialised(n, n), c = Matrix::uninitialised(n, n);
  std::vector<double> w(n);
  auto load = [&] {
    for (int j = 1; j <= n; ++j)
      for (int i = 1; i <= n; ++i) a(i, j) = s(i, j);
  };
  const int lda = a.ld();
  const double own = least(repeats, [&] {
    load();
    sdiag(a.col(1), lda, w.data(), n);
  });
  int lwork = -1, liwork = -1, info = 0, iw = 0;
  double qw = 0.0;
  load();
  dsyevd_("V", "L", &n, a.col(1), &lda, w.data(), &qw, &lwork, &iw, &liwork, &info, 1, 1);
  lwork = static_cast<int>(qw);
  liwork = iw;
  std::vector<double> work(lwork);
  std::vector<int> iwork(liwork);
  const double evd = least(repeats, [&] {
    load();
    dsyevd_("V", "L", &n, a.col(1), &lda, w.data(), work.data(), &lwork, iwork.data(), &liwork,
            &info, 1, 1);
  });
  std::vector<int> isuppz(2 * n);
  int m = 0, il = 1, iu = n;
  double vl = 0.0, vu = 0.0, tol = 0.0;
  lwork = -1;
  liwork = -1;
  load();
  dsyevr_("V", "A", "L", &n, a.col(1), &lda, &vl, &vu, &il, &iu, &tol, &m, w.data(), c.col(1), &lda,
          isuppz.data(), &qw, &lwork, &iw, &liwork, &info, 1, 1, 1);
  lwork = static_cast<int>(qw);
  liwork = iw;
  work.resize(lwork);
  iwork.resize(liwork);
  const double evr = least(repeats, [&] {
    load();
    dsyevr_("V", "A", "L", &n, a.col(1), &lda, &vl, &vu, &il, &iu, &tol, &m, w.data(), c.col(1),
            &lda, isuppz.data(), work.data(), &lwork, iwork.data(), &liwork, &info, 1, 1, 1);
  });
  const double prod = least(repeats, [&] { matmul(c.view(), s.view(), g.view(), n, Parallel()); });
  const double one = 1.0, zero = 0.0;
  const double gemm = least(repeats, [&] {
    dgemm_("N", "N", &n, &n, &n, &one, s.col(1), &lda, g.col(1), &lda, &zero, c.col(1), &lda, 1, 1);
  });
  std::printf(
      "n %d  eigen-solve: own %.3f s, dsyevd %.3f s, dsyevr %.3f s;  product: own %.3f s, dgemm "
      "%.3f s\n",
      n, own, evd, evr, prod, gemm);
  return 0;
}
