// Windows pinning: SetThreadGroupAffinity on the calling thread, to one
// processor of a plan or to a whole processor group.
#include <windows.h>

#include "platform/placement.hpp"

namespace nembo {

void pin_current_thread(const PlacementPlan& plan, std::uint32_t index) {
    if (index >= plan.size()) return;
    const LogicalProcessor& lp = plan[index];
    GROUP_AFFINITY affinity{};
    affinity.Mask = KAFFINITY{1} << (lp.os % 64);
    affinity.Group = lp.group;
    // The result is not used: a refused pin leaves the thread where it is.
    (void)SetThreadGroupAffinity(GetCurrentThread(), &affinity, nullptr);
}

void confine_current_thread(const GroupSpread& spread, std::uint32_t index) {
    const std::optional<GroupMask> group = group_of_worker(spread, index);
    if (!group) return;
    GROUP_AFFINITY affinity{};
    affinity.Mask = static_cast<KAFFINITY>(group->mask);
    affinity.Group = group->group;
    // As with a pin, a refusal leaves the thread in the group it started in.
    (void)SetThreadGroupAffinity(GetCurrentThread(), &affinity, nullptr);
}

}  // namespace nembo
