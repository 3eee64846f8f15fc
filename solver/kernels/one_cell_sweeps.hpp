#pragma once
// The two sweeps of the kernels that update one whole cell per vector (fma,
// avx512, avx512vl). Each of those headers defines, in its build's namespace,
// `h_cell` and `e_cell` (one cell of each update) and `broadcast_coef` (the
// coefficient in the register type they take), then includes this file, so
// the loops, their bounds and the schedules are written once.
//
// Include only from such a kernel header, after those three definitions.
#include <cstdint>

#include "solver/grid.hpp"
#include "solver/kernels/prefetch.hpp"
#include "solver/schedule.hpp"

#ifndef NEMBO_VARIANT
#error "NEMBO_VARIANT must name the namespace of this instruction-set build"
#endif

namespace nembo::NEMBO_VARIANT {
namespace {

// H -= c * curl(E) with forward differences of E over the x-planes
// [x_begin, x_end), y and z in [1, N-3], `Group` planes per pass of y and z
// (the planes left over one by one), with the software prefetch F.
// True when the loop indices end at x_end and, for y and z, at N - 2.
template <std::uint64_t Group, Fetch F>
bool h_planes(Cell* h, std::uint64_t h_edge, const Cell* e, std::uint64_t n, double coef,
              std::uint64_t x_begin, std::uint64_t x_end) {
    const std::uint64_t end = n - 2;
    const std::uint64_t sx = n * n;
    const std::uint64_t sy = n;
    const std::uint64_t hsx = h_edge * h_edge;
    const auto c = broadcast_coef(coef);
    std::uint64_t x = x_begin;
    std::uint64_t y = 1;
    std::uint64_t z = 1;
    if constexpr (Group > 1) {
        for (; x + Group <= x_end; x += Group) {
            for (y = 1; y < end; ++y) {
                const Cell* erow = e + (x * n + y) * n;
                Cell* hrow = h + (x * h_edge + y) * h_edge;
                for (z = 1; z < end; ++z) {
                    const Cell* ec = erow + z;
                    Cell* hc = hrow + z;
                    if (prefetch_at<F>(z)) {
                        for (std::uint64_t k = 0; k <= Group; ++k) prefetch_ahead<F>(ec + k * sx);
                        for (std::uint64_t k = 0; k < Group; ++k) prefetch_ahead<F>(hc + k * hsx);
                    }
                    for (std::uint64_t k = 0; k < Group; ++k) h_cell(hc + k * hsx, ec + k * sx, sx, sy, c);
                }
            }
        }
    }
    for (; x < x_end; ++x) {
        for (y = 1; y < end; ++y) {
            const Cell* erow = e + (x * n + y) * n;
            Cell* hrow = h + (x * h_edge + y) * h_edge;
            for (z = 1; z < end; ++z) {
                if (prefetch_at<F>(z)) {
                    prefetch_ahead<F>(erow + z + sx);
                    prefetch_ahead<F>(hrow + z);
                }
                h_cell(hrow + z, erow + z, sx, sy, c);
            }
        }
    }
    return x == x_end && y == end && z == end;
}

// E += c * curl(H) with backward differences of H over the x-planes
// [x_begin, x_end), y and z in [2, N-2], like h_planes; true when the indices
// end at x_end and N - 1.
template <std::uint64_t Group, Fetch F>
bool e_planes(Cell* e, std::uint64_t n, const Cell* h, std::uint64_t h_edge, double coef,
              std::uint64_t x_begin, std::uint64_t x_end) {
    const std::uint64_t end = n - 1;
    const std::uint64_t sx = h_edge * h_edge;
    const std::uint64_t sy = h_edge;
    const std::uint64_t esx = n * n;
    const auto c = broadcast_coef(coef);
    std::uint64_t x = x_begin;
    std::uint64_t y = 2;
    std::uint64_t z = 2;
    if constexpr (Group > 1) {
        for (; x + Group <= x_end; x += Group) {
            for (y = 2; y < end; ++y) {
                Cell* erow = e + (x * n + y) * n;
                const Cell* hrow = h + (x * h_edge + y) * h_edge;
                for (z = 2; z < end; ++z) {
                    const Cell* hc = hrow + z;
                    Cell* ec = erow + z;
                    if (prefetch_at<F>(z)) {
                        prefetch_ahead<F>(hc - sx);
                        for (std::uint64_t k = 0; k < Group; ++k) prefetch_ahead<F>(hc + k * sx);
                        for (std::uint64_t k = 0; k < Group; ++k) prefetch_ahead<F>(ec + k * esx);
                    }
                    for (std::uint64_t k = 0; k < Group; ++k) e_cell(ec + k * esx, hc + k * sx, sx, sy, c);
                }
            }
        }
    }
    for (; x < x_end; ++x) {
        for (y = 2; y < end; ++y) {
            Cell* erow = e + (x * n + y) * n;
            const Cell* hrow = h + (x * h_edge + y) * h_edge;
            for (z = 2; z < end; ++z) {
                if (prefetch_at<F>(z)) {
                    prefetch_ahead<F>(hrow + z);
                    prefetch_ahead<F>(erow + z);
                }
                e_cell(erow + z, hrow + z, sx, sy, c);
            }
        }
    }
    return x == x_end && y == end && z == end;
}

}  // namespace
}  // namespace nembo::NEMBO_VARIANT

#include "solver/kernels/schedules.hpp"
