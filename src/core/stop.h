// The ways a run ends early.
//
// A stage that finds a fault throws a Stop: plain data that says which stop
// it is (its code, or none), the records the report shows for it, and for
// diagnostics what happened and where.  The front end catches it at the top
// and turns it into the end of the report, the diagnostic and the status.
#pragma once

#include <string>
#include <vector>

namespace mv {

// Exit statuses of the process.
inline constexpr int kStatusOk = 0;          // the report is complete
inline constexpr int kStatusStopped = 1;     // a refusal or a fault ended the run
inline constexpr int kStatusInputError = 2;  // an input or output error that no stage handles

// Stop codes this program adds to the classic ones
// ("9999", "1000", "7777", "4358", "968", "7865", "1212", "7584", "7585").
inline constexpr const char* kCodeLimit = "8100";          // a count beyond a table
inline constexpr const char* kCodeBadValue = "8200";       // a value that cannot be analysed
inline constexpr const char* kCodeBadIndex = "8300";       // a count or an index out of range
inline constexpr const char* kCodeZeroFunction = "8400";   // a contraction of zero norm
inline constexpr const char* kCodeNoDensity = "8500";      // no total density in the file
inline constexpr const char* kCodeSingularS = "8600";      // overlap matrix not positive definite
inline constexpr const char* kCodeNoConvergence = "8700";  // eigen-solver sweep limit
inline constexpr const char* kCodeSpinDensity = "8800";    // spin density missing or wrong

struct Stop {
  std::string code;                  // the stop code; empty for a plain stop or an error
  std::vector<std::string> records;  // the message as report records, one text each
  std::string detail;                // what happened, when the records do not say it
  std::string file;                  // the input concerned, when known
  int line = 0;                      // the line of that input, when known
  int status = kStatusStopped;

  bool isError() const { return status == kStatusInputError; }
  // One line for a diagnostic: the detail, or else the records without
  // their leading blanks, joined by one blank.
  std::string message() const;
  // The message of the command line's diagnostic and JSON error, which give
  // the stop code apart: without the "STOP" that closes the records.
  std::string diagnostic() const;
};

// Stop with a code and no report record; `detail` says why, for diagnostics.
[[noreturn]] void stopCode(const std::string& code, const std::string& detail = "");
// Plain stop after the given report records.
[[noreturn]] void stopPlain(std::vector<std::string> records);
// One report record, then a stop with a code.
[[noreturn]] void refuse(const std::string& message, const std::string& code, int line = 0);
// An input or output error that no stage handles (status 2).
[[noreturn]] void inputError(const std::string& file, int line, const std::string& error);

}  // namespace mv
