// Density verification: acceptance of a density that belongs to S, the
// rebuild of a restricted open-shell density from the alpha orbitals, the
// reread of a triangle stored column by column, and the ways the run ends,
// with the records the report shows for each.
#include <gtest/gtest.h>

#include <cmath>
#include <sstream>
#include <string>
#include <vector>

#include "analysis/density.h"
#include "checkpoint/reader.h"
#include "checkpoint/text.h"
#include "core/limits.h"
#include "core/stop.h"
#include "report/text_report.h"
#include "support/fchktext.h"
#include "support/matrices.h"
#include "support/outcome.h"
#include "support/testutil.h"

namespace {

using mv::DensityOutcome;
using Rows = std::vector<std::vector<double>>;

const mv::Limits kClassic = mv::Limits::classicRun();

// What the reader hands to the check: nbf functions, the electron counts,
// one total density, and alpha orbitals that are all zero.
mv::Checkpoint checkpoint(int nbf, int nalpha, int nbeta) {
  mv::Checkpoint ck;
  ck.nbf = nbf;
  ck.nalpha = nalpha;
  ck.nbeta = nbeta;
  ck.electrons = nalpha + nbeta;
  ck.ndens = 1;
  ck.density = mv::Matrix(nbf, nbf);
  ck.mo = mv::Matrix(nbf, nbf);
  ck.packed.assign(static_cast<std::size_t>(nbf) * (nbf + 1) / 2, 0.0);
  return ck;
}

// The density check as the run does it: the check, its records, then the
// stop it may end with.
struct Checked {
  mvtest::StageOutcome o;
  mv::DensityCheck d;
  std::vector<std::string> lines() const { return o.lines(); }
};

Checked check(mv::Checkpoint& ck, const mv::Matrix& s) {
  Checked c;
  c.o = mvtest::runStage([&](mv::TextReport& report) {
    c.d = mv::checkDensity(ck, s, kClassic);
    report.densityCheck(c.d);
    if (c.d.stop) throw *c.d.stop;
  });
  return c;
}

// ------------------------------------------------------------ acceptance

TEST(DensityCheck, CorrectDensityIsAcceptedSilentlyAndUnchanged) {
  mv::Checkpoint ck = checkpoint(3, 2, 2);
  ck.density = mvtest::fromRows({{2.0, 0.3, 0.0}, {0.3, 1.5, 0.2}, {0.0, 0.2, 0.5}});
  Checked c = check(ck, mvtest::identity(3));
  EXPECT_FALSE(c.o.stopped());
  EXPECT_EQ(c.d.outcome, DensityOutcome::Accepted);
  EXPECT_FALSE(c.d.repaired());
  EXPECT_TRUE(c.lines().empty());
  EXPECT_DOUBLE_EQ(c.d.trace, 4.0);
  EXPECT_EQ(c.d.density(2, 1), 0.3);
  EXPECT_EQ(c.d.density(3, 3), 0.5);
}

TEST(DensityCheck, OffDiagonalOverlapEntersTheTrace) {
  // With S = [[1, .5], [.5, 1]] and P all ones, trace(P*S) = 3 (2 with S = 1).
  mv::Checkpoint ck = checkpoint(2, 2, 1);
  ck.density = mvtest::fromRows({{1.0, 1.0}, {1.0, 1.0}});
  Checked c = check(ck, mvtest::fromRows({{1.0, 0.5}, {0.5, 1.0}}));
  EXPECT_FALSE(c.o.stopped());
  EXPECT_DOUBLE_EQ(c.d.trace, 3.0);
  EXPECT_TRUE(c.lines().empty());
  EXPECT_DOUBLE_EQ(mv::traceWithS(mvtest::fromRows({{1.0, 1.0}, {1.0, 1.0}}), mvtest::identity(2)),
                   2.0);
}

TEST(DensityCheck, TraceOffByAtMostOneTenthIsAccepted) {
  // Exactly the threshold: no electrons, trace 0.1.
  mv::Checkpoint ck = checkpoint(2, 0, 0);
  ck.density(1, 1) = 0.1;
  EXPECT_EQ(check(ck, mvtest::identity(2)).d.outcome, DensityOutcome::Accepted);
  // One tenth below and above a larger count.
  ck = checkpoint(2, 1, 0);
  ck.density(1, 1) = 0.9;
  EXPECT_TRUE(check(ck, mvtest::identity(2)).lines().empty());
  ck = checkpoint(2, 4, 4);
  ck.density(1, 1) = 4.0;
  ck.density(2, 2) = 4.1;
  EXPECT_TRUE(check(ck, mvtest::identity(2)).lines().empty());
}

TEST(DensityCheck, TraceJustBeyondOneTenthIsRepaired) {
  mv::Checkpoint ck = checkpoint(2, 1, 1);
  ck.density(1, 1) = 2.1000001;
  // The stored triangle read by columns is correct: the reread repairs it.
  ck.packed = {2.0, 0.0, 0.0};
  Checked c = check(ck, mvtest::identity(2));
  EXPECT_FALSE(c.o.stopped());
  EXPECT_EQ(c.d.outcome, DensityOutcome::Reread);
  ASSERT_EQ(c.lines().size(), 3u);
  EXPECT_EQ(c.lines()[0], "  ");
  EXPECT_EQ(c.lines()[1], "  WRONG DENSITY  (Trace of DS=  2.1000001)");
  EXPECT_NEAR(c.d.density(1, 1), 2.0, 1e-15);
}

// ------------------------------------------------- reread by columns

// A symmetric density of trace 2 with distinct off-diagonal elements.
const Rows kTrue = {{1.5, 0.3, 0.2}, {0.3, 0.4, 0.1}, {0.2, 0.1, 0.1}};
// Its lower triangle column by column.
const std::vector<double> kCols = {1.5, 0.3, 0.2, 0.4, 0.1, 0.1};

// The column-ordered triangle unpacked row by row, as the reader does.
mv::Checkpoint columnTriangle(int nalpha, int nbeta) {
  mv::Checkpoint ck = checkpoint(3, nalpha, nbeta);
  ck.packed = kCols;
  std::size_t k = 0;
  for (int i = 1; i <= 3; ++i)
    for (int j = 1; j <= i; ++j, ++k) ck.density(i, j) = ck.density(j, i) = kCols[k];
  return ck;
}

TEST(DensityCheck, ColumnOrderedTriangleIsRereadIntoTheRowOrderTwin) {
  mv::Checkpoint ck = columnTriangle(1, 1);  // trace 1.5 + 0.2 + 0.1 = 1.8
  Checked c = check(ck, mvtest::identity(3));
  EXPECT_FALSE(c.o.stopped());
  EXPECT_EQ(c.d.outcome, DensityOutcome::Reread);
  EXPECT_EQ(c.d.ndens, 1);
  EXPECT_DOUBLE_EQ(c.d.totalTrace, 2.0);
  ASSERT_EQ(c.lines().size(), 3u);
  EXPECT_EQ(c.lines()[0], "  ");
  EXPECT_EQ(c.lines()[1], "  WRONG DENSITY  (Trace of DS=  1.8)");
  EXPECT_EQ(c.lines()[2],
            " Different data order. Rereading the 1-d/th density of the checkpoint file");
  EXPECT_EQ(mvtest::maxDifference(c.d.density, mvtest::fromRows(kTrue)), 0.0);
  // The stored triangle is left as it was.
  EXPECT_EQ(ck.packed, kCols);
}

TEST(DensityCheck, RereadNamesTheNumberOfTheDensity) {
  // The reader keeps the triangle of the last density; the record names it.
  mv::Checkpoint ck = columnTriangle(1, 1);
  ck.ndens = 2;
  Checked c = check(ck, mvtest::identity(3));
  EXPECT_FALSE(c.o.stopped());
  ASSERT_EQ(c.lines().size(), 3u);
  EXPECT_EQ(c.lines()[2],
            " Different data order. Rereading the 2-d/th density of the checkpoint file");
  EXPECT_EQ(c.d.density(3, 2), 0.1);
  EXPECT_EQ(c.d.density(2, 2), 0.4);
  EXPECT_EQ(c.d.density(1, 3), 0.2);
}

TEST(DensityCheck, RereadThatStaysWrongStopsPlainly) {
  mv::Checkpoint ck = columnTriangle(2, 2);  // trace 1.8 read row by row, 2 by columns; N = 4
  Checked c = check(ck, mvtest::identity(3));
  ASSERT_TRUE(c.o.stopped());
  EXPECT_EQ(c.d.outcome, DensityOutcome::WrongAfterReread);
  EXPECT_EQ(c.o.code(), "");
  EXPECT_EQ(c.o.stop->status, mv::kStatusStopped);
  EXPECT_TRUE(c.o.stop->records.empty());
  EXPECT_EQ(c.o.stop->message(),
            "the density describes neither 4 electrons nor does it in the other triangle order");
  ASSERT_EQ(c.lines().size(), 5u);
  EXPECT_EQ(c.lines()[3], "  ***   2.");
  EXPECT_EQ(c.lines()[4], "  WRONG DENSITY.  STOP. ");
}

TEST(DensityCheck, RereadWhoseTraceIsNotANumberStopsPlainly) {
  // A non-finite overlap element makes every trace NaN: neither the density
  // as read nor the reread one may pass.
  mv::Checkpoint ck = columnTriangle(2, 2);
  mv::Matrix s = mvtest::identity(3);
  s(2, 1) = std::nan("");
  Checked c = check(ck, s);
  ASSERT_TRUE(c.o.stopped());
  EXPECT_EQ(c.o.code(), "");
  ASSERT_FALSE(c.lines().empty());
  EXPECT_EQ(c.lines().back(), "  WRONG DENSITY.  STOP. ");
}

// ------------------------------------------------------- ROHF rebuild

TEST(DensityCheck, RohfDensityIsRebuiltFromTheAlphaOrbitals) {
  // Orbitals (.6, .8, 0), (.8, -.6, 0), (0, 0, 1); nbeta = 1, nalpha = 2:
  // P = 2 o1 o1' + o2 o2', spin density o2 o2'.
  mv::Checkpoint ck = checkpoint(3, 2, 1);
  ck.rohfMarker = true;
  ck.density = mvtest::fromRows({{1.0, 0.0, 0.0}, {0.0, 1.0, 0.0}, {0.0, 0.0, 0.0}});  // alpha
  ck.mo = mvtest::fromRows({{0.6, 0.8, 0.0}, {0.8, -0.6, 0.0}, {0.0, 0.0, 1.0}});
  Checked c = check(ck, mvtest::identity(3));
  EXPECT_FALSE(c.o.stopped());
  EXPECT_EQ(c.d.outcome, DensityOutcome::Rebuilt);
  const std::vector<std::string> want = {
      "  ",
      "  WRONG DENSITY  (Trace of DS=  2.)",
      "  ",
      "  ROHF case",
      " Density and spin-density will be re-built by using the MO-s",
      "  ",
      " Now correct density and spin density  (Traces=  3.  1.)"};
  EXPECT_EQ(c.lines(), want);
  EXPECT_NEAR(c.d.totalTrace, 3.0, 1e-15);
  EXPECT_NEAR(c.d.spinTrace, 1.0, 1e-15);
  EXPECT_LT(
      mvtest::maxDifference(
          c.d.density, mvtest::fromRows({{1.36, 0.48, 0.0}, {0.48, 1.64, 0.0}, {0.0, 0.0, 0.0}})),
      1e-15);
}

TEST(DensityCheck, EqualSpinCountsGiveZeroSpinTrace) {
  mv::Checkpoint ck = checkpoint(2, 1, 1);
  ck.rohfMarker = true;
  ck.density(1, 1) = 1.0;
  ck.mo = mvtest::identity(2);
  Checked c = check(ck, mvtest::identity(2));
  EXPECT_FALSE(c.o.stopped());
  ASSERT_FALSE(c.lines().empty());
  EXPECT_EQ(c.lines().back(), " Now correct density and spin density  (Traces=  2.  0.)");
  EXPECT_EQ(c.d.spinTrace, 0.0);
  EXPECT_EQ(c.d.density(1, 1), 2.0);
  EXPECT_EQ(c.d.density(2, 2), 0.0);
}

TEST(DensityCheck, OrbitalsTheFileDoesNotHoldCountAsZero) {
  // Two orbitals of three functions stored; the third column is zero.
  mv::Checkpoint ck = checkpoint(3, 1, 0);
  ck.rohfMarker = true;
  ck.density(1, 1) = 3.0;
  ck.mo(2, 1) = 1.0;
  ck.mo(1, 2) = 1.0;
  Checked c = check(ck, mvtest::identity(3));
  EXPECT_FALSE(c.o.stopped());
  EXPECT_EQ(c.lines().back(), " Now correct density and spin density  (Traces=  1.  1.)");
  EXPECT_EQ(c.d.density(2, 2), 1.0);
  EXPECT_EQ(c.d.density(1, 1), 0.0);
  // A table with fewer orbitals than occupied: the missing ones are zero,
  // and the traces then miss the electron count.
  mv::Checkpoint few = checkpoint(2, 2, 0);
  few.rohfMarker = true;
  few.mo = mvtest::fromRows({{1.0}, {0.0}});
  c = check(few, mvtest::identity(2));
  ASSERT_TRUE(c.o.stopped());
  EXPECT_EQ(c.d.outcome, DensityOutcome::Irrecoverable);
  EXPECT_EQ(c.lines().back(), " Irrecoverable case  1.  1.");
}

TEST(DensityCheck, RohfTracesMustBeStrictlyWithinOneHundredth) {
  // One singly occupied orbital on function 1; S(1,1) moves both traces.
  auto runWithS11 = [](double s11) {
    mv::Checkpoint ck = checkpoint(2, 1, 0);
    ck.rohfMarker = true;
    ck.mo = mvtest::identity(2);
    mv::Matrix s = mvtest::identity(2);
    s(1, 1) = s11;
    return check(ck, s);
  };
  Checked c = runWithS11(1.005);
  EXPECT_FALSE(c.o.stopped());
  EXPECT_EQ(c.lines().back(), " Now correct density and spin density  (Traces=  1.005  1.005)");

  c = runWithS11(1.01);
  ASSERT_TRUE(c.o.stopped());
  EXPECT_EQ(c.o.code(), "");
  EXPECT_EQ(c.o.stop->status, mv::kStatusStopped);
  EXPECT_TRUE(c.o.stop->records.empty());
  EXPECT_EQ(c.o.stop->message(),
            "the density rebuilt from the orbitals does not describe 1 alpha and 0 beta electrons");
  EXPECT_EQ(c.lines().back(), " Irrecoverable case  1.01  1.01");

  c = runWithS11(0.98);
  ASSERT_TRUE(c.o.stopped());
  EXPECT_EQ(c.lines().back(), " Irrecoverable case  0.98  0.98");
}

TEST(DensityCheck, RohfSpinTraceIsCheckedOnItsOwn) {
  // Doubly occupied orbital of norm 1.05, singly occupied one of norm 0.9:
  // the total trace is 3, the spin trace 0.9 instead of 1.
  mv::Checkpoint ck = checkpoint(2, 2, 1);
  ck.rohfMarker = true;
  ck.mo = mvtest::identity(2);
  Checked c = check(ck, mvtest::fromRows({{1.05, 0.0}, {0.0, 0.9}}));
  ASSERT_TRUE(c.o.stopped());
  EXPECT_EQ(c.o.code(), "");
  EXPECT_EQ(c.lines().back(), " Irrecoverable case  3.  0.9");
}

TEST(DensityCheck, RohfWithElectronCountsBeyondTheOrbitalTableIsRefused) {
  mv::Checkpoint ck = checkpoint(2, kClassic.basisFunctions + 1, 1);
  ck.rohfMarker = true;
  Checked c = check(ck, mvtest::identity(2));
  ASSERT_TRUE(c.o.stopped());
  EXPECT_EQ(c.d.outcome, DensityOutcome::RebuildRefused);
  EXPECT_EQ(c.o.code(), mv::kCodeBadIndex);
  const std::vector<std::string> want = {
      "  ",
      "  WRONG DENSITY  (Trace of DS=  0.)",
      "  ",
      "  ROHF case",
      " Density and spin-density will be re-built by using the MO-s",
      "  The number of alpha or beta electrons is out of range. STOP"};
  EXPECT_EQ(c.lines(), want);
  // Without the classic table the same counts go to the rebuild.
  ck = checkpoint(2, kClassic.basisFunctions + 1, 1);
  ck.rohfMarker = true;
  const mv::DensityCheck d = mv::checkDensity(ck, mvtest::identity(2), mv::Limits::commandLine());
  EXPECT_EQ(d.outcome, DensityOutcome::Irrecoverable);
}

// --------------------------------------------- the bundled test files

// The inverse of a matrix by Gauss-Jordan elimination.
mv::Matrix invert(mv::Matrix a) {
  const int n = a.rows();
  mv::Matrix b = mvtest::identity(n);
  for (int c = 1; c <= n; ++c) {
    int piv = c;
    for (int r = c + 1; r <= n; ++r)
      if (std::fabs(a(r, c)) > std::fabs(a(piv, c))) piv = r;
    for (int k = 1; k <= n; ++k) {
      std::swap(a(c, k), a(piv, k));
      std::swap(b(c, k), b(piv, k));
    }
    const double d = a(c, c);
    for (int k = 1; k <= n; ++k) {
      a(c, k) /= d;
      b(c, k) /= d;
    }
    for (int r = 1; r <= n; ++r) {
      if (r == c) continue;
      const double f = a(r, c);
      for (int k = 1; k <= n; ++k) {
        a(r, k) -= f * a(c, k);
        b(r, k) -= f * b(c, k);
      }
    }
  }
  return b;
}

// A bundled file as the reader gives it, and S from its orbitals: C'SC = 1
// for a full set of orbitals, so S = (C C')^-1.
struct FileCase {
  mv::Checkpoint ck;
  mv::Matrix s;
};

FileCase fromFile(const std::string& name) {
  FileCase f;
  const std::string text = mvtest::readFile(mvtest::dataPath(name));
  f.ck = mv::readCheckpoint(mv::CheckpointText::fromString(text, "Test.FChk"), kClassic);
  const mv::Matrix& c = f.ck.mo;
  mv::Matrix cct(c.rows(), c.rows());
  for (int i = 1; i <= c.rows(); ++i)
    for (int j = 1; j <= c.rows(); ++j)
      for (int k = 1; k <= c.cols(); ++k) cct(i, j) += c(i, k) * c(j, k);
  f.s = invert(std::move(cct));
  return f;
}

// Gross population of the atom owning functions first..last: sum of (P S)(mu,mu).
double gross(const mv::Matrix& p, const mv::Matrix& s, int first, int last) {
  double q = 0.0;
  for (int mu = first; mu <= last; ++mu)
    for (int nu = 1; nu <= p.rows(); ++nu) q += p(mu, nu) * s(nu, mu);
  return q;
}

TEST(DensityCheckFiles, WaterColumnOrderedDensityMatchesTheReferencePopulations) {
  FileCase f = fromFile("h2o_rhf_sto3g_colorder.fchk");
  ASSERT_EQ(f.ck.nbf, 7);
  Checked c = check(f.ck, f.s);
  EXPECT_FALSE(c.o.stopped());
  EXPECT_EQ(c.d.outcome, DensityOutcome::Reread);
  ASSERT_EQ(c.lines().size(), 3u);
  EXPECT_NEAR(c.d.trace, 4.49, 0.01);
  EXPECT_EQ(c.lines()[2],
            " Different data order. Rereading the 1-d/th density of the checkpoint file");
  // Oxygen 1s 2s 2p (functions 1-5), one hydrogen s function each.
  EXPECT_NEAR(gross(c.d.density, f.s, 1, 5), 8.365748682445629, 1e-5);
  EXPECT_NEAR(gross(c.d.density, f.s, 6, 6), 0.8171256587771918, 1e-5);
  EXPECT_NEAR(gross(c.d.density, f.s, 7, 7), 0.8171256587771903, 1e-5);
}

TEST(DensityCheckFiles, MethyleneAlphaDensityIsRebuiltToTheReferencePopulations) {
  FileCase f = fromFile("ch2_rohf_631gs_baddens.fchk");
  ASSERT_EQ(f.ck.nbf, 19);
  Checked c = check(f.ck, f.s);
  EXPECT_FALSE(c.o.stopped());
  EXPECT_EQ(c.d.outcome, DensityOutcome::Rebuilt);
  ASSERT_EQ(c.lines().size(), 7u);
  EXPECT_NEAR(c.d.trace, 5.0, 1e-5);
  EXPECT_EQ(c.lines()[3], "  ROHF case");
  // Both traces in the final record: total 8, spin nalpha - nbeta = 2.
  std::istringstream traces(c.lines()[6].substr(c.lines()[6].find("Traces=") + 7));
  double t1 = 0.0;
  double t2 = 0.0;
  traces >> t1 >> t2;
  EXPECT_NEAR(t1, 8.0, 1e-5);
  EXPECT_NEAR(t2, 2.0, 1e-5);
  // Carbon 1s 2sp 3sp and six Cartesian d (functions 1-15), two s per hydrogen.
  EXPECT_NEAR(gross(c.d.density, f.s, 1, 15), 6.370508796300518, 1e-5);
  EXPECT_NEAR(gross(c.d.density, f.s, 16, 17), 0.8147456018497429, 1e-5);
  EXPECT_NEAR(gross(c.d.density, f.s, 18, 19), 0.8147456018497174, 1e-5);
}

}  // namespace
