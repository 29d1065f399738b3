#include "checkpoint/text.h"

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <system_error>

#include "core/stop.h"

namespace mv {

// Splits text that arrives in pieces into lines and keeps the first 80
// characters of each.  The text after the last line feed is a line of its
// own when it is not empty.
class CheckpointText::Builder {
 public:
  explicit Builder(CheckpointText& t) : t_(t) {}

  void feed(std::string_view piece) {
    while (!piece.empty()) {
      const std::size_t lf = piece.find('\n');
      const std::string_view part = piece.substr(0, lf);
      if (lf != std::string_view::npos && len_ == 0) {
        // A whole line inside the piece: taken without a copy.
        add(trimCr(part));
      } else {
        keep(part);
        if (lf != std::string_view::npos) flush();
      }
      if (lf == std::string_view::npos) break;
      piece.remove_prefix(lf + 1);
    }
  }
  // The end of the text: a last line without a line feed.
  void finish() {
    if (len_ > 0) flush();
  }

 private:
  static std::string_view trimCr(std::string_view l) {
    if (!l.empty() && l.back() == '\r') l.remove_suffix(1);
    return l;
  }
  void add(std::string_view raw) {
    const std::size_t at = t_.buf_.size();
    t_.buf_.resize(at + kLineWidth, ' ');
    const std::size_t n = raw.size() < std::size_t{kLineWidth} ? raw.size() : kLineWidth;
    if (n > 0) std::memcpy(t_.buf_.data() + at, raw.data(), n);
    ++t_.nlines_;
  }
  // Part of a line that continues in the next piece: its first 81
  // characters are enough (80 kept, one more to tell a final CR apart).
  void keep(std::string_view part) {
    if (part.empty()) return;
    const std::size_t room = sizeof held_ - (len_ < sizeof held_ ? len_ : sizeof held_);
    const std::size_t take = part.size() < room ? part.size() : room;
    std::memcpy(held_ + (sizeof held_ - room), part.data(), take);
    len_ += part.size();
    last_ = part.back();
  }
  void flush() {
    std::size_t n = len_ < sizeof held_ ? len_ : sizeof held_;
    if (n > 0 && len_ <= sizeof held_ && last_ == '\r') --n;  // the CR is the line end
    add(std::string_view(held_, n));
    len_ = 0;
  }

