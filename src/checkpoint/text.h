// The text of a checkpoint file as the reader sees it.
//
// Only the first 80 characters of a line are ever seen; a shorter line reads
// as if padded with blanks.  Every line is therefore kept as exactly 80
// characters.  A line ends at a line feed, and a carriage return just before
// it belongs to the line end, so CRLF files read exactly like LF files.
#pragma once

#include <istream>
#include <string>
#include <string_view>
#include <vector>

namespace mv {

inline constexpr int kLineWidth = 80;

class CheckpointText {
 public:
  CheckpointText() = default;

  // The lines of `text`; `name` is the file name for diagnostics.
  static CheckpointText fromString(std::string_view text, std::string name);
  // The lines of a file or a stream.  A failed read is an input error that
  // names the file and the system's reason.
  static CheckpointText fromFile(const std::string& path, std::string name);
  static CheckpointText fromStream(std::istream& in, std::string name);

  // Write the lines, each of exactly 80 characters, to `path` (the scratch
  // copy of the no-argument run).  A failed write is an output error.
  void writeCopy(const std::string& path) const;

  int lineCount() const { return nlines_; }
  // Line k (1-based), 80 characters.
  std::string_view line(int k) const {
    return std::string_view(buf_.data() + static_cast<std::size_t>(k - 1) * kLineWidth, kLineWidth);
  }
  // True when line k begins with `prefix`.
  bool startsWith(int k, std::string_view prefix) const {
    return prefix.size() <= kLineWidth && line(k).substr(0, prefix.size()) == prefix;
  }
  const std::string& name() const { return name_; }

  // Give the storage back once everything has been read.
  void release();

 private:
  class Builder;
  std::vector<char> buf_;  // nlines_ * 80 characters
  int nlines_ = 0;
  std::string name_;
};

}  // namespace mv
