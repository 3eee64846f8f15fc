#pragma once
// One benchmark run: its description, the instruction-set and timer checks,
// the workers and their shared state, and the outcome handed to the results.
#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <ostream>
#include <span>
#include <stop_token>
#include <string>
#include <string_view>
#include <vector>

#include "platform/barrier.hpp"
#include "platform/machine.hpp"
#include "platform/placement.hpp"
#include "platform/timer.hpp"
#include "solver/maybe_error.hpp"
#include "solver/workload.hpp"

namespace nembo {

struct Placement {
    std::uint32_t thread_count = 1;
    PlacementPlan plan;
    GroupSpread groups;  // `os` mode on several processor groups
};

struct RunParameters {
    const bool& large_pages;
    const Placement& placement;
    std::string workload;
    std::string isa;
    bool strict_isa_check = false;
    std::uint32_t duration_s = 30;
    std::uint64_t size = 192;
    bool bypass_timer_check = false;
    std::string threading;
};

struct ThreadResult {
    std::uint32_t thread_index = 0;
    std::int64_t coarse_ms = 0;
    std::int64_t fast_us = 0;
    std::uint64_t iterations = 0;
    std::uint64_t grid_updates = 0;
};

struct RunOutcome {
    bool stop_requested = false;
    std::string cpu_brand;  // the processor the run was made on, for the result
    std::uint32_t thread_count = 0;
    std::vector<ThreadResult> results;
    std::string workload;
    std::string isa;
    std::uint64_t size = 0;
    std::uint32_t duration_s = 0;
};

// One worker's live figures, on a cache line pair of its own. Written only by
// its worker, read without a lock by the reporting worker.
struct alignas(128) ProgressSlot {
    std::atomic<std::uint64_t> iterations{0};
    std::atomic<double> mgups{0.0};
};
static_assert(sizeof(ProgressSlot) == 128);

using ProgressBoard = std::vector<ProgressSlot>;

using WorkloadFactory =
    std::function<std::unique_ptr<Workload>(std::string_view workload, std::string_view isa,
                                            std::uint32_t thread_index)>;

// What a run asks of the machine, replaceable so that every path of a run can
// be exercised on any machine. The defaults are the real probes.
struct RunEnvironment {
    // The processor and the system, read once; the checks below that need
    // them are made from the same value.
    MachineFacts machine;
    WorkloadFactory create_workload;
    std::function<MaybeError(std::string_view isa)> check_isa_support;
    std::function<bool(const TimerInfo& fast)> fast_timer_is_compliant;
    // The two clocks as the checks before the start see them: their
    // descriptions (handed on to the workers) and the readings that the
    // overflow prediction starts from.
    std::function<TimerInfo()> describe_fast_timer;
    std::function<TimerInfo()> describe_coarse_timer;
    std::function<std::int64_t()> read_fast_timer;
    std::function<std::int64_t()> read_coarse_timer;
    // Asked before each worker thread is started; false simulates a thread
    // that the system refuses to create.
    std::function<bool(std::uint32_t index)> may_start_thread;
    // The most threads this process may have (no_limit when unknown); a run
    // of more workers is refused before anything is allocated for it.
    std::function<std::uint64_t()> thread_limit;

    // The real probes, with the instruction-set check, the timer rule and
    // the fast timer's classification made from `machine`.
    static RunEnvironment system(const MachineFacts& machine = this_machine());
};

struct WorkerContext {
    std::uint32_t index;
    const RunParameters& params;
    RunOutcome& outcome;
    std::mutex& console_lock;
    std::mutex& results_lock;
    Barrier& barrier;
    std::stop_source& stop;
    ProgressBoard& board;
    const WorkloadFactory& create_workload;
    TimerInfo fast_timer;
    TimerInfo coarse_timer;
    bool reporting;
};

RunOutcome execute_run(const RunParameters& params, const RunEnvironment& env = RunEnvironment::system());

void print_label_box(std::ostream& out, std::string_view label);
// The progress line, formatted into `buffer` without allocating; returns its
// length (cut to the buffer's size).
std::size_t format_progress_into(std::span<char> buffer, std::int64_t elapsed_s, std::uint32_t duration_s,
                                 const ProgressBoard& board) noexcept;
std::string format_progress(std::int64_t elapsed_s, std::uint32_t duration_s, const ProgressBoard& board);
// Writes the progress line; allocates nothing.
void print_progress(std::int64_t elapsed_s, std::uint32_t duration_s, const ProgressBoard& board);

}  // namespace nembo
