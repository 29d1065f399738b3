// Density verification: acceptance of a density that belongs to S, the
// rebuild of a restricted open-shell density from the alpha orbitals, the
// reread of a triangle stored column by column, and the ways the run ends.
#include <gtest/gtest.h>

#include <cmath>
#include <sstream>
#include <string>
#include <vector>

#include "analysis/analysis.h"
#include "checkpoint/scratch.h"
#include "driver/stop.h"
#include "support/fchktext.h"
#include "support/testutil.h"
#include "tables.h"

namespace {

using mv::g;
using mv::view;

// What a call of denstest left behind: the report and how it ended.
struct Outcome {
  std::vector<std::string> lines;
  bool stopped = false;
  mv::Stop stop;
  bool inputError = false;
  mv::InputError error;
};

Outcome runDenstest() {
  Outcome o;
  mvtest::Capture cap;
  try {
    mv::denstest();
  } catch (const mv::Stop& s) {
    o.stopped = true;
    o.stop = s;
  } catch (const mv::InputError& e) {
    o.inputError = true;
    o.error = e;
  }
  o.lines = mvtest::lines(cap.out.str());
  return o;
}

using mvtest::fchkRealArray;
using mvtest::fchkRealArrayLabel;
using mvtest::fchkRealValues;

const std::string kRhfHead =
    "test molecule\n"
    "SP        RHF                                                         STO-3G\n"
    "Total Energy                               R     -1.000000000000000E+00\n";
const std::string kRohfHead =
    "test molecule\n"
    "SP        ROHF                                                        6-31G(d)\n"
    "Total Energy                               R     -1.000000000000000E+00\n";

// Fresh tables: nbf functions, S = identity, the given electron counts.
void setUp(int nbf, int nalpha, int nbeta) {
  mv::resetTables();
  g.nat(2) = nbf;
  g.nat(5) = nalpha;
  g.nat(6) = nbeta;
  for (int i = 1; i <= nbf; ++i) view(g.stv1)(i, i) = 1.0;
}

void setMatrix(mv::Square& m, const std::vector<std::vector<double>>& a) {
  for (std::size_t i = 0; i < a.size(); ++i)
    for (std::size_t j = 0; j < a.size(); ++j)
      view(m)(static_cast<int>(i) + 1, static_cast<int>(j) + 1) = a[i][j];
}

// ------------------------------------------------------------ acceptance

TEST(Denstest, CorrectDensityIsAcceptedSilentlyAndUnchanged) {
  setUp(3, 2, 2);
  setMatrix(g.c2, {{2.0, 0.3, 0.0}, {0.3, 1.5, 0.2}, {0.0, 0.2, 0.5}});
  mv::tmp.loadText("");  // no repair may be attempted: the copy is empty
  Outcome o = runDenstest();
  EXPECT_FALSE(o.stopped);
  EXPECT_FALSE(o.inputError);
  EXPECT_TRUE(o.lines.empty());
  EXPECT_EQ(view(g.c2)(2, 1), 0.3);
  EXPECT_EQ(view(g.c2)(3, 3), 0.5);
}

TEST(Denstest, OffDiagonalOverlapEntersTheTrace) {
  // With S = [[1, .5], [.5, 1]] and P all ones, trace(P*S) = 3 (2 with S = 1).
  setUp(2, 2, 1);
  setMatrix(g.stv1, {{1.0, 0.5}, {0.5, 1.0}});
  setMatrix(g.c2, {{1.0, 1.0}, {1.0, 1.0}});
  mv::tmp.loadText("");
  Outcome o = runDenstest();
  EXPECT_FALSE(o.stopped);
  EXPECT_FALSE(o.inputError);
  EXPECT_TRUE(o.lines.empty());
}

TEST(Denstest, TraceOffByAtMostOneTenthIsAccepted) {
  mv::tmp.loadText("");
  // Exactly the threshold: no electrons, trace 0.1.
  setUp(2, 0, 0);
  view(g.c2)(1, 1) = 0.1;
  EXPECT_TRUE(runDenstest().lines.empty());
  // One tenth below and above a larger count.
  setUp(2, 1, 0);
  view(g.c2)(1, 1) = 0.9;
  EXPECT_TRUE(runDenstest().lines.empty());
  setUp(2, 4, 4);
  view(g.c2)(1, 1) = 4.0;
  view(g.c2)(2, 2) = 4.1;
  EXPECT_TRUE(runDenstest().lines.empty());
}

TEST(Denstest, TraceJustBeyondOneTenthIsRepaired) {
  setUp(2, 1, 1);
  view(g.c2)(1, 1) = 2.1000001;
  // An RHF copy whose density is correct: the reread repairs it.
  mv::tmp.loadText(kRhfHead + fchkRealArray("Total SCF Density", {2.0, 0.0, 0.0}));
  Outcome o = runDenstest();
  EXPECT_FALSE(o.stopped);
  EXPECT_FALSE(o.inputError);
  ASSERT_EQ(o.lines.size(), 3u);
  EXPECT_EQ(o.lines[0], "  ");
  EXPECT_EQ(o.lines[1], "  WRONG DENSITY  (Trace of DS=  2.1000001)");
  EXPECT_NEAR(view(g.c2)(1, 1), 2.0, 1e-15);
}

// ------------------------------------------------- reread by columns

// A symmetric density of trace 2 with distinct off-diagonal elements.
const std::vector<std::vector<double>> kTrue = {{1.5, 0.3, 0.2}, {0.3, 0.4, 0.1}, {0.2, 0.1, 0.1}};
// Its lower triangle row by row, and column by column.
const std::vector<double> kRows = {1.5, 0.3, 0.4, 0.2, 0.1, 0.1};
const std::vector<double> kCols = {1.5, 0.3, 0.2, 0.4, 0.1, 0.1};

// The column-ordered triangle unpacked row by row, as the reader does.
void setRowUnpackedColumnTriangle() {
  int k = 0;
  for (int i = 1; i <= 3; ++i)
    for (int j = 1; j <= i; ++j) {
      view(g.c2)(i, j) = kCols[k];
      view(g.c2)(j, i) = kCols[k];
      ++k;
    }
}

TEST(Denstest, ColumnOrderedTriangleIsRereadIntoTheRowOrderTwin) {
  setUp(3, 1, 1);
  setRowUnpackedColumnTriangle();  // trace 1.5 + 0.2 + 0.1 = 1.8
  mv::tmp.loadText(kRhfHead + fchkRealArray("Alpha MO coefficients", std::vector<double>(9, 0.5)) +
                   fchkRealArray("Total SCF Density", kCols));
  Outcome o = runDenstest();
  EXPECT_FALSE(o.stopped);
  EXPECT_FALSE(o.inputError);
  ASSERT_EQ(o.lines.size(), 3u);
  EXPECT_EQ(o.lines[0], "  ");
  EXPECT_EQ(o.lines[1], "  WRONG DENSITY  (Trace of DS=  1.8)");
  EXPECT_EQ(o.lines[2],
            " Different data order. Rereading the 1-d/th density of the checkpoint file");
  for (int i = 1; i <= 3; ++i)
    for (int j = 1; j <= 3; ++j) EXPECT_EQ(view(g.c2)(i, j), kTrue[i - 1][j - 1]) << i << j;
  // The packed triangle stays in the work table.
  for (int k = 0; k < 6; ++k) EXPECT_EQ(g.opensh.a[k], kCols[k]);
}

TEST(Denstest, RereadTakesTheLastTotalDensity) {
  setUp(3, 1, 1);
  setRowUnpackedColumnTriangle();
  mv::tmp.loadText(kRhfHead + fchkRealArray("Total SCF Density", kRows) +
                   fchkRealArray("Total MP2 Density", kCols));
  Outcome o = runDenstest();
  EXPECT_FALSE(o.stopped);
  ASSERT_EQ(o.lines.size(), 3u);
  EXPECT_EQ(o.lines[2],
            " Different data order. Rereading the 2-d/th density of the checkpoint file");
  EXPECT_EQ(view(g.c2)(3, 2), 0.1);
  EXPECT_EQ(view(g.c2)(2, 2), 0.4);
  EXPECT_EQ(view(g.c2)(1, 3), 0.2);
}

TEST(Denstest, RereadThatStaysWrongStopsPlainly) {
  setUp(3, 2, 2);
  setRowUnpackedColumnTriangle();  // trace 1.8 read row by row, 2 by columns; N = 4
  mv::tmp.loadText(kRhfHead + fchkRealArray("Total SCF Density", kCols));
  Outcome o = runDenstest();
  ASSERT_TRUE(o.stopped);
  EXPECT_EQ(o.stop.code, "");
  EXPECT_EQ(o.stop.status, mv::kStatusStopped);
  ASSERT_EQ(o.lines.size(), 5u);
  EXPECT_EQ(o.lines[3], "  ***   2.");
  EXPECT_EQ(o.lines[4], "  WRONG DENSITY.  STOP. ");
}

TEST(Denstest, RereadWhoseTraceIsNotANumberStopsPlainly) {
  // A non-finite overlap element makes every trace NaN: neither the density
  // as read nor the reread one may pass.
  setUp(3, 2, 2);
  setRowUnpackedColumnTriangle();
  view(g.stv1)(2, 1) = std::nan("");
  mv::tmp.loadText(kRhfHead + fchkRealArray("Total SCF Density", kCols));
  Outcome o = runDenstest();
  ASSERT_TRUE(o.stopped);
  EXPECT_EQ(o.stop.code, "");
  ASSERT_FALSE(o.lines.empty());
  EXPECT_EQ(o.lines.back(), "  WRONG DENSITY.  STOP. ");
}

TEST(Denstest, TruncatedOrDamagedDensityIsAnInputErrorOnTheScratchCopy) {
  setUp(3, 1, 1);
  setRowUnpackedColumnTriangle();
  // End of the copy after five of the six values.
  mv::tmp.loadText(kRhfHead + fchkRealArrayLabel("Total SCF Density", 6) + "\n" +
                   fchkRealValues({1.5, 0.3, 0.2, 0.4, 0.1}));
  Outcome o = runDenstest();
  ASSERT_TRUE(o.inputError);
  EXPECT_EQ(o.error.file, "Tmp");

  // A label where the sixth value should stand.
  setUp(3, 1, 1);
  setRowUnpackedColumnTriangle();
  mv::tmp.loadText(kRhfHead + fchkRealArrayLabel("Total SCF Density", 6) + "\n" +
                   fchkRealValues({1.5, 0.3, 0.2, 0.4, 0.1}) + "Spin SCF Density\n 1.0\n");
  o = runDenstest();
  ASSERT_TRUE(o.inputError);
  EXPECT_EQ(o.error.file, "Tmp");
}

TEST(Denstest, NonFiniteValuesAreRefusedNamingTheSection) {
  setUp(3, 1, 1);
  setRowUnpackedColumnTriangle();
  mv::tmp.loadText(kRhfHead + fchkRealArrayLabel("Total SCF Density", 6) +
                   "\n  1.5 0.3 0.2 Infinity 0.1 0.1\n");
  Outcome o = runDenstest();
  ASSERT_TRUE(o.stopped);
  EXPECT_EQ(o.stop.code, mv::kCodeBadValue);
  EXPECT_NE(o.lines.back().find("total density"), std::string::npos);

  setUp(2, 1, 0);
  mv::tmp.loadText(kRohfHead + fchkRealArrayLabel("Alpha MO coefficients", 4) +
                   "\n 1.0 NaN 0.0 1.0\n");
  o = runDenstest();
  ASSERT_TRUE(o.stopped);
  EXPECT_EQ(o.stop.code, mv::kCodeBadValue);
  EXPECT_NE(o.lines.back().find("alpha MO coefficients"), std::string::npos);
}

// ------------------------------------------------------- ROHF rebuild

TEST(Denstest, RohfDensityIsRebuiltFromTheAlphaOrbitals) {
  // Orbitals (.6, .8, 0), (.8, -.6, 0), (0, 0, 1); nbeta = 1, nalpha = 2:
  // P = 2 o1 o1' + o2 o2', spin density o2 o2'.
  setUp(3, 2, 1);
  setMatrix(g.c2, {{1.0, 0.0, 0.0}, {0.0, 1.0, 0.0}, {0.0, 0.0, 0.0}});  // the alpha density
  mv::tmp.loadText(
      kRohfHead +
      fchkRealArray("Alpha MO coefficients", {0.6, 0.8, 0.0, 0.8, -0.6, 0.0, 0.0, 0.0, 1.0}) +
      fchkRealArray("Total SCF Density", {1.0, 0.0, 1.0, 0.0, 0.0, 0.0}));
  Outcome o = runDenstest();
  EXPECT_FALSE(o.stopped);
  EXPECT_FALSE(o.inputError);
  ASSERT_EQ(o.lines.size(), 7u);
  EXPECT_EQ(o.lines[1], "  WRONG DENSITY  (Trace of DS=  2.)");
  EXPECT_EQ(o.lines[2], "  ");
  EXPECT_EQ(o.lines[3], "  ROHF case");
  EXPECT_EQ(o.lines[4], " Density and spin-density will be re-built by using the MO-s");
  EXPECT_EQ(o.lines[5], "  ");
  EXPECT_EQ(o.lines[6], " Now correct density and spin density  (Traces=  3.  1.)");

  const std::vector<std::vector<double>> p = {
      {1.36, 0.48, 0.0}, {0.48, 1.64, 0.0}, {0.0, 0.0, 0.0}};
  const std::vector<std::vector<double>> ps = {
      {0.64, -0.48, 0.0}, {-0.48, 0.36, 0.0}, {0.0, 0.0, 0.0}};
  for (int i = 1; i <= 3; ++i)
    for (int j = 1; j <= 3; ++j) {
      EXPECT_NEAR(view(g.c2)(i, j), p[i - 1][j - 1], 1e-15) << i << j;
      EXPECT_NEAR(view(g.stv2)(i, j), ps[i - 1][j - 1], 1e-15) << i << j;
    }
  EXPECT_NEAR(view(g.opensh)(1, 2), 0.8, 1e-15);
  EXPECT_NEAR(view(g.opensh)(3, 3), 1.0, 1e-15);
}

TEST(Denstest, EqualSpinCountsGiveZeroSpinDensity) {
  setUp(2, 1, 1);
  view(g.c2)(1, 1) = 1.0;
  view(g.stv2)(1, 1) = 9.0;  // left over: must be overwritten
  view(g.stv2)(2, 1) = 9.0;
  mv::tmp.loadText(kRohfHead + fchkRealArray("Alpha MO coefficients", {1.0, 0.0, 0.0, 1.0}));
  Outcome o = runDenstest();
  EXPECT_FALSE(o.stopped);
  ASSERT_FALSE(o.lines.empty());
  EXPECT_EQ(o.lines.back(), " Now correct density and spin density  (Traces=  2.  0.)");
  EXPECT_EQ(view(g.c2)(1, 1), 2.0);
  EXPECT_EQ(view(g.c2)(2, 2), 0.0);
  for (int i = 1; i <= 2; ++i)
    for (int j = 1; j <= 2; ++j) EXPECT_EQ(view(g.stv2)(i, j), 0.0);
}

TEST(Denstest, FewerOrbitalsThanFunctionsEndTheCoefficientReadAtTheNextLabel) {
  // Two orbitals of three functions; the third column keeps what it held.
  setUp(3, 1, 0);
  view(g.c2)(1, 1) = 3.0;
  for (int i = 1; i <= 3; ++i) view(g.opensh)(i, 3) = 7.0;
  mv::tmp.loadText(kRohfHead +
                   fchkRealArray("Alpha MO coefficients", {0.0, 1.0, 0.0, 1.0, 0.0, 0.0}) +
                   fchkRealArray("Total SCF Density", {3.0, 0.0, 0.0, 0.0, 0.0, 0.0}));
  Outcome o = runDenstest();
  EXPECT_FALSE(o.stopped);
  EXPECT_FALSE(o.inputError);
  EXPECT_EQ(o.lines.back(), " Now correct density and spin density  (Traces=  1.  1.)");
  EXPECT_EQ(view(g.c2)(2, 2), 1.0);
  EXPECT_EQ(view(g.c2)(1, 1), 0.0);
  EXPECT_EQ(view(g.opensh)(1, 2), 1.0);
  for (int i = 1; i <= 3; ++i) EXPECT_EQ(view(g.opensh)(i, 3), 7.0);
}

TEST(Denstest, RohfTracesMustBeStrictlyWithinOneHundredth) {
  // One singly occupied orbital on function 1; S(1,1) moves both traces.
  auto runWithS11 = [](double s11) {
    setUp(2, 1, 0);
    view(g.stv1)(1, 1) = s11;
    mv::tmp.loadText(kRohfHead + fchkRealArray("Alpha MO coefficients", {1.0, 0.0, 0.0, 1.0}));
    return runDenstest();
  };
  Outcome o = runWithS11(1.005);
  EXPECT_FALSE(o.stopped);
  EXPECT_EQ(o.lines.back(), " Now correct density and spin density  (Traces=  1.005  1.005)");

  o = runWithS11(1.01);
  ASSERT_TRUE(o.stopped);
  EXPECT_EQ(o.stop.code, "");
  EXPECT_EQ(o.stop.status, mv::kStatusStopped);
  EXPECT_EQ(o.lines.back(), " Irrecoverable case  1.01  1.01");

  o = runWithS11(0.98);
  ASSERT_TRUE(o.stopped);
  EXPECT_EQ(o.lines.back(), " Irrecoverable case  0.98  0.98");
}

TEST(Denstest, RohfSpinTraceIsCheckedOnItsOwn) {
  // Doubly occupied orbital of norm 1.05, singly occupied one of norm 0.9:
  // the total trace is 3, the spin trace 0.9 instead of 1.
  setUp(2, 2, 1);
  setMatrix(g.stv1, {{1.05, 0.0}, {0.0, 0.9}});
  mv::tmp.loadText(kRohfHead + fchkRealArray("Alpha MO coefficients", {1.0, 0.0, 0.0, 1.0}));
  Outcome o = runDenstest();
  ASSERT_TRUE(o.stopped);
  EXPECT_EQ(o.stop.code, "");
  EXPECT_EQ(o.lines.back(), " Irrecoverable case  3.  0.9");
}

TEST(Denstest, RohfWithNegativeElectronCountIsRefused) {
  setUp(2, 1, -1);
  view(g.c2)(1, 1) = 2.0;
  mv::tmp.loadText(kRohfHead + fchkRealArray("Alpha MO coefficients", {1.0, 0.0, 0.0, 1.0}));
  Outcome o = runDenstest();
  ASSERT_TRUE(o.stopped);
  EXPECT_EQ(o.stop.code, mv::kCodeBadIndex);
}

TEST(Denstest, RohfWithoutAlphaOrbitalsStopsWith1000) {
  setUp(2, 1, 0);
  mv::tmp.loadText(kRohfHead + fchkRealArray("Total SCF Density", {0.0, 0.0, 0.0}));
  Outcome o = runDenstest();
  ASSERT_TRUE(o.stopped);
  EXPECT_EQ(o.stop.code, "1000");
}

TEST(Denstest, EndOfFileInsideTheOrbitalsIsAnInputError) {
  setUp(2, 1, 0);
  mv::tmp.loadText(kRohfHead + fchkRealArrayLabel("Alpha MO coefficients", 4) + "\n" +
                   fchkRealValues({1.0, 0.0, 0.0}));
  Outcome o = runDenstest();
  ASSERT_TRUE(o.inputError);
  EXPECT_EQ(o.error.file, "Tmp");
}

// --------------------------------------------- the bundled test files

// The inverse of the n by n matrix a (row-major), by Gauss-Jordan elimination.
std::vector<double> invert(std::vector<double> a, int n) {
  std::vector<double> b(static_cast<std::size_t>(n) * n, 0.0);
  for (int i = 0; i < n; ++i) b[i * n + i] = 1.0;
  for (int c = 0; c < n; ++c) {
    int piv = c;
    for (int r = c + 1; r < n; ++r)
      if (std::fabs(a[r * n + c]) > std::fabs(a[piv * n + c])) piv = r;
    for (int k = 0; k < n; ++k) {
      std::swap(a[c * n + k], a[piv * n + k]);
      std::swap(b[c * n + k], b[piv * n + k]);
    }
    const double d = a[c * n + c];
    for (int k = 0; k < n; ++k) {
      a[c * n + k] /= d;
      b[c * n + k] /= d;
    }
    for (int r = 0; r < n; ++r) {
      if (r == c) continue;
      const double f = a[r * n + c];
      for (int k = 0; k < n; ++k) {
        a[r * n + k] -= f * a[c * n + k];
        b[r * n + k] -= f * b[c * n + k];
      }
    }
  }
  return b;
}

// Set the tables from a bundled file: S from the orbitals (C'SC = 1 for a
// full set of orbitals, so S = (C C')^-1) and P as the reader leaves it, the
// last density triangle unpacked row by row.
void setUpFromFile(const std::string& text, int nbf, int nalpha, int nbeta,
                   const std::string& densityLabel) {
  setUp(nbf, nalpha, nbeta);
  const std::vector<double> c = mvtest::fchkArray(text, "Alpha MO coefficients");
  ASSERT_EQ(static_cast<int>(c.size()), nbf * nbf);
  std::vector<double> cct(static_cast<std::size_t>(nbf) * nbf, 0.0);
  for (int i = 0; i < nbf; ++i)
    for (int j = 0; j < nbf; ++j)
      for (int k = 0; k < nbf; ++k) cct[i * nbf + j] += c[k * nbf + i] * c[k * nbf + j];
  const std::vector<double> s = invert(cct, nbf);
  for (int i = 0; i < nbf; ++i)
    for (int j = 0; j < nbf; ++j) view(g.stv1)(i + 1, j + 1) = s[i * nbf + j];
  const std::vector<double> tri = mvtest::fchkArray(text, densityLabel);
  ASSERT_EQ(static_cast<int>(tri.size()), nbf * (nbf + 1) / 2);
  int k = 0;
  for (int i = 1; i <= nbf; ++i)
    for (int j = 1; j <= i; ++j, ++k) {
      view(g.c2)(i, j) = tri[k];
      view(g.c2)(j, i) = tri[k];
    }
  mv::tmp.loadText(text);
}

// Gross population of the atom owning functions first..last: sum of (P S)(mu,mu).
double gross(int first, int last, int nbf) {
  double q = 0.0;
  for (int mu = first; mu <= last; ++mu)
    for (int nu = 1; nu <= nbf; ++nu) q += view(g.c2)(mu, nu) * view(g.stv1)(nu, mu);
  return q;
}

// The number after the "=" of a report line such as "... (Trace of DS=  4.49)".
double numberAfter(const std::string& line, const std::string& key) {
  return std::stod(line.substr(line.find(key) + key.size()));
}

TEST(DenstestFiles, WaterColumnOrderedDensityMatchesTheReferencePopulations) {
  const std::string text = mvtest::readFile(mvtest::dataPath("h2o_rhf_sto3g_colorder.fchk"));
  ASSERT_FALSE(text.empty());
  setUpFromFile(text, 7, 5, 5, "Total SCF Density");
  Outcome o = runDenstest();
  EXPECT_FALSE(o.stopped);
  EXPECT_FALSE(o.inputError);
  ASSERT_EQ(o.lines.size(), 3u);
  EXPECT_NEAR(numberAfter(o.lines[1], "DS="), 4.49, 0.01);
  EXPECT_EQ(o.lines[2],
            " Different data order. Rereading the 1-d/th density of the checkpoint file");
  // Oxygen 1s 2s 2p (functions 1-5), one hydrogen s function each.
  EXPECT_NEAR(gross(1, 5, 7), 8.365748682445629, 1e-5);
  EXPECT_NEAR(gross(6, 6, 7), 0.8171256587771918, 1e-5);
  EXPECT_NEAR(gross(7, 7, 7), 0.8171256587771903, 1e-5);
}

TEST(DenstestFiles, MethyleneAlphaDensityIsRebuiltToTheReferencePopulations) {
  const std::string text = mvtest::readFile(mvtest::dataPath("ch2_rohf_631gs_baddens.fchk"));
  ASSERT_FALSE(text.empty());
  setUpFromFile(text, 19, 5, 3, "Total SCF Density");
  Outcome o = runDenstest();
  EXPECT_FALSE(o.stopped);
  EXPECT_FALSE(o.inputError);
  ASSERT_EQ(o.lines.size(), 7u);
  EXPECT_NEAR(numberAfter(o.lines[1], "DS="), 5.0, 1e-5);
  EXPECT_EQ(o.lines[3], "  ROHF case");
  // Both traces in the final record: total 8, spin nalpha - nbeta = 2.
  std::istringstream traces(o.lines[6].substr(o.lines[6].find("Traces=") + 7));
  double t1 = 0.0;
  double t2 = 0.0;
  traces >> t1 >> t2;
  EXPECT_NEAR(t1, 8.0, 1e-5);
  EXPECT_NEAR(t2, 2.0, 1e-5);
  // Carbon 1s 2sp 3sp and six Cartesian d (functions 1-15), two s per hydrogen.
  EXPECT_NEAR(gross(1, 15, 19), 6.370508796300518, 1e-5);
  EXPECT_NEAR(gross(16, 17, 19), 0.8147456018497429, 1e-5);
  EXPECT_NEAR(gross(18, 19, 19), 0.8147456018497174, 1e-5);
}

}  // namespace
