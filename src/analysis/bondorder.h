// Bond orders, valences, free valences and effectively unpaired electrons.
//
// With W = P S, D = 2P - P S P (the density of effectively unpaired
// electrons) and R = S^-1/2 (S^1/2 D S^1/2)^1/2 S^1/2, the square root of
// D S, the bond order of atoms A and B is
//   sum over mu in A, nu in B of W(mu,nu) W(nu,mu) + R(mu,nu) R(nu,mu).
// For a closed-shell determinant D vanishes and only the W term remains; for
// a restricted open-shell determinant R is the spin density times S; for a
// correlated density the square root gives the improved second term.  For a
// spin-unrestricted SCF density R is the file's spin density times S.
#pragma once

#include <atomic>
#include <exception>
#include <functional>

#include "analysis/occupations.h"
#include "core/matrix.h"
#include "core/parallel.h"

namespace mv {

struct BondOrders {
  double unpaired = 0.0;     // number of effectively unpaired electrons, trace(2W - W W)
  double hermiticity = 0.0;  // largest |X(i,j) - X(j,i)| of X = S^1/2 D S^1/2
  double trace = 0.0;        // trace of X
  Matrix bonds;              // bond orders of every pair of atoms, zero diagonal
  Vec1<double> total;        // total valence: 2 q(A) - sum over mu, nu in A of W W
  Vec1<double> used;         // valence used in bonds: the sum of A's bond orders
  Vec1<double> free;         // free valence: total minus used
  bool spinTerm = false;     // the second term comes from the file's spin density
  bool xFormed = true;       // X was formed: hermiticity and trace hold its figures
};

// What the command line asks of the analysis beyond the classic sequence:
// to form only what its results need, and to accept only a density that is
// a possible one.  The classic run leaves every flag false.
struct DensityChecks {
  // Form only what the results need, and refuse a density whose natural
  // occupations leave [-0.1, 2.1] (an eigenvalue of X below -0.21 or above 1).
  bool economical = false;
  // A restricted SCF density with as many alpha as beta electrons: when
  // every eigenvalue of X is shown to lie below the threshold without
  // forming X, R vanishes and neither S nor X is diagonalised.
  bool closedShellScf = false;
  // The density of one determinant: it must be idempotent, P S P = 2P, or
  // for a spin-unrestricted one Pa S Pa = Pa and Pb S Pb = Pb.
  bool singleDeterminant = false;
};

// The part of the analysis that depends on S alone: its eigenvectors and
// eigenvalues, S^1/2 and S^-1/2.
struct OverlapRoots {
  Matrix vectors;              // the eigenvectors of S
  Vec1<double> root, inverse;  // square roots of the eigenvalues, and their inverses
  double smallest = 0.0;       // the smallest eigenvalue
  Matrix half, inverseHalf;    // S^1/2 and S^-1/2, made only when smallest > 0
  std::exception_ptr failure;  // the stop of the eigen-solve, if it stopped
};

// S^1/2 and S^-1/2 of the overlap matrix s (order n), on the threads of
// `par`.  A stop is kept in `failure`, to be rethrown where the run reaches
// this step.  When `abandon` is given and becomes true (the run has stopped
// elsewhere), the work ends at the next of its steps, and the result,
// marked as failed, is not for use.
OverlapRoots overlapRoots(const Matrix& s, int n, const Parallel& par,
                          const std::atomic<bool>* abandon = nullptr);

// The analysis in three steps, each ending where the report shows its
// figures: the unpaired electrons, the check of X, the bond orders.
class BondOrderAnalysis {
 public:
  // p: the analysed density, taken over as work space; s: the overlap
  // matrix; first/last: each atom's functions; qat: gross populations;
  // spin: the spin density for the second term, or null for the square root.
  // The dense products and eigen-solves run on the threads of `par`.  From
  // order `besideOrder` on, with two threads or more, the eigen-solve of S
  // runs beside the products of unpaired() (see there).
  BondOrderAnalysis(Matrix p, const Matrix& s, const Vec1<int>& first, const Vec1<int>& last,
                    const Vec1<double>& qat, const Matrix* spin, const Parallel& par = Parallel(),
                    int besideOrder = kBesideOrder);

