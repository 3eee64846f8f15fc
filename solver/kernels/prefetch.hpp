#pragma once
// Software prefetch for the sweeps. Each sweep streams two blocks through
// memory (the other field one x-plane ahead, and the updated field itself);
// the hardware prefetchers stop at every 4 KiB page and keep too few lines in
// flight for one core to reach the memory's bandwidth, so the kernels ask for
// the lines of both streams a fixed distance ahead of the cell being updated.
//
// Include only from a kernel header, inside no namespace: it places its one
// helper in the instruction-set build's namespace with internal linkage.
#include <immintrin.h>

#include <cstdint>

#include "solver/grid.hpp"

#ifndef NEMBO_VARIANT
#error "NEMBO_VARIANT must name the namespace of this instruction-set build"
#endif

namespace nembo::NEMBO_VARIANT {
namespace {

// How far ahead of the current cell the streams are fetched, in cells (3 KiB
// of each stream). Measured: 64 to 128 cells all reach the plateau at grid
// size 192; less leaves bandwidth unused.
constexpr std::uint64_t prefetch_distance = 96;

// Fetches the cache line prefetch_distance cells after `cell` into the first
// level cache. Near the end of a block that line lies beyond it: the address
// is formed as an integer, and a prefetch never faults.
[[gnu::always_inline]] inline void prefetch_ahead(const Cell* cell) {
    const std::uintptr_t address = reinterpret_cast<std::uintptr_t>(cell) + prefetch_distance * sizeof(Cell);
    _mm_prefetch(reinterpret_cast<const char*>(address), _MM_HINT_T0);
}

}  // namespace
}  // namespace nembo::NEMBO_VARIANT
