#pragma once
// Facts about the machine that a result depends on, gathered once: what a
// reader needs to tell two machines apart, and whether huge pages are there
// for the grids.
#include <cstdint>
#include <string>

namespace nembo::bench {

struct Machine {
    std::string brand;                  // CPUID brand string
    std::string caches;                 // "L1d 32K, L1i 32K, L2 1024K, L3 32768K" (cpu0's, from sysfs), or "unknown"
    std::string clocksource;            // the kernel's current one
    std::string thp;                    // transparent huge page policy: "always", "madvise", "never" or "unknown"
    std::uint64_t huge_page_bytes = 0;  // Hugepagesize
    std::uint64_t huge_pages_free = 0;  // HugePages_Free
    std::uint64_t huge_pages_total = 0;
};

Machine read_machine();

// Huge pages that grids of size n take for `workers` workers, as the grids'
// own large-page requests ask for them.
std::uint64_t grid_huge_pages(std::uint64_t size, std::uint32_t workers, std::uint64_t page_bytes);

}  // namespace nembo::bench
