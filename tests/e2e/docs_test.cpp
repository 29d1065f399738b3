// The commands the README and the pages of doc/ show: every option they
// use is one the program lists in --help, so that no page keeps an option
// that was renamed or removed.
#include <gtest/gtest.h>

#include <filesystem>
#include <sstream>
#include <string>
#include <vector>

#include "support/testutil.h"

namespace {

namespace fs = std::filesystem;

// The words of the program's invocations on the code lines (indented by
// four blanks) of a Markdown page, up to a shell operator or a comment.
std::vector<std::vector<std::string>> invocations(const std::string& text) {
  std::vector<std::vector<std::string>> out;
  for (const std::string& line : mvtest::lines(text)) {
    if (line.rfind("    ", 0) != 0) continue;
    std::istringstream words(line);
    std::string w;
    std::vector<std::string>* cmd = nullptr;
    while (words >> w) {
      if (w == "|" || w == ">" || w == "<" || w == "&&" || w == ";" || w[0] == '#') {
        cmd = nullptr;
        continue;
      }
      if (w == "mirvante" || (w.size() > 9 && w.substr(w.size() - 9) == "/mirvante")) {
        out.emplace_back();
        cmd = &out.back();
        continue;
      }
      if (cmd != nullptr) cmd->push_back(w);
    }
  }
  return out;
}

TEST(Docs, EveryOptionShownIsOneTheProgramHas) {
  const mvtest::RunResult help =
      mvtest::runShell(mvtest::shellQuote(MV_PROGRAM) + " --help", mvtest::makeTempDir("mvdocs"));
  ASSERT_EQ(help.status, 0);
  const fs::path root = fs::path(MV_EXAMPLES).parent_path();
  std::vector<fs::path> pages = {root / "README.md"};
  for (const auto& e : fs::directory_iterator(root / "doc"))
    if (e.path().extension() == ".md") pages.push_back(e.path());
  ASSERT_GE(pages.size(), 6u);
  int checked = 0;
  for (const fs::path& page : pages) {
    SCOPED_TRACE(page.string());
    for (const auto& cmd : invocations(mvtest::readFile(page.string())))
      for (const std::string& w : cmd) {
        if (w.size() < 2 || w[0] != '-' || w == "--") continue;
        const std::string option = w.substr(0, w.find('='));
        EXPECT_NE(help.out.find(option), std::string::npos) << option;
        ++checked;
      }
  }
  EXPECT_GE(checked, 15);  // the extraction found the pages' commands
}

}  // namespace
