#pragma once
// Processor topology: NUMA nodes, last-level caches, cores and their
// hardware threads, built once from the operating system's description.
#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <map>
#include <ostream>
#include <span>
#include <vector>

#include "platform/cpu.hpp"

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
    std::vector<GroupMask> masks;        // every group the record covers
};

// Decodes the bytes that GetLogicalProcessorInformationEx(RelationAll, ...)
// returns, or those of a RelationNumaNodeEx query. Records that are cut short
// are skipped; a record whose size is 0 or reaches past the end of the
// buffer ends the walk. Relationships other than core, NUMA node and cache
// are skipped. A NUMA record gives all the group masks it carries.
std::vector<TopologyRecord> decode_processor_information(std::span<const std::byte> buffer);

// Since Windows 11 and Server 2022 a NUMA node may span processor groups,
// and RelationAll lists only its primary group; RelationNumaNodeEx lists
// them all. The NUMA records of `numa_ex`, when it has any, take the place
// of those in `records`.
std::vector<TopologyRecord> with_whole_numa_nodes(std::vector<TopologyRecord> records,
                                                  const std::vector<TopologyRecord>& numa_ex);

// The active processor groups of a RelationGroup record: each group's
// number and the mask of its active processors, groups without one left
// out. Empty when the buffer holds no group record.
std::vector<GroupMask> decode_processor_groups(std::span<const std::byte> buffer);

// What each processor said about its core's kind, by processor number. A
// processor that could not be asked is missing.
using CoreTypes = std::map<std::uint32_t, CoreType>;

// Asks the given processors (ascending) for their cores' kinds.
using CoreTypeProbe = std::function<CoreTypes(std::span<const std::uint32_t> cpus)>;

// Reads the same records from a Linux sysfs tree under `root` ("/" for this
// machine). Missing or unreadable files give no record. Processor k is bit
// k mod 64 of group k / 64.
//
// A core's efficiency class comes from the first of these that knows the
// kind of any core: the kernel's hybrid PMU lists (devices/cpu_core,
// cpu_atom, cpu_lowpower), `probe` (asked only then, with the processors of
// the cores found), each processor's cpu_capacity (ARM kernels); else every
// core has class 0. Classes are numbered as Windows numbers them, the
// fastest kind highest: with two kinds, 1 and 0.
std::vector<TopologyRecord> read_sysfs_records(const std::filesystem::path& root, const CoreTypeProbe& probe = {});

// The processor groups whose processors a thread reaches only by asking for
// them: the system's active groups (Windows; one on most machines, and a
// cheap query without the topology). Empty on Linux, whose threads span
// every processor.
std::vector<GroupMask> active_processor_groups();

// Builds the tree from the records.
Topology build_topology(const std::vector<TopologyRecord>& records);

}  // namespace nembo
