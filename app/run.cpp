#include "app/run.hpp"

#include <fmt/format.h>

#include <iostream>
#include <system_error>
#include <thread>

#include "app/console.hpp"
#include "app/illegal_instruction.hpp"
#include "app/worker.hpp"
#include "platform/cpu.hpp"
#include "solver/grid.hpp"
#include "solver/isa.hpp"

namespace nembo {

RunEnvironment RunEnvironment::system() {
    RunEnvironment env;
    env.create_workload = [](std::string_view workload, std::string_view isa, std::uint32_t index) {
        return nembo::create_workload(workload, isa, index);
    };
    env.check_isa_support = [](std::string_view isa) { return nembo::check_isa_support(isa); };
    env.fast_timer_is_compliant = [](const TimerInfo& fast) { return nembo::fast_timer_is_compliant(fast); };
    env.describe_fast_timer = [] { return nembo::describe_fast_timer(); };
    env.describe_coarse_timer = [] { return nembo::describe_coarse_timer(); };
    env.read_fast_timer = [] { return nembo::read_fast_timer(); };
    env.read_coarse_timer = [] { return nembo::read_coarse_timer(); };
    env.may_start_thread = [](std::uint32_t) { return true; };
    return env;
}

void print_label_box(std::ostream& out, std::string_view label) {
    const std::string rule(label.size() + 3, '=');
    out << rule << std::endl;
    out << "  " << label << ' ' << std::endl;
    out << rule << std::endl;
}

std::string format_progress(std::int64_t elapsed_s, std::uint32_t duration_s, const ProgressBoard& board) {
    double rate = 0.0;
    std::uint64_t most = 0;
    for (const ProgressSlot& slot : board) {
        rate += slot.mgups.load(std::memory_order_relaxed);
        const std::uint64_t done = slot.iterations.load(std::memory_order_relaxed);
        if (done > most) most = done;
    }
    return fmt::format("\rbenchmarking... {}/{}s {:>16.4g} MGups  {} iterations", elapsed_s, duration_s, rate,
                       most);
}

void print_progress(std::int64_t elapsed_s, std::uint32_t duration_s, const ProgressBoard& board) {
    std::cout << format_progress(elapsed_s, duration_s, board) << std::flush;
}

namespace {

// Steps 2 to 10 of a run: everything printed before a worker exists. Returns
// false when the run is abandoned.
bool describe_and_check(const RunParameters& params, const RunEnvironment& env, std::mutex& console_lock,
                        TimerInfo& fast, TimerInfo& coarse) {
    std::cout << read_cpu_brand() << std::endl;
    std::cout << cpu_feature_list() << std::endl;

    if (const MaybeError unsupported = env.check_isa_support(params.isa)) {
        const std::lock_guard lock(console_lock);
        print_label_box(std::cerr, "warning");
        std::cerr << unsupported.text() << std::flush;
        if (params.strict_isa_check) {
            std::cerr << "isa support check failed; aborting" << std::endl;
            return false;
        }
    }

    const std::uint32_t n = params.placement.thread_count;
    std::cout << "running with " << n << " thread" << (n > 1 ? "s" : "") << " (" << params.threading << ")"
              << std::endl;
    std::cout << fmt::format("{} x {} x {} grid", params.size, params.size, params.size) << std::endl;
    const std::uint64_t per_thread = memory_per_thread(params.size);
    std::cout << format_bytes(per_thread) << " per thread" << std::endl;
    std::cout << format_bytes(per_thread * n) << " total" << std::endl;

    fast = env.describe_fast_timer();
    coarse = env.describe_coarse_timer();
    std::cout << fmt::format("Fast Timer Frequency: {} ({})", format_frequency(shown_frequency(fast)),
                             timer_source_name(fast.source))
              << std::endl;
    std::cout << "Coarse Timer Frequency: " << format_frequency(shown_frequency(coarse)) << std::endl;

    if (!env.fast_timer_is_compliant(fast)) {
        if (!params.bypass_timer_check) {
            std::cerr << "Fast Timer is not HWBOT compliant (fast timer source: " << timer_source_name(fast.source)
                      << "); aborting" << std::endl;
            std::cerr << "Use --bypass-timer-check to run regardless if you are sure that this is a detection "
                         "error in terms of your windows version, processor, or timer"
                      << std::endl;
            return false;
        }
        print_label_box(std::cerr, "warning");
        std::cerr << "Fast timer is not compliant with HWBOT rules (fast timer source: "
                  << timer_source_name(fast.source) << ")" << std::endl;
        std::cerr << "Check that this is a detection error in terms of your windows version, processor, or timer "
                     "before submitting"
                  << std::endl;
    }

    const auto horizon = static_cast<std::int64_t>(params.duration_s) + 2;
    if (timer_will_overflow(fast, env.read_fast_timer(), horizon)) {
        std::cerr << "fast timer will overflow during the run; aborting" << std::endl;
        return false;
    }
    if (timer_will_overflow(coarse, env.read_coarse_timer(), horizon)) {
        std::cerr << "coarse timer will overflow during the run; aborting" << std::endl;
        return false;
    }
    return true;
}

}  // namespace

RunOutcome execute_run(const RunParameters& params, const RunEnvironment& env) {
    const std::uint32_t n = params.placement.thread_count;
    RunOutcome outcome;
    outcome.thread_count = n;
    outcome.workload = params.workload;
    outcome.isa = params.isa;
    outcome.size = params.size;
    outcome.duration_s = params.duration_s;
    std::mutex console_lock;
    std::mutex results_lock;
    std::stop_source stop;
    ProgressBoard board(n);

    TimerInfo fast;
    TimerInfo coarse;
    if (!describe_and_check(params, env, console_lock, fast, coarse)) return outcome;

    std::vector<std::thread> threads;
    threads.reserve(n - 1);
    outcome.results.reserve(n);
    Barrier barrier(n);

    // A processor that lacks the chosen instructions ends the process with a
    // clear message instead of a crash.
    guard_illegal_instruction(params.isa);

    const auto context = [&](std::uint32_t index) {
        return WorkerContext{index,         params,          outcome, console_lock, results_lock, barrier,
                             stop,          board,           env.create_workload, fast, coarse, index == 0};
    };
    for (std::uint32_t index = 1; index < n; ++index) {
        bool started = false;
        if (env.may_start_thread(index)) {
            try {
                threads.emplace_back(worker_main, context(index));
                started = true;
            } catch (const std::system_error&) {
            }
        }
        if (!started) {
            // The workers that will never exist leave the barrier, so nobody
            // waits for them; the stop makes the others give up.
            stop.request_stop();
            {
                const std::lock_guard lock(console_lock);
                std::cerr << "could not start worker thread " << index << "; aborting" << std::endl;
            }
            for (std::uint32_t missing = index; missing < n; ++missing) barrier.arrive_and_drop();
            break;
        }
    }
    worker_main(context(0));
    for (std::thread& thread : threads) thread.join();

    outcome.stop_requested = stop.stop_requested();
    return outcome;
}

}  // namespace nembo
