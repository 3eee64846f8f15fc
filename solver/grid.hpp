#pragma once
// Field storage: cells, blocks, the Yee grid, and the memory they need.
#include <cstdint>

namespace nembo {

struct Cell {
    double x;
    double y;
    double z;
    double pad;  // always 0.0: one cell is exactly one 256-bit vector
};
static_assert(sizeof(Cell) == 32);

// The storage of one field. Move-only: a move transfers the storage and leaves
// the source empty. Special members are out of line (see maybe_error.hpp for
// why).
struct FieldBlock {
    std::uint64_t edge = 0;  // cells per cube edge, n + 2
    bool large_pages = false;
    std::uint64_t cell_count = 0;  // edge^3 while storage is present, else 0
    Cell* cells = nullptr;
    std::uint64_t lead = 0;  // bytes of the storage before the first cell

    FieldBlock() noexcept;
    FieldBlock(FieldBlock&& other) noexcept;
    FieldBlock& operator=(FieldBlock&& other) noexcept;  // releases our own storage first
    FieldBlock(const FieldBlock&) = delete;
    FieldBlock& operator=(const FieldBlock&) = delete;
    ~FieldBlock();
};

struct GridParams {
    const bool& large_pages;
    std::uint64_t size;
    double dx;
};

struct YeeGrid {
    FieldBlock e;
    FieldBlock h;
    double dx = 0.0;
    double dt = 0.0;
    double cell_volume = 0.0;
    double e_coef = 0.0;
    double h_coef = 0.0;

    YeeGrid() noexcept;
    explicit YeeGrid(const GridParams& params);
    YeeGrid(YeeGrid&& other) noexcept;
    YeeGrid& operator=(YeeGrid&& other) noexcept;  // releases our H, then E, first
    ~YeeGrid();  // releases H, then E
};

// Where the H block's cells start in its storage; the E block's start at the
// beginning of theirs. Both systems hand out every block at the same offset
// within a page, so without a lead cell i of E and cell i of H would share
// their page offset: the same first level cache set and, for the processor's
// check of loads against earlier stores, the same address. Every sweep
// reads one field where it writes the other, cell for cell; on a Zen 4 the
// fastest schedules lost 4% of their rate to that at size 192 and 15% at
// 128. Half a page keeps the two as far apart as a page allows, with either
// page size. The lead is storage beyond memory_per_thread: 2 KiB a grid
// (grid_storage_bytes counts it).
inline constexpr std::uint64_t h_block_lead = 2048;

// Gives an empty block zeroed storage for `count` cells, the first of them
// `lead` bytes into it (a multiple of 64); on any failure the block stays
// empty (cells null, cell_count 0). Never throws.
void allocate_cells(FieldBlock& block, std::uint64_t count, bool large_pages, std::uint64_t lead = 0);
// Frees the block's storage, if any; edge is kept.
void release_cells(FieldBlock& block);

// The byte count of a large-page request: `bytes` rounded up to a multiple of
// the large-page minimum. 0 (the request fails) when the minimum is 0 or the
// rounding would overflow.
std::uint64_t large_page_request_bytes(std::uint64_t bytes, std::uint64_t minimum);

// Blocks currently holding storage, process-wide (a diagnostic for leaks).
std::uint64_t live_cell_blocks();

// First call enables the lock-memory privilege; every call returns the cached
// large-page minimum in bytes (0: no large pages).
std::uint64_t enable_large_pages();
// Physical memory available now, in bytes; 0 when the query fails.
std::uint64_t available_physical_memory();
// Bytes of field storage one worker needs for grid size n: 64 * (n + 2)^3.
std::uint64_t memory_per_thread(std::uint64_t size);
// The storage one worker's grid of size n asks for: both blocks, H's with
// its lead, each rounded up to whole pages of `page` bytes (1: no rounding).
// 0 when page is 0 or the count does not fit in 64 bits.
std::uint64_t grid_storage_bytes(std::uint64_t size, std::uint64_t page);

}  // namespace nembo