  // W = P S, the total valences, E = 2W - W W = D S and N = trace E.
  // S^1/2 and S^-1/2 do not depend on the density: when they are made
  // beside these products, a failure in making them is kept for
  // symmetrised(), so that what stops the run is what would stop it if the
  // steps ran one after the other.
  void unpaired();
  // S^1/2 and S^-1/2 from the eigenvectors of S (refused when S is not
  // positive definite), X = S^1/2 E S^-1/2, its asymmetry and trace.
  void symmetrised();
  // S^1/2 and S^-1/2 made elsewhere (by overlapRoots() on the same S, beside
  // the steps before): symmetrised() takes them instead of making them.
  void useOverlapRoots(OverlapRoots roots);
  // The command line's checks and economies (before unpaired()).
  void setChecks(const DensityChecks& checks) { checks_ = checks; }
  // The Cholesky factor of S made elsewhere (by overlapFactor() on the same
  // S, or empty when it failed there), for the checks without X.
  void useOverlapFactor(Matrix factor);

  // Order of S from which its eigen-solve runs beside W = P S and W W: the
  // reduction to tridiagonal form is bound by memory and the products by
  // arithmetic, so side by side they share two cores better than each
  // shares them alone.
  static constexpr int kBesideOrder = 400;
  // R, the bond orders, the valences used in bonds and the free valences.
  void bondOrders();

  const BondOrders& results() const { return r_; }
  BondOrders take() { return std::move(r_); }

 private:
  double pairSum(const Matrix& m, int a, int b) const;
  // W, the total valences, E and N.
  void densitySide(const Parallel& par);
  // `work` (a step on the density side), beside the making of S^1/2 and
  // S^-1/2 when they are still to be made and a second thread can take it.
  void besideRoots(const std::function<void()>& work);
  // W and the total valences; E and N.
  void productW(const Parallel& par);
  void productE(const Parallel& par);
  // N = trace(2W - W W) from the diagonal of W W alone.
  void unpairedFromDiagonal();
  // Without X: true when every eigenvalue of X lies below the threshold
  // (R vanishes), after the checks of a closed-shell density.
  // When a few eigenvalues reach 0.9 times the threshold, the form is kept
  // in pendingForm_ for solveForm().
  bool closedShellVanishes();
  // The eigenpairs of the kept form at or above the threshold: true when
  // there are none (R vanishes); R is then made from them (fromForm_),
  // unless the solver failed.
  bool solveForm();
  // Without X: each spin's density of a spin-unrestricted determinant is
  // idempotent.
  void checkSpinDensities();

  Matrix p_;  // P, then E, X and R
  const Matrix& s_;
  const Vec1<int>& first_;
  const Vec1<int>& last_;
  const Vec1<double>& qat_;
  const Matrix* spin_;
  Parallel par_;
  int nbf_ = 0;
  int nat_ = 0;
  int besideOrder_ = kBesideOrder;
  bool haveRoots_ = false;  // roots_ are made (or failed to be)
  OverlapRoots roots_;
  DensityChecks checks_;
  bool haveFactor_ = false;  // factor_ is made (empty when it failed)
  Matrix factor_;            // the Cholesky factor of S
  bool vanishes_ = false;    // R is zero, decided without X
  bool fromForm_ = false;    // R is made from form_, without X
  Eigenpairs form_;          // the eigenpairs of L^T D L at or above the threshold
  Matrix pendingForm_;       // L^T D L (lower triangle), for solveForm()
  Matrix w_, temp_;
  BondOrders r_;
};

// Every number the analysis prints must be finite.  A density that passes
// the trace check can still hold elements so large that the products of the
// analysis overflow; such a density cannot be analysed.
void requireFinite(const double* v, int n, const char* what);

}  // namespace mv
