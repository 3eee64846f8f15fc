// Scalar reference for every kernel build: each component is the two
// differences, their difference, and a multiply and an add, rounded
// separately or fused. Built for baseline x86-64; the pad lanes are never
// touched.
#include "tests/solver/reference_sweeps.hpp"

#include <cstdint>
#include <cstring>

namespace nembo::solver_test {
namespace {

__extension__ typedef __float128 Quad;

// a * b + c rounded once, without trusting the C library: the Windows
// runtime's fma() is not correctly rounded. The product is exact in binary128
// (106 of 113 bits); the sum is rounded to odd in binary128, which makes the
// final rounding to double correct (113 >= 53 + 2).
double fused_multiply_add(double a, double b, double c) {
    const Quad p = static_cast<Quad>(a) * static_cast<Quad>(b);
    const Quad qc = c;
    Quad s = p + qc;
    const Quad v = s - p;
    const Quad err = (p - (s - v)) + (qc - v);
    if (err != 0) {
        std::uint64_t word[2];
        static_assert(sizeof(word) == sizeof(Quad));
        std::memcpy(word, &s, sizeof(s));
        if ((word[0] & 1u) == 0) {
            // Step to the neighbour on err's side: the odd one of the two.
            const bool away_from_zero = (err > 0) == (s > 0);
            if (away_from_zero) {
                word[1] += (++word[0] == 0) ? 1 : 0;
            } else {
                word[1] -= (word[0]-- == 0) ? 1 : 0;
            }
            std::memcpy(&s, word, sizeof(s));
        }
    }
    return static_cast<double>(s);
}

// old + c * curl, with the rounding of the build under test.
double updated(double old, double c, double curl, Rounding rounding) {
    return rounding == Rounding::fused ? fused_multiply_add(c, curl, old) : old + c * curl;
}

}  // namespace

bool reference_sweep_h(Cell* h, std::uint64_t h_edge, const Cell* e, std::uint64_t e_edge, double coef,
                       Rounding rounding) {
    const std::uint64_t n = e_edge;
    if (n < 3) {
        return false;
    }
    const auto at_e = [&](std::uint64_t x, std::uint64_t y, std::uint64_t z) -> const Cell& {
        return e[(x * n + y) * n + z];
    };
    for (std::uint64_t x = 1; x + 2 < n; ++x) {
        for (std::uint64_t y = 1; y + 2 < n; ++y) {
            for (std::uint64_t z = 1; z + 2 < n; ++z) {
                const Cell& c0 = at_e(x, y, z);
                const Cell& cx = at_e(x + 1, y, z);
                const Cell& cy = at_e(x, y + 1, z);
                const Cell& cz = at_e(x, y, z + 1);
                const double curl_x = (cy.z - c0.z) - (cz.y - c0.y);
                const double curl_y = (cz.x - c0.x) - (cx.z - c0.z);
                const double curl_z = (cx.y - c0.y) - (cy.x - c0.x);
                Cell& out = h[(x * h_edge + y) * h_edge + z];
                out.x = updated(out.x, -coef, curl_x, rounding);
                out.y = updated(out.y, -coef, curl_y, rounding);
                out.z = updated(out.z, -coef, curl_z, rounding);
            }
        }
    }
    return true;
}

bool reference_sweep_e(Cell* e, std::uint64_t e_edge, const Cell* h, std::uint64_t h_edge, double coef,
                       Rounding rounding) {
    const std::uint64_t n = e_edge;
    if (n < 3) {
        return false;
    }
    const auto at_h = [&](std::uint64_t x, std::uint64_t y, std::uint64_t z) -> const Cell& {
        return h[(x * h_edge + y) * h_edge + z];
    };
    for (std::uint64_t x = 2; x + 1 < n; ++x) {
        for (std::uint64_t y = 2; y + 1 < n; ++y) {
            for (std::uint64_t z = 2; z + 1 < n; ++z) {
                const Cell& c0 = at_h(x, y, z);
                const Cell& cx = at_h(x - 1, y, z);
                const Cell& cy = at_h(x, y - 1, z);
                const Cell& cz = at_h(x, y, z - 1);
                const double curl_x = (c0.z - cy.z) - (c0.y - cz.y);
                const double curl_y = (c0.x - cz.x) - (c0.z - cx.z);
                const double curl_z = (c0.y - cx.y) - (c0.x - cy.x);
                Cell& out = e[(x * n + y) * n + z];
                out.x = updated(out.x, coef, curl_x, rounding);
                out.y = updated(out.y, coef, curl_y, rounding);
                out.z = updated(out.z, coef, curl_z, rounding);
            }
        }
    }
    return true;
}

}  // namespace nembo::solver_test
