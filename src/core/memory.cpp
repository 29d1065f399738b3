#include "core/memory.h"

#include <sys/resource.h>
#include <unistd.h>

#include <cstdio>
#include <fstream>
#include <sstream>
#include <string_view>

#include "core/stop.h"

namespace mv {

namespace {

// A limit this large (cgroup v1 writes about 2^63 for none) is no limit.
constexpr std::uint64_t kNoLimitBytes = std::uint64_t{1} << 60;

bool readNumber(const std::string& path, std::uint64_t& v) {
  std::ifstream in(path);
  std::string word;
  if (!(in >> word) || word == "max") return false;
  try {
    v = std::stoull(word);
  } catch (...) {
    return false;
  }
  return true;
}

// The value of `key` in a "key value" file such as memory.stat; 0 when absent.
std::uint64_t statValue(const std::string& path, std::string_view key) {
  std::ifstream in(path);
  std::string k;
  std::uint64_t v = 0;
  while (in >> k >> v)
    if (k == key) return v;
  return 0;
}

void consider(MemoryLimit& m, std::uint64_t room, const char* source) {
  if (m.bytes == 0 || room < m.bytes) {
    m.bytes = room;
    m.source = source;
  }
}

// The room under the memory limit of every control group from the
// process's own up to the root of the hierarchy mounted at `mount`.
void cgroupRoom(MemoryLimit& m, const std::string& mount, std::string path, const char* limitFile,
                const char* usageFile, const char* inactiveKey, const char* source) {
  for (;;) {
    const std::string dir = mount + path;
    std::uint64_t limit = 0, usage = 0;
    if (readNumber(dir + "/" + limitFile, limit) && limit < kNoLimitBytes &&
        readNumber(dir + "/" + usageFile, usage)) {
      const std::uint64_t inactive = statValue(dir + "/memory.stat", inactiveKey);
      usage = usage > inactive ? usage - inactive : 0;
      consider(m, limit > usage ? limit - usage : 1, source);
    }
    if (path.empty() || path == "/") break;
    const std::size_t slash = path.rfind('/');
    path = slash == std::string::npos || slash == 0 ? std::string() : path.substr(0, slash);
  }
}

void cgroups(MemoryLimit& m, const std::string& root) {
  std::ifstream in(root + "/proc/self/cgroup");
  std::string line;
  while (std::getline(in, line)) {
    // hierarchy-ID:controller-list:path
    const std::size_t a = line.find(':');
    const std::size_t b = a == std::string::npos ? a : line.find(':', a + 1);
    if (b == std::string::npos) continue;
    const std::string controllers = line.substr(a + 1, b - a - 1);
    std::string path = line.substr(b + 1);
    if (path == "/") path.clear();
    if (line.compare(0, a, "0") == 0 && controllers.empty()) {
      cgroupRoom(m, root + "/sys/fs/cgroup", path, "memory.max", "memory.current", "inactive_file",
                 "the cgroup limit (memory.max)");
    } else if (("," + controllers + ",").find(",memory,") != std::string::npos) {
      cgroupRoom(m, root + "/sys/fs/cgroup/memory", path, "memory.limit_in_bytes",
                 "memory.usage_in_bytes", "total_inactive_file",
                 "the cgroup limit (memory.limit_in_bytes)");
    }
  }
}

void addressSpace(MemoryLimit& m) {
  rlimit rl{};
  if (getrlimit(RLIMIT_AS, &rl) != 0 || rl.rlim_cur == RLIM_INFINITY) return;
  std::ifstream in("/proc/self/statm");
  std::uint64_t pages = 0;
  in >> pages;
  const long size = sysconf(_SC_PAGESIZE);
  const std::uint64_t used = pages * static_cast<std::uint64_t>(size > 0 ? size : 4096);
  const auto limit = static_cast<std::uint64_t>(rl.rlim_cur);
  consider(m, limit > used ? limit - used : 1, "the address-space limit (RLIMIT_AS)");
}

std::uint64_t machineAvailable(const std::string& root) {
  std::ifstream in(root + "/proc/meminfo");
  std::string key;
  std::uint64_t kb = 0;
  std::string unit;
  while (in >> key >> kb) {
    std::getline(in, unit);
    if (key == "MemAvailable:") return kb * 1024;
  }
  const long pages = sysconf(_SC_AVPHYS_PAGES);
  const long size = sysconf(_SC_PAGESIZE);
  if (root.empty() && pages > 0 && size > 0)
    return static_cast<std::uint64_t>(pages) * static_cast<std::uint64_t>(size);
  return 0;
}

}  // namespace

MemoryLimit memoryLimitUnder(const std::string& root) {
  MemoryLimit m;
  if (const std::uint64_t avail = machineAvailable(root); avail > 0)
    consider(m, avail, "the machine's available memory");
  cgroups(m, root);
  addressSpace(m);
  return m;
}

MemoryLimit memoryLimit() {
  return memoryLimitUnder("");
}

std::uint64_t availableMemory() {
  return memoryLimit().bytes;
}

std::string byteText(std::uint64_t bytes) {
  char buf[32];
  const double mb = static_cast<double>(bytes) / (1024.0 * 1024.0);
  if (mb < 1024.0)
    std::snprintf(buf, sizeof buf, "%.0f MB", mb < 1.0 ? 1.0 : mb);
  else
    std::snprintf(buf, sizeof buf, "%.1f GB", mb / 1024.0);
  return buf;
}

std::uint64_t analysisMemory(long long nbf, long long natoms) {
  const auto n = static_cast<std::uint64_t>(nbf < 0 ? 0 : nbf);
  const auto a = static_cast<std::uint64_t>(natoms < 0 ? 0 : natoms);
  return 10 * n * n * sizeof(double) + 2 * a * a * sizeof(double);
}

void requireMemory(std::uint64_t bytes, const std::string& what) {
  const MemoryLimit m = memoryLimit();
  if (m.bytes == 0 || bytes <= m.bytes) return;
  refuse(" The analysis of " + what + " needs about " + byteText(bytes) + " of memory; " +
             byteText(m.bytes) + " are available under " + m.source,
         kCodeLimit);
}

}  // namespace mv
