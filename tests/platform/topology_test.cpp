// Topology trees from records and from crafted processor-information buffers.
#include <gtest/gtest.h>

#include <cstring>
#include <sstream>

#include "platform/topology.hpp"

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

// Builds a GetLogicalProcessorInformationEx buffer byte by byte.
class Buffer {
public:
    void processor(std::uint8_t efficiency, const std::vector<GroupMask>& masks) {
        auto r = record(0, 32 + 16 * masks.size());
        r[9] = std::byte{efficiency};
        put<std::uint16_t>(r, 30, static_cast<std::uint16_t>(masks.size()));
        for (std::size_t i = 0; i < masks.size(); ++i) put_mask(r, 32 + 16 * i, masks[i]);
        append(r);
    }
    void numa(std::uint32_t node, GroupMask mask) {
        auto r = record(1, 48);
        put<std::uint32_t>(r, 8, node);
        put<std::uint16_t>(r, 30, 1);
        put_mask(r, 32, mask);
        append(r);
    }
    void cache(std::uint8_t level, const std::vector<GroupMask>& masks, std::uint16_t group_count) {
        auto r = record(2, 40 + 16 * std::max<std::size_t>(masks.size(), 1));
        r[8] = std::byte{level};
        put<std::uint16_t>(r, 38, group_count);
        for (std::size_t i = 0; i < masks.size(); ++i) put_mask(r, 40 + 16 * i, masks[i]);
        append(r);
    }
    void raw(std::uint32_t relationship, std::uint32_t size, std::size_t actual_bytes) {
        std::vector<std::byte> r(actual_bytes);
        put<std::uint32_t>(r, 0, relationship);
        put<std::uint32_t>(r, 4, size);
        append(r);
    }
    std::span<const std::byte> bytes() const { return bytes_; }
    std::size_t size() const { return bytes_.size(); }

private:
    template <typename T>
    static void put(std::vector<std::byte>& r, std::size_t at, T value) {
        std::memcpy(r.data() + at, &value, sizeof(T));
    }
    static void put_mask(std::vector<std::byte>& r, std::size_t at, GroupMask m) {
        put<std::uint64_t>(r, at, m.mask);
        put<std::uint16_t>(r, at + 8, m.group);
    }
    static std::vector<std::byte> record(std::uint32_t relationship, std::size_t size) {
        std::vector<std::byte> r(size);
        put<std::uint32_t>(r, 0, relationship);
        put<std::uint32_t>(r, 4, static_cast<std::uint32_t>(size));
        return r;
    }
    void append(const std::vector<std::byte>& r) { bytes_.insert(bytes_.end(), r.begin(), r.end()); }
    std::vector<std::byte> bytes_;
};

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
