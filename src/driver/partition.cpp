// Atom partition of the basis functions, reordering of S and the Mulliken
// gross populations.
#include "driver/partition.h"

#include <cmath>

#include "driver/report.h"
#include "driver/stop.h"

namespace mv {

void getparm(const int* first, const int* last, int& natoms, int& nbasis, int entries,
             int atomLimit) {
  natoms = 0;
  nbasis = 0;
  // The atom count is the highest atom whose last function is positive; all
  // entries are scanned, not only the first atomLimit.
  for (int i = 1; i <= entries; ++i)
    if (last[i - 1] > 0) natoms = i;
  if (natoms > 0) nbasis = last[natoms - 1];

  if (natoms > atomLimit) {
    writeFree({Item("   TOO MANY ATOMS, STOP")});
    stopPlain();
  }
  if (natoms == 1) {
    writeFree({Item("  ONLY ONE ATOM")});
    stopPlain();
  }
  int sum = 0;
  for (int a = 1; a <= natoms; ++a) sum += last[a - 1] - first[a - 1] + 1;
  if (sum != nbasis) stopCode("1212");

  const int pairs = natoms * (natoms - 1) / 2;
  writeFree({Item("   ")});
  writeFree({Item(natoms), Item(" ATOMS, "), Item(pairs), Item(" ATOMIC PAIRS")});
}

void getsome(int /*dim*/, int nbasis, int /*natoms*/, MatView h) {
  MatView s = view(g.stv1);
  for (int i = 1; i <= nbasis; ++i)
    for (int j = 1; j <= nbasis; ++j) h(g.map(j), g.map(i)) = s(j, i);
  for (int j = 1; j <= nbasis; ++j)
    for (int i = 1; i <= nbasis; ++i) s(i, j) = h(i, j);
}

void inpint(int natoms, const int* first, const int* last) {
  for (int a = 1; a <= natoms; ++a)
    for (int k = first[a - 1] < 1 ? 1 : first[a - 1]; k <= last[a - 1] && k <= kMaxBf; ++k)
      g.hold(k) = a;
}

void populations() {
  const int nat = g.nat(1);
  const int n = g.nat(2);
  MatView s = view(g.stv1);
  MatView p = view(g.c2);
  for (int a = 1; a <= nat; ++a) g.qat(a) = 0.0;
  double total = 0.0;
  // Gross population of an atom: the sum of the diagonal of P*S over its
  // functions; only the diagonal is formed.
  for (int i = 1; i <= n; ++i) {
    double si = 0.0;
    for (int j = 1; j <= n; ++j) si += s(j, i) * p(i, j);
    g.qat(g.hold(i)) += si;
    total += si;
  }
  // The trace check has passed, but single terms of a density with elements
  // out of range can still overflow; such populations cannot be printed.
  bool finite = std::isfinite(total);
  for (int a = 1; a <= nat; ++a) finite = finite && std::isfinite(g.qat(a));
  if (!finite)
    refuse(
        " A Mulliken population is not a finite number: the density holds elements out of "
        "range. STOP",
        kCodeBadValue);

  writeFree({Item(" ")});
  writeFree({Item(" ")});
  writeFree({Item(" Mulliken populations")});
  writeFree({Item("---------------------")});
  for (int a = 1; a <= nat; ++a) writeLayout("(I5,F15.10)", {Item(a), Item(g.qat(a))});
  writeFree({Item("---------------------")});
  writeLayout("(' SUM= ',F14.7)", {Item(total)});
  writeFree({Item(" ")});
}

}  // namespace mv
