// The damaged files of tests/data/damaged/ (made from the fixtures by
// make_damaged.py), one folder for each kind of damage: cut Molden files,
// occupations out of range, no electrons, orbitals that are not
// orthonormal, densities whose trace is off by less than the classic 0.1,
// Molden sections that cannot be read as they stand, text that is not
// ASCII.  Each must be refused by the command line with its diagnostic,
// the line it names, and a JSON object that is not "ok".
#include <gtest/gtest.h>

#include <filesystem>
#include <nlohmann/json.hpp>
#include <set>
#include <string>

#include "support/testutil.h"

namespace {

namespace fs = std::filesystem;
using nlohmann::json;

struct Expected {
  const char* file;     // under tests/data/damaged/
  int line;             // the line the diagnostic names (0: none)
  const char* message;  // a part of the diagnostic
};

const Expected kExpected[] = {
    {"cut/h2o_cut_in_second_orbital.molden", 54,
     "orbital 2 has 3 of its 7 coefficients: the [MO] section is cut short"},
    {"cut/ch3_uhf_cut_after_first_beta.molden", 0,
     "8 Alpha and 1 Beta orbitals: a spin-unrestricted file gives as many of each"},
    {"cut/h2o_natural_cut_after_six_orbitals.molden", 36,
     "The occupations add up to 9.95, which is not a whole number of electrons"},
    {"occupations/h2o_occupation_2.05.molden", 37, "Occupation 2.05 is outside 0..2 (stop 8200)"},
    {"occupations/h2o_occupations_2.09_minus_0.09.molden", 81,
     "Occupation 2.09 is outside 0..2 (stop 8200)"},
    {"occupations/ch3_alpha_occupation_1.04.molden", 68,
     "Occupation 1.04 is outside 0..1 (a spin-unrestricted orbital holds at most one electron)"},
    {"occupations/h2o_natural_sum_10.0008.molden", 36,
     "The occupations add up to 10.0008, which is not a whole number of electrons"},
    {"electrons/h2o_no_electrons.molden", 36,
     "The file has 0 electrons: there is no density to analyse (stop 8200)"},
    {"electrons/h2_no_electrons.fchk", 6,
     "The file has 0 electrons: there is no density to analyse (stop 8200)"},
    {"orbitals/h2o_orbitals_scaled_1.0045.fchk", 51,
     "The orbitals are not orthonormal: the largest deviation of C^T S C from the unit matrix "
     "is 9.020E-03, more than 1.000E-04 (stop 8200)"},
    {"orbitals/h2o_orbitals_atom_moved_0.2.fchk", 51, "The orbitals are not orthonormal"},
    {"trace/h2o_mp2_scaled_1.009.fchk", 0, "the density describes neither 10 electrons"},
    {"trace/h2o_mp2_sign_of_function_2.fchk", 0, "the density describes neither 10 electrons"},
    {"trace/h2o_mp2_functions_2_4_swapped.fchk", 0, "the density describes neither 10 electrons"},
    {"trace/h2o_scf_scaled_as_ci_density.fchk", 0, "the density describes neither 10 electrons"},
    {"molden/h2o_second_mo_section.molden", 114, "a second [MO] section: the file must hold one"},
    {"molden/h2o_atoms_in_pm.molden", 2,
     "unknown unit 'pm' of the [Atoms] section: AU, Bohr or Angs"},
    {"molden/h2o_scale_factor_1e200.molden", 8, "Scale factor 1E+200 is out of range"},
    {"molden/h2o_coefficient_off_by_4e-5.molden", 36,
     "The density of the orbitals holds 10.00016012 electrons, not 10 (stop 8200)"},
    {"input/h2o_utf16.fchk", 0, "text in UTF-16, not in ASCII or UTF-8"},
};

TEST(DamagedFiles, EveryOneIsRefusedWithItsDiagnostic) {
  const fs::path root = mvtest::dataPath("damaged");
  // Every damaged file has its row: none is left untested.
  std::set<std::string> listed, present;
  for (const Expected& e : kExpected) listed.insert(e.file);
  for (const auto& entry : fs::recursive_directory_iterator(root))
    if (entry.is_regular_file() && entry.path().extension() != ".py")
      present.insert(entry.path().lexically_relative(root).string());
  EXPECT_EQ(present, listed);

  const std::string dir = mvtest::makeTempDir("mvdamaged");
  for (const Expected& e : kExpected) {
    SCOPED_TRACE(e.file);
    const std::string path = (root / e.file).string();
    const std::string prefix =
        "mirvante: " + path + ":" + (e.line > 0 ? std::to_string(e.line) + ":" : "");
    for (const bool asJson : {false, true}) {
      std::vector<std::string> args{path};
      if (asJson) args.insert(args.begin(), "--json");
      const mvtest::RunResult r = mvtest::runArgs(args, dir);
      EXPECT_EQ(r.status, 1);
      EXPECT_EQ(r.err.rfind(prefix, 0), 0u) << r.err;
      EXPECT_NE(r.err.find(e.message), std::string::npos) << r.err;
      if (asJson) {
        const json j = json::parse(r.out);
        EXPECT_NE(j["status"], "ok");
        EXPECT_FALSE(j.contains("atoms")) << r.out;
      }
    }
  }
}

}  // namespace

namespace {

// Control bytes of a Molden title (an escape sequence that would act on the
// terminal) reach neither the report nor the JSON title as they are.
TEST(DamagedFiles, ControlBytesOfAMoldenTitleAreWrittenAsHex) {
  std::string text = mvtest::readFile(mvtest::dataPath("molden/h2o_sto3g.molden"));
  text.insert(text.find('\n') + 1, "[Title]\n water \x1b[2J\x07 cleared\n");
  const std::string dir = mvtest::makeTempDir("mvtitle");
  mvtest::writeFile(dir + "/t.molden", text);
  const mvtest::RunResult report = mvtest::runArgs({"t.molden"}, dir);
  EXPECT_EQ(report.status, 0) << report.err;
  EXPECT_EQ(report.out.find('\x1b'), std::string::npos);
  EXPECT_NE(report.out.find("\\x1b[2J\\x07"), std::string::npos) << report.out;
  const mvtest::RunResult j = mvtest::runArgs({"--json", "t.molden"}, dir);
  EXPECT_EQ(json::parse(j.out)["title"], "water \\x1b[2J\\x07 cleared");
  fs::remove_all(dir);
}

}  // namespace
