#include "bench/bandwidth.hpp"

#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <memory>
#include <vector>

#include "bench/pinned_workers.hpp"

namespace nembo::bench {

namespace {

// Kept out of line so that every pass is a real sweep over memory.
[[gnu::noinline]] void update_in_place(double* a, const double* b, std::size_t count, double s) {
    for (std::size_t i = 0; i < count; ++i) a[i] += s * b[i];
}

}  // namespace

BandwidthResult in_place_bandwidth(std::uint32_t workers, std::size_t elements, int passes, int rounds) {
    // rates[round * workers + index], spans likewise.
    const std::size_t slots = static_cast<std::size_t>(rounds) * workers;
    std::vector<double> rates(slots, 0.0);
    std::vector<double> spans(slots, 0.0);
    std::vector<double> sinks(workers, 0.0);
    run_pinned(workers, [&](std::uint32_t index, Barrier& start) {
        // First touch on the pinned thread puts the pages near it.
        const std::unique_ptr<double[]> a(new double[elements]);
        const std::unique_ptr<double[]> b(new double[elements]);
        for (std::size_t i = 0; i < elements; ++i) {
            a[i] = 1.0;
            b[i] = static_cast<double>(i & 1023);
        }
        update_in_place(a.get(), b.get(), elements, 1e-6);
        for (int round = 0; round < rounds; ++round) {
            start.arrive_and_wait();
            const auto t0 = std::chrono::steady_clock::now();
            for (int pass = 0; pass < passes; ++pass) update_in_place(a.get(), b.get(), elements, 1e-6);
            const auto t1 = std::chrono::steady_clock::now();
            const double seconds = std::chrono::duration<double>(t1 - t0).count();
            const double bytes = 24.0 * static_cast<double>(elements) * passes;
            const std::size_t slot = static_cast<std::size_t>(round) * workers + index;
            rates[slot] = seconds > 0.0 ? bytes / seconds : 0.0;
            spans[slot] = seconds;
        }
        sinks[index] = a[elements / 2] + a[elements - 1];
    });
    BandwidthResult best;
    for (int round = 0; round < rounds; ++round) {
        BandwidthResult result;
        for (std::uint32_t i = 0; i < workers; ++i) {
            const std::size_t slot = static_cast<std::size_t>(round) * workers + i;
            result.bytes_per_second += rates[slot];
            result.seconds = std::max(result.seconds, spans[slot]);
        }
        if (result.bytes_per_second > best.bytes_per_second) best = result;
    }
    // Keeps the arrays' final contents observable.
    benchmark::DoNotOptimize(sinks.data());
    benchmark::ClobberMemory();
    return best;
}

}  // namespace nembo::bench
