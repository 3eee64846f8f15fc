// The fma kernels, built with -mavx2 -mfma (see kernels.cmake).
#include "solver/kernels/fma.hpp"
#include "tests/solver/kernels_shapes.hpp"

namespace nembo::kernels_test {
namespace {

bool supported() {
    __builtin_cpu_init();
    return __builtin_cpu_supports("avx2") && __builtin_cpu_supports("fma");
}

}  // namespace

const KernelShape fma_shape = {"fma", &supported, &nembo::NEMBO_VARIANT::sweep_h,
                               &nembo::NEMBO_VARIANT::sweep_e};

}  // namespace nembo::kernels_test
