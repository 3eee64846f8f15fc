// Neutral topology records from a Linux sysfs tree. Plain file reading, so
// it builds everywhere; only the Linux backend points it at "/".
#include <algorithm>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "platform/system_files.hpp"
#include "platform/text_fields.hpp"
#include "platform/topology.hpp"

namespace nembo {
namespace {

namespace fs = std::filesystem;

// Processor numbers above this are treated as malformed input.
constexpr std::uint32_t max_cpu_number = 65535;

using CpuList = std::vector<std::uint32_t>;  // ascending, no repeats

using text_fields::trim;

std::optional<std::uint32_t> parse_number(std::string_view text) {
    return text_fields::parse_decimal<std::uint32_t>(text);
}

// "0-3,8,10-11" -> {0,1,2,3,8,10,11}. Malformed text gives nothing.
std::optional<CpuList> parse_cpu_list(std::string_view text) {
    text = trim(text);
    CpuList cpus;
    while (!text.empty()) {
        const std::size_t comma = text.find(',');
        const std::string_view item = text.substr(0, comma);
        text = comma == std::string_view::npos ? std::string_view{} : text.substr(comma + 1);
        const std::size_t dash = item.find('-');
        const auto first = parse_number(item.substr(0, dash));
        const auto last = dash == std::string_view::npos ? first : parse_number(item.substr(dash + 1));
        if (!first || !last || *first > *last || *last > max_cpu_number) return std::nullopt;
        for (std::uint32_t cpu = *first; cpu <= *last; ++cpu) cpus.push_back(cpu);
    }
    std::sort(cpus.begin(), cpus.end());
    cpus.erase(std::unique(cpus.begin(), cpus.end()), cpus.end());
    return cpus;
}

std::optional<CpuList> read_cpu_list(const fs::path& path) {
    const auto text = read_small_file(path);
    if (!text) return std::nullopt;
    return parse_cpu_list(*text);
}

std::optional<std::uint32_t> read_number(const fs::path& path) {
    const auto text = read_small_file(path);
    if (!text) return std::nullopt;
    return parse_number(trim(*text));
}

std::vector<GroupMask> masks_of(const CpuList& cpus) {
    std::map<std::uint16_t, std::uint64_t> by_group;
    for (const std::uint32_t cpu : cpus) {
        by_group[static_cast<std::uint16_t>(cpu / 64)] |= std::uint64_t{1} << (cpu % 64);
    }
    std::vector<GroupMask> masks;
    for (const auto& [group, mask] : by_group) masks.push_back({mask, group});
    return masks;
}

// Entries of `folder` named prefix + number, ascending by number.
std::vector<std::pair<std::uint32_t, fs::path>> numbered_entries(const fs::path& folder, std::string_view prefix) {
    std::vector<std::pair<std::uint32_t, fs::path>> entries;
    std::error_code ec;
    fs::directory_iterator it(folder, ec);
    if (ec) return entries;
    for (; it != fs::directory_iterator(); it.increment(ec)) {
        if (ec) break;
        const std::string name = it->path().filename().string();
        if (name.size() <= prefix.size() || name.compare(0, prefix.size(), prefix) != 0) continue;
        const auto number = parse_number(std::string_view(name).substr(prefix.size()));
        if (number) entries.emplace_back(*number, it->path());
    }
    std::sort(entries.begin(), entries.end());
    return entries;
}

// The efficiency classes one source gives, by processor.
//
// A core takes the highest class among its processors. A core none of whose
// processors the source knows (a processor outside the process's affinity,
// which the probe does not visit, one missing from the kernel's lists)
// takes the source's lowest class. It is never promoted to a faster level
// on a guess, which would mix kinds again in the phte plan, and a processor
// the process cannot run on is best placed last anyway. The fixed numbering
// of the kinds keeps the levels apart even when only one kind could be read.
struct ProcessorClasses {
    std::map<std::uint32_t, std::uint32_t> of_cpu;
    std::uint32_t lowest = 0;
};

// The kernel's PMUs of a hybrid processor, one per kind of core, fastest
// first; each lists its processors in devices/<name>/cpus.
constexpr std::string_view hybrid_pmus[] = {"cpu_core", "cpu_atom", "cpu_lowpower"};

// The kinds the kernel has are numbered from the slowest, 0, upwards.
ProcessorClasses pmu_classes(const fs::path& root) {
    std::vector<CpuList> lists;
    for (const std::string_view name : hybrid_pmus) {
        if (auto cpus = read_cpu_list(root / "sys/devices" / name / "cpus")) lists.push_back(std::move(*cpus));
    }
    ProcessorClasses classes;
    for (std::size_t i = 0; i < lists.size(); ++i) {
        const auto class_of_kind = static_cast<std::uint32_t>(lists.size() - 1 - i);
        for (const std::uint32_t cpu : lists[i]) classes.of_cpu.try_emplace(cpu, class_of_kind);
    }
    return classes;
}

ProcessorClasses probed_classes(const CoreTypes& types) {
    ProcessorClasses classes;
    for (const auto& [cpu, type] : types) {
        if (type == CoreType::performance) classes.of_cpu[cpu] = 1;
        if (type == CoreType::efficient) classes.of_cpu[cpu] = 0;
    }
    return classes;
}

// The capacity itself is the class; a processor without one counts as the
// least capable that has one.
ProcessorClasses capacity_classes(const fs::path& cpu_folder, const CpuList& cpus) {
    ProcessorClasses classes;
    for (const std::uint32_t cpu : cpus) {
        const auto capacity = read_number(cpu_folder / ("cpu" + std::to_string(cpu)) / "cpu_capacity");
        if (capacity) classes.of_cpu[cpu] = *capacity;
    }
    bool first = true;
    for (const auto& [cpu, capacity] : classes.of_cpu) {
        classes.lowest = first ? capacity : std::min(classes.lowest, capacity);
        first = false;
    }
    return classes;
}

// Each core's class, or nothing when the source knows no core at all.
std::optional<std::vector<std::uint32_t>> core_classes(const std::vector<CpuList>& cores,
                                                       const ProcessorClasses& classes) {
    std::vector<std::uint32_t> result;
    bool any_known = false;
    for (const CpuList& threads : cores) {
        std::optional<std::uint32_t> known;
        for (const std::uint32_t cpu : threads) {
            const auto it = classes.of_cpu.find(cpu);
            if (it != classes.of_cpu.end()) known = std::max(known.value_or(0), it->second);
        }
        any_known = any_known || known.has_value();
        result.push_back(known.value_or(classes.lowest));
    }
    if (!any_known) return std::nullopt;
    return result;
}

// The first source that knows any core decides; uniform machines end with
// one class for all.
std::vector<std::uint32_t> classes_of_cores(const fs::path& root, const fs::path& cpu_folder,
                                            const std::vector<CpuList>& cores, const CoreTypeProbe& probe) {
    if (auto classes = core_classes(cores, pmu_classes(root))) return *classes;
    CpuList cpus;
    for (const CpuList& threads : cores) cpus.insert(cpus.end(), threads.begin(), threads.end());
    std::sort(cpus.begin(), cpus.end());
    cpus.erase(std::unique(cpus.begin(), cpus.end()), cpus.end());
    if (probe && !cpus.empty()) {
        if (auto classes = core_classes(cores, probed_classes(probe(cpus)))) return *classes;
    }
    if (auto classes = core_classes(cores, capacity_classes(cpu_folder, cpus))) return *classes;
    return std::vector<std::uint32_t>(cores.size(), 0);
}

}  // namespace

std::vector<TopologyRecord> read_sysfs_records(const fs::path& root, const CoreTypeProbe& probe) {
    const fs::path cpu_folder = root / "sys/devices/system/cpu";
    const fs::path node_folder = root / "sys/devices/system/node";

    std::vector<TopologyRecord> records;
    std::vector<CpuList> cores;
    std::vector<CpuList> caches_seen;
    std::vector<TopologyRecord> caches;

    for (const auto& [cpu, folder] : numbered_entries(cpu_folder, "cpu")) {
        auto threads = read_cpu_list(folder / "topology/core_cpus_list");
        if (!threads) threads = read_cpu_list(folder / "topology/thread_siblings_list");
        if (threads && !threads->empty() && std::find(cores.begin(), cores.end(), *threads) == cores.end()) {
            cores.push_back(*threads);
        }
        for (const auto& [index, cache_folder] : numbered_entries(folder / "cache", "index")) {
            if (read_number(cache_folder / "level") != 3u) continue;
            const auto shared = read_cpu_list(cache_folder / "shared_cpu_list");
            if (!shared || shared->empty()) continue;
            if (std::find(caches_seen.begin(), caches_seen.end(), *shared) != caches_seen.end()) continue;
            caches_seen.push_back(*shared);
            TopologyRecord cache;
            cache.kind = TopologyRecordKind::cache;
            cache.cache_level = 3;
            cache.masks = masks_of(*shared);
            caches.push_back(std::move(cache));
        }
    }
    const std::vector<std::uint32_t> classes = classes_of_cores(root, cpu_folder, cores, probe);
    for (std::size_t i = 0; i < cores.size(); ++i) {
        TopologyRecord core;
        core.kind = TopologyRecordKind::core;
        core.efficiency_class = classes[i];
        core.masks = masks_of(cores[i]);
        records.push_back(std::move(core));
    }
    for (TopologyRecord& cache : caches) records.push_back(std::move(cache));

    // One NUMA record per node and processor group, since a record's first
    // mask is the one that counts.
    for (const auto& [node, folder] : numbered_entries(node_folder, "node")) {
        const auto cpus = read_cpu_list(folder / "cpulist");
        if (!cpus) continue;
        for (const GroupMask& mask : masks_of(*cpus)) {
            TopologyRecord record;
            record.kind = TopologyRecordKind::numa_node;
            record.node_number = node;
            record.masks.push_back(mask);
            records.push_back(std::move(record));
        }
    }
    return records;
}

}  // namespace nembo
