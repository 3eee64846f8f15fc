#include "bench/machine.hpp"

#include <cstdio>
#include <fstream>
#include <string>

#include "platform/cpu.hpp"
#include "solver/grid.hpp"

namespace nembo::bench {

namespace {

std::string first_line(const std::string& path) {
    std::ifstream file(path);
    std::string line;
    std::getline(file, line);
    return line;
}

std::string caches() {
    std::string text;
    for (int i = 0; i < 8; ++i) {
        const std::string folder = "/sys/devices/system/cpu/cpu0/cache/index" + std::to_string(i) + "/";
        const std::string level = first_line(folder + "level");
        if (level.empty()) break;
        const std::string type = first_line(folder + "type");
        const char* kind = type == "Data" ? "d" : type == "Instruction" ? "i" : "";
        text += (text.empty() ? "L" : ", L") + level + kind + " " + first_line(folder + "size");
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
    machine.clocksource = first_line("/sys/devices/system/clocksource/clocksource0/current_clocksource");
    machine.thp = thp_policy();
    std::ifstream meminfo("/proc/meminfo");
    std::string line;
    while (std::getline(meminfo, line)) {
        unsigned long long value = 0;
        if (std::sscanf(line.c_str(), "HugePages_Total: %llu", &value) == 1) machine.huge_pages_total = value;
        if (std::sscanf(line.c_str(), "HugePages_Free: %llu", &value) == 1) machine.huge_pages_free = value;
        if (std::sscanf(line.c_str(), "Hugepagesize: %llu kB", &value) == 1) machine.huge_page_bytes = value * 1024;
    }
    return machine;
}

std::uint64_t grid_huge_pages(std::uint64_t size, std::uint32_t workers, std::uint64_t page_bytes) {
    if (page_bytes == 0) return 0;
    return workers * (grid_storage_bytes(size, page_bytes) / page_bytes);
}

}  // namespace nembo::bench
