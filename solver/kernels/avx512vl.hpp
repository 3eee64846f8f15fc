#pragma once
// Field update kernels for AVX-512F + AVX-512VL (also the avx10-2-256 build):
// one whole cell per 256-bit EVEX vector, rearranged with two-source
// permutations.
//
// Include only from a translation unit built for this instruction set, with
// NEMBO_VARIANT naming that build's namespace. Everything here has internal
// linkage so that no copy can be merged into baseline code.
#include <immintrin.h>

#include <cstdint>

#include "solver/grid.hpp"
#include "solver/kernels/prefetch.hpp"

#ifndef NEMBO_VARIANT
#error "NEMBO_VARIANT must name the namespace of this instruction-set build"
#endif

namespace nembo::NEMBO_VARIANT {
namespace {

// The fused operations come in their EVEX forms (AVX-512VL), which carry a
// mask; all four lanes are computed.
constexpr __mmask8 all_lanes = 0xF;

inline __m256d load_cell(const Cell* cell) { return _mm256_loadu_pd(&cell->x); }
inline void store_cell(Cell* cell, __m256d v) { _mm256_storeu_pd(&cell->x, v); }

// Curl of one cell from its whole-cell differences along x, y and z
// (indices 0-3 name lanes of the first permutation source, 4-7 the second):
//   B = permute((dY.x, dZ.y, dZ.z, dZ.pad), (1, 6, 0, 3), dX) = (dZ.y, dX.z, dY.x, dZ.pad)
//   A = permute((dX.y, dY.y, dY.z, dY.pad), (2, 4, 0, 3), dZ) = (dY.z, dZ.x, dX.y, dY.pad)
// curl = A - B, the same lanes as the 256-bit FMA kernel.
inline __m256d avx512vl_curl(__m256d dx, __m256d dy, __m256d dz) {
    const __m256i index_b = _mm256_set_epi64x(3, 0, 6, 1);
    const __m256i index_a = _mm256_set_epi64x(3, 0, 4, 2);
    const __m256d b = _mm256_permutex2var_pd(_mm256_blend_pd(dz, dy, 0x1), index_b, dx);
    const __m256d dx_swapped = _mm256_permute_pd(dx, 0x5);  // (x.y, x.x, x.pad, x.z)
    const __m256d a = _mm256_permutex2var_pd(_mm256_blend_pd(dy, dx_swapped, 0x1), index_a, dz);
    return _mm256_sub_pd(a, b);
}

// H -= c * curl(E) at one cell with forward differences of E; `ec` is E cell
// (x, y, z), `sx` and `sy` the E strides along x and y.
[[gnu::always_inline]] inline void h_cell(Cell* hc, const Cell* ec, std::uint64_t sx,
                                          std::uint64_t sy, __m256d c) {
    const __m256d e0 = load_cell(ec);
    const __m256d dx = _mm256_sub_pd(load_cell(ec + sx), e0);
    const __m256d dy = _mm256_sub_pd(load_cell(ec + sy), e0);
    const __m256d dz = _mm256_sub_pd(load_cell(ec + 1), e0);
    const __m256d curl = avx512vl_curl(dx, dy, dz);
    store_cell(hc, _mm256_maskz_fnmadd_pd(all_lanes, c, curl, load_cell(hc)));
}

// E += c * curl(H) at one cell with backward differences of H; `hc` is H cell
// (x, y, z), `sx` and `sy` the H strides along x and y.
[[gnu::always_inline]] inline void e_cell(Cell* ec, const Cell* hc, std::uint64_t sx,
                                          std::uint64_t sy, __m256d c) {
    const __m256d h0 = load_cell(hc);
    const __m256d dx = _mm256_sub_pd(h0, load_cell(hc - sx));
    const __m256d dy = _mm256_sub_pd(h0, load_cell(hc - sy));
    const __m256d dz = _mm256_sub_pd(h0, load_cell(hc - 1));
    const __m256d curl = avx512vl_curl(dx, dy, dz);
    store_cell(ec, _mm256_maskz_fmadd_pd(all_lanes, c, curl, load_cell(ec)));
}

inline __m256d broadcast_coef(double coef) { return _mm256_set1_pd(coef); }

}  // namespace
}  // namespace nembo::NEMBO_VARIANT

#include "solver/kernels/one_cell_sweeps.hpp"
