// The writers' conventions of Molden files: orbitals of a known file are
// written again the way each writer departs from the format, and the
// convention found must be that writer's, with the orbitals (and so the
// density) of the file as it was.
#include "analysis/convention.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <functional>
#include <string>

#include "checkpoint/molden.h"
#include "checkpoint/orbitals.h"
#include "core/angular.h"
#include "core/stop.h"
#include "integrals/overlap.h"
#include "integrals/primitives.h"
#include "support/testutil.h"

namespace {

using mv::Checkpoint;
using mv::Matrix;
using mv::Shells;

// A Molden file read and settled: its orbitals as coefficients of the
// program's normalised functions, and S.
struct Settled {
  Checkpoint ck;
  Matrix s;
  mv::OrbitalConvention convention;
};

Settled settle(Checkpoint ck, const Shells& written) {
  const mv::Limits limits = mv::Limits::commandLine();
  Settled r;
  ck.shells = mv::unitContractions(written);
  mv::Basis basis = mv::expandBasis(ck.shells, ck.natoms, ck.nbf, limits);
  r.s = mv::toFileOrder(mv::overlapMatrix(basis, ck.coords), basis.map);
  r.convention = mv::settleConvention(ck, written, basis, r.s, limits, mv::Parallel());
  r.ck = std::move(ck);
  return r;
}

Checkpoint readFile(const std::string& name) {
  const std::string bytes = mvtest::readFile(mvtest::dataPath("molden/" + name));
  return mv::readMolden(bytes, name, mv::Limits::commandLine());
}

Settled settleFile(const std::string& name) {
  Checkpoint ck = readFile(name);
  const Shells written = ck.shells;
  return settle(std::move(ck), written);
}

Matrix copyOf(const Matrix& m) {
  Matrix c(m.rows(), m.cols());
  for (int j = 1; j <= m.cols(); ++j)
    for (int i = 1; i <= m.rows(); ++i) c(i, j) = m(i, j);
  return c;
}

// For each function of the file's order: its shell type and its Cartesian
// powers (zero for pure and s functions) or its place m in a pure shell.
struct Function {
  int type;
  mv::angular::Powers p;
  int m;
};

std::vector<Function> functions(const Shells& sh) {
  std::vector<Function> fs;
  for (int i = 1; i <= sh.count; ++i) {
    const int t = sh.type(i);
    if (t == -1) {
      fs.push_back({t, {0, 0, 0}, 0});
      for (const auto& p : mv::angular::cartesianOrder(1)) fs.push_back({t, p, 0});
    } else if (t < 0) {
      for (int m = 0; m < 2 * -t + 1; ++m) fs.push_back({t, {0, 0, 0}, m});
    } else {
      for (const auto& p : mv::angular::cartesianOrder(t)) fs.push_back({t, p, 0});
    }
  }
  return fs;
}

bool pattern(mv::angular::Powers p, int a, int b, int c) {
  int v[3] = {p.x, p.y, p.z};
  std::sort(v, v + 3);
  return v[2] == a && v[1] == b && v[0] == c;
}

// A writer: its contraction coefficients from unit-norm ones, and its
// orbital coefficients from the program's.
struct Writer {
  const char* file;
  const char* expected;
  std::function<double(int type, double exponent, double c)> coefficient;
  std::function<double(const Function& f)> orbitalFactor;
};

double same(int, double, double c) {
  return c;
}
double one(const Function&) {
  return 1.0;
}

TEST(Convention, EveryWritersDepartureIsFoundAndUndone) {
  const double r3 = std::sqrt(3.0);
  const Writer writers[] = {
      {"glycine_rhf_ccpvdz.molden", "as written", same, one},
      // Contractions not normalised: every shell scaled (and the orbitals
      // belong to the normalised functions).
      {"glycine_rhf_ccpvdz.molden", "contractions normalised",
       [](int t, double, double c) { return c * (t == 0 ? 0.9 : 1.2); }, one},
      // ORCA: primitive normalisation in the coefficients of s, p, pure d.
      {"glycine_rhf_ccpvdz.molden", "ORCA",
       [](int t, double a, double c) {
         return t == 0   ? c * mv::anorm(0, 0, 0, a)
                : t == 1 ? c * mv::anorm(1, 0, 0, a)
                         : c * mv::anorm(1, 1, 0, a);
       },
       one},
      // psi4 before 1.0: the same, but the d normalisation of xx.
      {"glycine_rhf_ccpvdz.molden", "psi4 before 1.0",
       [](int t, double a, double c) {
         return t == 0   ? c * mv::anorm(0, 0, 0, a)
                : t == 1 ? c * mv::anorm(1, 0, 0, a)
                         : c * mv::anorm(1, 1, 0, a) / std::sqrt(3.0);
       },
       one},
      // ORCA on pure f: the primitive normalisation, and m = +-3 of opposite sign.
      {"h2o_ccpvtz.molden", "ORCA",
       [](int t, double a, double c) {
         const int n[4][3] = {{0, 0, 0}, {1, 0, 0}, {1, 1, 0}, {1, 1, 1}};
         return c * mv::anorm(n[t][0], n[t][1], n[t][2], a);
       },
       [](const Function& f) { return f.type == -3 && f.m >= 5 ? -1.0 : 1.0; }},
      {"h2o_ccpvtz.molden", "psi4 before 1.0",
       [](int t, double a, double c) {
         const int n[4][3] = {{0, 0, 0}, {1, 0, 0}, {1, 1, 0}, {1, 1, 1}};
         const double k[4] = {1.0, 1.0, std::sqrt(3.0), std::sqrt(15.0)};
         return c * mv::anorm(n[t][0], n[t][1], n[t][2], a) / k[t];
       },
       one},
      {"ethanol_cation_uhf_631gs.molden", "as written", same, one},
      {"ethanol_cation_uhf_631gs.molden", "psi4 up to 1.3.2, Cartesian components", same,
       [r3](const Function& f) { return f.type == 2 && pattern(f.p, 1, 1, 0) ? r3 : 1.0; }},
      {"ethanol_cation_uhf_631gs.molden", "Turbomole, Cartesian contractions",
       [r3](int t, double, double c) { return t == 2 ? c / r3 : c; }, one},
      {"ethanol_cation_uhf_631gs.molden", "CFOUR, Cartesian components", same,
       [r3](const Function& f) { return f.type == 2 && pattern(f.p, 2, 0, 0) ? 1.0 / r3 : 1.0; }},
  };
  for (const Writer& w : writers) {
    SCOPED_TRACE(std::string(w.file) + ": " + w.expected);
    const Settled base = settleFile(w.file);
    // The file as that writer would have written it.
    Checkpoint ck = readFile(w.file);
    ck.mo = copyOf(base.ck.mo);
    if (!base.ck.moBeta.empty()) ck.moBeta = copyOf(base.ck.moBeta);
    Shells written = base.ck.shells;
    int j0 = 1;
    for (int i = 1; i <= written.count; ++i) {
      for (int j = j0; j < j0 + written.nprim(i); ++j) {
        const int t = std::abs(written.type(i));
        written.coefficient(j) = w.coefficient(t, written.exponent(j), written.coefficient(j));
        if (written.type(i) == -1)
          written.pCoefficient(j) = w.coefficient(1, written.exponent(j), written.pCoefficient(j));
      }
      j0 += written.nprim(i);
    }
    const std::vector<Function> fs = functions(written);
    for (Matrix* m : {&ck.mo, &ck.moBeta})
      for (int j = 1; j <= m->cols(); ++j)
        for (int r = 1; r <= m->rows(); ++r)
          (*m)(r, j) = (*m)(r, j) * w.orbitalFactor(fs[static_cast<std::size_t>(r - 1)]);
    const Settled again = settle(std::move(ck), written);
    EXPECT_EQ(again.convention.name, w.expected);
    EXPECT_LE(again.convention.deviation, mv::kOrthonormalityTolerance);
    // The same density, so the same analysis.
    const Matrix p0 = mv::densityFromOrbitals(base.ck.mo, base.ck.occupation);
    const Matrix p1 = mv::densityFromOrbitals(again.ck.mo, again.ck.occupation);
    double d = 0.0;
    for (int j = 1; j <= p0.cols(); ++j)
      for (int i = 1; i <= p0.rows(); ++i) d = std::max(d, std::fabs(p0(i, j) - p1(i, j)));
    EXPECT_LT(d, 1e-9);
  }
}

// Orbitals that no convention makes orthonormal are refused, with the
// largest deviation, at the line of [MO].
TEST(Convention, OrbitalsThatFitNoConventionAreRefused) {
  Checkpoint ck = readFile("ethanol_cation_uhf_631gs.molden");
  const Shells written = ck.shells;
  for (int r = 1; r <= ck.nbf; ++r) ck.moBeta(r, 3) *= 1.01;  // one beta orbital
  try {
    settle(std::move(ck), written);
    FAIL() << "accepted";
  } catch (const mv::Stop& s) {
    EXPECT_EQ(s.code, mv::kCodeBadValue);
    EXPECT_GT(s.line, 0);
    EXPECT_NE(s.message().find("not orthonormal"), std::string::npos) << s.message();
    EXPECT_NE(s.message().find("as written"), std::string::npos) << s.message();
  }
}

// The deviation is the same whether a few orbitals are checked (by their
// own products) or most of them (by the dense kernels), and it sees one
// orbital 1 % too long.
TEST(Convention, DeviationOfFewAndOfManyOrbitals) {
  Settled base = settleFile("glycine_rhf_ccpvdz.molden");
  const Matrix& c = base.ck.mo;
  const int n = c.cols();
  ASSERT_GE(n, 40);
  const double few = mv::orthonormalityDeviation(c, 10, base.s, mv::Parallel());
  const double many = mv::orthonormalityDeviation(c, n, base.s, mv::Parallel());
  EXPECT_LT(few, 1e-10);
  EXPECT_LT(many, 1e-10);
  EXPECT_LE(few, many + 1e-15);
  for (const int count : {3, n}) {
    Matrix bad = copyOf(c);
    for (int r = 1; r <= bad.rows(); ++r) bad(r, 2) *= 1.01;
    EXPECT_NEAR(mv::orthonormalityDeviation(bad, count, base.s, mv::Parallel()), 0.0201, 1e-9)
        << count;
  }
}

}  // namespace
