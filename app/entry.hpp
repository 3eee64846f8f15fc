#pragma once
// The entry flow: mode dispatch, the run driver and the closing pause.
#include <cstdint>
#include <functional>
#include <optional>
#include <vector>

#include "app/command_line.hpp"
#include "app/run.hpp"
#include "platform/topology.hpp"

namespace nembo {

// Holds the topology once it has been detected; detection happens on the
// first request and at most once per process.
class TopologySlot {
public:
    explicit TopologySlot(std::function<Topology()> detect = detect_topology);
    const Topology& get();
    bool detected() const { return topology_.has_value(); }

private:
    std::function<Topology()> detect_;
    std::optional<Topology> topology_;
};

// The automatic worker count from its inputs: `cores` processor cores, free
// memory `available` bytes, `per_thread` bytes for one grid.
std::uint32_t automatic_thread_count(std::uint32_t cores, std::uint64_t available, std::uint64_t per_thread);

std::uint32_t resolve_thread_count(const BenchConfig& config, TopologySlot& slot);
// The worker count and where the workers go: a plan for `numa` and `phte`;
// for `os`, a group per worker when `active_groups` lists several.
Placement place_workers(const BenchConfig& config, TopologySlot& slot,
                        const std::function<std::vector<GroupMask>()>& active_groups = active_processor_groups);
std::uint32_t clamp_duration(std::uint32_t duration);

std::optional<double> run_benchmark(BenchConfig config, TopologySlot& slot);

// The whole program; returns the process exit status.
int run_entry(int argc, const char* const* argv);

}  // namespace nembo
