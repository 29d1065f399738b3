// Reading numbers from checkpoint text: the free-format reader of arrays,
// and the fixed-field readers of scalars on label lines.
#pragma once

#include <string>
#include <string_view>

#include "checkpoint/text.h"
#include "core/matrix.h"

namespace mv {

// Outcome of a free-format read request.
enum class ReadStatus { Ok, Error, End };

struct ReadResult {
  ReadStatus status = ReadStatus::Ok;
  long long count = 0;  // items taken (stored or left null) before the request ended
  std::string detail;   // what went wrong
  int line = 0;         // the line where it went wrong (0: at the end of the text)
  int next = 0;         // the first line after the request
  std::string rest;     // text after the last value on its line, blanks dropped at both ends
};

// Read n items in free format starting at line `first`: values separated by
// blanks, tabs, line ends or one comma; "r*v" for r copies of v, "r*" for r
// null values; a null value or a "/" leaves items as they were; reals with
// an optional exponent introduced by E, D or Q.  After the n-th value the
// rest of its line is skipped (and passed back in `rest`).  Text where a value is expected and the
// end of the text are passed back to the caller.
ReadResult readInts(const CheckpointText& t, int first, long long n, int* v);
ReadResult readReals(const CheckpointText& t, int first, long long n, double* v);
// The same for rows * cols reals stored column after column into a.
ReadResult readRealColumns(const CheckpointText& t, int first, int rows, int cols, MatView a);

// Fixed-field readers: the field of width w starting at column `col`
// (1-based) of line, blanks ignored, a short line read as padded with
// blanks, an all-blank field read as zero.  A real without a decimal point
// has its last d digits as decimals.  False when the field does not hold a
// number of that kind.
bool readIntField(std::string_view line, int col, int w, int& value);
bool readRealField(std::string_view line, int col, int w, int d, double& value);

// The text of a field or token in quotes, for messages.
std::string quoted(std::string_view t);

}  // namespace mv
