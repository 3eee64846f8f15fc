// Linux backends: a sysfs snapshot, this machine's sysfs, and real pinning.
#include <gtest/gtest.h>
#include <pthread.h>
#include <sched.h>
#include <unistd.h>

#include <algorithm>
#include <set>
#include <sstream>
#include <thread>

#include "platform/placement.hpp"
#include "platform/topology.hpp"

#ifndef NEMBO_TEST_DATA
#error "NEMBO_TEST_DATA must name the tests/data folder"
#endif

namespace nembo {
namespace {

std::string printed(const Topology& t) {
    std::ostringstream out;
    print_topology(out, t);
    return out.str();
}

TEST(SysfsTopology, ImaginedMachine) {
    const Topology t = build_topology(read_sysfs_records(NEMBO_TEST_DATA "/sysfs-imagined"));
    EXPECT_EQ(printed(t),
              "perf_level_count=2\n"
              "numa node id=0\n"
              "|--llc id=0\n"
              "|  |--core id=0 perf_level=0\n"
              "|  |  |--logical idx=0 os=0\n"
              "|  |  |--logical idx=1 os=2\n"
              "|  |--core id=1 perf_level=0\n"
              "|  |  |--logical idx=0 os=1\n"
              "|  |  |--logical idx=1 os=3\n"
              "numa node id=1\n"
              "|--llc id=1\n"
              "|  |--core id=2 perf_level=1\n"
              "|  |  |--logical idx=0 os=4\n"
              "|  |--core id=3 perf_level=1\n"
              "|  |  |--logical idx=0 os=5\n");
    std::vector<std::uint32_t> os;
    for (const LogicalProcessor& lp : plan_numa(t)) os.push_back(lp.os);
    EXPECT_EQ(os, (std::vector<std::uint32_t>{0, 1, 4, 5, 2, 3}));
}

TEST(SysfsTopology, MissingRootGivesNothing) {
    EXPECT_TRUE(read_sysfs_records(NEMBO_TEST_DATA "/no-such-folder").empty());
    const Topology t = build_topology(read_sysfs_records(NEMBO_TEST_DATA "/no-such-folder"));
    EXPECT_TRUE(t.nodes.empty());
    EXPECT_EQ(core_count(t), std::max(1u, std::thread::hardware_concurrency()));
}

TEST(SysfsTopology, ThisMachineAgreesWithTheSystem) {
    const Topology t = detect_topology();
    std::set<long> cpus;
    std::size_t logicals = 0;
    for (const NumaNode& node : t.nodes) {
        for (const Llc& llc : node.llcs) {
            for (const Core& core : llc.cores) {
                EXPECT_FALSE(core.logicals.empty());
                for (const LogicalProcessor& lp : core.logicals) {
                    cpus.insert(64L * lp.group + lp.os);
                    ++logicals;
                }
            }
        }
    }
    EXPECT_EQ(logicals, cpus.size());  // every processor appears once
    EXPECT_EQ(static_cast<long>(logicals), sysconf(_SC_NPROCESSORS_ONLN));
    EXPECT_GE(core_count(t), 1u);
    EXPECT_LE(core_count(t), logicals);
    EXPECT_GE(t.perf_level_count, 1u);
}

TEST(Pinning, ThreadEndsUpOnItsSingleProcessor) {
    const Topology t = detect_topology();
    const PlacementPlan plan = plan_numa(t);
    ASSERT_FALSE(plan.empty());
    cpu_set_t allowed;
    CPU_ZERO(&allowed);
    ASSERT_EQ(sched_getaffinity(0, sizeof(allowed), &allowed), 0);
    for (std::uint32_t index = 0; index < plan.size(); ++index) {
        const long cpu = 64L * plan[index].group + plan[index].os;
        if (!CPU_ISSET(static_cast<int>(cpu), &allowed)) continue;  // not ours to use
        int count = -1;
        bool on_cpu = false;
        std::thread([&] {
            pin_current_thread(plan, index);
            cpu_set_t now;
            CPU_ZERO(&now);
            pthread_getaffinity_np(pthread_self(), sizeof(now), &now);
            count = CPU_COUNT(&now);
            on_cpu = CPU_ISSET(static_cast<int>(cpu), &now);
        }).join();
        EXPECT_EQ(count, 1) << "plan entry " << index;
        EXPECT_TRUE(on_cpu) << "plan entry " << index;
    }
}

TEST(Pinning, RefusedProcessorOrIndexBeyondPlanLeavesThreadUnpinned) {
    PlacementPlan plan(1);
    plan[0].group = 1000;  // CPU 64000: not on this machine
    const auto allowed_count = [] {
        cpu_set_t set;
        CPU_ZERO(&set);
        pthread_getaffinity_np(pthread_self(), sizeof(set), &set);
        return CPU_COUNT(&set);
    };
    const PlacementPlan real = plan_numa(detect_topology());
    int before = -1;
    int after = -2;
    std::thread([&] {
        before = allowed_count();
        pin_current_thread(plan, 0);
        pin_current_thread(real, static_cast<std::uint32_t>(real.size()));
        after = allowed_count();
    }).join();
    EXPECT_EQ(before, after);
}

}  // namespace
}  // namespace nembo
