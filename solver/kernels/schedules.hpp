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

// Calls sweep.template operator()<Group, F>() for schedule S, which must
// have its row in schedule_table.
template <Schedule S, std::uint64_t Group, Fetch F, class Sweep>
[[gnu::always_inline]] inline bool sweep_as(const Sweep& sweep) {
    constexpr auto row = static_cast<std::uint32_t>(S);
    static_assert(row < schedule_count && schedule_table[row].schedule == S,
                  "a schedule of with_schedule has no row in schedule_table");
    return sweep.template operator()<Group, F>();
}

// Calls sweep.template operator()<Group, F>() with the plane group and the
// software prefetch of `schedule`: the one place where a schedule's
// parameters are written down. The compiler holds these cases to the table:
// a switch that misses an enumerator is an error here, each case's schedule
// must have its row (sweep_as), and the table's rows are the enumerators
// (schedule.hpp). Only schedules of the table may come here; sweep_h and
// sweep_e refuse any other value.
//
// Keep this shape, plain as the fall-through: it is the code the kernels were
// measured with. With GCC 12 a return for plain and another after the
// switch, or a chain of ifs over the table's rows, gives one inner loop of
// the fma build other registers and two more stack accesses.
#pragma GCC diagnostic push
#pragma GCC diagnostic error "-Wswitch"
template <class Sweep>
[[gnu::always_inline]] inline bool with_schedule(Schedule schedule, const Sweep& sweep) {
    switch (schedule) {
    case Schedule::plain:
        break;
    case Schedule::prefetch:
        return sweep_as<Schedule::prefetch, 1, Fetch::l1>(sweep);
    case Schedule::groups:
        return sweep_as<Schedule::groups, plane_group, Fetch::none>(sweep);
    case Schedule::groups_prefetch:
        return sweep_as<Schedule::groups_prefetch, plane_group, Fetch::l1>(sweep);
    case Schedule::groups_l2_prefetch:
        return sweep_as<Schedule::groups_l2_prefetch, plane_group, Fetch::l2>(sweep);
    }
    return sweep_as<Schedule::plain, 1, Fetch::none>(sweep);
}
#pragma GCC diagnostic pop

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
// end at N - 2 (false for N < 3, where the sweep does nothing, and for a
// schedule that has no row in schedule_table).
bool sweep_h(Cell* h, std::uint64_t h_edge, const Cell* e, std::uint64_t e_edge, double coef,
             Schedule schedule) {
    if (e_edge < 3 || static_cast<std::uint32_t>(schedule) >= schedule_count) return false;
    return sweep_h_planes(h, h_edge, e, e_edge, coef, schedule, 1, e_edge - 2);
}

// E += c * curl(H) over x, y, z in [2, N-2]; true when all three loop indices
// end at N - 1 (false for N < 3 and for a schedule in no row).
bool sweep_e(Cell* e, std::uint64_t e_edge, const Cell* h, std::uint64_t h_edge, double coef,
             Schedule schedule) {
    if (e_edge < 3 || static_cast<std::uint32_t>(schedule) >= schedule_count) return false;
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
