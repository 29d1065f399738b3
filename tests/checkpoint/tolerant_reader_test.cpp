// The command line reads what the analysis needs and derives the rest: a
// section dropped from a complete file either leaves the results unchanged
// or is named in full as missing.  The no-argument run keeps requiring every
// section it always required.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "core/limits.h"
#include "support/fchktext.h"
#include "support/handmade.h"
#include "support/outcome.h"

namespace {

// The hand-made file with the closed-shell density of its basis, 1 / (1 +
// S12) in every element (S12 = 0.659318206 at 1.4 bohr), so that the whole
// analysis goes through: the command line refuses a density that is not
// idempotent.
mvtest::HandMadeH2 h2() {
  mvtest::HandMadeH2 h;
  h["dens"] = mvtest::fchkRealArray("Total SCF Density", {0.602657161, 0.602657161, 0.602657161});
  return h;
}

mv::RunOptions commandLine() {
  mv::RunOptions o;
  o.limits = mv::Limits::commandLine();
  return o;
}

TEST(TolerantReader, DerivesWhatTheFileDoesNotSay) {
  const mvtest::LibraryRun full = mvtest::analyseText(h2().text(), commandLine());
  ASSERT_FALSE(full.outcome.stopped()) << full.outcome.out;
  struct Case {
    std::vector<std::string> dropped;  // sections of HandMadeH2
    std::string missing;               // "" when the command line goes on, else the message
  };
  const std::vector<Case> cases = {
      {{"natom"}, ""},
      {{"nelec"}, ""},
      {{"nbf"}, ""},
      {{"nshell", "nprim"}, ""},
      {{"hang", "degr"}, ""},
      {{"shco"}, ""},
      {{"charge"}, ""},
      {{"escf", "etot"}, ""},
      {{"mo"}, ""},
      {{"natom", "nelec", "nbf", "nshell", "nprim", "hang", "degr", "shco", "escf", "mo"}, ""},
      {{"ia"}, "no section 'Atomic numbers'"},
      {{"natom", "ia"}, "no section 'Atomic numbers'"},
      {{"coord"}, "no section 'Current cartesian coordinates'"},
      {{"nalpha"}, "no section 'Number of alpha electrons'"},
      {{"types"}, "no section 'Shell types'"},
      {{"npps"}, "no section 'Number of primitives per shell'"},
      {{"map"}, "no section 'Shell to atom map'"},
      {{"exp"}, "no section 'Primitive exponents'"},
      {{"coef"}, "no section 'Contraction coefficients'"},
  };
  for (const Case& c : cases) {
    mvtest::HandMadeH2 h = h2();
    std::string what;
    for (const std::string& s : c.dropped) {
      h.drop(s);
      what += s + " ";
    }
    const mvtest::LibraryRun r = mvtest::analyseText(h.text(), commandLine());
    if (!c.missing.empty()) {
      ASSERT_TRUE(r.outcome.stopped()) << what;
      EXPECT_EQ(r.outcome.code(), "1000") << what;
      EXPECT_EQ(r.outcome.stop->message(), c.missing) << what;
      continue;
    }
    ASSERT_FALSE(r.outcome.stopped()) << what << r.outcome.out;
    const mv::Checkpoint& ck = r.results.ck;
    EXPECT_EQ(ck.natoms, 2) << what;
    EXPECT_EQ(ck.electrons, 2) << what;
    EXPECT_EQ(ck.nbf, 2) << what;
    EXPECT_EQ(ck.shells.count, 2) << what;
    EXPECT_EQ(ck.shells.primitives, 6) << what;
    EXPECT_EQ(ck.nuclearCharge(1), 1.0) << what;
    EXPECT_EQ(r.results.populations.qat(1), full.results.populations.qat(1)) << what;
    EXPECT_EQ(r.results.bonds.bonds(1, 2), full.results.bonds.bonds(1, 2)) << what;
    // The energy: the SCF energy, else the total energy, else none; the
    // report leaves its record out when the SCF energy is missing.
    const bool scf = h.text().find("SCF Energy") != std::string::npos;
    EXPECT_EQ(ck.hasEnergy, scf) << what;
    EXPECT_EQ(ck.energy().has_value(), h.text().find(" Energy ") != std::string::npos) << what;
    EXPECT_EQ(r.outcome.out.find("E(SCF)=") != std::string::npos, scf) << what;
  }
}

TEST(TolerantReader, TheNoArgumentRunStillRequiresEverySection) {
  for (const std::string s : {"natom", "nelec", "nbf", "nshell", "nprim", "hang", "degr", "shco",
                              "escf", "mo", "charge"}) {
    mvtest::HandMadeH2 h = h2();
    h.drop(s);
    const mvtest::LibraryRun r = mvtest::analyseText(h.text());
    EXPECT_EQ(r.outcome.code(), "1000") << s;
  }
}

TEST(TolerantReader, TotalEnergyIsNoDensity) {
  // Without "Total Energy" the classic count of lines beginning "Tota"
  // finds no density; the command line finds the densities by their labels.
  mvtest::HandMadeH2 h = h2();
  h.drop("etot");
  EXPECT_EQ(mvtest::analyseText(h.text()).outcome.code(), mv::kCodeNoDensity);
  const mvtest::LibraryRun r = mvtest::analyseText(h.text(), commandLine());
  ASSERT_FALSE(r.outcome.stopped()) << r.outcome.out;
  EXPECT_EQ(r.results.ck.ndens, 1);
  EXPECT_EQ(r.results.ck.densityName(), "Total SCF Density");
}

TEST(TolerantReader, ChargeMultiplicityAndBasisFromTheFileOrDerived) {
  mvtest::HandMadeH2 h = h2();
  mvtest::LibraryRun r = mvtest::analyseText(h.text(), commandLine());
  EXPECT_EQ(r.results.ck.moleculeCharge(), 0);
  EXPECT_EQ(r.results.ck.moleculeMultiplicity(), 1);
  EXPECT_EQ(r.results.ck.calc.basis, "STO-3G");
  h.add("q", mvtest::fchkIntScalar("Charge", -3));
  h.add("m", mvtest::fchkIntScalar("Multiplicity", 5));
  r = mvtest::analyseText(h.text(), commandLine());
  EXPECT_EQ(r.results.ck.moleculeCharge(), -3);
  EXPECT_EQ(r.results.ck.moleculeMultiplicity(), 5);
}

}  // namespace
