#pragma once
// The two sweeps of the kernels that update one whole cell per vector (fma,
// avx512, avx512vl). Each of those headers defines, in its build's namespace,
// `h_cell` and `e_cell` (one cell of each update) and `broadcast_coef` (the
// coefficient in the register type they take), then includes this file, so
// the loops, their bounds and the prefetching are written once.
//
// Include only from such a kernel header, after those three definitions.
#include <cstdint>

#include "solver/grid.hpp"
#include "solver/kernels/prefetch.hpp"

#ifndef NEMBO_VARIANT
#error "NEMBO_VARIANT must name the namespace of this instruction-set build"
#endif

namespace nembo::NEMBO_VARIANT {
namespace {

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
    const auto c = broadcast_coef(coef);
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
    const auto c = broadcast_coef(coef);
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
