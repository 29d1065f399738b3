// The command-line mode, run as users run it: the built program with files
// as arguments, from a working directory of its own.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <nlohmann/json.hpp>
#include <set>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "support/reportparse.h"
#include "support/testutil.h"

namespace fs = std::filesystem;
using mvtest::dataPath;
using mvtest::readFile;
using mvtest::writeFile;
using CliRun = mvtest::RunResult;
using mvtest::listing;
using mvtest::runArgs;
using mvtest::shellQuote;

namespace {

const std::vector<std::string> kFixtures = {
    "h2_rhf_sto3g",     "h2o_rhf_sto3g",      "h2o_rhf_sto3g_colorder",
    "h2o_rhf_631gs_sp", "h2o_rhf_631gs_cart", "h2o_b3lyp_ccpvdz",
    "h2o_mp2_ccpvdz",   "ch2_rohf_631gs",     "ch2_rohf_631gs_baddens",
    "ch2o_rhf_ccpvdz",  "n2_rhf_ccpvtz",      "c10h8_rhf_ccpvtz_cart"};

// The classic report without the records of X (its asymmetry and trace),
// which the command line leaves out when it does not form X.
std::string withoutRecordsOfX(const std::string& report) {
  const std::string block = "  \n  \n  Hermiticity control=";
  const std::size_t from = report.find(block);
  if (from == std::string::npos) return report;
  const std::size_t trace = report.find("  Trace=", from);
  return report.substr(0, from) + report.substr(report.find('\n', trace) + 1);
}

// The report of the command line is the classic run's report (less the
// records of X where it does not form X), then the sections of the command
// line: the table of atoms and the bond list.
TEST(CommandLine, OneFileGivesTheClassicReportAndWritesNothing) {
  const std::string cwd = mvtest::makeTempDir("mvcli");
  const auto before = listing(dataPath(""));
  for (const std::string& name : kFixtures) {
    const std::string file = dataPath(name + ".fchk");
    const mvtest::RunResult classic = mvtest::runProgram(readFile(file));
    ASSERT_EQ(classic.status, 0) << name;
    const CliRun r = runArgs({file}, cwd);
    EXPECT_EQ(r.status, 0) << name;
    EXPECT_EQ(r.err, "") << name;
    // X is formed for the square root of an open-shell or correlated
    // density only.
    const bool xFormed =
        name.find("rohf") != std::string::npos || name.find("mp2") != std::string::npos;
    const std::string classicPart = xFormed ? classic.out : withoutRecordsOfX(classic.out);
    EXPECT_EQ(r.out.substr(0, classicPart.size()), classicPart) << name;
    EXPECT_EQ(r.out.find("Hermiticity control") != std::string::npos, xFormed) << name;
    const std::string added = r.out.substr(std::min(r.out.size(), classicPart.size()));
    const std::size_t table = added.find("           ATOMIC CHARGES");
    const std::size_t bonds = added.find("           BONDS WITH ORDER >= 0.1\n");
    EXPECT_EQ(added.rfind("  \n  \n", 0), 0U) << name;
    EXPECT_NE(table, std::string::npos) << name;
    EXPECT_NE(bonds, std::string::npos) << name;
    EXPECT_LT(table, bonds) << name;
    fs::remove_all(classic.dir);
  }
  EXPECT_TRUE(listing(cwd).empty()) << "files written in the working directory";
  EXPECT_EQ(listing(dataPath("")), before) << "files written beside the inputs";
  fs::remove_all(cwd);
}

TEST(CommandLine, SeveralFilesAreHeadedAsHeadDoesAndStandardInputReads) {
  const std::string cwd = mvtest::makeTempDir("mvcli");
  const std::string a = dataPath("h2_rhf_sto3g.fchk"), b = dataPath("h2o_rhf_sto3g.fchk");
  const CliRun ra = runArgs({a}, cwd), rb = runArgs({b}, cwd);
  const CliRun both = runArgs({a, "-"}, cwd, b);
  EXPECT_EQ(both.status, 0);
  EXPECT_EQ(both.out, "==> " + a + " <==\n" + ra.out + "\n==> standard input <==\n" + rb.out);
  fs::remove_all(cwd);
}

// The values of the JSON object agree with the text report to its digits.
void expectSameAsReport(const nlohmann::json& j, const std::string& report) {
  const mvtest::ParsedReport p = mvtest::parseReport(report);
  ASSERT_EQ(static_cast<int>(j["atoms"].size()), p.natoms);
  for (int a = 0; a < p.natoms; ++a) {
    const auto& at = j["atoms"][static_cast<std::size_t>(a)];
    EXPECT_NEAR(at["population"].get<double>(), p.populations[static_cast<std::size_t>(a)],
                5.01e-11);
    EXPECT_NEAR(at["total_valence"].get<double>(), p.totalValence[static_cast<std::size_t>(a)],
                5.01e-6);
    EXPECT_NEAR(at["bonded_valence"].get<double>(), p.usedValence[static_cast<std::size_t>(a)],
                5.01e-6);
    EXPECT_NEAR(at["free_valence"].get<double>(), p.freeValence[static_cast<std::size_t>(a)],
                5.01e-6);
    for (int c = 0; c < p.natoms; ++c)
      EXPECT_NEAR(
          j["bond_orders"][static_cast<std::size_t>(a)][static_cast<std::size_t>(c)].get<double>(),
          p.bonds[static_cast<std::size_t>(a * p.natoms + c)], 5.01e-5);
  }
  EXPECT_NEAR(j["unpaired_electrons"].get<double>(), p.unpaired, 5.01e-7);
}

TEST(CommandLine, JsonLinesForGoodMissingAndTruncatedFiles) {
  const std::string cwd = mvtest::makeTempDir("mvcli");
  const std::string good1 = dataPath("h2o_rhf_sto3g.fchk"), good2 = dataPath("ch2_rohf_631gs.fchk");
  const std::string text = readFile(good1);
  const std::string cut = cwd + "/cut.fchk";
  writeFile(cut, text.substr(0, text.find("Total SCF Density") + 200));
  const std::string missing = cwd + "/missing.fchk";
  const CliRun r = runArgs({"--json", good1, missing, cut, good2}, cwd);
  EXPECT_EQ(r.status, 1);
  const auto lines = mvtest::lines(r.out);
  ASSERT_EQ(lines.size(), 4u);
  const std::vector<std::string> files = {good1, missing, cut, good2};
  const std::vector<std::string> statuses = {"ok", "error", "error", "ok"};
  for (std::size_t k = 0; k < 4; ++k) {
    const auto j = nlohmann::json::parse(lines[k]);
    EXPECT_EQ(j["file"], files[k]);
    EXPECT_EQ(j["status"], statuses[k]) << lines[k];
    if (statuses[k] == "ok") {
      EXPECT_FALSE(j.contains("error"));
      expectSameAsReport(j, runArgs({files[k]}, cwd).out);
    } else {
      EXPECT_TRUE(j["error"]["code"].is_null());
      EXPECT_FALSE(j["error"]["message"].get<std::string>().empty());
    }
  }
  EXPECT_EQ(
      r.err,
      "mirvante: " + missing + ": cannot open: No such file or directory\n" + "mirvante: " + cut +
          ":" +
          std::to_string(mvtest::lines(text.substr(0, text.find("Total SCF Density"))).size() + 1) +
          ": section 'Total SCF Density': end of file after 9 of 28 values\n");
  const auto ch2 = nlohmann::json::parse(lines[3]);
  EXPECT_EQ(ch2["spin"], "restricted open-shell");
  EXPECT_EQ(ch2["density"], "Total SCF Density");
  EXPECT_EQ(ch2["density_check"], "accepted");
  EXPECT_EQ(ch2["bonds"].size(), 2u);  // the two C-H bonds; H-H is below 0.1
  const double charge =
      ch2["atoms"][0]["nuclear_charge"].get<double>() - ch2["atoms"][0]["population"].get<double>();
  EXPECT_EQ(ch2["atoms"][0]["charge"].get<double>(), charge);
  fs::remove_all(cwd);
}

TEST(CommandLine, OutputIsTheSameBytesForAnyNumberOfThreads) {
  const std::string cwd = mvtest::makeTempDir("mvcli");
  std::vector<std::string> files;
  for (const std::string& name : kFixtures) files.push_back(dataPath(name + ".fchk"));
  for (const char* mode : {"--min-bond=0.1", "--json"}) {
    std::vector<std::string> a1 = {mode, "-j", "1"}, a2 = {mode, "-j", "2"}, a3 = {mode, "-j", "3"};
    a1.insert(a1.end(), files.begin(), files.end());
    a2.insert(a2.end(), files.begin(), files.end());
    a3.insert(a3.end(), files.begin(), files.end());
    const CliRun r1 = runArgs(a1, cwd), r2 = runArgs(a2, cwd), r3 = runArgs(a3, cwd);
    EXPECT_EQ(r1.status, 0);
    EXPECT_EQ(r1.out, r2.out) << mode;
    EXPECT_EQ(r1.out, r3.out) << mode;
  }
  fs::remove_all(cwd);
}

// The density triangle of `text` with its value k (from 1) cut in two by a
// blank, as a one-character slip in the file would: every later value
// moves one place, and the last one drops out of the section.
std::string densityShifted(const std::string& text, std::size_t k) {
  std::vector<std::string> ls = mvtest::lines(text);
  std::size_t from = 0;
  while (from < ls.size() && ls[from].rfind("Total SCF Density", 0) != 0) ++from;
  std::size_t to = ++from;
  while (to < ls.size() && !ls[to].empty() && !std::isalpha(static_cast<unsigned char>(ls[to][0])))
    ++to;
  std::vector<std::string> values;
  for (std::size_t i = from; i < to; ++i) {
    std::istringstream in(ls[i]);
    for (std::string v; in >> v;) values.push_back(v);
  }
  const std::string v = values[k - 1];
  values[k - 1] = v.substr(0, 6);
  values.insert(values.begin() + static_cast<std::ptrdiff_t>(k), v.substr(7));
  values.pop_back();
  std::vector<std::string> section;
  for (std::size_t i = 0; i < values.size(); i += 5) {
    std::string l;
    for (std::size_t j = i; j < values.size() && j < i + 5; ++j) {
      char buf[32];
      std::snprintf(buf, sizeof buf, "%16s", values[j].c_str());
      l += buf;
    }
    section.push_back(l);
  }
  ls.erase(ls.begin() + static_cast<std::ptrdiff_t>(from),
           ls.begin() + static_cast<std::ptrdiff_t>(to));
  ls.insert(ls.begin() + static_cast<std::ptrdiff_t>(from), section.begin(), section.end());
  std::string out;
  for (const std::string& l : ls) out += l + "\n";
  return out;
}

TEST(CommandLine, DensitiesThatAreNotPossibleAreRefused) {
  // Damaged densities that pass the trace check: each is refused, the same
  // way for any number of threads.  Naphthalene (470 functions) takes the
  // path of the checks beside W = P S.
  const std::string possible = " The density is not a possible one: ";
  const std::string idempotent = " The SCF density is not idempotent: ";
  const std::string naphthalene = readFile(dataPath("c10h8_rhf_ccpvtz_cart.fchk"));
  const struct {
    std::string name, text, refusal;  // "": any refusal
  } cases[] = {
      {"1e30 where S is zero",
       readFile(dataPath("impossible/h2o_density_1e30_where_s_is_zero.fchk")), possible},
      // Its trace misses N by 0.037: the command line's trace check, within
      // 1e-6 N, refuses it before the test of the occupations.
      {"shifted by one", readFile(dataPath("impossible/h2o_density_shifted_by_one.fchk")), ""},
      {"blank in a value", readFile(dataPath("impossible/h2o_density_blank_in_value.fchk")), ""},
      {"naphthalene shifted near the end", densityShifted(naphthalene, 110585), idempotent},
  };
  const std::string cwd = mvtest::makeTempDir("mvcli");
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    ASSERT_GT(c.text.size(), 1000u);
    writeFile(cwd + "/d.fchk", c.text);
    const CliRun one = runArgs({"--json", "-j", "1", "d.fchk"}, cwd);
    EXPECT_EQ(one.status, 1);
    const auto j = nlohmann::json::parse(one.out);
    EXPECT_NE(j["status"], "ok");
    if (!c.refusal.empty()) {
      EXPECT_EQ(j["error"]["code"], "8200");
      EXPECT_EQ(j["error"]["message"].get<std::string>().rfind(c.refusal.substr(1), 0), 0u)
          << j["error"]["message"];
    }
    for (const char* threads : {"2", "3"}) {
      const CliRun more = runArgs({"--json", "-j", threads, "d.fchk"}, cwd);
      EXPECT_EQ(more.out, one.out) << threads;
      EXPECT_EQ(more.err, one.err) << threads;
      const CliRun text = runArgs({"-j", threads, "d.fchk"}, cwd);
      EXPECT_EQ(text.out, runArgs({"-j", "1", "d.fchk"}, cwd).out) << threads;
    }
  }
  fs::remove_all(cwd);
}

