#pragma once
// Processor topology: NUMA nodes, last-level caches, cores and their
// hardware threads, built once from the operating system's description.
#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <ostream>
#include <span>
#include <vector>

namespace nembo {

struct LogicalProcessor {
    std::uint32_t idx = 0;
    std::uint32_t core = 0;
    std::uint32_t os = 0;
    std::uint16_t group = 0;
};

struct Core {
    std::uint32_t id = 0;
    std::uint32_t perf_level = 0;
    std::vector<LogicalProcessor> logicals;
};

struct Llc {
    std::uint32_t id = 0;
    std::vector<Core> cores;
};

struct NumaNode {
    std::uint32_t id = 0;
    std::vector<Llc> llcs;
};

struct Topology {
    std::vector<NumaNode> nodes;
    std::uint32_t perf_level_count = 0;
};

Topology detect_topology();
void print_topology(std::ostream& out, const Topology& topology);
std::uint32_t core_count(const Topology& topology);

// ---------------------------------------------------------------------------
// The operating system's description as neutral records, in the order the
// system lists them. Each backend only gathers these; build_topology owns
// the tree.

// One processor group's affinity mask: bit b set = processor b of `group`.
struct GroupMask {
    std::uint64_t mask = 0;
    std::uint16_t group = 0;
};

enum class TopologyRecordKind : std::uint8_t { core, numa_node, cache };

struct TopologyRecord {
    TopologyRecordKind kind = TopologyRecordKind::core;
    std::uint32_t efficiency_class = 0;  // core: higher = higher performance
    std::uint32_t node_number = 0;       // NUMA node
    std::uint32_t cache_level = 0;       // cache
    std::vector<GroupMask> masks;        // a NUMA record's first mask is the one used
};

// Decodes the bytes that GetLogicalProcessorInformationEx(RelationAll, ...)
// returns. Records that are cut short are skipped; a record whose size is 0
// or reaches past the end of the buffer ends the walk. Relationships other
// than core, NUMA node and cache are skipped.
std::vector<TopologyRecord> decode_processor_information(std::span<const std::byte> buffer);

// Reads the same records from a Linux sysfs tree under `root` ("/" for this
// machine). Missing or unreadable files give no record. Processor k is bit
// k mod 64 of group k / 64.
std::vector<TopologyRecord> read_sysfs_records(const std::filesystem::path& root);

// Builds the tree from the records.
Topology build_topology(const std::vector<TopologyRecord>& records);

}  // namespace nembo
