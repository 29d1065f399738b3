#include "support/fchktext.h"

#include <cstdio>
#include <cstdlib>

namespace mvtest {

std::string fchkIntScalar(const std::string& label, long long v) {
  char b[128];
  std::snprintf(b, sizeof b, "%-43sI%17lld\n", label.c_str(), v);
  return b;
}

std::string fchkRealScalar(const std::string& label, double v) {
  char b[128];
  std::snprintf(b, sizeof b, "%-43sR     %22.15E\n", label.c_str(), v);
  return b;
}

std::string fchkIntArray(const std::string& label, const std::vector<int>& v) {
  char b[128];
  std::snprintf(b, sizeof b, "%-43sI   N=%12zu\n", label.c_str(), v.size());
  std::string s = b;
  for (std::size_t k = 0; k < v.size(); ++k) {
    std::snprintf(b, sizeof b, "%12d", v[k]);
    s += b;
    if (k % 6 == 5 || k + 1 == v.size()) s += "\n";
  }
  return s;
}

std::string fchkRealArrayLabel(const std::string& label, int n) {
  char b[128];
  std::snprintf(b, sizeof b, "%-43sR   N=%12d", label.c_str(), n);
  return b;
}

std::string fchkRealValues(const std::vector<double>& v) {
  std::string s;
  char b[32];
  for (std::size_t k = 0; k < v.size(); ++k) {
    std::snprintf(b, sizeof b, "%16.8E", v[k]);
    s += b;
    if (k % 5 == 4 || k + 1 == v.size()) s += "\n";
  }
  return s;
}

std::string fchkRealArray(const std::string& label, const std::vector<double>& v) {
  return fchkRealArrayLabel(label, static_cast<int>(v.size())) + "\n" + fchkRealValues(v);
}

namespace {

// Offset of the first line that begins with `label`, or npos.
std::size_t findLine(const std::string& text, const std::string& label) {
  if (text.compare(0, label.size(), label) == 0) return 0;
  const std::size_t at = text.find("\n" + label);
  return at == std::string::npos ? at : at + 1;
}

}  // namespace

std::vector<double> fchkArray(const std::string& text, const std::string& label, int n) {
  std::vector<double> v;
  const std::size_t at = findLine(text, label);
  if (at == std::string::npos) return v;
  std::size_t eol = text.find('\n', at);
  if (eol == std::string::npos) eol = text.size();
  if (n < 0) {
    const std::size_t count = text.find("N=", at);
    if (count == std::string::npos || count > eol) return v;
    n = std::atoi(text.c_str() + count + 2);
  }
  const char* p = text.c_str() + eol;
  while (static_cast<int>(v.size()) < n) {
    char* end = nullptr;
    const double x = std::strtod(p, &end);
    if (end == p) break;
    v.push_back(x);
    p = end;
  }
  return v;
}

int fchkScalar(const std::string& text, const std::string& label) {
  const std::size_t at = findLine(text, label);
  if (at == std::string::npos) return -1;
  std::size_t eol = text.find('\n', at);
  if (eol == std::string::npos) eol = text.size();
  const std::size_t sp = text.rfind(' ', eol - 1);
  return std::atoi(text.c_str() + sp + 1);
}

}  // namespace mvtest
