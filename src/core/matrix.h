// Matrices and vectors indexed from 1, as in the formulas of the method.
//
// A matrix is stored column by column (the first index runs fastest), so
// m(i, j) is row i, column j.  Storage is allocated from the actual counts
// of a run; a MatView lends a matrix to a routine without owning it.
#pragma once

#include <cstddef>
#include <memory>
#include <vector>

namespace mv {

// A non-owning view of a column-major matrix with leading dimension ld.
struct MatView {
  double* p = nullptr;
  int ld = 0;
  double& operator()(int i, int j) const {
    return p[(i - 1) + static_cast<std::ptrdiff_t>(j - 1) * ld];
  }
  double* col(int j) const { return p + static_cast<std::ptrdiff_t>(j - 1) * ld; }
};

// An owning rows by cols matrix of doubles, zero when made.  Every column
// starts on a cache line, so that the vector loads of the dense kernels
// never straddle two lines; the leading dimension avoids multiples of 4 kB,
// whose columns would compete for the same cache sets.
class Matrix {
 public:
  Matrix() = default;
  Matrix(int rows, int cols);
  // A matrix whose elements are not set: for a result that is written in
  // full before it is read.
  static Matrix uninitialised(int rows, int cols);

  int rows() const { return rows_; }
  int cols() const { return cols_; }
  int ld() const { return ld_; }
  bool empty() const { return a_ == nullptr; }

  double& operator()(int i, int j) {
    return a_[(i - 1) + static_cast<std::ptrdiff_t>(j - 1) * ld_];
  }
  double operator()(int i, int j) const {
    return a_[(i - 1) + static_cast<std::ptrdiff_t>(j - 1) * ld_];
  }
  double* col(int j) { return a_.get() + static_cast<std::ptrdiff_t>(j - 1) * ld_; }
  const double* col(int j) const { return a_.get() + static_cast<std::ptrdiff_t>(j - 1) * ld_; }
  MatView view() { return MatView{a_.get(), ld_}; }
  // A view for routines that only read; the constness is the caller's promise.
  MatView view() const { return MatView{a_.get(), ld_}; }

  // Give the storage back (the matrix becomes empty).
  void release();

  // Bytes a matrix of this shape occupies.
  static std::size_t bytesFor(int rows, int cols);

 private:
  struct Free {
    void operator()(double* p) const;
  };
  Matrix(int rows, int cols, bool zero);
  std::unique_ptr<double[], Free> a_;
  int rows_ = 0;
  int cols_ = 0;
  int ld_ = 0;
};

// A vector of n elements indexed v(1) .. v(n).
template <typename T>
class Vec1 {
 public:
  Vec1() = default;
  explicit Vec1(int n, T value = T()) : v_(static_cast<std::size_t>(n < 0 ? 0 : n), value) {}
  T& operator()(int i) { return v_[static_cast<std::size_t>(i - 1)]; }
  const T& operator()(int i) const { return v_[static_cast<std::size_t>(i - 1)]; }
  int size() const { return static_cast<int>(v_.size()); }
  T* data() { return v_.data(); }
  const T* data() const { return v_.data(); }
  std::vector<T>& std() { return v_; }
  const std::vector<T>& std() const { return v_; }

 private:
  std::vector<T> v_;
};

}  // namespace mv
