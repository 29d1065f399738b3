// Groups of atoms: the requests as text, the fragments they give, the sums
// over fragments, and the multicentre indices against a direct sum over
// every combination of basis functions.
#include <gtest/gtest.h>

#include <cmath>
#include <random>
#include <stdexcept>
#include <string>
#include <vector>

#include "analysis/fragments.h"
#include "analysis/multicenter.h"
#include "support/matrices.h"

using namespace mv;

namespace {

using Groups = std::vector<std::vector<int>>;

// The message of the std::invalid_argument that f throws ("" for none).
template <typename F>
std::string refusal(F f) {
  try {
    f();
  } catch (const std::invalid_argument& e) {
    return e.what();
  }
  return "";
}

TEST(FragmentRequest, BadTextIsRefusedNamingIt) {
  const struct {
    const char* text;
    const char* message;
  } cases[] = {
      {"1-3;3-5", "atom 3 is listed twice"},
      {"1-5;7,2", "atom 2 is listed twice"},
      {"4,4", "atom 4 is listed twice"},
      {"1-9;2-3", "atom 2 is listed twice"},
      {"0", "atom 0 does not exist"},
      {"2-0", "atom 0 does not exist"},
      {"3-1", "range '3-1' ends below its start"},
      {"1;;2", "group 2 is empty"},
      {"1;", "group 2 is empty"},
      {"", "group 1 is empty"},
      {"x", "'x' is not an atom number"},
      {"1-", "'1-' is not an atom number"},
      {"1-2-3", "'1-2-3' is not an atom number"},
      {"-1", "'-1' is not an atom number"},
      {"1,,2", "'' is not an atom number"},
      {"1.5", "'1.5' is not an atom number"},
      {"1234567890", "'1234567890' is not an atom number"},
      {"Auto", "'Auto' is not an atom number"},
  };
  for (const auto& c : cases)
    EXPECT_EQ(refusal([&] { parseFragments(c.text); }).find(c.message), 0u)
        << c.text << ": " << refusal([&] { parseFragments(c.text); });
}

TEST(Rings, ParsedInTheirOrderOrRefusedNamingTheBadText) {
  EXPECT_EQ(parseRings("3,2,1; 4 ,5"), (Groups{{3, 2, 1}, {4, 5}}));
  const struct {
    const char* text;
    const char* message;
  } cases[] = {
      {"1", "ring 1 ('1') has fewer than two atoms"},
      {"1,2;", "ring 2 ('') has fewer than two atoms"},
      {"1,2,1", "atom 1 is repeated in ring 1 ('1,2,1')"},
      {"1,2;3,x", "'x' in ring 2 ('3,x') is not an atom number"},
      {"1-3", "'1-3' in ring 1 ('1-3') is not an atom number"},
      {"0,1", "atom 0 does not exist: atoms are numbered from 1"},
  };
  for (const auto& c : cases) EXPECT_EQ(refusal([&] { parseRings(c.text); }), c.message) << c.text;
}

TEST(FragmentRequest, AtomsBeyondTheMoleculeAreNamed) {
  EXPECT_EQ(refusal([] { requireAtomsInRange(parseFragments("1-3;4-9"), 6); }),
            "atom 7 (of range 4-9) is out of range: the molecule has 6 atoms");
  EXPECT_EQ(refusal([] { requireAtomsInRange(parseFragments("1;8"), 6); }),
            "atom 8 is out of range: the molecule has 6 atoms");
  EXPECT_EQ(refusal([] { requireAtomsInRange(parseFragments("1-6"), 6); }), "");
  EXPECT_EQ(refusal([] { requireAtomsInRange(parseRings("1,2;2,7"), 6); }),
            "atom 7 is out of range: the molecule has 6 atoms");
  EXPECT_EQ(refusal([] { requireAtomsInRange(parseFragments("auto"), 1); }), "");
}

TEST(Fragments, GroupsAsGivenThenTheAtomsNotListed) {
  const Matrix none(7, 7);
  EXPECT_EQ(resolveFragments(parseFragments(" 5 ,1-2 ; 7"), 7, none, 0.1),
            (Groups{{1, 2, 5}, {7}, {3, 4, 6}}));
  EXPECT_EQ(resolveFragments(parseFragments("4-7;1-3"), 7, none, 0.1),
            (Groups{{4, 5, 6, 7}, {1, 2, 3}}));
}

TEST(Fragments, AutoTakesTheBondedPiecesByTheirLowestAtom) {
  Matrix b(7, 7);
  auto bond = [&](int x, int y, double order) { b(x, y) = b(y, x) = order; };
  bond(4, 6, 0.9);
  bond(1, 6, 0.5);
  bond(2, 7, 0.2);
  bond(3, 5, 0.05);
  bond(6, 7, 0.0999);
  const FragmentRequest automatic = parseFragments("auto");
  EXPECT_EQ(resolveFragments(automatic, 7, b, 0.1), (Groups{{1, 4, 6}, {2, 7}, {3}, {5}}));
  EXPECT_EQ(resolveFragments(automatic, 7, b, 0.05), (Groups{{1, 2, 4, 6, 7}, {3, 5}}));
  EXPECT_EQ(resolveFragments(automatic, 7, b, 2.0), (Groups{{1}, {2}, {3}, {4}, {5}, {6}, {7}}));
}

TEST(Fragments, AtomsAsRanges) {
  EXPECT_EQ(atomRangesText({1, 2, 3, 7}), "1-3,7");
  EXPECT_EQ(atomRangesText({4, 5}), "4,5");
  EXPECT_EQ(atomRangesText({1, 3, 4, 5, 6, 9, 10, 12}), "1,3-6,9,10,12");
  EXPECT_EQ(atomRangesText({}), "");
}

// An overlap matrix (random unit vectors' Gram matrix, well conditioned) and
// a symmetric density of a basis of `functions` per atom.
struct Model {
  Matrix s, p, ps;
  Vec1<int> first, last;
  int n = 0;
};

Model randomModel(const std::vector<int>& functions, unsigned seed) {
  std::mt19937 gen(seed);
  std::uniform_real_distribution<double> u(-1.0, 1.0);
  Model m;
  const int nat = static_cast<int>(functions.size());
  m.first = Vec1<int>(nat);
  m.last = Vec1<int>(nat);
  for (int a = 1; a <= nat; ++a) {
    m.first(a) = m.n + 1;
    m.n += functions[static_cast<std::size_t>(a - 1)];
    m.last(a) = m.n;
  }
  const int n = m.n;
  m.s = Matrix(n, n);
  m.p = Matrix(n, n);
  m.ps = Matrix(n, n);
  for (int i = 1; i <= n; ++i) {
    m.s(i, i) = 1.0;
    for (int j = 1; j < i; ++j) {
      m.s(i, j) = m.s(j, i) = 0.3 * u(gen);
      m.p(i, j) = m.p(j, i) = u(gen);
      m.ps(i, j) = m.ps(j, i) = 0.5 * u(gen);
    }
    m.p(i, i) = 1.0 + u(gen);
    m.ps(i, i) = 0.5 * u(gen);
  }
  return m;
}

// C_M over the ring by the definition: the sum over every choice of one
// function of each atom of M(mu1,mu2) M(mu2,mu3) ... M(mun,mu1).
double cyclicSum(const Matrix& w, const Model& m, const std::vector<int>& ring, std::size_t k,
                 int start, int mu, double product) {
  if (k == ring.size()) return product * w(mu, start);
  double sum = 0.0;
  const int a = ring[k];
  for (int nu = m.first(a); nu <= m.last(a); ++nu)
    sum += cyclicSum(w, m, ring, k + 1, start, nu, product * w(mu, nu));
  return sum;
}

double cyclicSum(const Matrix& w, const Model& m, const std::vector<int>& ring) {
  double sum = 0.0;
  for (int mu = m.first(ring[0]); mu <= m.last(ring[0]); ++mu)
    sum += cyclicSum(w, m, ring, 1, mu, mu, 1.0);
  return sum;
}

double indexOf(const Model& m, const Matrix* spin, const std::vector<int>& ring,
               MulticenterFormula f) {
  return multicenterIndices(m.p, spin, m.s, m.first, m.last, {ring}, f).rings.at(0).index;
}

TEST(Multicenter, BlockChainIsTheSumOverEveryCombinationOfFunctions) {
  const Model m = randomModel({2, 3, 1, 4, 2}, 11);
  const Matrix w = mvtest::product(m.p, m.s);
  // Pa S and Pb S with Pa,b = (P +- Ps) / 2.
  Matrix pa(m.n, m.n), pb(m.n, m.n);
  for (int j = 1; j <= m.n; ++j)
    for (int i = 1; i <= m.n; ++i) {
      pa(i, j) = 0.5 * (m.p(i, j) + m.ps(i, j));
      pb(i, j) = 0.5 * (m.p(i, j) - m.ps(i, j));
    }
  const Matrix wa = mvtest::product(pa, m.s), wb = mvtest::product(pb, m.s);
  for (const std::vector<int>& ring :
       Groups{{1, 2}, {1, 3, 2}, {4, 1, 2, 3}, {5, 4, 3, 2, 1}, {2, 5, 3, 1, 4}}) {
    const double closed = cyclicSum(w, m, ring);
    const double scale = std::ldexp(1.0, static_cast<int>(ring.size()) - 1);
    const double open = scale * (cyclicSum(wa, m, ring) + cyclicSum(wb, m, ring));
    const double tol = 1e-11 * std::max(1.0, std::fabs(closed));
    EXPECT_NEAR(indexOf(m, nullptr, ring, MulticenterFormula::ClosedShell), closed, tol);
    EXPECT_NEAR(indexOf(m, nullptr, ring, MulticenterFormula::TotalDensity), closed, tol);
    EXPECT_NEAR(indexOf(m, &m.ps, ring, MulticenterFormula::SpinResolved), open,
                1e-11 * std::max(1.0, std::fabs(open)));
  }
}

TEST(Multicenter, NormalizedIndexKeepsTheSign) {
  const struct {
    double index;
    int n;
    double normalized;
  } cases[] = {
      {8.0 / 27.0, 3, 2.0 / 3.0}, {-8.0, 3, -2.0}, {0.0, 4, 0.0}, {16.0, 4, 2.0}, {-0.25, 2, -0.5}};
  for (const auto& c : cases)
    EXPECT_NEAR(normalizedIndex(c.index, c.n), c.normalized, 1e-15) << c.index;
}

}  // namespace
