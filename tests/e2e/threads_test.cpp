// Two analyses at the same time in one process: each run owns all its
// state, so two different checkpoint files analysed in two threads give,
// byte for byte, the reports of analysing each alone, in process and by the
// built program.
#include <gtest/gtest.h>

#include <filesystem>
#include <sstream>
#include <string>
#include <thread>

#include "app/pipeline.h"
#include "checkpoint/text.h"
#include "core/stop.h"
#include "report/text_report.h"
#include "support/outcome.h"
#include "support/testutil.h"

namespace {

// The banner and the whole analysis of `text`, through the library, done
// `rounds` times; the report, or the first line in which a round differs.
std::string analyseInThread(const std::string& text, int rounds) {
  std::string last;
  for (int k = 0; k < rounds; ++k) {
    std::ostringstream out;
    mv::TextReport report(out);
    mv::RunResults results;
    report.banner();
    try {
      mv::analyse(mv::CheckpointText::fromString(text, "Test.FChk"), mv::RunOptions(), results,
                  &report);
    } catch (const mv::Stop& s) {
      report.stop(s);
    }
    if (k > 0 && out.str() != last) {
      auto a = mvtest::lines(out.str()), b = mvtest::lines(last);
      for (std::size_t i = 0; i < a.size() && i < b.size(); ++i)
        if (a[i] != b[i]) return "round " + std::to_string(k) + " differs: " + a[i] + " | " + b[i];
      return "round differs in length";
    }
    last = out.str();
  }
  return last;
}

TEST(ConcurrentRuns, TwoFilesInTwoThreadsGiveTheReportsOfSeparateRuns) {
  // A correlated density, whose second bond-order term is a square root,
  // and a restricted open-shell one whose density is rebuilt from the orbitals.
  const std::string a = mvtest::readFile(mvtest::dataPath("h2o_mp2_ccpvdz.fchk"));
  const std::string b = mvtest::readFile(mvtest::dataPath("ch2_rohf_631gs_baddens.fchk"));
  ASSERT_FALSE(a.empty());
  ASSERT_FALSE(b.empty());

  const std::string aloneA = analyseInThread(a, 1);
  const std::string aloneB = analyseInThread(b, 1);
  ASSERT_NE(aloneA, aloneB);
  ASSERT_NE(aloneA.find("FREE VALENCES"), std::string::npos);
  ASSERT_NE(aloneB.find("Now correct density and spin density"), std::string::npos);

  std::string gotA, gotB;
  std::thread ta([&] { gotA = analyseInThread(a, 4); });
  std::thread tb([&] { gotB = analyseInThread(b, 4); });
  ta.join();
  tb.join();
  EXPECT_EQ(gotA, aloneA);
  EXPECT_EQ(gotB, aloneB);

  // The library's report is the no-argument run's standard output.
  for (const auto& [text, report] : {std::pair{a, aloneA}, std::pair{b, aloneB}}) {
    const mvtest::RunResult run = mvtest::runProgram(text);
    EXPECT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(run.err, "");
    EXPECT_EQ(run.out, report);
    std::filesystem::remove_all(run.dir);
  }
}

TEST(ConcurrentRuns, ResultsOfOneRunDoNotDependOnAnother) {
  // The values of a run, not only its report: the same for a run alone and
  // for the same run while another one goes on.
  const std::string a = mvtest::readFile(mvtest::dataPath("h2o_rhf_sto3g.fchk"));
  const std::string b = mvtest::readFile(mvtest::dataPath("n2_rhf_ccpvtz.fchk"));
  const mvtest::LibraryRun alone = mvtest::analyseText(a);
  ASSERT_TRUE(alone.results.complete) << alone.outcome.out;
  mvtest::LibraryRun withOther;
  std::thread other([&] { mvtest::analyseText(b); });
  withOther = mvtest::analyseText(a);
  other.join();
  ASSERT_TRUE(withOther.results.complete);
  const int n = alone.results.partition.natoms;
  for (int i = 1; i <= n; ++i) {
    EXPECT_EQ(withOther.results.populations.qat(i), alone.results.populations.qat(i));
    for (int j = 1; j <= n; ++j)
      EXPECT_EQ(withOther.results.bonds.bonds(i, j), alone.results.bonds.bonds(i, j));
  }
  EXPECT_EQ(withOther.outcome.out, alone.outcome.out);
}

}  // namespace
