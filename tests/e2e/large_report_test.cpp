// Reports of molecules far beyond the classic run's limits, and of ghost
// atoms, read back as a user reads them.
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <filesystem>
#include <nlohmann/json.hpp>
#include <sstream>
#include <string>
#include <vector>

#include "support/testutil.h"

namespace fs = std::filesystem;
using mvtest::readFile;

namespace {

// Runs a shell command; its exit status.
int shell(const std::string& cmd) {
  const int rc = std::system(cmd.c_str());
  return WIFEXITED(rc) ? WEXITSTATUS(rc) : -1;
}

std::vector<std::string> words(const std::string& line) {
  std::istringstream in(line);
  std::vector<std::string> w;
  for (std::string t; in >> t;) w.push_back(t);
  return w;
}

TEST(LargeReport, HeptaneCopiesGiveValenceTablesWithEveryValueApart) {
  // Eight far-apart copies of heptane: 184 atoms, made for the test.
  const std::string dir = mvtest::makeTempDir("mvlarge");
  const std::string copies = dir + "/heptane8.fchk";
  if (shell("python3 " MV_EXAMPLES "/../bench/make_copies.py " MV_TEST_DATA
            "/c7h16_rhf_sto3g.fchk 8 " +
            copies + " >/dev/null 2>&1") != 0)
    GTEST_SKIP() << "python3 or bench/make_copies.py not available";
  ASSERT_EQ(shell("cd " + dir + " && " MV_PROGRAM " heptane8.fchk > report.txt 2> err.txt"), 0)
      << readFile(dir + "/err.txt");
  ASSERT_EQ(shell("cd " + dir + " && " MV_PROGRAM " --json heptane8.fchk > report.json"), 0);
  const auto j = nlohmann::json::parse(readFile(dir + "/report.json"));
  const int n = static_cast<int>(j["atoms"].size());
  ASSERT_EQ(n, 184);

  // Every valence table, read word by word: (atom, symbol, value) triples
  // for atoms 1 to n in order, each value the JSON value to its digits.
  const std::vector<std::string> lines = mvtest::lines(readFile(dir + "/report.txt"));
  const struct {
    const char* heading;
    const char* field;
  } tables[] = {{"TOTAL VALENCES", "total_valence"},
                {"VALENCES USED IN BONDS", "bonded_valence"},
                {"FREE VALENCES", "free_valence"}};
  for (const auto& t : tables) {
    SCOPED_TRACE(t.heading);
    std::size_t k = 0;
    while (k < lines.size() && lines[k].find(t.heading) == std::string::npos) ++k;
    ASSERT_LT(k, lines.size());
    int a = 1;
    for (++k; a <= n && k < lines.size(); ++k) {
      const auto w = words(lines[k]);
      if (w.empty() || w[0] == "ATOM" || w[0] == "(In") continue;
      ASSERT_EQ(w.size() % 3, 0u) << lines[k];
      for (std::size_t c = 0; c < w.size(); c += 3, ++a) {
        const auto& atom = j["atoms"][static_cast<std::size_t>(a - 1)];
        EXPECT_EQ(w[c], std::to_string(a)) << lines[k];
        EXPECT_EQ(w[c + 1], atom["symbol"].get<std::string>()) << lines[k];
        EXPECT_NEAR(std::stod(w[c + 2]), atom[t.field].get<double>(), 5.01e-6) << lines[k];
      }
    }
    EXPECT_EQ(a, n + 1);
  }
  // The drawing of the eight copies: side by side, bounded.
  ASSERT_EQ(shell("cd " + dir + " && " MV_PROGRAM " --svg pics/ heptane8.fchk >/dev/null"), 0);
  const std::string svg = readFile(dir + "/pics/heptane8.svg");
  EXPECT_NE(svg.find("fragments side by side, not to scale"), std::string::npos);
  fs::remove_all(dir);
}

TEST(LargeReport, GhostAtomsAreLabelledBqInTheReportJsonAndDrawing) {
  const std::string extra = mvtest::extraDir();
  const std::string file = extra + "/completed/water_dimer_ghost_completed.fchk";
  if (extra.empty() || !fs::exists(file)) GTEST_SKIP() << "MIRVANTE_EXTRA_FCHK not set";
  const std::string dir = mvtest::makeTempDir("mvghost");
  ASSERT_EQ(shell("cd " + dir + " && " MV_PROGRAM " --json '" + file + "' > j.json"), 0);
  ASSERT_EQ(shell("cd " + dir + " && " MV_PROGRAM " --svg g.svg '" + file + "' > r.txt"), 0);
  const auto j = nlohmann::json::parse(readFile(dir + "/j.json"));
  std::vector<int> ghosts;
  for (const auto& a : j["atoms"]) {
    const bool ghost = a.contains("ghost");
    EXPECT_EQ(ghost, a["nuclear_charge"].get<double>() == 0.0);
    if (ghost) {
      EXPECT_TRUE(a["ghost"].get<bool>());
      EXPECT_GT(a["atomic_number"].get<int>(), 0);  // the element is kept
      ghosts.push_back(a["index"].get<int>());
    }
  }
  ASSERT_EQ(ghosts.size(), 3u);
  // The report's valence table and the drawing say Bq for each ghost.
  const std::string report = readFile(dir + "/r.txt");
  const std::string svg = readFile(dir + "/g.svg");
  for (const int g : ghosts) {
    const std::string label = (g < 10 ? "  " : " ") + std::to_string(g) + " Bq ";
    EXPECT_NE(report.find(label), std::string::npos) << label;
    EXPECT_NE(svg.find(">Bq" + std::to_string(g) + "</text>"), std::string::npos) << g;
  }
  fs::remove_all(dir);
}

}  // namespace
