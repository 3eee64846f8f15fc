#pragma once
// Placement plans: which logical processor each worker pins itself to.
#include <cstdint>
#include <optional>
#include <string_view>
#include <vector>

#include "platform/topology.hpp"

namespace nembo {

using PlacementPlan = std::vector<LogicalProcessor>;

// "numa" and "phte" build their plans from the topology; any other name
// (that is, "os") gives the empty plan.
PlacementPlan make_plan(std::string_view mode, const Topology& topology);
PlacementPlan plan_numa(const Topology& topology);
PlacementPlan plan_phte(const Topology& topology);

// Pins the calling thread to plan entry `index`; an index beyond the plan
// leaves the thread where it is. A processor the system refuses leaves the
// thread where it is too, without a message.
void pin_current_thread(const PlacementPlan& plan, std::uint32_t index);

// `os` mode on a machine of several processor groups. Windows before 11 and
// Server 2022 keeps a process's threads in the one group it started in, so
// each worker takes a whole group, with its active mask, and the system
// still places the worker inside it. Consecutive workers fill the groups in
// order: workers[0] of them go to groups[0], the next workers[1] to
// groups[1], and so on. Empty: no worker asks for a group.
struct GroupSpread {
    std::vector<GroupMask> groups;
    std::vector<std::uint32_t> workers;
};

// Spreads `thread_count` workers over `groups` in proportion to each group's
// cores in `topology` (to its active processors when the topology has no
// core in any of them): the largest remainders take the workers left over,
// the lower group first on a tie. Empty with fewer than two groups.
GroupSpread spread_over_groups(const Topology& topology, const std::vector<GroupMask>& groups,
                               std::uint32_t thread_count);

// The group of worker `index`; none beyond the spread's workers.
std::optional<GroupMask> group_of_worker(const GroupSpread& spread, std::uint32_t index);

// Gives the calling thread the whole group of worker `index`; a worker
// without one stays where it is, and so does one the system refuses.
void confine_current_thread(const GroupSpread& spread, std::uint32_t index);

// Building blocks of the two plans. The references point into the topology,
// which must outlive them.

// The cores of one performance level, grouped per last-level cache: first
// cache of node 0, first cache of node 1, ..., second cache of node 0, ...
struct LevelGroups {
    std::vector<std::vector<const Core*>> groups;
    std::uint32_t max_threads_per_core = 0;
};

// Slot j collects the j-th hardware thread of cores.
using Slots = std::vector<std::vector<const LogicalProcessor*>>;

LevelGroups level_groups(const Topology& topology, std::uint32_t level);
// Appends the hardware threads of `lg` to the existing slots, round-robin
// over the groups; threads beyond the number of slots are not placed.
void distribute(Slots& slots, const LevelGroups& lg);

}  // namespace nembo
