// The scratch copy "Tmp" of the checkpoint file and the scanning operations
// that work on it.
//
// The checkpoint file is read exactly once, by the copy.  Every line of the
// copy is exactly 80 characters (the first 80 of the input line, padded with
// blanks).  All later reading works on the copy: it is kept in memory as well
// as written to "Tmp", and a cursor stands at the start of a line.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace mv {

inline constexpr int kLineWidth = 80;
inline constexpr const char* kInputName = "Test.FChk";
inline constexpr const char* kScratchName = "Tmp";

class Scratch {
 public:
  // Copy the input file into the scratch file (both in the working
  // directory unless paths are given); returns the number of lines copied.
  // An absent input file is created empty and gives 0 lines.
  int copyFrom(const std::string& inPath = kInputName, const std::string& tmpPath = kScratchName);
  // Load the copy straight from text (in-process runs, tests, fuzzing); the
  // same 80-column rule applies.  Nothing is written to disk.
  int loadText(std::string_view text);

  int lineCount() const { return nlines_; }
  void rewind() { cur_ = 0; }
  // Next line (80 characters) or false at the end of the copy.
  bool next(std::string_view& line);
  // Step back one line.
  void back() {
    if (cur_ > 0) --cur_;
  }
  // Stand before line k (1-based); k = lineCount() + 1 is the end of the copy.
  void seek(int k) { cur_ = k < 1 ? 0 : (k > nlines_ ? nlines_ : k - 1); }
  bool atEnd() const { return cur_ >= nlines_; }
  // Line k (1-based), 80 characters.
  std::string_view line(int k) const {
    return std::string_view(buf_.data() + static_cast<std::size_t>(k - 1) * kLineWidth, kLineWidth);
  }
  // 1-based number of the line the cursor stands on (the next to be read).
  int position() const { return cur_ + 1; }
  const std::string& name() const { return name_; }

 private:
  void addLine(std::string_view raw);
  std::vector<char> buf_;  // nlines_ * 80 characters
  int nlines_ = 0;
  int cur_ = 0;
  std::string name_ = kScratchName;
};

// The scratch copy of this run.
extern Scratch tmp;

// Outcome of a free-format read request.
enum class ReadStatus { Ok, Error, End };

struct ReadResult {
  ReadStatus status = ReadStatus::Ok;
  int count = 0;       // items taken (values stored or left null) before the request ended
  std::string detail;  // what went wrong, for the diagnostic
};

// Free-format reader: read n items from the cursor of the scratch copy into
// v[0..n-1].  Null values and a "/" leave items as they were.  After the
// n-th value the rest of its line is skipped.  Errors and the end of the
// file are passed back to the caller.
ReadResult readFree(Scratch& s, int n, int* v);
ReadResult readFree(Scratch& s, int n, double* v);
// The same for rows * cols reals stored column after column into a matrix of
// leading dimension ld: item q goes to a[(q % rows) + (q / rows) * ld].
ReadResult readFreeColumns(Scratch& s, int rows, int cols, double* a, int ld);

// Section search: rewind the copy and read until a line begins with the
// label (12, 16 or 24 characters); the copy then stands just after it.
// At the end of the copy the run stops with code "1000".
void findlab(std::string_view label);
// After findlab: the integer in columns 56-61 of the label line ("(55X,I6)").
int getint();
// After findlab: the real in columns 46-75 of the label line ("(45X,D30.10)").
double getreal();
// After findlab: n values in free format from the following lines.  A bad
// value or the end of the file is an input error naming `what`.
void getlist(int n, int* v, std::string_view what);
void getlist(int n, double* v, std::string_view what);

// Fixed-field readers: the field of width w starting at column `col`
// (1-based) of line, blanks ignored, a short line read as padded with blanks.
// Return false when the field does not hold a number of that kind.
bool readIntField(std::string_view line, int col, int w, int& value);
bool readRealField(std::string_view line, int col, int w, int d, double& value);

}  // namespace mv
