// Windows backends against the system itself (run under Wine here).
#include <windows.h>

#include <gtest/gtest.h>

#include <bit>
#include <thread>
#include <vector>

#include "platform/placement.hpp"
#include "platform/timer.hpp"
#include "platform/topology.hpp"

namespace nembo {
namespace {

TEST(WindowsTopology, AgreesWithActiveProcessorCount) {
    const Topology t = detect_topology();
    std::size_t logicals = 0;
    for (const NumaNode& node : t.nodes) {
        for (const Llc& llc : node.llcs) {
            for (const Core& core : llc.cores) logicals += core.logicals.size();
        }
    }
    EXPECT_EQ(logicals, GetActiveProcessorCount(ALL_PROCESSOR_GROUPS));
    EXPECT_GE(t.perf_level_count, 1u);
}

TEST(WindowsPinning, ThreadEndsUpOnItsSingleProcessor) {
    const PlacementPlan plan = plan_numa(detect_topology());
    ASSERT_FALSE(plan.empty());
    for (std::uint32_t index = 0; index < plan.size(); ++index) {
        GROUP_AFFINITY now{};
        std::thread([&] {
            pin_current_thread(plan, index);
            GetThreadGroupAffinity(GetCurrentThread(), &now);
        }).join();
        EXPECT_EQ(now.Mask, KAFFINITY{1} << plan[index].os) << "plan entry " << index;
        EXPECT_EQ(now.Group, plan[index].group) << "plan entry " << index;
    }
}

TEST(WindowsGroups, ActiveGroupsCoverEveryProcessorAndConfineAThread) {
    const std::vector<GroupMask> groups = active_processor_groups();
    ASSERT_EQ(groups.size(), GetActiveProcessorGroupCount());
    DWORD processors = 0;
    for (const GroupMask& g : groups) processors += static_cast<DWORD>(std::popcount(g.mask));
    EXPECT_EQ(processors, GetActiveProcessorCount(ALL_PROCESSOR_GROUPS));

    // Two workers in the last group, a third beyond the spread.
    const GroupSpread spread{{groups.back()}, {2}};
    GROUP_AFFINITY before{};
    GetThreadGroupAffinity(GetCurrentThread(), &before);
    for (std::uint32_t index = 0; index < 3; ++index) {
        GROUP_AFFINITY now{};
        std::thread([&] {
            confine_current_thread(spread, index);
            GetThreadGroupAffinity(GetCurrentThread(), &now);
        }).join();
        const GroupMask expected = index < 2 ? groups.back() : GroupMask{before.Mask, before.Group};
        EXPECT_EQ(now.Mask, expected.mask) << "worker " << index;
        EXPECT_EQ(now.Group, expected.group) << "worker " << index;
    }
}

TEST(WindowsTimers, Frequencies) {
    const TimerInfo fast = describe_fast_timer();
    EXPECT_EQ(fast.report_frequency, fast.underlying_frequency);
    EXPECT_GT(fast.report_frequency, 0);
    const TimerInfo coarse = describe_coarse_timer();
    EXPECT_EQ(coarse.report_frequency, 1000);
    EXPECT_GT(coarse.underlying_frequency, 0);
}

}  // namespace
}  // namespace nembo
