// The text of a checkpoint file as the reader sees it.
//
// Only the first 80 characters of a line are ever seen; a shorter line reads
// as if padded with blanks.  A line ends at a line feed, and a carriage
// return just before it belongs to the line end, so CRLF files read exactly
// like LF files.  The text is kept as its bytes with the offset of every
// line, not as padded 80-character records: the file's own size, and four
// (eight beyond 4 GB) bytes a line.
#pragma once

#include <algorithm>
#include <cstdint>
#include <istream>
#include <ostream>
#include <string>
#include <string_view>
#include <vector>

#include "checkpoint/input.h"
#include "core/parallel.h"

namespace mv {

inline constexpr int kLineWidth = 80;

// One line as the reader sees it: 80 characters, the part beyond the
// stored text read as blanks.  A view into the CheckpointText it came from.
class Line80 {
 public:
  explicit Line80(std::string_view text) : t_(text) {}
  static constexpr std::size_t size() { return kLineWidth; }
  char operator[](std::size_t i) const { return i < t_.size() ? t_[i] : ' '; }
  char back() const { return (*this)[kLineWidth - 1]; }
  // Characters pos .. pos + n - 1 (within the 80), blanks where the line is short.
  std::string substr(std::size_t pos, std::size_t n = kLineWidth) const;
  std::string str() const { return substr(0); }
  explicit operator std::string() const { return str(); }
  // The stored characters, without the padding.
  std::string_view text() const { return t_; }

  friend bool operator==(const Line80& a, std::string_view b) { return a.str() == b; }
  friend bool operator==(const Line80& a, const Line80& b) { return a.str() == b.str(); }
  friend std::ostream& operator<<(std::ostream& out, const Line80& l) { return out << l.str(); }

 private:
  std::string_view t_;
};

class CheckpointText {
 public:
  CheckpointText() = default;
  CheckpointText(CheckpointText&& other) noexcept { *this = std::move(other); }
  CheckpointText& operator=(CheckpointText&& other) noexcept;

  // The lines of `text`; `name` is the file name for diagnostics.
  static CheckpointText fromString(std::string_view text, std::string name);
  // The lines of a file as it stands (never decompressed) or of a stream.
  // A failed read is an input error that names the file and the system's
  // reason.  A large text is split into lines on the threads of `par`.
  static CheckpointText fromFile(const std::string& path, std::string name,
                                 const Parallel& par = Parallel());
  static CheckpointText fromStream(std::istream& in, std::string name);
  // The lines of bytes already in memory, copied.
  static CheckpointText fromBytes(std::string_view bytes, std::string name,
                                  const Parallel& par = Parallel());
  // The lines of an input, which the text keeps (a mapped file stays mapped
  // until release()).
  static CheckpointText fromInput(InputBytes in, const Parallel& par = Parallel());

  // Write the lines, each of exactly 80 characters, to `path` (the scratch
  // copy of the no-argument run).  A failed write is an output error.
  void writeCopy(const std::string& path) const;

  int lineCount() const { return nlines_; }
  // Line k (1-based): at most 80 characters, without its line end; shorter
  // lines are shorter here, and read as padded with blanks.
  std::string_view text(int k) const {
    const std::size_t b = start(k);
    std::size_t n = start(k + 1) - 1 - b;  // up to the line feed
    if (n > 0 && bytes_[b + n - 1] == '\r') --n;
    return bytes_.substr(b, n < std::size_t{kLineWidth} ? n : std::size_t{kLineWidth});
  }
  // Line k (1-based) as 80 characters.
  Line80 line(int k) const { return Line80(text(k)); }
  // True when line k, read as 80 characters, holds `s` from column col0 + 1.
  bool holdsAt(int k, std::size_t col0, std::string_view s) const;
  // True when line k begins with `prefix`.
  bool startsWith(int k, std::string_view prefix) const { return holdsAt(k, 0, prefix); }
  // Bytes of the text from the start of line k to its end: no section that
  // begins there can hold more.
  std::uint64_t bytesFrom(int k) const {
    return k > nlines_ ? 0 : bytes_.size() - std::min<std::uint64_t>(start(k), bytes_.size());
  }
  const std::string& name() const { return name_; }
  // Bytes the text holds: the file's bytes and the line offsets.
  std::size_t storageBytes() const {
    return bytes_.size() + start32_.capacity() * sizeof(std::uint32_t) +
           start64_.capacity() * sizeof(std::uint64_t);
  }

  // Give the storage back once everything has been read.
  void release();

 private:
  // Offset of line k; line nlines_ + 1 starts one past the text's last line
  // feed (a virtual one when the text does not end with a line feed).
  std::size_t start(int k) const {
    const auto i = static_cast<std::size_t>(k - 1);
    return start64_.empty() ? start32_[i] : static_cast<std::size_t>(start64_[i]);
  }
  void split(const Parallel& par);

  InputBytes input_;                    // the bytes, when they came as an input
  std::string own_;                     // or the bytes, when copied
  bool fromInput_ = false;              // which of the two holds them
  std::string_view bytes_;              // those bytes
  std::vector<std::uint32_t> start32_;  // line offsets, texts below 4 GB
  std::vector<std::uint64_t> start64_;  // line offsets, larger texts
  int nlines_ = 0;
  std::string name_;
};

}  // namespace mv
