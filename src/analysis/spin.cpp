#include "analysis/spin.h"

#include <cmath>

#include "core/stop.h"

namespace mv {

SpinSource spinSource(const Checkpoint& ck) {
  if (!ck.spin.empty()) return SpinSource::File;
  if (!ck.unrestricted() && ck.nalpha != ck.nbeta && ck.scfDensity()) return SpinSource::Orbitals;
  return SpinSource::None;
}

Matrix openShellSpinDensity(const Matrix& mo, int nalpha, int nbeta) {
  const int nbf = mo.rows();
  const int stored = mo.cols();
  const int last = nalpha < stored ? nalpha : stored;
  Matrix ps(nbf, nbf);
  for (int j = 1; j <= nbf; ++j)
    for (int i = j; i <= nbf; ++i) {
      double open = 0.0;
      for (int o = nbeta + 1; o <= last; ++o) open += mo(i, o) * mo(j, o);
      ps(i, j) = open;
      ps(j, i) = open;
    }
  return ps;
}

SpinPopulations spinPopulations(const Matrix& s, const Matrix& ps, const Vec1<int>& hold,
                                int natoms) {
  const int n = hold.size();
  SpinPopulations r;
  r.atom = Vec1<double>(natoms);
  for (int i = 1; i <= n; ++i) {
    double si = 0.0;
    for (int j = 1; j <= n; ++j) si += s(j, i) * ps(i, j);
    if (hold(i) >= 1) r.atom(hold(i)) += si;
    r.total += si;
  }
  bool finite = std::isfinite(r.total);
  for (int a = 1; a <= natoms; ++a) finite = finite && std::isfinite(r.atom(a));
  if (!finite)
    refuse(
        " A spin population is not a finite number: the spin density holds elements out of "
        "range. STOP",
        kCodeBadValue);
  return r;
}

}  // namespace mv
