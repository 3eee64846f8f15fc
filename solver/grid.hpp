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

// The storage of one field. Move-only; special members are out of line (see
// maybe_error.hpp for why).
struct FieldBlock {
    std::uint64_t edge = 0;
    bool large_pages = false;
    std::uint64_t cell_count = 0;
    Cell* cells = nullptr;

    FieldBlock() noexcept;
    FieldBlock(FieldBlock&& other) noexcept;
    FieldBlock& operator=(FieldBlock&& other) noexcept;
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
    YeeGrid& operator=(YeeGrid&& other) noexcept;
    ~YeeGrid();  // releases H, then E
};

void allocate_cells(FieldBlock& block, std::uint64_t count, bool large_pages);
void release_cells(FieldBlock& block);

std::uint64_t enable_large_pages();
std::uint64_t available_physical_memory();
std::uint64_t memory_per_thread(std::uint64_t size);

}  // namespace nembo
