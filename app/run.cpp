#include "app/run.hpp"

#include <fmt/format.h>

#include <algorithm>
#include <condition_variable>
#include <exception>
#include <iostream>
#include <new>
#include <thread>

#include "app/console.hpp"
#include "app/illegal_instruction.hpp"
#include "app/worker.hpp"
#include "platform/cpu.hpp"
#include "platform/system_limits.hpp"
#include "solver/grid.hpp"
#include "solver/isa.hpp"

namespace nembo {

RunEnvironment RunEnvironment::system(const MachineFacts& machine) {
    RunEnvironment env;
    env.machine = machine;
    env.create_workload = [](std::string_view workload, std::string_view isa, std::uint32_t index) {
        return nembo::create_workload(workload, isa, index);
    };
    env.check_isa_support = [features = machine.features](std::string_view isa) {
        return nembo::check_isa_support(isa, features);
    };
    env.fast_timer_is_compliant = [older = machine.os_older_than_6_2, cpu = machine.cpu](const TimerInfo& fast) {
        return nembo::fast_timer_is_compliant(older, cpu, fast);
    };
    env.describe_fast_timer = [tsc = machine.tsc] { return nembo::describe_fast_timer(tsc); };
    env.describe_coarse_timer = [] { return nembo::describe_coarse_timer(); };
    env.read_fast_timer = [] { return nembo::read_fast_timer(); };
    env.read_coarse_timer = [] { return nembo::read_coarse_timer(); };
    env.may_start_thread = [](std::uint32_t) { return true; };
    env.thread_limit = [] { return max_threads(); };
    return env;
}

void print_label_box(std::ostream& out, std::string_view label) {
    // Written from a fixed line of "=", so that it allocates nothing.
    static constexpr char equals[] = "================================================================";
    const auto rule = [&] {
        for (std::size_t left = label.size() + 3; left > 0;) {
            const std::size_t piece = std::min(left, sizeof equals - 1);
            out.write(equals, static_cast<std::streamsize>(piece));
            left -= piece;
        }
        out << std::endl;
    };
    rule();
    out << "  " << label << ' ' << std::endl;
    rule();
}

std::size_t format_progress_into(std::span<char> buffer, std::int64_t elapsed_s, std::uint32_t duration_s,
                                 const ProgressBoard& board) noexcept {
    double rate = 0.0;
    std::uint64_t most = 0;
    for (const ProgressSlot& slot : board) {
        rate += slot.mgups.load(std::memory_order_relaxed);
        const std::uint64_t done = slot.iterations.load(std::memory_order_relaxed);
        if (done > most) most = done;
    }
    const auto written = fmt::format_to_n(buffer.data(), buffer.size(),
                                          "\rbenchmarking... {}/{}s {:>16.4g} MGups  {} iterations", elapsed_s,
                                          duration_s, rate, most);
    return std::min(written.size, buffer.size());
}

namespace {

// Longest line: 20 digits of seconds, 10 of duration, a rate of at most 16
// characters (four significant digits), 20 digits of iterations.
constexpr std::size_t progress_buffer_size = 128;

}  // namespace

std::string format_progress(std::int64_t elapsed_s, std::uint32_t duration_s, const ProgressBoard& board) {
    char buffer[progress_buffer_size];
    return std::string(buffer, format_progress_into(buffer, elapsed_s, duration_s, board));
}

void print_progress(std::int64_t elapsed_s, std::uint32_t duration_s, const ProgressBoard& board) {
    char buffer[progress_buffer_size];
    const std::size_t length = format_progress_into(buffer, elapsed_s, duration_s, board);
    std::cout.write(buffer, static_cast<std::streamsize>(length));
    std::cout.flush();
}

namespace {

// Steps 2 to 10 of a run: everything printed before a worker exists. Returns
// false when the run is abandoned.
bool describe_and_check(const RunParameters& params, const RunEnvironment& env, std::mutex& console_lock,
                        TimerInfo& fast, TimerInfo& coarse) {
    std::cout << env.machine.cpu.brand << std::endl;
    std::cout << cpu_feature_list(env.machine.features) << std::endl;

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

namespace {

// Holds the started worker threads until every one of them exists, so that
// a run whose threads cannot all be created ends before any worker has
// allocated or printed anything.
class StartGate {
public:
    // Waits for the verdict; true when the run goes ahead.
    bool wait() {
        std::unique_lock lock(mutex_);
        decided_.wait(lock, [&] { return state_ != State::closed; });
        return state_ == State::open;
    }
    void open() { decide(State::open); }
    void abandon() { decide(State::abandoned); }

private:
    enum class State { closed, open, abandoned };
    void decide(State state) {
        {
            const std::lock_guard lock(mutex_);
            state_ = state;
        }
        decided_.notify_all();
    }
    std::mutex mutex_;
    std::condition_variable decided_;
    State state_ = State::closed;
};

// Room for `count` elements; false when it cannot be had.
template <typename T>
bool try_reserve(std::vector<T>& items, std::size_t count) noexcept {
    try {
        items.reserve(count);
        return true;
    } catch (const std::exception&) {
        return false;
    }
}

// The run's shared state for n workers; false when memory for it cannot be
// had.
bool allocate_run_state(std::uint32_t n, std::unique_ptr<ProgressBoard>& board, std::vector<std::thread>& threads,
                        RunOutcome& outcome) noexcept {
    try {
        board = std::make_unique<ProgressBoard>(n);
    } catch (const std::exception&) {
        return false;
    }
    return try_reserve(threads, n - 1) && try_reserve(outcome.results, n);
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
    outcome.cpu_brand = env.machine.cpu.brand;
    std::mutex console_lock;
    std::mutex results_lock;
    std::stop_source stop;

    TimerInfo fast;
    TimerInfo coarse;
    if (!describe_and_check(params, env, console_lock, fast, coarse)) return outcome;

    // A count that can never run is refused before anything is sized for it;
    // one that fits the limit but not the memory is refused when its shared
    // state cannot be had.
    if (const std::uint64_t limit = env.thread_limit(); n > limit) {
        std::cerr << "cannot run " << n << " threads: this system allows at most " << limit << "; aborting"
                  << std::endl;
        return outcome;
    }
    std::unique_ptr<ProgressBoard> board;
    std::vector<std::thread> threads;
    if (!allocate_run_state(n, board, threads, outcome)) {
        std::cerr << "not enough memory to run " << n << " threads; aborting" << std::endl;
        return outcome;
    }
    Barrier barrier(n);

    // A processor that lacks the chosen instructions ends the process with a
    // clear message instead of a crash.
    guard_illegal_instruction(params.isa);

    const auto context = [&](std::uint32_t index) {
        return WorkerContext{index, params, outcome, console_lock, results_lock, barrier, stop, *board,
                             env.create_workload, fast, coarse, index == 0};
    };
    StartGate gate;
    for (std::uint32_t index = 1; index < n; ++index) {
        bool started = false;
        if (env.may_start_thread(index)) {
            try {
                threads.emplace_back([&gate, worker = context(index)] {
                    if (gate.wait()) worker_main(worker);
                });
                started = true;
            } catch (const std::exception&) {
            }
        }
        if (!started) {
            // The threads that exist leave without a word; the run ends here.
            gate.abandon();
            for (std::thread& thread : threads) thread.join();
            std::cerr << "could not start worker thread " << index << "; aborting" << std::endl;
            outcome.stop_requested = true;
            return outcome;
        }
    }
    gate.open();
    worker_main(context(0));
    for (std::thread& thread : threads) thread.join();

    outcome.stop_requested = stop.stop_requested();
    return outcome;
}

}  // namespace nembo
