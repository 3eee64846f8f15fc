// Memory and thread limits from a Linux /proc and cgroup tree. Plain file
// reading, so it builds everywhere; only the Linux backend points it at "/".
#include <algorithm>
#include <cstdio>
#include <cstring>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/system_limits.hpp"
#include "platform/system_files.hpp"
#include "platform/text_fields.hpp"

namespace nembo {
namespace {

namespace fs = std::filesystem;

using text_fields::trim;

// A number, blanks around it allowed.
std::optional<std::uint64_t> parse_number(std::string_view text) {
    return text_fields::parse_decimal<std::uint64_t>(trim(text));
}

// A number file; "max" (cgroup v2's "no limit") and anything unreadable give
// nothing.
std::optional<std::uint64_t> read_number(const fs::path& path) {
    const auto text = read_small_file(path);
    if (!text) return std::nullopt;
    return parse_number(*text);
}

std::vector<std::string_view> lines_of(std::string_view text) {
    std::vector<std::string_view> lines;
    while (!text.empty()) {
        const std::size_t end = text.find('\n');
        lines.push_back(text.substr(0, end));
        if (end == std::string_view::npos) break;
        text.remove_prefix(end + 1);
    }
    return lines;
}

// The folder of each cgroup that holds this process, for one controller:
// the cgroup v2 one under sys/fs/cgroup and the v1 one under
// sys/fs/cgroup/<controller>, each followed by its ancestors up to the
// hierarchy's root. The ancestors matter twice: their limits bind too, and a
// container without its own cgroup namespace shows the host's path while
// mounting only its own cgroup as the root.
std::vector<fs::path> cgroup_folders(const fs::path& root, std::string_view controller) {
    std::vector<fs::path> folders;
    const auto self = read_small_file(root / "proc/self/cgroup");
    if (!self) return folders;
    const fs::path hierarchy = root / "sys/fs/cgroup";
    for (std::string_view line : lines_of(*self)) {
        // "id:controllers:path"
        const std::size_t first = line.find(':');
        const std::size_t second = first == std::string_view::npos ? first : line.find(':', first + 1);
        if (second == std::string_view::npos) continue;
        const std::string_view controllers = line.substr(first + 1, second - first - 1);
        std::string_view path = line.substr(second + 1);
        fs::path base;
        if (line.substr(0, first) == "0" && controllers.empty()) {
            base = hierarchy;
        } else {
            bool listed = false;
            for (std::string_view rest = controllers; !rest.empty();) {
                const std::size_t comma = rest.find(',');
                if (rest.substr(0, comma) == controller) listed = true;
                rest = comma == std::string_view::npos ? std::string_view{} : rest.substr(comma + 1);
            }
            if (!listed) continue;
            base = hierarchy / std::string(controller);
        }
        for (;;) {
            while (!path.empty() && path.front() == '/') path.remove_prefix(1);
            folders.push_back(path.empty() ? base : base / std::string(path));
            if (path.empty()) break;
            const std::size_t slash = path.rfind('/');
            path = slash == std::string_view::npos ? std::string_view{} : path.substr(0, slash);
        }
    }
    return folders;
}

// The smallest (limit - usage) over the folders that have a limit file.
std::uint64_t smallest_room(const std::vector<fs::path>& folders, const char* limit_file, const char* usage_file) {
    std::uint64_t room = no_limit;
    for (const fs::path& folder : folders) {
        const auto limit = read_number(folder / limit_file);
        if (!limit) continue;  // missing, unreadable or "max": no limit here
        const std::uint64_t usage = read_number(folder / usage_file).value_or(0);
        room = std::min(room, *limit > usage ? *limit - usage : 0);
    }
    return room;
}

}  // namespace

MemoryFigures read_memory_figures(const fs::path& root) {
    MemoryFigures figures;
    try {
        if (const auto meminfo = read_small_file(root / "proc/meminfo")) {
            figures.available = meminfo_value(*meminfo, "MemAvailable").value_or(0);
            figures.huge_page_size = meminfo_value(*meminfo, "Hugepagesize").value_or(0);
        }
        const std::vector<fs::path> folders = cgroup_folders(root, "memory");
        figures.cgroup_room = std::min(smallest_room(folders, "memory.max", "memory.current"),
                                       smallest_room(folders, "memory.limit_in_bytes", "memory.usage_in_bytes"));
    } catch (...) {
        // Out of memory while reading: what was read stands.
    }
    return figures;
}

std::uint64_t read_thread_limit(const fs::path& root) {
    std::uint64_t limit = no_limit;
    try {
        for (const char* file : {"proc/sys/kernel/threads-max", "proc/sys/kernel/pid_max"}) {
            if (const auto value = read_number(root / file)) limit = std::min(limit, *value);
        }
        // "Max processes             96370                96370                processes"
        if (const auto limits = read_small_file(root / "proc/self/limits")) {
            constexpr std::string_view name = "Max processes";
            for (std::string_view line : lines_of(*limits)) {
                if (line.substr(0, name.size()) != name) continue;
                line = trim(line.substr(name.size()));
                if (const auto soft = parse_number(line.substr(0, line.find(' ')))) limit = std::min(limit, *soft);
            }
        }
        limit = std::min(limit, smallest_room(cgroup_folders(root, "pids"), "pids.max", "pids.current"));
    } catch (...) {
        // Out of memory while reading: what was read stands.
    }
    return limit;
}

}  // namespace nembo
