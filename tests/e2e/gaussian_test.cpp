// Runs on real checkpoint files written by the quantum-chemistry program
// itself, read from the directory named by MIRVANTE_EXTRA_FCHK (skipped when
// unset).  They are never part of the repository.
#include <gtest/gtest.h>

#include <cmath>
#include <filesystem>
#include <map>
#include <string>

#include "checkpoint/reader.h"
#include "checkpoint/text.h"
#include "core/limits.h"
#include "core/stop.h"
#include "integrals/basis.h"
#include "integrals/overlap.h"
#include "support/fchktext.h"
#include "support/reportparse.h"
#include "support/testutil.h"

namespace fs = std::filesystem;

namespace {

// How each file must end: "full" (complete report), "full-correlated",
// "full-rohf", a stop code, or the last record of a plain stop.
const std::map<std::string, std::string> kExpected = {
    {"2h-azirine-cc.fchk", "1000"},
    {"2h-azirine-ci.fchk", "1000"},
    {"2h-azirine-mp2.fchk", "1000"},
    {"2h-azirine-mp3.fchk", "1000"},
    {"ch3_hf_sto3g.fchk", "1000"},
    {"ch3_rohf_sto3g_g03.fchk", "1000"},
    {"h2o_sto3g.fchk", "full"},
    {"h_sto3g.fchk", "7777"},
    {"he_s_orbital.fchk", "   ONLY ONE ATOM"},
    {"he_s_virtual.fchk", "   ONLY ONE ATOM"},
    {"he_sp_orbital.fchk", "   ONLY ONE ATOM"},
    {"he_spd_orbital.fchk", "   ONLY ONE ATOM"},
    {"he_spdf_orbital.fchk", "   ONLY ONE ATOM"},
    {"he_spdfgh_orbital.fchk", "  Unknown orbital type - STOP"},
    {"he_spdfgh_virtual.fchk", "  Unknown orbital type - STOP"},
    {"hf_sto3g.fchk", "1000"},
    {"li2_g09_nbasis_indep.fchk", "full"},
    {"li_h_3-21G_hf_g09.fchk", "1000"},
    {"methanol_g16_opt.fchk", "1000"},
    {"methanol_g16_scan.fchk", "1000"},
    {"monosilicic_acid_hf_lan.fchk", "1000"},
    {"nitrogen-cc.fchk", "1000"},
    {"nitrogen-ci.fchk", "1000"},
    {"nitrogen-mp2.fchk", "1000"},
    {"nitrogen-mp3.fchk", "1000"},
    {"o2_cc_pvtz_cart.fchk", "full"},
    {"o2_cc_pvtz_pure.fchk", "full"},
    {"peroxide_irc.fchk", "full"},
    {"peroxide_opt.fchk", "full"},
    {"peroxide_relaxed_scan.fchk", "full"},
    {"peroxide_tsopt.fchk", "full"},
    {"water_atcharges.fchk", "full"},
    {"water_ccpvdz_pure_hf_g03.fchk", "full"},
    {"water_dimer_ghost.fchk", "1000"},
    {"water_hfs_321g.fchk", "1000"},
    {"water_sto3g_hf_g03.fchk", "full"},
    {"2h-azirine-cc_completed.fchk", "full-correlated"},
    {"2h-azirine-ci_completed.fchk", "full-correlated"},
    {"2h-azirine-mp2_completed.fchk", "full-correlated"},
    {"2h-azirine-mp3_completed.fchk", "full-correlated"},
    {"ch3_rohf_sto3g_g03_completed.fchk", "full-rohf"},
    {"hf_sto3g_completed.fchk", "full"},
    {"monosilicic_acid_hf_lan_completed.fchk", "full"},
    {"water_dimer_ghost_completed.fchk", "full"},
    {"water_hfs_321g_completed.fchk", "full"},
    {"ch3_hf_sto3g_completed.fchk", "7777"},
    {"li_h_3-21G_hf_g09_completed.fchk", "7777"},
    {"nitrogen-mp2_completed.fchk", "7777"},
};

std::vector<std::string> allFiles() {
  const std::string dir = mvtest::extraDir();
  auto v = mvtest::listFiles(dir, ".fchk");
  auto w = mvtest::listFiles(dir.empty() ? "" : dir + "/completed", ".fchk");
  v.insert(v.end(), w.begin(), w.end());
  return v;
}

TEST(RealCheckpointFiles, EachEndsAsExpected) {
  auto files = allFiles();
  if (files.empty()) GTEST_SKIP() << "MIRVANTE_EXTRA_FCHK not set";
  for (const auto& path : files) {
    const std::string name = fs::path(path).filename().string();
    SCOPED_TRACE(name);
    auto it = kExpected.find(name);
    ASSERT_NE(it, kExpected.end()) << "no expectation for " << name;
    const std::string text = mvtest::readFile(path);
    auto run = mvtest::runProgram(text);
    const std::string& want = it->second;
    if (want.rfind("full", 0) == 0) {
      ASSERT_EQ(run.status, 0) << run.err;
      EXPECT_EQ(run.err, "");
      auto rep = mvtest::parseReport(run.out);
      ASSERT_TRUE(rep.hasSum);
      // The trace of P*S prints exactly the electron count.
      char want_sum[32];
      std::snprintf(want_sum, sizeof want_sum, " SUM= %14.7f",
                    double(mvtest::fchkScalar(text, "Number of electrons")));
      EXPECT_NE(run.out.find(std::string(want_sum) + "\n"), std::string::npos) << want_sum;
      ASSERT_EQ(rep.freeValence.size(), static_cast<std::size_t>(rep.natoms));
      EXPECT_EQ(run.out.find("NaN"), std::string::npos);
      EXPECT_EQ(run.out.find("Inf"), std::string::npos);
      EXPECT_EQ(run.out.find("***"), std::string::npos);
      if (want == "full-correlated") {
        EXPECT_GT(rep.unpaired, 1e-3);
        double largest = 0.0;
        for (double v : rep.freeValence) largest = std::max(largest, std::fabs(v));
        EXPECT_GT(largest, 1e-4);
        EXPECT_NE(run.out.find(" Using the  2-d/th density in the checkpoint file"),
                  std::string::npos);
      } else if (want == "full-rohf") {
        EXPECT_NE(run.out.find(" WRONG DENSITY  (Trace of DS="), std::string::npos);
        EXPECT_NE(run.out.find("Now correct density and spin density  (Traces="),
                  std::string::npos);
        EXPECT_NEAR(rep.unpaired, 1.0, 1e-5);
      } else {
        EXPECT_NEAR(rep.unpaired, 0.0, 1e-5);
      }
    } else if (std::isdigit(static_cast<unsigned char>(want[0]))) {
      EXPECT_EQ(run.err, "STOP " + want + " statement executed\n");
      EXPECT_EQ(run.status, 1);
    } else {
      EXPECT_EQ(run.err, "");
      EXPECT_EQ(run.status, 1);
      auto ls = mvtest::lines(run.out);
      ASSERT_FALSE(ls.empty());
      EXPECT_EQ(ls.back(), want);
    }
  }
}

// The stored alpha orbitals are orthonormal in the rebuilt overlap matrix:
// C^T S C = 1 over the orbitals the file holds.  This catches a wrong order
// or normalisation of pure and Cartesian functions that the trace misses.
TEST(RealCheckpointFiles, StoredOrbitalsAreOrthonormal) {
  auto files = allFiles();
  if (files.empty()) GTEST_SKIP() << "MIRVANTE_EXTRA_FCHK not set";
  int checked = 0;
  for (const auto& path : files) {
    const std::string name = fs::path(path).filename().string();
    if (kExpected.at(name).rfind("full", 0) != 0) continue;
    SCOPED_TRACE(name);
    const std::string text = mvtest::readFile(path);
    // The stages up to S in the checkpoint's order, as the run forms them.
    const mv::Limits limits = mv::Limits::classicRun();
    mv::Checkpoint ck;
    mv::Matrix s;
    try {
      ck = mv::readCheckpoint(mv::CheckpointText::fromString(text, "Test.FChk"), limits);
      const mv::Basis basis = mv::expandBasis(ck.shells, ck.natoms, ck.nbf, limits);
      s = mv::toFileOrder(mv::overlapMatrix(basis, ck.coords), basis.map);
    } catch (const mv::Stop& st) {
      FAIL() << "stopped with code '" << st.code << "': " << st.message();
    }
    const int n = ck.nbf;
    const int count = mvtest::fchkScalar(text, "Alpha MO coefficients");
    const int norb = count / n;
    ASSERT_GT(norb, 0);
    const mv::Matrix& c = ck.mo;
    double worst = 0.0;
    std::vector<double> sc(n);
    for (int q = 1; q <= norb; ++q) {
      for (int i = 1; i <= n; ++i) {
        double t = 0.0;
        for (int k = 1; k <= n; ++k) t += s(i, k) * c(k, q);
        sc[i - 1] = t;
      }
      for (int p = 1; p <= norb; ++p) {
        double t = 0.0;
        for (int i = 1; i <= n; ++i) t += c(i, p) * sc[i - 1];
        worst = std::max(worst, std::fabs(t - (p == q ? 1.0 : 0.0)));
      }
    }
    EXPECT_LT(worst, 1e-6);
    ++checked;
  }
  EXPECT_GT(checked, 0);
}

}  // namespace