TEST(CommandLine, EverySharedFilePassesTheDensityChecksAlikeOnAnyThreads) {
  // The bundled files, and the shared sets when their directories are
  // named: none is refused for its density, and each gives the same bytes
  // for one, two and three threads.
  std::vector<std::string> files = mvtest::listFiles(dataPath(""), ".fchk");
  for (const char* var : {"MIRVANTE_BEYOND", "MIRVANTE_EXTRA_FCHK"})
    if (const char* dir = std::getenv(var))
      for (const std::string& f : mvtest::listFiles(dir, ".fchk")) files.push_back(f);
  const std::string cwd = mvtest::makeTempDir("mvcli");
  for (const std::string& f : files) {
    SCOPED_TRACE(f);
    const CliRun one = runArgs({"--json", "-j", "1", f}, cwd);
    const auto j = nlohmann::json::parse(one.out);
    if (j["status"] != "ok") {
      const std::string m = j["error"]["message"];
      EXPECT_EQ(m.find("not a possible one"), std::string::npos) << m;
      EXPECT_EQ(m.find("not idempotent"), std::string::npos) << m;
    }
    EXPECT_EQ(runArgs({"--json", "-j", "2", f}, cwd).out, one.out);
    EXPECT_EQ(runArgs({"--json", "-j", "3", f}, cwd).out, one.out);
  }
  fs::remove_all(cwd);
}

