#include <gtest/gtest.h>

#include "app/entry.hpp"
#include "solver/grid.hpp"

namespace nembo {
namespace {

TEST(WorkerCount, LimitedByCoresAndMemory) {
    const std::uint64_t grid = memory_per_thread(192);
    EXPECT_EQ(automatic_thread_count(16, 5 * grid + grid / 2, grid), 5u);
    EXPECT_EQ(automatic_thread_count(16, grid - 1, grid), 16u);  // not even one grid fits
    EXPECT_EQ(automatic_thread_count(16, 0, grid), 16u);         // memory query failed
    EXPECT_EQ(automatic_thread_count(16, 100 * grid, grid), 16u);
    EXPECT_EQ(automatic_thread_count(0, 100 * grid, grid), 1u);  // no cores in the topology
    // The fit is truncated to 32 bits: 2^32 grids wrap to 0, i.e. no limit.
    EXPECT_EQ(automatic_thread_count(8, (std::uint64_t{1} << 32) * 64, 64), 8u);
}

TEST(WorkerCount, ExplicitCountIsUsedUnchanged) {
    int detections = 0;
    TopologySlot slot([&] {
        ++detections;
        return Topology{};
    });
    BenchConfig config;
    config.numthreads = 512;
    config.size = 8192;
    EXPECT_EQ(resolve_thread_count(config, slot), 512u);
    EXPECT_EQ(detections, 0) << "an explicit count never asks for the topology";
}

// Two groups of two single-threaded cores each.
Topology two_groups() {
    Topology t;
    t.perf_level_count = 1;
    t.nodes.resize(1);
    t.nodes[0].llcs.resize(1);
    for (std::uint32_t c = 0; c < 4; ++c) {
        Core core;
        core.id = c;
        core.logicals = {{0, c, c % 2, static_cast<std::uint16_t>(c / 2)}};
        t.nodes[0].llcs[0].cores.push_back(core);
    }
    return t;
}

TEST(WorkerPlacement, OsWorkersTakeWholeGroupsOnlyWhenThereAreSeveral) {
    int detections = 0;
    const auto detect = [&] {
        ++detections;
        return two_groups();
    };
    BenchConfig config;
    config.threading = "os";
    config.numthreads = 4;
    {
        TopologySlot slot(detect);
        const Placement one = place_workers(config, slot, [] { return std::vector<GroupMask>{{0b11, 0}}; });
        EXPECT_EQ(one.thread_count, 4u);
        EXPECT_TRUE(one.plan.empty());
        EXPECT_TRUE(one.groups.groups.empty());
        EXPECT_EQ(detections, 0) << "one group: an explicit count still never asks for the topology";
    }
    {
        TopologySlot slot(detect);
        const Placement two =
            place_workers(config, slot, [] { return std::vector<GroupMask>{{0b11, 0}, {0b11, 1}}; });
        EXPECT_TRUE(two.plan.empty());
        EXPECT_EQ(two.groups.workers, (std::vector<std::uint32_t>{2, 2}));
        EXPECT_EQ(detections, 1);
    }
    {
        TopologySlot slot(detect);
        config.threading = "numa";
        int asked = 0;
        const Placement numa = place_workers(config, slot, [&] {
            ++asked;
            return std::vector<GroupMask>{{0b11, 0}, {0b11, 1}};
        });
        EXPECT_EQ(numa.plan.size(), 4u);
        EXPECT_TRUE(numa.groups.groups.empty()) << "a plan pins each worker already";
        EXPECT_EQ(asked, 0);
    }
}

TEST(TopologySlot, DetectsAtMostOnce) {
    int detections = 0;
    TopologySlot slot([&] {
        ++detections;
        Topology t;
        t.perf_level_count = 1;
        return t;
    });
    EXPECT_FALSE(slot.detected());
    const Topology& first = slot.get();
    const Topology& second = slot.get();
    EXPECT_EQ(&first, &second);
    EXPECT_EQ(detections, 1);
    EXPECT_EQ(first.perf_level_count, 1u);
}

TEST(Duration, ClampedToItsBounds) {
    EXPECT_EQ(clamp_duration(0), 1u);
    EXPECT_EQ(clamp_duration(1), 1u);
    EXPECT_EQ(clamp_duration(30), 30u);
    EXPECT_EQ(clamp_duration(1000), 1000u);
    EXPECT_EQ(clamp_duration(5000), 1000u);
}

}  // namespace
}  // namespace nembo
