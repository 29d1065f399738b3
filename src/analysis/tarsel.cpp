// Bond orders, valences, free valences and effectively unpaired electrons.
//
// With W = P S, D = 2P - P S P (the density of effectively unpaired
// electrons) and R = S^-1/2 (S^1/2 D S^1/2)^1/2 S^1/2, the square root of
// D S, the bond order of atoms A and B is
//   sum over mu in A, nu in B of W(mu,nu) W(nu,mu) + R(mu,nu) R(nu,mu).
// For a closed-shell determinant D vanishes and only the W term remains; for
// a restricted open-shell determinant R is the spin density times S; for a
// correlated density the square root gives the improved second term.
#include <cmath>
#include <cstdio>
#include <string>

#include "analysis/analysis.h"
#include "analysis/bondorder.h"
#include "analysis/linalg.h"
#include "driver/report.h"
#include "driver/stop.h"

namespace mv {

namespace {

// Work matrices owned by the analysis for the whole run (on cache lines,
// like the shared matrices).
alignas(64) Square sp12;  // S^1/2
alignas(64) Square sm12;  // S^-1/2
// The copy of S (then eigenvectors) and the intermediate products live in
// two shared matrices that are free once the density has been verified: the
// spin density of the ROHF rebuild (stv2) and the packed density triangle
// or MO coefficients (opensh).  The analysis is the last stage, and neither
// of them is read after the density verification, so the run needs 4 MB
// less.  Own matrices (untouched, hence costing no memory, unless used) take
// their place when a caller hands one of the shared ones in as P, W or S.
alignas(64) Square stOwn;
alignas(64) Square tempOwn;

// Work matrices of one analysis: st (copy of S, then eigenvectors) and temp.
void workMatrices(MatView p, MatView w, MatView s, MatView& st, MatView& temp) {
  auto clash = [&](const Square& m) { return p.p == m.a || w.p == m.a || s.p == m.a; };
  st = clash(g.stv2) ? view(stOwn) : view(g.stv2);
  temp = clash(g.opensh) ? view(tempOwn) : view(g.opensh);
}

// bomat: bond orders (20 by 20, leading dimension 20); its diagonal holds
// the one-centre sums, then zero, finally the valence used in bonds.
// val: total valence, later the free valence.
BondOrderResults res;
Vec<double, kLd> eig;   // eigenvalues, then their square roots
Vec<double, kLd> eigr;  // reciprocal square roots of the eigenvalues of S

// Column headings of the total valences, as 4-character items.
const char* const kiir1[4] = {"  AT", "OM  ", "VALE", "NCE "};
const char* const kiir2[4] = {" ATO", "M   ", "VALE", "NCE "};

constexpr const char* kRowLayout = "(20(I3,A4,F8.5,4(I3,A4,1X,F8.5),/))";

// Threshold below which an eigenvalue of X counts as zero.
constexpr double kZeroEig = 0.0000001;

// Sum over mu in A, nu in B of M(mu,nu) M(nu,mu).
double pairSum(MatView m, const int* first, const int* last, int a, int b) {
  double sum = 0.0;
  for (int mu = first[a - 1]; mu <= last[a - 1]; ++mu)
    for (int nu = first[b - 1]; nu <= last[b - 1]; ++nu) sum += m(mu, nu) * m(nu, mu);
  return sum;
}

// The arguments must describe tables the analysis can index.
void checkArguments(const int* first, const int* last, int nat, int nbf) {
  if (nat < 1 || nat > kMaxAtoms || nbf < 1 || nbf > kMaxBf) stopCode(kCodeLimit);
  for (int a = 1; a <= nat; ++a) {
    if (last[a - 1] < first[a - 1]) continue;
    if (first[a - 1] < 1 || last[a - 1] > nbf) stopCode(kCodeBadIndex);
  }
}

// Every number the analysis prints must be finite.  A density that passes
// the trace check can still hold elements so large that the products of the
// analysis overflow; such a density cannot be analysed.
void requireFinite(const double* v, int n, int stride, const char* what) {
  for (int k = 0; k < n; ++k)
    if (!std::isfinite(v[static_cast<std::ptrdiff_t>(k) * stride]))
      refuse(std::string(" The bond-order analysis gives a value that is not a finite number (") +
                 what + "): the density holds elements out of range. STOP",
             kCodeBadValue);
}

// One row table: atom number, element label and one value per atom.
void writeRows(int nat, const double* values) {
  Items items;
  for (int a = 1; a <= nat; ++a) {
    items.emplace_back(a);
    items.emplace_back(mend(g.ia(a)));
    items.emplace_back(values[a - 1]);
  }
  writeLayout(kRowLayout, items);
}

// The whole analysis; with `report` the records of the report are written
// at their places between the steps.
void analyse(MatView p, MatView w, MatView s, const int* first, const int* last, int nat, int nbf,
             bool report) {
  checkArguments(first, last, nat, nbf);
  auto& bomat = res.bomat;
  auto& val = res.free;
  MatView vst, vtemp;
  workMatrices(p, w, s, vst, vtemp);
  const MatView vsp = view(sp12), vsm = view(sm12);
  // The dense kernels run on this thread alone.
  const Parallel par;

  // W = P S and its one- and two-centre sums.
  matmul(w, p, s, nbf, par);
  for (int a = 1; a <= nat; ++a) {
    for (int b = a; b <= nat; ++b) {
      const double sum = pairSum(w, first, last, a, b);
      bomat(a, b) = sum;
      bomat(b, a) = sum;
    }
  }
  // Total valence: 2 q(A) minus the one-centre sum.
  for (int a = 1; a <= nat; ++a) {
    val(a) = 2.0 * g.qat(a) - bomat(a, a);
    res.total(a) = val(a);
    bomat(a, a) = 0.0;
  }

  // E = 2W - W W = D S, in place of P.
  matmul(p, w, w, nbf, par);
  for (int j = 1; j <= nbf; ++j) {
    double* pj = p.col(j);
    const double* wj = w.col(j);
    for (int i = 0; i < nbf; ++i) pj[i] = 2.0 * wj[i] - pj[i];
  }
  double n = 0.0;
  for (int i = 1; i <= nbf; ++i) n += p(i, i);
  res.unpaired = n;
  requireFinite(&n, 1, 1, "number of effectively unpaired electrons");
  if (report) writeLayout("(' Number of effectively unpaired electrons=',F10.6)", {Item(n)});

  // S^1/2 and S^-1/2 from the eigenvectors of S.
  for (int j = 1; j <= nbf; ++j)
    for (int i = 1; i <= nbf; ++i) vst(i, j) = s(i, j);
  sdiag(vst.p, vst.ld, eig.data(), nbf, par);
  double smallest = eig(1);
  for (int k = 2; k <= nbf; ++k)
    if (!(eig(k) >= smallest)) smallest = eig(k);
  if (!(smallest > 0.0)) {
    // A linearly dependent basis has no S^-1/2: every quantity built on R
    // would be non-finite.
    char value[32];
    std::snprintf(value, sizeof value, "%.6G", smallest);
    refuse(std::string(" The overlap matrix is not positive definite (smallest eigenvalue ") +
               value + "); the basis is linearly dependent.",
           kCodeSingularS);
  }
  for (int k = 1; k <= nbf; ++k) {
    eig(k) = std::sqrt(eig(k));
    eigr(k) = 1.0 / eig(k);
  }
  spectral(vsp, vst, eig.data(), vtemp, nbf, par);
  spectral(vsm, vst, eigr.data(), vtemp, nbf, par);

  // X = S^1/2 E S^-1/2 = S^1/2 D S^1/2, in place of P.
  matmul(vtemp, vsp, p, nbf, par);
  matmul(p, vtemp, vsm, nbf, par);

  // Asymmetry and trace of X, reported only.
  double h = 0.0;
  double t = 0.0;
  for (int j = 1; j <= nbf; ++j)
    for (int i = 1; i <= nbf; ++i) {
      const double diff = std::fabs(p(i, j) - p(j, i));
      if (diff > h) h = diff;
    }
  for (int i = 1; i <= nbf; ++i) t += p(i, i);
  res.asymmetry = h;
  res.trace = t;
  requireFinite(&h, 1, 1, "hermiticity control");
  requireFinite(&t, 1, 1, "trace");
  if (report) {
    writeFree({Item(" ")});
    writeFree({Item(" ")});
    writeFree({Item(" Hermiticity control="), Item(h)});
    writeFree({Item(" ")});
    writeFree({Item(" Trace="), Item(t)});
  }

  // X^1/2 from the eigenvectors of X (its lower triangle); eigenvalues below
  // the threshold, negative ones included, count as zero.  When all of them
  // do, X^1/2 vanishes and its eigenvectors are not needed.
  sdiagUnlessAllBelow(p.p, p.ld, eig.data(), nbf, kZeroEig, par);
  bool vanishing = true;
  for (int k = 1; k <= nbf; ++k) {
    if (eig(k) < kZeroEig) eig(k) = 0.0;
    eig(k) = std::sqrt(eig(k));
    if (eig(k) != 0.0) vanishing = false;
  }
  if (vanishing) {
    // Every eigenvalue cleared (a closed-shell determinant): each term of
    // X^1/2 and of the two products after it is zero times a finite number,
    // so R is exactly zero and the three products are not formed.
    for (int j = 1; j <= nbf; ++j)
      for (int i = 1; i <= nbf; ++i) p(i, j) = 0.0;
  } else {
    // The eigenvectors of X move to the copy of S (free since S^1/2 and
    // S^-1/2 are built).
    for (int j = 1; j <= nbf; ++j)
      for (int i = 1; i <= nbf; ++i) vst(i, j) = p(i, j);
    spectral(p, vst, eig.data(), vtemp, nbf, par);

    // R = S^-1/2 X^1/2 S^1/2, in place of P.
    matmul(vtemp, vsm, p, nbf, par);
    matmul(p, vtemp, vsp, nbf, par);
  }

  // Second bond-order term.
  for (int a = 1; a <= nat; ++a) {
    for (int b = a + 1; b <= nat; ++b) {
      bomat(a, b) = bomat(a, b) + pairSum(p, first, last, a, b);
      bomat(b, a) = bomat(a, b);
    }
  }
  for (int b = 1; b <= nat; ++b) requireFinite(&bomat(1, b), nat, 1, "bond orders");
  requireFinite(val.data(), nat, 1, "total valences");
  if (report) {
    writeLayout("(1X,/,11X,'   BOND ORDER MATRIX',/,/)");
    mprint(bomat.a, nat, kMaxAtoms);
  }

  // Valence used in bonds: the row sums of the bond orders.
  for (int a = 1; a <= nat; ++a) {
    double sum = 0.0;
    for (int b = 1; b <= nat; ++b)
      if (b != a) sum += bomat(a, b);
    bomat(a, a) = sum;
  }
  if (report) {
    writeLayout("(/,/,11X,'TOTAL VALENCES',/)");
    Items labels;
    const int m = nat < 5 ? nat : 5;
    for (const char* part : kiir1) labels.emplace_back(part);
    for (int c = 2; c <= m; ++c)
      for (const char* part : kiir2) labels.emplace_back(part);
    writeLayout("(20A4)", labels);
    writeRows(nat, val.data());
  }

  double used[kMaxAtoms];
  for (int a = 1; a <= nat; ++a) used[a - 1] = bomat(a, a);
  requireFinite(used, nat, 1, "valences used in bonds");
  if (report) {
    writeLayout("(/,/,11X,'VALENCES USED IN BONDS (SUM OF BOND ORDERS)',/)");
    writeRows(nat, used);
  }

  // Free valence: total valence minus valence used in bonds.
  for (int a = 1; a <= nat; ++a) val(a) = val(a) - bomat(a, a);
  requireFinite(val.data(), nat, 1, "free valences");
  if (report) {
    writeLayout("(/,/,11X,'FREE VALENCES',/)");
    writeFree({Item(" (In the closed shell RHF case should be zero)")});
    writeFree({Item(" ")});
    writeRows(nat, val.data());
  }
}

}  // namespace

const BondOrderResults& bondOrderResults() {
  return res;
}

void analyseBondOrders(MatView p, MatView w, MatView s, const int* first, const int* last, int nat,
                       int nbf) {
  analyse(p, w, s, first, last, nat, nbf, false);
}

void tarsel(MatView p, MatView w, MatView s, const int* first, const int* last, int nat, int nbf) {
  analyse(p, w, s, first, last, nat, nbf, true);
}

}  // namespace mv
