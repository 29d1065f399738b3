#include "analysis/density.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <string>

namespace mv {

namespace {

// Accepted deviations of a trace from its electron count.
constexpr double kFirstTolerance = 0.1;     // the density as read, and after the reread
constexpr double kRebuildTolerance = 0.01;  // after the rebuild from the orbitals (strict)
// Largest difference of an element of the file's density from the rebuilt
// one that still counts as the same density: the file prints both the
// density and the orbitals to nine digits.
constexpr double kReproduceTolerance = 1e-5;

std::string realText(double x) {
  char buf[40];
  std::snprintf(buf, sizeof buf, "%.3G", x);
  return buf;
}

// Rebuild P and the spin density from the alpha MO coefficients: the first
// nbeta orbitals are doubly occupied, orbitals nbeta+1 .. nalpha singly.
// Orbitals that the file does not hold count as zero.
//
// The rebuild repairs a file whose "Total SCF Density" holds the alpha
// density alone (some program versions store it so for ROHF).  In the
// command line it is accepted only when the file's density is the rebuilt
// alpha density (or the rebuilt total density): right traces alone do not
// show that the orbitals and electron counts belong to the stored density.
void rebuild(const Checkpoint& ck, const Matrix& s, const Limits& limits, DensityCheck& r) {
  const int nbf = ck.nbf;
  const int stored = ck.mo.cols();
  const Matrix& k = ck.mo;
  Matrix p(nbf, nbf), ps(nbf, nbf);
  const int nb = ck.nbeta < stored ? ck.nbeta : stored;
  const int na = ck.nalpha < stored ? ck.nalpha : stored;
  const bool compare = !limits.classic && ck.density.rows() == nbf;
  double offAlpha = 0.0, offTotal = 0.0;
  for (int i = 1; i <= nbf; ++i) {
    for (int j = 1; j <= i; ++j) {
      double closed = 0.0;
      for (int o = 1; o <= nb; ++o) closed += k(i, o) * k(j, o);
      closed *= 2.0;
      double open = 0.0;
      for (int o = ck.nbeta + 1; o <= na; ++o) open += k(i, o) * k(j, o);
      p(i, j) = closed + open;
      p(j, i) = closed + open;
      ps(i, j) = open;
      ps(j, i) = open;
      if (compare) {
        const double file = ck.density(i, j);
        offAlpha = std::fmax(offAlpha, std::fabs(file - (0.5 * closed + open)));
        offTotal = std::fmax(offTotal, std::fabs(file - (closed + open)));
      }
    }
  }
  r.totalTrace = traceWithS(p, s);
  r.spinTrace = traceWithS(ps, s);
  if (std::fabs(r.totalTrace - (ck.nalpha + ck.nbeta)) < kRebuildTolerance &&
      std::fabs(r.spinTrace - (ck.nalpha - ck.nbeta)) < kRebuildTolerance) {
    const double off = std::fmin(offAlpha, offTotal);
    if (compare && !(off <= kReproduceTolerance)) {
      r.outcome = DensityOutcome::Irrecoverable;
      Stop st;
      st.detail = "the density rebuilt from the orbitals for " + std::to_string(ck.nalpha) +
                  " alpha and " + std::to_string(ck.nbeta) +
                  " beta electrons is not the file's density (elements differ by up to " +
                  realText(off) + ")";
      st.line = ck.densityLine;
      r.stop = st;
      return;
    }
    r.outcome = DensityOutcome::Rebuilt;
    r.density = std::move(p);
    return;
  }
  r.outcome = DensityOutcome::Irrecoverable;
  Stop st;
  st.detail = "the density rebuilt from the orbitals does not describe " +
              std::to_string(ck.nalpha) + " alpha and " + std::to_string(ck.nbeta) +
              " beta electrons";
  r.stop = st;
}

// The stored triangle unpacked column by column: (1,1), (2,1), ..., (nbf,1),
// (2,2), (3,2), ..., (nbf,nbf).
void reread(const Checkpoint& ck, const Matrix& s, double tolerance, DensityCheck& r) {
  const int nbf = ck.nbf;
  r.ndens = ck.analysedIndex();
  Matrix p(nbf, nbf);
  std::size_t idx = 0;
  for (int m = 1; m <= nbf; ++m)
    for (int j = m; j <= nbf; ++j) {
      p(j, m) = ck.packed[idx];
      p(m, j) = ck.packed[idx];
      ++idx;
    }
  r.totalTrace = traceWithS(p, s);
  const int nelec = ck.nalpha + ck.nbeta;
  // Written as "not within" so that a trace that is not a number fails too.
  if (!(std::fabs(r.totalTrace - nelec) <= tolerance)) {
    r.outcome = DensityOutcome::WrongAfterReread;
    Stop st;
    st.detail = "the density describes neither " + std::to_string(nelec) +
                " electrons nor does it in the other triangle order";
    r.stop = st;
    return;
  }
  r.outcome = DensityOutcome::Reread;
  r.density = std::move(p);
}

}  // namespace

double traceWithS(const Matrix& a, const Matrix& s) {
  const int n = a.rows();
  double t = 0.0;
  for (int j = 1; j <= n; ++j)
    for (int i = 1; i <= n; ++i) t += s(i, j) * a(j, i);
  return t;
}

double traceTolerance(const Limits& limits, int electrons) {
  if (limits.classic) return kFirstTolerance;
  return kPrintedTraceTolerance * std::max(electrons, 1);
}

DensityCheck checkDensity(Checkpoint& ck, const Matrix& s, const Limits& limits) {
  DensityCheck r;
  const int nelec = ck.nalpha + ck.nbeta;
  const double tolerance = traceTolerance(limits, nelec);
  r.trace = traceWithS(ck.density, s);
  if (std::fabs(r.trace - nelec) <= tolerance) {
    r.density = std::move(ck.density);
    return r;
  }
  if (ck.rohfMarker) {
    // The classic table of orbitals holds as many orbitals as basis functions.
    if (Limits::beyond(ck.nalpha, limits.basisFunctions) ||
        Limits::beyond(ck.nbeta, limits.basisFunctions)) {
      r.outcome = DensityOutcome::RebuildRefused;
      Stop st;
      st.code = kCodeBadIndex;
      st.records = {" The number of alpha or beta electrons is out of range. STOP"};
      r.stop = st;
      return r;
    }
    rebuild(ck, s, limits, r);
  } else {
    reread(ck, s, tolerance, r);
  }
  return r;
}

}  // namespace mv
