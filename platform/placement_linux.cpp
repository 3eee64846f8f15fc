// Linux pinning: the plan entry's processor is CPU 64 * group + bit.
#include <pthread.h>
#include <sched.h>

#include "platform/placement.hpp"

namespace nembo {

void pin_current_thread(const PlacementPlan& plan, std::uint32_t index) {
    if (index >= plan.size()) return;
    const LogicalProcessor& lp = plan[index];
    const std::size_t cpu = std::size_t{64} * lp.group + lp.os % 64;
    cpu_set_t* set = CPU_ALLOC(cpu + 1);
    if (set == nullptr) return;
    const std::size_t size = CPU_ALLOC_SIZE(cpu + 1);
    CPU_ZERO_S(size, set);
    CPU_SET_S(cpu, size, set);
    // A refused processor (offline, outside the allowed set) leaves the
    // thread unpinned, as on Windows.
    (void)pthread_setaffinity_np(pthread_self(), size, set);
    CPU_FREE(set);
}

// Linux threads span every processor, so no worker is ever given a group
// (active_processor_groups is empty); the call exists for the shared worker.
void confine_current_thread(const GroupSpread&, std::uint32_t) {}

}  // namespace nembo
