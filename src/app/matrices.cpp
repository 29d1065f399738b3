#include "app/matrices.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <limits>
#include <new>
#include <numeric>
#include <sstream>
#include <stdexcept>

#include "analysis/bondorder.h"
#include "analysis/density.h"
#include "analysis/lowdin.h"
#include "analysis/partition.h"
#include "analysis/spin.h"
#include "core/elements.h"
#include "core/limits.h"
#include "report/json.h"
#include "report/text_report.h"

namespace mv {

namespace {

[[noreturn]] void bad(const std::string& what) {
  throw std::invalid_argument(what);
}

std::string element(std::ptrdiff_t i, std::ptrdiff_t j) {
  std::ostringstream s;
  s << '[' << i << ", " << j << ']';
  return s.str();
}

std::string number(double v) {
  std::ostringstream s;
  s.precision(17);
  s << v;
  return s.str();
}

// A square, finite, symmetric matrix of order n.  Symmetric means to 1e-8
// of its largest element: S and P are symmetric by construction, and a
// larger difference is a matrix stored wrongly (or a different one).
void checkSquare(const StridedMatrix& m, std::ptrdiff_t n, const char* name) {
  if (m.rows != n || m.cols != n)
    bad(std::string(name) + " must be " + std::to_string(n) + " by " + std::to_string(n) +
        " (one row and column per basis function), not " + std::to_string(m.rows) + " by " +
        std::to_string(m.cols));
  double largest = 0.0;
  for (std::ptrdiff_t j = 0; j < n; ++j)
    for (std::ptrdiff_t i = 0; i < n; ++i) {
      const double v = m.at(i, j);
      if (!std::isfinite(v))
        bad(std::string(name) + " element " + element(i, j) + " is not finite: " + number(v));
      largest = std::max(largest, std::fabs(v));
    }
  const double tolerance = 1e-8 * std::max(1.0, largest);
  for (std::ptrdiff_t j = 0; j < n; ++j)
    for (std::ptrdiff_t i = j + 1; i < n; ++i)
      if (std::fabs(m.at(i, j) - m.at(j, i)) > tolerance)
        bad(std::string(name) + " is not symmetric: element " + element(i, j) + " is " +
            number(m.at(i, j)) + ", element " + element(j, i) + " is " + number(m.at(j, i)));
}

// m with its rows and columns taken in the order `order` (from 0), as a
// 1-based matrix.
Matrix reordered(const StridedMatrix& m, const std::vector<std::ptrdiff_t>& order) {
  const int n = static_cast<int>(order.size());
  Matrix out = Matrix::uninitialised(n, n);
  for (int j = 1; j <= n; ++j) {
    double* col = out.col(j);
    const std::ptrdiff_t oj = order[static_cast<std::size_t>(j - 1)];
    for (int i = 0; i < n; ++i) col[i] = m.at(order[static_cast<std::size_t>(i)], oj);
  }
  return out;
}

Matrix copyOf(const Matrix& m) {
  Matrix c = Matrix::uninitialised(m.rows(), m.cols());
  for (int j = 1; j <= m.cols(); ++j)
    for (int i = 1; i <= m.rows(); ++i) c(i, j) = m(i, j);
  return c;
}

// How far trace(P S) may lie from a whole number of electrons: matrices
// handed over in memory carry the rounding of their own arithmetic only,
// far below this; a density scaled or relabelled by mistake is far above.
double traceTolerance(double electrons) {
  return 1e-6 * std::max(1.0, std::fabs(electrons));
}

std::string sixDecimals(double v) {
  char buf[64];
  std::snprintf(buf, sizeof buf, "%.6f", v);
  return buf;
}

}  // namespace

void checkMatrixInput(const MatrixInput& in) {
  const std::ptrdiff_t n = static_cast<std::ptrdiff_t>(in.basisAtom.size());
  const std::ptrdiff_t natoms = static_cast<std::ptrdiff_t>(in.atomicNumbers.size());
  if (n == 0) bad("basis_atom is empty: there must be at least one basis function");
  if (natoms == 0) bad("atomic_numbers is empty: there must be at least one atom");
  if (n > std::numeric_limits<int>::max() / 2 || natoms > std::numeric_limits<int>::max() / 2)
    bad("too many basis functions or atoms: " + std::to_string(n) + ", " + std::to_string(natoms));
  // S and P of one order name the number of functions; basis_atom must
  // then have as many entries.
  const std::ptrdiff_t order = in.overlap.rows;
  if (in.overlap.cols == order && in.density.rows == order && in.density.cols == order &&
      order != n)
    bad("basis_atom must have one entry per basis function (" + std::to_string(in.overlap.rows) +
        ", the order of overlap), not " + std::to_string(n));
  checkSquare(in.overlap, n, "overlap");
  checkSquare(in.density, n, "density");
  if (in.spin.data != nullptr) checkSquare(in.spin, n, "spin_density");
  for (std::ptrdiff_t k = 0; k < n; ++k) {
    const long long a = in.basisAtom[static_cast<std::size_t>(k)];
    if (a < 0 || a >= natoms)
      bad("basis_atom[" + std::to_string(k) + "] is " + std::to_string(a) +
          ", not an atom: atoms are counted from 0 to " + std::to_string(natoms - 1));
  }
  for (std::ptrdiff_t a = 0; a < natoms; ++a) {
    const long long z = in.atomicNumbers[static_cast<std::size_t>(a)];
    if (z < 0 || z > kMaxElement)
      bad("atomic_numbers[" + std::to_string(a) + "] is " + std::to_string(z) +
          ", not an element (0 to " + std::to_string(kMaxElement) + ")");
  }
  if (!in.coordinates.empty() && in.coordinates.size() != static_cast<std::size_t>(3 * natoms))
    bad("coordinates must be " + std::to_string(natoms) + " by 3 (x, y, z of each atom), not " +
        std::to_string(in.coordinates.size()) + " numbers");
  if (!in.nuclearCharges.empty() && in.nuclearCharges.size() != static_cast<std::size_t>(natoms))
    bad("nuclear_charges must have one value per atom (" + std::to_string(natoms) + "), not " +
        std::to_string(in.nuclearCharges.size()));
  for (std::size_t k = 0; k < in.coordinates.size(); ++k)
    if (!std::isfinite(in.coordinates[k]))
      bad("coordinates element " +
          element(static_cast<std::ptrdiff_t>(k / 3), static_cast<std::ptrdiff_t>(k % 3)) +
          " is not finite: " + number(in.coordinates[k]));
  for (std::size_t a = 0; a < in.nuclearCharges.size(); ++a)
    if (!std::isfinite(in.nuclearCharges[a]))
      bad("nuclear_charges[" + std::to_string(a) +
          "] is not finite: " + number(in.nuclearCharges[a]));
  try {
    requireAtomsInRange(in.fragments, static_cast<int>(natoms));
  } catch (const std::invalid_argument& e) {
    bad(std::string("fragments: ") + e.what());
  }
  try {
    requireAtomsInRange(in.rings, static_cast<int>(natoms));
  } catch (const std::invalid_argument& e) {
    bad(std::string("multicenter: ") + e.what());
  }
}

MatrixRun analyseMatrices(const MatrixInput& in, const Parallel& par) {
  MatrixRun out;
  RunResults& r = out.run;
  Checkpoint& ck = r.ck;
  const int n = static_cast<int>(in.basisAtom.size());
  const int natoms = static_cast<int>(in.atomicNumbers.size());

  ck.format = FileFormat::Arrays;
  ck.hasEnergy = false;  // no energy comes with the matrices
  ck.natoms = natoms;
  ck.nbf = n;
  ck.atomicNumber = Vec1<int>(natoms);
  ck.nuclearCharge = Vec1<double>(natoms);
  ck.coords = Matrix(3, natoms);
  for (int a = 1; a <= natoms; ++a) {
    const std::size_t k = static_cast<std::size_t>(a - 1);
    ck.atomicNumber(a) = static_cast<int>(in.atomicNumbers[k]);
    ck.nuclearCharge(a) =
        in.nuclearCharges.empty() ? static_cast<double>(ck.atomicNumber(a)) : in.nuclearCharges[k];
    if (!in.coordinates.empty())
      for (int x = 1; x <= 3; ++x) ck.coords(x, a) = in.coordinates[3 * k + (x - 1)];
  }

  // The functions in the order of their atoms (in their own order within
  // an atom), so that each atom's functions form one range, as in a file.
  std::vector<std::ptrdiff_t> order(static_cast<std::size_t>(n));
  std::iota(order.begin(), order.end(), 0);
  std::stable_sort(order.begin(), order.end(), [&](std::ptrdiff_t x, std::ptrdiff_t y) {
    return in.basisAtom[static_cast<std::size_t>(x)] < in.basisAtom[static_cast<std::size_t>(y)];
  });
  r.basis.first = Vec1<int>(natoms);
  r.basis.last = Vec1<int>(natoms);
  for (int a = 1, k = 0; a <= natoms; ++a) {
    r.basis.first(a) = k + 1;
    while (k < n &&
           in.basisAtom[static_cast<std::size_t>(order[static_cast<std::size_t>(k)])] == a - 1)
      ++k;
    r.basis.last(a) = k;
  }

  std::ostringstream text;
  ReportOptions reportOptions;
  reportOptions.minBond = in.minBond;
  TextReport report(text, ReportStyle::Fit, reportOptions);
  report.banner();
  try {
    const Limits limits = Limits::commandLine();
    r.partition = getparm(r.basis.first, r.basis.last, limits);
    // Atoms after the last one with functions have no share in the
    // analysis, but they are atoms of the molecule all the same.
    r.partition.natoms = natoms;
    r.partition.nbasis = n;
    r.partition.pairs = static_cast<long long>(natoms) * (natoms - 1) / 2;
    report.partition(r.partition);

    const Matrix s = reordered(in.overlap, order);
    Matrix p = reordered(in.density, order);
    if (in.spin.data != nullptr) ck.spin = reordered(in.spin, order);
    const bool spinTerm = !ck.spin.empty();

    const Vec1<int> hold = inpint(r.basis.first, r.basis.last, natoms, n);
    r.populations = mulliken(s, p, hold, natoms);
    report.populations(r.populations);
    // The density must hold a whole number of electrons, the number given
    // when there is one, and at least one; a spin density a whole number of
    // unpaired spins.
    const double trace = r.populations.total;
    const double electrons =
        in.electrons ? static_cast<double>(*in.electrons) : std::nearbyint(trace);
    if (!(std::fabs(trace - electrons) <= traceTolerance(electrons)) || !(electrons >= 1.0))
      refuse(" The density holds " + sixDecimals(trace) + " electrons (trace of P S), " +
                 (in.electrons ? "not " + std::to_string(*in.electrons)
                               : std::string("not a whole number of at least one")) +
                 ". STOP",
             kCodeBadValue);
    ck.electrons = static_cast<int>(electrons);
    int unpaired = ck.electrons % 2;
    if (spinTerm) {
      const double spinTrace = traceWithS(ck.spin, s);
      const double whole = std::nearbyint(spinTrace);
      if (!(std::fabs(spinTrace - whole) <= traceTolerance(electrons)) ||
          !(std::fabs(whole) <= electrons) || std::fmod(electrons - whole, 2.0) != 0.0)
        refuse(" The spin density describes " + sixDecimals(spinTrace) +
                   " unpaired electrons (trace of Ps S), which " + std::to_string(ck.electrons) +
                   " electrons cannot have. STOP",
               kCodeBadValue);
      unpaired = static_cast<int>(whole);
      r.spinSource = SpinSource::File;
      r.spin = spinPopulations(s, ck.spin, hold, natoms);
    }
    ck.nalpha = (ck.electrons + unpaired) / 2;
    ck.nbeta = ck.electrons - ck.nalpha;
    ck.calc.unrestrictedName = spinTerm;
    // The density for the Löwdin analysis, the fragments and the rings,
    // which the bond-order analysis takes over as work space.
    RunOptions groups;
    groups.fragments = in.fragments;
    groups.rings = in.rings;
    groups.minBond = in.minBond;
    const bool wantGroups = !in.fragments.empty() || !in.rings.empty();
    Matrix total;
    if (in.lowdin || wantGroups) total = copyOf(p);

    BondOrderAnalysis bo(std::move(p), s, r.basis.first, r.basis.last, r.populations.qat,
                         spinTerm ? &ck.spin : nullptr, par);
    // The density must be a possible one, as a file's must on the command
    // line: natural occupations within [-0.1, 2.1].
    DensityChecks checks;
    checks.economical = true;
    bo.setChecks(checks);
    bo.unpaired();
    report.unpaired(bo.results());
    bo.symmetrised();
    if (bo.results().xFormed) report.hermiticity(bo.results());
    bo.bondOrders();
    const BondOrders& b = bo.results();
    report.bondMatrix(b, ck.atomicNumber);
    report.totalValences(b, ck.atomicNumber);
    requireFinite(b.used.data(), natoms, "valences used in bonds");
    report.usedValences(b, ck.atomicNumber);
    requireFinite(b.free.data(), natoms, "free valences");
    report.freeValences(b, ck.atomicNumber);
    r.bonds = bo.take();
    if (in.lowdin)
      r.lowdin =
          lowdinAnalysis(s, total, spinTerm ? &ck.spin : nullptr, r.basis.first, r.basis.last, par);
    if (wantGroups)
      groupAnalyses(groups, r, total, spinTerm ? &ck.spin : nullptr, s,
                    spinTerm ? MulticenterFormula::SpinResolved : MulticenterFormula::ClosedShell,
                    par);
    total.release();
    ck.spin.release();
    report.charges(ck, r.populations, r.spin ? &*r.spin : nullptr, r.spinSource,
                   r.lowdin ? &*r.lowdin : nullptr);
    report.bondList(ck, r.bonds, r.lowdin ? &*r.lowdin : nullptr);
    if (r.fragments) report.fragments(*r.fragments);
    if (r.multicenter) report.multicenter(ck, *r.multicenter);
    r.complete = true;
  } catch (const Stop& s) {
    report.stop(s);
    out.stop = s;
  } catch (const std::bad_alloc&) {
    Stop s;
    s.status = kStatusInputError;
    s.detail = "out of memory";
    out.stop = s;
  }
  out.report = text.str();

  JsonInput j;
  j.ck = &ck;
  j.populations = r.complete ? &r.populations : nullptr;
  j.bonds = r.complete ? &r.bonds : nullptr;
  j.spin = r.complete && r.spin ? &*r.spin : nullptr;
  j.lowdin = r.complete && r.lowdin ? &*r.lowdin : nullptr;
  j.stop = out.stop ? &*out.stop : nullptr;
  j.minBond = in.minBond;
  j.fragments = r.complete && r.fragments ? &*r.fragments : nullptr;
  j.multicenter = r.complete && r.multicenter ? &*r.multicenter : nullptr;
  out.json = jsonLine(j);
  return out;
}

}  // namespace mv
