#pragma once
// Linux huge pages for tests: the kernel's counts in /proc/meminfo, the
// system's reservation, and a reservation raised for the life of one test.
// The reservation is the only system setting a test may change, and only
// where it is needed to have huge pages at all: it is put back on every path
// out of the test.
#include <gtest/gtest.h>

#include <cstdint>
#include <fstream>
#include <string>

#include "solver/grid.hpp"

namespace nembo::test_support {

// A /proc/meminfo figure (kB for sizes, a count for HugePages_*); 0 when
// absent.
inline std::uint64_t meminfo_value(const std::string& name) {
    std::ifstream in("/proc/meminfo");
    for (std::string line; std::getline(in, line);) {
        if (line.rfind(name + ":", 0) == 0) return std::stoull(line.substr(name.size() + 1));
    }
    return 0;
}

// Huge pages a grid of size n takes: two blocks of (n + 2)^3 cells of 32
// bytes, H's after its lead, each rounded up to whole pages; 0 when the
// kernel has no huge pages. Counted here, not by the solver, so that the
// whole-program tests need none of it.
inline std::uint64_t huge_pages_for_grid(std::uint64_t n) {
    const std::uint64_t page = meminfo_value("Hugepagesize") * 1024;
    const std::uint64_t block = (n + 2) * (n + 2) * (n + 2) * 32;
    return page == 0 ? 0 : (block + page - 1) / page + (block + h_block_lead + page - 1) / page;
}

inline const char* const nr_hugepages = "/proc/sys/vm/nr_hugepages";

inline std::uint64_t reserved_huge_pages() {
    std::ifstream in(nr_hugepages);
    std::uint64_t count = 0;
    in >> count;
    return count;
}

inline bool reserve_huge_pages(std::uint64_t count) {
    std::ofstream out(nr_hugepages);
    out << count << std::endl;
    return static_cast<bool>(out);
}

// Raises the system's huge-page reservation for the life of a test and puts
// the count back on every path out of it.
class HugePageReservation {
public:
    explicit HugePageReservation(std::uint64_t more) : previous_(reserved_huge_pages()) {
        reserve_huge_pages(previous_ + more);
    }
    ~HugePageReservation() {
        EXPECT_TRUE(reserve_huge_pages(previous_));
        EXPECT_EQ(reserved_huge_pages(), previous_) << "the huge-page reservation was not restored";
    }
    HugePageReservation(const HugePageReservation&) = delete;
    HugePageReservation& operator=(const HugePageReservation&) = delete;

private:
    std::uint64_t previous_;
};

}  // namespace nembo::test_support
