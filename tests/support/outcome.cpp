#include "support/outcome.h"

#include "checkpoint/text.h"
#include "support/testutil.h"

namespace mvtest {

std::vector<std::string> StageOutcome::lines() const {
  return mvtest::lines(out);
}

LibraryRun analyseText(const std::string& text, const mv::RunOptions& options) {
  LibraryRun run;
  run.outcome = runStage([&](mv::TextReport& report) {
    report.banner();
    mv::analyse(mv::CheckpointText::fromString(text, "Test.FChk"), options, run.results, &report);
  });
  return run;
}

}  // namespace mvtest
