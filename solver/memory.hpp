#pragma once
// The operating-system side of field storage. grid.cpp holds the portable
// logic; memory_windows.cpp and memory_linux.cpp supply these.
#include <cstdint>

namespace nembo::memory {

// 64-byte-aligned heap storage, not yet zeroed; null on failure.
void* heap_acquire(std::uint64_t bytes);
// Frees storage from heap_acquire of `bytes`.
void heap_release(void* storage, std::uint64_t bytes);

// Large-page storage of `bytes` (already a multiple of the minimum); null on
// failure.
void* large_acquire(std::uint64_t bytes);
void large_release(void* storage, std::uint64_t bytes);

}  // namespace nembo::memory
