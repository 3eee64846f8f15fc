#include "bench/bandwidth.hpp"

#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <memory>
#include <new>

#include "bench/pinned_workers.hpp"

namespace nembo::bench {

namespace {

// Kept out of line so that every pass is a real sweep over memory. With a
// shift, b is read twice, `shift` elements apart: b has count + shift elements.
[[gnu::noinline]] void update_in_place(double* a, const double* b, std::size_t count, double s) {
    for (std::size_t i = 0; i < count; ++i) a[i] += s * b[i];
}
[[gnu::noinline]] void update_shifted(double* a, const double* b, std::size_t count, std::size_t shift, double s) {
    for (std::size_t i = 0; i < count; ++i) a[i] += s * (b[i + shift] - b[i]);
}

void update(double* a, const double* b, std::size_t count, std::size_t shift, double s) {
    if (shift == 0) {
        update_in_place(a, b, count, s);
    } else {
        update_shifted(a, b, count, shift, s);
    }
}

}  // namespace

BandwidthRounds::BandwidthRounds(std::uint32_t worker_count, int round_count)
    : workers(worker_count),
      rounds(round_count),
      rates(static_cast<std::size_t>(round_count) * worker_count, 0.0),
      spans(static_cast<std::size_t>(round_count) * worker_count, 0.0),
      sinks(worker_count, 0.0) {}

bool in_place_worker(std::uint32_t index, Barrier& start, std::size_t elements, int passes,
                     BandwidthRounds& rounds, std::size_t shift) {
    // First touch on the worker's own thread puts the pages near it.
    const std::unique_ptr<double[]> a(new (std::nothrow) double[elements]);
    const std::unique_ptr<double[]> b(new (std::nothrow) double[elements + shift]);
    const bool ready = a && b && elements > 0;
    if (ready) {
        for (std::size_t i = 0; i < elements; ++i) a[i] = 1.0;
        for (std::size_t i = 0; i < elements + shift; ++i) b[i] = static_cast<double>(i & 1023);
        update(a.get(), b.get(), elements, shift, 1e-6);
    }
    for (int round = 0; round < rounds.rounds; ++round) {
        start.arrive_and_wait();
        if (!ready) continue;
        const auto t0 = std::chrono::steady_clock::now();
        for (int pass = 0; pass < passes; ++pass) update(a.get(), b.get(), elements, shift, 1e-6);
        const auto t1 = std::chrono::steady_clock::now();
        const double seconds = std::chrono::duration<double>(t1 - t0).count();
        const double bytes = 24.0 * static_cast<double>(elements) * passes;
        const std::size_t slot = static_cast<std::size_t>(round) * rounds.workers + index;
        rounds.rates[slot] = seconds > 0.0 ? bytes / seconds : 0.0;
        rounds.spans[slot] = seconds;
    }
    if (ready) rounds.sinks[index] = a[elements / 2] + a[elements - 1];
    return ready;
}

BandwidthResult best_round(const BandwidthRounds& rounds) {
    BandwidthResult best;
    for (int round = 0; round < rounds.rounds; ++round) {
        BandwidthResult result;
        for (std::uint32_t i = 0; i < rounds.workers; ++i) {
            const std::size_t slot = static_cast<std::size_t>(round) * rounds.workers + i;
            result.bytes_per_second += rounds.rates[slot];
            result.seconds = std::max(result.seconds, rounds.spans[slot]);
        }
        if (result.bytes_per_second > best.bytes_per_second) best = result;
    }
    // Keeps the arrays' final contents observable.
    benchmark::DoNotOptimize(rounds.sinks.data());
    benchmark::ClobberMemory();
    return best;
}

BandwidthResult in_place_bandwidth(std::uint32_t workers, std::size_t elements, int passes, int rounds,
                                   std::size_t shift) {
    BandwidthRounds timings(workers, rounds);
    run_pinned(workers, [&](std::uint32_t index, Barrier& start) {
        in_place_worker(index, start, elements, passes, timings, shift);
    });
    return best_round(timings);
}

}  // namespace nembo::bench
