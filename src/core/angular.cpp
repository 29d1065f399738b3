// Cartesian component orders and Cartesian-to-pure transformations.
//
// The pure function of angular momentum l and order m is the real solid
// harmonic
//
//   m >= 0:  Pi(l,|m|) * Re (x + iy)^|m|,     m < 0:  Pi(l,|m|) * Im (x + iy)^|m|,
//
//   Pi(l,a) = sum_k (-1)^k C(l,k) C(2l-2k,l) (l-2k)! / (l-2k-a)!  r^2k z^(l-2k-a)
//
// (k = 0 .. (l-a)/2; the common factor 2^-l is dropped).  It gives z^l,
// x^m z^(l-m) and x^(m-1) y z^(l-m) a positive coefficient in the functions
// of order 0, +m and -m: the signs of the d and f combinations of the file
// (d+2 ~ xx - yy, d-2 = xy, f+3 ~ xxx - 3xyy, ...), carried on to higher l.
//
// The polynomial is expanded with exact integer coefficients p over the
// monomials of degree l.  With the same exponent alpha for all of them,
// <x^a e | x^b e> = K * prod_d (a_d + b_d - 1)!!, K depending on l and alpha
// only, so the normalised component of x^a is x^a / sqrt(K dfac(a)) with
// dfac(a) = prod_d (2a_d - 1)!!.  The function sum_a p_a x^a then has the
// coefficients p_a sqrt(dfac(a) / n2) over the normalised components, where
// n2 = sum_ab p_a p_b prod_d (a_d + b_d - 1)!! is an exact integer.  Only the
// final ratio and square root are taken in floating point (long double).
#include "core/angular.h"

#include <cmath>
#include <cstdint>
#include <numeric>
#include <stdexcept>
#include <string>

