#pragma once
// The sweeps under each schedule, for every kernel shape: the shape's header
// defines the templates h_planes<Group, Fetch> and e_planes<Group, Fetch> (a
// slab of x-planes) and then includes this file.
#include <cstdint>

#include "solver/grid.hpp"
#include "solver/kernels/prefetch.hpp"
#include "solver/schedule.hpp"

#ifndef NEMBO_VARIANT
#error "NEMBO_VARIANT must name the namespace of this instruction-set build"
#endif

namespace nembo::NEMBO_VARIANT {
namespace {

// How a schedule sweeps: how many x-planes one pass of the y and z loops
// updates, and the software prefetch.
struct ScheduleShape {
    std::uint64_t group;
    Fetch fetch;
};

// Each schedule's shape: the one place where a schedule's parameters are
// written down. Evaluated only while compiling; a schedule without its case
// here has no planes per pass (group 0), which with_schedule refuses for
// every row of schedule_table.
consteval ScheduleShape shape_of(Schedule schedule) {
    switch (schedule) {
    case Schedule::plain:
        return {1, Fetch::none};
    case Schedule::prefetch:
        return {1, Fetch::l1};
    case Schedule::groups:
        return {plane_group, Fetch::none};
    case Schedule::groups_prefetch:
        return {plane_group, Fetch::l1};
    case Schedule::groups_l2_prefetch:
        return {plane_group, Fetch::l2};
    }
    return {0, Fetch::none};
}

// Calls sweep.template operator()<Group, F>() with the plane group and the
// software prefetch of `schedule`, trying the rows of schedule_table from
// `Row` on. A value that is in no row sweeps nothing and returns false, which
// the callers report as a failed sweep.
template <std::uint32_t Row = 0, class Sweep>
[[gnu::always_inline]] inline bool with_schedule(Schedule schedule, const Sweep& sweep) {
    if constexpr (Row < schedule_count) {
        constexpr ScheduleShape shape = shape_of(schedule_table[Row].schedule);
        static_assert(shape.group != 0, "a schedule of schedule_table has no case in shape_of");
        if (schedule == schedule_table[Row].schedule) return sweep.template operator()<shape.group, shape.fetch>();
        return with_schedule<Row + 1>(schedule, sweep);
    } else {
        return false;
    }
}

// The H sweep over the x-planes [x_begin, x_end), which must lie in [1, N-3].
bool sweep_h_planes(Cell* h, std::uint64_t h_edge, const Cell* e, std::uint64_t e_edge, double coef,
                    Schedule schedule, std::uint64_t x_begin, std::uint64_t x_end) {
    return with_schedule(schedule, [&]<std::uint64_t Group, Fetch F>() {
        return h_planes<Group, F>(h, h_edge, e, e_edge, coef, x_begin, x_end);
    });
}

// The E sweep over the x-planes [x_begin, x_end), which must lie in [2, N-2].
bool sweep_e_planes(Cell* e, std::uint64_t e_edge, const Cell* h, std::uint64_t h_edge, double coef,
                    Schedule schedule, std::uint64_t x_begin, std::uint64_t x_end) {
    return with_schedule(schedule, [&]<std::uint64_t Group, Fetch F>() {
        return e_planes<Group, F>(e, e_edge, h, h_edge, coef, x_begin, x_end);
    });
}

// H -= c * curl(E) over x, y, z in [1, N-3]; true when all three loop indices
// end at N - 2 (false for N < 3, where the sweep does nothing).
bool sweep_h(Cell* h, std::uint64_t h_edge, const Cell* e, std::uint64_t e_edge, double coef,
             Schedule schedule) {
    if (e_edge < 3) return false;
    return sweep_h_planes(h, h_edge, e, e_edge, coef, schedule, 1, e_edge - 2);
}

// E += c * curl(H) over x, y, z in [2, N-2]; true when all three loop indices
// end at N - 1 (false for N < 3).
bool sweep_e(Cell* e, std::uint64_t e_edge, const Cell* h, std::uint64_t h_edge, double coef,
             Schedule schedule) {
    if (e_edge < 3) return false;
    return sweep_e_planes(e, e_edge, h, h_edge, coef, schedule, 2, e_edge - 1);
}

// The sweeps under the four-plane schedule with prefetch, for the kernel
// tests, which take them as plain function pointers. The other schedules run
// the same cell updates in another order.
[[maybe_unused]] bool sweep_h(Cell* h, std::uint64_t h_edge, const Cell* e, std::uint64_t e_edge,
                             double coef) {
    return sweep_h(h, h_edge, e, e_edge, coef, Schedule::groups_prefetch);
}
[[maybe_unused]] bool sweep_e(Cell* e, std::uint64_t e_edge, const Cell* h, std::uint64_t h_edge,
                             double coef) {
    return sweep_e(e, e_edge, h, h_edge, coef, Schedule::groups_prefetch);
}

}  // namespace
}  // namespace nembo::NEMBO_VARIANT
