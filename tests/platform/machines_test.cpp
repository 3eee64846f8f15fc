// Real machines as Windows describes them: GetLogicalProcessorInformationEx
// buffers laid out as those systems list them, through the decoder, the
// tree, the plans and the spread of `os` workers over processor groups.
#include <gtest/gtest.h>

#include <map>
#include <set>
#include <sstream>
#include <string>

#include "platform/placement.hpp"
#include "platform/topology.hpp"
#include "processor_information.hpp"

namespace nembo {
namespace {

using test::Buffer;

constexpr std::uint64_t all64 = ~0ull;

// Both SMT threads of core k of a group: processors 2k and 2k + 1.
GroupMask smt_pair(std::uint32_t k, std::uint16_t group = 0) { return {0b11ull << (2 * k), group}; }

std::string tree_text(const Topology& t) {
    std::ostringstream out;
    print_topology(out, t);
    return out.str();
}

// "core.thread" for each entry, blank-separated.
std::string plan_threads(const PlacementPlan& plan, std::size_t first = 0, std::size_t count = SIZE_MAX) {
    std::string text;
    for (std::size_t i = first; i < plan.size() && i - first < count; ++i) {
        if (!text.empty()) text += ' ';
        text += std::to_string(plan[i].core) + '.' + std::to_string(plan[i].idx);
    }
    return text;
}

// A tree too large to print, one line per node: its caches, its cores and
// how many processors each group gives it.
std::string outline(const Topology& t) {
    std::string text = "levels " + std::to_string(t.perf_level_count) + "\n";
    for (const NumaNode& node : t.nodes) {
        std::map<std::uint16_t, int> per_group;
        std::uint32_t cores = 0;
        std::uint32_t first_core = UINT32_MAX;
        std::uint32_t last_core = 0;
        for (const Llc& llc : node.llcs) {
            for (const Core& core : llc.cores) {
                ++cores;
                first_core = std::min(first_core, core.id);
                last_core = std::max(last_core, core.id);
                for (const LogicalProcessor& lp : core.logicals) ++per_group[lp.group];
            }
        }
        text += "node " + std::to_string(node.id) + ": llcs " + std::to_string(node.llcs.front().id) + "-" +
                std::to_string(node.llcs.back().id) + ", " + std::to_string(cores) + " cores " +
                std::to_string(first_core) + "-" + std::to_string(last_core);
        for (const auto& [group, count] : per_group) {
            text += ", group " + std::to_string(group) + ": " + std::to_string(count);
        }
        text += "\n";
    }
    return text;
}

// Workers per group of the `os` spread for `n` workers.
std::vector<std::uint32_t> os_workers(const Topology& t, std::span<const std::byte> groups, std::uint32_t n) {
    return spread_over_groups(t, decode_processor_groups(groups), n).workers;
}

// Intel Core i5-12600K, Windows 11 23H2: six P-cores with two threads
// (EfficiencyClass 1), four E-cores (class 0) in one module.
Buffer core_i5_12600k() {
    Buffer b;
    b.processor(0, {{0xFFFF, 0}}, test::smt_flag, test::relation_processor_package);
    for (std::uint32_t k = 0; k < 6; ++k) {
        b.processor(1, {smt_pair(k)}, test::smt_flag);
        b.processor(1, {smt_pair(k)}, test::smt_flag, test::relation_processor_module);
        b.cache(1, {smt_pair(k)}, 1, test::cache_data, 48);
        b.cache(1, {smt_pair(k)}, 1, test::cache_instruction, 32);
        b.cache(2, {smt_pair(k)}, 1, test::cache_unified, 1280);
        if (k == 0) b.cache(3, {{0xFFFF, 0}}, 1, test::cache_unified, 20480);
    }
    for (std::uint32_t cpu = 12; cpu < 16; ++cpu) {
        b.processor(0, {{1ull << cpu, 0}});
        if (cpu == 12) b.processor(0, {{0xF000, 0}}, 0, test::relation_processor_module);
        b.cache(1, {{1ull << cpu, 0}}, 1, test::cache_data, 32);
        b.cache(1, {{1ull << cpu, 0}}, 1, test::cache_instruction, 64);
        if (cpu == 12) b.cache(2, {{0xF000, 0}}, 1, test::cache_unified, 2048);
    }
    b.numa(0, {{0xFFFF, 0}}, 1);
    b.groups({0xFFFF});
    return b;
}

TEST(RealMachines, CoreI5_12600KUnderWindows11) {
    const Buffer b = core_i5_12600k();
    EXPECT_EQ(b.size(), 2560u) << "the length Windows 11 gives for this processor";
    const Topology t = build_topology(decode_processor_information(b.bytes()));
    std::string expected = "perf_level_count=2\nnuma node id=0\n|--llc id=0\n";
    for (std::uint32_t core = 0; core < 10; ++core) {
        expected += "|  |--core id=" + std::to_string(core) + " perf_level=" + (core < 6 ? "0" : "1") + "\n";
        if (core < 6) {
            expected += "|  |  |--logical idx=0 os=" + std::to_string(2 * core) + "\n";
            expected += "|  |  |--logical idx=1 os=" + std::to_string(2 * core + 1) + "\n";
        } else {
            expected += "|  |  |--logical idx=0 os=" + std::to_string(core + 6) + "\n";
        }
    }
    EXPECT_EQ(tree_text(t), expected);
    EXPECT_EQ(core_count(t), 10u);
    EXPECT_EQ(plan_threads(plan_phte(t)), "0.0 1.0 2.0 3.0 4.0 5.0 0.1 1.1 2.1 3.1 4.1 5.1 6.0 7.0 8.0 9.0");
    EXPECT_EQ(plan_threads(plan_numa(t)), "0.0 1.0 2.0 3.0 4.0 5.0 6.0 7.0 8.0 9.0 0.1 1.1 2.1 3.1 4.1 5.1");
    EXPECT_TRUE(os_workers(t, b.bytes(), 10).empty()) << "one group: no worker asks for one";
}

// A 64-core, 128-thread desktop processor: sixteen level-3 caches of four
// cores with SMT, two groups of 64 processors. Windows 10 splits the one
// NUMA node into one node per group; Windows 11 keeps one node, which
// RelationAll lists with its primary group only and RelationNumaNodeEx with
// both.
Buffer desktop_64_cores(bool windows11, Buffer* numa_ex = nullptr) {
    Buffer b;
    b.processor(0, {{all64, 0}, {all64, 1}}, test::smt_flag, test::relation_processor_package);
    for (std::uint32_t c = 0; c < 64; ++c) {
        const auto group = static_cast<std::uint16_t>(c / 32);
        const std::uint32_t k = c % 32;
        b.processor(0, {smt_pair(k, group)}, test::smt_flag);
        b.cache(1, {smt_pair(k, group)}, 1, test::cache_data, 32);
        b.cache(1, {smt_pair(k, group)}, 1, test::cache_instruction, 32);
        b.cache(2, {smt_pair(k, group)}, 1, test::cache_unified, 512);
        if (k % 4 == 0) b.cache(3, {{0xFFull << (2 * k), group}}, 1, test::cache_unified, 16384);
    }
    if (windows11) {
        b.numa(0, {{all64, 0}}, 1);
        if (numa_ex != nullptr) numa_ex->numa(0, {{all64, 0}, {all64, 1}}, 2, test::relation_numa_node_ex);
    } else {
        b.numa(0, {{all64, 0}}, 1);
        b.numa(1, {{all64, 1}}, 1);
    }
    b.groups({all64, all64});
    return b;
}

TEST(RealMachines, Desktop64CoresUnderWindows10) {
    const Buffer b = desktop_64_cores(false);
    const Topology t = build_topology(decode_processor_information(b.bytes()));
    EXPECT_EQ(outline(t),
              "levels 1\n"
              "node 0: llcs 0-7, 32 cores 0-31, group 0: 64\n"
              "node 1: llcs 8-15, 32 cores 32-63, group 1: 64\n");
    EXPECT_EQ(t.nodes[1].llcs[0].cores[0].logicals[0].os, 0u) << "group 1 starts again at bit 0";
    EXPECT_EQ(core_count(t), 64u);
    EXPECT_EQ(os_workers(t, b.bytes(), core_count(t)), (std::vector<std::uint32_t>{32, 32}));
    EXPECT_EQ(os_workers(t, b.bytes(), 4), (std::vector<std::uint32_t>{2, 2}));
    EXPECT_EQ(os_workers(t, b.bytes(), 128), (std::vector<std::uint32_t>{64, 64}));
    // numa alternates the nodes, then the caches, before any second thread.
    const PlacementPlan numa = plan_numa(t);
    ASSERT_EQ(numa.size(), 128u);
    EXPECT_EQ(plan_threads(numa, 0, 4), "0.0 32.0 4.0 36.0");
    EXPECT_EQ(plan_threads(numa, 64, 2), "0.1 32.1");
    EXPECT_EQ(numa[1].group, 1u);
    EXPECT_EQ(plan_threads(plan_phte(t)), plan_threads(numa)) << "one level: both plans agree";
}

TEST(RealMachines, Desktop64CoresUnderWindows11) {
    Buffer numa_ex;
    const Buffer b = desktop_64_cores(true, &numa_ex);
    const Topology t = build_topology(
        with_whole_numa_nodes(decode_processor_information(b.bytes()), decode_processor_information(numa_ex.bytes())));
    EXPECT_EQ(outline(t), "levels 1\nnode 0: llcs 0-15, 64 cores 0-63, group 0: 64, group 1: 64\n");
    EXPECT_EQ(os_workers(t, b.bytes(), core_count(t)), (std::vector<std::uint32_t>{32, 32}));
    const GroupSpread spread = spread_over_groups(t, decode_processor_groups(b.bytes()), 64);
    EXPECT_EQ(group_of_worker(spread, 31)->group, 0u);
    EXPECT_EQ(group_of_worker(spread, 32)->group, 1u);
    EXPECT_EQ(group_of_worker(spread, 32)->mask, all64);
    EXPECT_FALSE(group_of_worker(spread, 64).has_value());
}

// Two sockets of 64 cores with SMT under Windows Server 2022: four groups
// of 64, node 0 over groups 0 and 1, node 1 over groups 2 and 3, eight
// level-3 caches of eight cores per socket. RelationAll lists each node
// with its primary group only.
Buffer server_2x64_cores(Buffer& numa_ex) {
    Buffer b;
    for (std::uint16_t socket = 0; socket < 2; ++socket) {
        const auto first = static_cast<std::uint16_t>(2 * socket);
        b.processor(0, {{all64, first}, {all64, static_cast<std::uint16_t>(first + 1)}}, test::smt_flag,
                    test::relation_processor_package);
        for (std::uint32_t c = 0; c < 64; ++c) {
            const auto group = static_cast<std::uint16_t>(first + c / 32);
            const std::uint32_t k = c % 32;
            b.processor(0, {smt_pair(k, group)}, test::smt_flag);
            b.cache(2, {smt_pair(k, group)}, 1, test::cache_unified, 1024);
            if (k % 8 == 0) b.cache(3, {{0xFFFFull << (2 * k), group}}, 1, test::cache_unified, 32768);
        }
    }
    b.numa(0, {{all64, 0}}, 1);
    b.numa(1, {{all64, 2}}, 1);
    b.groups({all64, all64, all64, all64});
    numa_ex.numa(0, {{all64, 0}, {all64, 1}}, 2, test::relation_numa_node_ex);
    numa_ex.numa(1, {{all64, 2}, {all64, 3}}, 2, test::relation_numa_node_ex);
    return b;
}

TEST(RealMachines, TwoSocketServerUnderWindowsServer2022) {
    Buffer numa_ex;
    const Buffer b = server_2x64_cores(numa_ex);
    const auto records = decode_processor_information(b.bytes());
    const Topology t = build_topology(with_whole_numa_nodes(records, decode_processor_information(numa_ex.bytes())));
    EXPECT_EQ(outline(t),
              "levels 1\n"
              "node 0: llcs 0-7, 64 cores 0-63, group 0: 64, group 1: 64\n"
              "node 1: llcs 8-15, 64 cores 64-127, group 2: 64, group 3: 64\n");
    // From RelationAll alone, group 3 has no node and falls back to node 0.
    EXPECT_EQ(outline(build_topology(records)),
              "levels 1\n"
              "node 0: llcs 0-15, 96 cores 0-127, group 0: 64, group 1: 64, group 3: 64\n"
              "node 1: llcs 8-11, 32 cores 64-95, group 2: 64\n");
    EXPECT_EQ(os_workers(t, b.bytes(), core_count(t)), (std::vector<std::uint32_t>{32, 32, 32, 32}));
    EXPECT_EQ(os_workers(t, b.bytes(), 6), (std::vector<std::uint32_t>{2, 2, 1, 1}));
    EXPECT_EQ(plan_threads(plan_numa(t), 0, 4), "0.0 64.0 8.0 72.0") << "numa alternates the sockets";
}

// A 56-core, 112-thread workstation processor: Windows packs it into two
// groups of 56 processors; one level-3 cache and one node over both.
Buffer workstation_56_cores(Buffer& numa_ex) {
    constexpr std::uint64_t all56 = (1ull << 56) - 1;
    Buffer b;
    b.processor(0, {{all56, 0}, {all56, 1}}, test::smt_flag, test::relation_processor_package);
    for (std::uint32_t c = 0; c < 56; ++c) {
        const auto group = static_cast<std::uint16_t>(c / 28);
        b.processor(0, {smt_pair(c % 28, group)}, test::smt_flag);
        b.cache(2, {smt_pair(c % 28, group)}, 1, test::cache_unified, 2048);
        if (c == 0) b.cache(3, {{all56, 0}, {all56, 1}}, 2, test::cache_unified, 107520);
    }
    b.numa(0, {{all56, 0}}, 1);
    b.groups({all56, all56});
    numa_ex.numa(0, {{all56, 0}, {all56, 1}}, 2, test::relation_numa_node_ex);
    return b;
}

TEST(RealMachines, Workstation56CoresInTwoGroupsOf56) {
    Buffer numa_ex;
    const Buffer b = workstation_56_cores(numa_ex);
    const Topology t = build_topology(
        with_whole_numa_nodes(decode_processor_information(b.bytes()), decode_processor_information(numa_ex.bytes())));
    EXPECT_EQ(outline(t), "levels 1\nnode 0: llcs 0-0, 56 cores 0-55, group 0: 56, group 1: 56\n");
    EXPECT_EQ(os_workers(t, b.bytes(), core_count(t)), (std::vector<std::uint32_t>{28, 28}));
    EXPECT_EQ(os_workers(t, b.bytes(), 4), (std::vector<std::uint32_t>{2, 2}));
    EXPECT_EQ(os_workers(t, b.bytes(), 3), (std::vector<std::uint32_t>{2, 1})) << "a tie goes to the lower group";
    EXPECT_EQ(os_workers(t, b.bytes(), 1), (std::vector<std::uint32_t>{1, 0}));
    const GroupSpread spread = spread_over_groups(t, decode_processor_groups(b.bytes()), 56);
    EXPECT_EQ(group_of_worker(spread, 55)->mask, (1ull << 56) - 1) << "the group's own mask, not 64 bits";
}

TEST(GroupSpread, ProportionalToEachGroupsCores) {
    // Windows 7 on 112 processors may fill group 0 and leave 48 for group 1.
    Topology t;
    t.perf_level_count = 1;
    t.nodes.resize(1);
    t.nodes[0].llcs.resize(1);
    for (std::uint32_t c = 0; c < 56; ++c) {
        Core core;
        core.id = c;
        core.logicals = {{0, c, (2 * c) % 64, static_cast<std::uint16_t>(c < 32 ? 0 : 1)}};
        t.nodes[0].llcs[0].cores.push_back(core);
    }
    const std::vector<GroupMask> groups = {{all64, 0}, {0xFFFFFFFFFFFFull, 1}};
    EXPECT_EQ(spread_over_groups(t, groups, 56).workers, (std::vector<std::uint32_t>{32, 24}));
    EXPECT_EQ(spread_over_groups(t, groups, 7).workers, (std::vector<std::uint32_t>{4, 3}));
    EXPECT_EQ(spread_over_groups(t, groups, 5).workers, (std::vector<std::uint32_t>{3, 2}));
    // Without a tree the active processors weigh the groups.
    EXPECT_EQ(spread_over_groups(Topology{}, groups, 7).workers, (std::vector<std::uint32_t>{4, 3}));
    EXPECT_TRUE(spread_over_groups(t, {groups[0]}, 7).workers.empty());
    EXPECT_FALSE(group_of_worker(GroupSpread{}, 0).has_value());
}

}  // namespace
}  // namespace nembo
