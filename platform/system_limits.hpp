#pragma once
// What the operating system lets this process have: memory for its fields and
// the number of its threads. The Linux figures come from /proc and the cgroup
// files, read under a root folder so that tests can hand in crafted ones.
#include <cstdint>
#include <filesystem>

namespace nembo {

inline constexpr std::uint64_t no_limit = UINT64_MAX;

struct MemoryFigures {
    std::uint64_t available = 0;          // MemAvailable in bytes; 0 when unknown
    std::uint64_t cgroup_room = no_limit;  // what the memory cgroups still allow; no_limit when unlimited
    std::uint64_t huge_page_size = 0;      // Hugepagesize in bytes; 0 when absent
};

// /proc/meminfo, and for the process's own memory cgroup and each of its
// ancestors: cgroup v2 memory.max - memory.current, cgroup v1
// memory.limit_in_bytes - memory.usage_in_bytes, each only where present and
// limited. The smallest room wins.
MemoryFigures read_memory_figures(const std::filesystem::path& root);

// The most threads the process may have: the smallest of kernel/threads-max,
// kernel/pid_max, the soft "Max processes" of /proc/self/limits and the room
// left in the process's pids cgroups. no_limit when none is known.
std::uint64_t read_thread_limit(const std::filesystem::path& root);

// This system's thread limit (no_limit when it sets none that can be known).
std::uint64_t max_threads();

}  // namespace nembo
