// The topology tree from neutral records, its decoder for the Windows
// processor-information buffer, its print and its core count.
#include "platform/topology.hpp"

#include <algorithm>
#include <cstring>
#include <functional>
#include <iterator>
#include <map>
#include <optional>
#include <set>
#include <thread>
#include <utility>

namespace nembo {
namespace {

using ProcessorKey = std::pair<std::uint16_t, std::uint32_t>;  // (group, bit)

template <typename T>
T load(std::span<const std::byte> bytes, std::size_t offset) {
    T value{};
    std::memcpy(&value, bytes.data() + offset, sizeof(T));
    return value;
}

// Relationship values and byte offsets of SYSTEM_LOGICAL_PROCESSOR_INFORMATION_EX
// (x64). Offsets count from the start of the record.
constexpr std::uint32_t relation_processor_core = 0;
constexpr std::uint32_t relation_numa_node = 1;
constexpr std::uint32_t relation_cache = 2;
constexpr std::uint32_t relation_group = 4;
constexpr std::uint32_t relation_numa_node_ex = 6;  // the same record, with the node's every group
constexpr std::size_t record_header_size = 8;  // Relationship, Size
constexpr std::size_t group_affinity_size = 16;  // Mask, Group, Reserved[3]
constexpr std::size_t processor_efficiency_offset = 9;
constexpr std::size_t processor_group_count_offset = 30;
constexpr std::size_t processor_masks_offset = 32;
constexpr std::size_t numa_node_number_offset = 8;
constexpr std::size_t numa_group_count_offset = 30;
constexpr std::size_t numa_mask_offset = 32;
constexpr std::size_t cache_level_offset = 8;
constexpr std::size_t cache_group_count_offset = 38;
constexpr std::size_t cache_masks_offset = 40;
constexpr std::size_t group_active_count_offset = 10;
constexpr std::size_t group_info_offset = 32;
constexpr std::size_t group_info_size = 48;  // MaximumProcessorCount, ActiveProcessorCount, Reserved[38], ActiveProcessorMask
constexpr std::size_t group_info_mask_offset = 40;

GroupMask load_mask(std::span<const std::byte> record, std::size_t offset) {
    GroupMask m;
    m.mask = load<std::uint64_t>(record, offset);
    m.group = load<std::uint16_t>(record, offset + 8);
    return m;
}

// Up to `count` masks from `offset`, as many as the record really holds.
std::vector<GroupMask> load_masks(std::span<const std::byte> record, std::size_t offset, std::size_t count) {
    std::vector<GroupMask> masks;
    for (std::size_t i = 0; i < count; ++i) {
        const std::size_t at = offset + i * group_affinity_size;
        if (at + group_affinity_size > record.size()) break;
        masks.push_back(load_mask(record, at));
    }
    return masks;
}

void for_each_bit(const GroupMask& m, const std::function<void(ProcessorKey)>& visit) {
    for (std::uint32_t bit = 0; bit < 64; ++bit) {
        if (((m.mask >> bit) & 1u) != 0) visit({m.group, bit});
    }
}

// Visits each record of a processor-information buffer in order, with its
// relationship and its bytes. A record whose size is 0 or reaches past the
// end of the buffer ends the walk.
void walk_records(std::span<const std::byte> buffer,
                  const std::function<void(std::uint32_t relationship, std::span<const std::byte> record)>& visit) {
    std::size_t pos = 0;
    while (pos < buffer.size() && buffer.size() - pos >= record_header_size) {
        const auto relationship = load<std::uint32_t>(buffer, pos);
        const auto size = load<std::uint32_t>(buffer, pos + 4);
        if (size == 0 || size > buffer.size() - pos) return;
        visit(relationship, buffer.subspan(pos, size));
        pos += size;
    }
}

// The record's neutral form; empty for a relationship that is not needed
// or a record too short for its fixed part.
std::optional<TopologyRecord> decode_record(std::uint32_t relationship, std::span<const std::byte> record) {
    TopologyRecord r;
    if (relationship == relation_processor_core) {
        if (record.size() < processor_masks_offset) return std::nullopt;
        r.kind = TopologyRecordKind::core;
        r.efficiency_class = load<std::uint8_t>(record, processor_efficiency_offset);
        const auto count = load<std::uint16_t>(record, processor_group_count_offset);
        r.masks = load_masks(record, processor_masks_offset, count);
    } else if (relationship == relation_numa_node || relationship == relation_numa_node_ex) {
        if (record.size() < numa_mask_offset + group_affinity_size) return std::nullopt;
        r.kind = TopologyRecordKind::numa_node;
        r.node_number = load<std::uint32_t>(record, numa_node_number_offset);
        // Before Windows 10 20H2 the group count is reserved (0) and the one
        // mask that follows it is the node's.
        const auto count = load<std::uint16_t>(record, numa_group_count_offset);
        r.masks = load_masks(record, numa_mask_offset, std::max<std::size_t>(count, 1));
    } else if (relationship == relation_cache) {
        if (record.size() < cache_masks_offset) return std::nullopt;
        r.kind = TopologyRecordKind::cache;
        r.cache_level = load<std::uint8_t>(record, cache_level_offset);
        // Systems before the multi-group cache layout report a group count
        // of 0 and still fill the single mask that follows it.
        const auto count = load<std::uint16_t>(record, cache_group_count_offset);
        r.masks = load_masks(record, cache_masks_offset, std::max<std::size_t>(count, 1));
    } else {
        return std::nullopt;
    }
    return r;
}

}  // namespace

std::vector<TopologyRecord> decode_processor_information(std::span<const std::byte> buffer) {
    std::vector<TopologyRecord> records;
    walk_records(buffer, [&](std::uint32_t relationship, std::span<const std::byte> record) {
        if (std::optional<TopologyRecord> r = decode_record(relationship, record)) records.push_back(std::move(*r));
    });
    return records;
}

std::vector<TopologyRecord> with_whole_numa_nodes(std::vector<TopologyRecord> records,
                                                  const std::vector<TopologyRecord>& numa_ex) {
    const auto is_node = [](const TopologyRecord& r) { return r.kind == TopologyRecordKind::numa_node; };
    if (std::none_of(numa_ex.begin(), numa_ex.end(), is_node)) return records;
    std::erase_if(records, is_node);
    std::copy_if(numa_ex.begin(), numa_ex.end(), std::back_inserter(records), is_node);
    return records;
}

std::vector<GroupMask> decode_processor_groups(std::span<const std::byte> buffer) {
    std::vector<GroupMask> groups;
    bool seen = false;  // the system lists one group record
    walk_records(buffer, [&](std::uint32_t relationship, std::span<const std::byte> record) {
        if (seen || relationship != relation_group || record.size() < group_info_offset) return;
        seen = true;
        const auto active = load<std::uint16_t>(record, group_active_count_offset);
        for (std::size_t i = 0; i < active; ++i) {
            const std::size_t at = group_info_offset + i * group_info_size;
            if (at + group_info_size > record.size()) break;
            const auto mask = load<std::uint64_t>(record, at + group_info_mask_offset);
            if (mask != 0) groups.push_back({mask, static_cast<std::uint16_t>(i)});
        }
    });
    return groups;
}

Topology build_topology(const std::vector<TopologyRecord>& records) {
    // First walk: which NUMA node and which level-3 cache each processor has.
    std::map<ProcessorKey, std::uint32_t> node_of;
    std::map<ProcessorKey, std::uint32_t> llc_of;
    std::uint32_t llc_ordinal = 0;
    for (const TopologyRecord& r : records) {
        if (r.kind == TopologyRecordKind::numa_node) {
            for (const GroupMask& m : r.masks) for_each_bit(m, [&](ProcessorKey k) { node_of[k] = r.node_number; });
        } else if (r.kind == TopologyRecordKind::cache && r.cache_level == 3) {
            for (const GroupMask& m : r.masks) for_each_bit(m, [&](ProcessorKey k) { llc_of[k] = llc_ordinal; });
            ++llc_ordinal;
        }
    }

    // Second walk: the cores, filed under node and cache with their class.
    struct Filed {
        Core core;
        std::uint32_t efficiency_class;
    };
    std::map<std::uint32_t, std::map<std::uint32_t, std::vector<Filed>>> tree;
    std::set<std::uint32_t> classes;
    std::uint32_t core_id = 0;
    for (const TopologyRecord& r : records) {
        if (r.kind != TopologyRecordKind::core) continue;
        classes.insert(r.efficiency_class);
        Core core;
        core.id = core_id++;
        std::uint32_t node = 0;
        for (const GroupMask& m : r.masks) {
            for_each_bit(m, [&](ProcessorKey k) {
                LogicalProcessor lp;
                lp.idx = static_cast<std::uint32_t>(core.logicals.size());
                lp.core = core.id;
                lp.os = k.second;
                lp.group = k.first;
                core.logicals.push_back(lp);
                const auto found = node_of.find(k);
                node = found == node_of.end() ? 0 : found->second;
            });
        }
        std::uint32_t llc = 0;
        if (!core.logicals.empty()) {
            const auto found = llc_of.find({core.logicals.front().group, core.logicals.front().os});
            if (found != llc_of.end()) llc = found->second;
        }
        tree[node][llc].push_back({std::move(core), r.efficiency_class});
    }

    // Performance levels: the highest class is level 0.
    std::map<std::uint32_t, std::uint32_t> level_of;
    std::uint32_t level = 0;
    for (auto it = classes.rbegin(); it != classes.rend(); ++it) level_of[*it] = level++;

    Topology topology;
    topology.perf_level_count = static_cast<std::uint32_t>(classes.size());
    for (auto& [node_id, llcs] : tree) {
        NumaNode node;
        node.id = node_id;
        for (auto& [llc_id, cores] : llcs) {
            Llc llc;
            llc.id = llc_id;
            for (Filed& f : cores) {
                f.core.perf_level = level_of[f.efficiency_class];
                llc.cores.push_back(std::move(f.core));
            }
            node.llcs.push_back(std::move(llc));
        }
        topology.nodes.push_back(std::move(node));
    }
    return topology;
}

void print_topology(std::ostream& out, const Topology& topology) {
    out << "perf_level_count=" << topology.perf_level_count << '\n' << std::flush;
    for (const NumaNode& node : topology.nodes) {
        out << "numa node id=" << node.id << '\n' << std::flush;
        for (const Llc& llc : node.llcs) {
            out << "|--llc id=" << llc.id << '\n' << std::flush;
            for (const Core& core : llc.cores) {
                out << "|  |--core id=" << core.id << " perf_level=" << core.perf_level << '\n' << std::flush;
                for (const LogicalProcessor& lp : core.logicals) {
                    out << "|  |  |--logical idx=" << lp.idx << " os=" << lp.os << '\n' << std::flush;
                }
            }
        }
    }
}

std::uint32_t core_count(const Topology& topology) {
    std::uint32_t count = 0;
    for (const NumaNode& node : topology.nodes) {
        for (const Llc& llc : node.llcs) count += static_cast<std::uint32_t>(llc.cores.size());
    }
    if (topology.nodes.empty()) {
        // The standard library may not know either; one worker is still a run.
        count = std::max(1u, std::thread::hardware_concurrency());
    }
    return count;
}

}  // namespace nembo
