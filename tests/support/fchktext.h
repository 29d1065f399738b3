// Writing and reading sections of a formatted checkpoint text, independently
// of the reader under test: hand-made files are assembled from these
// sections, and tests take the expected values straight out of a file.
#pragma once

#include <string>
#include <vector>

namespace mvtest {

// Sections in Gaussian's layout: the label padded to 43 columns, the type
// (I or R), then the value or the array length; integers six to a line,
// reals five to a line.
std::string fchkIntScalar(const std::string& label, long long v);
std::string fchkRealScalar(const std::string& label, double v);
std::string fchkIntArray(const std::string& label, const std::vector<int>& v);
std::string fchkRealArray(const std::string& label, const std::vector<double>& v);
// The label line of a real array of n values (no newline), and the values
// alone, for sections whose length disagrees with their values.
std::string fchkRealArrayLabel(const std::string& label, int n);
std::string fchkRealValues(const std::vector<double>& v);

// The values written under the first line that begins with `label`: n of
// them, or as many as the label line's "N=" gives when n is negative (none
// when that line has no count). Fewer when the numbers run out first.
std::vector<double> fchkArray(const std::string& text, const std::string& label, int n = -1);
// The integer at the end of the first line that begins with `label` (an
// integer scalar's value, or an array's length), or -1 when there is no such
// line.
int fchkScalar(const std::string& text, const std::string& label);

}  // namespace mvtest
