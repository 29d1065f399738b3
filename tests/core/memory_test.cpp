// The memory limit a run counts on: the machine's available memory, the
// room under the process's control group (v1 and v2, nested), the
// address-space limit; and the refusal that names the limit.
#include "core/memory.h"

#include <gtest/gtest.h>
#include <sys/resource.h>

#include <filesystem>
#include <string>
#include <utility>
#include <vector>

#include "core/stop.h"
#include "support/testutil.h"

namespace fs = std::filesystem;

namespace {

constexpr std::uint64_t kMB = 1024 * 1024;

// A fake /proc and /sys/fs/cgroup: files given as (path, contents).
std::string tree(const std::vector<std::pair<std::string, std::string>>& files) {
  const std::string root = mvtest::makeTempDir("mvmemory");
  for (const auto& [path, text] : files) {
    fs::create_directories(fs::path(root + path).parent_path());
    mvtest::writeFile(root + path, text);
  }
  return root;
}

std::string kb(std::uint64_t bytes) {
  return std::to_string(bytes / 1024);
}

}  // namespace

TEST(MemoryLimit, TheSmallestOfMachineAndControlGroupsApplies) {
  const std::string meminfo = "MemTotal: 99999999 kB\nMemAvailable: " + kb(8000 * kMB) + " kB\n";
  const struct {
    const char* what;
    std::vector<std::pair<std::string, std::string>> files;
    std::uint64_t bytes;
    std::string source;
  } cases[] = {
      {"no control group limit",
       {{"/proc/meminfo", meminfo},
        {"/proc/self/cgroup", "0::/job\n"},
        {"/sys/fs/cgroup/job/memory.max", "max\n"},
        {"/sys/fs/cgroup/job/memory.current", "12345\n"}},
       8000 * kMB,
       "the machine's available memory"},
      {"cgroup v2: memory.max less memory.current, inactive file pages not counted",
       {{"/proc/meminfo", meminfo},
        {"/proc/self/cgroup", "0::/slurm/job7\n"},
        {"/sys/fs/cgroup/slurm/job7/memory.max", std::to_string(512 * kMB) + "\n"},
        {"/sys/fs/cgroup/slurm/job7/memory.current", std::to_string(300 * kMB) + "\n"},
        {"/sys/fs/cgroup/slurm/job7/memory.stat",
         "anon 1\nfile 2\ninactive_file " + std::to_string(100 * kMB) + "\n"}},
       312 * kMB,
       "the cgroup limit (memory.max)"},
      {"cgroup v2: a parent's limit is tighter",
       {{"/proc/meminfo", meminfo},
        {"/proc/self/cgroup", "0::/slurm/job7\n"},
        {"/sys/fs/cgroup/slurm/memory.max", std::to_string(256 * kMB) + "\n"},
        {"/sys/fs/cgroup/slurm/memory.current", std::to_string(56 * kMB) + "\n"},
        {"/sys/fs/cgroup/slurm/job7/memory.max", std::to_string(512 * kMB) + "\n"},
        {"/sys/fs/cgroup/slurm/job7/memory.current", std::to_string(50 * kMB) + "\n"}},
       200 * kMB,
       "the cgroup limit (memory.max)"},
      {"cgroup v1: limit_in_bytes less usage_in_bytes",
       {{"/proc/meminfo", meminfo},
        {"/proc/self/cgroup", "5:cpu,cpuacct:/x\n4:memory:/docker/abc\n"},
        {"/sys/fs/cgroup/memory/docker/abc/memory.limit_in_bytes", std::to_string(1024 * kMB)},
        {"/sys/fs/cgroup/memory/docker/abc/memory.usage_in_bytes", std::to_string(700 * kMB)},
        {"/sys/fs/cgroup/memory/docker/abc/memory.stat",
         "cache 5\ntotal_inactive_file " + std::to_string(76 * kMB) + "\n"}},
       400 * kMB,
       "the cgroup limit (memory.limit_in_bytes)"},
      {"cgroup v1: no limit is about 2^63",
       {{"/proc/meminfo", meminfo},
        {"/proc/self/cgroup", "4:memory:/\n"},
        {"/sys/fs/cgroup/memory/memory.limit_in_bytes", "9223372036854771712\n"},
        {"/sys/fs/cgroup/memory/memory.usage_in_bytes", "2920411136\n"}},
       8000 * kMB,
       "the machine's available memory"},
      {"a control group over its limit leaves a byte",
       {{"/proc/meminfo", meminfo},
        {"/proc/self/cgroup", "0::/\n"},
        {"/sys/fs/cgroup/memory.max", std::to_string(100 * kMB)},
        {"/sys/fs/cgroup/memory.current", std::to_string(120 * kMB)}},
       1,
       "the cgroup limit (memory.max)"},
  };
  rlimit as{};
  ASSERT_EQ(getrlimit(RLIMIT_AS, &as), 0);
  if (as.rlim_cur != RLIM_INFINITY) GTEST_SKIP() << "the tests run under an address-space limit";
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    const std::string root = tree(c.files);
    const mv::MemoryLimit m = mv::memoryLimitUnder(root);
    EXPECT_EQ(m.bytes, c.bytes);
    EXPECT_EQ(m.source, c.source);
    fs::remove_all(root);
  }
}

TEST(MemoryLimit, ARefusalNamesTheSizeTheRoomAndWhatSetsIt) {
  EXPECT_EQ(mv::analysisMemory(1000, 10), 10u * 1000 * 1000 * 8 + 2u * 10 * 10 * 8);
  EXPECT_EQ(mv::analysisMemory(-1, -1), 0u);
  const mv::MemoryLimit m = mv::memoryLimit();
  ASSERT_GT(m.bytes, 0u);
  try {
    mv::requireMemory(m.bytes + (std::uint64_t{1} << 40), "a test");
    FAIL() << "not refused";
  } catch (const mv::Stop& s) {
    EXPECT_EQ(s.code, "8100");
    ASSERT_EQ(s.records.size(), 1u);
    EXPECT_EQ(s.records[0].rfind(" The analysis of a test needs about ", 0), 0u) << s.records[0];
    EXPECT_NE(s.records[0].find(" are available under the "), std::string::npos) << s.records[0];
  }
  EXPECT_NO_THROW(mv::requireMemory(1, "a byte"));
}
