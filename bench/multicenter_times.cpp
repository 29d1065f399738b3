// The cost of the multicentre indices against the one product W = P S that
// every bond-order analysis forms (the rest of the analysis costs several
// such products): a ring of R atoms in a basis of N functions, M per atom,
// for the closed-shell and the spin-resolved formula; the least of a few
// repeats is printed:
//   mv_multicenter_times [N] [M] [R] [threads]     (default 2000 15 6 1)
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <numeric>
#include <random>
#include <vector>

#include "analysis/linalg.h"
#include "analysis/multicenter.h"
#include "analysis/occupations.h"
#include "core/parallel.h"

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
  const int n = argc > 1 ? std::atoi(argv[1]) : 2000;
  const int m = argc > 2 ? std::atoi(argv[2]) : 15;
  const int ringSize = argc > 3 ? std::atoi(argv[3]) : 6;
  const int threads = argc > 4 ? std::atoi(argv[4]) : 1;
  if (n < 1 || m < 1 || ringSize < 2 || threads < 1 || n / m < ringSize) {
    std::fprintf(stderr, "usage: mv_multicenter_times [N] [M] [R] [threads]\n");
    return 2;
  }
  const int natoms = n / m;
  Vec1<int> first(natoms), last(natoms);
  for (int a = 1; a <= natoms; ++a) {
    first(a) = (a - 1) * m + 1;
    last(a) = a == natoms ? n : a * m;
  }
  // Symmetric matrices with the magnitudes of an overlap matrix and a
  // density; the timing does not depend on their values.
  std::mt19937 gen(1);
  std::uniform_real_distribution<double> u(-1.0, 1.0);
  Matrix s(n, n), p(n, n), ps(n, n);
  for (int j = 1; j <= n; ++j) {
    s(j, j) = 1.0;
    for (int i = j + 1; i <= n; ++i) {
      s(i, j) = s(j, i) = 0.1 * u(gen);
      p(i, j) = p(j, i) = 0.2 * u(gen);
      ps(i, j) = ps(j, i) = 0.05 * u(gen);
    }
    p(j, j) = 1.0 + 0.5 * u(gen);
  }
  // A ring of atoms spread through the molecule.
  std::vector<int> ring;
  for (int k = 0; k < ringSize; ++k) ring.push_back(1 + k * (natoms - 1) / ringSize);

  ThreadPool pool(threads);
  const Parallel par(pool, threads);
  Matrix w = Matrix::uninitialised(n, n);
  const bool library = eigenpairsAvailable(n);
  const double product = least(3, [&] {
    if (library)
      libraryProduct(w.view(), p.view(), s.view(), n, par);
    else
      matmul(w.view(), p.view(), s.view(), n, par);
  });
  double closed = 0.0, open = 0.0, sink = 0.0;
  closed = least(5, [&] {
    sink += multicenterIndices(p, nullptr, s, first, last, {ring}, MulticenterFormula::ClosedShell)
                .rings[0]
                .index;
  });
  open = least(5, [&] {
    sink += multicenterIndices(p, &ps, s, first, last, {ring}, MulticenterFormula::SpinResolved)
                .rings[0]
                .index;
  });
  std::printf("N = %d functions, %d atoms of %d, ring of %d atoms, %d thread(s)\n", n, natoms, m,
              ringSize, threads);
  std::printf("W = P S (%s):         %10.4f s\n", library ? "dgemm" : "own kernel", product);
  std::printf("ring, closed shell:       %10.6f s  (%.2e of W = P S)\n", closed, closed / product);
  std::printf("ring, spin-resolved:      %10.6f s  (%.2e of W = P S)\n", open, open / product);
  return sink == 12345.0 ? 1 : 0;  // keeps the results alive
}
