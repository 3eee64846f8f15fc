// Field storage on Linux: anonymous mappings of small pages within the field
// budget, and reserved huge pages.
#include <sys/mman.h>

#include <cstdint>

#include "platform/system_limits.hpp"
#include "solver/grid.hpp"
#include "solver/memory.hpp"
#include "solver/memory_budget.hpp"

namespace nembo {

namespace {

// The kernel overcommits: a heap request it cannot back still succeeds, and
// the process is killed later, while the storage is zeroed or used. So heap
// storage for fields comes out of one budget, taken once from the memory
// available to this process (its cgroup's limit included), and every block
// holds its booking until it is freed.
MemoryBudget& field_budget() {
    static MemoryBudget budget(field_budget_bytes(read_memory_figures("/")));
    return budget;
}

}  // namespace

namespace memory {

// Each block is a mapping of its own (page-aligned, so 64-byte-aligned too)
// with transparent huge pages forbidden for it: a default block has 4 KiB
// pages, as a Windows heap block has, whatever the system's policy. Under a
// policy of "always" the kernel would otherwise back the grids with 2 MiB
// pages and the score would measure that policy instead of the machine.
// Huge pages are what --large-pages asks for. The advice must come before
// the first touch, so the block is populated after it, in one pass instead
// of one fault per page while it is zeroed, which halves the time that
// thousands of workers take to get their grids (a kernel without the
// populate advice leaves that to the zeroing).
void* heap_acquire(std::uint64_t bytes) {
    if (bytes > SIZE_MAX || !field_budget().book(bytes)) return nullptr;
    const auto length = static_cast<std::size_t>(bytes);
    void* storage = mmap(nullptr, length, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (storage == MAP_FAILED) {
        field_budget().release(bytes);
        return nullptr;
    }
    madvise(storage, length, MADV_NOHUGEPAGE);
    madvise(storage, length, MADV_POPULATE_WRITE);
    return storage;
}

void heap_release(void* storage, std::uint64_t bytes) {
    munmap(storage, static_cast<std::size_t>(bytes));
    field_budget().release(bytes);
}

// Huge pages are reserved apart from the memory that the budget counts.
void* large_acquire(std::uint64_t bytes) {
    void* storage = mmap(nullptr, static_cast<std::size_t>(bytes), PROT_READ | PROT_WRITE,
                         MAP_PRIVATE | MAP_ANONYMOUS | MAP_HUGETLB, -1, 0);
    return storage == MAP_FAILED ? nullptr : storage;
}

void large_release(void* storage, std::uint64_t bytes) {
    munmap(storage, static_cast<std::size_t>(bytes));
}

}  // namespace memory

// No privilege to enable on Linux; the minimum is the huge page size.
std::uint64_t enable_large_pages() {
    static const std::uint64_t minimum = read_memory_figures("/").huge_page_size;
    return minimum;
}

// What is left of the field budget; 0 when the system gave no figure.
std::uint64_t available_physical_memory() {
    const MemoryBudget& budget = field_budget();
    return budget.capacity() == no_limit ? 0 : budget.remaining();
}

}  // namespace nembo
