// What a new user meets first: elements behind effective core potentials,
// dummy atoms, a --density that a file cannot honour, psi4's restricted
// open-shell checkpoint files, the formats named by --help and the README,
// and the names of the outputs of a batch.
#include <gtest/gtest.h>

#include <cmath>
#include <filesystem>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "app/batch.h"
#include "core/elements.h"
#include "support/testutil.h"

namespace {

using mvtest::dataPath;
using mvtest::readFile;
using nlohmann::json;
namespace fs = std::filesystem;
using Outcome = mvtest::RunResult;

Outcome run(const std::string& dir, const std::string& args) {
  return mvtest::runShell(mvtest::shellQuote(MV_PROGRAM) + " " + args, dir);
}

// `text` with its first `find` after `after` replaced.
std::string replaced(std::string text, const std::string& after, const std::string& find,
                     const std::string& by) {
  const std::size_t from = text.find(after);
  const std::size_t at = text.find(find, from == std::string::npos ? 0 : from);
  EXPECT_NE(at, std::string::npos) << find;
  if (at == std::string::npos) return text;
  return text.replace(at, find.size(), by);
}

// A Molden file of two hydrogen atoms 1.4 bohr apart, one s function each,
// and the bonding orbital doubly occupied; `extra` atom lines are added to
// [Atoms] after atom line `at` (0: before both), renumbered in order.
std::string hydrogenMolden(const std::vector<std::string>& extra, int at) {
  std::vector<std::string> atoms = {"H 1 0.0 0.0 0.0", "H 1 0.0 0.0 1.4"};
  atoms.insert(atoms.begin() + at, extra.begin(), extra.end());
  std::string s = "[Molden Format]\n[Atoms] AU\n";
  int hydrogen[2] = {0, 0}, h = 0;
  for (std::size_t k = 0; k < atoms.size(); ++k) {
    const std::string& a = atoms[k];
    const std::size_t blank = a.find(' ');
    s += a.substr(0, blank) + " " + std::to_string(k + 1) + a.substr(blank) + "\n";
    if (a.rfind("H ", 0) == 0) hydrogen[h++] = static_cast<int>(k + 1);
  }
  s += "[GTO]\n";
  for (const int a : hydrogen) s += "  " + std::to_string(a) + " 0\n s 1 1.00\n 1.0 1.0\n\n";
  return s +
         "[MO]\n Sym= 1a\n Ene= -0.5\n Spin= Alpha\n Occup= 2.0\n  1 0.6029544826689\n"
         "  2 0.6029544826689\n";
}

// A dummy atom (no basis functions), with or without a nuclear charge, at
// every place among the atoms: analysed, with no population, its charge
// its nuclear charge and no bond; the hydrogen atoms as without it.
TEST(Newcomer, AtomsWithoutFunctionsAreAnalysed) {
  const std::string dir = mvtest::makeTempDir("mvdummy");
  mvtest::writeFile(dir + "/h2.molden", hydrogenMolden({}, 0));
  const Outcome plain = run(dir, "--json h2.molden");
  ASSERT_EQ(plain.status, 0) << plain.err;
  const json h2 = json::parse(plain.out);
  for (const char* dummy : {"X 0 0.0 2.0 0.7", "He 2 0.0 2.0 0.7"})
    for (int at = 0; at <= 2; ++at) {
      SCOPED_TRACE(std::string(dummy) + " at " + std::to_string(at));
      mvtest::writeFile(dir + "/d.molden", hydrogenMolden({dummy}, at));
      const Outcome r = run(dir, "--json d.molden");
      ASSERT_EQ(r.status, 0) << r.err;
      const json j = json::parse(r.out);
      ASSERT_EQ(j["atoms"].size(), 3u);
      const json& d = j["atoms"][static_cast<std::size_t>(at)];
      const double z = dummy[0] == 'H' ? 2.0 : 0.0;
      EXPECT_EQ(d["population"], 0.0);
      EXPECT_EQ(d["charge"], z);
      EXPECT_EQ(d["total_valence"], 0.0);
      for (int k = 0; k < 3; ++k) EXPECT_EQ(j["bond_orders"][static_cast<std::size_t>(at)][k], 0.0);
      const int h1 = at == 0 ? 1 : 0, h2i = at == 2 ? 1 : 2;
      EXPECT_NEAR(j["bond_orders"][h1][h2i].get<double>(), h2["bond_orders"][0][1].get<double>(),
                  1e-12);
      EXPECT_NEAR(j["atoms"][h1]["charge"].get<double>(), h2["atoms"][0]["charge"].get<double>(),
                  1e-12);
    }
}

TEST(Newcomer, ElementOfAReducedCharge) {
  EXPECT_EQ(mv::elementOfReducedCharge(19, 107.9), 47);    // Ag, 28-electron core
  EXPECT_EQ(mv::elementOfReducedCharge(19, 106.905), 47);  // its isotope's mass: not Pd (odd core)
  EXPECT_EQ(mv::elementOfReducedCharge(4, 28.0855), 14);   // Si, 10-electron core
  EXPECT_EQ(mv::elementOfReducedCharge(19, 39.0983), 0);   // potassium itself
  EXPECT_EQ(mv::elementOfReducedCharge(1, 2.0141), 0);     // deuterium
  EXPECT_EQ(mv::elementOfReducedCharge(1, 3.0160), 0);     // tritium
  EXPECT_EQ(mv::elementOfReducedCharge(6, 500.0), 0);      // no element weighs 500
}

// Silver with a 28-electron core as psi4 writes it: "AG 1 19" in a Molden
// file, 19 under "Atomic numbers" and "Nuclear charges" with the weight of
// silver in an fchk file.  Ag, atomic number 47, nuclear charge 19, and the
// report says why.
TEST(Newcomer, EffectiveCorePotentialsKeepTheirElement) {
  const std::string dir = mvtest::makeTempDir("mvecp");
  std::string molden = hydrogenMolden({}, 0);
  molden = replaced(molden, "[Atoms]", "H 1 1", "AG 1 19");
  mvtest::writeFile(dir + "/agh.molden", molden);
  std::string fchk = readFile(dataPath("h2_rhf_sto3g.fchk"));
  fchk = replaced(fchk, "Charge ", "I                0", "I               18");
  fchk = replaced(fchk, "Atomic numbers", "           1           1", "          19           1");
  fchk = replaced(fchk, "Nuclear charges", "1.00000000E+00  1.00000000E+00",
                  "1.90000000E+01  1.00000000E+00");
  fchk = replaced(fchk, "Real atomic weights", "1.00782503E+00  1.00782503E+00",
                  "1.07868200E+02  1.00782503E+00");
  mvtest::writeFile(dir + "/agh.fchk", fchk);
  for (const char* file : {"agh.molden", "agh.fchk"}) {
    SCOPED_TRACE(file);
    const Outcome j = run(dir, std::string("--json ") + file);
    ASSERT_EQ(j.status, 0) << j.err;
    const json a = json::parse(j.out)["atoms"];
    EXPECT_EQ(a[0]["symbol"], "Ag");
    EXPECT_EQ(a[0]["atomic_number"], 47);
    EXPECT_EQ(a[0]["nuclear_charge"], 19.0);
    EXPECT_EQ(a[0]["core_electrons"], 28);
    EXPECT_NEAR(a[0]["charge"].get<double>(), 19.0 - a[0]["population"].get<double>(), 1e-12);
    EXPECT_EQ(a[1]["core_electrons"], 0);
    const Outcome t = run(dir, file);
    ASSERT_EQ(t.status, 0) << t.err;
    EXPECT_NE(t.out.find("names Ag (atomic number 47)"), std::string::npos) << t.out;
    EXPECT_NE(t.out.find(" Ag "), std::string::npos);
    EXPECT_EQ(t.out.find(" K "), std::string::npos);
  }
}

// A file of orbitals holds one density: --density names it or is refused.
TEST(Newcomer, DensityOptionOnAFileWithOneDensity) {
  const std::string dir = mvtest::makeTempDir("mvonedens");
  mvtest::writeFile(dir + "/h2.molden", hydrogenMolden({}, 0));
  const Outcome mp2 = run(dir, "--density MP2 h2.molden");
  EXPECT_EQ(mp2.status, 1);
  EXPECT_NE(mp2.err.find("holds one density"), std::string::npos) << mp2.err;
  EXPECT_NE(mp2.err.find("SCF"), std::string::npos) << mp2.err;
  const Outcome scf = run(dir, "--density SCF h2.molden");
  EXPECT_EQ(scf.status, 0) << scf.err;
  fs::copy_file(dataPath("wfx/h2o_mp2_ccpvdz.mwfn"), dir + "/mp2.mwfn");
  const Outcome no = run(dir, "--density SCF mp2.mwfn");
  EXPECT_EQ(no.status, 1);
  EXPECT_NE(no.err.find("natural orbitals"), std::string::npos) << no.err;
}

// psi4 writes the orbitals of a restricted open shell as both alpha and
// beta orbitals: restricted open-shell, with the numbers of the file
// without them.
TEST(Newcomer, RestrictedOpenShellWithBetaOrbitals) {
  const std::string dir = mvtest::makeTempDir("mvrohf");
  const std::string fchk = readFile(dataPath("ch2_rohf_631gs.fchk"));
  const std::size_t a = fchk.find("Alpha Orbital Energies"), b = fchk.find("Total SCF Density");
  ASSERT_TRUE(a != std::string::npos && b != std::string::npos);
  std::string beta = fchk.substr(a, b - a);
  beta = replaced(beta, "", "Alpha Orbital Energies", "Beta Orbital Energies ");
  beta = replaced(beta, "", "Alpha MO coefficients", "Beta MO coefficients ");
  mvtest::writeFile(dir + "/with_beta.fchk", fchk.substr(0, b) + beta + fchk.substr(b));
  // A beta orbital that differs: spin-unrestricted.
  const std::size_t c = beta.find("Beta MO coefficients");
  std::string other = beta;
  other[other.find('.', c) + 2] = other[other.find('.', c) + 2] == '1' ? '2' : '1';
  mvtest::writeFile(dir + "/uhf_like.fchk", fchk.substr(0, b) + other + fchk.substr(b));
  fs::copy_file(dataPath("ch2_rohf_631gs.fchk"), dir + "/plain.fchk");
  // The same orbitals under a method named spin-unrestricted (a hydrogen
  // atom's UHF in a minimal basis has them too): spin-unrestricted.
  const std::string withBeta = fchk.substr(0, b) + beta + fchk.substr(b);
  const std::size_t line2 = withBeta.find('\n') + 1, m = line2 + 10;
  ASSERT_EQ(withBeta.substr(m, 4), "ROHF");
  mvtest::writeFile(dir + "/named_uhf.fchk",
                    withBeta.substr(0, m) + "UHF " + withBeta.substr(m + 4));
  const Outcome r = run(dir, "--json with_beta.fchk plain.fchk uhf_like.fchk named_uhf.fchk");
  ASSERT_EQ(r.status, 0) << r.err;
  const std::vector<std::string> l = mvtest::lines(r.out);
  ASSERT_EQ(l.size(), 4u);
  const json x = json::parse(l[0]), y = json::parse(l[1]), z = json::parse(l[2]);
  EXPECT_EQ(x["spin"], "restricted open-shell");
  EXPECT_EQ(y["spin"], "restricted open-shell");
  EXPECT_EQ(z["spin"], "unrestricted");
  EXPECT_EQ(json::parse(l[3])["spin"], "unrestricted");
  for (std::size_t i = 0; i < 3; ++i) {
    EXPECT_NEAR(x["atoms"][i]["charge"].get<double>(), y["atoms"][i]["charge"].get<double>(), 1e-8);
    EXPECT_NEAR(x["atoms"][i]["spin_population"].get<double>(),
                y["atoms"][i]["spin_population"].get<double>(), 1e-8);
    for (std::size_t k = 0; k < 3; ++k)
      EXPECT_NEAR(x["bond_orders"][i][k].get<double>(), y["bond_orders"][i][k].get<double>(), 1e-8);
  }
}

TEST(Newcomer, HelpAndReadmeNameEveryFormat) {
  const Outcome help = run(mvtest::makeTempDir("mvhelp"), "--help");
  ASSERT_EQ(help.status, 0);
  std::string opening;
  for (const std::string& l : mvtest::lines(readFile(std::string(MV_EXAMPLES) + "/../README.md")))
    if (opening.size() < 1500) opening += l + "\n";
  for (const char* format : {".fchk", ".molden", ".wfn", ".wfx", ".mwfn"}) {
    EXPECT_NE(help.out.find(format), std::string::npos) << format;
    EXPECT_NE(opening.find(format), std::string::npos) << format;
  }
  EXPECT_EQ(help.out.find("Gaussian formatted checkpoint files"), std::string::npos);
}

// Output names: the stem drops a compression suffix and the format suffix;
// inputs that share a stem keep the format suffix, and a note says so.
TEST(Newcomer, OutputNamesOfABatch) {
  EXPECT_EQ(mv::stemOf("runs/x.molden.gz"), "x");
  EXPECT_EQ(mv::stemOf("x.wfx.XZ"), "x");
  EXPECT_EQ(mv::stemOf("water.fchk"), "water");
  EXPECT_EQ(mv::stemOf("h2o.molden.input"), "h2o.molden");
  EXPECT_EQ(mv::stemOf("-"), "stdin");
  const auto shared = mv::sharedStems({"a/job.fchk", "b/job.molden.gz", "c/x.wfn", "job.fchk"});
  ASSERT_EQ(shared.size(), 1u);
  EXPECT_EQ(shared.at("job").size(), 3u);
  EXPECT_TRUE(mv::sharedStems({"a/job.fchk", "b/job.fchk"}).empty());  // one name twice

  const std::string dir = mvtest::makeTempDir("mvstems");
  fs::copy_file(dataPath("h2_rhf_sto3g.fchk"), dir + "/job.fchk");
  mvtest::writeFile(dir + "/job.molden", hydrogenMolden({}, 0));
  ASSERT_EQ(mvtest::runShell("gzip -k job.molden && mv job.molden.gz x.molden.gz", dir).status, 0);
  const Outcome r = run(dir, "-o out --svg pics job.fchk job.molden x.molden.gz");
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(mvtest::listing(dir + "/out"),
            (std::set<std::string>{"job.fchk.txt", "job.molden.txt", "x.txt"}));
  EXPECT_EQ(mvtest::listing(dir + "/pics"),
            (std::set<std::string>{"job.fchk.svg", "job.molden.svg", "x.svg"}));
  EXPECT_NE(r.err.find("share the stem 'job'"), std::string::npos) << r.err;
  EXPECT_NE(readFile(dir + "/out/job.molden.txt").find("job.molden"), std::string::npos);
  // Without outputs in files, nothing to say.
  const Outcome quiet = run(dir, "--json job.fchk job.molden");
  EXPECT_EQ(quiet.status, 0);
  EXPECT_EQ(quiet.err, "");
}

}  // namespace
