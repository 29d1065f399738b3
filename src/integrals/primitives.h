// Closed-form overlap and normalisation of primitive Cartesian Gaussians.
#pragma once

#include "core/matrix.h"

namespace mv {

// pi^3 as the fixed literal of the method (not the double nearest to pi^3).
inline constexpr double kPi3 = 31.0062766802998;

// The constant tables, built once by Pascal's rule and the recurrence of
// the double factorial, and only read afterwards.
// binc(n, k + 1) = C(n, k) for n = 1..30, k = 0..n (0 for k > n).
double binc(int n, int kp1);
// dfac(n) = n!! for odd n, -1 <= n <= 21.
double dfac(int n);

// Squared distance between atoms a and b; coords(k, a) is coordinate k of atom a.
double ab2(const Matrix& coords, int a, int b);
// Coefficient of t^j in (t + pa)^l (t + pb)^m.
double fi(int j, int l, int m, double pa, double pb);
// One-dimensional overlap factor without sqrt(pi/gamma).
double sk(int l1, int l2, double a1, double a2, double pa, double pb);
// Overlap of two primitives.
double s(int lx1, int ly1, int lz1, int lx2, int ly2, int lz2, double a1, double a2, double d2,
         double pax, double pbx, double pay, double pby, double paz, double pbz);
// Normalisation constant of a primitive.
double anorm(int lx, int ly, int lz, double alpha);
// x^k for integer k >= 0 by repeated multiplication (x^0 = 1, also for x = 0).
double ipow(double x, int k);

}  // namespace mv
