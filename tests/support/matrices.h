// Small matrices for the tests: built from rows, the identity, and the
// plain triple-loop product that reference computations use.
#pragma once

#include <initializer_list>
#include <vector>

#include "core/matrix.h"

namespace mvtest {

// The matrix whose row i is rows[i-1].
mv::Matrix fromRows(const std::vector<std::vector<double>>& rows);
mv::Matrix identity(int n);
// An element-by-element copy (a Matrix owns its storage and is only moved).
mv::Matrix copy(const mv::Matrix& a);
// x * y by the textbook sum.
mv::Matrix product(const mv::Matrix& x, const mv::Matrix& y);
// Largest |x(i,j) - y(i,j)|.
double maxDifference(const mv::Matrix& x, const mv::Matrix& y);

template <typename T>
mv::Vec1<T> vec1(std::initializer_list<T> values) {
  mv::Vec1<T> v(static_cast<int>(values.size()));
  int k = 0;
  for (const T& x : values) v(++k) = x;
  return v;
}

}  // namespace mvtest