TEST(CommandLine, DamagedLargeFileEndsAsOnOneThread) {
  // With two threads, a file of 400 functions or more has S and its
  // eigen-solve made while the orbitals and the density are still being
  // read.  Damaged in each of those parts, naphthalene (470 functions) must
  // end as it ends on one thread: the same report, diagnostic and status.
  const std::string text = readFile(dataPath("c10h8_rhf_ccpvtz_cart.fchk"));
  ASSERT_FALSE(text.empty());
  // `from` with line `k` after the label line of `label` edited by `edit`.
  auto damagedFrom = [](const std::string& from, const std::string& label, int k, auto edit) {
    std::vector<std::string> lines = mvtest::lines(from);
    std::size_t at = 0;
    while (at < lines.size() && lines[at].rfind(label, 0) != 0) ++at;
    EXPECT_LT(at + k, lines.size()) << label;
    edit(lines[std::min(at + k, lines.size() - 1)]);
    std::string out;
    for (const std::string& l : lines) out += l + "\n";
    return out;
  };
  auto damaged = [&](const std::string& label, int k, auto edit) {
    return damagedFrom(text, label, k, edit);
  };
  auto field = [](int col, const std::string& value) {
    return [=](std::string& l) { l.replace(static_cast<std::size_t>(col), value.size(), value); };
  };
  auto toAtom17 = [](std::string& l) {
    for (std::size_t p; (p = l.find("18")) != std::string::npos;) l[p + 1] = '7';
  };
  const struct {
    const char* name;
    std::string text;
    int status;
  } cases[] = {
      // An orbital coefficient that is not a number: the command line reads
      // the section to its "N=" count and refuses the file.
      {"orbital", damaged("Alpha MO coefficients", 100, field(34, "x.23456789E-01")), 1},
      {"density value", damaged("Total SCF Density", 50, field(18, "1.2345678YE-01")), 1},
      {"density too large", damaged("Total SCF Density", 1, field(2, "1.00000000E+03")), 1},
      {"density cut short", text.substr(0, text.find("Total SCF Density") + 8000), 1},
      // A shell above i: the basis is refused after the density is read.
      {"shell type", damaged("Shell types", 1, field(11, "7")), 1},
      // The last atom's shells (on the last two lines) given to the one
      // before: the partition fails.
      {"atom map",
       damagedFrom(damaged("Shell to atom map", 24, toAtom17), "Shell to atom map", 25, toAtom17),
       1},
  };
  const std::string cwd = mvtest::makeTempDir("mvcli");
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const std::string file = cwd + "/c10h8.fchk";
    writeFile(file, c.text);
    for (const char* mode : {"--min-bond=0.1", "--json"}) {
      const CliRun one = runArgs({mode, "-j", "1", file}, cwd);
      const CliRun two = runArgs({mode, "-j", "2", file}, cwd);
      EXPECT_EQ(one.status, c.status) << one.err;
      EXPECT_EQ(two.status, one.status);
      EXPECT_EQ(two.out, one.out);
      EXPECT_EQ(two.err, one.err);
    }
  }
  fs::remove_all(cwd);
}

