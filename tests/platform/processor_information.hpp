#pragma once
// Builds GetLogicalProcessorInformationEx buffers byte by byte, in the x64
// layouts the system uses, for the decoder's tests and the machines'.
#include <algorithm>
#include <bit>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <span>
#include <vector>

#include "platform/topology.hpp"

namespace nembo::test {

// LOGICAL_PROCESSOR_RELATIONSHIP values.
enum Relationship : std::uint32_t {
    relation_processor_core = 0,
    relation_numa_node = 1,
    relation_cache = 2,
    relation_processor_package = 3,
    relation_group = 4,
    relation_numa_node_ex = 6,
    relation_processor_module = 7,
};

// PROCESSOR_CACHE_TYPE values.
enum CacheType : std::uint32_t { cache_unified = 0, cache_instruction = 1, cache_data = 2 };

inline constexpr std::uint8_t smt_flag = 1;  // LTP_PC_SMT

class Buffer {
public:
    // A core (or, by `relationship`, a package or a module): Flags,
    // EfficiencyClass, GroupCount and the masks.
    void processor(std::uint8_t efficiency, const std::vector<GroupMask>& masks, std::uint8_t flags = 0,
                   std::uint32_t relationship = relation_processor_core) {
        auto r = record(relationship, 32 + 16 * std::max<std::size_t>(masks.size(), 1));
        r[8] = std::byte{flags};
        r[9] = std::byte{efficiency};
        put<std::uint16_t>(r, 30, static_cast<std::uint16_t>(masks.size()));
        for (std::size_t i = 0; i < masks.size(); ++i) put_mask(r, 32 + 16 * i, masks[i]);
        append(r);
    }
    void numa(std::uint32_t node, GroupMask mask) { numa(node, {mask}, 1); }
    // A NUMA record with its GroupCount as given (0 on systems before 20H2).
    void numa(std::uint32_t node, const std::vector<GroupMask>& masks, std::uint16_t group_count,
              std::uint32_t relationship = relation_numa_node) {
        auto r = record(relationship, 32 + 16 * std::max<std::size_t>(masks.size(), 1));
        put<std::uint32_t>(r, 8, node);
        put<std::uint16_t>(r, 30, group_count);
        for (std::size_t i = 0; i < masks.size(); ++i) put_mask(r, 32 + 16 * i, masks[i]);
        append(r);
    }
    void cache(std::uint8_t level, const std::vector<GroupMask>& masks, std::uint16_t group_count,
               CacheType type = cache_unified, std::uint32_t kib = 0) {
        auto r = record(relation_cache, 40 + 16 * std::max<std::size_t>(masks.size(), 1));
        r[8] = std::byte{level};
        put<std::uint32_t>(r, 12, kib * 1024);
        put<std::uint32_t>(r, 16, type);
        put<std::uint16_t>(r, 38, group_count);
        for (std::size_t i = 0; i < masks.size(); ++i) put_mask(r, 40 + 16 * i, masks[i]);
        append(r);
    }
    // The group record: each group's processor count and active mask.
    void groups(const std::vector<std::uint64_t>& active) {
        auto r = record(relation_group, 32 + 48 * active.size());
        put<std::uint16_t>(r, 8, static_cast<std::uint16_t>(active.size()));
        put<std::uint16_t>(r, 10, static_cast<std::uint16_t>(active.size()));
        for (std::size_t i = 0; i < active.size(); ++i) {
            const auto count = static_cast<std::uint8_t>(std::popcount(active[i]));
            r[32 + 48 * i] = std::byte{count};
            r[32 + 48 * i + 1] = std::byte{count};
            put<std::uint64_t>(r, 32 + 48 * i + 40, active[i]);
        }
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

}  // namespace nembo::test
