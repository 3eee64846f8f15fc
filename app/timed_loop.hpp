#pragma once
// The timed loop of a worker: the one piece of a run that the score times.
// The run's workers and the benchmark of the loop's overhead both run it.
#include <cstdint>
#include <stop_token>
#include <utility>

#include "app/run.hpp"
#include "platform/timer.hpp"
#include "solver/maybe_error.hpp"
#include "solver/workload.hpp"

namespace nembo {

enum class LoopEnd : std::uint8_t {
    duration,  // the coarse timer reached the duration at an iteration boundary
    failed,    // pre_step, step or check_step gave `error`
    stopped,   // another worker requested the stop
};

struct TimedLoop {
    LoopEnd end = LoopEnd::duration;
    MaybeError error;
    std::uint64_t iterations = 0;
    // Coarse and fast readings at the start (c0 before f0) and, when the
    // duration ended the loop, at the end (f1 before c1): the coarse span
    // encloses the fast one.
    std::int64_t c0 = 0;
    std::int64_t f0 = 0;
    std::int64_t f1 = 0;
    std::int64_t c1 = 0;
};

// Iterates pre_step, step and check_step until `duration_s` seconds have
// passed on the coarse timer, at least once, and publishes the iterations and
// the rate in `slot` after each. `draw_progress(elapsed_s)` is called before
// each iteration with the seconds measured after the previous one; the
// reporting worker draws its progress line there, the others do nothing.
template <typename DrawProgress>
TimedLoop run_timed_loop(Workload& workload, const TimerInfo& coarse_timer, std::uint32_t duration_s,
                         ProgressSlot& slot, const std::stop_token& stop, DrawProgress&& draw_progress) {
    TimedLoop loop;
    loop.c0 = read_coarse_timer();
    loop.f0 = read_fast_timer();
    const std::int64_t limit = static_cast<std::int64_t>(duration_s) * 1000;
    std::int64_t elapsed = 0;
    for (;;) {
        draw_progress(elapsed / 1000);
        MaybeError error = workload.pre_step(loop.iterations);
        if (!error) error = workload.step();
        if (!error) error = workload.check_step(loop.iterations);
        if (error) {
            loop.end = LoopEnd::failed;
            loop.error = std::move(error);
            return loop;
        }
        if (stop.stop_requested()) {
            loop.end = LoopEnd::stopped;
            return loop;
        }
        ++loop.iterations;
        elapsed = elapsed_milliseconds(coarse_timer, loop.c0, read_coarse_timer());
        if (elapsed > 0) {
            const auto updates = static_cast<double>(workload.updates_per_iteration() * loop.iterations);
            slot.mgups.store(updates / (static_cast<double>(elapsed) * 1000.0), std::memory_order_relaxed);
        }
        slot.iterations.store(loop.iterations, std::memory_order_relaxed);
        if (elapsed >= limit) break;
    }
    loop.f1 = read_fast_timer();
    loop.c1 = read_coarse_timer();
    return loop;
}

}  // namespace nembo
