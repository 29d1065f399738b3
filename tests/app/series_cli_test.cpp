// --series as users run it: the shared scans against their references, a
// frame with other atoms or one that fails left out and named, the usage
// errors of --bonds and --plot, and the same output for any thread count.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <nlohmann/json.hpp>
#include <sstream>
#include <string>
#include <vector>

#include "support/testutil.h"

namespace fs = std::filesystem;
using Json = nlohmann::json;
using mvtest::dataPath;
using mvtest::runArgs;

namespace {

// The shared series: MIRVANTE_SERIES, or the folder "series" beside
// MIRVANTE_EXTRA_FCHK; "" when neither names one.
std::string seriesDir() {
  if (const char* e = std::getenv("MIRVANTE_SERIES"); e != nullptr && fs::is_directory(e)) return e;
  const std::string extra = mvtest::extraDir();
  if (extra.empty()) return "";
  const fs::path beside = fs::path(extra).parent_path() / "series";
  return fs::is_directory(beside) ? beside.string() : "";
}

std::size_t count(const std::string& text, const std::string& what) {
  std::size_t n = 0;
  for (auto at = text.find(what); at != std::string::npos; at = text.find(what, at + 1)) ++n;
  return n;
}

TEST(Series, SharedPathsAgreeWithTheirReferences) {
  const std::string dir = seriesDir();
  if (dir.empty()) GTEST_SKIP() << "MIRVANTE_SERIES (or MIRVANTE_EXTRA_FCHK) not set";
  const std::vector<std::string> refs = mvtest::listFiles(dir, ".ref.json");
  ASSERT_FALSE(refs.empty());
  for (const std::string& refPath : refs) {
    const Json ref = Json::parse(mvtest::readFile(refPath));
    std::vector<std::string> args = ref.at("options").get<std::vector<std::string>>();
    for (const auto& f : ref.at("files")) args.push_back(f.get<std::string>());
    args.insert(args.begin(), {"-j", "2"});
    const mvtest::RunResult r = runArgs(args, dir);
    ASSERT_EQ(r.status, 0) << refPath << "\n" << r.err;
    EXPECT_EQ(r.err, "");
    ASSERT_EQ(count(r.out, "\n"), 1u) << r.out;
    const Json got = Json::parse(r.out).at("series");
    const Json& want = ref.at("series");
    ASSERT_EQ(got.size(), 5u);
    ASSERT_EQ(got.at("files").size(), want.at("files").size());
    for (std::size_t k = 0; k < got.at("files").size(); ++k) {
      EXPECT_EQ(fs::path(got["files"][k].get<std::string>()).filename(),
                fs::path(want["files"][k].get<std::string>()).filename());
      ASSERT_EQ(got["energies"][k].is_null(), want["energies"][k].is_null());
      if (!want["energies"][k].is_null()) {
        EXPECT_NEAR(got["energies"][k].get<double>(), want["energies"][k].get<double>(), 1e-5);
      }
    }
    ASSERT_EQ(got.at("bonds"), want.at("bonds")) << refPath;
    for (std::size_t b = 0; b < want.at("bonds").size(); ++b) {
      ASSERT_EQ(got["bond_orders"][b].size(), want["bond_orders"][b].size());
      for (std::size_t k = 0; k < want["bond_orders"][b].size(); ++k)
        EXPECT_NEAR(got["bond_orders"][b][k].get<double>(), want["bond_orders"][b][k].get<double>(),
                    1e-5)
            << refPath << " bond " << b << " frame " << k + 1;
    }
    ASSERT_EQ(got.at("events").size(), want.at("events").size()) << refPath;
    for (std::size_t e = 0; e < want.at("events").size(); ++e) {
      const Json &g = got["events"][e], &w = want["events"][e];
      EXPECT_EQ(g.at("frame"), w.at("frame"));
      EXPECT_EQ(g.at("atoms"), w.at("atoms"));
      EXPECT_EQ(g.at("kind"), w.at("kind"));
      EXPECT_NEAR(g.at("from").get<double>(), w.at("from").get<double>(), 1e-5);
      EXPECT_NEAR(g.at("to").get<double>(), w.at("to").get<double>(), 1e-5);
    }

    // The text: one row per frame, an event line per event, and with two
    // files the differences, second minus first.
    args.erase(std::find(args.begin(), args.end(), "--json"));
    const mvtest::RunResult t = runArgs(args, dir);
    ASSERT_EQ(t.status, 0) << t.err;
    EXPECT_EQ(t.out.find("\n BOND ORDERS ALONG THE SERIES\n"), 0u) << t.out;
    EXPECT_NE(t.out.find("\n BONDS FORMED AND BROKEN\n"), std::string::npos);
    for (const auto& w : want.at("events")) {
      char line[128];
      std::snprintf(line, sizeof line, " frame %d: %d-%d %s (%.3f -> %.3f)\n",
                    w["frame"].get<int>(), w["atoms"][0].get<int>(), w["atoms"][1].get<int>(),
                    w["kind"].get<std::string>().c_str(), w["from"].get<double>(),
                    w["to"].get<double>());
      EXPECT_NE(t.out.find(line), std::string::npos) << line << t.out;
    }
    const auto diff = t.out.find("difference (2 - 1)");
    EXPECT_EQ(diff != std::string::npos, ref.contains("differences")) << t.out;
    if (ref.contains("differences")) {
      std::istringstream row(t.out.substr(diff + 18, t.out.find('\n', diff) - diff - 18));
      double energy = 0.0, d = 0.0;
      row >> energy;
      for (const auto& w : ref.at("differences")) {
        ASSERT_TRUE(row >> d) << t.out;
        EXPECT_NEAR(d, w.get<double>(), 1e-6);
      }
    }
  }
}

// The stored example (examples/series) is what the program makes of the
// shared scan, byte for byte.
TEST(Series, TheStoredExampleIsWhatTheScanGives) {
  const std::string dir = seriesDir();
  if (dir.empty()) GTEST_SKIP() << "MIRVANTE_SERIES (or MIRVANTE_EXTRA_FCHK) not set";
  const std::string plot = mvtest::makeTempDir("mvseries") + "/h2_diss.svg";
  std::vector<std::string> args{"--series", "--plot", plot};
  for (const std::string& f : mvtest::listFiles(dir + "/h2_diss", ".fchk"))
    args.push_back("h2_diss/" + fs::path(f).filename().string());
  ASSERT_EQ(args.size(), 17u);
  const mvtest::RunResult r = runArgs(args, dir);
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out, mvtest::readFile(mvtest::examplePath("series/h2_diss.txt")));
  EXPECT_EQ(mvtest::readFile(plot), mvtest::readFile(mvtest::examplePath("series/h2_diss.svg")));
  fs::remove_all(fs::path(plot).parent_path());
}

