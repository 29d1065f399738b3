// Compressed input on the command line: a file compressed with gzip or xz,
// named as the user likes or given on standard input, gives the output of
// the plain file; a damaged one is refused with one diagnostic.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "support/testutil.h"

namespace fs = std::filesystem;
using mvtest::dataPath;
using mvtest::readFile;

namespace {

using Outcome = mvtest::RunResult;

// `mirvante ARGS < IN` in `dir`.
Outcome run(const std::string& dir, const std::string& args, const std::string& in = "/dev/null") {
  return mvtest::runShell(mvtest::shellQuote(MV_PROGRAM) + " " + args, dir, in);
}

bool sh(const std::string& cmd) {
  return std::system(cmd.c_str()) == 0;
}

TEST(CompressedInput, GivesTheOutputOfThePlainFile) {
  const std::string dir = mvtest::makeTempDir("mvgz");
  // A closed shell, a spin-unrestricted file, and one large enough to be
  // split into lines on several threads.
  for (const std::string name : {"h2o_mp2_ccpvdz", "ch3_uhf_631gs", "c10h8_rhf_ccpvtz_cart"}) {
    fs::copy_file(dataPath(name + ".fchk"), dir + "/plain.fchk",
                  fs::copy_options::overwrite_existing);
    // The names say nothing: the content decides.
    if (!sh("cd '" + dir + "' && gzip -c plain.fchk > packed1 && xz -c plain.fchk > packed2"))
      GTEST_SKIP() << "gzip or xz not available";
    const bool large = name == "c10h8_rhf_ccpvtz_cart";  // slow: one form only
    for (const std::string options : {"-j 2", "--json"}) {
      if (large && options == "--json") continue;
      const Outcome plain = run(dir, options + " plain.fchk");
      ASSERT_EQ(plain.status, 0) << name << plain.err;
      for (const std::string packed : {"packed1", "packed2"}) {
        Outcome r = run(dir, options + " " + packed);
        EXPECT_EQ(r.status, 0) << name << " " << packed;
        EXPECT_EQ(r.err, "") << name << " " << packed;
        std::string expected = plain.out;
        if (options == "--json") {
          // The file name is the one difference.
          const std::size_t at = expected.find("plain.fchk");
          ASSERT_NE(at, std::string::npos);
          expected.replace(at, 10, packed);
        }
        EXPECT_EQ(r.out, expected) << name << " " << packed << " " << options;
        // Standard input: compressed and plain give the same.
        if (large) continue;
        r = run(dir, options + " -", packed);
        const Outcome plainIn = run(dir, options + " -", "plain.fchk");
        EXPECT_EQ(r.status, 0) << name << " " << packed;
        EXPECT_EQ(r.out, plainIn.out) << name << " " << packed << " " << options << " stdin";
      }
    }
  }
  fs::remove_all(dir);
}

TEST(CompressedInput, DamagedStreamsGetOneDiagnostic) {
  const std::string dir = mvtest::makeTempDir("mvgzbad");
  fs::copy_file(dataPath("h2o_mp2_ccpvdz.fchk"), dir + "/plain.fchk");
  if (!sh("cd '" + dir + "' && gzip -c plain.fchk > x.gz && xz -c plain.fchk > x.xz"))
    GTEST_SKIP() << "gzip or xz not available";
  // Cut both in half.
  for (const std::string f : {"x.gz", "x.xz"})
    fs::resize_file(dir + "/" + f, fs::file_size(dir + "/" + f) / 2);
  struct Case {
    std::string args, in, err;
  };
  const std::vector<Case> cases = {
      {"x.gz", "/dev/null",
       "mirvante: x.gz: truncated gzip stream: it ends before its last block\n"},
      {"x.xz", "/dev/null", "mirvante: x.xz: truncated xz stream: it ends before its last block\n"},
      {"-", "x.xz",
       "mirvante: standard input: truncated xz stream: it ends before its last block\n"},
  };
  for (const Case& c : cases) {
    const Outcome r = run(dir, c.args, c.in);
    EXPECT_EQ(r.status, 1) << c.args;
    EXPECT_EQ(r.err, c.err) << c.args;
  }
  fs::remove_all(dir);
}

}  // namespace
