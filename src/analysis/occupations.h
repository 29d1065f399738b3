// The spectrum of a density in the metric of S, without S^1/2.
//
// With the Cholesky factorisation S = L L^T and Q = L^T A L, the matrix Q is
// congruent to A and similar to A S: its eigenvalues are the natural
// occupations of A.  For the total density P,
//   C = 2Q - Q Q = L^T (2P - P S P) L
// has the eigenvalues 2n - n^2 of X = S^1/2 (2P - P S P) S^1/2, and for one
// spin's density C = Q - Q Q has the eigenvalues n - n^2.  C is symmetric and
// costs a factorisation and three products, where X costs two eigen-solves.
//
// Every eigenvalue of C is below t exactly when t I - C is positive
// definite, which a Cholesky factorisation settles; and the Frobenius norm
// of C bounds the size of every eigenvalue.  The products and the
// factorisations of order 160 and more run in the BLAS and LAPACK of the
// system (OpenBLAS, loaded at the first use), one thread per call: the columns of a product are
// shared out in fixed panels among the threads of `par`, so the results are the same for any number
// of threads.
#pragma once

#include "core/matrix.h"
#include "core/parallel.h"

namespace mv {

// True when the forms of order n can be made: small ones always, larger
// ones when the system's BLAS and LAPACK could be loaded.  Otherwise
// overlapFactor() gives no factor, and the analysis forms X.
bool occupationsAvailable(int n);

// The lower Cholesky factor L of S (zero above the diagonal), or an empty
// matrix when the factorisation fails (S is not positive definite as
// computed) or the library is missing.
Matrix overlapFactor(const Matrix& s, const Parallel& par = Parallel());

// C = c Q - Q Q with Q = L^T A L, for a symmetric A (both triangles).  Only
// the lower triangle of C is formed; the rest is left as work space.
Matrix occupationForm(const Matrix& l, const Matrix& a, double c, const Parallel& par = Parallel());

// The Frobenius norm of the symmetric matrix whose lower triangle is c's:
// no eigenvalue is larger in size.
double frobeniusLower(const Matrix& c);

// True when every eigenvalue of the symmetric matrix whose lower triangle is
// c's lies below t, that is when t I - C has a Cholesky factorisation.  c is
// overwritten.
bool allEigenvaluesBelow(Matrix& c, double t);

// The eigenvalues (descending) of the symmetric matrix whose lower triangle
// is c's, without its eigenvectors.  c is overwritten.
Vec1<double> eigenvaluesLower(Matrix& c, const Parallel& par = Parallel());

// C = A B for n by n matrices by the library's dgemm, in fixed panels of
// columns shared among the threads of `par` (one call on one thread each),
// so that the result is the same for any number of threads.  Order 160 and
// more, where eigenpairsAvailable(n).
void libraryProduct(MatView c, MatView a, MatView b, int n, const Parallel& par = Parallel());

// The eigenpairs of C whose eigenvalues reach a threshold, for the square
// root of D S: with S = L L^T, C = L^T D L is orthogonally similar to
// X = S^1/2 D S^1/2 (S^1/2 = L O for an orthogonal O), so that
//   R = S^-1/2 X^1/2 S^1/2 = L^-T C^1/2 L^T,
// and with C^1/2 = U diag(sqrt(lambda)) U^T over the kept eigenvalues R is
// of the rank of their number.
struct Eigenpairs {
  int count = 0;        // eigenvalues kept
  Vec1<double> values;  // ascending, the first `count` of them
  Matrix vectors;       // n by count
  bool failed = false;  // the library's solver did not converge
};

// True when eigenpairsFrom() and squareRootFromForm() can be used for order
// n (the library's, from order 160 on).
bool eigenpairsAvailable(int n);

// The eigenpairs, eigenvalue at or above t, of the symmetric matrix whose
// lower triangle is c's (LAPACK's dsyevr, one thread); c is overwritten.
Eigenpairs eigenpairsFrom(Matrix& c, double t);

// S^1/2 = V diag(sqrt(lambda)) V^T of a symmetric S from all its eigenpairs
// by the library's dsyevr (any order; one thread, so the same for any
// number of threads), accurate to the rounding of S, where the program's
// own eigen-solver leaves about 1e-10.  `smallest` is the smallest
// eigenvalue, taken as zero when it lies within n eps times the largest
// of zero; `half` is empty when it is not positive, the solver failed or
// the library is missing.
struct LibraryRoot {
  Matrix half;
  double smallest = 0.0;
  bool solved = false;  // the eigenvalues were found (smallest holds)
};
LibraryRoot libraryHalf(const Matrix& s);

// R = L^-T U diag(sqrt(lambda)) U^T L^T into r (n by n), from the
// Cholesky factor L of S and the kept eigenpairs of C.
void squareRootFromForm(MatView r, const Matrix& l, const Eigenpairs& e, int n,
                        const Parallel& par = Parallel());

}  // namespace mv
