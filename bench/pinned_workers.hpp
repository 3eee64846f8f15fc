#pragma once
// Runs one function on several threads at once, each pinned as a run's
// "numa" plan would pin its worker, with a common start line.
#include <cstdint>
#include <functional>

#include "platform/barrier.hpp"
#include "platform/placement.hpp"

namespace nembo::bench {

// The plan a run with the numa manager would use, and a worker count by the
// rule a run uses by default: one per core, limited by the free memory for
// grids of size 192 (see all_workers for how they are counted).
const PlacementPlan& numa_plan();
std::uint32_t all_workers();

// Calls body(index, start) on `workers` threads, thread i pinned to plan entry
// i. Each body prepares its own data, then passes `start` (arrive_and_wait)
// before its timed part, so the timed parts overlap. Returns after all joined.
void run_pinned(std::uint32_t workers,
                const std::function<void(std::uint32_t index, Barrier& start)>& body);

}  // namespace nembo::bench
