// Topology trees from records and from crafted processor-information buffers.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <sstream>

#include "platform/topology.hpp"
#include "processor_information.hpp"

namespace nembo {
namespace {

TopologyRecord core(std::vector<GroupMask> masks, std::uint32_t efficiency = 0) {
    TopologyRecord r;
    r.kind = TopologyRecordKind::core;
    r.efficiency_class = efficiency;
    r.masks = std::move(masks);
    return r;
}

TopologyRecord numa(std::uint32_t node, GroupMask mask) {
    TopologyRecord r;
    r.kind = TopologyRecordKind::numa_node;
    r.node_number = node;
    r.masks = {mask};
    return r;
}

TopologyRecord cache(std::uint32_t level, std::vector<GroupMask> masks) {
    TopologyRecord r;
    r.kind = TopologyRecordKind::cache;
    r.cache_level = level;
    r.masks = std::move(masks);
    return r;
}

GroupMask bits(std::uint64_t mask, std::uint16_t group = 0) { return {mask, group}; }

std::string printed(const Topology& t) {
    std::ostringstream out;
    print_topology(out, t);
    return out.str();
}

using test::Buffer;

TEST(TopologyTree, NoLevel3CacheGivesOneLlcPerNode) {
    const Topology t = build_topology({core({bits(0b11)}), core({bits(0b1100)}), cache(2, {bits(0b11)})});
    ASSERT_EQ(t.nodes.size(), 1u);
    ASSERT_EQ(t.nodes[0].llcs.size(), 1u);
    EXPECT_EQ(t.nodes[0].llcs[0].id, 0u);
    EXPECT_EQ(t.nodes[0].llcs[0].cores.size(), 2u);
    EXPECT_EQ(t.perf_level_count, 1u);
    EXPECT_EQ(core_count(t), 2u);
}

TEST(TopologyTree, TwoLevel3CachesOnOneNode) {
    const Topology t = build_topology({core({bits(0b1)}), core({bits(0b10)}), core({bits(0b100)}),
                                       cache(3, {bits(0b011)}), cache(3, {bits(0b100)})});
    ASSERT_EQ(t.nodes.size(), 1u);
    ASSERT_EQ(t.nodes[0].llcs.size(), 2u);
    EXPECT_EQ(t.nodes[0].llcs[0].cores.size(), 2u);
    EXPECT_EQ(t.nodes[0].llcs[1].id, 1u);
    EXPECT_EQ(t.nodes[0].llcs[1].cores[0].id, 2u);
}

TEST(TopologyTree, TwoNodesWithOneCacheEachAndPrint) {
    // Node 1 first in the record list: nodes are still ascending by id, and
    // the cache ordinals follow the record order, so node 0 holds cache 1.
    const Topology t = build_topology({numa(1, bits(0b0011)), numa(0, bits(0b1100)), cache(3, {bits(0b0011)}),
                                       cache(3, {bits(0b1100)}), core({bits(0b0001)}), core({bits(0b0010)}),
                                       core({bits(0b0100)}), core({bits(0b1000)})});
    EXPECT_EQ(printed(t),
              "perf_level_count=1\n"
              "numa node id=0\n"
              "|--llc id=1\n"
              "|  |--core id=2 perf_level=0\n"
              "|  |  |--logical idx=0 os=2\n"
              "|  |--core id=3 perf_level=0\n"
              "|  |  |--logical idx=0 os=3\n"
              "numa node id=1\n"
              "|--llc id=0\n"
              "|  |--core id=0 perf_level=0\n"
              "|  |  |--logical idx=0 os=0\n"
              "|  |--core id=1 perf_level=0\n"
              "|  |  |--logical idx=0 os=1\n");
}

TEST(TopologyTree, HybridLevelsAndHardwareThreads) {
    const Topology t =
        build_topology({core({bits(0b110000)}, 1), core({bits(0b1)}, 0), core({bits(0b10)}, 0), cache(3, {bits(0x33)})});
    EXPECT_EQ(t.perf_level_count, 2u);
    const auto& cores = t.nodes.at(0).llcs.at(0).cores;
    ASSERT_EQ(cores.size(), 3u);
    EXPECT_EQ(cores[0].perf_level, 0u);
    ASSERT_EQ(cores[0].logicals.size(), 2u);
    EXPECT_EQ(cores[0].logicals[0].os, 4u);
    EXPECT_EQ(cores[0].logicals[1].os, 5u);
    EXPECT_EQ(cores[0].logicals[1].idx, 1u);
    EXPECT_EQ(cores[0].logicals[1].core, 0u);
    EXPECT_EQ(cores[1].id, 1u);
    EXPECT_EQ(cores[1].perf_level, 1u);
    EXPECT_EQ(core_count(t), 3u);
}

TEST(TopologyTree, SecondGroupRestartsAtZero) {
    const Topology t = build_topology({core({bits(1ull << 63)}), core({bits(0b1, 1)}), numa(0, bits(~0ull)),
                                       numa(1, bits(~0ull, 1))});
    ASSERT_EQ(t.nodes.size(), 2u);
    const LogicalProcessor& lp = t.nodes[1].llcs[0].cores[0].logicals[0];
    EXPECT_EQ(lp.os, 0u);
    EXPECT_EQ(lp.group, 1u);
    EXPECT_EQ(t.nodes[0].llcs[0].cores[0].logicals[0].os, 63u);
    EXPECT_NE(printed(t).find("|  |  |--logical idx=0 os=0\n"), std::string::npos);
}

TEST(TopologyTree, EmptyTree) {
    const Topology t = build_topology({});
    EXPECT_EQ(printed(t), "perf_level_count=0\n");
    EXPECT_GE(core_count(t), 1u);
}

TEST(ProcessorInformation, DecodesEveryKind) {
    Buffer b;
    b.processor(1, {bits(0b11)});
    b.processor(0, {bits(0b100), bits(0b1, 1)});
    b.cache(1, {bits(0b1)}, 1);
    b.cache(3, {bits(0b111), bits(0b1, 1)}, 2);
    b.numa(0, bits(0b111));
    b.raw(4, 24, 24);  // a group record: skipped
    const auto records = decode_processor_information(b.bytes());
    ASSERT_EQ(records.size(), 5u);
    EXPECT_EQ(records[0].kind, TopologyRecordKind::core);
    EXPECT_EQ(records[0].efficiency_class, 1u);
    ASSERT_EQ(records[1].masks.size(), 2u);
    EXPECT_EQ(records[1].masks[1].group, 1u);
    EXPECT_EQ(records[1].masks[1].mask, 1u);
    EXPECT_EQ(records[2].cache_level, 1u);
    EXPECT_EQ(records[3].masks.size(), 2u);
    EXPECT_EQ(records[4].kind, TopologyRecordKind::numa_node);
    EXPECT_EQ(records[4].masks.at(0).mask, 0b111u);

    const Topology t = build_topology(records);
    EXPECT_EQ(t.perf_level_count, 2u);
    EXPECT_EQ(core_count(t), 2u);
}

TEST(ProcessorInformation, CacheWithoutGroupCountStillHasItsMask) {
    Buffer b;
    b.cache(3, {bits(0b1)}, 0);
    const auto records = decode_processor_information(b.bytes());
    ASSERT_EQ(records.size(), 1u);
    ASSERT_EQ(records[0].masks.size(), 1u);
    EXPECT_EQ(records[0].masks[0].mask, 1u);
}

TEST(ProcessorInformation, NumaRecordsGiveEveryGroupTheyCarry) {
    Buffer b;
    b.numa(0, {bits(0b1)}, 0);                             // before Windows 10 20H2: reserved, one mask
    b.numa(1, {bits(~0ull, 0), bits(0b11, 1)}, 2);          // a node over two groups
    b.numa(2, {bits(0b1, 2), bits(0b1, 3)}, 2, test::relation_numa_node_ex);
    b.numa(3, {bits(0b1, 4), bits(0b1, 5)}, 7);             // more announced than held
    const auto records = decode_processor_information(b.bytes());
    ASSERT_EQ(records.size(), 4u);
    EXPECT_EQ(records[0].masks.size(), 1u);
    ASSERT_EQ(records[1].masks.size(), 2u);
    EXPECT_EQ(records[1].masks[1].group, 1u);
    EXPECT_EQ(records[1].masks[1].mask, 0b11u);
    EXPECT_EQ(records[2].kind, TopologyRecordKind::numa_node);
    EXPECT_EQ(records[2].node_number, 2u);
    EXPECT_EQ(records[2].masks.size(), 2u);
    EXPECT_EQ(records[3].masks.size(), 2u);

    // Every mask files its processors, not only the first one's.
    const Topology t = build_topology({numa(0, bits(0b1)), records[1], core({bits(0b1, 1)})});
    ASSERT_EQ(t.nodes.size(), 1u);
    EXPECT_EQ(t.nodes[0].id, 1u);
}

TEST(ProcessorInformation, WholeNumaNodesReplaceThePrimaryGroupOnes) {
    const std::vector<TopologyRecord> all = {numa(0, bits(~0ull, 0)), core({bits(0b1, 0)}), core({bits(0b1, 1)})};
    TopologyRecord whole = numa(0, bits(~0ull, 0));
    whole.masks.push_back(bits(~0ull, 1));
    const auto merged = with_whole_numa_nodes(all, {whole, core({bits(0b1, 7)})});
    ASSERT_EQ(merged.size(), 3u) << "only the NUMA records come from the second query";
    EXPECT_EQ(std::count_if(merged.begin(), merged.end(),
                            [](const TopologyRecord& r) { return r.kind == TopologyRecordKind::numa_node; }),
              1);
    EXPECT_EQ(with_whole_numa_nodes(all, {}).size(), all.size()) << "a refused query keeps RelationAll's nodes";
}

TEST(ProcessorInformation, GroupRecordGivesTheActiveGroups) {
    Buffer b;
    b.processor(0, {bits(0b1)});
    b.groups({0xFFFF, 0, (1ull << 56) - 1});
    b.groups({0b1});  // the system lists one; a second is not read
    const std::vector<GroupMask> groups = decode_processor_groups(b.bytes());
    ASSERT_EQ(groups.size(), 2u) << "a group without active processors is left out";
    EXPECT_EQ(groups[0].mask, 0xFFFFu);
    EXPECT_EQ(groups[0].group, 0u);
    EXPECT_EQ(groups[1].mask, (1ull << 56) - 1);
    EXPECT_EQ(groups[1].group, 2u);
    EXPECT_TRUE(decode_processor_groups({}).empty());

    std::vector<std::byte> cut(b.bytes().begin(), b.bytes().end());
    const std::uint16_t many = 9;  // more groups announced than the record holds
    std::memcpy(cut.data() + 48 + 10, &many, 2);
    EXPECT_EQ(decode_processor_groups(cut).size(), 2u);
}

TEST(ProcessorInformation, DamagedBuffersNeverCrash) {
    {
        Buffer b;  // size 0 must not loop forever
        b.processor(0, {bits(1)});
        b.raw(0, 0, 48);
        b.processor(0, {bits(2)});
        EXPECT_EQ(decode_processor_information(b.bytes()).size(), 1u);
    }
    {
        Buffer b;  // size past the end of the buffer
        b.processor(0, {bits(1)});
        b.raw(2, 4096, 48);
        EXPECT_EQ(decode_processor_information(b.bytes()).size(), 1u);
    }
    {
        Buffer b;  // stream ends in the middle of a record header
        b.processor(0, {bits(1)});
        std::vector<std::byte> bytes(b.bytes().begin(), b.bytes().end());
        bytes.resize(bytes.size() + 5);
        EXPECT_EQ(decode_processor_information(bytes).size(), 1u);
        EXPECT_EQ(decode_processor_information(std::span<const std::byte>(bytes).first(20)).size(), 0u);
        EXPECT_TRUE(decode_processor_information({}).empty());
    }
    {
        Buffer b;  // records too short for their fixed part are skipped
        b.raw(0, 16, 16);
        b.raw(1, 40, 40);
        b.raw(2, 36, 36);
        b.processor(0, {bits(1)});
        EXPECT_EQ(decode_processor_information(b.bytes()).size(), 1u);
    }
    {
        Buffer b;  // more masks announced than the record holds
        b.processor(0, {bits(1), bits(2)});
        std::vector<std::byte> bytes(b.bytes().begin(), b.bytes().end());
        const std::uint16_t many = 500;
        std::memcpy(bytes.data() + 30, &many, 2);
        const auto records = decode_processor_information(bytes);
        ASSERT_EQ(records.size(), 1u);
        EXPECT_EQ(records[0].masks.size(), 2u);
    }
}

}  // namespace
}  // namespace nembo
