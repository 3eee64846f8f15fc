#include "app/worker.hpp"

#include "app/timed_loop.hpp"

#include <iostream>
#include <memory>

namespace nembo {

namespace {

// Writes one or more complete lines while holding the console lock.
template <typename Write>
void under_console_lock(const WorkerContext& ctx, Write write) {
    const std::lock_guard lock(ctx.console_lock);
    write();
}

// The workers' lines are streamed piece by piece rather than formatted first,
// so that writing them allocates nothing: they are written when memory runs
// out, too.
template <typename... Pieces>
void say(const WorkerContext& ctx, const Pieces&... pieces) {
    if (!ctx.reporting) return;
    under_console_lock(ctx, [&] { (std::cout << ... << pieces) << std::endl; });
}

template <typename... Pieces>
void report_error(const WorkerContext& ctx, const Pieces&... pieces) {
    under_console_lock(ctx, [&] { (std::cerr << ... << pieces) << std::endl; });
}

// Where a worker stands with the start barrier: until it has passed the
// start line or left, the others count on it.
struct BarrierStanding {
    bool expected = true;
};

void worker_life(WorkerContext& ctx, BarrierStanding& standing);

}  // namespace

void worker_main(WorkerContext ctx) noexcept {
    BarrierStanding standing;
    try {
        worker_life(ctx, standing);
    } catch (...) {
        // Only memory can run out here (a workload's own texts and objects);
        // the worker fails like any other, and leaves the barrier if the
        // others still count on it.
        ctx.stop.request_stop();
        if (standing.expected) ctx.barrier.arrive_and_drop();
        try {
            report_error(ctx, "out of memory in thread ", ctx.index);
        } catch (...) {
        }
    }
}

namespace {

void worker_life(WorkerContext& ctx, BarrierStanding& standing) {
    const std::stop_token token = ctx.stop.get_token();
    const RunParameters& params = ctx.params;
    ProgressSlot& slot = ctx.board[ctx.index];

    pin_current_thread(params.placement.plan, ctx.index);
    confine_current_thread(params.placement.groups, ctx.index);
    say(ctx, params.large_pages ? "allocating fields.... (large pages)" : "allocating fields.... ");

    const std::int64_t t0 = read_fast_timer();

    // A worker that ends before the start line leaves the barrier: it arrives
    // at the current passage and drops out of the later ones, so that nobody
    // waits for it, whichever passage the others have reached when they see
    // the stop. A failing worker requests the stop first, so that whoever the
    // passage releases sees it.
    const auto fail_before_start = [&] {
        ctx.stop.request_stop();
        standing.expected = false;
        ctx.barrier.arrive_and_drop();
    };
    // One passage of the start barrier; false when the stop was requested.
    const auto pass_barrier = [&] {
        ctx.barrier.arrive_and_wait();
        if (!token.stop_requested()) return true;
        standing.expected = false;
        ctx.barrier.arrive_and_drop();
        return false;
    };

    std::unique_ptr<Workload> workload = ctx.create_workload(params.workload, params.isa, ctx.index);
    if (!workload) {
        report_error(ctx, "could not initalize workload ", params.workload, " in thread ", ctx.index);
        fail_before_start();
        return;
    }
    if (const MaybeError error = workload->allocate(GridParams{params.large_pages, params.size, 0.01})) {
        report_error(ctx, "field allocation failed in thread ", ctx.index, '\n', error.text());
        fail_before_start();
        return;
    }
    if (!pass_barrier()) return;

    say(ctx, "initalizing fields...");
    if (const MaybeError error = workload->initialize()) {
        report_error(ctx, "failed to initalize field in thread ", ctx.index, '\n', error.text());
        fail_before_start();
        return;
    }
    if (!pass_barrier()) return;

    const std::int64_t t1 = read_fast_timer();
    say(ctx, "initialization took ", elapsed_milliseconds(ctx.fast_timer, t0, t1), "ms");
    ctx.barrier.arrive_and_wait();
    standing.expected = false;
    say(ctx, "starting bench..");

    const TimedLoop loop = run_timed_loop(*workload, ctx.coarse_timer, params.duration_s, slot, token,
                                          [&ctx, &params](std::int64_t elapsed_s) {
                                              if (!ctx.reporting) return;
                                              under_console_lock(ctx, [&] {
                                                  print_progress(elapsed_s, params.duration_s, ctx.board);
                                              });
                                          });
    if (loop.end == LoopEnd::failed) {
        report_error(ctx, loop.error.text());
        ctx.stop.request_stop();
        return;
    }
    if (loop.end == LoopEnd::stopped) return;
    const std::uint64_t iterations = loop.iterations;

    if (ctx.reporting) {
        under_console_lock(ctx, [&] {
            print_progress(elapsed_seconds(ctx.fast_timer, loop.f0, loop.f1), params.duration_s, ctx.board);
            std::cout << std::endl;
        });
        say(ctx, "validating result..");
    }

    if (const MaybeError error = workload->final_check(iterations)) {
        report_error(ctx, error.text());
        ctx.stop.request_stop();
        return;
    }

    const ThreadResult result{ctx.index, elapsed_milliseconds(ctx.coarse_timer, loop.c0, loop.c1),
                              elapsed_microseconds(ctx.fast_timer, loop.f0, loop.f1), iterations,
                              workload->updates_per_iteration() * iterations};
    {
        const std::lock_guard lock(ctx.results_lock);
        // Room for every worker's result was reserved before any started.
        ctx.outcome.results.push_back(result);
    }
}

}  // namespace

}  // namespace nembo
