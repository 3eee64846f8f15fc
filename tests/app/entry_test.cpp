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
