#pragma once
// Field update sweeps, 128-bit shape (sse2; built with -mavx it becomes the
// VEX-encoded avx/avx2 build). Scalar arithmetic per component, four cells per
// pass of the z loop, then a one-cell remainder loop that does the x and y
// components as one two-lane operation. Multiply and add are rounded
// separately.
//
// Cell (x, y, z) of a block with edge N is at (x * N + y) * N + z. The loop
// bounds come from the E block's edge; H cells are indexed with the H edge.
#include <immintrin.h>

#include <cstdint>

#include "solver/grid.hpp"
#include "solver/kernels/prefetch.hpp"

namespace nembo::NEMBO_VARIANT {
namespace {

// H -= c * curl E at one cell, with forward differences of E. `e` points at E
// cell (x, y, z); `ey_step` and `ex_step` are the E strides along y and x.
[[gnu::always_inline]] inline void h_cell(Cell* h, const Cell* e, std::uint64_t ey_step,
                                          std::uint64_t ex_step, double c) {
    const Cell* ez1 = e + 1;
    const Cell* ey1 = e + ey_step;
    const Cell* ex1 = e + ex_step;
    h->x = h->x - c * ((ey1->z - e->z) - (ez1->y - e->y));
    h->y = h->y - c * ((ez1->x - e->x) - (ex1->z - e->z));
    h->z = h->z - c * ((ex1->y - e->y) - (ey1->x - e->x));
}

// The same cell with the x and y components as one two-lane operation (low
// lane x, high lane y).
[[gnu::always_inline]] inline void h_cell_pair(Cell* h, const Cell* e, std::uint64_t ey_step,
                                               std::uint64_t ex_step, double c) {
    const Cell* ez1 = e + 1;
    const Cell* ey1 = e + ey_step;
    const Cell* ex1 = e + ex_step;
    const __m128d first = _mm_sub_pd(_mm_set_pd(ez1->x, ey1->z), _mm_set_pd(e->x, e->z));
    const __m128d second = _mm_sub_pd(_mm_set_pd(ex1->z, ez1->y), _mm_set_pd(e->z, e->y));
    const __m128d curl = _mm_sub_pd(first, second);
    const __m128d old = _mm_loadu_pd(&h->x);
    _mm_storeu_pd(&h->x, _mm_sub_pd(old, _mm_mul_pd(_mm_set1_pd(c), curl)));
    h->z = h->z - c * ((ex1->y - e->y) - (ey1->x - e->x));
}

// E += c * curl H at one cell, with backward differences of H. `h` points at
// H cell (x, y, z); `hy_step` and `hx_step` are the H strides along y and x.
[[gnu::always_inline]] inline void e_cell(Cell* e, const Cell* h, std::uint64_t hy_step,
                                          std::uint64_t hx_step, double c) {
    const Cell* hz0 = h - 1;
    const Cell* hy0 = h - hy_step;
    const Cell* hx0 = h - hx_step;
    e->x = e->x + c * ((h->z - hy0->z) - (h->y - hz0->y));
    e->y = e->y + c * ((h->x - hz0->x) - (h->z - hx0->z));
    e->z = e->z + c * ((h->y - hx0->y) - (h->x - hy0->x));
}

[[gnu::always_inline]] inline void e_cell_pair(Cell* e, const Cell* h, std::uint64_t hy_step,
                                               std::uint64_t hx_step, double c) {
    const Cell* hz0 = h - 1;
    const Cell* hy0 = h - hy_step;
    const Cell* hx0 = h - hx_step;
    const __m128d first = _mm_sub_pd(_mm_set_pd(h->x, h->z), _mm_set_pd(hz0->x, hy0->z));
    const __m128d second = _mm_sub_pd(_mm_set_pd(h->z, h->y), _mm_set_pd(hx0->z, hz0->y));
    const __m128d curl = _mm_sub_pd(first, second);
    const __m128d old = _mm_loadu_pd(&e->x);
    _mm_storeu_pd(&e->x, _mm_add_pd(old, _mm_mul_pd(_mm_set1_pd(c), curl)));
    e->z = e->z + c * ((h->y - hx0->y) - (h->x - hy0->x));
}

// H over the x-planes [x_begin, x_end), y and z from 1 to N - 3; true when
// the indices end at x_end and, for y and z, at N - 2. `Group` planes go
// together through the y and z loops (see prefetch.hpp): each pass of z does
// four cells of every plane of the group, the remainder one cell of every
// plane; the planes left over go one by one.
template <std::uint64_t Group, Fetch F>
bool h_planes(Cell* h, std::uint64_t h_edge, const Cell* e, std::uint64_t n, double coef,
              std::uint64_t x_begin, std::uint64_t x_end) {
    const std::uint64_t last = n - 3;
    const std::uint64_t ey_step = n;
    const std::uint64_t ex_step = n * n;
    const std::uint64_t hx_step = h_edge * h_edge;
    std::uint64_t x = x_begin;
    std::uint64_t y = 1;
    std::uint64_t z = 1;
    if constexpr (Group > 1) {
        for (; x + Group <= x_end; x += Group) {
            for (y = 1; y <= last; ++y) {
                const Cell* e_row = e + (x * n + y) * n;
                Cell* h_row = h + (x * h_edge + y) * h_edge;
                for (z = 1; z + 3 <= last; z += 4) {
                    if constexpr (F != Fetch::none) {
                        for (std::uint64_t k = 0; k <= Group; ++k) {
                            prefetch_ahead<F>(e_row + z + k * ex_step);
                            prefetch_ahead<F>(e_row + z + k * ex_step + 2);
                        }
                        for (std::uint64_t k = 0; k < Group; ++k) {
                            prefetch_ahead<F>(h_row + z + k * hx_step);
                            prefetch_ahead<F>(h_row + z + k * hx_step + 2);
                        }
                    }
                    for (std::uint64_t k = 0; k < Group; ++k) {
                        const Cell* ec = e_row + z + k * ex_step;
                        Cell* hc = h_row + z + k * hx_step;
                        h_cell(hc, ec, ey_step, ex_step, coef);
                        h_cell(hc + 1, ec + 1, ey_step, ex_step, coef);
                        h_cell(hc + 2, ec + 2, ey_step, ex_step, coef);
                        h_cell(hc + 3, ec + 3, ey_step, ex_step, coef);
                    }
                }
                for (; z <= last; ++z) {
                    for (std::uint64_t k = 0; k < Group; ++k) {
                        h_cell_pair(h_row + z + k * hx_step, e_row + z + k * ex_step, ey_step, ex_step,
                                    coef);
                    }
                }
            }
        }
    }
    for (; x < x_end; ++x) {
        for (y = 1; y <= last; ++y) {
            const Cell* e_row = e + (x * n + y) * n;
            Cell* h_row = h + (x * h_edge + y) * h_edge;
            for (z = 1; z + 3 <= last; z += 4) {
                if constexpr (F != Fetch::none) {
                    prefetch_ahead<F>(e_row + z + ex_step);
                    prefetch_ahead<F>(e_row + z + ex_step + 2);
                    prefetch_ahead<F>(h_row + z);
                    prefetch_ahead<F>(h_row + z + 2);
                }
                h_cell(h_row + z, e_row + z, ey_step, ex_step, coef);
                h_cell(h_row + z + 1, e_row + z + 1, ey_step, ex_step, coef);
                h_cell(h_row + z + 2, e_row + z + 2, ey_step, ex_step, coef);
                h_cell(h_row + z + 3, e_row + z + 3, ey_step, ex_step, coef);
            }
            for (; z <= last; ++z) h_cell_pair(h_row + z, e_row + z, ey_step, ex_step, coef);
        }
    }
    const std::uint64_t bound = n - 2;
    return x == x_end && y == bound && z == bound;
}

// E over the x-planes [x_begin, x_end), y and z from 2 to N - 2; true when
// the indices end at x_end and N - 1. Grouped like h_planes.
template <std::uint64_t Group, Fetch F>
bool e_planes(Cell* e, std::uint64_t n, const Cell* h, std::uint64_t h_edge, double coef,
              std::uint64_t x_begin, std::uint64_t x_end) {
    const std::uint64_t last = n - 2;
    const std::uint64_t hy_step = h_edge;
    const std::uint64_t hx_step = h_edge * h_edge;
    const std::uint64_t ex_step = n * n;
    std::uint64_t x = x_begin;
    std::uint64_t y = 2;
    std::uint64_t z = 2;
    if constexpr (Group > 1) {
        for (; x + Group <= x_end; x += Group) {
            for (y = 2; y <= last; ++y) {
                Cell* e_row = e + (x * n + y) * n;
                const Cell* h_row = h + (x * h_edge + y) * h_edge;
                for (z = 2; z + 3 <= last; z += 4) {
                    if constexpr (F != Fetch::none) {
                        prefetch_ahead<F>(h_row + z - hx_step);
                        prefetch_ahead<F>(h_row + z - hx_step + 2);
                        for (std::uint64_t k = 0; k < Group; ++k) {
                            prefetch_ahead<F>(h_row + z + k * hx_step);
                            prefetch_ahead<F>(h_row + z + k * hx_step + 2);
                            prefetch_ahead<F>(e_row + z + k * ex_step);
                            prefetch_ahead<F>(e_row + z + k * ex_step + 2);
                        }
                    }
                    for (std::uint64_t k = 0; k < Group; ++k) {
                        Cell* ec = e_row + z + k * ex_step;
                        const Cell* hc = h_row + z + k * hx_step;
                        e_cell(ec, hc, hy_step, hx_step, coef);
                        e_cell(ec + 1, hc + 1, hy_step, hx_step, coef);
                        e_cell(ec + 2, hc + 2, hy_step, hx_step, coef);
                        e_cell(ec + 3, hc + 3, hy_step, hx_step, coef);
                    }
                }
                for (; z <= last; ++z) {
                    for (std::uint64_t k = 0; k < Group; ++k) {
                        e_cell_pair(e_row + z + k * ex_step, h_row + z + k * hx_step, hy_step, hx_step,
                                    coef);
                    }
                }
            }
        }
    }
    for (; x < x_end; ++x) {
        for (y = 2; y <= last; ++y) {
            Cell* e_row = e + (x * n + y) * n;
            const Cell* h_row = h + (x * h_edge + y) * h_edge;
            for (z = 2; z + 3 <= last; z += 4) {
                if constexpr (F != Fetch::none) {
                    prefetch_ahead<F>(h_row + z);
                    prefetch_ahead<F>(h_row + z + 2);
                    prefetch_ahead<F>(e_row + z);
                    prefetch_ahead<F>(e_row + z + 2);
                }
                e_cell(e_row + z, h_row + z, hy_step, hx_step, coef);
                e_cell(e_row + z + 1, h_row + z + 1, hy_step, hx_step, coef);
                e_cell(e_row + z + 2, h_row + z + 2, hy_step, hx_step, coef);
                e_cell(e_row + z + 3, h_row + z + 3, hy_step, hx_step, coef);
            }
            for (; z <= last; ++z) e_cell_pair(e_row + z, h_row + z, hy_step, hx_step, coef);
        }
    }
    const std::uint64_t bound = n - 1;
    return x == x_end && y == bound && z == bound;
}

}  // namespace
}  // namespace nembo::NEMBO_VARIANT

#include "solver/kernels/schedules.hpp"
