#include "checkpoint/detect.h"

#include <algorithm>
#include <cctype>
#include <string>

#include "core/stop.h"

namespace mv {

namespace {

// The first bytes looked at for binary content: enough for any header, and
// a binary file shows its nature long before.
constexpr std::size_t kSniff = 65536;

bool isBinary(std::string_view b) {
  const std::string_view head = b.substr(0, kSniff);
  std::size_t control = 0;
  for (const char ch : head) {
    const auto c = static_cast<unsigned char>(ch);
    if (c == 0) return true;
    if (c < 0x20 && c != '\t' && c != '\n' && c != '\r' && c != '\f' && c != '\v') ++control;
  }
  // Text has no control characters beyond the odd stray one.
  return control * 100 > head.size();
}

// Text in UTF-16: a byte-order mark, or zero bytes in every other place
// with printable ASCII between them.
bool isUtf16(std::string_view b) {
  if (b.substr(0, 2) == "\xFF\xFE" || b.substr(0, 2) == "\xFE\xFF") return true;
  const std::size_t n = std::min<std::size_t>(b.size(), 512) & ~std::size_t{1};
  if (n < 16) return false;
  for (std::size_t zero = 0; zero < 2; ++zero) {
    bool alternating = true;
    for (std::size_t i = 0; i < n && alternating; i += 2) {
      const auto z = static_cast<unsigned char>(b[i + zero]);
      const auto c = static_cast<unsigned char>(b[i + 1 - zero]);
      alternating = z == 0 && c != 0 && c < 0x80;
    }
    if (alternating) return true;
  }
  return false;
}

// The first line that is not blank, without a byte-order mark.
std::string_view firstLine(std::string_view b) {
  if (b.substr(0, 3) == "\xEF\xBB\xBF") b.remove_prefix(3);
  while (!b.empty()) {
    const std::size_t e = b.find('\n');
    std::string_view l = b.substr(0, e);
    const std::size_t s = l.find_first_not_of(" \t\r");
    if (s != std::string_view::npos) return l.substr(s);
    if (e == std::string_view::npos) break;
    b.remove_prefix(e + 1);
  }
  return {};
}

// The first line that is neither blank nor a '#' comment, from its first
// non-blank character.
std::string_view firstContentLine(std::string_view b) {
  if (b.substr(0, 3) == "\xEF\xBB\xBF") b.remove_prefix(3);
  while (!b.empty()) {
    const std::size_t e = b.find('\n');
    std::string_view l = b.substr(0, e);
    const std::size_t s = l.find_first_not_of(" \t\r");
    if (s != std::string_view::npos && l[s] != '#') return l.substr(s);
    if (e == std::string_view::npos) break;
    b.remove_prefix(e + 1);
  }
  return {};
}

// Line 2 of the text, as it stands.
std::string_view secondLine(std::string_view b) {
  const std::size_t e = b.find('\n');
  if (e == std::string_view::npos) return {};
  b.remove_prefix(e + 1);
  return b.substr(0, b.find('\n'));
}

bool startsWithNoCase(std::string_view s, std::string_view prefix) {
  if (s.size() < prefix.size()) return false;
  for (std::size_t i = 0; i < prefix.size(); ++i)
    if (std::tolower(static_cast<unsigned char>(s[i])) != prefix[i]) return false;
  return true;
}

[[noreturn]] void refuseKind(const std::string& what) {
  stopPlain({" " + what + ": " + std::string(kWhatIsRead)});
}

}  // namespace

const char* formatName(FileFormat f) {
  switch (f) {
    case FileFormat::Molden:
      return "molden";
    case FileFormat::Wfn:
      return "wfn";
    case FileFormat::Wfx:
      return "wfx";
    case FileFormat::Mwfn:
      return "mwfn";
    case FileFormat::Arrays:
      return "arrays";
    default:
      return "fchk";
  }
}

FileFormat detectFormat(std::string_view bytes) {
  if (bytes.find_first_not_of(" \t\r\n\f\v") == std::string_view::npos)
    refuseKind(bytes.empty() ? "the file is empty" : "the file holds only blanks");
  if (bytes.substr(0, 5) == "%PDF-") refuseKind("a PDF document");
  if (isUtf16(bytes))
    refuseKind(
        "text in UTF-16, not in ASCII or UTF-8 (convert it first, for example with iconv "
        "-f UTF-16 -t UTF-8)");
  if (isBinary(bytes))
    refuseKind(
        "binary data, not text (a binary Gaussian checkpoint, .chk, must first be converted "
        "with formchk)");
  if (startsWithNoCase(firstLine(bytes), "[molden format]")) return FileFormat::Molden;
  const std::string_view content = firstContentLine(bytes);
  if (content.substr(0, 1) == "<") return FileFormat::Wfx;
  if (startsWithNoCase(content, "wfntype")) return FileFormat::Mwfn;
  const std::string_view second = secondLine(bytes);
  if (second.find("MOL ORBITALS") != std::string_view::npos &&
      second.find("PRIMITIVES") != std::string_view::npos &&
      second.find("NUCLEI") != std::string_view::npos)
    return FileFormat::Wfn;
  return FileFormat::Fchk;
}

}  // namespace mv
