// The two writers of the report.
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

// Format the items under a layout; returns the records, each ended by '\n'.
std::string formatLayout(std::string_view layout, const Items& items = {});
// Format one free-format write request; returns its records, each ended by '\n'.
std::string formatFree(const Items& items);

// Write the records to a stream.
void writeLayout(std::ostream& out, std::string_view layout, const Items& items = {});
void writeFree(std::ostream& out, const Items& items);

}  // namespace mv
