// Fuzz target: the whole pipeline, in-process, on arbitrary bytes as the
// checkpoint file.  Every input must end in a complete report with finite
// numbers, or in a stop; anything else (a crash, a sanitizer report, a
// non-finite number in a complete report) is a finding.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <sstream>
#include <string_view>

#include "checkpoint/scratch.h"
#include "driver/report.h"
#include "driver/run.h"
#include "driver/stop.h"
#include "tables.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::ostringstream out, err;
  mv::setReportStream(&out);
  mv::setErrorStream(&err);
  mv::resetTables();
  mv::tmp.loadText(std::string_view(reinterpret_cast<const char*>(data), size));
  bool complete = false;
  try {
    mv::mainRoutine(false);
    complete = true;
  } catch (const mv::Stop&) {
  } catch (const mv::InputError&) {
  }
  mv::setReportStream(nullptr);
  mv::setErrorStream(nullptr);
  if (complete) {
    // Only the analysis part: the echoed title line may hold any text.
    const std::string all = out.str();
    const std::size_t at = all.find("Mulliken populations");
    const std::string rep = at == std::string::npos ? all : all.substr(at);
    // A complete report never prints a non-finite number.
    if (rep.find("nan") != std::string::npos || rep.find("NAN") != std::string::npos ||
        rep.find("NaN") != std::string::npos || rep.find("INF") != std::string::npos ||
        rep.find("inf") != std::string::npos)
      std::abort();
  }
  return 0;
}
