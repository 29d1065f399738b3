// Fragments and multicentre indices in whole runs: the reference cases of
// tests/data/groups (numbers computed independently with numpy), the sum
// rules on every kind of density, and what the options leave unchanged.
#include <gtest/gtest.h>

#include <cmath>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "support/testutil.h"

namespace {

using mvtest::dataPath;
using mvtest::readFile;
using mvtest::runArgs;
using nlohmann::json;

// Every number of `want` within 1e-5 in `got`, the same shape and the same
// nulls and integers.
void expectClose(const json& got, const json& want, const std::string& where) {
  if (want.is_object()) {
    for (const auto& [key, value] : want.items()) {
      ASSERT_TRUE(got.contains(key)) << where << "." << key;
      expectClose(got[key], value, where + "." + key);
    }
  } else if (want.is_array()) {
    ASSERT_TRUE(got.is_array()) << where;
    ASSERT_EQ(got.size(), want.size()) << where;
    for (std::size_t k = 0; k < want.size(); ++k)
      expectClose(got[k], want[k], where + "[" + std::to_string(k) + "]");
  } else if (want.is_number_float()) {
    ASSERT_TRUE(got.is_number()) << where;
    EXPECT_NEAR(got.get<double>(), want.get<double>(), 1e-5) << where;
  } else {
    EXPECT_EQ(got, want) << where;
  }
}

json runJson(const std::vector<std::string>& args, const std::string& dir) {
  const mvtest::RunResult r = runArgs(args, dir);
  EXPECT_EQ(r.status, 0) << r.err;
  return json::parse(r.out);
}

TEST(Groups, ReferenceCasesAgreeWithinOneHundredThousandth) {
  const std::string dir = dataPath("groups");
  const std::vector<std::string> refs = mvtest::listFiles(dir, ".ref.json");
  ASSERT_EQ(refs.size(), 6u);
  for (const std::string& path : refs) {
    SCOPED_TRACE(path);
    const json ref = json::parse(readFile(path));
    std::vector<std::string> args = ref["options"].get<std::vector<std::string>>();
    args.push_back(ref["file"].get<std::string>());
    const json got = runJson(args, dir);
    int compared = 0;
    for (const char* key :
         {"fragments", "fragment_bond_orders", "fragment_wiberg_lowdin", "multicenter"})
      if (ref.contains(key)) {
        expectClose(got[key], ref[key], key);
        ++compared;
      }
    EXPECT_GT(compared, 0);
    // Two atoms of an SCF density: their bond order itself.
    if (got.contains("multicenter"))
      for (const json& ring : got["multicenter"])
        if (ring["atoms"].size() == 2) {
          const std::size_t a = ring["atoms"][0].get<std::size_t>() - 1;
          const std::size_t b = ring["atoms"][1].get<std::size_t>() - 1;
          EXPECT_NEAR(ring["index"].get<double>(), got["bond_orders"][a][b].get<double>(), 1e-13);
        }
  }
}

double sum(const json& list, const char* key) {
  double s = 0.0;
  for (const json& x : list) s += x[key].get<double>();
  return s;
}

double upperTriangle(const json& m) {
  double s = 0.0;
  for (std::size_t i = 0; i < m.size(); ++i)
    for (std::size_t k = i; k < m.size(); ++k) s += m[i][k].get<double>();
  return s;
}

// Fragment quantities add up to the molecule's on closed shells, open shells
// (restricted and unrestricted) and correlated densities; the spin parts
// appear for the determinants with unpaired electrons and add up to the
// bond orders; the two-atom ring is the bond order of an SCF density.
TEST(Groups, FragmentSumsAddUpOnEveryKindOfDensity) {
  const struct {
    const char* file;
    const char* fragments;
    bool spinParts;
    const char* formula;
  } cases[] = {
      {"h2o_rhf_631gs_cart", "2", false, "closed-shell"},
      {"ch2_rohf_631gs", "1;3", true, "spin-resolved"},
      {"ch3_uhf_631gs", "2-3", true, "spin-resolved"},
      {"ethanol_cation_uhf_631gs", "1-2;3", true, "spin-resolved"},
      {"h2o_mp2_ccpvdz", "1", false, "total density"},
      {"c2h4_mp2_ccpvtz", "1,3;2,4", false, "total density"},
  };
  const std::string dir = mvtest::makeTempDir("mvgroups");
  for (const auto& c : cases) {
    SCOPED_TRACE(c.file);
    const json j = runJson({"--json", "--lowdin", "--min-bond", "0.5", "--fragments", c.fragments,
                            "--multicenter", "1,2;2,1,3", dataPath(std::string(c.file) + ".fchk")},
                           dir);
    const json& frags = j["fragments"];
    ASSERT_GE(frags.size(), 2u);
    const json& atoms = j["atoms"];
    std::vector<int> seen(atoms.size(), 0);
    for (const json& f : frags)
      for (const json& a : f["atoms"]) ++seen.at(a.get<std::size_t>() - 1);
    EXPECT_EQ(seen, std::vector<int>(atoms.size(), 1));
    EXPECT_NEAR(sum(frags, "charge"), j["charge"].get<double>(), 1e-6);
    EXPECT_NEAR(sum(frags, "valence"), sum(atoms, "total_valence"), 1e-10);
    double pairs = 0.0, wiberg = 0.0;
    for (std::size_t a = 0; a < atoms.size(); ++a)
      for (std::size_t b = a + 1; b < atoms.size(); ++b) {
        pairs += j["bond_orders"][a][b].get<double>();
        wiberg += j["wiberg_lowdin"][a][b].get<double>();
      }
    EXPECT_NEAR(upperTriangle(j["fragment_bond_orders"]), pairs, 1e-10);
    EXPECT_NEAR(upperTriangle(j["fragment_wiberg_lowdin"]), wiberg, 1e-10);
    const bool spinPopulations = !atoms[0]["spin_population"].is_null();
    EXPECT_EQ(frags[0]["spin"].is_null(), !spinPopulations);
    if (spinPopulations) {
      EXPECT_NEAR(sum(frags, "spin"), sum(atoms, "spin_population"), 1e-10);
    }
    ASSERT_EQ(j["fragment_bond_orders_alpha"].is_null(), !c.spinParts);
    ASSERT_EQ(j["fragment_bond_orders_beta"].is_null(), !c.spinParts);
    for (std::size_t f = 0; c.spinParts && f < frags.size(); ++f)
      for (std::size_t g = 0; g < frags.size(); ++g)
        EXPECT_NEAR(j["fragment_bond_orders_alpha"][f][g].get<double>() +
                        j["fragment_bond_orders_beta"][f][g].get<double>(),
                    j["fragment_bond_orders"][f][g].get<double>(), 1e-8);
    const json& rings = j["multicenter"];
    ASSERT_EQ(rings.size(), 2u);
    EXPECT_EQ(rings[0]["formula"], c.formula);
    const double bond = j["bond_orders"][0][1].get<double>();
    if (std::string(c.formula) != "total density") {
      EXPECT_NEAR(rings[0]["index"].get<double>(), bond, 1e-8);
    }
    const double i3 = rings[1]["index"].get<double>();
    EXPECT_NEAR(rings[1]["normalized"].get<double>(), std::copysign(std::cbrt(std::fabs(i3)), i3),
                1e-12);
  }
}

// Without the options nothing changes; with them, the report gains its
// sections after the bond list and nothing else.
TEST(Groups, TheOptionsOnlyAddSections) {
  const std::string dir = dataPath("groups");
  const std::string file = "allyl_uhf_631gs.fchk";
  const mvtest::RunResult plain = runArgs({file}, dir);
  const mvtest::RunResult groups =
      runArgs({"--fragments", "1-3", "--multicenter", "1,2,3", file}, dir);
  ASSERT_EQ(plain.status, 0);
  ASSERT_EQ(groups.status, 0);
  ASSERT_EQ(groups.out.substr(0, plain.out.size()), plain.out);
  const std::string added = groups.out.substr(plain.out.size());
  const std::vector<std::string> titles = {"FRAGMENTS", "BOND ORDERS BETWEEN FRAGMENTS",
                                           "ALPHA PARTS OF THE BOND ORDERS BETWEEN FRAGMENTS",
                                           "BETA PARTS OF THE BOND ORDERS BETWEEN FRAGMENTS",
                                           "MULTICENTER BOND INDICES"};
  std::size_t at = 0;
  for (const std::string& t : titles) {
    at = added.find("          " + t + "\n", at);
    ASSERT_NE(at, std::string::npos) << t;
  }
  EXPECT_NE(added.find("   1  -0.004054   -0.159446   C1 C2 C3"), std::string::npos) << added;

  const std::string json = runArgs({"--json", file}, dir).out;
  EXPECT_EQ(json.find("fragment"), std::string::npos);
  EXPECT_EQ(json.find("multicenter"), std::string::npos);
}

TEST(Groups, TheDrawingOutlinesTheAtomsByFragment) {
  const std::string dir = mvtest::makeTempDir("mvgroupsvg");
  const std::string file = dataPath("groups/nh3bh3_rhf_ccpvdz.fchk");
  ASSERT_EQ(runArgs({"--svg", "plain.svg", file}, dir).status, 0);
  ASSERT_EQ(runArgs({"--svg", "groups.svg", "--fragments", "5-8", file}, dir).status, 0);
  const std::string plain = readFile(dir + "/plain.svg");
  const std::string groups = readFile(dir + "/groups.svg");
  EXPECT_EQ(plain.find("data-fragment"), std::string::npos);
  EXPECT_EQ(plain.find("legend-fragments"), std::string::npos);
  EXPECT_NE(groups.find(">outline: fragment 1, 2</text>"), std::string::npos);
  // BH3 given first: fragment 1; NH3, the rest, fragment 2.
  for (int a = 1; a <= 8; ++a) {
    // id="atom-A" data-charge="..." data-fragment="F"
    const std::string id = "id=\"atom-" + std::to_string(a) + "\" data-charge=\"";
    const std::size_t at = groups.find(id);
    ASSERT_NE(at, std::string::npos) << id;
    const std::size_t charge = groups.find('"', at + id.size());
    ASSERT_NE(charge, std::string::npos);
    const std::string want = std::string(" data-fragment=\"") + (a >= 5 ? "1" : "2") + "\"";
    EXPECT_EQ(groups.compare(charge + 1, want.size(), want), 0) << id;
  }
  EXPECT_NE(groups.find("stroke=\"#1F77B4\""), std::string::npos);
  EXPECT_NE(groups.find("stroke=\"#D62728\""), std::string::npos);
}

}  // namespace
