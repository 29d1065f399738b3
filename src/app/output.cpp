#include "app/output.h"

#include <unistd.h>

#include <cerrno>

namespace mv {

DescriptorBuffer::DescriptorBuffer(int fd, std::size_t size) : fd_(fd), buf_(size) {
  setp(buf_.data(), buf_.data() + buf_.size());
}

DescriptorBuffer::~DescriptorBuffer() {
  drain();
  if (installed_ != nullptr) installed_->rdbuf(previous_);
}

void DescriptorBuffer::install(std::ostream& os) {
  previous_ = os.rdbuf(this);
  installed_ = &os;
}

// Write out what the buffer holds; after a failure the rest is dropped.
bool DescriptorBuffer::drain() {
  const char* p = pbase();
  std::size_t left = static_cast<std::size_t>(pptr() - pbase());
  while (left > 0 && error_ == 0) {
    const ssize_t n = ::write(fd_, p, left);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      error_ = n < 0 ? errno : EIO;
      break;
    }
    p += n;
    left -= static_cast<std::size_t>(n);
  }
  setp(buf_.data(), buf_.data() + buf_.size());
  return error_ == 0;
}

DescriptorBuffer::int_type DescriptorBuffer::overflow(int_type ch) {
  if (!drain()) return traits_type::eof();
  if (!traits_type::eq_int_type(ch, traits_type::eof())) {
    *pptr() = traits_type::to_char_type(ch);
    pbump(1);
  }
  return traits_type::not_eof(ch);
}

int DescriptorBuffer::sync() {
  return drain() ? 0 : -1;
}

}  // namespace mv
