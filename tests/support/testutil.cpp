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

std::string shellQuote(const std::string& s) {
  std::string q = "'";
  for (char c : s) q += c == '\'' ? std::string("'\\''") : std::string(1, c);
  return q + "'";
}

RunResult runShell(const std::string& command, const std::string& dir, const std::string& in) {
  const std::string io = makeTempDir("mvio");
  std::string cmd = "cd " + shellQuote(dir) + " && timeout 300 " + command;
  if (!in.empty()) cmd += " <" + shellQuote(in);
  cmd += " >" + shellQuote(io + "/out") + " 2>" + shellQuote(io + "/err");
  const int rc = std::system(cmd.c_str());
  RunResult r;
  r.dir = dir;
  r.status = WIFEXITED(rc) ? WEXITSTATUS(rc) : 128 + WTERMSIG(rc);
  r.out = readFile(io + "/out");
  r.err = readFile(io + "/err");
  fs::remove_all(io);
  return r;
}

RunResult runArgs(const std::vector<std::string>& args, const std::string& dir,
                  const std::string& in) {
  std::string command = shellQuote(MV_PROGRAM);
  for (const std::string& a : args) command.append(" ").append(shellQuote(a));
  return runShell(command, dir, in);
}

std::set<std::string> listing(const std::string& dir) {
  std::set<std::string> names;
  for (const auto& e : fs::directory_iterator(dir)) names.insert(e.path().filename().string());
  return names;
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
