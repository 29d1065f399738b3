#include "core/stop.h"

#include <string_view>
#include <utility>

namespace mv {

std::string Stop::message() const {
  if (!detail.empty()) return detail;
  std::string m;
  for (const std::string& r : records) {
    const std::size_t b = r.find_first_not_of(' ');
    if (b == std::string::npos) continue;
    if (!m.empty()) m += ' ';
    m.append(r, b, std::string::npos);
  }
  return m;
}

std::string Stop::diagnostic() const {
  std::string m = message();
  auto trimEnd = [&m](std::string_view chars) {
    const std::size_t e = m.find_last_not_of(chars);
    m.erase(e == std::string::npos ? 0 : e + 1);
  };
  trimEnd(" ");
  for (const std::string_view tail : {"STOP.", "STOP"}) {
    if (m.size() > tail.size() && m.ends_with(tail) && m[m.size() - tail.size() - 1] == ' ') {
      m.erase(m.size() - tail.size());
      trimEnd(" ,-");
      break;
    }
  }
  return m;
}

void stopCode(const std::string& code, const std::string& detail) {
  Stop s;
  s.code = code;
  s.detail = detail;
  throw s;
}

void stopPlain(std::vector<std::string> records) {
  Stop s;
  s.records = std::move(records);
  throw s;
}

void refuse(const std::string& message, const std::string& code, int line) {
  Stop s;
  s.code = code;
  s.records = {message};
  s.line = line;
  throw s;
}

void inputError(const std::string& file, int line, const std::string& error) {
  Stop s;
  s.detail = error;
  s.file = file;
  s.line = line;
  s.status = kStatusInputError;
  throw s;
}

}  // namespace mv
