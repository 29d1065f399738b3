#include "core/matrix.h"

#include <cstring>
#include <new>

namespace mv {

namespace {

constexpr std::size_t kAlign = 64;

// Rows rounded up to whole cache lines; a multiple of 512 doubles (4 kB)
// gets one more line.
int leadingDimension(int rows) {
  int ld = (rows + 7) / 8 * 8;
  if (ld >= 512 && ld % 512 == 0) ld += 8;
  return ld;
}

}  // namespace

void Matrix::Free::operator()(double* p) const {
  ::operator delete[](p, std::align_val_t(kAlign));
}

std::size_t Matrix::bytesFor(int rows, int cols) {
  if (rows <= 0 || cols <= 0) return 0;
  return static_cast<std::size_t>(leadingDimension(rows)) * static_cast<std::size_t>(cols) *
         sizeof(double);
}

Matrix::Matrix(int rows, int cols) : Matrix(rows, cols, true) {}

Matrix Matrix::uninitialised(int rows, int cols) {
  return Matrix(rows, cols, false);
}

Matrix::Matrix(int rows, int cols, bool zero) {
  if (rows <= 0 || cols <= 0) return;
  const std::size_t bytes = bytesFor(rows, cols);
  auto* p = static_cast<double*>(::operator new[](bytes, std::align_val_t(kAlign)));
  const int ld = leadingDimension(rows);
  if (zero) {
    std::memset(p, 0, bytes);
  } else if (ld > rows) {
    // The rows beyond the matrix pad its columns to whole cache lines: they
    // are zero, whatever a kernel's vector loads take along.
    for (int j = 0; j < cols; ++j)
      std::memset(p + static_cast<std::size_t>(j) * ld + rows, 0,
                  static_cast<std::size_t>(ld - rows) * sizeof(double));
  }
  a_.reset(p);
  rows_ = rows;
  cols_ = cols;
  ld_ = ld;
}

void Matrix::release() {
  a_.reset();
  rows_ = cols_ = ld_ = 0;
}

}  // namespace mv