TEST(Series, AFrameWithOtherAtomsOrThatFailsIsNamedAndLeftOut) {
  const std::string cwd = mvtest::makeTempDir("mvseries");
  const std::string w1 = dataPath("h2o_rhf_sto3g.fchk"), w2 = dataPath("h2o_b3lyp_ccpvdz.fchk"),
                    other = dataPath("ch2o_rhf_ccpvdz.fchk");
  const mvtest::RunResult r =
      runArgs({"--series", "--json", "-j", "2", w1, other, "missing.fchk", w2}, cwd);
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.err, "mirvante: " + other +
                       ": not a frame of the series, skipped: it has 4 atoms, the " +
                       "first frame (" + w1 + ") 3\n" +
                       "mirvante: missing.fchk: cannot open: No such file or directory\n")
      << r.err;
  const Json s = Json::parse(r.out).at("series");
  EXPECT_EQ(s.at("files"), Json({w1, w2}));
  // Water's two O-H bonds (and nothing between the hydrogen atoms).
  EXPECT_EQ(s.at("bonds"), Json({{1, 2}, {1, 3}}));
  EXPECT_EQ(s.at("bond_orders")[0].size(), 2u);

  // The first frame that can be analysed fixes the atoms.
  const mvtest::RunResult first = runArgs({"--series", "missing.fchk", other, w1}, cwd);
  EXPECT_EQ(first.status, 1);
  EXPECT_NE(first.err.find(w1 + ": not a frame of the series, skipped: it has 3 atoms"),
            std::string::npos)
      << first.err;
  // Nothing analysed: the tables say so, and the status is 1.
  const mvtest::RunResult none = runArgs({"--series", "--json", "missing.fchk"}, cwd);
  EXPECT_EQ(none.status, 1);
  EXPECT_NE(none.err.find("mirvante: no frame of the series could be analysed\n"),
            std::string::npos);
  EXPECT_EQ(Json::parse(none.out).at("series").at("files"), Json::array());
  fs::remove_all(cwd);
}

