#include "support/testutil.h"

#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>

namespace fs = std::filesystem;

namespace mvtest {

std::string dataPath(const std::string& name) {
  return std::string(MV_TEST_DATA) + "/" + name;
}

std::string examplePath(const std::string& name) {
  return std::string(MV_EXAMPLES) + "/" + name;
}

std::string readFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream ss;
  ss << in.rdbuf();
  return ss.str();
}

void writeFile(const std::string& path, const std::string& text) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out << text;
}

std::string extraDir() {
  const char* e = std::getenv("MIRVANTE_EXTRA_FCHK");
  if (e == nullptr || *e == '\0' || !fs::is_directory(e)) return "";
  return e;
}

std::vector<std::string> listFiles(const std::string& dir, const std::string& suffix) {
  std::vector<std::string> v;
  if (dir.empty() || !fs::is_directory(dir)) return v;
  for (const auto& e : fs::directory_iterator(dir)) {
    std::string p = e.path().string();
    if (e.is_regular_file() && p.size() >= suffix.size() &&
        p.compare(p.size() - suffix.size(), suffix.size(), suffix) == 0)
      v.push_back(p);
  }
  std::sort(v.begin(), v.end());
  return v;
}

std::string makeTempDir(const std::string& prefix) {
  std::string tmpl = (fs::temp_directory_path() / (prefix + "XXXXXX")).string();
  return mkdtemp(tmpl.data()) ? tmpl : std::string();
}

RunResult runProgram(const std::string& fchk, bool withFile) {
  const std::string dir = makeTempDir("mvrun");
  if (dir.empty()) return RunResult();
  if (withFile) writeFile(dir + "/Test.FChk", fchk);
  return runProgramIn(dir);
}

RunResult runProgramIn(const std::string& dir, const std::string& redirect) {
  RunResult r;
  r.dir = dir;
  std::string cmd = "cd '" + r.dir + "' && timeout 120 '" + MV_PROGRAM + "' " +
                    (redirect.empty() ? ">stdout.txt" : redirect) + " 2>stderr.txt </dev/null";
  int rc = std::system(cmd.c_str());
  r.status = WIFEXITED(rc) ? WEXITSTATUS(rc) : 128 + WTERMSIG(rc);
  r.out = readFile(r.dir + "/stdout.txt");
  r.err = readFile(r.dir + "/stderr.txt");
  return r;
}

std::vector<std::string> lines(const std::string& text) {
  std::vector<std::string> v;
  std::string cur;
  for (char ch : text) {
    if (ch == '\n') {
      v.push_back(cur);
      cur.clear();
    } else {
      cur += ch;
    }
  }
  if (!cur.empty()) v.push_back(cur);
  return v;
}

}  // namespace mvtest
