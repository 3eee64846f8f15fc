#pragma once
// The memory ceiling of the sweeps: the bandwidth of an in-place update
// a[i] += s * b[i] over arrays far larger than the caches. Like a field sweep
// it reads two streams and writes one of them back where it was read, so no
// write-allocate traffic is involved (24 bytes per element).
#include <cstddef>
#include <cstdint>

namespace nembo::bench {

struct BandwidthResult {
    double bytes_per_second = 0.0;  // summed over the workers
    double seconds = 0.0;           // longest worker's timed span
};

// Each of `workers` pinned threads owns a pair of arrays of `elements`
// doubles, touches them once and makes one untimed pass. Then come `rounds`
// rounds of `passes` timed passes, all workers starting each round together;
// the result is the best round (the ceiling is what the machine can do, and
// other load on it only ever lowers a round).
BandwidthResult in_place_bandwidth(std::uint32_t workers, std::size_t elements, int passes, int rounds);

}  // namespace nembo::bench
