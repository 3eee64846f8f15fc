// Windows pinning: SetThreadGroupAffinity on the calling thread.
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

}  // namespace nembo
