#pragma once
// The update equations written out plainly, one component at a time, in
// baseline code: the reference for every kernel build. The unfused builds
// round the product and the sum separately, the fused ones once.
#include <cstdint>

#include "solver/grid.hpp"

namespace nembo::solver_test {

enum class Rounding { separate, fused };

bool reference_sweep_h(Cell* h, std::uint64_t h_edge, const Cell* e, std::uint64_t e_edge, double coef,
                       Rounding rounding);
bool reference_sweep_e(Cell* e, std::uint64_t e_edge, const Cell* h, std::uint64_t h_edge, double coef,
                       Rounding rounding);

}  // namespace nembo::solver_test
