#include "bench/pinned_workers.hpp"

#include <thread>
#include <vector>

#include "platform/topology.hpp"
#include "solver/grid.hpp"

namespace nembo::bench {

namespace {

const Topology& topology() {
    static const Topology detected = detect_topology();
    return detected;
}

}  // namespace

const PlacementPlan& numa_plan() {
    static const PlacementPlan plan = plan_numa(topology());
    return plan;
}

std::uint32_t all_workers() {
    // As a run picks its worker count: one per core, but no more grids of the
    // largest size measured than the free memory holds.
    static const std::uint32_t count = [] {
        std::uint32_t workers = core_count(topology());
        const std::uint64_t available = available_physical_memory();
        if (available != 0) {
            const std::uint64_t fit = available / memory_per_thread(192);
            if (fit < workers) workers = static_cast<std::uint32_t>(fit);
        }
        return workers == 0 ? 1u : workers;
    }();
    return count;
}

void run_pinned(std::uint32_t workers,
                const std::function<void(std::uint32_t index, Barrier& start)>& body) {
    Barrier start(static_cast<std::ptrdiff_t>(workers));
    std::vector<std::thread> threads;
    threads.reserve(workers);
    for (std::uint32_t i = 0; i < workers; ++i) {
        threads.emplace_back([&, i] {
            pin_current_thread(numa_plan(), i);
            body(i, start);
        });
    }
    for (std::thread& thread : threads) thread.join();
}

}  // namespace nembo::bench
