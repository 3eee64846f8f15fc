// The avx512vl kernels, built with -mavx512f -mavx512vl (see kernels.cmake).
#include "solver/kernels/avx512vl.hpp"
#include "tests/solver/kernels_shapes.hpp"

namespace nembo::kernels_test {
namespace {

bool supported() {
    __builtin_cpu_init();
    return __builtin_cpu_supports("avx512f") && __builtin_cpu_supports("avx512vl");
}

}  // namespace

const KernelShape avx512vl_shape = {"avx512vl", &supported, &nembo::NEMBO_VARIANT::sweep_h,
                                    &nembo::NEMBO_VARIANT::sweep_e};

}  // namespace nembo::kernels_test