namespace mv::angular {

namespace {

using Int = std::int64_t;

void checkL(int l) {
  if (l < 0 || l > kMaxL) {
    throw std::out_of_range("angular momentum " + std::to_string(l) + " outside 0.." +
                            std::to_string(kMaxL));
  }
}

// Products and sums of the generator, refused rather than wrapped on overflow.
Int mul(Int a, Int b) {
  Int r = 0;
  if (__builtin_mul_overflow(a, b, &r)) throw std::overflow_error("pure function coefficients");
  return r;
}
Int add(Int a, Int b) {
  Int r = 0;
  if (__builtin_add_overflow(a, b, &r)) throw std::overflow_error("pure function coefficients");
  return r;
}

Int factorial(int n) {
  Int r = 1;
  for (int i = 2; i <= n; ++i) r = mul(r, i);
  return r;
}

Int binomial(int n, int k) {
  return factorial(n) / (factorial(k) * factorial(n - k));
}

// n!! for odd n >= -1, with (-1)!! = 1.
Int oddDoubleFactorial(int n) {
  Int r = 1;
  for (int i = n; i > 1; i -= 2) r = mul(r, i);
  return r;
}

// The same in floating point, for powers beyond the generator's range.
double oddDoubleFactorialD(int n) {
  double r = 1.0;
  for (int i = n; i > 1; i -= 2) r *= i;
  return r;
}

// prod_d (2a_d - 1)!!: the squared norm of x^a, in units of K.
Int selfProduct(Powers a) {
  return mul(mul(oddDoubleFactorial(2 * a.x - 1), oddDoubleFactorial(2 * a.y - 1)),
             oddDoubleFactorial(2 * a.z - 1));
}

// prod_d (a_d + b_d - 1)!!, or 0 when some a_d + b_d is odd: the overlap of
// x^a and x^b, in units of K.
Int crossProduct(Powers a, Powers b) {
  const int s[3] = {a.x + b.x, a.y + b.y, a.z + b.z};
  Int r = 1;
  for (int n : s) {
    if (n % 2 != 0) return 0;
    r = mul(r, oddDoubleFactorial(n - 1));
  }
  return r;
}

// Exact integer coefficients of the solid harmonic (l, m), over the
// components of cartesianOrder(l), reduced by their common divisor.
std::vector<Int> harmonicPolynomial(int l, int m, const std::vector<Powers>& order) {
  // Position of x^px y^py z^(l-px-py) in the file's order.
  std::vector<int> where(static_cast<std::size_t>((l + 1) * (l + 1)), -1);
  for (std::size_t i = 0; i < order.size(); ++i) {
    where[static_cast<std::size_t>(order[i].x * (l + 1) + order[i].y)] = static_cast<int>(i);
  }
  std::vector<Int> p(order.size(), 0);
  const int a = m < 0 ? -m : m;
  for (int k = 0; 2 * k <= l - a; ++k) {
    // (-1)^k C(l,k) C(2l-2k,l) (l-2k)!/(l-2k-a)! r^2k z^(l-2k-a)
    Int ck = mul(mul(binomial(l, k), binomial(2 * l - 2 * k, l)),
                 factorial(l - 2 * k) / factorial(l - 2 * k - a));
    if (k % 2 != 0) ck = -ck;
    // r^2k = sum over i + j + h = k of k!/(i! j! h!) x^2i y^2j z^2h
    for (int i = 0; i <= k; ++i) {
      for (int j = 0; i + j <= k; ++j) {
        const Int multinomial = factorial(k) / (factorial(i) * factorial(j) * factorial(k - i - j));
        // (x + iy)^a = sum_q C(a,q) x^(a-q) i^q y^q: i^q is real for even q
        // (the cosine-like m >= 0) and imaginary for odd q (m < 0).
        for (int q = (m < 0 ? 1 : 0); q <= a; q += 2) {
          const Int sign = (q / 2) % 2 == 0 ? 1 : -1;
          const Int c = mul(mul(ck, multinomial), sign * binomial(a, q));
          const int px = 2 * i + a - q, py = 2 * j + q;
          Int& slot =
              p[static_cast<std::size_t>(where[static_cast<std::size_t>(px * (l + 1) + py)])];
          slot = add(slot, c);
        }
      }
    }
  }
  Int g = 0;
  for (Int c : p) g = std::gcd(g, c);
  if (g > 1) {
    for (Int& c : p) c /= g;
  }
  return p;
}

// Unit-norm coefficients over the normalised components of the polynomial p.
std::vector<Term> normalisedFunction(const std::vector<Int>& p, const std::vector<Powers>& order) {
  Int n2 = 0;
  for (std::size_t i = 0; i < p.size(); ++i) {
    if (p[i] == 0) continue;
    for (std::size_t j = 0; j < p.size(); ++j) {
      if (p[j] != 0) n2 = add(n2, mul(mul(p[i], p[j]), crossProduct(order[i], order[j])));
    }
  }
  std::vector<Term> f;
  for (std::size_t i = 0; i < p.size(); ++i) {
    if (p[i] == 0) continue;
    const long double ratio = static_cast<long double>(selfProduct(order[i])) / n2;
    const long double c = static_cast<long double>(p[i]) * std::sqrt(ratio);
    f.push_back({static_cast<int>(i), static_cast<double>(c)});
  }
  return f;
}

std::vector<std::vector<Term>> generatePure(int l) {
  const std::vector<Powers> order = cartesianOrder(l);
  std::vector<std::vector<Term>> functions;
  functions.push_back(normalisedFunction(harmonicPolynomial(l, 0, order), order));
  for (int m = 1; m <= l; ++m) {
    functions.push_back(normalisedFunction(harmonicPolynomial(l, m, order), order));
    functions.push_back(normalisedFunction(harmonicPolynomial(l, -m, order), order));
  }
  return functions;
}

void checkShellType(int type) {
  if (type < -kMaxShellL || type > kMaxShellL) {
    throw std::out_of_range("shell type " + std::to_string(type) + " outside " +
                            std::to_string(-kMaxShellL) + ".." + std::to_string(kMaxShellL));
  }
}

}  // namespace

int cartesianCount(int l) {
  checkL(l);
  return (l + 1) * (l + 2) / 2;
}

int pureCount(int l) {
  checkL(l);
  return 2 * l + 1;
}

std::vector<Powers> cartesianOrder(int l) {
  checkL(l);
  switch (l) {
    case 0:
      return {{0, 0, 0}};
    case 1:
      return {{1, 0, 0}, {0, 1, 0}, {0, 0, 1}};
    case 2:  // xx, yy, zz, xy, xz, yz
      return {{2, 0, 0}, {0, 2, 0}, {0, 0, 2}, {1, 1, 0}, {1, 0, 1}, {0, 1, 1}};
    case 3:  // xxx, yyy, zzz, xyy, xxy, xxz, xzz, yzz, yyz, xyz
      return {{3, 0, 0}, {0, 3, 0}, {0, 0, 3}, {1, 2, 0}, {2, 1, 0},
              {2, 0, 1}, {1, 0, 2}, {0, 1, 2}, {0, 2, 1}, {1, 1, 1}};
    default:
      break;
  }
  // Reverse alphabetical order of the monomials written x..xy..yz..z: the
  // fewer x the earlier, and for equal x the fewer y the earlier.
  std::vector<Powers> order;
  order.reserve(static_cast<std::size_t>(cartesianCount(l)));
  for (int x = 0; x <= l; ++x) {
    for (int y = 0; x + y <= l; ++y) order.push_back({x, y, l - x - y});
  }
  return order;
}

std::vector<std::vector<Term>> pureFunctions(int l) {
  checkL(l);
  // Generated once, for every supported l, on first use.
  static const std::vector<std::vector<std::vector<Term>>> table = [] {
    std::vector<std::vector<std::vector<Term>>> t;
    for (int k = 0; k <= kMaxL; ++k) t.push_back(generatePure(k));
    return t;
  }();
  return table[static_cast<std::size_t>(l)];
}

double sameCentreOverlap(Powers a, Powers b) {
  if (a.x < 0 || a.y < 0 || a.z < 0 || b.x < 0 || b.y < 0 || b.z < 0) {
    throw std::invalid_argument("negative Cartesian power");
  }
  const int pa[3] = {a.x, a.y, a.z}, pb[3] = {b.x, b.y, b.z};
  double s = 1.0;
  for (int d = 0; d < 3; ++d) {
    if ((pa[d] + pb[d]) % 2 != 0) return 0.0;
    s *= oddDoubleFactorialD(pa[d] + pb[d] - 1) /
         std::sqrt(oddDoubleFactorialD(2 * pa[d] - 1) * oddDoubleFactorialD(2 * pb[d] - 1));
  }
  return s;
}

int shellAngularMomentum(int type) {
  checkShellType(type);
  return type < 0 ? -type : type;
}

bool shellIsPure(int type) {
  checkShellType(type);
  return type < -1;
}

int shellFunctionCount(int type) {
  checkShellType(type);
  if (type == -1) return 4;
  return type < 0 ? pureCount(-type) : cartesianCount(type);
}

}  // namespace mv::angular
