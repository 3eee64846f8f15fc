// The timed work against the machine's memory ceiling.
//
// 1. The ceiling: the bandwidth of an in-place update a[i] += s * b[i] over
//    arrays far larger than the caches, for one worker and for all workers
//    (one private pair of arrays per worker, pinned as the numa plan pins).
//    A sweep reads the other field's cell and its own cell and writes its
//    own back: 96 bytes per counted update, so ceiling = bandwidth / 96.
//    Beside each, the same update reading b twice, one plane of a size-192
//    grid apart: the same memory traffic, with the third stream into the
//    first level cache that a sweep cannot avoid (it reads every plane of
//    the other field as the plane ahead and again as its own). Its share of
//    the ceiling is what this processor gives such a pattern.
// 2. One solver step (step() and the standing wave's check_step) of every
//    variant this processor can execute, at sizes 64, 128 and 192, for one
//    worker and for all workers stepping concurrently, each with its own
//    workload and grid. MGups is the sum of the workers' rates, as in a run.
//    Each workload times the sweep schedules on its own grid while it
//    initialises and steps with the fastest, as in a run. Just before and
//    right after each measurement the same workers, with no grids allocated,
//    measure the ceiling again (smaller arrays, fewer rounds): the row's
//    share is of the better of those two, since on a shared host the
//    bandwidth left to us drifts by a third between the start and the end
//    of this program.
// 3. For the best variant (the best single-worker rate at 192) at sizes 128
//    and 192 with one and with all workers: every candidate schedule forced
//    on all workers, and the schedule the workloads pick themselves, for half
//    a span each, on the same grids one after another (the order rotating
//    from round to round), between two measurements of that round's ceiling;
//    the median over --rounds=R rounds (default 5) of each one's rate and of
//    its share of its round's ceiling. The plain schedule (storage order, no
//    grouping, no software prefetch) is the baseline.
// 4. The worker's own timed loop (run_timed_loop) for one reporting worker:
//    its work outside step() (check_step, the timer reads and the progress
//    line, drawn into a null stream) as a share of an iteration, at sizes 64
//    and 192. The worker count "all" is the run's automatic count.
//
// Each measurement is a Google Benchmark entry (one iteration, manual time);
// a table of all of them follows the run. Options besides Google
// Benchmark's: --seconds=S, the timed span of each step measurement
// (default 2), --rounds=R, the rounds of the schedule comparison (default
// 5), --schedule-isa=NAME, its variant instead of the best one, and
// --bandwidth-mib=M, the size of each bandwidth array (default 1024, less
// when the free memory would not hold them all).
#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <iostream>
#include <memory>
#include <mutex>
#include <optional>
#include <ostream>
#include <stop_token>
#include <streambuf>
#include <string>
#include <vector>

#include "app/run.hpp"
#include "app/timed_loop.hpp"
#include "bench/bandwidth.hpp"
#include "bench/pinned_workers.hpp"
#include "platform/timer.hpp"
#include "solver/grid.hpp"
#include "solver/isa.hpp"
#include "solver/schedule.hpp"
#include "solver/variants.hpp"

