// Helpers shared by the test suites.
#pragma once

#include <set>
#include <string>
#include <vector>

namespace mvtest {

// Path of a file of the bundled test data.
std::string dataPath(const std::string& name);
// Path of a file of the bundled examples (examples/NAME/...), whose stored
// reports are also the golden reports of the suite.
std::string examplePath(const std::string& name);
// Whole contents of a file ("" when it cannot be read).
std::string readFile(const std::string& path);
void writeFile(const std::string& path, const std::string& text);
// A fresh directory under the system's temporary directory, its name
// `prefix` plus a unique suffix; "" when it cannot be made.
std::string makeTempDir(const std::string& prefix);
// Directory of the real Gaussian checkpoint files (MIRVANTE_EXTRA_FCHK), or
// "" when unset; tests that need it skip then.
std::string extraDir();
// The files with the given suffix in a directory, sorted by name.
std::vector<std::string> listFiles(const std::string& dir, const std::string& suffix);

// Result of running the built program.
struct RunResult {
  std::string out;
  std::string err;
  int status = -1;
  std::string dir;  // the directory it ran in (kept for inspection)
};
// Run the built program in a fresh temporary directory holding `fchk` as
// Test.FChk (no Test.FChk at all when withFile is false).
RunResult runProgram(const std::string& fchk, bool withFile = true);
// Run the built program in `dir` as it stands; `redirect` replaces the
// redirection of standard output (">stdout.txt" otherwise).
RunResult runProgramIn(const std::string& dir, const std::string& redirect = "");

// Text in single quotes for the shell.
std::string shellQuote(const std::string& s);
// `command`, a line for the shell, run in `dir` with standard input from
// `in` (none given when empty); its output and messages are caught in files
// of their own, outside `dir`.
RunResult runShell(const std::string& command, const std::string& dir,
                   const std::string& in = "/dev/null");
// The built program with `args`, each quoted for the shell, run as above.
RunResult runArgs(const std::vector<std::string>& args, const std::string& dir,
                  const std::string& in = "/dev/null");
// The names of the entries of a directory.
std::set<std::string> listing(const std::string& dir);

// Split text into lines (without the newline characters).
std::vector<std::string> lines(const std::string& text);

}  // namespace mvtest
