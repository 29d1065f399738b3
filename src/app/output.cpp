#include "app/output.h"

#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <filesystem>

namespace mv {

namespace {

// How long a write after an interrupt may wait for the reader.
constexpr int kGiveUpMs = 1000;

// Write all of `text` to `fd`; returns 0 or the errno.
int writeAll(int fd, std::string_view text) {
  const char* p = text.data();
  std::size_t left = text.size();
  while (left > 0) {
    const ssize_t n = ::write(fd, p, left);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return n < 0 ? errno : EIO;
    p += n;
    left -= static_cast<std::size_t>(n);
  }
  return 0;
}

}  // namespace

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
    // After an interrupt, write only what the descriptor takes at once:
    // pieces of PIPE_BUF once it reports room, so no write blocks for long.
    const bool givingUp = giveUp_ != nullptr && *giveUp_ != 0;
    if (givingUp) {
      pollfd pfd{fd_, POLLOUT, 0};
      int ready = 0;
      do ready = ::poll(&pfd, 1, kGiveUpMs);
      while (ready < 0 && errno == EINTR);
      if (ready <= 0) {
        error_ = EINTR;
        break;
      }
    }
    const std::size_t chunk = givingUp ? std::min<std::size_t>(left, PIPE_BUF) : left;
    const ssize_t n = ::write(fd_, p, chunk);
    // An interrupted write goes on, unless the interrupt asks to give up
    // (checked above).
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

int streamError(const std::ostream& os) {
  if (const auto* b = dynamic_cast<const DescriptorBuffer*>(os.rdbuf());
      b != nullptr && b->error() != 0)
    return b->error();
  return os ? 0 : EIO;
}

std::string temporaryName(const std::string& path, int attempt) {
  const std::filesystem::path p(path);
  std::string name = p.filename().string();
  // Room for the prefix and the suffix within the longest file name.
  if (name.size() > 200) name.resize(200);
  name = "." + name + "." + std::to_string(::getpid()) + "." + std::to_string(attempt) + ".tmp";
  return (p.parent_path() / name).string();
}

int replaceFile(const std::string& path, std::string_view text) {
  // Every step works in the directory opened once, so that a directory
  // renamed or replaced meanwhile neither leaves the temporary file behind
  // nor gets half of the steps.
  const std::filesystem::path p(path);
  const std::string parent = p.parent_path().empty() ? "." : p.parent_path().string();
  const int dir = ::open(parent.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (dir < 0) return errno;
  const std::string name = p.filename().string();
  std::string temp;
  int fd = -1;
  for (int attempt = 0; fd < 0; ++attempt) {
    temp = std::filesystem::path(temporaryName(path, attempt)).filename().string();
    // Mode 0666 less the umask, as the output would have had when created.
    fd = ::openat(dir, temp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    // A name left by an earlier run killed with the same process id: take
    // the next.
    if (fd < 0 && (errno != EEXIST || attempt >= 100)) {
      const int e = errno;
      ::close(dir);
      return e;
    }
  }
  int e = writeAll(fd, text);
  // A file system may report a full disk only when the file is closed.
  if (::close(fd) != 0 && e == 0) e = errno;
  if (e == 0 && ::renameat(dir, temp.c_str(), dir, name.c_str()) != 0) e = errno;
  if (e != 0) ::unlinkat(dir, temp.c_str(), 0);
  ::close(dir);
  return e;
}

}  // namespace mv