TEST(CommandLine, OutputDirectoryGetsOneFilePerInputAndNeverAnInput) {
  const std::string cwd = mvtest::makeTempDir("mvcli");
  const std::string a = dataPath("h2_rhf_sto3g.fchk"), b = dataPath("h2o_rhf_sto3g.fchk");
  CliRun r = runArgs({"-o", "reports/new", a, b}, cwd);
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.out, "");
  EXPECT_EQ(listing(cwd + "/reports/new"),
            (std::set<std::string>{"h2_rhf_sto3g.txt", "h2o_rhf_sto3g.txt"}));
  EXPECT_EQ(readFile(cwd + "/reports/new/h2o_rhf_sto3g.txt"), runArgs({b}, cwd).out);
  r = runArgs({"--json", "-o", "j", a}, cwd);
  EXPECT_EQ(readFile(cwd + "/j/h2_rhf_sto3g.json"), runArgs({"--json", a}, cwd).out);

  // Two inputs with one stem, and an input where an output would go.
  fs::create_directory(cwd + "/other");
  fs::copy_file(a, cwd + "/other/h2_rhf_sto3g.fchk");
  r = runArgs({"-o", "x", a, "other/h2_rhf_sto3g.fchk"}, cwd);
  EXPECT_EQ(r.status, 2);
  EXPECT_NE(r.err.find("would both write the output x/h2_rhf_sto3g.txt"), std::string::npos)
      << r.err;
  writeFile(cwd + "/in.txt", readFile(a));
  r = runArgs({"-o", ".", "in.txt"}, cwd);
  EXPECT_EQ(r.status, 2);
  EXPECT_EQ(r.err, "mirvante: the output ./in.txt would overwrite the input in.txt\n");
  EXPECT_EQ(readFile(cwd + "/in.txt"), readFile(a));
  writeFile(cwd + "/plain", "");
  r = runArgs({"-o", "plain", a}, cwd);
  EXPECT_EQ(r.status, 2);
  EXPECT_NE(r.err.find("mirvante: cannot make the output directory plain"), std::string::npos);
  fs::remove_all(cwd);
}

