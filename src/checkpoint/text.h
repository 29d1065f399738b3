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

#include "core/parallel.h"

namespace mv {

inline constexpr int kLineWidth = 80;

// An allocator that leaves new elements uninitialised: the lines are
// written in full right after the storage is sized.
template <typename T>
struct Uninitialised : std::allocator<T> {
  using value_type = T;
  template <typename U>
  struct rebind {
    using other = Uninitialised<U>;
  };
  Uninitialised() = default;
  template <typename U>
  Uninitialised(const Uninitialised<U>&) noexcept {}
  template <typename U>
  void construct(U* p) noexcept {
    ::new (static_cast<void*>(p)) U;
  }
  template <typename U, typename... Args>
  void construct(U* p, Args&&... args) {
    ::new (static_cast<void*>(p)) U(std::forward<Args>(args)...);
  }
};

class CheckpointText {
 public:
  CheckpointText() = default;

  // The lines of `text`; `name` is the file name for diagnostics.
  static CheckpointText fromString(std::string_view text, std::string name);
  // The lines of a file or a stream.  A failed read is an input error that
  // names the file and the system's reason.  A large regular file is split
  // into lines on the threads of `par`.
  static CheckpointText fromFile(const std::string& path, std::string name,
                                 const Parallel& par = Parallel());
  static CheckpointText fromStream(std::istream& in, std::string name);
  // The lines of bytes already in memory (an InputBytes of input.h); a
  // large text is split into lines on the threads of `par`.
  static CheckpointText fromBytes(std::string_view bytes, std::string name,
                                  const Parallel& par = Parallel());

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
  std::vector<char, Uninitialised<char>> buf_;  // nlines_ * 80 characters
  int nlines_ = 0;
  std::string name_;
};

}  // namespace mv
