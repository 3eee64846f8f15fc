// Neutral topology records from a Linux sysfs tree. Plain file reading, so
// it builds everywhere; only the Linux backend points it at "/".
#include <algorithm>
#include <fstream>
#include <map>
#include <optional>
#include <sstream>
#include <string>

#include "platform/text_fields.hpp"
#include "platform/topology.hpp"

namespace nembo {
namespace {

namespace fs = std::filesystem;

// Processor numbers above this are treated as malformed input.
constexpr std::uint32_t max_cpu_number = 65535;

using CpuList = std::vector<std::uint32_t>;  // ascending, no repeats

std::optional<std::string> read_file(const fs::path& path) {
    std::ifstream in(path);
    if (!in) return std::nullopt;
    std::ostringstream text;
    text << in.rdbuf();
    if (in.bad()) return std::nullopt;
    return text.str();
}

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
    const auto text = read_file(path);
    if (!text) return std::nullopt;
    return parse_cpu_list(*text);
}

std::optional<std::uint32_t> read_number(const fs::path& path) {
    const auto text = read_file(path);
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

}  // namespace

std::vector<TopologyRecord> read_sysfs_records(const fs::path& root) {
    const fs::path cpu_folder = root / "sys/devices/system/cpu";
    const fs::path node_folder = root / "sys/devices/system/node";

    std::vector<TopologyRecord> records;
    std::vector<CpuList> cores_seen;
    std::vector<CpuList> caches_seen;
    std::vector<TopologyRecord> caches;

    for (const auto& [cpu, folder] : numbered_entries(cpu_folder, "cpu")) {
        auto threads = read_cpu_list(folder / "topology/core_cpus_list");
        if (!threads) threads = read_cpu_list(folder / "topology/thread_siblings_list");
        if (threads && !threads->empty() &&
            std::find(cores_seen.begin(), cores_seen.end(), *threads) == cores_seen.end()) {
            cores_seen.push_back(*threads);
            TopologyRecord core;
            core.kind = TopologyRecordKind::core;
            core.efficiency_class = read_number(folder / "cpu_capacity").value_or(0);
            core.masks = masks_of(*threads);
            records.push_back(std::move(core));
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
