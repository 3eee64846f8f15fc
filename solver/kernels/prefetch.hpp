#pragma once
// Software prefetch and plane grouping, the two techniques that the sweeps'
// schedules combine (solver/schedule.hpp). Each sweep streams two blocks
// through memory (the other field, and the updated field itself). On some
// processors the hardware prefetchers stop at every 4 KiB page and keep too
// few lines in flight for one core to reach the memory's bandwidth; there,
// asking for the lines of both streams a fixed distance ahead of the cell
// being updated helps. On others the same prefetches only crowd the load
// queues and cost a third of the rate, which is why a workload times the
// schedules on its own grid instead of assuming one.
//
// Include only from a kernel header, inside no namespace: it places its
// helper and constants in the instruction-set build's namespace with internal
// linkage.
#include <immintrin.h>

#include <cstdint>

#include "solver/grid.hpp"

#ifndef NEMBO_VARIANT
#error "NEMBO_VARIANT must name the namespace of this instruction-set build"
#endif

namespace nembo::NEMBO_VARIANT {
namespace {

// What a schedule asks of the software prefetch: nothing; the lines of each
// stream a short distance ahead into the first level cache, for every cell;
// or each line once, twice as far ahead, into the second level cache only.
// The first suits a few streams (plane by plane: two). Grouped planes stream
// nine at once, and at the first distance their prefetched lines alone fill
// a 32 KiB first level cache: the second keeps them out of it and leaves the
// last step to the hardware.
enum class Fetch { none, l1, l2 };

// How far ahead of the current cell the streams are fetched, in cells: 3 KiB
// of each stream into the first level cache (measured: 64 to 128 cells all
// reach the plateau at grid size 192; less leaves bandwidth unused), 8 KiB
// into the second.
constexpr std::uint64_t l1_prefetch_distance = 96;
constexpr std::uint64_t l2_prefetch_distance = 256;

// How many consecutive x-planes one pass of the y and z loops updates. Each
// plane's update reads the other field's plane next to it (x + 1 for H, x - 1
// for E), which is the plane the neighbouring update reads as its own. Plane by
// plane, that shared plane comes back a whole plane later, when at the large
// sizes (1.2 MB per plane at 192) it has already left the second level cache;
// updating the planes of a group together, row by row, reads it again within
// the same row, so a group of k planes streams k + 1 planes of the other field
// instead of 2k. Measured on a Xeon with prefetch at 128 and 192 with one and
// two workers: 4 and 8 are level (both 10-15% above plane by plane with two
// workers at 192), 2 a little behind, 16 loses (its 33 prefetch streams
// overflow the first level cache). 4 keeps the fewer streams in flight. The
// x loop stays outermost: the group is the x loop unrolled, with the planes
// left over done one by one.
constexpr std::uint64_t plane_group = 4;

// Fetches the cache line the schedule's distance after `cell` into its cache
// level. Near the end of a block that line lies beyond it: the address is
// formed as an integer, and a prefetch never faults.
template <Fetch F>
[[gnu::always_inline]] inline void prefetch_ahead(const Cell* cell) {
    if constexpr (F == Fetch::l1) {
        const std::uintptr_t address = reinterpret_cast<std::uintptr_t>(cell) + l1_prefetch_distance * sizeof(Cell);
        _mm_prefetch(reinterpret_cast<const char*>(address), _MM_HINT_T0);
    } else if constexpr (F == Fetch::l2) {
        const std::uintptr_t address = reinterpret_cast<std::uintptr_t>(cell) + l2_prefetch_distance * sizeof(Cell);
        _mm_prefetch(reinterpret_cast<const char*>(address), _MM_HINT_T1);
    }
}

// Whether the one-cell kernels prefetch at cell z of a row: every cell for
// the first level, every second (one per 64-byte line of two cells) for the
// second; never without prefetch.
template <Fetch F>
[[gnu::always_inline]] inline bool prefetch_at(std::uint64_t z) {
    if constexpr (F == Fetch::l1) return true;
    if constexpr (F == Fetch::l2) return (z & 1) == 0;
    return false;
}

}  // namespace
}  // namespace nembo::NEMBO_VARIANT
