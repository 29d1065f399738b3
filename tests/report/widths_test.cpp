// The command line's report widens its columns to its numbers: every value
// stays apart from the next at any atom count, and the classic layout is
// kept wherever it fits.
#include <gtest/gtest.h>

#include <sstream>
#include <string>
#include <vector>

#include "checkpoint/checkpoint.h"
#include "report/text_report.h"
#include "support/testutil.h"

namespace {

// The values of an n-atom analysis: small bond orders with one large and one
// negative, valences with the extremes given.
mv::BondOrders values(int n, double big, double negative) {
  mv::BondOrders b;
  b.bonds = mv::Matrix(n, n);
  b.total = mv::Vec1<double>(n);
  b.used = mv::Vec1<double>(n);
  b.free = mv::Vec1<double>(n);
  for (int j = 1; j <= n; ++j)
    for (int i = 1; i <= n; ++i) b.bonds(i, j) = i == j ? 0.0 : 0.001 * ((i * 7 + j * 3) % 900);
  for (int a = 1; a <= n; ++a) {
    b.total(a) = 3.96786 + 0.001 * a;
    b.used(a) = 0.99700;
    b.free(a) = -1.4e-8;
  }
  b.total(n) = big;
  b.free(1) = negative;
  if (n > 2) b.bonds(1, 2) = b.bonds(2, 1) = big;
  return b;
}

// Element labels: carbon, hydrogen, chlorine and a ghost oxygen in turn.
mv::Checkpoint atoms(int n) {
  mv::Checkpoint ck;
  ck.atomicNumber = mv::Vec1<int>(n);
  ck.nuclearCharge = mv::Vec1<double>(n);
  const int z[4] = {6, 1, 17, 8};
  for (int a = 1; a <= n; ++a) {
    ck.atomicNumber(a) = z[(a - 1) % 4];
    ck.nuclearCharge(a) = a % 4 == 0 ? 0.0 : z[(a - 1) % 4];
  }
  return ck;
}

std::string tables(mv::ReportStyle style, int n, double big, double negative, bool matrix) {
  std::ostringstream out;
  mv::TextReport r(out, style);
  const mv::Checkpoint ck = atoms(n);
  r.molecule(ck);
  mv::Populations p;
  p.qat = mv::Vec1<double>(n);
  for (int a = 1; a <= n; ++a) p.qat(a) = a == n ? big : 6.0 + 0.01 * a;
  r.populations(p);
  const mv::BondOrders b = values(n, big, negative);
  if (matrix) r.bondMatrix(b, ck.atomicNumber);
  r.totalValences(b, ck.atomicNumber);
  r.usedValences(b, ck.atomicNumber);
  r.freeValences(b, ck.atomicNumber);
  return out.str();
}

std::vector<std::string> words(const std::string& line) {
  std::istringstream in(line);
  std::vector<std::string> w;
  for (std::string t; in >> t;) w.push_back(t);
  return w;
}

bool isNumber(const std::string& t) {
  std::size_t used = 0;
  try {
    (void)std::stod(t, &used);
  } catch (const std::exception&) {
    return false;
  }
  return used == t.size();
}

// Reads the report back word by word: the populations as (atom, value), the
// matrix rows as (atom, label, one value per column), the three valence
// tables as (atom, label, value) triples, atoms in order; any two values
// run together make a word that is not a number, or shift the count.
void expectSeparated(const std::string& report, int n, bool matrix) {
  const std::vector<std::string> lines = mvtest::lines(report);
  std::size_t k = 0;
  auto skipTo = [&](const std::string& text) {
    while (k < lines.size() && lines[k].find(text) == std::string::npos) ++k;
    ASSERT_LT(k, lines.size()) << text;
    ++k;
  };
  skipTo("------");
  for (int a = 1; a <= n; ++a, ++k) {
    const auto w = words(lines[k]);
    ASSERT_EQ(w.size(), 2u) << lines[k];
    EXPECT_EQ(w[0], std::to_string(a));
    EXPECT_TRUE(isNumber(w[1])) << lines[k];
  }
  const std::string labels[4] = {"C", "H", "Cl", "Bq"};
  if (matrix) {
    for (int j1 = 1; j1 <= n; j1 += 8) {
      const int cols = std::min(8, n - j1 + 1);
      skipTo(j1 == 1 ? "BOND ORDER MATRIX" : "");
      while (words(lines[k]).empty()) ++k;
      const auto head = words(lines[k++]);
      ASSERT_EQ(head.size(), 2u * cols) << lines[k - 1];
      for (int c = 0; c < cols; ++c) EXPECT_EQ(head[2 * c], std::to_string(j1 + c));
      while (words(lines[k]).empty()) ++k;
      for (int i = 1; i <= n; ++i, ++k) {
        const auto w = words(lines[k]);
        ASSERT_EQ(w.size(), 2u + cols) << lines[k];
        EXPECT_EQ(w[0], std::to_string(i));
        EXPECT_EQ(w[1], labels[(i - 1) % 4]);
        for (int c = 0; c < cols; ++c) EXPECT_TRUE(isNumber(w[2 + c])) << lines[k];
      }
    }
  }
  for (const char* table : {"TOTAL VALENCES", "VALENCES USED IN BONDS", "FREE VALENCES"}) {
    SCOPED_TRACE(table);
    skipTo(table);
    int a = 1;
    for (; a <= n && k < lines.size(); ++k) {
      const auto w = words(lines[k]);
      if (w.empty() || w[0] == "ATOM" || w[0] == "(In") continue;
      ASSERT_EQ(w.size() % 3, 0u) << lines[k];
      for (std::size_t c = 0; c < w.size(); c += 3, ++a) {
        EXPECT_EQ(w[c], std::to_string(a)) << lines[k];
        EXPECT_EQ(w[c + 1], labels[(a - 1) % 4]) << lines[k];
        EXPECT_TRUE(isNumber(w[c + 2])) << lines[k];
      }
    }
    EXPECT_EQ(a, n + 1);
  }
}

TEST(ReportWidths, EveryValueStandsApartAtAnyAtomCount) {
  const struct {
    int n;
    double big, negative;
    bool matrix;
  } cases[] = {
      {3, 1.9, -0.2, true},      {99, 3.9, -0.5, true},         {100, 3.9, -0.5, true},
      {184, 12.25, -10.5, true}, {1000, 123.45678, -0.5, true}, {10000, 99999.5, -1234.5, false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.n);
    expectSeparated(tables(mv::ReportStyle::Fit, c.n, c.big, c.negative, c.matrix), c.n, c.matrix);
  }
}

TEST(ReportWidths, TheClassicLayoutStaysWhereverItFits) {
  // Below 100 atoms, with values that fit: the same text as the classic
  // style, but for the ghost atoms' labels.
  for (const int n : {2, 5, 9, 20, 99}) {
    std::string fit = tables(mv::ReportStyle::Fit, n, 2.5, -0.5, true);
    const std::string classic = tables(mv::ReportStyle::Classic, n, 2.5, -0.5, true);
    for (std::size_t at; (at = fit.find(" Bq ")) != std::string::npos;) fit.replace(at, 4, "  O ");
    EXPECT_EQ(fit, classic) << n;
  }
  // Wider only where needed: at 100 atoms the populations and the matrix
  // keep the classic layout; the valence tables give their atom numbers
  // one more column.
  auto ghostsAsOxygen = [](std::string t) {
    for (std::size_t at; (at = t.find(" Bq ")) != std::string::npos;) t.replace(at, 4, "  O ");
    return t;
  };
  const std::string fit = ghostsAsOxygen(tables(mv::ReportStyle::Fit, 100, 2.5, -0.5, true));
  const std::string classic = tables(mv::ReportStyle::Classic, 100, 2.5, -0.5, true);
  const std::size_t cut = classic.find("TOTAL VALENCES");
  ASSERT_NE(cut, std::string::npos);
  EXPECT_EQ(fit.substr(0, cut), classic.substr(0, cut));
  EXPECT_NE(fit.find("\n   1  C  3.96886   2  H   3.96986"), std::string::npos);
  EXPECT_NE(classic.find("\n  1  C  3.96886  2  H   3.96986"), std::string::npos);
}

}  // namespace
