// How much memory a run may count on.
#pragma once

#include <cstdint>
#include <string>

namespace mv {

// Bytes of memory available to a new allocation (the system's estimate of
// available memory, or the free physical memory where there is none); 0
// when unknown.
std::uint64_t availableMemory();

// A size in bytes for messages: "742 MB", "3.1 GB".
std::string byteText(std::uint64_t bytes);

// Refuse a run whose tables would need more memory than is available, with
// a message that names `what` and the size needed.
void requireMemory(std::uint64_t bytes, const std::string& what);

}  // namespace mv
