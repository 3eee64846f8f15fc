#pragma once
// The two roofs a sweep is judged against, for either page size.
//
// The in-place ceiling: the bandwidth of a[i] += s * b[i] over arrays far
// larger than the caches. Like a field sweep it reads two streams and writes
// one of them back where it was read (24 bytes per element, no
// write-allocate traffic). A sweep moves 96 bytes per counted update (the
// other field's cell, its own cell read and written back), so the ceiling in
// MGups is bandwidth / 96.
//
// The shifted reference: a[i] += s * (b[i + plane] - b[i]), b read twice one
// x-plane of a size-192 grid apart. The same memory traffic, plus the third
// stream into the first level cache that no sweep order avoids (each plane of
// the other field is read as the plane ahead and again as its own). It is
// what the processor gives a sweep's access pattern at best.
//
// The page size is the arrays' own: 4 KiB pages are asked for with
// madvise(MADV_NOHUGEPAGE), 2 MiB pages with madvise(MADV_HUGEPAGE) on
// 2 MiB-aligned arrays (transparent huge pages: no reservation needed). What
// the arrays actually got is read back from /proc/self/smaps.
#include <cstddef>
#include <cstdint>
#include <vector>

#include "platform/barrier.hpp"

namespace nembo::bench {

enum class Pages : std::uint8_t { small, large };  // 4 KiB, 2 MiB

// "4KiB" or "2MiB".
const char* pages_name(Pages pages);

inline constexpr double bytes_per_update = 96.0;

// The roofs of one set of workers, summed over them, in bytes per second.
struct Roofs {
    double in_place = 0.0;
    double shifted = 0.0;
    // Of the arrays' bytes, the share the kernel backed with huge pages
    // (the smallest over the workers); 0 for 4 KiB arrays as intended.
    double huge_share = 0.0;
    bool measured = false;  // false: some worker could not get its arrays

    double in_place_mgups() const { return in_place / bytes_per_update / 1e6; }
    double shifted_mgups() const { return shifted / bytes_per_update / 1e6; }
};

// The better of two measurements of the same roofs (each roof separately):
// other load on a shared host only ever lowers a roof.
Roofs better(const Roofs& a, const Roofs& b);

// One measurement's shared state: each worker's rates per round.
class RoofRounds {
public:
    RoofRounds(std::uint32_t workers, int rounds, int passes, std::size_t mib, Pages pages);

    // One worker's part, on its own pinned thread, called by all the workers
    // together: it maps and touches its arrays, then in each round times
    // `passes` passes of the in-place update and then as many of the shifted
    // one, all workers starting each together at `start`. A worker without
    // arrays still passes every start, so the others are not held up.
    void run_worker(std::uint32_t index, Barrier& start);

    // The best round of each roof, summed over the workers.
    Roofs result() const;

private:
    std::uint32_t workers_;
    int rounds_;
    int passes_;
    std::size_t elements_;
    Pages pages_;
    std::vector<double> in_place_;  // [round * workers + index], bytes per second
    std::vector<double> shifted_;
    std::vector<double> huge_share_;
    std::vector<char> ready_;
};

// The whole measurement on `workers` freshly pinned threads.
Roofs measure_roofs(std::uint32_t workers, int rounds, int passes, std::size_t mib, Pages pages);

}  // namespace nembo::bench
