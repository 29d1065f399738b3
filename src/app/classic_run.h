// The run without arguments: the file "Test.FChk" in the working directory,
// its scratch copy "Tmp", the report on standard output.
#pragma once

#include <ostream>
#include <string>

namespace mv {

inline constexpr const char* kInputName = "Test.FChk";
inline constexpr const char* kScratchName = "Tmp";

// Run in `dir` (the working directory when empty): the report goes to out,
// stop lines and diagnostics to err.  Returns the exit status.
int runClassic(std::ostream& out, std::ostream& err, const std::string& dir = "");

// The diagnostic line of a stop that is an input or output error.
std::string errorLine(const std::string& file, int line, const std::string& message);

}  // namespace mv
