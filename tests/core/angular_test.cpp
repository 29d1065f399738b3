// Cartesian component orders and pure combinations, checked against the
// d and f combinations the reader uses and against the defining properties
// of real solid harmonics for every generated l.
#include "core/angular.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <functional>
#include <map>
#include <set>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

namespace {

using namespace mv::angular;

std::string name(Powers p) {
  return std::string(static_cast<std::size_t>(p.x), 'x') +
         std::string(static_cast<std::size_t>(p.y), 'y') +
         std::string(static_cast<std::size_t>(p.z), 'z');
}

std::vector<std::string> names(int l) {
  std::vector<std::string> out;
  for (Powers p : cartesianOrder(l)) out.push_back(name(p));
  return out;
}

double dfac(int n) {
  return n <= 1 ? 1.0 : n * dfac(n - 2);
}

// Norm of x^px y^py z^pz relative to that of the s function, up to a factor
// depending on l only: a pure function's normalised-component coefficient
// over this is its polynomial coefficient.
double monomialNorm(Powers p) {
  return std::sqrt(dfac(2 * p.x - 1) * dfac(2 * p.y - 1) * dfac(2 * p.z - 1));
}

// A pure function as coefficients over all components of its shell.
std::vector<double> dense(const std::vector<Term>& f, int l) {
  std::vector<double> c(static_cast<std::size_t>(cartesianCount(l)), 0.0);
  for (const Term& t : f) c[static_cast<std::size_t>(t.component)] = t.coefficient;
  return c;
}

double overlap(const std::vector<double>& a, const std::vector<double>& b, int l) {
  const std::vector<Powers> order = cartesianOrder(l);
  double s = 0.0;
  for (std::size_t i = 0; i < a.size(); ++i)
    for (std::size_t j = 0; j < b.size(); ++j)
      s += a[i] * b[j] * sameCentreOverlap(order[i], order[j]);
  return s;
}

// Coefficients over the components named, scaled to unit norm.
std::vector<double> reference(int l, const std::map<std::string, double>& terms) {
  std::vector<double> c(static_cast<std::size_t>(cartesianCount(l)), 0.0);
  const std::vector<std::string> n = names(l);
  for (const auto& [component, value] : terms)
    c[static_cast<std::size_t>(std::find(n.begin(), n.end(), component) - n.begin())] = value;
  const double norm = std::sqrt(overlap(c, c, l));
  for (double& v : c) v /= norm;
  return c;
}

// Value of a pure function (its polynomial part) at a point.
double evaluate(const std::vector<Term>& f, int l, double x, double y, double z) {
  const std::vector<Powers> order = cartesianOrder(l);
  double v = 0.0;
  for (const Term& t : f) {
    const Powers p = order[static_cast<std::size_t>(t.component)];
    v += t.coefficient / monomialNorm(p) * std::pow(x, p.x) * std::pow(y, p.y) * std::pow(z, p.z);
  }
  return v;
}

TEST(CartesianOrder, FileOrderOfDFAndG) {
  EXPECT_EQ(names(1), (std::vector<std::string>{"x", "y", "z"}));
  EXPECT_EQ(names(2), (std::vector<std::string>{"xx", "yy", "zz", "xy", "xz", "yz"}));
  EXPECT_EQ(names(3), (std::vector<std::string>{"xxx", "yyy", "zzz", "xyy", "xxy", "xxz", "xzz",
                                                "yzz", "yyz", "xyz"}));
  EXPECT_EQ(names(4), (std::vector<std::string>{"zzzz", "yzzz", "yyzz", "yyyz", "yyyy", "xzzz",
                                                "xyzz", "xyyz", "xyyy", "xxzz", "xxyz", "xxyy",
                                                "xxxz", "xxxy", "xxxx"}));
}

TEST(CartesianOrder, EveryMonomialOnceAndReverseAlphabeticalFromG) {
  for (int l = 0; l <= kMaxL; ++l) {
    const std::vector<std::string> n = names(l);
    ASSERT_EQ(static_cast<int>(n.size()), (l + 1) * (l + 2) / 2) << l;
    EXPECT_EQ(cartesianCount(l), static_cast<int>(n.size()));
    EXPECT_EQ(pureCount(l), 2 * l + 1);
    // Names of length l over x <= y <= z are exactly the monomials of degree l.
    for (const std::string& s : n)
      EXPECT_TRUE(s.size() == std::size_t(l) && std::is_sorted(s.begin(), s.end())) << s;
    EXPECT_EQ(std::set<std::string>(n.begin(), n.end()).size(), n.size()) << l;
    if (l >= 4) {
      EXPECT_TRUE(std::is_sorted(n.begin(), n.end(), std::greater<>())) << l;
    }
  }
  EXPECT_THROW(cartesianOrder(-1), std::out_of_range);
  EXPECT_THROW(pureFunctions(kMaxL + 1), std::out_of_range);
}

TEST(SameCentreOverlap, AgreesWithQuadrature) {
  // int x^n exp(-x^2) dx on a fine grid (the trapezoid rule converges
  // geometrically for a Gaussian integrand); the exponent cancels.
  std::vector<double> moment(17, 0.0);
  for (double x = -12.0; x <= 12.0; x += 0.01)
    for (int n = 0; n <= 16; ++n)
      moment[static_cast<std::size_t>(n)] += 0.01 * std::pow(x, n) * std::exp(-x * x);
  auto m = [&](int n) { return moment[static_cast<std::size_t>(n)]; };
  std::vector<Powers> all;
  for (int l = 0; l <= 4; ++l)
    for (Powers p : cartesianOrder(l)) all.push_back(p);
  for (Powers a : all) {
    for (Powers b : all) {
      const double q = m(a.x + b.x) / std::sqrt(m(2 * a.x) * m(2 * b.x)) * m(a.y + b.y) /
                       std::sqrt(m(2 * a.y) * m(2 * b.y)) * m(a.z + b.z) /
                       std::sqrt(m(2 * a.z) * m(2 * b.z));
      EXPECT_NEAR(sameCentreOverlap(a, b), q, 1e-12) << name(a) << " " << name(b);
    }
  }
  EXPECT_THROW(sameCentreOverlap({-1, 0, 0}, {1, 0, 0}), std::invalid_argument);
}

TEST(PureFunctions, OrthonormalWithAscendingNonZeroTerms) {
  for (int l = 0; l <= kMaxL; ++l) {
    const auto f = pureFunctions(l);
    ASSERT_EQ(static_cast<int>(f.size()), 2 * l + 1) << l;
    for (std::size_t i = 0; i < f.size(); ++i) {
      for (std::size_t k = 0; k < f[i].size(); ++k) {
        EXPECT_NE(f[i][k].coefficient, 0.0);
        EXPECT_TRUE(k == 0 || f[i][k].component > f[i][k - 1].component) << l << " " << i;
      }
      for (std::size_t j = 0; j < f.size(); ++j)
        EXPECT_NEAR(overlap(dense(f[i], l), dense(f[j], l), l), i == j ? 1.0 : 0.0, 1e-12)
            << l << " " << i << " " << j;
    }
  }
}

TEST(PureFunctions, DAndFAsTheReaderCombinesThem) {
  const double dc11 = 1.095445115, dc12 = 2.449489743, dc21 = 0.866025403, dc41 = 0.790569415,
               dc42 = 1.060660172, r3 = std::sqrt(3.0);
  const std::vector<std::vector<double>> d = {
      reference(2, {{"xx", -1 / r3}, {"yy", -1 / r3}, {"zz", 2 / r3}}), reference(2, {{"xz", 1}}),
      reference(2, {{"yz", 1}}), reference(2, {{"xx", 1}, {"yy", -1}}), reference(2, {{"xy", 1}})};
  const std::vector<std::vector<double>> f = {
      reference(3, {{"zzz", std::sqrt(5.0)}, {"yyz", -1.5}, {"xxz", -1.5}}),
      reference(3, {{"xzz", dc11}, {"xxx", -dc12 / 4}, {"xyy", -dc11 / 4}}),
      reference(3, {{"yzz", dc11}, {"xxy", -dc11 / 4}, {"yyy", -dc12 / 4}}),
      reference(3, {{"xxz", dc21}, {"yyz", -dc21}}),
      reference(3, {{"xyz", 1}}),
      reference(3, {{"xxx", dc41}, {"xyy", -dc42}}),
      reference(3, {{"xxy", dc42}, {"yyy", -dc41}})};
  for (int l : {2, 3}) {
    const auto& want = l == 2 ? d : f;
    const auto got = pureFunctions(l);
    for (std::size_t i = 0; i < want.size(); ++i) {
      const std::vector<double> c = dense(got[i], l);
      for (std::size_t k = 0; k < c.size(); ++k)
        EXPECT_NEAR(c[k], want[i][k], 1e-9) << l << " " << i << " " << k;
    }
  }
}

TEST(PureFunctions, SingleComponentFunctionsHaveCoefficientOne) {
  int singles = 0;
  for (int l = 0; l <= kMaxL; ++l) {
    for (const auto& f : pureFunctions(l)) {
      if (f.size() != 1) continue;
      ++singles;
      EXPECT_EQ(f[0].coefficient, 1.0) << l;
    }
  }
  // s; x, y, z; xz, yz, xy; xyz.
  EXPECT_EQ(singles, 8);
  EXPECT_EQ(names(2)[static_cast<std::size_t>(pureFunctions(2)[4][0].component)], "xy");
  EXPECT_EQ(names(3)[static_cast<std::size_t>(pureFunctions(3)[4][0].component)], "xyz");
}

TEST(PureFunctions, LaplacianVanishes) {
  for (int l = 2; l <= kMaxL; ++l) {
    const std::vector<Powers> order = cartesianOrder(l);
    for (const auto& f : pureFunctions(l)) {
      std::map<std::pair<int, int>, double> lap;  // keyed by the x and y powers
      double scale = 0.0;
      for (const Term& t : f) {
        const Powers p = order[static_cast<std::size_t>(t.component)];
        const double c = t.coefficient / monomialNorm(p);
        if (p.x >= 2) lap[{p.x - 2, p.y}] += p.x * (p.x - 1) * c;
        if (p.y >= 2) lap[{p.x, p.y - 2}] += p.y * (p.y - 1) * c;
        if (p.z >= 2) lap[{p.x, p.y}] += p.z * (p.z - 1) * c;
        scale += l * l * std::abs(c);
      }
      for (const auto& [k, v] : lap) EXPECT_NEAR(v, 0.0, 1e-14 * scale) << l;
    }
  }
}

TEST(PureFunctions, OrderAndSignUnderRotationAndReflection) {
  // About z, C + iS for orders +m, -m turns like exp(i m phi); reflecting y
  // keeps C and negates S.  The sign: z^l, x^m z^(l-m) and x^(m-1) y z^(l-m)
  // have positive coefficients, as in d and f.
  const double phi = 0.7, pts[3][3] = {{0.3, -0.8, 0.5}, {-1.1, 0.4, 0.9}, {0.6, 0.7, -0.2}};
  for (int l = 0; l <= kMaxL; ++l) {
    const auto f = pureFunctions(l);
    const std::vector<std::string> n = names(l);
    auto coefficientOf = [&](const std::vector<Term>& fn, Powers p) {
      const auto at = std::find(n.begin(), n.end(), name(p)) - n.begin();
      return dense(fn, l)[static_cast<std::size_t>(at)];
    };
    EXPECT_GT(coefficientOf(f[0], {0, 0, l}), 0.0) << l;
    for (const Term& t : f[0]) {
      const Powers p = cartesianOrder(l)[static_cast<std::size_t>(t.component)];
      EXPECT_TRUE(p.x % 2 == 0 && p.y % 2 == 0) << l << " " << name(p);
    }
    for (int m = 0; m <= l; ++m) {
      const auto& c = f[static_cast<std::size_t>(m == 0 ? 0 : 2 * m - 1)];
      const auto& s = f[static_cast<std::size_t>(2 * m)];
      if (m > 0) {
        EXPECT_GT(coefficientOf(c, {m, 0, l - m}), 0.0) << l << " " << m;
        EXPECT_GT(coefficientOf(s, {m - 1, 1, l - m}), 0.0) << l << " " << m;
      }
      for (const auto& p : pts) {
        const double xr = std::cos(phi) * p[0] - std::sin(phi) * p[1];
        const double yr = std::sin(phi) * p[0] + std::cos(phi) * p[1];
        const double c0 = evaluate(c, l, p[0], p[1], p[2]);
        const double s0 = m == 0 ? 0.0 : evaluate(s, l, p[0], p[1], p[2]);
        const double cs = std::cos(m * phi), sn = std::sin(m * phi);
        EXPECT_NEAR(evaluate(c, l, xr, yr, p[2]), cs * c0 - sn * s0, 1e-12) << l << " " << m;
        EXPECT_NEAR(evaluate(c, l, p[0], -p[1], p[2]), c0, 1e-12) << l << " " << m;
        if (m == 0) continue;
        EXPECT_NEAR(evaluate(s, l, xr, yr, p[2]), sn * c0 + cs * s0, 1e-12) << l << " " << m;
        EXPECT_NEAR(evaluate(s, l, p[0], -p[1], p[2]), -s0, 1e-12) << l << " " << m;
      }
    }
  }
}

TEST(ShellTypes, CodesOfTheFile) {
  const int types[] = {0, 1, -1, 2, -2, 3, -3, 4, -4, 6, -6};
  const int l[] = {0, 1, 1, 2, 2, 3, 3, 4, 4, 6, 6};
  const int count[] = {1, 3, 4, 6, 5, 10, 7, 15, 9, 28, 13};
  for (std::size_t i = 0; i < std::size(types); ++i) {
    EXPECT_EQ(shellAngularMomentum(types[i]), l[i]) << types[i];
    EXPECT_EQ(shellFunctionCount(types[i]), count[i]) << types[i];
    EXPECT_EQ(shellIsPure(types[i]), types[i] < -1) << types[i];
  }
  EXPECT_THROW(shellFunctionCount(7), std::out_of_range);
  EXPECT_THROW(shellIsPure(-7), std::out_of_range);
}

}  // namespace
