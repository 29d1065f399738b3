#include "driver/stop.h"

#include "driver/report.h"

namespace mv {

void stopCode(const std::string& code) {
  throw Stop{code, kStatusStopped};
}

void stopPlain() {
  throw Stop{std::string(), kStatusStopped};
}

void refuse(const std::string& message, const std::string& code) {
  writeFree({Item(message)});
  stopCode(code);
}

void inputError(const std::string& operation, const std::string& error, const std::string& file) {
  throw InputError{operation, error, file};
}

}  // namespace mv
