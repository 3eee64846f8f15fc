// One instruction-set build's kernels for kernels_test: compiled once per row
// of cmake/isa-builds.cmake, with that row's flags and compiler, into the
// namespace NEMBO_VARIANT (nembo::test_<build>) over the row's kernel header
// NEMBO_KERNELS (see kernels.cmake).
#include NEMBO_KERNELS
#include "tests/solver/kernels_shapes.hpp"

namespace nembo::NEMBO_VARIANT {

extern const kernels_test::KernelSweeps kernel_sweeps;
const kernels_test::KernelSweeps kernel_sweeps = {&sweep_h, &sweep_e};

}  // namespace nembo::NEMBO_VARIANT
