#pragma once
// Field update kernels for AVX-512F (also the avx10-2-512 build): one cell per
// pass, with the x and y differences side by side in one 512-bit register.
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

// GCC 12 reports its own "undefined" placeholder inside several AVX-512
// intrinsics (broadcast, insert, extract) as maybe uninitialized.
#if defined(__GNUC__) && !defined(__clang__)
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wmaybe-uninitialized"
#endif

namespace nembo::NEMBO_VARIANT {
namespace {

inline __m256d load_cell(const Cell* cell) { return _mm256_loadu_pd(&cell->x); }
inline void store_cell(Cell* cell, __m256d v) { _mm256_storeu_pd(&cell->x, v); }

// Two cells side by side: `low` in lanes 0-3, `high` in lanes 4-7.
inline __m512d cell_pair(__m256d low, __m256d high) {
    return _mm512_insertf64x4(_mm512_castpd256_pd512(low), high, 1);
}

// Curl of one cell from dxy = (dX | dY) and dzz = (dZ | dZ). With indices 0-7
// naming lanes of dxy and 8-15 lanes of dzz:
//   (6, 8, 1, 0) gives (dY.z, dZ.x, dX.y, dX.x),
//   (9, 2, 4, 0) gives (dZ.y, dX.z, dY.x, dX.x),
// and their difference is (curl x, curl y, curl z, dX.x - dX.x) in the low
// half (the high half is unused); the pad lane thus receives c * 0 while the
// fields are finite.
inline __m512d avx512_curl(__m512d dxy, __m512d dzz) {
    const __m512i index_a = _mm512_set_epi64(0, 0, 0, 0, 0, 1, 8, 6);
    const __m512i index_b = _mm512_set_epi64(0, 0, 0, 0, 0, 4, 2, 9);
    const __m512d a = _mm512_permutex2var_pd(dxy, index_a, dzz);
    const __m512d b = _mm512_permutex2var_pd(dxy, index_b, dzz);
    return _mm512_sub_pd(a, b);
}

// The fused updates run in 512-bit registers (AVX-512F carries no 256-bit
// FMA); the old cell is zero-extended and only the low 256 bits are kept.
inline __m256d fused_sub(__m512d c, __m512d curl, __m256d old) {
    return _mm512_castpd512_pd256(_mm512_fnmadd_pd(c, curl, _mm512_zextpd256_pd512(old)));
}
inline __m256d fused_add(__m512d c, __m512d curl, __m256d old) {
    return _mm512_castpd512_pd256(_mm512_fmadd_pd(c, curl, _mm512_zextpd256_pd512(old)));
}

// H -= c * curl(E) at one cell with forward differences of E; `ec` is E cell
// (x, y, z), `sx` and `sy` the E strides along x and y.
[[gnu::always_inline]] inline void h_cell(Cell* hc, const Cell* ec, std::uint64_t sx,
                                          std::uint64_t sy, __m512d c) {
    const __m256d e0 = load_cell(ec);
    const __m512d dxy = _mm512_sub_pd(cell_pair(load_cell(ec + sx), load_cell(ec + sy)),
                                      _mm512_broadcast_f64x4(e0));
    const __m512d dzz = _mm512_broadcast_f64x4(_mm256_sub_pd(load_cell(ec + 1), e0));
    const __m512d curl = avx512_curl(dxy, dzz);
    store_cell(hc, fused_sub(c, curl, load_cell(hc)));
}

// E += c * curl(H) at one cell with backward differences of H; `hc` is H cell
// (x, y, z), `sx` and `sy` the H strides along x and y.
[[gnu::always_inline]] inline void e_cell(Cell* ec, const Cell* hc, std::uint64_t sx,
                                          std::uint64_t sy, __m512d c) {
    const __m256d h0 = load_cell(hc);
    const __m512d dxy = _mm512_sub_pd(_mm512_broadcast_f64x4(h0),
                                      cell_pair(load_cell(hc - sx), load_cell(hc - sy)));
    const __m512d dzz = _mm512_broadcast_f64x4(_mm256_sub_pd(h0, load_cell(hc - 1)));
    const __m512d curl = avx512_curl(dxy, dzz);
    store_cell(ec, fused_add(c, curl, load_cell(ec)));
}

inline __m512d broadcast_coef(double coef) { return _mm512_set1_pd(coef); }

}  // namespace
}  // namespace nembo::NEMBO_VARIANT

#include "solver/kernels/one_cell_sweeps.hpp"

#if defined(__GNUC__) && !defined(__clang__)
#pragma GCC diagnostic pop
#endif
