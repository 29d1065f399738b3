#include "checkpoint/orbitals.h"

#include <cstddef>
#include <vector>

namespace mv {

Matrix densityFromOrbitals(const Matrix& c, const Vec1<double>& occ) {
  const int n = c.rows();
  // The occupied orbitals' coefficients function by function (row mu of C
  // as a contiguous run), so that the sums run along memory.
  std::vector<int> used;
  for (int i = 1; i <= occ.size() && i <= c.cols(); ++i)
    if (occ(i) != 0.0) used.push_back(i);
  const std::size_t m = used.size();
  std::vector<double> rows(m * static_cast<std::size_t>(n));
  for (std::size_t k = 0; k < m; ++k)
    for (int mu = 1; mu <= n; ++mu) rows[static_cast<std::size_t>(mu - 1) * m + k] = c(mu, used[k]);
  Matrix p(n, n);
  std::vector<double> scaled(m);
  for (int mu = 1; mu <= n; ++mu) {
    const double* cm = rows.data() + static_cast<std::size_t>(mu - 1) * m;
    for (std::size_t k = 0; k < m; ++k) scaled[k] = occ(used[k]) * cm[k];
    for (int nu = 1; nu <= mu; ++nu) {
      const double* cn = rows.data() + static_cast<std::size_t>(nu - 1) * m;
      double sum = 0.0;
      for (std::size_t k = 0; k < m; ++k) sum += scaled[k] * cn[k];
      p(mu, nu) = sum;
      p(nu, mu) = sum;
    }
  }
  return p;
}

}  // namespace mv
