#include "support/matrices.h"

#include <cmath>

namespace mvtest {

mv::Matrix fromRows(const std::vector<std::vector<double>>& rows) {
  const int n = static_cast<int>(rows.size());
  const int m = n == 0 ? 0 : static_cast<int>(rows[0].size());
  mv::Matrix a(n, m);
  for (int i = 1; i <= n; ++i)
    for (int j = 1; j <= m; ++j)
      a(i, j) = rows[static_cast<std::size_t>(i - 1)][static_cast<std::size_t>(j - 1)];
  return a;
}

mv::Matrix identity(int n) {
  mv::Matrix a(n, n);
  for (int i = 1; i <= n; ++i) a(i, i) = 1.0;
  return a;
}

mv::Matrix copy(const mv::Matrix& a) {
  mv::Matrix c(a.rows(), a.cols());
  for (int j = 1; j <= a.cols(); ++j)
    for (int i = 1; i <= a.rows(); ++i) c(i, j) = a(i, j);
  return c;
}

mv::Matrix product(const mv::Matrix& x, const mv::Matrix& y) {
  mv::Matrix z(x.rows(), y.cols());
  for (int i = 1; i <= x.rows(); ++i)
    for (int j = 1; j <= y.cols(); ++j) {
      double s = 0.0;
      for (int k = 1; k <= x.cols(); ++k) s += x(i, k) * y(k, j);
      z(i, j) = s;
    }
  return z;
}

double maxDifference(const mv::Matrix& x, const mv::Matrix& y) {
  double d = 0.0;
  for (int j = 1; j <= x.cols(); ++j)
    for (int i = 1; i <= x.rows(); ++i) d = std::fmax(d, std::fabs(x(i, j) - y(i, j)));
  return d;
}

}  // namespace mvtest
