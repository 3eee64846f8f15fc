#pragma once
// Placement plans: which logical processor each worker pins itself to.
#include <cstdint>
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
// leaves the thread where it is.
void pin_current_thread(const PlacementPlan& plan, std::uint32_t index);

}  // namespace nembo
