#include "analysis/spin.h"

#include <cmath>

#include "core/stop.h"

namespace mv {

namespace {

// Occupations this close to 1 count as one electron.
constexpr double kSingle = 1e-6;

// The sum over the orbitals o with single(o) of C(mu,o) C(nu,o).
template <typename Single>
Matrix singlyOccupied(const Matrix& mo, int last, Single single) {
  const int nbf = mo.rows();
  Matrix ps(nbf, nbf);
  for (int j = 1; j <= nbf; ++j)
    for (int i = j; i <= nbf; ++i) {
      double open = 0.0;
      for (int o = 1; o <= last; ++o)
        if (single(o)) open += mo(i, o) * mo(j, o);
      ps(i, j) = open;
      ps(j, i) = open;
    }
  return ps;
}

}  // namespace

SpinSource spinSource(const Checkpoint& ck) {
  if (!ck.spin.empty()) return SpinSource::File;
  const bool determinant =
      ck.scfDensity() || ck.densityName() == "Density of the occupied orbitals";
  if (!ck.unrestricted() && ck.nalpha != ck.nbeta && determinant) return SpinSource::Orbitals;
  return SpinSource::None;
}

Matrix openShellSpinDensity(const Checkpoint& ck) {
  if (ck.occupation.size() > 0) return openShellSpinDensity(ck.mo, ck.occupation);
  return openShellSpinDensity(ck.mo, ck.nalpha, ck.nbeta);
}

Matrix openShellSpinDensity(const Matrix& mo, int nalpha, int nbeta) {
  const int last = nalpha < mo.cols() ? nalpha : mo.cols();
  return singlyOccupied(mo, last, [&](int o) { return o > nbeta; });
}

Matrix openShellSpinDensity(const Matrix& mo, const Vec1<double>& occupation) {
  const int last = occupation.size() < mo.cols() ? occupation.size() : mo.cols();
  return singlyOccupied(mo, last, [&](int o) { return std::fabs(occupation(o) - 1.0) < kSingle; });
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
