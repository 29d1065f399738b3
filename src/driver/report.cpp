// PLACEHOLDER until the layout writer lands: streams only.
#include "driver/report.h"

#include <iostream>
#include <stdexcept>

namespace mv {

namespace {
std::ostream* reportOs = nullptr;
std::ostream* errorOs = nullptr;
}  // namespace

std::ostream& reportStream() { return reportOs ? *reportOs : std::cout; }
void setReportStream(std::ostream* os) { reportOs = os; }
std::ostream& errorStream() { return errorOs ? *errorOs : std::cerr; }
void setErrorStream(std::ostream* os) { errorOs = os; }

std::string formatLayout(std::string_view, const Items&) {
  throw std::logic_error("layout writer not built yet");
}
std::string formatFree(const Items&) { throw std::logic_error("free writer not built yet"); }
void writeLayout(std::string_view layout, const Items& items) {
  reportStream() << formatLayout(layout, items);
}
void writeFree(const Items& items) { reportStream() << formatFree(items); }

}  // namespace mv
