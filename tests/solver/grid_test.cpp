// Field storage: block layout, zeroing, release, large pages, memory figures.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <utility>

#include "solver/grid.hpp"

namespace nembo {
namespace {

bool every_double_is_positive_zero(const FieldBlock& block) {
    const auto* bytes = reinterpret_cast<const unsigned char*>(block.cells);
    for (std::uint64_t i = 0; i < block.cell_count * sizeof(Cell); ++i) {
        if (bytes[i] != 0) return false;
    }
    return true;
}

#ifdef _WIN32
constexpr bool on_linux = false;
#else
constexpr bool on_linux = true;

std::uint64_t reserved_huge_pages() {
    unsigned long long pages = 0;
    if (std::FILE* file = std::fopen("/proc/sys/vm/nr_hugepages", "r")) {
        if (std::fscanf(file, "%llu", &pages) != 1) pages = 0;
        std::fclose(file);
    }
    return pages;
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
