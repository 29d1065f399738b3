#include "checkpoint/input.h"

#include <fcntl.h>
#include <lzma.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>
#include <zlib.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstring>
#include <utility>
#include <vector>

#include "core/memory.h"
#include "core/stop.h"

namespace mv {

namespace {

constexpr unsigned char kGzipMagic[] = {0x1f, 0x8b};
constexpr unsigned char kXzMagic[] = {0xfd, 0x37, 0x7a, 0x58, 0x5a, 0x00};

template <std::size_t N>
bool startsWithMagic(std::string_view head, const unsigned char (&magic)[N]) {
  if (head.size() < N) return false;
  for (std::size_t k = 0; k < N; ++k)
    if (static_cast<unsigned char>(head[k]) != magic[k]) return false;
  return true;
}

bool allZero(std::string_view rest) {
  return std::all_of(rest.begin(), rest.end(), [](char c) { return c == '\0'; });
}

// The output of a decompression, grown as it fills and never beyond the
// limit: the size is checked before every growth, not once at the end.
class Growing {
 public:
  Growing(std::size_t input, std::uint64_t limit, const std::string& name, const char* kind)
      : limit_(limit), name_(name), kind_(kind) {
    grow(std::max<std::size_t>(std::size_t{1} << 16, input * 4));
  }
  // Room for more output: the free part of the buffer.
  unsigned char* free() { return reinterpret_cast<unsigned char*>(out_.data()) + used_; }
  std::size_t room() const { return out_.size() - used_; }
  void produced(std::size_t n) {
    used_ += n;
    if (limit_ != 0 && used_ > limit_) tooLarge();
  }
  void ensureRoom() {
    if (room() == 0) grow(out_.size() * 2);
  }
  std::string take() {
    out_.resize(used_);
    out_.shrink_to_fit();
    return std::move(out_);
  }

 private:
  void grow(std::size_t want) {
    // One byte beyond the limit is room enough to see that the text is
    // longer than the limit.
    const std::uint64_t cap = limit_ == 0 ? UINT64_MAX : limit_ + 1;
    if (out_.size() >= cap) tooLarge();
    out_.resize(static_cast<std::size_t>(std::min<std::uint64_t>(want, cap)));
  }
  [[noreturn]] void tooLarge() const {
    Stop s;
    s.code = kCodeLimit;
    s.detail = std::string("the ") + kind_ + " text expands beyond " + byteText(limit_) +
               ", the memory a run may use for it";
    s.file = name_;
    throw s;
  }

  std::string out_;
  std::size_t used_ = 0;
  std::uint64_t limit_;
  const std::string& name_;
  const char* kind_;
};

std::string gunzip(std::string_view in, const std::string& name, std::uint64_t limit) {
  Growing out(in.size(), limit, name, "decompressed gzip");
  z_stream zs{};
  // 16 + 15: a gzip header and trailer around a window of up to 32 KB.
  if (inflateInit2(&zs, 16 + 15) != Z_OK) inputError(name, 0, "cannot start gzip decompression");
  struct End {
    z_stream& z;
    ~End() { inflateEnd(&z); }
  } end{zs};
  std::size_t at = 0;
  for (;;) {
    // zlib counts in unsigned int: the input is handed over in slices.
    const std::size_t slice = std::min<std::size_t>(in.size() - at, UINT_MAX);
    zs.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(in.data() + at));
    zs.avail_in = static_cast<uInt>(slice);
    out.ensureRoom();
    const std::size_t room = std::min<std::size_t>(out.room(), UINT_MAX);
    zs.next_out = out.free();
    zs.avail_out = static_cast<uInt>(room);
    const int rc = inflate(&zs, Z_NO_FLUSH);
    at += slice - zs.avail_in;
    out.produced(room - zs.avail_out);
    if (rc == Z_STREAM_END) {
      // Another member may follow, as `cat a.gz b.gz` makes.
      const std::string_view rest = in.substr(at);
      if (rest.empty() || allZero(rest)) break;
      if (!startsWithMagic(rest, kGzipMagic))
        inputError(name, 0, "data after the end of the gzip stream");
      inflateReset(&zs);
      continue;
    }
    if (rc == Z_DATA_ERROR || rc == Z_NEED_DICT)
      inputError(name, 0,
                 std::string("corrupt gzip stream: ") + (zs.msg ? zs.msg : "invalid data"));
    if (rc == Z_MEM_ERROR) inputError(name, 0, "out of memory in gzip decompression");
    if (at == in.size() && zs.avail_out != 0)
      inputError(name, 0, "truncated gzip stream: it ends before its last block");
  }
  return out.take();
}

std::string unxz(std::string_view in, const std::string& name, std::uint64_t limit) {
  Growing out(in.size(), limit, name, "decompressed xz");
  lzma_stream zs = LZMA_STREAM_INIT;
  // The decoder's own tables are bounded by the same limit.
  const std::uint64_t memlimit = limit == 0 ? UINT64_MAX : std::max<std::uint64_t>(limit, 1 << 26);
  if (lzma_stream_decoder(&zs, memlimit, LZMA_CONCATENATED) != LZMA_OK)
    inputError(name, 0, "cannot start xz decompression");
  struct End {
    lzma_stream& z;
    ~End() { lzma_end(&z); }
  } end{zs};
  zs.next_in = reinterpret_cast<const std::uint8_t*>(in.data());
  zs.avail_in = in.size();
  for (;;) {
    out.ensureRoom();
    const std::size_t room = out.room();
    zs.next_out = out.free();
    zs.avail_out = room;
    const lzma_ret rc = lzma_code(&zs, LZMA_FINISH);
    out.produced(room - zs.avail_out);
    if (rc == LZMA_STREAM_END) break;
    if (rc == LZMA_OK) continue;
    switch (rc) {
      case LZMA_BUF_ERROR:
        inputError(name, 0, "truncated xz stream: it ends before its last block");
      case LZMA_DATA_ERROR:
        inputError(name, 0, "corrupt xz stream: invalid compressed data");
      case LZMA_FORMAT_ERROR:
        inputError(name, 0, "corrupt xz stream: invalid header");
      case LZMA_OPTIONS_ERROR:
        inputError(name, 0, "corrupt xz stream: unsupported options");
      case LZMA_MEMLIMIT_ERROR:
      case LZMA_MEM_ERROR:
        inputError(name, 0, "xz decompression needs more memory than is available");
      default:
        inputError(name, 0, "corrupt xz stream");
    }
  }
  return out.take();
}

}  // namespace

