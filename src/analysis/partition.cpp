#include "analysis/partition.h"

#include <cmath>

#include "core/stop.h"

namespace mv {

Partition getparm(const Vec1<int>& first, const Vec1<int>& last, const Limits& limits) {
  Partition p;
  // The atom count is the highest atom whose last function is positive.
  for (int i = 1; i <= last.size(); ++i)
    if (last(i) > 0) p.natoms = i;
  if (p.natoms > 0) p.nbasis = last(p.natoms);

  if (Limits::beyond(p.natoms, limits.atoms)) stopPlain({"   TOO MANY ATOMS, STOP"});
  if (limits.classic && p.natoms == 1) stopPlain({"  ONLY ONE ATOM"});
  long long sum = 0;
  for (int a = 1; a <= p.natoms; ++a) sum += last(a) - first(a) + 1;
  if (sum != p.nbasis)
    stopCode("1212", "the functions of the atoms add up to " + std::to_string(sum) + ", not " +
                         std::to_string(p.nbasis));
  p.pairs = static_cast<long long>(p.natoms) * (p.natoms - 1) / 2;
  return p;
}

Vec1<int> inpint(const Vec1<int>& first, const Vec1<int>& last, int natoms, int nbf) {
  Vec1<int> hold(nbf);
  for (int a = 1; a <= natoms; ++a)
    for (int k = first(a) < 1 ? 1 : first(a); k <= last(a) && k <= nbf; ++k) hold(k) = a;
  return hold;
}

Populations mulliken(const Matrix& s, const Matrix& p, const Vec1<int>& hold, int natoms) {
  const int n = hold.size();
  Populations pop;
  pop.qat = Vec1<double>(natoms);
  for (int i = 1; i <= n; ++i) {
    double si = 0.0;
    for (int j = 1; j <= n; ++j) si += s(j, i) * p(i, j);
    if (hold(i) >= 1) pop.qat(hold(i)) += si;
    pop.total += si;
  }
  // The trace check has passed, but single terms of a density with elements
  // out of range can still overflow; such populations cannot be printed.
  bool finite = std::isfinite(pop.total);
  for (int a = 1; a <= natoms; ++a) finite = finite && std::isfinite(pop.qat(a));
  if (!finite)
    refuse(
        " A Mulliken population is not a finite number: the density holds elements out of "
        "range. STOP",
        kCodeBadValue);
  return pop;
}

}  // namespace mv
