#include "checkpoint/text.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstring>
#include <utility>

#include "core/memory.h"
#include "core/stop.h"

namespace mv {

namespace {

constexpr std::size_t kPiece = std::size_t{1} << 16;
// Below this size a text is split into lines on one thread.
constexpr std::size_t kParallelBytes = std::size_t{1} << 22;

}  // namespace

std::string Line80::substr(std::size_t pos, std::size_t n) const {
  if (pos >= kLineWidth) return std::string();
  n = std::min(n, kLineWidth - pos);
  std::string s(n, ' ');
  if (pos < t_.size()) t_.copy(s.data(), std::min(n, t_.size() - pos), pos);
  return s;
}

CheckpointText& CheckpointText::operator=(CheckpointText&& other) noexcept {
  if (this != &other) {
    input_ = std::move(other.input_);
    own_ = std::move(other.own_);
    fromInput_ = other.fromInput_;
    bytes_ = fromInput_ ? input_.bytes() : std::string_view(own_);
    start32_ = std::move(other.start32_);
    start64_ = std::move(other.start64_);
    nlines_ = std::exchange(other.nlines_, 0);
    name_ = std::move(other.name_);
    other.bytes_ = std::string_view();
  }
  return *this;
}

bool CheckpointText::holdsAt(int k, std::size_t col0, std::string_view s) const {
  if (col0 + s.size() > kLineWidth) return false;
  const std::string_view t = text(k);
  const std::size_t stored = t.size() > col0 ? std::min(t.size() - col0, s.size()) : 0;
  if (t.substr(std::min(col0, t.size()), stored) != s.substr(0, stored)) return false;
  // What lies beyond the stored text reads as blanks.
  return s.find_first_not_of(' ', stored) == std::string_view::npos;
}

// Every line of bytes_: up to a line feed, the text after the last line feed
// a line of its own when it is not empty.  The text is cut into one piece
// per thread at line feeds; each piece counts its lines, then writes their
// offsets into their places.
void CheckpointText::split(const Parallel& par) {
  const std::string_view bytes = bytes_;
  const int pieces = bytes.size() < kParallelBytes ? 1 : std::max(1, par.maxThreads());
  std::vector<std::size_t> begin(static_cast<std::size_t>(pieces) + 1, bytes.size());
  begin[0] = 0;
  for (int k = 1; k < pieces; ++k) {
    const std::size_t at =
        std::max(begin[static_cast<std::size_t>(k) - 1], bytes.size() / pieces * k);
    const std::size_t lf = bytes.find('\n', at);
    begin[static_cast<std::size_t>(k)] = lf == std::string_view::npos ? bytes.size() : lf + 1;
  }
  std::vector<std::size_t> lines(static_cast<std::size_t>(pieces) + 1, 0);
  par.run(pieces, [&](int k) {
    const std::size_t b = begin[static_cast<std::size_t>(k)],
                      e = begin[static_cast<std::size_t>(k) + 1];
    lines[static_cast<std::size_t>(k) + 1] =
        static_cast<std::size_t>(std::count(bytes.begin() + static_cast<std::ptrdiff_t>(b),
                                            bytes.begin() + static_cast<std::ptrdiff_t>(e), '\n'));
  });
  for (int k = 1; k <= pieces; ++k)
    lines[static_cast<std::size_t>(k)] += lines[static_cast<std::size_t>(k) - 1];
  const bool open = !bytes.empty() && bytes.back() != '\n';  // a last line without a line feed
  const std::size_t total = lines[static_cast<std::size_t>(pieces)] + (open ? 1 : 0);
  if (total > static_cast<std::size_t>(INT_MAX))
    inputError(name_, 0, "more than " + std::to_string(INT_MAX) + " lines");
  nlines_ = static_cast<int>(total);
  // The offsets of lines 1 .. total + 1.
  const bool wide = bytes.size() + 1 > UINT32_MAX;
  // In the command line a file of many short lines (blank lines added to a
  // small file) is refused with the memory its table of lines would take,
  // rather than ended by the system for taking it.
  if (fromInput_)
    requireMemory((total + 1) * (wide ? 8 : 4), "the table of " + std::to_string(total) + " lines");
  if (wide)
    start64_.resize(total + 1);
  else
    start32_.resize(total + 1);
  auto put = [&](std::size_t i, std::size_t at) {
    if (wide)
      start64_[i] = at;
    else
      start32_[i] = static_cast<std::uint32_t>(at);
  };
  put(0, 0);
  par.run(pieces, [&](int k) {
    std::size_t i = lines[static_cast<std::size_t>(k)] + 1;
    const std::size_t b = begin[static_cast<std::size_t>(k)],
                      e = begin[static_cast<std::size_t>(k) + 1];
    for (std::size_t at = b; at < e; ++i) {
      const void* lf = std::memchr(bytes.data() + at, '\n', e - at);
      if (lf == nullptr) break;
      at = static_cast<std::size_t>(static_cast<const char*>(lf) - bytes.data()) + 1;
      put(i, at);
    }
  });
  if (open) put(total, bytes.size() + 1);
}

CheckpointText CheckpointText::fromBytes(std::string_view bytes, std::string name,
                                         const Parallel& par) {
  CheckpointText t;
  t.name_ = std::move(name);
  t.own_.assign(bytes.data(), bytes.size());
  t.bytes_ = t.own_;
  t.split(par);
  return t;
}

CheckpointText CheckpointText::fromString(std::string_view text, std::string name) {
  return fromBytes(text, std::move(name));
}

CheckpointText CheckpointText::fromInput(InputBytes in, const Parallel& par) {
  CheckpointText t;
  t.name_ = in.name();
  t.input_ = std::move(in);
  t.fromInput_ = true;
  t.bytes_ = t.input_.bytes();
  t.split(par);
  return t;
}

CheckpointText CheckpointText::fromFile(const std::string& path, std::string name,
                                        const Parallel& par) {
  CheckpointText t;
  t.name_ = std::move(name);
  const int fd = ::open(path.c_str(), O_RDONLY);
  if (fd < 0) inputError(t.name_, 0, std::string("cannot open: ") + std::strerror(errno));
  struct Close {
    int fd;
    ~Close() { ::close(fd); }
  } close{fd};
  // A regular file is read in one piece of its size; anything else (a pipe,
  // a device) piece by piece.
  struct stat st {};
  if (::fstat(fd, &st) == 0 && S_ISREG(st.st_mode) && st.st_size > 0)
    t.own_.reserve(static_cast<std::size_t>(st.st_size));
  std::string piece(kPiece, '\0');
  for (;;) {
    const ssize_t got = ::read(fd, piece.data(), piece.size());
    if (got < 0) {
      if (errno == EINTR) continue;
      inputError(t.name_, 0, std::string("cannot read: ") + std::strerror(errno));
    }
    if (got == 0) break;
    t.own_.append(piece.data(), static_cast<std::size_t>(got));
  }
  t.bytes_ = t.own_;
  t.split(par);
  return t;
}

CheckpointText CheckpointText::fromStream(std::istream& in, std::string name) {
  CheckpointText t;
  t.name_ = std::move(name);
  std::string piece(kPiece, '\0');
  while (in) {
    in.read(piece.data(), static_cast<std::streamsize>(piece.size()));
    const std::streamsize got = in.gcount();
    if (got <= 0) break;
    t.own_.append(piece.data(), static_cast<std::size_t>(got));
  }
  if (in.bad()) inputError(t.name_, 0, "cannot read the input");
  t.bytes_ = t.own_;
  t.split(Parallel());
  return t;
}

void CheckpointText::writeCopy(const std::string& path) const {
  std::FILE* out = std::fopen(path.c_str(), "wb");
  if (out == nullptr) inputError(path, 0, std::string("cannot write: ") + std::strerror(errno));
  constexpr std::size_t kRecord = kLineWidth + 1;
  std::vector<char> piece(kPiece);
  bool ok = true;
  int err = 0;
  std::size_t used = 0;
  for (int k = 1; k <= nlines_ && ok; ++k) {
    const std::string_view l = text(k);
    std::memcpy(piece.data() + used, l.data(), l.size());
    std::memset(piece.data() + used + l.size(), ' ', kLineWidth - l.size());
    piece[used + kLineWidth] = '\n';
    used += kRecord;
    if (used + kRecord > piece.size() || k == nlines_) {
      if (std::fwrite(piece.data(), 1, used, out) != used) {
        ok = false;
        err = errno;
      }
      used = 0;
    }
  }
  if (std::fclose(out) != 0 && ok) {
    ok = false;
    err = errno;
  }
  if (!ok) inputError(path, 0, std::string("cannot write: ") + std::strerror(err));
}

void CheckpointText::release() {
  input_.release();
  std::string().swap(own_);
  bytes_ = std::string_view();
  decltype(start32_)().swap(start32_);
  decltype(start64_)().swap(start64_);
  nlines_ = 0;
}

}  // namespace mv
