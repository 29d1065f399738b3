// The run sequence: every stage once, in order, on the shared tables.
#include "driver/run.h"

#include <new>

#include "analysis/analysis.h"
#include "checkpoint/input.h"
#include "driver/partition.h"
#include "driver/report.h"
#include "driver/stop.h"
#include "integrals/overlap.h"
#include "integrals/primitives.h"
#include "tables.h"

namespace mv {

namespace {

// Set-up: constant tables, the checkpoint, the count lines, the overlap matrix.
void start(bool copyInput) {
  init();
  if (copyInput)
    input();
  else
    inputFromScratch();
  writeFree({Item("Number of atoms:"), Item(g.nat(1))});
  writeFree({Item("Number of primitives:"), Item(g.nat(3))});
  writeFree({Item("Number of basis functions:"), Item(g.nat(2))});
  buildOverlap();
}

}  // namespace

void mainRoutine(bool copyInput) {
  kiir();
  start(copyInput);

  const int* first = g.lim.col(1);
  const int* last = g.lim.col(2);
  int natoms = 0;
  int nbasis = 0;
  getparm(first, last, natoms, nbasis, kMaxAtomRead, kMaxAtoms);

  // The partition must agree with the checkpoint's own counts.
  if (g.nat(1) != natoms) stopCode("7584");
  if (g.nat(2) != nbasis) stopCode("7585");

  // The reordering of S needs a full scratch matrix.  The spin density
  // matrix serves: nothing is in it yet, and the ROHF rebuild of the density
  // verification, its only writer, overwrites the whole n by n block before
  // anything reads it.  A matrix of its own would add 2 MB to the run.
  getsome(kLd, nbasis, natoms, view(g.stv2));
  denstest();
  inpint(natoms, first, last);
  populations();
  tarsel(view(g.c2), view(g.c1), view(g.stv1), first, last, natoms, nbasis);
}

int runProgram() {
  int status = kStatusOk;
  try {
    mainRoutine();
  } catch (const Stop& st) {
    reportStream().flush();
    if (!st.code.empty()) errorStream() << "STOP " << st.code << " statement executed\n";
    status = st.status;
  } catch (const InputError& e) {
    reportStream().flush();
    errorStream() << "mirvante: input error during " << e.operation << ": " << e.error << " (file "
                  << e.file << ")\n";
    status = kStatusInputError;
  } catch (const std::bad_alloc&) {
    reportStream().flush();
    errorStream() << "mirvante: out of memory\n";
    status = kStatusInputError;
  }
  reportStream().flush();
  errorStream().flush();
  return status;
}

}  // namespace mv
