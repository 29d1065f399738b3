// Where the outputs go: standard output through a buffer that remembers why
// a write failed, and output files that are replaced whole or not at all.
#pragma once

#include <csignal>
#include <ostream>
#include <streambuf>
#include <string>
#include <string_view>
#include <vector>

namespace mv {

// Standard output for the report: a buffer over a file descriptor that
// remembers why a write failed, so that a report that cannot be written (a
// full disk, a closed stream) ends the run with the system's reason.
class DescriptorBuffer : public std::streambuf {
 public:
  explicit DescriptorBuffer(int fd, std::size_t size = std::size_t{1} << 16);
  ~DescriptorBuffer() override;
  DescriptorBuffer(const DescriptorBuffer&) = delete;
  DescriptorBuffer& operator=(const DescriptorBuffer&) = delete;

  // The errno of the first write that failed, or 0.
  int error() const { return error_; }

  // Take the place of the stream's buffer until this buffer is destroyed,
  // when what it holds is written out and the stream's own buffer is put
  // back (the stream may outlive this buffer, as std::cout does).
  void install(std::ostream& os);

  // Once `*flag` is non-zero (an interrupt), a write that cannot go on
  // within about a second (a pipe that nobody reads) is given up with
  // EINTR instead of blocking the end of the run.
  void giveUpWhen(const volatile std::sig_atomic_t* flag) { giveUp_ = flag; }

 protected:
  int_type overflow(int_type ch) override;
  int sync() override;

 private:
  bool drain();
  int fd_;
  std::vector<char> buf_;
  int error_ = 0;
  const volatile std::sig_atomic_t* giveUp_ = nullptr;
  std::ostream* installed_ = nullptr;
  std::streambuf* previous_ = nullptr;
};

// The errno of the first failed write of a stream whose buffer is a
// DescriptorBuffer; EIO for a failed stream of another kind; 0 when the
// stream is good.
int streamError(const std::ostream& os);

// Write `text` to `path` through a temporary file beside it, renamed into
// place once complete: `path` then holds either what it held before or the
// whole new text, never a part of it.  Returns 0, or the errno of the step
// that failed (the temporary file is removed then).
int replaceFile(const std::string& path, std::string_view text);

// The temporary name beside `path` that replaceFile writes first, try
// `attempt` (a hidden file, so that DIR/*.txt never lists it).
std::string temporaryName(const std::string& path, int attempt);

}  // namespace mv
