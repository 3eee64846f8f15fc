#include "bench/engine.hpp"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <iostream>
#include <memory>
#include <mutex>
#include <stop_token>
#include <streambuf>

#include "app/run.hpp"
#include "app/timed_loop.hpp"
#include "bench/pinned_workers.hpp"
#include "platform/timer.hpp"
#include "solver/grid.hpp"
#include "solver/variants.hpp"

namespace nembo::bench {

namespace {

using Clock = std::chrono::steady_clock;

double seconds_since(Clock::time_point from) { return std::chrono::duration<double>(Clock::now() - from).count(); }

// Failure texts may span lines; a table cell wants one.
std::string one_line(std::string text) {
    std::replace(text.begin(), text.end(), '\n', ' ');
    const auto first = text.find_first_not_of(' ');
    return first == std::string::npos ? std::string() : text.substr(first);
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
        return timed(in_step, [&] { return inner_.step(); });
    }
    MaybeError check_step(std::uint64_t step) override {
        return timed(in_check, [&] { return inner_.check_step(step); });
    }
    MaybeError final_check(std::uint64_t iterations) override { return inner_.final_check(iterations); }
    std::uint64_t updates_per_iteration() const override { return inner_.updates_per_iteration(); }

    double in_step = 0.0;
    double in_check = 0.0;

private:
    template <typename Call>
    static MaybeError timed(double& total, Call call) {
        const Clock::time_point t0 = Clock::now();
        MaybeError error = call();
        total += seconds_since(t0);
        return error;
    }
    Workload& inner_;
};

// step() and check_step() until the span has passed, ending at the first
// iteration boundary after it.
MaybeError step_for(Workload& workload, double seconds, std::uint64_t& iterations, SpanResult& result) {
    const std::uint64_t before = iterations;
    const Clock::time_point t0 = Clock::now();
    double elapsed = 0.0;
    do {
        MaybeError error = workload.step();
        if (!error) error = workload.check_step(iterations);
        if (error) return error;
        ++iterations;
        elapsed = seconds_since(t0);
    } while (elapsed < seconds);
    result.mgups = static_cast<double>(workload.updates_per_iteration() * (iterations - before)) / elapsed / 1e6;
    return MaybeError();
}

// The worker's own timed loop, as a run's worker `index` runs it; worker 0
// reports, drawing its progress line under a lock into a null stream.
MaybeError timed_loop_for(Workload& workload, std::uint32_t index, double seconds, SpanResult& result) {
    TimedWorkload timed(workload);
    std::mutex console_lock;
    std::stop_source stop;
    ProgressBoard board(1);
    const TimerInfo coarse_timer = describe_coarse_timer();
    const auto duration_s = static_cast<std::uint32_t>(std::ceil(seconds));
    const Clock::time_point t0 = Clock::now();
    TimedLoop loop =
        run_timed_loop(timed, coarse_timer, duration_s, board[0], stop.get_token(), [&](std::int64_t elapsed_s) {
            if (index != 0) return;
            const std::lock_guard lock(console_lock);
            print_progress(elapsed_s, duration_s, board);
        });
    const double total = seconds_since(t0);
    if (loop.end != LoopEnd::duration) return std::move(loop.error);
    const auto iterations = static_cast<double>(loop.iterations);
    result.mgups = static_cast<double>(workload.updates_per_iteration() * loop.iterations) / total / 1e6;
    result.iterations = loop.iterations;
    result.iteration_s = total / iterations;
    result.step_s = timed.in_step / iterations;
    result.check_s = timed.in_check / iterations;
    return MaybeError();
}

}  // namespace

double Measurement::share_of_in_place(double mgups) const {
    return roofs.measured && roofs.in_place > 0.0 ? mgups / roofs.in_place_mgups() : 0.0;
}

double Measurement::share_of_shifted(double mgups) const {
    return roofs.measured && roofs.shifted > 0.0 ? mgups / roofs.shifted_mgups() : 0.0;
}

Measurement measure(const Setup& setup, const std::vector<Span>& spans, std::size_t roof_mib) {
    const std::uint32_t workers = setup.workers;
    const VariantFunctions& build = variant_functions(setup.isa);
    const std::size_t mib = std::min(row_roof_mib, roof_mib);
    RoofRounds roofs_before(workers, row_roof_rounds, row_roof_passes, mib, setup.pages);
    RoofRounds roofs_after(workers, row_roof_rounds, row_roof_passes, mib, setup.pages);
    // [span * workers + index]
    std::vector<SpanResult> results(spans.size() * workers);
    std::vector<std::string> errors(workers);
    std::vector<double> calibration_s(workers, 0.0);
    Measurement m;
    m.picks.assign(workers, Schedule::plain);

    // The timed loop's progress line goes nowhere while it runs.
    NullBuffer null_buffer;
    std::streambuf* const console = std::cout.rdbuf(&null_buffer);
    run_pinned(workers, [&](std::uint32_t index, Barrier& start) {
        roofs_before.run_worker(index, start);
        {
            // Grids allocated on the worker's own thread; every worker then
            // passes every start line, whatever became of its workload.
            const bool large_pages = setup.pages == Pages::large;
            std::unique_ptr<Workload> workload = create_workload("standing_wave", isa_name(setup.isa), index);
            MaybeError error = workload ? workload->allocate(GridParams{large_pages, setup.size, 0.01})
                                        : MaybeError("no standing_wave workload for this variant");
            // The workloads initialise together, so each calibrates while the
            // others do, as in a run.
            start.arrive_and_wait();
            if (!error) error = workload->initialize();
            if (!error) {
                m.picks[index] = build.stepping_schedule(*workload);
                calibration_s[index] = build.schedule_calibration(*workload).spent_s;
            }
            std::uint64_t iterations = 0;
            for (std::size_t s = 0; s < spans.size(); ++s) {
                start.arrive_and_wait();
                if (error) continue;
                const Span& span = spans[s];
                build.use_schedule(*workload, span.schedule.value_or(m.picks[index]));
                SpanResult& result = results[s * workers + index];
                error = span.timed_loop ? timed_loop_for(*workload, index, span.seconds, result)
                                        : step_for(*workload, span.seconds, iterations, result);
            }
            if (error) errors[index] = one_line(error.text());
        }
        start.arrive_and_wait();  // every grid is freed before the arrays are mapped
        roofs_after.run_worker(index, start);
    });
    std::cout.rdbuf(console);

    m.roofs = better(roofs_before.result(), roofs_after.result());
    m.spans.resize(spans.size());
    for (std::size_t s = 0; s < spans.size(); ++s) {
        m.spans[s] = results[s * workers];
        for (std::uint32_t i = 1; i < workers; ++i) m.spans[s].mgups += results[s * workers + i].mgups;
    }
    m.calibration_s = *std::max_element(calibration_s.begin(), calibration_s.end());
    for (const std::string& error : errors) {
        if (m.error.empty()) m.error = error;
    }
    return m;
}

std::string picks_text(const std::vector<Schedule>& picks) {
    std::string text;
    std::vector<Schedule> seen;
    for (Schedule s : picks) {
        if (std::find(seen.begin(), seen.end(), s) != seen.end()) continue;
        seen.push_back(s);
        if (!text.empty()) text += "/";
        text += schedule_name(s);
    }
    return text;
}

}  // namespace nembo::bench