Compression compressionOf(std::string_view head) {
  if (startsWithMagic(head, kGzipMagic)) return Compression::gzip;
  if (startsWithMagic(head, kXzMagic)) return Compression::xz;
  return Compression::none;
}

const char* compressionName(Compression c) {
  switch (c) {
    case Compression::gzip:
      return "gzip";
    case Compression::xz:
      return "xz";
    case Compression::none:
      break;
  }
  return "none";
}

std::uint64_t defaultDecompressLimit() {
  return availableMemory() / 2;
}

std::string decompress(std::string_view bytes, Compression c, const std::string& name,
                       std::uint64_t limit) {
  switch (c) {
    case Compression::gzip:
      return gunzip(bytes, name, limit);
    case Compression::xz:
      return unxz(bytes, name, limit);
    case Compression::none:
      break;
  }
  return std::string(bytes);
}

InputBytes::InputBytes(InputBytes&& other) noexcept {
  *this = std::move(other);
}

InputBytes& InputBytes::operator=(InputBytes&& other) noexcept {
  if (this != &other) {
    release();
    map_ = std::exchange(other.map_, nullptr);
    mapSize_ = std::exchange(other.mapSize_, 0);
    owned_ = std::move(other.owned_);
    name_ = std::move(other.name_);
    compression_ = other.compression_;
  }
  return *this;
}

InputBytes::~InputBytes() {
  release();
}

void InputBytes::release() {
  if (map_ != nullptr) ::munmap(map_, mapSize_);
  map_ = nullptr;
  mapSize_ = 0;
  std::string().swap(owned_);
}

void InputBytes::adopt(std::string bytes, std::uint64_t limit) {
  compression_ = compressionOf(bytes);
  if (compression_ == Compression::none) {
    owned_ = std::move(bytes);
    return;
  }
  if (limit == 0) limit = defaultDecompressLimit();
  owned_ = decompress(bytes, compression_, name_, limit);
}

InputBytes InputBytes::fromString(std::string bytes, std::string name, std::uint64_t limit) {
  InputBytes in;
  in.name_ = std::move(name);
  in.adopt(std::move(bytes), limit);
  return in;
}

InputBytes InputBytes::fromFile(const std::string& path, std::string name, std::uint64_t limit) {
  const int fd = ::open(path.c_str(), O_RDONLY);
  if (fd < 0) inputError(name, 0, std::string("cannot open: ") + std::strerror(errno));
  struct Close {
    int fd;
    ~Close() { ::close(fd); }
  } close{fd};
  return fromDescriptor(fd, std::move(name), limit);
}

InputBytes InputBytes::fromDescriptor(int fd, std::string name, std::uint64_t limit) {
  InputBytes in;
  in.name_ = std::move(name);
  struct stat st {};
  if (::fstat(fd, &st) == 0 && S_ISREG(st.st_mode) && st.st_size > 0) {
    // A regular file is mapped; a compressed one is decompressed from the
    // mapping, which is then given back.
    const auto size = static_cast<std::size_t>(st.st_size);
    void* map = ::mmap(nullptr, size, PROT_READ, MAP_PRIVATE, fd, 0);
    if (map != MAP_FAILED) {
      in.map_ = map;
      in.mapSize_ = size;
      in.compression_ = compressionOf(in.bytes());
      if (in.compression_ != Compression::none) {
        std::string text = decompress(in.bytes(), in.compression_, in.name_,
                                      limit == 0 ? defaultDecompressLimit() : limit);
        ::munmap(in.map_, in.mapSize_);
        in.map_ = nullptr;
        in.mapSize_ = 0;
        in.owned_ = std::move(text);
      }
      return in;
    }
  }
  // Anything else (a pipe, a device, an empty file) is read to its end.
  std::string bytes;
  std::vector<char> piece(std::size_t{1} << 16);
  for (;;) {
    const ssize_t got = ::read(fd, piece.data(), piece.size());
    if (got < 0) {
      if (errno == EINTR) continue;
      inputError(in.name_, 0, std::string("cannot read: ") + std::strerror(errno));
    }
    if (got == 0) break;
    bytes.append(piece.data(), static_cast<std::size_t>(got));
  }
  in.adopt(std::move(bytes), limit);
  return in;
}

InputBytes InputBytes::fromStream(std::istream& in, std::string name, std::uint64_t limit) {
  std::string bytes;
  std::vector<char> piece(std::size_t{1} << 16);
  while (in) {
    in.read(piece.data(), static_cast<std::streamsize>(piece.size()));
    const std::streamsize got = in.gcount();
    if (got <= 0) break;
    bytes.append(piece.data(), static_cast<std::size_t>(got));
  }
  if (in.bad()) inputError(name, 0, "cannot read the input");
  return fromString(std::move(bytes), std::move(name), limit);
}

}  // namespace mv