TEST(CommandLine, HelpVersionAndUsageErrors) {
  const std::string cwd = mvtest::makeTempDir("mvcli");
  CliRun r = runArgs({"--help"}, cwd);
  EXPECT_EQ(r.status, 0);
  for (const char* opt : {"--json", "--output-dir", "--jobs", "--min-bond", "--svg", "Examples:"})
    EXPECT_NE(r.out.find(opt), std::string::npos) << opt;
  r = runArgs({"--version"}, cwd);
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.out, "MIRVANTE 1.00\n");
  r = runArgs({"--frobnicate", "x.fchk"}, cwd);
  EXPECT_EQ(r.status, 2);
  EXPECT_EQ(r.err,
            "mirvante: The following argument was not expected: --frobnicate\n"
            "Run 'mirvante --help' for the options.\n");
  EXPECT_EQ(runArgs({"-j", "0", "x.fchk"}, cwd).status, 2);
  EXPECT_EQ(runArgs({"--json"}, cwd).status, 2);
  EXPECT_EQ(runArgs({"--min-bond", "abc", "x.fchk"}, cwd).status, 2);
  EXPECT_EQ(runArgs({"-", "-"}, cwd).status, 2);
  fs::remove_all(cwd);
}

TEST(CommandLine, AReportThatCannotBeWrittenIsAnError) {
  const std::string cwd = mvtest::makeTempDir("mvcli");
  const std::string cmd = "cd " + shellQuote(cwd) + " && " + shellQuote(MV_PROGRAM) + " " +
                          shellQuote(dataPath("h2o_rhf_sto3g.fchk")) + " >/dev/full 2>err";
  const int rc = std::system(cmd.c_str());
  EXPECT_EQ(WEXITSTATUS(rc), 2);
  EXPECT_EQ(readFile(cwd + "/err"),
            "mirvante: cannot write the report to standard output: No space left on device\n");
  fs::remove_all(cwd);
}

