// What a stage, or a run through the library, left behind: the records it
// wrote to the report and the stop that ended it, if any.
#pragma once

#include <optional>
#include <sstream>
#include <string>
#include <vector>

#include "app/pipeline.h"
#include "core/stop.h"
#include "report/text_report.h"

namespace mvtest {

struct StageOutcome {
  std::string out;               // the report records, the stop's own records included
  std::optional<mv::Stop> stop;  // how it ended early (none: it returned)

  bool stopped() const { return stop.has_value(); }
  // The stop code; "" for a plain stop or a normal return.
  std::string code() const { return stop ? stop->code : std::string(); }
  bool inputError() const { return stop && stop->isError(); }
  std::vector<std::string> lines() const;
};

// Call f(report) with a TextReport on a string stream.  A Stop thrown by f
// is caught, and its records are rendered as the front end renders them.
template <typename F>
StageOutcome runStage(F&& f) {
  StageOutcome o;
  std::ostringstream out;
  mv::TextReport report(out);
  try {
    f(report);
  } catch (const mv::Stop& s) {
    report.stop(s);
    o.stop = s;
  }
  o.out = out.str();
  return o;
}

// A whole analysis through the library: the banner, then mv::analyse on
// `text` (named Test.FChk) with the given options, every record rendered.
struct LibraryRun {
  StageOutcome outcome;
  mv::RunResults results;
};
LibraryRun analyseText(const std::string& text, const mv::RunOptions& options = {});

}  // namespace mvtest