namespace nembo::bench {
namespace {

constexpr std::uint64_t grid_sizes[] = {64, 128, 192};
constexpr std::uint64_t schedule_sizes[] = {128, 192};
constexpr std::uint64_t overhead_sizes[] = {64, 192};
constexpr double bytes_per_update = 96.0;

struct Settings {
    double seconds = 2.0;
    std::uint32_t rounds = 5;
    std::size_t bandwidth_mib = 1024;
    std::optional<Isa> schedule_isa;  // the schedule comparison's variant, when chosen
};

Settings& settings() {
    static Settings value;
    return value;
}

struct Ceiling {
    double one_worker = 0.0;  // MGups
    double all_workers = 0.0;
    double one_worker_bandwidth = 0.0;  // bytes per second
    double all_workers_bandwidth = 0.0;
    double one_worker_shifted = 0.0;  // bytes per second, b read twice a plane apart
    double all_workers_shifted = 0.0;
    std::size_t one_worker_mib = 0;  // size of each array
    std::size_t all_workers_mib = 0;
};

Ceiling& ceiling() {
    static Ceiling value;
    return value;
}

struct StepRow {
    Isa isa = Isa::sse2;
    std::uint64_t size = 0;
    std::uint32_t workers = 0;
    double mgups = 0.0;
    double ceiling = 0.0;  // MGups, measured right after the row (0: could not be)
    std::string error;
    std::vector<Schedule> schedules;  // each worker's, as it stepped
    double calibration_s = 0.0;       // the slowest worker's schedule calibration
};

// "groups" when every worker stepped with groups, else "groups/plain" and
// the like, in worker order without repeats.
std::string schedules_text(const std::vector<Schedule>& schedules) {
    std::string text;
    std::vector<Schedule> seen;
    for (Schedule s : schedules) {
        if (std::find(seen.begin(), seen.end(), s) != seen.end()) continue;
        seen.push_back(s);
        if (!text.empty()) text += "/";
        text += schedule_name(s);
    }
    return text;
}

// One line of the schedule comparison: the median rate of each forced
// candidate and of the workloads' own pick over the rounds, and the median of
// each one's share of its own measurement's ceiling.
struct ScheduleRow {
    Isa isa = Isa::sse2;
    std::uint64_t size = 0;
    std::uint32_t workers = 0;
    double candidate[schedule_count] = {};
    double candidate_share[schedule_count] = {};
    double picked = 0.0;
    double picked_share = 0.0;
    // Medians over the rounds of the pick's rate against plain's and against
    // the best candidate's (the highest median rate) in the same round.
    double picked_vs_plain = 0.0;
    double picked_vs_best = 0.0;
    std::vector<Schedule> picks;  // every worker's pick in every round
    std::string error;
};

std::vector<ScheduleRow>& schedule_rows() {
    static std::vector<ScheduleRow> rows;
    return rows;
}

std::vector<StepRow>& step_rows() {
    static std::vector<StepRow> rows;
    return rows;
}

struct OverheadRow {
    Isa isa = Isa::sse2;
    std::uint64_t size = 0;
    std::uint64_t iterations = 0;
    double iteration_s = 0.0;  // mean per iteration
    double step_s = 0.0;       // of which in step()
    double check_s = 0.0;      // of which in check_step()
    std::string error;
};

std::vector<OverheadRow>& overhead_rows() {
    static std::vector<OverheadRow> rows;
    return rows;
}

using Clock = std::chrono::steady_clock;

double seconds_between(Clock::time_point from, Clock::time_point to) {
    return std::chrono::duration<double>(to - from).count();
}

// Failure texts may span lines; a table cell wants one.
std::string one_line(std::string text) {
    std::replace(text.begin(), text.end(), '\n', ' ');
    const auto first = text.find_first_not_of(' ');
    return first == std::string::npos ? std::string() : text.substr(first);
}

// A standing-wave workload for (isa, size) with its grid allocated on the
// calling thread, not yet initialised.
MaybeError allocate_workload(std::unique_ptr<Workload>& workload, Isa isa, std::uint64_t size,
                             std::uint32_t index) {
    workload = create_workload("standing_wave", isa_name(isa), index);
    if (!workload) return MaybeError("no standing_wave workload for " + std::string(isa_name(isa)));
    const bool large_pages = false;
    return workload->allocate(GridParams{large_pages, size, 0.01});
}

// The same, initialised.
MaybeError prepare(std::unique_ptr<Workload>& workload, Isa isa, std::uint64_t size, std::uint32_t index) {
    if (MaybeError error = allocate_workload(workload, isa, size, index)) return error;
    return workload->initialize();
}

// MiB per array for `workers` workers: the requested size, but the arrays
// of all workers together take at most half the free memory.
std::size_t array_mib(std::uint32_t workers) {
    std::size_t mib = settings().bandwidth_mib;
    const std::uint64_t available_mib = available_physical_memory() >> 20;
    if (available_mib != 0) {
        const std::uint64_t fit = available_mib / (4 * std::uint64_t{workers});
        if (fit < mib) mib = static_cast<std::size_t>(std::max<std::uint64_t>(fit, 16));
    }
    return mib;
}

std::size_t mib_elements(std::size_t mib) { return mib * std::size_t{1024 * 1024} / sizeof(double); }

// The memory ceiling measured with each step measurement, by the same
// workers just before and right after it, so that a row and its ceiling see
// the same machine: on a shared host the bandwidth left to us moves by a
// third within minutes. Arrays of this many MiB (or the start's size if that
// is smaller), best of a few rounds of a few passes, before or after.
constexpr std::size_t row_ceiling_mib = 256;
constexpr int row_ceiling_passes = 4;
constexpr int row_ceiling_rounds = 2;

class RowCeiling {
public:
    explicit RowCeiling(std::uint32_t workers)
        : workers_(workers),
          elements_(mib_elements(std::min(row_ceiling_mib, array_mib(workers)))),
          before_(workers, row_ceiling_rounds),
          after_(workers, row_ceiling_rounds),
          ready_(2 * std::size_t{workers}, 0) {}

