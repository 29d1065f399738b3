#include "analysis/bondorder.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <functional>
#include <stdexcept>
#include <string>

#include "analysis/linalg.h"
#include "analysis/occupations.h"
#include "analysis/sdiag.h"
#include "core/stop.h"

namespace mv {

namespace {

// Threshold below which an eigenvalue of X counts as zero.
constexpr double kZeroEig = 0.0000001;

// Without X, R is taken as zero only when every eigenvalue of X is shown to
// lie below 0.9 times the threshold: the margin of 1e-8 covers, with four
// orders of magnitude to spare, the rounding in which the eigenvalues of
// the formed X would differ from those shown here, so that no eigenvalue
// that the full sequence keeps is ever dropped.
constexpr double kVanishing = 0.9 * kZeroEig;

// Natural occupations of a possible density lie in [-0.1, 2.1], the
// eigenvalues 2n - n^2 of X in [-0.21, 1]; the margin covers rounding.
constexpr double kLowestEigenvalue = -0.21;
constexpr double kHighestEigenvalue = 1.0;
constexpr double kRangeMargin = 1e-6;

// Largest eigenvalue of X (or of S^1/2 (Ps - Ps S Ps) S^1/2 for one spin's
// density) accepted for a density of one determinant: the densities in the
// files carry 9 significant digits, whose rounding leaves eigenvalues of
// some 1e-8.
constexpr double kIdempotency = 1e-4;

std::string figure(const char* format, double v) {
  char buf[48];
  std::snprintf(buf, sizeof buf, format, v);
  return buf;
}

// The eigenvalues of X (lowest and highest) of a possible density.
void requirePossible(double lowest, double highest) {
  if (lowest >= kLowestEigenvalue - kRangeMargin && highest <= kHighestEigenvalue + kRangeMargin)
    return;
  const bool low = lowest < kLowestEigenvalue - kRangeMargin;
  const double value = low ? lowest : highest;
  const double off = low ? kLowestEigenvalue - lowest : highest - kHighestEigenvalue;
  refuse(" The density is not a possible one: S^1/2 (2P - P S P) S^1/2 has the eigenvalue " +
             figure("%.6G", value) + ", " + figure("%.3G", off) +
             " outside [-0.21, 1] (natural occupations outside [-0.1, 2.1]). STOP",
         kCodeBadValue);
}

// The largest eigenvalue in size of X, or of one spin's counterpart, of a
// density of one determinant.
void requireIdempotent(double largest, const char* which, const char* matrix) {
  if (largest <= kIdempotency) return;
  refuse(std::string(" The ") + which + " is not idempotent: " + matrix +
             " has an eigenvalue of size " + figure("%.3G", largest) +
             ", where one determinant gives 0 (within " + figure("%.0E", kIdempotency) + "). STOP",
         kCodeBadValue);
}

// The lower triangle of c, in a matrix of its own.
Matrix copyLower(const Matrix& c) {
  const int n = c.rows();
  Matrix k = Matrix::uninitialised(n, n);
  for (int j = 1; j <= n; ++j)
    for (int i = j; i <= n; ++i) k(i, j) = c(i, j);
  return k;
}

void copy(Matrix& to, const Matrix& from, int n) {
  for (int j = 1; j <= n; ++j)
    for (int i = 1; i <= n; ++i) to(i, j) = from(i, j);
}

}  // namespace

void requireFinite(const double* v, int n, const char* what) {
  for (int k = 0; k < n; ++k)
    if (!std::isfinite(v[k]))
      refuse(std::string(" The bond-order analysis gives a value that is not a finite number (") +
                 what + "): the density holds elements out of range. STOP",
             kCodeBadValue);
}

BondOrderAnalysis::BondOrderAnalysis(Matrix p, const Matrix& s, const Vec1<int>& first,
                                     const Vec1<int>& last, const Vec1<double>& qat,
                                     const Matrix* spin, const Parallel& par, int besideOrder)
    : p_(std::move(p)),
      s_(s),
      first_(first),
      last_(last),
      qat_(qat),
      spin_(spin),
      par_(par),
      nbf_(s.rows()),
      nat_(qat.size()),
      besideOrder_(besideOrder) {
  r_.bonds = Matrix(nat_, nat_);
  r_.total = Vec1<double>(nat_);
  r_.used = Vec1<double>(nat_);
  r_.free = Vec1<double>(nat_);
  r_.spinTerm = spin != nullptr;
}

// Sum over mu in A, nu in B of M(mu,nu) M(nu,mu).
double BondOrderAnalysis::pairSum(const Matrix& m, int a, int b) const {
  double sum = 0.0;
  for (int mu = first_(a); mu <= last_(a); ++mu)
    for (int nu = first_(b); nu <= last_(b); ++nu) sum += m(mu, nu) * m(nu, mu);
  return sum;
}

void BondOrderAnalysis::useOverlapFactor(Matrix factor) {
  factor_ = std::move(factor);
  haveFactor_ = true;
}

void BondOrderAnalysis::unpaired() {
  if (checks_.economical && (spin_ != nullptr || checks_.closedShellScf)) {
    if (!haveFactor_) factor_ = overlapFactor(s_, par_);
    haveFactor_ = true;
    if (!factor_.empty()) {
      // The checks first, on every thread; then W = P S, beside the
      // eigen-solve of the form when R is made from it (the longest step,
      // which runs on one thread).
      bool vanishes = false;
      if (spin_ != nullptr)
        checkSpinDensities();
      else
        vanishes = closedShellVanishes();
      if (pendingForm_.empty()) {
        productW(par_);
      } else if (par_.maxThreads() < 2 || nbf_ < besideOrder_) {
        vanishes = solveForm();
        productW(par_);
      } else {
        par_.run(2, [&](int t) {
          if (t == 0)
            vanishes = solveForm();
          else
            productW(par_);
        });
      }
      if (!fromForm_) factor_.release();
      if (spin_ != nullptr || vanishes || fromForm_) {
        // X is not needed: R is the spin density times S, zero, or made
        // from the eigenpairs of the form.
        vanishes_ = vanishes;
        r_.xFormed = false;
        unpairedFromDiagonal();
        return;
      }
      // Eigenvalues of X above the threshold: the full sequence from E on.
      besideRoots([&] { productE(par_); });
      return;
    }
  }
  factor_.release();
  besideRoots([&] { densitySide(par_); });
}

void BondOrderAnalysis::besideRoots(const std::function<void()>& work) {
  if (haveRoots_ || par_.maxThreads() < 2 || nbf_ < besideOrder_) {
    work();
    return;
  }
  // Two tasks: the caller takes the overlap side, the longer one, and a
  // free thread the density side; when no thread is free the caller does
  // both in turn.  Either side's work may be helped by the threads that
  // become free.  Each side's results depend on nothing but its own inputs,
  // so they are the same however the threads share the work.
  par_.run(2, [&](int t) {
    if (t == 0)
      roots_ = overlapRoots(s_, nbf_, par_);
    else
      work();
  });
  haveRoots_ = true;
}

void BondOrderAnalysis::densitySide(const Parallel& par) {
  productW(par);
  productE(par);
}

void BondOrderAnalysis::productW(const Parallel& par) {
  const int n = nbf_;
  Matrix& bomat = r_.bonds;
  // W = P S and its one- and two-centre sums.
  w_ = Matrix::uninitialised(n, n);
  if (checks_.economical && eigenpairsAvailable(n))
    libraryProduct(w_.view(), p_.view(), s_.view(), n, par);
  else
    matmul(w_.view(), p_.view(), s_.view(), n, par);
  for (int a = 1; a <= nat_; ++a)
    for (int b = a; b <= nat_; ++b) {
      const double sum = pairSum(w_, a, b);
      bomat(a, b) = sum;
      bomat(b, a) = sum;
    }
  // Total valence: 2 q(A) minus the one-centre sum.
  for (int a = 1; a <= nat_; ++a) {
    r_.total(a) = 2.0 * qat_(a) - bomat(a, a);
    bomat(a, a) = 0.0;
  }
}

void BondOrderAnalysis::productE(const Parallel& par) {
  const int n = nbf_;
  // E = 2W - W W = D S, in place of P.
  matmul(p_.view(), w_.view(), w_.view(), n, par);
  for (int j = 1; j <= n; ++j) {
    double* pj = p_.col(j);
    const double* wj = w_.col(j);
    for (int i = 0; i < n; ++i) pj[i] = 2.0 * wj[i] - pj[i];
  }
  double nu = 0.0;
  for (int i = 1; i <= n; ++i) nu += p_(i, i);
  r_.unpaired = nu;
  requireFinite(&r_.unpaired, 1, "number of effectively unpaired electrons");
}

void BondOrderAnalysis::unpairedFromDiagonal() {
  // Each diagonal element of W W is the sum the product forms, over k in
  // ascending order, so N is the same number as from E.
  const int n = nbf_;
  Vec1<double> diag(n);
  constexpr int kRows = 256;
  par_.run((n + kRows - 1) / kRows, [&](int t) {
    const int i1 = std::min(n, (t + 1) * kRows);
    for (int i = t * kRows + 1; i <= i1; ++i) {
      double sum = 0.0;
      for (int k = 1; k <= n; ++k) sum += w_(i, k) * w_(k, i);
      diag(i) = 2.0 * w_(i, i) - sum;
    }
  });
  double nu = 0.0;
  for (int i = 1; i <= n; ++i) nu += diag(i);
  r_.unpaired = nu;
  requireFinite(&r_.unpaired, 1, "number of effectively unpaired electrons");
}

bool BondOrderAnalysis::closedShellVanishes() {
  // C = L^T (2P - P S P) L has the eigenvalues of X.
  Matrix c = occupationForm(factor_, p_, 2.0, par_);
  const double bound = frobeniusLower(c);
  requireFinite(&bound, 1, "natural occupations");
  if (bound <= kIdempotency) {
    // Every eigenvalue lies within the bound: the density is a possible
    // one, and idempotent if it has to be.
    if (!eigenpairsAvailable(nbf_)) return allEigenvaluesBelow(c, kVanishing);
    Matrix kept = copyLower(c);
    if (allEigenvaluesBelow(c, kVanishing)) return true;
    // Some eigenvalues of X near the threshold (the rounding of the
    // density's printed digits in a large basis): the few that reach it
    // give R, of their rank, from the form itself (solveForm()).
    c.release();
    pendingForm_ = std::move(kept);
    return false;
  }
  const Vec1<double> eig = eigenvaluesLower(c, par_);
  const int n = nbf_;
  requirePossible(eig(n), eig(1));
  if (checks_.singleDeterminant)
    requireIdempotent(std::max(eig(1), -eig(n)), "SCF density", "S^1/2 (2P - P S P) S^1/2");
  return eig(1) < kVanishing;
}

bool BondOrderAnalysis::solveForm() {
  form_ = eigenpairsFrom(pendingForm_, kZeroEig);
  pendingForm_.release();
  if (form_.failed) {
    // The solver did not converge: the full sequence from E on.
    form_ = Eigenpairs();
    return false;
  }
  // No eigenvalue reaches the threshold after all: R vanishes.
  fromForm_ = form_.count > 0;
  if (!fromForm_) form_ = Eigenpairs();
  return !fromForm_;
}

void BondOrderAnalysis::checkSpinDensities() {
  if (!checks_.singleDeterminant) return;
  const int n = nbf_;
  for (const double sign : {1.0, -1.0}) {
    // Pa = (P + Ps) / 2, Pb = (P - Ps) / 2; C = Q - Q Q has the eigenvalues
    // n - n^2 of S^1/2 (Pa - Pa S Pa) S^1/2.
    Matrix one = Matrix::uninitialised(n, n);
    for (int j = 1; j <= n; ++j)
      for (int i = 1; i <= n; ++i) one(i, j) = 0.5 * (p_(i, j) + sign * (*spin_)(i, j));
    Matrix c = occupationForm(factor_, one, 1.0, par_);
    one.release();
    const double bound = frobeniusLower(c);
    requireFinite(&bound, 1, "natural occupations");
    if (bound <= kIdempotency) continue;
    const Vec1<double> eig = eigenvaluesLower(c, par_);
    requireIdempotent(std::max(eig(1), -eig(n)),
                      sign > 0 ? "alpha SCF density" : "beta SCF density",
                      sign > 0 ? "S^1/2 (Pa - Pa S Pa) S^1/2" : "S^1/2 (Pb - Pb S Pb) S^1/2");
  }
}

OverlapRoots overlapRoots(const Matrix& s, int n, const Parallel& par,
                          const std::atomic<bool>* abandon) {
  OverlapRoots r;
  auto abandoned = [&] {
    if (abandon == nullptr || !abandon->load(std::memory_order_relaxed)) return false;
    r.failure = std::make_exception_ptr(std::runtime_error("abandoned"));
    return true;
  };
  try {
    if (abandoned()) return r;
    r.vectors = Matrix::uninitialised(n, n);
    copy(r.vectors, s, n);
    r.root = Vec1<double>(n);
    r.inverse = Vec1<double>(n);
    Vec1<double>& eig = r.root;
    if (abandon == nullptr) {
      sdiag(r.vectors.col(1), r.vectors.ld(), eig.data(), n, par);
    } else if (!sdiagUnlessAbandoned(r.vectors.col(1), r.vectors.ld(), eig.data(), n, par,
                                     *abandon)) {
      abandoned();
      return r;
    }
    r.smallest = eig(1);
    for (int k = 2; k <= n; ++k)
      if (!(eig(k) >= r.smallest)) r.smallest = eig(k);
    if (!(r.smallest > 0.0)) return r;
    for (int k = 1; k <= n; ++k) {
      r.root(k) = std::sqrt(eig(k));
      r.inverse(k) = 1.0 / r.root(k);
    }
    if (abandoned()) return r;
    r.half = Matrix::uninitialised(n, n);
    spectral(r.half.view(), r.vectors.view(), r.root.data(), n, par);
    if (abandoned()) return r;
    r.inverseHalf = Matrix::uninitialised(n, n);
    spectral(r.inverseHalf.view(), r.vectors.view(), r.inverse.data(), n, par);
  } catch (...) {
    r.failure = std::current_exception();
  }
  return r;
}

void BondOrderAnalysis::useOverlapRoots(OverlapRoots roots) {
  roots_ = std::move(roots);
  haveRoots_ = true;
}

void BondOrderAnalysis::symmetrised() {
  if (!r_.xFormed) return;
  const int n = nbf_;
  if (!haveRoots_) roots_ = overlapRoots(s_, n, par_);
  haveRoots_ = true;
  if (roots_.failure) std::rethrow_exception(roots_.failure);
  if (!(roots_.smallest > 0.0)) {
    // A linearly dependent basis has no S^-1/2: every quantity built on R
    // would be non-finite.
    char value[32];
    std::snprintf(value, sizeof value, "%.6G", roots_.smallest);
    refuse(std::string(" The overlap matrix is not positive definite (smallest eigenvalue ") +
               value + "); the basis is linearly dependent.",
           kCodeSingularS);
  }
  temp_ = Matrix::uninitialised(n, n);

  // X = S^1/2 E S^-1/2 = S^1/2 D S^1/2, in place of P.
  matmul(temp_.view(), roots_.half.view(), p_.view(), n, par_);
  matmul(p_.view(), temp_.view(), roots_.inverseHalf.view(), n, par_);

  // Asymmetry and trace of X, reported only.
  double h = 0.0;
  double t = 0.0;
  for (int j = 1; j <= n; ++j)
    for (int i = 1; i <= n; ++i) {
      const double diff = std::fabs(p_(i, j) - p_(j, i));
      if (diff > h) h = diff;
    }
  for (int i = 1; i <= n; ++i) t += p_(i, i);
  r_.hermiticity = h;
  r_.trace = t;
  requireFinite(&r_.hermiticity, 1, "hermiticity control");
  requireFinite(&r_.trace, 1, "trace");
}

void BondOrderAnalysis::bondOrders() {
  const int n = nbf_;
  if (spin_ != nullptr) {
    // R = Ps S, the spin density of the file times S.
    matmul(p_.view(), spin_->view(), s_.view(), n, par_);
  } else if (vanishes_) {
    // R is zero: every term of the second sum is zero.
  } else if (fromForm_) {
    squareRootFromForm(p_.view(), factor_, form_, n, par_);
    form_ = Eigenpairs();
    factor_.release();
  } else {
    // X^1/2 from the eigenvectors of X (its lower triangle); eigenvalues
    // below the threshold, negative ones included, count as zero.  When all
    // of them do, X^1/2 vanishes and its eigenvectors are not needed.
    Vec1<double>& eig = roots_.root;  // free since S^1/2 and S^-1/2 are built
    sdiagUnlessAllBelow(p_.col(1), p_.ld(), eig.data(), n, kZeroEig, par_);
    if (checks_.economical && n > 0) {
      requirePossible(eig(n), eig(1));
      if (checks_.singleDeterminant)
        requireIdempotent(std::max(eig(1), -eig(n)), "SCF density", "S^1/2 (2P - P S P) S^1/2");
    }
    bool vanishing = true;
    for (int k = 1; k <= n; ++k) {
      if (eig(k) < kZeroEig) eig(k) = 0.0;
      eig(k) = std::sqrt(eig(k));
      if (eig(k) != 0.0) vanishing = false;
    }
    if (vanishing) {
      // Every eigenvalue cleared (a closed-shell determinant): each term of
      // X^1/2 and of the two products after it is zero times a finite
      // number, so R is exactly zero and the three products are not formed.
      for (int j = 1; j <= n; ++j)
        for (int i = 1; i <= n; ++i) p_(i, j) = 0.0;
    } else {
      // The eigenvectors of X move to those of S (free as well).
      Matrix& vectors = roots_.vectors;
      copy(vectors, p_, n);
      spectral(p_.view(), vectors.view(), eig.data(), n, par_);
      // R = S^-1/2 X^1/2 S^1/2, in place of P.
      matmul(temp_.view(), roots_.inverseHalf.view(), p_.view(), n, par_);
      matmul(p_.view(), temp_.view(), roots_.half.view(), n, par_);
    }
  }
  // The work matrices are no longer needed.
  roots_ = OverlapRoots();
  temp_.release();
  w_.release();

  // Second bond-order term.
  Matrix& bomat = r_.bonds;
  for (int a = 1; a <= nat_; ++a)
    for (int b = a + 1; b <= nat_; ++b) {
      bomat(a, b) = bomat(a, b) + (vanishes_ ? 0.0 : pairSum(p_, a, b));
      bomat(b, a) = bomat(a, b);
    }
  p_.release();
  for (int b = 1; b <= nat_; ++b) requireFinite(bomat.col(b), nat_, "bond orders");
  requireFinite(r_.total.data(), nat_, "total valences");

  // Valence used in bonds: the row sums of the bond orders; free valence:
  // total valence minus valence used in bonds.
  for (int a = 1; a <= nat_; ++a) {
    double sum = 0.0;
    for (int b = 1; b <= nat_; ++b)
      if (b != a) sum += bomat(a, b);
    r_.used(a) = sum;
    r_.free(a) = r_.total(a) - sum;
  }
}

}  // namespace mv
