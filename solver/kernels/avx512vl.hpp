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

// H -= c * curl(E) with forward differences of E, over x, y, z in [1, N-3],
// plane_group x-planes per pass of y and z (see prefetch.hpp).
bool sweep_h(Cell* h, std::uint64_t h_edge, const Cell* e, std::uint64_t e_edge, double coef) {
    const std::uint64_t n = e_edge;
    if (n < 3) {
        return false;
    }
    const std::uint64_t end = n - 2;
    const std::uint64_t sx = n * n;
    const std::uint64_t sy = n;
    const std::uint64_t hsx = h_edge * h_edge;
    const __m256d c = _mm256_set1_pd(coef);
    std::uint64_t x = 1;
    std::uint64_t y = 1;
    std::uint64_t z = 1;
    for (x = 1; x + plane_group <= end; x += plane_group) {
        for (y = 1; y < end; ++y) {
            const Cell* erow = e + (x * n + y) * n;
            Cell* hrow = h + (x * h_edge + y) * h_edge;
            for (z = 1; z < end; ++z) {
                const Cell* ec = erow + z;
                Cell* hc = hrow + z;
                for (std::uint64_t k = 0; k <= plane_group; ++k) prefetch_ahead(ec + k * sx);
                for (std::uint64_t k = 0; k < plane_group; ++k) prefetch_ahead(hc + k * hsx);
                for (std::uint64_t k = 0; k < plane_group; ++k) {
                    h_cell(hc + k * hsx, ec + k * sx, sx, sy, c);
                }
            }
        }
    }
    for (; x < end; ++x) {
        for (y = 1; y < end; ++y) {
            const Cell* erow = e + (x * n + y) * n;
            Cell* hrow = h + (x * h_edge + y) * h_edge;
            for (z = 1; z < end; ++z) {
                prefetch_ahead(erow + z + sx);
                prefetch_ahead(hrow + z);
                h_cell(hrow + z, erow + z, sx, sy, c);
            }
        }
    }
    return x == end && y == end && z == end;
}

// E += c * curl(H) with backward differences of H, over x, y, z in [2, N-2],
// grouped like sweep_h.
bool sweep_e(Cell* e, std::uint64_t e_edge, const Cell* h, std::uint64_t h_edge, double coef) {
    const std::uint64_t n = e_edge;
    if (n < 3) {
        return false;
    }
    const std::uint64_t end = n - 1;
    const std::uint64_t sx = h_edge * h_edge;
    const std::uint64_t sy = h_edge;
    const std::uint64_t esx = n * n;
    const __m256d c = _mm256_set1_pd(coef);
    std::uint64_t x = 2;
    std::uint64_t y = 2;
    std::uint64_t z = 2;
    for (x = 2; x + plane_group <= end; x += plane_group) {
        for (y = 2; y < end; ++y) {
            Cell* erow = e + (x * n + y) * n;
            const Cell* hrow = h + (x * h_edge + y) * h_edge;
            for (z = 2; z < end; ++z) {
                const Cell* hc = hrow + z;
                Cell* ec = erow + z;
                prefetch_ahead(hc - sx);
                for (std::uint64_t k = 0; k < plane_group; ++k) prefetch_ahead(hc + k * sx);
                for (std::uint64_t k = 0; k < plane_group; ++k) prefetch_ahead(ec + k * esx);
                for (std::uint64_t k = 0; k < plane_group; ++k) {
                    e_cell(ec + k * esx, hc + k * sx, sx, sy, c);
                }
            }
        }
    }
    for (; x < end; ++x) {
        for (y = 2; y < end; ++y) {
            Cell* erow = e + (x * n + y) * n;
            const Cell* hrow = h + (x * h_edge + y) * h_edge;
            for (z = 2; z < end; ++z) {
                prefetch_ahead(hrow + z);
                prefetch_ahead(erow + z);
                e_cell(erow + z, hrow + z, sx, sy, c);
            }
        }
    }
    return x == end && y == end && z == end;
}

}  // namespace
}  // namespace nembo::NEMBO_VARIANT