    // Called by every worker, with no grid of its own allocated.
    void measure_before(std::uint32_t index, Barrier& start) { measure(index, start, before_, 0); }
    void measure_after(std::uint32_t index, Barrier& start) { measure(index, start, after_, workers_); }

    // MGups: the better of the two; 0 when either could not be measured.
    double mgups() const {
        if (std::count(ready_.begin(), ready_.end(), 1) != static_cast<std::ptrdiff_t>(ready_.size())) return 0.0;
        const double best = std::max(best_round(before_).bytes_per_second, best_round(after_).bytes_per_second);
        return best / bytes_per_update / 1e6;
    }

private:
    void measure(std::uint32_t index, Barrier& start, BandwidthRounds& rounds, std::size_t slot) {
        ready_[slot + index] = in_place_worker(index, start, elements_, row_ceiling_passes, rounds) ? 1 : 0;
    }

    std::uint32_t workers_;
    std::size_t elements_;
    BandwidthRounds before_;
    BandwidthRounds after_;
    std::vector<char> ready_;
};

// All workers step their own grids from a common start line until the span
// has passed; each ends at its first iteration boundary after it. The
// workloads initialise together, so each times the schedules with the others
// running as they will in the timed loop. The same workers measure the row's
// ceiling just before and right after, with no grids allocated.
StepRow measure_steps(Isa isa, std::uint64_t size, std::uint32_t workers) {
    std::vector<double> rates(workers, 0.0);
    std::vector<double> calibration_s(workers, 0.0);
    std::vector<std::string> errors(workers);
    std::vector<Schedule> schedules(workers, Schedule::plain);
    const double span = settings().seconds;
    RowCeiling row_ceiling(workers);
    run_pinned(workers, [&](std::uint32_t index, Barrier& start) {
        row_ceiling.measure_before(index, start);
        // The step part; every worker then takes part in the ceiling, so each
        // passes the same barriers whatever became of its workload.
        [&] {
            std::unique_ptr<Workload> workload;
            MaybeError error = allocate_workload(workload, isa, size, index);
            start.arrive_and_wait();
            if (!error) error = workload->initialize();
            if (!error) {
                const WorkloadProbe probe = variant_functions(isa).probe_workload(*workload);
                calibration_s[index] = probe.calibration->spent_s;
                schedules[index] = *probe.schedule;
            }
            start.arrive_and_wait();
            if (error) {
                errors[index] = one_line(error.text());
                return;
            }
            std::uint64_t iterations = 0;
            const Clock::time_point t0 = Clock::now();
            double elapsed = 0.0;
            do {
                error = workload->step();
                if (!error) error = workload->check_step(iterations);
                if (error) {
                    errors[index] = one_line(error.text());
                    return;
                }
                ++iterations;
                elapsed = seconds_between(t0, Clock::now());
            } while (elapsed < span);
            rates[index] = static_cast<double>(workload->updates_per_iteration() * iterations) / elapsed / 1e6;
        }();
        start.arrive_and_wait();  // every grid is freed before the arrays are allocated
        row_ceiling.measure_after(index, start);
    });
    StepRow row{isa, size, workers, 0.0, 0.0, {}, schedules, 0.0};
    for (std::uint32_t i = 0; i < workers; ++i) {
        row.mgups += rates[i];
        row.calibration_s = std::max(row.calibration_s, calibration_s[i]);
        if (row.error.empty() && !errors[i].empty()) row.error = errors[i];
    }
    row.ceiling = row_ceiling.mgups();
    return row;
}

// Swallows whatever is written to it.
class NullBuffer final : public std::streambuf {
protected:
    int_type overflow(int_type c) override { return traits_type::not_eof(c); }
    std::streamsize xsputn(const char*, std::streamsize count) override { return count; }
};

// Forwards every call to a workload and adds up the time spent in step()
// and in check_step().
class TimedWorkload final : public Workload {
public:
    explicit TimedWorkload(Workload& inner) : Workload(inner.thread_index), inner_(inner) {}
    MaybeError allocate(const GridParams& params) override { return inner_.allocate(params); }
    MaybeError initialize() override { return inner_.initialize(); }
    MaybeError pre_step(std::uint64_t step) override { return inner_.pre_step(step); }
    MaybeError step() override {
        const Clock::time_point t0 = Clock::now();
        MaybeError error = inner_.step();
        in_step += seconds_between(t0, Clock::now());
        return error;
    }
    MaybeError check_step(std::uint64_t step) override {
        const Clock::time_point t0 = Clock::now();
        MaybeError error = inner_.check_step(step);
        in_check += seconds_between(t0, Clock::now());
        return error;
    }
    MaybeError final_check(std::uint64_t iterations) override { return inner_.final_check(iterations); }
    std::uint64_t updates_per_iteration() const override { return inner_.updates_per_iteration(); }