// An interrupt stops the batch at once: what is written are complete
// reports, in input order, and the status is 130.
TEST(CommandLine, InterruptWritesWhatIsCompleteAndEndsWith130) {
  const std::string cwd = mvtest::makeTempDir("mvcli");
  const std::string big = dataPath("c10h8_rhf_ccpvtz_cart.fchk");
  const pid_t pid = fork();
  ASSERT_GE(pid, 0);
  if (pid == 0) {
    if (!freopen((cwd + "/out").c_str(), "w", stdout) ||
        !freopen((cwd + "/err").c_str(), "w", stderr))
      _exit(99);
    std::vector<std::string> args = {MV_PROGRAM, "--json", "-j", "1"};
    for (int k = 0; k < 200; ++k) args.push_back(big);
    std::vector<char*> argv;
    for (std::string& s : args) argv.push_back(s.data());
    argv.push_back(nullptr);
    execv(MV_PROGRAM, argv.data());
    _exit(98);
  }
  std::this_thread::sleep_for(std::chrono::milliseconds(600));
  kill(pid, SIGINT);
  int st = 0;
  waitpid(pid, &st, 0);
  ASSERT_TRUE(WIFEXITED(st));
  EXPECT_EQ(WEXITSTATUS(st), 130);
  EXPECT_EQ(readFile(cwd + "/err"), "mirvante: interrupted\n");
  const std::string out = readFile(cwd + "/out");
  const auto lines = mvtest::lines(out);
  EXPECT_LT(lines.size(), 200u);
  EXPECT_TRUE(out.empty() || out.back() == '\n');
  for (const std::string& l : lines) EXPECT_EQ(nlohmann::json::parse(l)["status"], "ok");
  fs::remove_all(cwd);
}

}  // namespace

