#include "bench/machine.hpp"

#include <filesystem>
#include <string>

#include "platform/cpu.hpp"
#include "platform/system_files.hpp"
#include "platform/timer.hpp"
#include "solver/grid.hpp"

namespace nembo::bench {

namespace {

std::string first_line(const std::filesystem::path& path) { return read_first_line(path).value_or(""); }

std::string caches() {
    std::string text;
    for (int i = 0; i < 8; ++i) {
        const std::filesystem::path folder = "/sys/devices/system/cpu/cpu0/cache/index" + std::to_string(i);
        const std::string level = first_line(folder / "level");
        if (level.empty()) break;
        const std::string type = first_line(folder / "type");
        const char* kind = type == "Data" ? "d" : type == "Instruction" ? "i" : "";
        text += (text.empty() ? "L" : ", L") + level + kind + " " + first_line(folder / "size");
    }
    return text.empty() ? "unknown" : text;
}

// The bracketed word of /sys/kernel/mm/transparent_hugepage/enabled.
std::string thp_policy() {
    const std::string line = first_line("/sys/kernel/mm/transparent_hugepage/enabled");
    const auto open = line.find('[');
    const auto close = line.find(']');
    return open == std::string::npos || close < open ? "unknown" : line.substr(open + 1, close - open - 1);
}

}  // namespace

Machine read_machine() {
    Machine machine;
    machine.brand = read_cpu_brand();
    machine.caches = caches();
    machine.clocksource = current_clocksource("/");
    machine.thp = thp_policy();
    const std::string meminfo = read_small_file("/proc/meminfo").value_or("");
    machine.huge_pages_total = meminfo_value(meminfo, "HugePages_Total").value_or(0);
    machine.huge_pages_free = meminfo_value(meminfo, "HugePages_Free").value_or(0);
    machine.huge_page_bytes = meminfo_value(meminfo, "Hugepagesize").value_or(0);
    return machine;
}

std::uint64_t grid_huge_pages(std::uint64_t size, std::uint32_t workers, std::uint64_t page_bytes) {
    if (page_bytes == 0) return 0;
    return workers * (grid_storage_bytes(size, page_bytes) / page_bytes);
}

}  // namespace nembo::bench