    double in_step = 0.0;
    double in_check = 0.0;

private:
    Workload& inner_;
};

// The worker's own timed loop for a single reporting worker, its progress
// line drawn under a console lock into a null stream, timed around step()
// and check_step().
OverheadRow measure_loop(Isa isa, std::uint64_t size) {
    OverheadRow row{isa, size, 0, 0.0, 0.0, 0.0, {}};
    run_pinned(1, [&](std::uint32_t index, Barrier& start) {
        std::unique_ptr<Workload> workload;
        const MaybeError error = prepare(workload, isa, size, index);
        start.arrive_and_wait();
        if (error) {
            row.error = one_line(error.text());
            return;
        }
        TimedWorkload timed(*workload);
        NullBuffer null_buffer;
        std::streambuf* const console = std::cout.rdbuf(&null_buffer);
        std::mutex console_lock;
        std::stop_source stop;
        ProgressBoard board(1);
        const TimerInfo coarse_timer = describe_coarse_timer();
        const auto duration_s = static_cast<std::uint32_t>(std::ceil(settings().seconds * 1.5));

        const Clock::time_point t0 = Clock::now();
        const TimedLoop loop = run_timed_loop(timed, coarse_timer, duration_s, board[0], stop.get_token(),
                                              [&](std::int64_t elapsed_s) {
                                                  const std::lock_guard lock(console_lock);
                                                  print_progress(elapsed_s, duration_s, board);
                                              });
        const double total = seconds_between(t0, Clock::now());
        std::cout.rdbuf(console);
        if (loop.end != LoopEnd::duration) {
            row.error = one_line(loop.error.text());
            return;
        }
        const auto iterations = static_cast<double>(loop.iterations);
        row.iterations = loop.iterations;
        row.iteration_s = total / iterations;
        row.step_s = timed.in_step / iterations;
        row.check_s = timed.in_check / iterations;
    });
    return row;
}

void step_benchmark(benchmark::State& state, Isa isa, std::uint64_t size, std::uint32_t workers) {
    StepRow row;
    for (auto _ : state) {
        row = measure_steps(isa, size, workers);
        state.SetIterationTime(settings().seconds);
    }
    if (!row.error.empty()) state.SkipWithError(row.error.c_str());
    state.counters["MGups"] = row.mgups;
    state.counters["pct_ceiling"] = row.ceiling > 0.0 ? 100.0 * row.mgups / row.ceiling : 0.0;
    step_rows().push_back(row);
}

// The variant with the best single-worker rate at the largest size
// measured, unless --schedule-isa named one; sse2 when there is none.
Isa best_variant() {
    if (settings().schedule_isa) return *settings().schedule_isa;
    Isa best = Isa::sse2;
    double best_rate = -1.0;
    for (const StepRow& row : step_rows()) {
        if (row.workers == 1 && row.size == 192 && row.mgups > best_rate) {
            best = row.isa;
            best_rate = row.mgups;
        }
    }
    return best;
}

double median(std::vector<double> values) {
    if (values.empty()) return 0.0;
    std::sort(values.begin(), values.end());
    const std::size_t mid = values.size() / 2;
    return values.size() % 2 == 1 ? values[mid] : 0.5 * (values[mid - 1] + values[mid]);
}

// One round of the schedule comparison: the workers allocate and initialise
// one workload each (which calibrates, as in a run), then step it for a span
// under every candidate forced and under the workload's own pick, in the
// order that starts at entry `first`. Every entry runs on the same grids, in
// the same few seconds, so what differs between them is the schedule and not
// the pages the grids got or what the host did meanwhile. The workers
// measure the round's ceiling just before and right after, with no grids. rates[entry] is the
// entry's MGups, summed over the workers (entry schedule_count: the pick).
struct ScheduleRound {
    double rates[schedule_count + 1] = {};
    double ceiling = 0.0;  // MGups; 0 when it could not be measured
    std::vector<Schedule> picks;
    std::string error;
};

ScheduleRound measure_schedule_round(Isa isa, std::uint64_t size, std::uint32_t workers, std::uint32_t first) {
    constexpr std::uint32_t entries = schedule_count + 1;
    const double span = settings().seconds / 2.0;
    std::vector<double> rates(static_cast<std::size_t>(entries) * workers, 0.0);
    std::vector<std::string> errors(workers);
    std::vector<Schedule> picks(workers, Schedule::plain);
    RowCeiling row_ceiling(workers);
    run_pinned(workers, [&](std::uint32_t index, Barrier& start) {
        row_ceiling.measure_before(index, start);
        std::unique_ptr<Workload> workload;
        MaybeError error = allocate_workload(workload, isa, size, index);
        start.arrive_and_wait();
        if (!error) error = workload->initialize();
        Schedule* schedule = nullptr;
        if (!error) {
            schedule = variant_functions(isa).probe_workload(*workload).schedule;
            picks[index] = *schedule;
        }
        std::uint64_t iterations = 0;
        for (std::uint32_t k = 0; k < entries; ++k) {
            const std::uint32_t entry = (first + k) % entries;
            start.arrive_and_wait();
            if (error) continue;  // still at every start line, so the others are not held up
            *schedule = entry < schedule_count ? static_cast<Schedule>(entry) : picks[index];
            const std::uint64_t before = iterations;
            const Clock::time_point t0 = Clock::now();
            double elapsed = 0.0;
            do {
                error = workload->step();
                if (!error) error = workload->check_step(iterations);
                if (error) break;
                ++iterations;
                elapsed = seconds_between(t0, Clock::now());
            } while (elapsed < span);
            if (!error) {
                rates[static_cast<std::size_t>(entry) * workers + index] =
                    static_cast<double>(workload->updates_per_iteration() * (iterations - before)) / elapsed / 1e6;
            }
        }
        if (error) errors[index] = one_line(error.text());
        workload.reset();
        start.arrive_and_wait();  // every grid is freed before the arrays are allocated
        row_ceiling.measure_after(index, start);
    });
    ScheduleRound round;
    for (std::uint32_t entry = 0; entry < entries; ++entry) {
        for (std::uint32_t i = 0; i < workers; ++i) round.rates[entry] += rates[static_cast<std::size_t>(entry) * workers + i];
    }
    for (const std::string& error : errors) {
        if (round.error.empty() && !error.empty()) round.error = error;
    }
    round.picks = picks;
    round.ceiling = row_ceiling.mgups();
    return round;
}

// --rounds rounds of measure_schedule_round, the first entry rotating.
void schedule_benchmark(benchmark::State& state, std::uint64_t size, std::uint32_t workers) {
    const Isa isa = best_variant();
    ScheduleRow row;
    row.isa = isa;
    row.size = size;
    row.workers = workers;
    const std::uint32_t entries = schedule_count + 1;
    std::vector<std::vector<double>> rates(entries);
    std::vector<std::vector<double>> shares(entries);
    for (auto _ : state) {
        for (std::uint32_t r = 0; r < settings().rounds && row.error.empty(); ++r) {
            const ScheduleRound round = measure_schedule_round(isa, size, workers, r % entries);
            if (!round.error.empty()) {
                row.error = round.error;
                break;
            }
            for (std::uint32_t entry = 0; entry < entries; ++entry) {
                rates[entry].push_back(round.rates[entry]);
                shares[entry].push_back(round.ceiling > 0.0 ? round.rates[entry] / round.ceiling : 0.0);
            }
            row.picks.insert(row.picks.end(), round.picks.begin(), round.picks.end());
        }
        state.SetIterationTime(settings().seconds / 2.0 * settings().rounds * entries);
    }
    if (!row.error.empty()) state.SkipWithError(row.error.c_str());
    for (std::uint32_t s = 0; s < schedule_count; ++s) {
        row.candidate[s] = median(rates[s]);
        row.candidate_share[s] = median(shares[s]);
    }
    row.picked = median(rates[schedule_count]);
    row.picked_share = median(shares[schedule_count]);
    std::uint32_t best = 0;
    for (std::uint32_t s = 1; s < schedule_count; ++s) {
        if (row.candidate[s] > row.candidate[best]) best = s;
    }
    std::vector<double> vs_plain;
    std::vector<double> vs_best;
    for (std::size_t r = 0; r < rates[schedule_count].size(); ++r) {
        const double picked = rates[schedule_count][r];
        if (rates[0][r] > 0.0) vs_plain.push_back(picked / rates[0][r]);
        if (rates[best][r] > 0.0) vs_best.push_back(picked / rates[best][r]);
    }
    row.picked_vs_plain = median(vs_plain);
    row.picked_vs_best = median(vs_best);
    state.counters["picked_MGups"] = row.picked;
    state.counters["plain_MGups"] = row.candidate[0];
    schedule_rows().push_back(row);
}

void loop_benchmark(benchmark::State& state, std::uint64_t size) {
    const Isa best = best_variant();
    OverheadRow row;
    for (auto _ : state) {
        row = measure_loop(best, size);
        state.SetIterationTime(row.iteration_s * static_cast<double>(row.iterations));
    }
    if (!row.error.empty()) state.SkipWithError(row.error.c_str());
    const double outside = row.iteration_s - row.step_s;
    state.counters["outside_pct"] = row.iteration_s > 0.0 ? 100.0 * outside / row.iteration_s : 0.0;
    state.counters["check_pct"] = row.iteration_s > 0.0 ? 100.0 * row.check_s / row.iteration_s : 0.0;
    overhead_rows().push_back(row);
}

void measure_ceiling() {
    const int passes = 4;
    const int rounds = 3;
    ceiling().one_worker_mib = array_mib(1);
    ceiling().all_workers_mib = array_mib(all_workers());
    // One x-plane of a size-192 grid, in doubles.
    constexpr std::size_t plane = std::size_t{194} * 194 * (sizeof(Cell) / sizeof(double));
    const BandwidthResult one = in_place_bandwidth(1, mib_elements(ceiling().one_worker_mib), passes, rounds);
    const BandwidthResult one_shifted =
        in_place_bandwidth(1, mib_elements(ceiling().one_worker_mib), passes, rounds, plane);
    const BandwidthResult all =
        in_place_bandwidth(all_workers(), mib_elements(ceiling().all_workers_mib), passes, rounds);
    const BandwidthResult all_shifted =
        in_place_bandwidth(all_workers(), mib_elements(ceiling().all_workers_mib), passes, rounds, plane);
    ceiling().one_worker_bandwidth = one.bytes_per_second;
    ceiling().all_workers_bandwidth = all.bytes_per_second;
    ceiling().one_worker_shifted = one_shifted.bytes_per_second;
    ceiling().all_workers_shifted = all_shifted.bytes_per_second;
    ceiling().one_worker = one.bytes_per_second / bytes_per_update / 1e6;
    ceiling().all_workers = all.bytes_per_second / bytes_per_update / 1e6;
}

// The one-minute load average, or a negative value when unknown.
double load_average() {
    double value = -1.0;
    return getloadavg(&value, 1) == 1 ? value : -1.0;
}

double& load_at_start() {
    static double value = -1.0;
    return value;
}

void print_summary() {
    const std::uint32_t all = all_workers();
    std::printf("\nload average (1 min) at the start %.2f, at the end %.2f, on %u cores: other work on the\n"
                "machine lowers the figures, the all-worker ones most\n",
                load_at_start(), load_average(), all);
    std::printf("\nmemory ceiling at the start: in-place update a[i] += s * b[i], two arrays per worker, best\n"
                "of 3 rounds, %u bytes per update\n",
                static_cast<unsigned>(bytes_per_update));
    std::printf("  %2u worker  %8.2f GB/s  -> %8.1f MGups   (2 x %zu MiB)\n", 1u,
                ceiling().one_worker_bandwidth / 1e9, ceiling().one_worker, ceiling().one_worker_mib);
    std::printf("  %2u workers %8.2f GB/s  -> %8.1f MGups   (2 x %zu MiB each)\n", all,
                ceiling().all_workers_bandwidth / 1e9, ceiling().all_workers, ceiling().all_workers_mib);
    const auto percent = [](double part, double whole) { return whole > 0.0 ? 100.0 * part / whole : 0.0; };
    std::printf("the same update reading b twice, one size-192 plane apart, as a sweep reads the other field\n"
                "(same memory traffic, a third stream into the first level cache; right after each ceiling):\n");
    std::printf("  %2u worker  %8.2f GB/s  = %5.1f%% of the ceiling\n", 1u, ceiling().one_worker_shifted / 1e9,
                percent(ceiling().one_worker_shifted, ceiling().one_worker_bandwidth));
    std::printf("  %2u workers %8.2f GB/s  = %5.1f%% of the ceiling\n", all, ceiling().all_workers_shifted / 1e9,
                percent(ceiling().all_workers_shifted, ceiling().all_workers_bandwidth));
    std::printf("\nevery variant with the schedule its workloads picked (worker order); each row's ceiling\n"
                "is measured by its workers just before and right after it (2 x %zu MiB each, best of\n"
                "%d rounds each time, the better of the two)\n",
                std::min(row_ceiling_mib, ceiling().all_workers_mib), row_ceiling_rounds);
    std::printf("%-12s %5s %8s %10s %10s %10s  %-18s %s\n", "variant", "size", "workers", "MGups", "ceiling",
                "% ceiling", "schedule", "calibration");
    for (const StepRow& row : step_rows()) {
        const double limit = row.ceiling;
        if (!row.error.empty()) {
            std::printf("%-12s %5llu %8u  %s\n", std::string(isa_name(row.isa)).c_str(),
                        static_cast<unsigned long long>(row.size), row.workers, row.error.c_str());
            continue;
        }
        std::printf("%-12s %5llu %8u %10.1f %10.1f %9.1f%%  %-18s %.2f s\n", std::string(isa_name(row.isa)).c_str(),
                    static_cast<unsigned long long>(row.size), row.workers, row.mgups, limit,
                    limit > 0.0 ? 100.0 * row.mgups / limit : 0.0, schedules_text(row.schedules).c_str(),
                    row.calibration_s);
    }

    if (!schedule_rows().empty()) {
        std::printf("\nschedules of %s, MGups, median of %u rounds (median share of the round's ceiling); each\n"
                    "round steps one set of grids under every schedule in turn; \"picked\" is what the\n"
                    "workloads chose themselves, \"plain\" the baseline (storage order, no grouping, no software\n"
                    "prefetch); \"vs plain\" and \"vs best\" are medians of the pick's rate against plain's and\n"
                    "against the best candidate's (highest median) in the same round\n",
                    std::string(isa_name(schedule_rows().front().isa)).c_str(), settings().rounds);
        std::printf("%5s %8s", "size", "workers");
        for (std::uint32_t s = 0; s < schedule_count; ++s) {
            std::printf(" %18s", schedule_name(static_cast<Schedule>(s)));
        }
        std::printf(" %18s %9s %9s  %s\n", "picked", "vs plain", "vs best", "picks");
        for (const ScheduleRow& row : schedule_rows()) {
            std::printf("%5llu %8u", static_cast<unsigned long long>(row.size), row.workers);
            if (!row.error.empty()) {
                std::printf("  %s\n", row.error.c_str());
                continue;
            }
            const auto cell = [&](double mgups, double share) {
                char text[32];
                std::snprintf(text, sizeof(text), "%.1f (%.0f%%)", mgups, 100.0 * share);
                std::printf(" %18s", text);
            };
            for (std::uint32_t s = 0; s < schedule_count; ++s) cell(row.candidate[s], row.candidate_share[s]);
            cell(row.picked, row.picked_share);
            std::printf(" %+8.1f%% %+8.1f%%  ", 100.0 * (row.picked_vs_plain - 1.0), 100.0 * (row.picked_vs_best - 1.0));
            // How often each schedule was picked, over all workers and rounds.
            for (std::uint32_t s = 0; s < schedule_count; ++s) {
                const auto count = std::count(row.picks.begin(), row.picks.end(), static_cast<Schedule>(s));
                if (count > 0) std::printf("%s x%lld ", schedule_name(static_cast<Schedule>(s)), static_cast<long long>(count));
            }
            std::printf("\n");
        }
    }

    if (!overhead_rows().empty()) {
        std::printf("\ntimed loop, one reporting worker: time per iteration and the share outside step()\n");
        std::printf("%-12s %5s %10s %12s %12s %12s %10s\n", "variant", "size", "iterations", "iteration",
                    "step()", "check_step", "outside");
        for (const OverheadRow& row : overhead_rows()) {
            if (!row.error.empty()) {
                std::printf("%-12s %5llu  %s\n", std::string(isa_name(row.isa)).c_str(),
                            static_cast<unsigned long long>(row.size), row.error.c_str());
                continue;
            }
            const double outside = row.iteration_s - row.step_s;
            std::printf("%-12s %5llu %10llu %10.3f ms %10.3f ms %10.3f ms %9.3f%%\n",
                        std::string(isa_name(row.isa)).c_str(), static_cast<unsigned long long>(row.size),
                        static_cast<unsigned long long>(row.iterations), row.iteration_s * 1e3, row.step_s * 1e3,
                        row.check_s * 1e3, row.iteration_s > 0.0 ? 100.0 * outside / row.iteration_s : 0.0);
        }
    }
    std::fflush(stdout);
}

// Takes this program's own options out of argv before Google Benchmark sees it.
bool take_options(int& argc, char** argv) {
    int kept = 1;
    for (int i = 1; i < argc; ++i) {
        const char* arg = argv[i];
        if (std::strncmp(arg, "--seconds=", 10) == 0) {
            settings().seconds = std::atof(arg + 10);
            if (!(settings().seconds > 0.0)) return false;
        } else if (std::strncmp(arg, "--rounds=", 9) == 0) {
            const long long rounds = std::atoll(arg + 9);
            if (rounds <= 0) return false;
            settings().rounds = static_cast<std::uint32_t>(rounds);
        } else if (std::strncmp(arg, "--schedule-isa=", 15) == 0) {
            settings().schedule_isa = parse_isa(arg + 15);
            if (!settings().schedule_isa || check_isa_support(arg + 15)) return false;
        } else if (std::strncmp(arg, "--bandwidth-mib=", 16) == 0) {
            const long long mib = std::atoll(arg + 16);
            if (mib <= 0) return false;
            settings().bandwidth_mib = static_cast<std::size_t>(mib);
        } else {
            argv[kept++] = argv[i];
        }
    }
    argc = kept;
    return true;
}

}  // namespace
}  // namespace nembo::bench

