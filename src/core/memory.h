// How much memory a run may count on.
#pragma once

#include <cstdint>
#include <string>

namespace mv {

// The memory a new allocation may take, and what sets that bound: the
// smallest of the machine's available memory, the room left under the
// process's control group (cgroup v2 memory.max less memory.current, or
// cgroup v1 memory.limit_in_bytes less memory.usage_in_bytes, page cache
// that can be dropped not counted as used), and the room left under its
// address-space limit (RLIMIT_AS).  bytes is 0 when nothing is known.
struct MemoryLimit {
  std::uint64_t bytes = 0;
  std::string source;  // "the machine's available memory", "the cgroup limit (memory.max)", ...
};
MemoryLimit memoryLimit();
// The same with /proc and /sys/fs/cgroup read under the directory `root`
// (for tests; the address-space limit is the process's own).
MemoryLimit memoryLimitUnder(const std::string& root);

// memoryLimit().bytes.
std::uint64_t availableMemory();

// A size in bytes for messages: "742 MB", "3.1 GB".
std::string byteText(std::uint64_t bytes);

// Memory the analysis of nbf basis functions and natoms atoms needs at its
// peak: about ten nbf by nbf matrices and the bond-order tables.
std::uint64_t analysisMemory(long long nbf, long long natoms);

// Refuse a run whose tables would need more memory than the limit allows,
// with a message that names `what`, the size needed, the limit and what
// sets it.
void requireMemory(std::uint64_t bytes, const std::string& what);

}  // namespace mv
