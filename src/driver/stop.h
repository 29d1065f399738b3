// The ways a run ends early.
//
// A stage that finds a fault writes its message (if any) to the report and
// raises a Stop; the main routine turns it into the process ending.  Keeping
// the stop one exception type lets every stage run in-process under test.
#pragma once

#include <string>

namespace mv {

// Exit statuses of the process.
inline constexpr int kStatusOk = 0;          // the report is complete
inline constexpr int kStatusStopped = 1;     // a refusal or a fault ended the run
inline constexpr int kStatusInputError = 2;  // an input error that no stage handles

// Stop codes of the faults this program adds to the classic ones
// ("9999", "1000", "7777", "4358", "968", "7865", "1212", "7584", "7585").
inline constexpr const char* kCodeLimit = "8100";          // a count beyond a table
inline constexpr const char* kCodeBadValue = "8200";       // a value that cannot be analysed
inline constexpr const char* kCodeBadIndex = "8300";       // a count or an index out of range
inline constexpr const char* kCodeZeroFunction = "8400";   // a contraction of zero norm
inline constexpr const char* kCodeNoDensity = "8500";      // no total density in the file
inline constexpr const char* kCodeSingularS = "8600";      // overlap matrix not positive definite
inline constexpr const char* kCodeNoConvergence = "8700";  // eigen-solver sweep limit

// A stop: with a code ("STOP <code> statement executed" on standard error)
// or plain (code empty, nothing on standard error).
struct Stop {
  std::string code;
  int status = kStatusStopped;
};

// An input error that no stage handles: the diagnostic names the operation,
// the error and the file concerned.
struct InputError {
  std::string operation;
  std::string error;
  std::string file;
};

// Stop with a code; the status is 1 (the run ended on a fault or a refusal).
[[noreturn]] void stopCode(const std::string& code);
// Plain stop after a fault message: nothing on standard error, status 1.
[[noreturn]] void stopPlain();
// Write `message` as a free-format record of the report, then stop with `code`.
[[noreturn]] void refuse(const std::string& message, const std::string& code);
// Raise an input error.
[[noreturn]] void inputError(const std::string& operation, const std::string& error,
                             const std::string& file);

}  // namespace mv
