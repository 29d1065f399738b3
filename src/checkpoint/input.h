// The bytes of one input file, as every reader of the command line sees them.
//
// A regular file is mapped; a pipe or standard input is read in full.  Input
// compressed with gzip or xz is recognised by its first bytes, whatever the
// file is called, and decompressed into memory.  Decompression is bounded:
// the text may not grow beyond a limit (by default half the memory available
// when it starts), so that a small file that expands without end is refused
// instead of exhausting the memory.
#pragma once

#include <cstddef>
#include <cstdint>
#include <istream>
#include <string>
#include <string_view>

namespace mv {

enum class Compression { none, gzip, xz };

// The compression the first bytes of a file announce: gzip (1F 8B) or xz
// (FD 37 7A 58 5A 00); none for anything else.
Compression compressionOf(std::string_view head);
// "gzip", "xz" or "none".
const char* compressionName(Compression c);

// The text `bytes` hold once decompressed.  A damaged or truncated stream is
// an input error that names `name`; a text longer than `limit` bytes is a
// stop (8100).  Concatenated streams are read one after another, as gzip and
// xz read them; trailing zero bytes (padding) are ignored.
std::string decompress(std::string_view bytes, Compression c, const std::string& name,
                       std::uint64_t limit);

// The limit of a decompressed text when none is given: half the memory
// available now (the lines of the text need about as much again), or no
// limit when the system does not say.
std::uint64_t defaultDecompressLimit();

class InputBytes {
 public:
  InputBytes() = default;
  InputBytes(InputBytes&& other) noexcept;
  InputBytes& operator=(InputBytes&& other) noexcept;
  InputBytes(const InputBytes&) = delete;
  InputBytes& operator=(const InputBytes&) = delete;
  ~InputBytes();

  // The bytes of the file at `path`; `name` names it in diagnostics.  A
  // failed open or read is an input error with the system's reason.  A
  // limit of 0 means defaultDecompressLimit().
  static InputBytes fromFile(const std::string& path, std::string name, std::uint64_t limit = 0);
  // The bytes of an open descriptor (standard input: 0), mapped when it is a
  // regular file, else read to its end; a read error is an input error with
  // the system's reason, never taken for the end of the text.
  static InputBytes fromDescriptor(int fd, std::string name, std::uint64_t limit = 0);
  // The bytes of a stream read to its end.
  static InputBytes fromStream(std::istream& in, std::string name, std::uint64_t limit = 0);
  // Bytes held in memory, decompressed when compressed.
  static InputBytes fromString(std::string bytes, std::string name, std::uint64_t limit = 0);

  // The text: decompressed when the input was compressed.
  std::string_view bytes() const {
    return map_ != nullptr ? std::string_view(static_cast<const char*>(map_), mapSize_)
                           : std::string_view(owned_);
  }
  const std::string& name() const { return name_; }
  // The compression of the input as it was given.
  Compression compression() const { return compression_; }

  // Give the storage back once the text has been read.
  void release();

 private:
  void adopt(std::string bytes, std::uint64_t limit);

  void* map_ = nullptr;  // a mapped regular file, when not compressed
  std::size_t mapSize_ = 0;
  std::string owned_;  // a text read or decompressed
  std::string name_;
  Compression compression_ = Compression::none;
};

}  // namespace mv