TEST(Series, BondsAndPlotAsAskedTheSameForAnyThreadCount) {
  const std::string cwd = mvtest::makeTempDir("mvseries");
  const std::string w1 = dataPath("h2o_rhf_sto3g.fchk"), w2 = dataPath("h2o_mp2_ccpvdz.fchk"),
                    w3 = dataPath("h2o_rhf_631gs_cart.fchk");
  const mvtest::RunResult one = runArgs(
      {"--series", "--json", "-j", "1", "--bonds", "2-3, 1-2", "--plot", "w.svg", w1, w2, w3}, cwd);
  ASSERT_EQ(one.status, 0) << one.err;
  const Json s = Json::parse(one.out).at("series");
  EXPECT_EQ(s.at("bonds"), Json({{2, 3}, {1, 2}}));
  EXPECT_LT(s["bond_orders"][0][0].get<double>(), 0.1);  // H-H: followed although small
  const std::string svg = mvtest::readFile(cwd + "/w.svg");
  EXPECT_EQ(svg.rfind("<?xml", 0), 0u);
  EXPECT_EQ(count(svg, "class=\"bond-line\""), 2u);
  EXPECT_EQ(count(svg, "class=\"bond-point\""), 6u);
  EXPECT_NE(svg.find(">H2-H3</text>"), std::string::npos);
  for (const char* jobs : {"2", "3"}) {
    const mvtest::RunResult other = runArgs(
        {"--series", "--json", "-j", jobs, "--bonds", "2-3,1-2", "--plot", "x.svg", w1, w2, w3},
        cwd);
    EXPECT_EQ(other.out, one.out) << jobs;
    EXPECT_EQ(mvtest::readFile(cwd + "/x.svg"), svg) << jobs;
  }
  fs::remove_all(cwd);
}

TEST(Series, UsageErrorsOfTheSeriesOptions) {
  const std::string cwd = mvtest::makeTempDir("mvseries");
  const std::string h2 = dataPath("h2_rhf_sto3g.fchk");
  const struct {
    std::vector<std::string> args;
    std::string err;
  } cases[] = {
      {{"--bonds", "1-2", h2}, "mirvante: --bonds needs --series\n"},
      {{"--series", "-o", "out", h2},
       "mirvante: --series cannot be combined with -o (the series writes one table, or one JSON "
       "object, and --plot)\n"},
      {{"--series", "--bonds", "1-1", h2},
       "mirvante: --bonds '1-1': '1-1' names the same atom twice\n"},
      {{"--series", "--bonds", "1-2,x-3", h2},
       "mirvante: --bonds '1-2,x-3': 'x-3' is not a pair of atoms such as 1-2 (atoms counted "
       "from 1)\n"},
      {{"--series", "--bonds", "1-2,", h2},
       "mirvante: --bonds '1-2,': '' is not a pair of atoms such as 1-2 (atoms counted from 1)\n"},
      {{"--series", "--bonds", "1-2,2-1", h2},
       "mirvante: --bonds '1-2,2-1': '2-1' is given twice\n"},
      {{"--series", "--plot", "p.png", h2},
       "mirvante: --plot 'p.png': the plot is SVG; give a name ending in .svg\n"},
      // Known only once the first frame is read: the molecule is too small.
      {{"--series", "--bonds", "1-2,2-3", h2, h2},
       "mirvante: " + h2 + ": --bonds 2-3: the molecule has 2 atoms\n"},
  };
  for (const auto& c : cases) {
    const mvtest::RunResult r = runArgs(c.args, cwd);
    EXPECT_EQ(r.status, 2) << c.args[1];
    EXPECT_EQ(r.out, "") << c.args[1];
    EXPECT_EQ(r.err, c.err) << c.args[1];
  }
  // A plot named like an input would replace it.
  mvtest::writeFile(cwd + "/in.svg", mvtest::readFile(h2));
  const mvtest::RunResult r = runArgs({"--series", "--plot", "in.svg", "in.svg"}, cwd);
  EXPECT_EQ(r.status, 2);
  EXPECT_EQ(r.err, "mirvante: the plot in.svg would overwrite the input in.svg\n");
  EXPECT_EQ(mvtest::readFile(cwd + "/in.svg"), mvtest::readFile(h2));
  fs::remove_all(cwd);
}

}  // namespace
