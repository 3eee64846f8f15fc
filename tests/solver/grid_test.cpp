// Field storage: block layout, zeroing, release, large pages, memory figures.
#ifndef _WIN32
#include <unistd.h>
#endif

#include <gtest/gtest.h>

#include <cinttypes>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <optional>
#include <string>
#include <utility>

#include "solver/grid.hpp"
#include "tests/support/huge_pages.hpp"

namespace nembo {
namespace {

bool every_double_is_positive_zero(const FieldBlock& block) {
    const auto* bytes = reinterpret_cast<const unsigned char*>(block.cells);
    for (std::uint64_t i = 0; i < block.cell_count * sizeof(Cell); ++i) {
        if (bytes[i] != 0) return false;
    }
    return true;
}

// Bytes from the page offset of E's first cell to that of H's, modulo a
// 4 KiB page: the lead that keeps cell i of the two fields apart.
std::uint64_t page_offset_of_h_after_e(const YeeGrid& grid) {
    const auto e = reinterpret_cast<std::uintptr_t>(grid.e.cells);
    const auto h = reinterpret_cast<std::uintptr_t>(grid.h.cells);
    return (h - e) % 4096;
}

#ifdef _WIN32
constexpr bool on_linux = false;
#else
constexpr bool on_linux = true;

using test_support::reserved_huge_pages;

// What /proc/self/smaps says of the mapping that holds `address`.
struct Mapping {
    bool found = false;
    std::uint64_t kernel_page_kib = 0;
    std::uint64_t anon_huge_kib = 0;
    std::string flags;  // VmFlags, each two-letter flag preceded by a space
};

Mapping mapping_of(const void* address) {
    const auto at = reinterpret_cast<std::uintptr_t>(address);
    Mapping mapping;
    std::ifstream smaps("/proc/self/smaps");
    bool inside = false;
    for (std::string line; std::getline(smaps, line);) {
        unsigned long long start = 0, end = 0;
        if (std::sscanf(line.c_str(), "%llx-%llx ", &start, &end) == 2 && line.find(':') > line.find(' ')) {
            if (inside) break;  // the next mapping's header
            inside = start <= at && at < end;
            mapping.found = inside;
        } else if (inside) {
            std::sscanf(line.c_str(), "KernelPageSize: %" SCNu64, &mapping.kernel_page_kib);
            std::sscanf(line.c_str(), "AnonHugePages: %" SCNu64, &mapping.anon_huge_kib);
            if (line.rfind("VmFlags:", 0) == 0) mapping.flags = line.substr(8);
        }
    }
    return mapping;
}
#endif

TEST(Grid, SizeSixtyFourBuildsTwoZeroedBlocksAndTheGridConstants) {
    const bool large_pages = false;
    const YeeGrid grid(GridParams{large_pages, 64, 0.01});
    for (const FieldBlock* block : {&grid.e, &grid.h}) {
        EXPECT_EQ(block->edge, 66u);
        EXPECT_EQ(block->cell_count, 287'496u);
        EXPECT_EQ(block->cell_count * sizeof(Cell), 9'199'872u);
        ASSERT_NE(block->cells, nullptr);
        EXPECT_EQ(reinterpret_cast<std::uintptr_t>(block->cells) % 64, 0u);
        EXPECT_FALSE(block->large_pages);
        EXPECT_TRUE(every_double_is_positive_zero(*block));
    }
    EXPECT_EQ(page_offset_of_h_after_e(grid), h_block_lead);
    EXPECT_EQ(grid.dx, 0.01);
    EXPECT_EQ(grid.dt, 0.005);
    EXPECT_DOUBLE_EQ(grid.cell_volume, 1.0e-6);
    EXPECT_EQ(grid.e_coef, 0.5);
    EXPECT_EQ(grid.h_coef, 0.5);
}

TEST(Grid, MemoryPerThread) {
    EXPECT_EQ(memory_per_thread(64), 18'399'744u);
    EXPECT_EQ(memory_per_thread(192), 467'288'576u);
    EXPECT_EQ(memory_per_thread(8192), 35'210'148'184'576u);
}

TEST(Grid, ReleaseIsIdempotentAndKeepsTheEdge) {
    const std::uint64_t live_before = live_cell_blocks();
    FieldBlock block;
    block.edge = 5;
    allocate_cells(block, 125, false);
    ASSERT_NE(block.cells, nullptr);
    EXPECT_EQ(live_cell_blocks(), live_before + 1);
    release_cells(block);
    EXPECT_EQ(block.cells, nullptr);
    EXPECT_EQ(block.cell_count, 0u);
    EXPECT_EQ(block.edge, 5u);
    release_cells(block);  // already empty: nothing happens
    EXPECT_EQ(live_cell_blocks(), live_before);

    FieldBlock never_filled;
    release_cells(never_filled);
    EXPECT_EQ(live_cell_blocks(), live_before);
}

TEST(Grid, MovesTransferStorageAndAssignmentFreesTheOldStorage) {
    const std::uint64_t live_before = live_cell_blocks();
    FieldBlock first;
    allocate_cells(first, 8, false);
    Cell* const storage = first.cells;
    FieldBlock second(std::move(first));
    EXPECT_EQ(second.cells, storage);
    EXPECT_EQ(second.cell_count, 8u);
    EXPECT_EQ(first.cells, nullptr);  // NOLINT(bugprone-use-after-move): the moved-from state is defined
    EXPECT_EQ(first.cell_count, 0u);

    FieldBlock third;
    allocate_cells(third, 8, false);
    EXPECT_EQ(live_cell_blocks(), live_before + 2);
    third = std::move(second);  // third's own storage is released, not leaked
    EXPECT_EQ(third.cells, storage);
    EXPECT_EQ(live_cell_blocks(), live_before + 1);
}

// A grid owns both blocks: a move takes them with the grid's constants and
// leaves the source empty, an assignment releases the target's own blocks
// first (the workloads re-allocate this way), assigning a grid to itself
// keeps its storage, and the destructor releases both.
TEST(Grid, GridMovesTransferBothBlocksAndReleaseTheReplacedOnes) {
    const std::uint64_t live_before = live_cell_blocks();
    const bool large_pages = false;
    {
        YeeGrid first(GridParams{large_pages, 8, 0.01});
        Cell* const e = first.e.cells;
        Cell* const h = first.h.cells;
        YeeGrid second(std::move(first));
        EXPECT_EQ(second.e.cells, e);
        EXPECT_EQ(second.h.cells, h);
        EXPECT_EQ(second.h.lead, h_block_lead);
        EXPECT_EQ(second.e_coef, 0.5);
        EXPECT_EQ(first.e.cells, nullptr);  // NOLINT(bugprone-use-after-move): the moved-from state is defined
        EXPECT_EQ(first.h.cells, nullptr);
        EXPECT_EQ(live_cell_blocks(), live_before + 2);

        YeeGrid third(GridParams{large_pages, 4, 0.02});
        EXPECT_EQ(live_cell_blocks(), live_before + 4);
        third = std::move(second);
        EXPECT_EQ(live_cell_blocks(), live_before + 2);
        EXPECT_EQ(third.e.cells, e);
        EXPECT_EQ(third.h.cells, h);
        EXPECT_EQ(third.e.edge, 10u);
        EXPECT_EQ(third.dx, 0.01);

        YeeGrid& same = third;
        third = std::move(same);
        EXPECT_EQ(third.e.cells, e);
        EXPECT_EQ(third.h.cells, h);
        EXPECT_EQ(live_cell_blocks(), live_before + 2);
    }
    EXPECT_EQ(live_cell_blocks(), live_before);
}

TEST(Grid, RefusedRequestsLeaveTheBlockEmpty) {
    const std::uint64_t live_before = live_cell_blocks();
    FieldBlock block;
    allocate_cells(block, 0, true);
    EXPECT_EQ(block.cells, nullptr);
    EXPECT_TRUE(block.large_pages);

    // More cells than 64-bit byte counts can express, and the largest count
    // that can: both are beyond any machine.
    allocate_cells(block, UINT64_MAX / 32 + 1, false);
    EXPECT_EQ(block.cells, nullptr);
    EXPECT_EQ(block.cell_count, 0u);
    allocate_cells(block, UINT64_MAX / 32, false);
    EXPECT_EQ(block.cells, nullptr);
    EXPECT_EQ(live_cell_blocks(), live_before);

    // A grid whose cell count overflows is simply empty.
    const bool large_pages = false;
    const YeeGrid grid(GridParams{large_pages, 3'000'000, 0.01});
    EXPECT_EQ(grid.e.cells, nullptr);
    EXPECT_EQ(grid.h.cells, nullptr);
}

TEST(Grid, LargePageRequestRoundsUpAndFailsWithoutAMinimumOrOnOverflow) {
    constexpr std::uint64_t two_mib = 2u << 20;
    EXPECT_EQ(large_page_request_bytes(9'199'872, 0), 0u);
    EXPECT_EQ(large_page_request_bytes(1, two_mib), two_mib);
    EXPECT_EQ(large_page_request_bytes(two_mib, two_mib), two_mib);
    EXPECT_EQ(large_page_request_bytes(9'199'872, two_mib), 5 * two_mib);
    // Rounding the largest permitted byte count would wrap to a tiny request.
    EXPECT_EQ(large_page_request_bytes(UINT64_MAX / 32 * 32, two_mib), 0u);
}

TEST(Grid, LargePagesNeverRaiseAnError) {
    const std::uint64_t live_before = live_cell_blocks();
    EXPECT_EQ(enable_large_pages(), enable_large_pages());  // cached
    {
        const bool large_pages = true;
        const YeeGrid grid(GridParams{large_pages, 64, 0.01});
        for (const FieldBlock* block : {&grid.e, &grid.h}) {
            EXPECT_TRUE(block->large_pages);
            if (block->cells != nullptr) {
                EXPECT_EQ(block->cell_count, 287'496u);
                EXPECT_TRUE(every_double_is_positive_zero(*block));
            } else {
                EXPECT_EQ(block->cell_count, 0u);
            }
        }
#ifndef _WIN32
        if (reserved_huge_pages() == 0) {
            EXPECT_EQ(grid.e.cells, nullptr);
            EXPECT_EQ(grid.h.cells, nullptr);
        }
#endif
    }
    EXPECT_EQ(live_cell_blocks(), live_before);
}

// A default block has small pages whatever the system's transparent huge
// page policy, as on Windows: the kernel is told never to back it with huge
// pages. A large-page block is backed by the kernel's huge pages. Both are
// read from this process's own mappings.
TEST(Grid, PageSizeOfEachKindOfBlock) {
    if (!on_linux) GTEST_SKIP() << "reads Linux's /proc/self/smaps";
#ifndef _WIN32
    const Cell* released[2] = {};
    {
        const bool large_pages = false;
        const YeeGrid grid(GridParams{large_pages, 64, 0.01});
        for (const FieldBlock* block : {&grid.e, &grid.h}) {
            ASSERT_NE(block->cells, nullptr);
            const Mapping mapping = mapping_of(block->cells);
            ASSERT_TRUE(mapping.found);
            EXPECT_NE(mapping.flags.find(" nh"), std::string::npos) << "VmFlags:" << mapping.flags;
            EXPECT_EQ(mapping.anon_huge_kib, 0u);
            EXPECT_EQ(mapping.kernel_page_kib * 1024, static_cast<std::uint64_t>(sysconf(_SC_PAGESIZE)));
        }
        released[0] = grid.e.cells;
        released[1] = grid.h.cells;
    }
    // Each block's whole mapping went back, H's from before its lead too.
    for (const Cell* cells : released) EXPECT_FALSE(mapping_of(cells).found);

    const std::uint64_t needed = test_support::huge_pages_for_grid(64);
    if (needed == 0) GTEST_SKIP() << "this kernel reports no huge page size";
    std::optional<test_support::HugePageReservation> reservation;
    if (test_support::meminfo_value("HugePages_Free") < needed) {
        if (geteuid() != 0) {
            GTEST_SKIP() << "fewer than " << needed << " free huge pages, and not root to reserve them in "
                         << test_support::nr_hugepages;
        }
        reservation.emplace(needed);
        if (test_support::meminfo_value("HugePages_Free") < needed) {
            GTEST_SKIP() << "the kernel reserved fewer than the " << needed << " huge pages asked for";
        }
    }
    const bool large_pages = true;
    const YeeGrid grid(GridParams{large_pages, 64, 0.01});
    for (const FieldBlock* block : {&grid.e, &grid.h}) {
        ASSERT_NE(block->cells, nullptr);
        const Mapping mapping = mapping_of(block->cells);
        ASSERT_TRUE(mapping.found);
        EXPECT_EQ(mapping.kernel_page_kib, test_support::meminfo_value("Hugepagesize"));
        EXPECT_NE(mapping.flags.find(" ht"), std::string::npos) << "VmFlags:" << mapping.flags;
    }
    EXPECT_EQ(page_offset_of_h_after_e(grid), h_block_lead);
#endif
}

TEST(Grid, AvailablePhysicalMemoryIsReported) {
    EXPECT_GT(available_physical_memory(), 0u);
}

// The Linux kernel would hand out storage it cannot back and kill the process
// while it is zeroed; such a request must end as an empty block instead.
TEST(Grid, LinuxRefusesStorageBeyondAvailableMemory) {
    if (!on_linux) GTEST_SKIP() << "overcommit guard is Linux-only";
    const std::uint64_t available = available_physical_memory();
    ASSERT_GT(available, 0u);
    FieldBlock block;
    allocate_cells(block, available / sizeof(Cell) + (1u << 20), false);
    EXPECT_EQ(block.cells, nullptr);
    EXPECT_EQ(block.cell_count, 0u);

    // The refused request leaves nothing booked: a normal one still succeeds.
    allocate_cells(block, 1024, false);
    EXPECT_NE(block.cells, nullptr);

    // A grid that cannot fit is empty on both blocks.
    const bool large_pages = false;
    const YeeGrid grid(GridParams{large_pages, 8192, 0.01});
    EXPECT_EQ(grid.e.cells, nullptr);
    EXPECT_EQ(grid.h.cells, nullptr);
}

}  // namespace
}  // namespace nembo