namespace {

// The JSON fields of the spin populations and the Löwdin analysis: spin
// populations for open shells only, adding up to nalpha - nbeta; Löwdin
// numbers only with --lowdin, which changes no other field.
TEST(CommandLine, SpinAndLowdinFieldsOfTheJsonLines) {
  const std::string cwd = mvtest::makeTempDir("mvcli");
  for (const char* name : {"h2o_rhf_sto3g", "h2o_mp2_ccpvdz", "ch3_uhf_631gs", "ch2_rohf_631gs"}) {
    SCOPED_TRACE(name);
    const std::string file = dataPath(std::string(name) + ".fchk");
    const nlohmann::json plain = nlohmann::json::parse(runArgs({"--json", file}, cwd).out);
    const nlohmann::json lowdin =
        nlohmann::json::parse(runArgs({"--json", "--lowdin", file}, cwd).out);
    ASSERT_EQ(lowdin["status"], "ok");
    const bool open = plain["alpha_electrons"] != plain["beta_electrons"];
    double spin = 0.0;
    for (const auto& at : plain["atoms"]) {
      EXPECT_EQ(at["spin_population"].is_null(), !open);
      if (open) spin += at["spin_population"].get<double>();
      EXPECT_TRUE(at["lowdin_population"].is_null());
      EXPECT_TRUE(at["lowdin_charge"].is_null());
    }
    if (open) {
      EXPECT_NEAR(spin, plain["alpha_electrons"].get<int>() - plain["beta_electrons"].get<int>(),
                  1e-6);
    }
    EXPECT_TRUE(plain["wiberg_lowdin"].is_null());

    double electrons = 0.0;
    for (const auto& at : lowdin["atoms"]) {
      electrons += at["lowdin_population"].get<double>();
      EXPECT_DOUBLE_EQ(at["lowdin_charge"].get<double>(),
                       at["nuclear_charge"].get<double>() - at["lowdin_population"].get<double>());
    }
    EXPECT_NEAR(electrons, lowdin["electrons"].get<double>(), 1e-6);
    const auto& w = lowdin["wiberg_lowdin"];
    ASSERT_EQ(w.size(), lowdin["atoms"].size());
    for (std::size_t i = 0; i < w.size(); ++i)
      for (std::size_t k = 0; k < w.size(); ++k) {
        EXPECT_EQ(w[i][k], w[k][i]);
        if (i == k) {
          EXPECT_EQ(w[i][k].get<double>(), 0.0);
        }
      }
    nlohmann::json rest = lowdin;
    rest["wiberg_lowdin"] = nullptr;
    for (auto& at : rest["atoms"]) at["lowdin_population"] = at["lowdin_charge"] = nullptr;
    EXPECT_EQ(rest, plain);
  }
  fs::remove_all(cwd);
}

// The report's new sections follow --min-bond and --lowdin; above 20 atoms
// the bond-order matrix is printed only with --matrix.
TEST(CommandLine, TextReportListsBondsFromTheThresholdAndLeavesLargeMatricesOut) {
  const std::string cwd = mvtest::makeTempDir("mvcli");
  const std::string heptane = dataPath("c7h16_rhf_sto3g.fchk");  // 23 atoms
  const CliRun dflt = runArgs({heptane}, cwd);
  const CliRun full = runArgs({"--matrix", heptane}, cwd);
  const CliRun strict = runArgs({"--min-bond", "0.95", "--lowdin", heptane}, cwd);
  ASSERT_EQ(dflt.status, 0);
  EXPECT_NE(dflt.out.find("  Not printed for 23 atoms (more than 20)"), std::string::npos);
  EXPECT_EQ(full.out.find("Not printed"), std::string::npos);
  // With --matrix the report is the default one with the matrix in place of the note.
  EXPECT_GT(mvtest::lines(full.out).size(), mvtest::lines(dflt.out).size() + 23 * 3);
  const mvtest::ParsedReport parsed = mvtest::parseReport(full.out);
  EXPECT_EQ(parsed.bonds.size(), 23U * 23U);

  // The bond list: the pairs of the JSON list from the threshold on, by
  // decreasing order, with the Wiberg-Löwdin index and the distance.
  const nlohmann::json j =
      nlohmann::json::parse(runArgs({"--json", "--min-bond", "0.95", heptane}, cwd).out);
  const std::vector<std::string> lines = mvtest::lines(strict.out);
  std::size_t k = 0;
  while (k < lines.size() && lines[k] != "           BONDS WITH ORDER >= 0.95") ++k;
  ASSERT_LT(k + 2, lines.size());
  EXPECT_NE(lines[k + 2].find("BOND ORDER  WIBERG-LOWDIN  DISTANCE/A"), std::string::npos);
  ASSERT_EQ(lines.size(), k + 3 + j["bonds"].size());
  double previous = 1e9;
  for (std::size_t b = 0; b < j["bonds"].size(); ++b) {
    std::istringstream in(lines[k + 3 + b]);
    int a1 = 0, a2 = 0;
    std::string s1, s2;
    double order = 0.0, wiberg = 0.0, distance = 0.0;
    in >> a1 >> s1 >> a2 >> s2 >> order >> wiberg >> distance;
    ASSERT_FALSE(in.fail()) << lines[k + 3 + b];
    EXPECT_GE(order, 0.95);
    EXPECT_LE(order, previous);
    previous = order;
    EXPECT_TRUE(s1 == "C" || s1 == "H");
    EXPECT_GT(wiberg, 0.9);
    EXPECT_GT(distance, 1.0);  // C-H and C-C bonds, in angstrom
    EXPECT_LT(distance, 1.6);
  }
  fs::remove_all(cwd);
}

// The 60 atoms of C60 give a short report: the bond list instead of a
// matrix of 687 lines.
TEST(CommandLine, FullereneReportIsShortWithoutMatrix) {
  const char* beyond = std::getenv("MIRVANTE_BEYOND");
  if (beyond == nullptr || *beyond == '\0') GTEST_SKIP() << "MIRVANTE_BEYOND is not set";
  const std::string cwd = mvtest::makeTempDir("mvcli");
  const std::string c60 = std::string(beyond) + "/c60_rhf_ccpvdz.fchk";
  const CliRun r = runArgs({c60}, cwd);
  ASSERT_EQ(r.status, 0);
  const std::vector<std::string> lines = mvtest::lines(r.out);
  EXPECT_LT(lines.size(), 350U);
  EXPECT_NE(r.out.find("  Not printed for 60 atoms"), std::string::npos);
  // 90 bonds: 60 in the pentagons, 30 between the hexagons.
  std::size_t k = 0;
  while (k < lines.size() && lines[k] != "           BONDS WITH ORDER >= 0.1") ++k;
  EXPECT_EQ(lines.size(), k + 3 + 90);
  fs::remove_all(cwd);
}

}  // namespace

