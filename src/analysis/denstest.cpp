// Density verification: the total density P read from the checkpoint file
// must belong to the overlap matrix S built here, that is trace(P*S) must be
// the number of electrons.  A density that fails the check is rebuilt from
// the alpha MO coefficients (restricted open-shell case) or reread from the
// scratch copy with its triangle taken column by column; if neither repair
// gives the right electron count the run stops.
#include <cmath>
#include <string>
#include <string_view>

#include "analysis/analysis.h"
#include "checkpoint/scratch.h"
#include "driver/report.h"
#include "driver/stop.h"
#include "tables.h"

namespace mv {

namespace {

// Starts of records of the scratch copy that the checks look for.
constexpr std::string_view itot = "Tota";       // characters 1-4: a total (energy or density)
constexpr std::string_view irohf = "  ROHF  ";  // characters 9-16: the method ROHF
constexpr std::string_view mocal = "Alpha MO coeffic";  // characters 1-16: the alpha MO section

// Accepted deviations of a trace from its electron count.
constexpr double kFirstTolerance = 0.1;     // the density as read, and after the reread
constexpr double kRebuildTolerance = 0.01;  // after the rebuild from the orbitals (strict)

// trace(A*S) = sum over j, i of S(i,j)*A(j,i), in ascending index order.
double traceWithS(MatView a, int nbf) {
  MatView s = view(g.stv1);
  double t = 0.0;
  for (int j = 1; j <= nbf; ++j)
    for (int i = 1; i <= nbf; ++i) t += s(i, j) * a(j, i);
  return t;
}

bool startsWith(std::string_view line, std::size_t pos, std::string_view text) {
  return line.size() >= pos + text.size() && line.substr(pos, text.size()) == text;
}

// NDENS: the records that begin with "Tota", counted from -1 (the first of
// them is the total energy, the others head the total densities).
int countDensities() {
  int n = -1;
  std::string_view line;
  tmp.rewind();
  while (tmp.next(line))
    if (startsWith(line, 0, itot)) ++n;
  return n;
}

// True when any record has "  ROHF  " as its characters 9 to 16.
bool isRohf() {
  std::string_view line;
  tmp.rewind();
  while (tmp.next(line))
    if (startsWith(line, 8, irohf)) return true;
  return false;
}

// Rebuild P and the spin density from the alpha MO coefficients: the first
// nbeta orbitals are doubly occupied, orbitals nbeta+1 .. nalpha singly.
void rebuildRohf(int nbf, int nalpha, int nbeta) {
  writeFree({Item(" ")});
  writeFree({Item(" ROHF case")});
  writeFree({Item("Density and spin-density will be re-built by using"), Item(" the MO-s")});
  // The occupied orbitals are columns 1 .. nalpha (or nbeta) of opensh,
  // which holds at most kMaxBf of them.
  if (nalpha < 0 || nalpha > kMaxBf || nbeta < 0 || nbeta > kMaxBf)
    refuse(" The number of alpha or beta electrons is out of range. STOP", kCodeBadIndex);

  std::string_view line;
  tmp.rewind();
  for (;;) {
    if (!tmp.next(line)) stopCode("1000");
    if (startsWith(line, 0, mocal)) break;
  }

  // Up to nbf*nbf coefficients, orbital after orbital.  A value that is not
  // a number (the label of the next section when fewer orbitals than basis
  // functions are stored) ends the read quietly; whatever is not read keeps
  // its earlier contents in opensh.
  MatView k = view(g.opensh);
  const ReadResult r = readFreeColumns(tmp, nbf, nbf, k.p, k.ld);
  if (r.status == ReadStatus::End)
    inputError("read of the alpha MO coefficients", r.detail, kScratchName);
  for (int q = 0; q < r.count; ++q)
    if (!std::isfinite(k(q % nbf + 1, q / nbf + 1)))
      refuse(" The alpha MO coefficients hold a value that is not a finite number. STOP",
             kCodeBadValue);

  MatView p = view(g.c2);
  MatView ps = view(g.stv2);
  for (int i = 1; i <= nbf; ++i) {
    for (int j = 1; j <= i; ++j) {
      double closed = 0.0;
      for (int o = 1; o <= nbeta; ++o) closed += k(i, o) * k(j, o);
      closed *= 2.0;
      double open = 0.0;
      for (int o = nbeta + 1; o <= nalpha; ++o) open += k(i, o) * k(j, o);
      p(i, j) = closed + open;
      p(j, i) = closed + open;
      ps(i, j) = open;
      ps(j, i) = open;
    }
  }

  writeFree({Item(" ")});
  const double t1 = traceWithS(p, nbf);
  const double t2 = traceWithS(ps, nbf);
  if (std::fabs(t1 - (nalpha + nbeta)) < kRebuildTolerance &&
      std::fabs(t2 - (nalpha - nbeta)) < kRebuildTolerance) {
    writeFree(
        {Item("Now correct density and spin density  (Traces="), Item(t1), Item(t2), Item(")")});
    return;
  }
  writeFree({Item("Irrecoverable case"), Item(t1), Item(t2)});
  stopPlain();
}

// Reread the last total density and unpack its triangle column by column:
// (1,1), (2,1), ..., (nbf,1), (2,2), (3,2), ..., (nbf,nbf).
void rereadColumnOrder(int nbf, int nelec, int ndens) {
  writeFree({Item("Different data order. Rereading the"), Item(ndens),
             Item("-d/th density of the checkpoint file")});

  // Stop just after the last record that begins with "Tota"; the count is
  // tested after every record read, the first included.
  std::string_view line;
  tmp.rewind();
  int seen = -1;
  for (;;) {
    if (!tmp.next(line)) inputError("search of the total density", "end of file", kScratchName);
    if (startsWith(line, 0, itot)) ++seen;
    if (seen == ndens) break;
  }

  const int n = nbf * (nbf + 1) / 2;
  double* packed = g.opensh.a;
  const ReadResult r = readFree(tmp, n, packed);
  if (r.status != ReadStatus::Ok) inputError("reread of the total density", r.detail, kScratchName);
  // A value that is not finite cannot be analysed.
  for (int q = 0; q < n; ++q)
    if (!std::isfinite(packed[q]))
      refuse(" The total density holds a value that is not a finite number. STOP", kCodeBadValue);

  MatView p = view(g.c2);
  int idx = 0;
  for (int m = 1; m <= nbf; ++m)
    for (int j = m; j <= nbf; ++j) {
      p(j, m) = packed[idx];
      p(m, j) = packed[idx];
      ++idx;
    }

  const double t = traceWithS(p, nbf);
  // Written as "not within" so that a trace that is not a number fails too.
  if (!(std::fabs(t - nelec) <= kFirstTolerance)) {
    writeFree({Item(" *** "), Item(t)});
    writeFree({Item(" WRONG DENSITY.  STOP. ")});
    stopPlain();
  }
}

}  // namespace

void denstest() {
  const int nbf = g.nat(2);
  const int nalpha = g.nat(5);
  const int nbeta = g.nat(6);
  // The matrices hold at most kMaxBf functions.
  if (nbf < 0 || nbf > kMaxBf)
    refuse(" The number of basis functions is out of range. STOP", kCodeLimit);
  const int nelec = nalpha + nbeta;

  const double t = traceWithS(view(g.c2), nbf);
  if (std::fabs(t - nelec) <= kFirstTolerance) return;

  writeFree({Item(" ")});
  writeFree({Item(" WRONG DENSITY  (Trace of DS="), Item(t), Item(")")});

  const int ndens = countDensities();
  if (isRohf())
    rebuildRohf(nbf, nalpha, nbeta);
  else
    rereadColumnOrder(nbf, nelec, ndens);
}

}  // namespace mv
