#include "bench/pinned_workers.hpp"

#include <thread>
#include <vector>

#include "app/entry.hpp"
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
    // The run's rule for its automatic worker count (one per core, no more
    // than the free memory holds), for grids of the largest size measured,
    // each counted as memory_per_thread(192) bytes. A run counts its grids
    // with the H block's lead (grid_storage_bytes), so where memory is the
    // limit this count can be one above that of a run at size 192.
    static const std::uint32_t count =
        automatic_thread_count(core_count(topology()), available_physical_memory(), memory_per_thread(192));
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
