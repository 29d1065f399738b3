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

// A correlated density of an open shell: the methyl radical's file made into
// a UMP2 one, its densities copied under "Total MP2 Density" and (as the
// case may be) "Spin MP2 Density".  The spin populations come from the
// correlated density's own spin density; without it, or with one that
// cannot be read, the file is analysed without them, and the bond orders
// (the square-root term of the total density) do not depend on it.
struct CorrelatedCase {
  const char* name;
  const char* spinSection;  // "" for none
  bool damaged;             // a value of the spin density is no number
};

void PrintTo(const CorrelatedCase& c, std::ostream* os) {
  *os << c.name;
}

// The section under the label line that begins with `label`, label line
// included, up to the next label line.
std::string section(const std::string& text, const std::string& label) {
  const std::size_t b = text.find("\n" + label) + 1;
  std::size_t e = b;
  do e = text.find('\n', e) + 1;
  while (e < text.size() && text[e] == ' ');
  return text.substr(b, e - b);
}

std::string relabelled(std::string sec, const std::string& from, const std::string& to) {
  return sec.replace(0, from.size(), to);
}

class CorrelatedOpenShell : public ::testing::TestWithParam<CorrelatedCase> {};

struct Analysed {
  mv::RunResults r;
  std::string report;
};

Analysed analyseText(const std::string& text) {
  Analysed a;
  std::ostringstream out;
  mv::TextReport report(out);
  mv::RunOptions o;
  o.limits = mv::Limits::commandLine();
  o.lowdin = true;
  mv::analyse(mv::CheckpointText::fromString(text, "ump2.fchk"), o, a.r, &report);
  a.report = out.str();
  return a;
}

TEST_P(CorrelatedOpenShell, SpinPopulationsComeFromItsOwnSpinDensity) {
  const CorrelatedCase c = GetParam();
  std::string text = readFile(dataPath("ch3_uhf_631gs.fchk"));
  const std::size_t method = text.find("UHF   ");
  ASSERT_NE(method, std::string::npos);
  text.replace(method, 6, "UMP2  ");
  text += relabelled(section(text, "Total SCF Density"), "Total SCF", "Total MP2");
  const Analysed plain = analyseText(text);
  if (*c.spinSection != '\0') {
    std::string spin = relabelled(section(text, "Spin SCF Density"), "Spin SCF", c.spinSection);
    if (c.damaged) spin.replace(spin.find("E-03"), 4, "E-0x");
    text += spin;
  }
  const Analysed a = analyseText(text);
  const mv::RunResults& r = a.r;
  ASSERT_TRUE(r.complete);
  EXPECT_EQ(r.ck.densityName(), "Total MP2 Density");
  EXPECT_FALSE(r.spinDensityUsed());
  const json ref = json::parse(readFile(dataPath("ch3_uhf_631gs.lowdin.json")));
  const bool present = std::string(c.spinSection) == "Spin MP2" && !c.damaged;
  ASSERT_EQ(r.spin.has_value(), present);
  if (present) {
    for (int a = 1; a <= r.partition.natoms; ++a)
      EXPECT_NEAR(r.spin->atom(a), at(ref["spin_populations"], a), 1e-6);
    EXPECT_NEAR(r.spin->total, 1.0, 1e-6);
    EXPECT_NE(a.report.find(" Spin populations of the file's spin density ('Spin MP2 Density');"),
              std::string::npos);
    // The indices of the alpha and beta densities, which are the UHF ones.
    EXPECT_NEAR(r.lowdin->wiberg(1, 2), at(ref["wiberg_lowdin"], 1, 2), 1e-6);
  } else {
    EXPECT_NE(a.report.find(" No spin populations: the file holds no spin density for the "
                            "'Total MP2 Density'."),
              std::string::npos);
    // Without the spin density's (positive) term, 5.7e-4 here.
    EXPECT_LT(r.lowdin->wiberg(1, 2), at(ref["wiberg_lowdin"], 1, 2) - 1e-4);
  }
  // The square-root term of the MP2 density, whatever the spin density.
  for (int i = 1; i <= r.partition.natoms; ++i)
    for (int k = 1; k <= r.partition.natoms; ++k) {
      EXPECT_EQ(r.bonds.bonds(i, k), plain.r.bonds.bonds(i, k));
    }
}

INSTANTIATE_TEST_SUITE_P(Variants, CorrelatedOpenShell,
                         ::testing::Values(CorrelatedCase{"with_spin", "Spin MP2", false},
                                           CorrelatedCase{"without_spin", "", false},
                                           CorrelatedCase{"damaged_spin", "Spin MP2", true},
                                           CorrelatedCase{"spin_of_another", "Spin CC ", false}),
                         [](const ::testing::TestParamInfo<CorrelatedCase>& i) {
                           return std::string(i.param.name);
                         });

// A restricted open shell without a density (the file holds its orbitals
// alone): the density and the spin density come from the occupied orbitals,
// and give the numbers of the file with its densities.
TEST(OpenShellWithoutDensity, SpinPopulationsFromTheOccupiedOrbitals) {
  std::string text = readFile(dataPath("ch2_rohf_631gs.fchk"));
  for (const char* label : {"Total SCF Density", "Spin SCF Density"}) {
    const std::string sec = section(text, label);
    text.erase(text.find(sec), sec.size());
  }
  const Analysed a = analyseText(text);
  ASSERT_TRUE(a.r.complete);
  EXPECT_EQ(a.r.spinSource, mv::SpinSource::Orbitals);
  ASSERT_TRUE(a.r.spin.has_value());
  const json ref = json::parse(readFile(dataPath("ch2_rohf_631gs.lowdin.json")));
  for (int k = 1; k <= a.r.partition.natoms; ++k) {
    EXPECT_NEAR(a.r.spin->atom(k), at(ref["spin_populations"], k), 1e-6);
    EXPECT_NEAR(a.r.lowdin->population(k), at(ref["lowdin_populations"], k), 1e-6);
  }
  EXPECT_NEAR(a.r.spin->total, 2.0, 1e-6);
}

}  // namespace
