#pragma once
// The order in which a sweep visits its cells. Every order gives every cell
// the same result (a sweep reads only the other field); what differs between
// processors is how well an order keeps the memory busy. So the solver has a
// few candidate schedules and each workload times them on its own grid at the
// end of its initialisation, then keeps the fastest (see choose_schedule).
//
// The schedules are one table, schedule_table: the calibration, the names,
// the tests and the benchmark read it, and the kernels' dispatch
// (with_schedule in solver/kernels/schedules.hpp) does not compile unless
// its cases are the table's schedules.
//
// This header holds plain data only, so the instruction-set builds may
// include it; the functions are baseline code in schedule.cpp.
#include <cstdint>

namespace nembo {

enum class Schedule : std::uint32_t {
    // storage order, plane by plane, no software prefetch
    plain,
    // plane by plane, with a software prefetch of both streams ahead
    prefetch,
    // four x-planes per pass of the y and z loops, so that the plane of the
    // other field that two neighbouring planes share is read twice within one
    // row instead of a whole plane apart
    groups,
    // four-plane groups with a software prefetch of every stream into the
    // first level cache
    groups_prefetch,
    // four-plane groups with a software prefetch of every stream's lines,
    // further ahead, into the second level cache only
    groups_l2_prefetch,
};

struct ScheduleRow {
    Schedule schedule;
    const char* name;
};

// The schedules in the order of their enumerators, which is the order in
// which the calibration times them and the benchmark lists them. Adding a
// schedule is a new enumerator, its row here and its case in with_schedule
// (solver/kernels/schedules.hpp).
inline constexpr ScheduleRow schedule_table[] = {
    {Schedule::plain, "plain"},
    {Schedule::prefetch, "prefetch"},
    {Schedule::groups, "groups"},
    {Schedule::groups_prefetch, "groups+prefetch"},
    {Schedule::groups_l2_prefetch, "groups+l2prefetch"},
};
inline constexpr std::uint32_t schedule_count = sizeof(schedule_table) / sizeof(schedule_table[0]);

// Row i holds the enumerator of value i, so an enumerator is its row's index,
// and the last row holds the last enumerator (named here: a new last one
// takes its place): each enumerator once, in order.
constexpr bool schedule_rows_follow_the_enumeration() {
    for (std::uint32_t i = 0; i < schedule_count; ++i) {
        if (schedule_table[i].schedule != static_cast<Schedule>(i)) return false;
    }
    return schedule_table[schedule_count - 1].schedule == Schedule::groups_l2_prefetch;
}
static_assert(schedule_rows_follow_the_enumeration(), "one row per Schedule enumerator, in their order");

// The schedule's name from its row; "unknown" for a value that is no
// enumerator (never another schedule's name).
const char* schedule_name(Schedule schedule);

// How the calibration went: each candidate's median over the rounds of its
// time relative to the mean of its round (1.0 is average, lower is faster),
// the one kept, and the time the whole calibration took.
struct ScheduleChoice {
    Schedule picked = Schedule::plain;
    std::uint32_t rounds = 0;
    double relative[schedule_count] = {};
    double spent_s = 0.0;
};

// The calibration's bounds: rounds of every candidate until budget_s has
// been spent, at least min_rounds and at most max_rounds of them. Running
// for a set time rather than a set count keeps the workers, which initialise
// together, measuring while the others do too. Each measurement covers one H
// and one E sweep over a slab of whole planes of at least slab_cells cells
// (the whole grid when it is smaller).
inline constexpr std::uint32_t calibration_min_rounds = 3;
inline constexpr std::uint32_t calibration_max_rounds = 15;
inline constexpr double calibration_budget_s = 0.5;
inline constexpr std::uint64_t calibration_slab_cells = std::uint64_t{3} << 19;

// Planes in the calibration slab of a grid with this edge: enough whole
// x-planes for slab_cells, a multiple of four, at most the planes that both
// sweeps update (edge - 3); 0 for an edge below 4.
std::uint64_t calibration_planes(std::uint64_t edge);

// times[r * schedule_count + s] is round r's time for schedule s (at most
// calibration_max_rounds rounds are read). Each time is divided by the mean
// of its round, so that whatever slowed a whole round (another program, the
// other workers' phases) cancels out; a schedule's figure is the median of
// these over the rounds, so that a few disturbed measurements do not decide.
// The lowest figure wins; ties go to the earlier schedule, so plain wins when
// nothing is faster. With no rounds, plain.
ScheduleChoice choose_schedule(const double* times, std::uint32_t rounds);

// A monotonic clock in seconds, for the calibration in the solver builds.
double schedule_clock_seconds();

}  // namespace nembo
