#pragma once
// The memory ceiling of the sweeps: the bandwidth of an in-place update
// a[i] += s * b[i] over arrays far larger than the caches. Like a field sweep
// it reads two streams and writes one of them back where it was read, so no
// write-allocate traffic is involved (24 bytes per element).
//
// With a shift, the update is a[i] += s * (b[i + shift] - b[i]): b is read
// twice, the second time from the caches, as a sweep reads each plane of the
// other field once as the plane ahead and once as its own. The memory traffic
// is the same 24 bytes per element; what the shift costs on a processor is
// the third stream its first level cache must take in.
#include <cstddef>
#include <cstdint>
#include <vector>

#include "platform/barrier.hpp"

namespace nembo::bench {

struct BandwidthResult {
    double bytes_per_second = 0.0;  // summed over the workers
    double seconds = 0.0;           // longest worker's timed span
};

// The timings of one measurement over `workers` workers: slot
// [round * workers + index] holds a worker's rate (bytes per second) and its
// timed span in one round.
struct BandwidthRounds {
    BandwidthRounds(std::uint32_t workers, int rounds);
    std::uint32_t workers;
    int rounds;
    std::vector<double> rates;
    std::vector<double> spans;
    std::vector<double> sinks;  // one per worker, keeps the arrays' contents observable
};

// One worker's part, on its own thread, called by all `rounds.workers` of
// them together: it allocates a pair of arrays of `elements` doubles, touches
// them and makes one untimed pass, then times `passes` passes in each round,
// all workers starting each round together at `start`. False when the arrays
// cannot be allocated; the worker still passes every round's start, so the
// others are not held up, and its rates stay 0.
bool in_place_worker(std::uint32_t index, Barrier& start, std::size_t elements, int passes,
                     BandwidthRounds& rounds, std::size_t shift = 0);

// The best round, summed over the workers (the ceiling is what the machine
// can do, and other load on it only ever lowers a round).
BandwidthResult best_round(const BandwidthRounds& rounds);

// The whole measurement on `workers` pinned threads, each with its own pair
// of arrays of `elements` doubles: `rounds` rounds of `passes` timed passes.
BandwidthResult in_place_bandwidth(std::uint32_t workers, std::size_t elements, int passes, int rounds,
                                   std::size_t shift = 0);

}  // namespace nembo::bench
