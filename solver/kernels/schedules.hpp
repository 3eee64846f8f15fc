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

// The H sweep over the x-planes [x_begin, x_end), which must lie in [1, N-3].
bool sweep_h_planes(Cell* h, std::uint64_t h_edge, const Cell* e, std::uint64_t e_edge, double coef,
                    Schedule schedule, std::uint64_t x_begin, std::uint64_t x_end) {
    switch (schedule) {
    case Schedule::plain:
        break;
    case Schedule::prefetch:
        return h_planes<1, Fetch::l1>(h, h_edge, e, e_edge, coef, x_begin, x_end);
    case Schedule::groups:
        return h_planes<plane_group, Fetch::none>(h, h_edge, e, e_edge, coef, x_begin, x_end);
    case Schedule::groups_prefetch:
        return h_planes<plane_group, Fetch::l1>(h, h_edge, e, e_edge, coef, x_begin, x_end);
    case Schedule::groups_l2_prefetch:
        return h_planes<plane_group, Fetch::l2>(h, h_edge, e, e_edge, coef, x_begin, x_end);
    }
    return h_planes<1, Fetch::none>(h, h_edge, e, e_edge, coef, x_begin, x_end);
}

// The E sweep over the x-planes [x_begin, x_end), which must lie in [2, N-2].
bool sweep_e_planes(Cell* e, std::uint64_t e_edge, const Cell* h, std::uint64_t h_edge, double coef,
                    Schedule schedule, std::uint64_t x_begin, std::uint64_t x_end) {
    switch (schedule) {
    case Schedule::plain:
        break;
    case Schedule::prefetch:
        return e_planes<1, Fetch::l1>(e, e_edge, h, h_edge, coef, x_begin, x_end);
    case Schedule::groups:
        return e_planes<plane_group, Fetch::none>(e, e_edge, h, h_edge, coef, x_begin, x_end);
    case Schedule::groups_prefetch:
        return e_planes<plane_group, Fetch::l1>(e, e_edge, h, h_edge, coef, x_begin, x_end);
    case Schedule::groups_l2_prefetch:
        return e_planes<plane_group, Fetch::l2>(e, e_edge, h, h_edge, coef, x_begin, x_end);
    }
    return e_planes<1, Fetch::none>(e, e_edge, h, h_edge, coef, x_begin, x_end);
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
