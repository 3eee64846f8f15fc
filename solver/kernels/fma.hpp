#pragma once
// Field update kernels for AVX2 + FMA3: one whole cell per 256-bit vector.
// The same source is the fma-apx build (compiled with -mapxf).
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

inline __m256d load_cell(const Cell* cell) { return _mm256_loadu_pd(&cell->x); }
inline void store_cell(Cell* cell, __m256d v) { _mm256_storeu_pd(&cell->x, v); }

// Curl of one cell from its whole-cell differences along x, y and z:
//   A = (dY.z, dZ.x, dX.y, dY.pad), B = (dZ.y, dX.z, dY.x, dZ.pad), curl = A - B.
// Each source is permuted once so that the lanes A and B need from it sit
// where they are wanted; two blends per vector then collect them.
inline __m256d fma_curl(__m256d dx, __m256d dy, __m256d dz) {
    const __m256d py = _mm256_permute4x64_pd(dy, _MM_SHUFFLE(3, 0, 1, 2));  // (y.z, -, y.x, y.pad)
    const __m256d pz = _mm256_permute4x64_pd(dz, _MM_SHUFFLE(3, 2, 0, 1));  // (z.y, z.x, -, z.pad)
    const __m256d px = _mm256_permute4x64_pd(dx, _MM_SHUFFLE(3, 1, 2, 0));  // (-, x.z, x.y, -)
    const __m256d a = _mm256_blend_pd(_mm256_blend_pd(py, pz, 0x2), px, 0x4);
    const __m256d b = _mm256_blend_pd(_mm256_blend_pd(pz, px, 0x2), py, 0x4);
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
    const __m256d curl = fma_curl(dx, dy, dz);
    store_cell(hc, _mm256_fnmadd_pd(c, curl, load_cell(hc)));
}

// E += c * curl(H) at one cell with backward differences of H; `hc` is H cell
// (x, y, z), `sx` and `sy` the H strides along x and y.
[[gnu::always_inline]] inline void e_cell(Cell* ec, const Cell* hc, std::uint64_t sx,
                                          std::uint64_t sy, __m256d c) {
    const __m256d h0 = load_cell(hc);
    const __m256d dx = _mm256_sub_pd(h0, load_cell(hc - sx));
    const __m256d dy = _mm256_sub_pd(h0, load_cell(hc - sy));
    const __m256d dz = _mm256_sub_pd(h0, load_cell(hc - 1));
    const __m256d curl = fma_curl(dx, dy, dz);
    store_cell(ec, _mm256_fmadd_pd(c, curl, load_cell(ec)));
}

inline __m256d broadcast_coef(double coef) { return _mm256_set1_pd(coef); }

}  // namespace
}  // namespace nembo::NEMBO_VARIANT

#include "solver/kernels/one_cell_sweeps.hpp"
