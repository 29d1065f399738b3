#include "core/memory.h"

#include <unistd.h>

#include <cstdio>
#include <fstream>
#include <sstream>

#include "core/stop.h"

namespace mv {

std::uint64_t availableMemory() {
  std::ifstream in("/proc/meminfo");
  std::string key;
  std::uint64_t kb = 0;
  std::string unit;
  while (in >> key >> kb) {
    std::getline(in, unit);
    if (key == "MemAvailable:") return kb * 1024;
  }
  const long pages = sysconf(_SC_AVPHYS_PAGES);
  const long size = sysconf(_SC_PAGESIZE);
  if (pages > 0 && size > 0)
    return static_cast<std::uint64_t>(pages) * static_cast<std::uint64_t>(size);
  return 0;
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

void requireMemory(std::uint64_t bytes, const std::string& what) {
  const std::uint64_t avail = availableMemory();
  if (avail == 0 || bytes <= avail) return;
  refuse(" The analysis of " + what + " needs about " + byteText(bytes) + " of memory; " +
             byteText(avail) + " are available. STOP",
         kCodeLimit);
}

}  // namespace mv
