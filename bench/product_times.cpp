// The time of each dense product and of the eigen-solve of the bond-order
// analysis of one file, on N threads, each repeated R times (the least time
// is printed):
//   mv_product_times FILE.fchk [threads] [repeats]
// The operands are those of a run of the program: W = P S, W W, the
// eigenvectors of S, S^1/2 and S^-1/2, S^1/2 E and (S^1/2 E) S^-1/2.
#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <utility>

#include "analysis/density.h"
#include "analysis/linalg.h"
#include "analysis/partition.h"
#include "analysis/sdiag.h"
#include "checkpoint/reader.h"
#include "core/stop.h"
#include "integrals/basis.h"
#include "integrals/overlap.h"

using namespace mv;

namespace {

// Copies the leading n by n block of `from` into `to`.
void copyInto(Matrix& to, const Matrix& from, int n) {
  for (int j = 1; j <= n; ++j)
    for (int i = 1; i <= n; ++i) to(i, j) = from(i, j);
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) {
    std::fprintf(stderr, "usage: mv_product_times FILE.fchk [threads] [repeats]\n");
    return 2;
  }
  const int threads = argc > 2 ? std::atoi(argv[2]) : 1;
  const int repeats = argc > 3 ? std::max(1, std::atoi(argv[3])) : 3;
  ThreadPool pool(threads);
  const Parallel par(pool, threads);
  const Limits limits = Limits::commandLine();
  // Least wall time of `repeats` calls of f.
  auto timed = [&](const char* what, auto f) {
    double best = 1e300;
    for (int r = 0; r < repeats; ++r) {
      const auto t0 = std::chrono::steady_clock::now();
      f();
      best = std::min(best,
                      std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count());
    }
    std::printf("%-28s %8.3f s\n", what, best);
  };
  try {
    CheckpointText text = CheckpointText::fromFile(argv[1], argv[1], par);
    Checkpoint ck;
    CheckpointReader reader(text, limits, ck);
    reader.header();
    reader.body();
    reader.density();
    text.release();
    const Basis b = expandBasis(ck.shells, ck.natoms, ck.nbf, limits);
    Matrix own = overlapMatrix(b, ck.coords, par);
    const Matrix s = toFileOrder(own, b.map);
    own.release();
    DensityCheck d = checkDensity(ck, s, limits);
    const int n = ck.nbf;
    const Matrix& p = d.density;
    Matrix w(n, n), e(n, n), st(n, n), sp(n, n), sm(n, n), t(n, n), x(n, n);
    timed("W = P S", [&] { matmul(w.view(), p.view(), s.view(), n, par); });
    timed("W W", [&] { matmul(e.view(), w.view(), w.view(), n, par); });
    for (int j = 1; j <= n; ++j)
      for (int i = 1; i <= n; ++i) e(i, j) = 2.0 * w(i, j) - e(i, j);
    std::vector<double> ev(static_cast<std::size_t>(n)), er(static_cast<std::size_t>(n));
    timed("eigen-solve of S", [&] {
      copyInto(st, s, n);
      sdiag(st.col(1), st.ld(), ev.data(), n, par);
    });
    for (int k = 0; k < n; ++k) {
      ev[static_cast<std::size_t>(k)] = std::sqrt(ev[static_cast<std::size_t>(k)]);
      er[static_cast<std::size_t>(k)] = 1.0 / ev[static_cast<std::size_t>(k)];
    }
    timed("S^1/2 (spectral)", [&] { spectral(sp.view(), st.view(), ev.data(), n, par); });
    timed("S^-1/2 (spectral)", [&] { spectral(sm.view(), st.view(), er.data(), n, par); });
    timed("S^1/2 E", [&] { matmul(t.view(), sp.view(), e.view(), n, par); });
    timed("(S^1/2 E) S^-1/2", [&] { matmul(x.view(), t.view(), sm.view(), n, par); });
    std::printf("(%d basis functions, %d threads, least of %d)\n", n, threads, repeats);
  } catch (const Stop& stop) {
    std::fprintf(stderr, "mv_product_times: %s\n", stop.message().c_str());
    return 1;
  }
  return 0;
}
