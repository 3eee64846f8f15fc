#include "solver/grid.hpp"

#include <atomic>
#include <cmath>
#include <cstring>

#include "solver/memory.hpp"

namespace nembo {

namespace {

std::atomic<std::uint64_t> live_blocks{0};

constexpr std::uint64_t max_cell_count = UINT64_MAX / sizeof(Cell);

// The storage of a block with `count` cells after `lead` bytes; 0 when that
// does not fit in 64 bits.
std::uint64_t storage_bytes(std::uint64_t count, std::uint64_t lead) {
    std::uint64_t bytes = 0;
    if (count > max_cell_count || __builtin_add_overflow(count * sizeof(Cell), lead, &bytes)) return 0;
    return bytes;
}

// The cells of each block of a grid of size n, (n + 2)^3. An edge whose cube
// does not fit in 64 bits asks for more than any machine has: UINT64_MAX,
// which the count guard of allocate_cells refuses.
std::uint64_t block_cell_count(std::uint64_t size) {
    const std::uint64_t edge = size + 2;
    std::uint64_t square = 0;
    std::uint64_t count = 0;
    if (__builtin_mul_overflow(edge, edge, &square) || __builtin_mul_overflow(square, edge, &count)) {
        return UINT64_MAX;
    }
    return count;
}

void take_storage(FieldBlock& to, FieldBlock& from) noexcept {
    to.edge = from.edge;
    to.large_pages = from.large_pages;
    to.cell_count = from.cell_count;
    to.cells = from.cells;
    to.lead = from.lead;
    from.cell_count = 0;
    from.cells = nullptr;
}

void take_grid(YeeGrid& to, YeeGrid& from) noexcept {
    take_storage(to.e, from.e);
    take_storage(to.h, from.h);
    to.dx = from.dx;
    to.dt = from.dt;
    to.cell_volume = from.cell_volume;
    to.e_coef = from.e_coef;
    to.h_coef = from.h_coef;
}

}  // namespace

FieldBlock::FieldBlock() noexcept = default;

FieldBlock::FieldBlock(FieldBlock&& other) noexcept { take_storage(*this, other); }

FieldBlock& FieldBlock::operator=(FieldBlock&& other) noexcept {
    if (this != &other) {
        release_cells(*this);
        take_storage(*this, other);
    }
    return *this;
}

FieldBlock::~FieldBlock() { release_cells(*this); }

YeeGrid::YeeGrid() noexcept = default;

YeeGrid::YeeGrid(const GridParams& params) {
    const std::uint64_t edge = params.size + 2;
    const std::uint64_t count = block_cell_count(params.size);
    e.edge = edge;
    h.edge = edge;
    allocate_cells(e, count, params.large_pages);
    allocate_cells(h, count, params.large_pages, h_block_lead);
    dx = params.dx;
    dt = dx * 0.5;
    cell_volume = std::pow(dx, 3.0);
    e_coef = dt / dx;
    h_coef = dt / dx;
}

YeeGrid::YeeGrid(YeeGrid&& other) noexcept { take_grid(*this, other); }

YeeGrid& YeeGrid::operator=(YeeGrid&& other) noexcept {
    if (this != &other) {
        release_cells(h);
        release_cells(e);
        take_grid(*this, other);
    }
    return *this;
}

YeeGrid::~YeeGrid() {
    release_cells(h);
    release_cells(e);
}

std::uint64_t large_page_request_bytes(std::uint64_t bytes, std::uint64_t minimum) {
    if (minimum == 0) return 0;
    std::uint64_t padded = 0;
    if (__builtin_add_overflow(bytes, minimum - 1, &padded)) return 0;
    return padded & ~(minimum - 1);
}

void allocate_cells(FieldBlock& block, std::uint64_t count, bool large_pages, std::uint64_t lead) {
    release_cells(block);  // normally empty already; never leak what it held
    block.large_pages = large_pages;
    block.cells = nullptr;
    block.cell_count = 0;
    block.lead = 0;
    if (count == 0) return;
    const std::uint64_t bytes = storage_bytes(count, lead);
    if (bytes == 0) return;

    void* storage = nullptr;
    if (large_pages) {
        const std::uint64_t request = large_page_request_bytes(bytes, enable_large_pages());
        if (request == 0) return;
        storage = memory::large_acquire(request);
    } else {
        storage = memory::heap_acquire(bytes);
    }
    if (storage == nullptr) return;  // out of memory: the block stays empty

    // All-zero bytes are +0.0 in every lane, the pads included.
    std::memset(storage, 0, static_cast<std::size_t>(bytes));
    block.cells = reinterpret_cast<Cell*>(static_cast<unsigned char*>(storage) + lead);
    block.lead = lead;
    block.cell_count = count;
    live_blocks.fetch_add(1, std::memory_order_relaxed);
}

void release_cells(FieldBlock& block) {
    if (block.cells == nullptr) return;
    void* const storage = reinterpret_cast<unsigned char*>(block.cells) - block.lead;
    const std::uint64_t bytes = storage_bytes(block.cell_count, block.lead);
    if (block.large_pages) {
        memory::large_release(storage, large_page_request_bytes(bytes, enable_large_pages()));
    } else {
        memory::heap_release(storage, bytes);
    }
    block.cells = nullptr;
    block.cell_count = 0;
    block.lead = 0;
    live_blocks.fetch_sub(1, std::memory_order_relaxed);
}

std::uint64_t live_cell_blocks() { return live_blocks.load(std::memory_order_relaxed); }

std::uint64_t grid_storage_bytes(std::uint64_t size, std::uint64_t page) {
    const std::uint64_t count = block_cell_count(size);
    const std::uint64_t e = large_page_request_bytes(storage_bytes(count, 0), page);
    const std::uint64_t h = large_page_request_bytes(storage_bytes(count, h_block_lead), page);
    std::uint64_t total = 0;
    if (e == 0 || h == 0 || __builtin_add_overflow(e, h, &total)) return 0;
    return total;
}

std::uint64_t memory_per_thread(std::uint64_t size) {
    return (size + 2) * (size + 2) * (64 * size + 128);
}

}  // namespace nembo