namespace {

// The drawing marks the radical centres by their spin populations: the two
// end carbons of the allyl radical, the carbon of methylene (ROHF, from
// its orbitals) and of the methyl radical; a closed shell has none.
TEST(CommandLine, DrawingMarksSpinPopulations) {
  const std::string cwd = mvtest::makeTempDir("mvcli");
  struct Case {
    const char* name;
    std::vector<std::string> halos;  // the atoms and labels of the halos
  };
  const std::vector<Case> cases = {
      {"c3h5_ub3lyp_ccpvdz", {"data-atom=\"1\"", "spin 0.67", "data-atom=\"3\"", "spin 0.67"}},
      {"ch2_rohf_631gs", {"data-atom=\"1\"", "spin 1.97"}},
      {"ch3_uhf_631gs", {"data-atom=\"1\"", "spin 1.30"}},
      {"h2o_rhf_sto3g", {}}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const std::string svg = cwd + "/" + c.name + ".svg";
    ASSERT_EQ(runArgs({"--svg", svg, dataPath(std::string(c.name) + ".fchk")}, cwd).status, 0);
    std::vector<std::string> halos;
    const std::string text = readFile(svg);
    for (std::size_t at = text.find("<text class=\"free-valence-label\""); at != std::string::npos;
         at = text.find("<text class=\"free-valence-label\"", at + 1)) {
      const std::size_t end = text.find("</text>", at);
      const std::string element = text.substr(at, end - at);
      halos.push_back(element.substr(element.find("data-atom="), 13));
      halos.push_back(element.substr(element.rfind('>') + 1));
    }
    EXPECT_EQ(halos, c.halos);
  }
  fs::remove_all(cwd);
}

}  // namespace

namespace {

// Every open shell among the real Gaussian files: spin populations that add
// up to nalpha - nbeta and Löwdin populations that add up to the electrons,
// within 1e-6.
TEST(CommandLine, RealOpenShellsSpinAndLowdinSums) {
  const std::string dir = mvtest::extraDir();
  if (dir.empty()) GTEST_SKIP() << "MIRVANTE_EXTRA_FCHK not set";
  const std::string cwd = mvtest::makeTempDir("mvcli");
  std::vector<std::string> files = mvtest::listFiles(dir, ".fchk");
  for (const std::string& f : mvtest::listFiles(dir + "/completed", ".fchk")) files.push_back(f);
  int open = 0;
  for (const std::string& f : files) {
    SCOPED_TRACE(f);
    const CliRun r = runArgs({"--json", "--lowdin", f}, cwd);
    const nlohmann::json j = nlohmann::json::parse(r.out);
    if (j["status"] != "ok") continue;
    const int unpaired = j["alpha_electrons"].get<int>() - j["beta_electrons"].get<int>();
    const bool isOpen = unpaired != 0 || j["spin"] == "unrestricted";
    double spin = 0.0, lowdin = 0.0, gross = 0.0;
    for (const auto& at : j["atoms"]) {
      ASSERT_EQ(at["spin_population"].is_null(), !isOpen);
      if (isOpen) spin += at["spin_population"].get<double>();
      lowdin += at["lowdin_population"].get<double>();
      gross += at["population"].get<double>();
    }
    EXPECT_NEAR(lowdin, gross, 1e-6);
    if (!isOpen) continue;
    ++open;
    EXPECT_NEAR(spin, unpaired, 1e-6);
  }
  // UHF, ROHF (spin density from the orbitals), UMP2, UMP3, UCCD, UCIS.
  EXPECT_GE(open, 10);
  fs::remove_all(cwd);
}

}  // namespace
