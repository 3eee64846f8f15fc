#pragma once
// The Linux topology's own probe: each processor asked for its core's kind.
#include <cstdint>
#include <span>

#include "platform/topology.hpp"

namespace nembo {

// Asks each of `cpus` that this process may run on (its main thread's
// affinity) with CPUID, from one short-lived helper thread that pins itself
// to each in turn, so the calling thread never moves. A processor outside
// that affinity, or one the helper cannot run on (offline, outside the
// cgroup's cpuset), is missing from the answer; one that says nothing is
// unknown.
CoreTypes ask_each_processor(std::span<const std::uint32_t> cpus);

// The same, only on a processor that reports core kinds at all (checked
// on the calling thread first); elsewhere nothing, at no cost.
CoreTypes probe_core_types(std::span<const std::uint32_t> cpus);

}  // namespace nembo
