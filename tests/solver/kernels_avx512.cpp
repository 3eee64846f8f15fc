// The avx512 kernels, built with -mavx512f (see kernels.cmake).
#include "solver/kernels/avx512.hpp"
#include "tests/solver/kernels_shapes.hpp"

namespace nembo::kernels_test {
namespace {

bool supported() {
    __builtin_cpu_init();
    return __builtin_cpu_supports("avx512f");
}

}  // namespace

const KernelShape avx512_shape = {"avx512", &supported, &nembo::NEMBO_VARIANT::sweep_h,
                                  &nembo::NEMBO_VARIANT::sweep_e};

}  // namespace nembo::kernels_test
