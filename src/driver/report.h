// The two writers of the report, the banner, the element symbols and the
// square-matrix printer.
//
// Every record of the report comes from one of two writers:
//  - the layout writer, which formats items under a record layout such as
//    "(1X,I3,A4,8F9.4)";
//  - the free-format writer, which places items one after another with fixed
//    rules for blanks and number formats and a line limit of 80 columns.
#pragma once

#include <initializer_list>
#include <ostream>
#include <string>
#include <string_view>
#include <vector>

namespace mv {

// One item of a write request: an integer, a double-precision real or a text.
struct Item {
  enum class Kind { Int, Real, Text };
  Kind kind;
  long long i = 0;
  double d = 0.0;
  std::string s;
  Item(int v) : kind(Kind::Int), i(v) {}
  Item(long long v) : kind(Kind::Int), i(v) {}
  Item(double v) : kind(Kind::Real), d(v) {}
  Item(const char* v) : kind(Kind::Text), s(v) {}
  Item(std::string v) : kind(Kind::Text), s(std::move(v)) {}
  Item(std::string_view v) : kind(Kind::Text), s(v) {}
};

using Items = std::vector<Item>;

// The stream that receives the report (standard output unless redirected,
// e.g. by a test).  Stop and signal messages go to errorStream().
std::ostream& reportStream();
void setReportStream(std::ostream* os);
std::ostream& errorStream();
void setErrorStream(std::ostream* os);

// Format the items under a layout; returns the records, each ended by '\n'.
std::string formatLayout(std::string_view layout, const Items& items = {});
// Format one free-format write request; returns its records, each ended by '\n'.
std::string formatFree(const Items& items);

// Write to the report stream.
void writeLayout(std::string_view layout, const Items& items = {});
void writeFree(const Items& items);

// Element symbol label of 4 characters for atomic number z ("  H ", " Sm ").
// Numbers outside 1..92 get " Bq " for 0 (a ghost atom), the standard
// symbols for 93..118 and "  ? " for anything else.
std::string mend(int z);

// The banner that opens every report.
void kiir();

// Print the n by n matrix a (column-major, leading dimension lda, 1-based
// as a(i, j) = a[(i-1) + (j-1)*lda]) in blocks of 8 columns with atom labels
// taken from the atomic numbers g.ia.
void mprint(const double* a, int n, int lda);

}  // namespace mv
