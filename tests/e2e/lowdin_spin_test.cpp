// Spin populations, Löwdin populations and Wiberg-Löwdin indices against
// numbers derived with psi4 for the same wave functions (NAME.lowdin.json,
// made by tests/data/make_lowdin_refs.py: psi4 recomputed each wave function
// in the file's geometry and basis; the numbers come from psi4's matrices
// with every function of unit self-overlap, as in the files, and psi4's own
// oeprop output is kept beside them).
#include <gtest/gtest.h>

#include <cmath>
#include <nlohmann/json.hpp>
#include <sstream>
#include <string>

#include "app/pipeline.h"
#include "checkpoint/text.h"
#include "support/testutil.h"

namespace {

using mvtest::dataPath;
using mvtest::readFile;
using nlohmann::json;

struct Case {
  const char* file;       // the analysed file
  const char* reference;  // the wave function its reference numbers belong to
};

void PrintTo(const Case& c, std::ostream* os) {
  *os << c.file;
}

mv::RunResults analyseWithLowdin(const std::string& path) {
  mv::RunResults r;
  std::ostringstream out;
  mv::TextReport report(out);
  mv::RunOptions o;
  o.limits = mv::Limits::commandLine();
  o.lowdin = true;
  mv::analyse(mv::CheckpointText::fromFile(path, path), o, r, &report);
  return r;
}

double at(const json& v, int i) {
  return v[static_cast<std::size_t>(i - 1)].get<double>();
}
double at(const json& m, int i, int k) {
  return m[static_cast<std::size_t>(i - 1)][static_cast<std::size_t>(k - 1)].get<double>();
}

class LowdinSpinReference : public ::testing::TestWithParam<Case> {};

TEST_P(LowdinSpinReference, AgreesWithPsi4WithinOneMillionth) {
  const Case c = GetParam();
  const json ref = json::parse(readFile(dataPath(std::string(c.reference) + ".lowdin.json")));
  const mv::RunResults r = analyseWithLowdin(dataPath(std::string(c.file) + ".fchk"));
  ASSERT_TRUE(r.complete);
  ASSERT_TRUE(r.lowdin.has_value());
  const int nat = r.partition.natoms;
  ASSERT_EQ(static_cast<std::size_t>(nat), ref["lowdin_populations"].size());
  constexpr double kTol = 1e-6;

  // Spin populations: none for a closed shell; otherwise psi4's, adding up
  // to nalpha - nbeta.
  if (ref["spin_populations"].is_null()) {
    EXPECT_FALSE(r.spin.has_value());
  } else {
    ASSERT_TRUE(r.spin.has_value());
    double sum = 0.0;
    for (int a = 1; a <= nat; ++a) {
      EXPECT_NEAR(r.spin->atom(a), at(ref["spin_populations"], a), kTol) << "atom " << a;
      sum += r.spin->atom(a);
    }
    const int unpaired = ref["nalpha"].get<int>() - ref["nbeta"].get<int>();
    EXPECT_NEAR(sum, unpaired, kTol);
    EXPECT_NEAR(r.spin->total, unpaired, kTol);
  }

  // Löwdin populations, the electron count, the Wiberg-Löwdin indices.
  double electrons = 0.0;
  for (int a = 1; a <= nat; ++a) {
    EXPECT_NEAR(r.lowdin->population(a), at(ref["lowdin_populations"], a), kTol) << "atom " << a;
    electrons += r.lowdin->population(a);
  }
  EXPECT_NEAR(electrons, r.populations.total, kTol);
  EXPECT_NEAR(r.lowdin->total, r.populations.total, kTol);
  const bool pure = ref["puream"].get<bool>();
  for (int a = 1; a <= nat; ++a)
    for (int b = 1; b <= nat; ++b) {
      EXPECT_NEAR(r.lowdin->wiberg(a, b), at(ref["wiberg_lowdin"], a, b), kTol)
          << "atoms " << a << ", " << b;
      // With pure functions psi4's own normalisation is the file's: its
      // printed indices and charges must come out as they are.
      if (pure) {
        EXPECT_NEAR(r.lowdin->wiberg(a, b), at(ref["psi4"]["WIBERG_LOWDIN_INDICES"], a, b), kTol);
      }
    }
  for (int a = 1; a <= nat && pure; ++a) {
    EXPECT_NEAR(r.ck.nuclearCharge(a) - r.lowdin->population(a),
                at(ref["psi4"]["LOWDIN_CHARGES"], a), kTol);
  }

  // The bond orders of SCF densities are psi4's Mayer indices: the new
  // stages leave them alone (for the MP2 density the bond order adds the
  // square-root term, which psi4 does not have).
  const bool scf = ref["method"] != "mp2";
  for (int a = 1; a <= nat && scf; ++a)
    for (int b = 1; b <= nat; ++b) {
      EXPECT_NEAR(r.bonds.bonds(a, b), at(ref["mayer"], a, b), kTol);
    }
}

INSTANTIATE_TEST_SUITE_P(
    Files, LowdinSpinReference,
    ::testing::Values(Case{"h2o_rhf_sto3g", "h2o_rhf_sto3g"},
                      Case{"ch2o_rhf_ccpvdz", "ch2o_rhf_ccpvdz"},
                      Case{"h2o_mp2_ccpvdz", "h2o_mp2_ccpvdz"},
                      Case{"ch3_uhf_631gs", "ch3_uhf_631gs"}, Case{"o2_uhf_631gs", "o2_uhf_631gs"},
                      Case{"c3h5_ub3lyp_ccpvdz", "c3h5_ub3lyp_ccpvdz"},
                      Case{"ch2_rohf_631gs", "ch2_rohf_631gs"},
                      // The density rebuilt from the orbitals: the same wave function.
                      Case{"ch2_rohf_631gs_baddens", "ch2_rohf_631gs"}),
    [](const ::testing::TestParamInfo<Case>& i) { return std::string(i.param.file); });

}  // namespace