int main(int argc, char** argv) {
    using namespace nembo;
    using namespace nembo::bench;
    if (!take_options(argc, argv)) {
        std::fprintf(stderr,
                     "--seconds, --rounds and --bandwidth-mib need a positive number, --schedule-isa a variant\n"
                     "this processor runs\n");
        return 1;
    }
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;

    load_at_start() = load_average();
    std::printf("measuring the memory ceiling (1 and %u workers)...\n", all_workers());
    std::fflush(stdout);
    measure_ceiling();

    const std::uint32_t all = all_workers();
    std::vector<std::uint32_t> worker_counts{1};
    if (all > 1) worker_counts.push_back(all);
    for (const IsaVariant& variant : isa_variants) {
        const Isa isa = variant.isa;
        if (MaybeError unsupported = check_isa_support(variant.name)) {
            std::printf("skipping %s: %s\n", std::string(variant.name).c_str(),
                        one_line(unsupported.text()).c_str());
            continue;
        }
        for (std::uint64_t size : grid_sizes) {
            for (std::uint32_t workers : worker_counts) {
                const std::string name = "step/" + std::string(isa_name(isa)) + "/" + std::to_string(size) +
                                         "/workers:" + std::to_string(workers);
                benchmark::RegisterBenchmark(name.c_str(), step_benchmark, isa, size, workers)
                    ->Iterations(1)
                    ->UseManualTime()
                    ->Unit(benchmark::kMillisecond);
            }
        }
    }
    for (std::uint64_t size : schedule_sizes) {
        for (std::uint32_t workers : worker_counts) {
            const std::string name = "schedules/" + std::to_string(size) + "/workers:" + std::to_string(workers);
            benchmark::RegisterBenchmark(name.c_str(), schedule_benchmark, size, workers)
                ->Iterations(1)
                ->UseManualTime()
                ->Unit(benchmark::kMillisecond);
        }
    }
    for (std::uint64_t size : overhead_sizes) {
        const std::string name = "timed_loop/" + std::to_string(size);
        benchmark::RegisterBenchmark(name.c_str(), loop_benchmark, size)
            ->Iterations(1)
            ->UseManualTime()
            ->Unit(benchmark::kMillisecond);
    }
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    print_summary();
    return 0;
}
