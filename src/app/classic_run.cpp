#include "app/classic_run.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <new>

#include "app/pipeline.h"
#include "checkpoint/text.h"
#include "core/stop.h"
#include "report/text_report.h"

namespace mv {

namespace {

// "Test.FChk" as the reader sees it.  An absent file is left behind empty
// and has no lines (the run then stops as for a missing file); a file that
// exists but cannot be read is an input error naming the system's reason.
CheckpointText openInput(const std::string& path) {
  std::FILE* f = std::fopen(path.c_str(), "rb");
  if (f == nullptr) {
    if (errno != ENOENT)
      inputError(kInputName, 0, std::string("cannot open: ") + std::strerror(errno));
    std::FILE* created = std::fopen(path.c_str(), "ab");
    if (created != nullptr) std::fclose(created);
    return CheckpointText::fromString("", kInputName);
  }
  std::fclose(f);
  return CheckpointText::fromFile(path, kInputName);
}

}  // namespace

std::string errorLine(const std::string& file, int line, const std::string& message) {
  std::string s = "mirvante: ";
  s.append(file);
  if (line > 0) s.append(":").append(std::to_string(line));
  return s.append(": ").append(message);
}

int runClassic(std::ostream& out, std::ostream& err, const std::string& dir) {
  const std::string at = dir.empty() ? "" : dir + "/";
  TextReport report(out);
  RunResults results;
  RunOptions options;
  options.limits = Limits::classicRun();
  int status = kStatusOk;
  try {
    report.banner();
    CheckpointText text = openInput(at + kInputName);
    text.writeCopy(at + kScratchName);
    analyse(std::move(text), options, results, &report);
  } catch (const Stop& s) {
    report.stop(s);
    out.flush();
    if (s.isError()) {
      err << errorLine(s.file.empty() ? kInputName : s.file, s.line, s.message()) << '\n';
      status = kStatusInputError;
    } else {
      if (!s.code.empty()) err << "STOP " << s.code << " statement executed\n";
      status = kStatusStopped;
    }
  } catch (const std::bad_alloc&) {
    out.flush();
    err << errorLine(kInputName, 0, "out of memory") << '\n';
    status = kStatusInputError;
  }
  out.flush();
  err.flush();
  return status;
}

}  // namespace mv
