#pragma once
// The one way this tool steps grids. measure() takes a variant, a size, a
// worker count and a page size; its workers, pinned as a run's "numa" plan
// pins them, measure both roofs of that page size, allocate and initialise
// one standing-wave workload each (which calibrates its schedule, as in a
// run), step those same grids through a list of spans, free them, and
// measure the roofs again. Each span steps under a schedule forced through
// the solver's use_schedule, or under the workload's own pick; one kind of
// span runs the product's own timed loop instead of a plain step loop.
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "bench/roofs.hpp"
#include "solver/isa.hpp"
#include "solver/schedule.hpp"

namespace nembo::bench {

struct Setup {
    Isa isa = Isa::sse2;
    std::uint64_t size = 0;
    std::uint32_t workers = 1;
    Pages pages = Pages::small;
};

struct Span {
    std::optional<Schedule> schedule;  // nullopt: the schedule each workload picked
    double seconds = 0.0;
    // Step through run_timed_loop (pre_step, step, check_step, the timer
    // reads, worker 0 drawing the progress line into a null stream) for
    // whole seconds, timing step() and check_step() inside it. Otherwise
    // step() and check_step() until `seconds` have passed.
    bool timed_loop = false;
};

struct SpanResult {
    double mgups = 0.0;  // summed over the workers
    // Timed loop only, worker 0's: iterations and the mean time per
    // iteration, in step() and in check_step().
    std::uint64_t iterations = 0;
    double iteration_s = 0.0;
    double step_s = 0.0;
    double check_s = 0.0;
};

struct Measurement {
    std::vector<SpanResult> spans;  // one per span given, in that order
    Roofs roofs;                    // the better of before and after, per roof
    std::vector<Schedule> picks;    // each worker's own pick
    double calibration_s = 0.0;     // the slowest worker's calibration
    std::string error;              // the first worker's failure, on one line; empty if none

    // A rate as a share of a roof; 0 when the roof was not measured.
    double share_of_in_place(double mgups) const;
    double share_of_shifted(double mgups) const;
};

// The roofs around each measurement: arrays of this many MiB per array and
// worker (or roof_mib, when that is smaller), best of this many rounds of
// this many passes.
inline constexpr std::size_t row_roof_mib = 256;
inline constexpr int row_roof_rounds = 2;
inline constexpr int row_roof_passes = 4;

Measurement measure(const Setup& setup, const std::vector<Span>& spans, std::size_t roof_mib);

// "groups" when every worker picked groups, else "groups/plain" and the
// like, in worker order without repeats.
std::string picks_text(const std::vector<Schedule>& picks);

}  // namespace nembo::bench
