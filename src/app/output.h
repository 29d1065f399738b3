// Standard output for the report: a buffer over a file descriptor that
// remembers why a write failed, so that a report that cannot be written (a
// full disk, a closed stream) ends the run with the system's reason.
#pragma once

#include <ostream>
#include <streambuf>
#include <vector>

namespace mv {

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

 protected:
  int_type overflow(int_type ch) override;
  int sync() override;

 private:
  bool drain();
  int fd_;
  std::vector<char> buf_;
  int error_ = 0;
  std::ostream* installed_ = nullptr;
  std::streambuf* previous_ = nullptr;
};

}  // namespace mv
