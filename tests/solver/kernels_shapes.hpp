#pragma once
// The kernel builds under test, each compiled in its own translation unit
// (kernels_build.cpp) with its instruction-set flags and exposed here through
// plain function pointers, so that the test bodies themselves stay baseline
// code.
#include <cstdint>

#include "solver/grid.hpp"

namespace nembo::kernels_test {

using SweepH = bool (*)(Cell* h, std::uint64_t h_edge, const Cell* e, std::uint64_t e_edge,
                        double coef);
using SweepE = bool (*)(Cell* e, std::uint64_t e_edge, const Cell* h, std::uint64_t h_edge,
                        double coef);

struct KernelSweeps {
    SweepH sweep_h;
    SweepE sweep_e;
};

}  // namespace nembo::kernels_test
