// Shared tables and limits of MIRVANTE.
//
// Every table is fixed in size, indexed from 1 and stored column by column
// (the first index runs fastest), as in the formulas of the method.  The
// tables live in static storage (never on the stack) and start zeroed.
#pragma once

#include <cstddef>
#include <cstring>

namespace mv {

// ---------------------------------------------------------------- limits
inline constexpr int kMaxAtoms = 20;      // atoms the analysis accepts
inline constexpr int kMaxAtomRead = 500;  // atom-indexed tables of the reader
inline constexpr int kMaxBf = 500;        // basis functions (order of S)
inline constexpr int kMaxShell = 500;     // contracted shells
inline constexpr int kMaxRawPrim = 2000;  // primitives as read
inline constexpr int kMaxPrim = 2000;     // primitives after expansion
inline constexpr int kMaxCont = 26;       // primitives per basis function
inline constexpr int kMaxFunc = 1000;     // declared size of per-function tables
inline constexpr int kLd = 500;           // leading dimension of the big matrices

// ------------------------------------------------- 1-based column-major views
// A non-owning view of a column-major matrix with leading dimension ld:
// m(i, j) is row i, column j, both counted from 1.
struct MatView {
  double* p;
  int ld;
  double& operator()(int i, int j) const {
    return p[(i - 1) + static_cast<std::ptrdiff_t>(j - 1) * ld];
  }
  double* col(int j) const { return p + static_cast<std::ptrdiff_t>(j - 1) * ld; }
};

// An owning fixed-size column-major matrix, R rows by C columns.
template <typename T, int R, int C>
struct Fixed {
  T a[static_cast<std::size_t>(R) * C];
  T& operator()(int i, int j) { return a[(i - 1) + static_cast<std::ptrdiff_t>(j - 1) * R]; }
  const T& operator()(int i, int j) const {
    return a[(i - 1) + static_cast<std::ptrdiff_t>(j - 1) * R];
  }
  T* col(int j) { return a + static_cast<std::ptrdiff_t>(j - 1) * R; }
  static constexpr int rows = R;
};

using Square = Fixed<double, kLd, kLd>;

inline MatView view(Square& m) {
  return MatView{m.a, kLd};
}

// A 1-based vector of N elements: v(1) .. v(N).
template <typename T, int N>
struct Vec {
  T a[N];
  T& operator()(int i) { return a[i - 1]; }
  const T& operator()(int i) const { return a[i - 1]; }
  T* data() { return a; }
  static constexpr int size = N;
};

// ------------------------------------------------------------- the tables
struct Tables {
  // nat(1) atoms, nat(2) basis functions (as read), nat(3) primitives after
  // expansion, nat(4) doubly occupied orbitals, nat(5) alpha electrons,
  // nat(6) beta electrons, nat(7) the reader's unrestricted flag.
  Vec<int, 7> nat;
  // lim(a, 1), lim(a, 2): first and last basis function of atom a.
  Fixed<int, kMaxAtomRead, 2> lim;
  // Atomic number of each atom.
  Vec<int, kMaxAtomRead> ia;
  // coord(k, a): x, y, z of atom a in bohr; charge(a): nuclear charge as read.
  Fixed<double, 3, kMaxAtomRead> coord;
  Vec<double, kMaxAtomRead> charge;

  // Expanded primitives: exponent and Cartesian powers.
  Vec<double, kMaxPrim> expo;
  Vec<int, kMaxPrim> lx, ly, lz;
  // Per basis function: first and last primitive, number of primitives.
  Vec<int, kMaxFunc> pfirst, plast, cont;
  // coeff(k, r): coefficient of the r-th primitive of basis function k.
  Fixed<double, kMaxFunc, kMaxCont> coeff;
  // map(k): position, in the checkpoint's order, of function k of the
  // program's own order.
  Vec<int, kMaxPrim> map;

  // Binomial coefficients binc(n, k+1) = C(n, k), n = 1..30.
  Fixed<double, 30, 31> binc;
  // Odd double factorials, dfac[n + 1] = n!! for n = -1..21.
  double dfac[23];

  // The big matrices start on a cache line (their columns, 4000 bytes
  // apart, then do too), so that the vector loads of the dense kernels never
  // straddle two lines.
  // stv: matrix 1 overlap S, matrix 2 spin density of the ROHF rebuild.
  alignas(64) Square stv1;
  alignas(64) Square stv2;
  // c: matrix 1 alpha MO coefficients (later work space), matrix 2 density P.
  alignas(64) Square c1;
  alignas(64) Square c2;
  // Work space: packed density triangle or MO coefficients.
  alignas(64) Square opensh;
  // Owning atom of each basis function; Mulliken gross population of atoms.
  Vec<int, kMaxBf> hold;
  Vec<double, kMaxAtoms> qat;

  // Reader values kept for later stages.
  int nshell;   // NSHELL, contracted shells
  int nprim;    // NPRIM, raw primitives
  int nelec;    // number of electrons as read
  double escf;  // SCF energy as read
  int plain;    // 1 when the method is exactly RHF or UHF
};

// The one instance; static storage, zero at process start.
extern Tables g;

// Zero every table (the state of a fresh process).  Used by in-process
// runs that repeat the pipeline, such as the tests and the fuzz target.
void resetTables();

// dfac(n) = n!! for odd n, -1 <= n <= 21.
inline double& dfac(int n) {
  return g.dfac[n + 1];
}

}  // namespace mv