  CheckpointText& t_;
  char held_[kLineWidth + 1];
  std::size_t len_ = 0;  // length of the line so far
  char last_ = 0;        // its last character
};

CheckpointText CheckpointText::fromString(std::string_view text, std::string name) {
  CheckpointText t;
  t.name_ = std::move(name);
  std::size_t lf = 0;
  for (char ch : text)
    if (ch == '\n') ++lf;
  t.buf_.reserve((lf + 1) * kLineWidth);
  Builder b(t);
  b.feed(text);
  b.finish();
  return t;
}

namespace {
constexpr std::size_t kPiece = std::size_t{1} << 16;
}

namespace {

// Below this size a file is split into lines on one thread.
constexpr std::size_t kParallelBytes = std::size_t{1} << 22;

}  // namespace

// Every line of `bytes`: up to a line feed (a carriage return just before
// it dropped), the text after the last line feed a line of its own when it
// is not empty.  The text is cut into one piece per thread at line feeds;
// each piece counts its lines, then copies them into their places.
CheckpointText CheckpointText::fromBytes(std::string_view bytes, std::string name,
                                         const Parallel& par) {
  CheckpointText t;
  t.name_ = std::move(name);
  const int pieces = bytes.size() < kParallelBytes ? 1 : std::max(1, par.maxThreads());
  std::vector<std::size_t> start(static_cast<std::size_t>(pieces) + 1, bytes.size());
  start[0] = 0;
  for (int k = 1; k < pieces; ++k) {
    std::size_t at = std::max(start[static_cast<std::size_t>(k) - 1], bytes.size() / pieces * k);
    const std::size_t lf = bytes.find('\n', at);
    start[static_cast<std::size_t>(k)] = lf == std::string_view::npos ? bytes.size() : lf + 1;
  }
  std::vector<std::size_t> lines(static_cast<std::size_t>(pieces) + 1, 0);
  par.run(pieces, [&](int k) {
    const std::size_t b = start[static_cast<std::size_t>(k)],
                      e = start[static_cast<std::size_t>(k) + 1];
    auto n =
        static_cast<std::size_t>(std::count(bytes.begin() + static_cast<std::ptrdiff_t>(b),
                                            bytes.begin() + static_cast<std::ptrdiff_t>(e), '\n'));
    if (k == pieces - 1 && e > b && bytes[e - 1] != '\n') ++n;  // a last line without a line feed
    lines[static_cast<std::size_t>(k) + 1] = n;
  });
  for (int k = 1; k <= pieces; ++k)
    lines[static_cast<std::size_t>(k)] += lines[static_cast<std::size_t>(k) - 1];
  const std::size_t total = lines[static_cast<std::size_t>(pieces)];
  t.buf_.resize(total * kLineWidth);
  t.nlines_ = static_cast<int>(total);
  par.run(pieces, [&](int k) {
    std::size_t at = start[static_cast<std::size_t>(k)];
    const std::size_t e = start[static_cast<std::size_t>(k) + 1];
    char* out = t.buf_.data() + lines[static_cast<std::size_t>(k)] * kLineWidth;
    while (at < e) {
      const std::size_t found = bytes.find('\n', at);
      const std::size_t lf = found == std::string_view::npos || found > e ? e : found;
      std::size_t len = lf - at;
      if (len > 0 && bytes[lf - 1] == '\r') --len;  // the CR belongs to the line end
      const std::size_t n = std::min(len, std::size_t{kLineWidth});
      std::memcpy(out, bytes.data() + at, n);
      std::memset(out + n, ' ', kLineWidth - n);
      out += kLineWidth;
      at = lf + 1;
    }
  });
  return t;
}

CheckpointText CheckpointText::fromFile(const std::string& path, std::string name,
                                        const Parallel& par) {
  // A regular file is mapped and split in place; anything else (a pipe, a
  // device) is read piece by piece.
  const int fd = ::open(path.c_str(), O_RDONLY);
  if (fd < 0) inputError(name, 0, std::string("cannot open: ") + std::strerror(errno));
  struct stat st {};
  if (::fstat(fd, &st) == 0 && S_ISREG(st.st_mode)) {
    const auto size = static_cast<std::size_t>(st.st_size);
    if (size == 0) {
      ::close(fd);
      return fromString("", std::move(name));
    }
    void* map = ::mmap(nullptr, size, PROT_READ, MAP_PRIVATE, fd, 0);
    if (map != MAP_FAILED) {
      ::close(fd);
      CheckpointText t =
          fromBytes(std::string_view(static_cast<const char*>(map), size), std::move(name), par);
      ::munmap(map, size);
      return t;
    }
  }
  ::close(fd);
  CheckpointText t;
  t.name_ = std::move(name);
  std::FILE* in = std::fopen(path.c_str(), "rb");
  if (in == nullptr) inputError(t.name_, 0, std::string("cannot open: ") + std::strerror(errno));
  // Room for the lines of a file of this size written at 80 columns or
  // more; reserved pages that stay unused cost no memory.
  std::error_code ec;
  const auto size = std::filesystem::file_size(path, ec);
  if (!ec && size < (std::uintmax_t{1} << 40)) t.buf_.reserve(size + size / 8 + kLineWidth);
  std::vector<char> piece(kPiece);
  Builder b(t);
  bool bad = false;
  int err = 0;
  for (;;) {
    const std::size_t got = std::fread(piece.data(), 1, piece.size(), in);
    b.feed(std::string_view(piece.data(), got));
    if (got < piece.size()) {
      bad = std::ferror(in) != 0;
      err = errno;
      break;
    }
  }
  b.finish();
  std::fclose(in);
  if (bad) inputError(t.name_, 0, std::string("cannot read: ") + std::strerror(err));
  return t;
}

CheckpointText CheckpointText::fromStream(std::istream& in, std::string name) {
  CheckpointText t;
  t.name_ = std::move(name);
  std::vector<char> piece(kPiece);
  Builder b(t);
  while (in) {
    in.read(piece.data(), static_cast<std::streamsize>(piece.size()));
    const std::streamsize got = in.gcount();
    if (got <= 0) break;
    b.feed(std::string_view(piece.data(), static_cast<std::size_t>(got)));
  }
  if (in.bad()) inputError(t.name_, 0, "cannot read the input");
  b.finish();
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
    std::memcpy(piece.data() + used, line(k).data(), kLineWidth);
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
  decltype(buf_)().swap(buf_);
  nlines_ = 0;
}

}  // namespace mv
