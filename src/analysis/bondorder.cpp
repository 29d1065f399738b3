#include "analysis/bondorder.h"

#include <cmath>
#include <cstdio>
#include <stdexcept>
#include <string>

#include "analysis/linalg.h"
#include "analysis/sdiag.h"
#include "core/stop.h"

namespace mv {

namespace {

// Threshold below which an eigenvalue of X counts as zero.
constexpr double kZeroEig = 0.0000001;

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

void BondOrderAnalysis::unpaired() {
  if (haveRoots_ || par_.maxThreads() < 2 || nbf_ < besideOrder_) {
    densitySide(par_);
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
      densitySide(par_);
  });
  haveRoots_ = true;
}

void BondOrderAnalysis::densitySide(const Parallel& par) {
  const int n = nbf_;
  Matrix& bomat = r_.bonds;
  // W = P S and its one- and two-centre sums.
  w_ = Matrix::uninitialised(n, n);
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
  } else {
    // X^1/2 from the eigenvectors of X (its lower triangle); eigenvalues
    // below the threshold, negative ones included, count as zero.  When all
    // of them do, X^1/2 vanishes and its eigenvectors are not needed.
    Vec1<double>& eig = roots_.root;  // free since S^1/2 and S^-1/2 are built
    sdiagUnlessAllBelow(p_.col(1), p_.ld(), eig.data(), n, kZeroEig, par_);
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
      bomat(a, b) = bomat(a, b) + pairSum(p_, a, b);
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
