// Every build this processor can execute runs the same physics: the standing
// wave stays exactly still, and the driven soft Gaussian agrees bit for bit
// within the unfused and within the fused builds, and closely between them.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <string>
#include <vector>

#include "tests/solver/solver_support.hpp"

namespace nembo {
namespace {

using solver_test::all_isas;
using solver_test::bit_identical;
using solver_test::make_allocated;
using solver_test::runnable;
using solver_test::snapshot;
using solver_test::steps_in_this_build;

TEST(Variants, StandingWaveStaysExactlyStationary) {
    for (std::string_view isa : all_isas) {
        if (!runnable(isa)) {
            std::printf("[ skipped  ] %s: not supported by this processor\n", std::string(isa).c_str());
            continue;
        }
        SCOPED_TRACE(std::string(isa));
        auto made = make_allocated("standing_wave", isa, 64);
        ASSERT_NE(made.workload, nullptr);
        ASSERT_FALSE(made.workload->initialize().has_error());
        EXPECT_NEAR(*made.probe.initial_energy, 0.128955529, 5e-10);
        const std::vector<Cell> e_start = snapshot(made.probe.grid->e);
        const std::vector<Cell> zero_h(made.probe.grid->h.cell_count, Cell{0.0, 0.0, 0.0, 0.0});
        EXPECT_TRUE(bit_identical(snapshot(made.probe.grid->h), zero_h));
        const std::uint64_t steps = steps_in_this_build(60);
        for (std::uint64_t t = 0; t < steps; ++t) {
            ASSERT_FALSE(made.workload->pre_step(t).has_error());
            ASSERT_FALSE(made.workload->step().has_error());
            ASSERT_FALSE(made.workload->check_step(t).has_error());
        }
        EXPECT_TRUE(bit_identical(snapshot(made.probe.grid->h), zero_h));
        EXPECT_TRUE(bit_identical(snapshot(made.probe.grid->e), e_start));
        EXPECT_FALSE(made.workload->final_check(steps).has_error());
    }
}

struct Fields {
    std::string isa;
    std::vector<Cell> e;
    std::vector<Cell> h;
};

bool fused(std::string_view isa) { return isa != "sse2" && isa != "avx" && isa != "avx2"; }

double largest_magnitude(const Fields& fields) {
    double largest = 0.0;
    for (const std::vector<Cell>* block : {&fields.e, &fields.h}) {
        for (const Cell& c : *block) largest = std::fmax(largest, std::fmax(std::fabs(c.x), std::fmax(std::fabs(c.y), std::fabs(c.z))));
    }
    return largest;
}

TEST(Variants, SoftGaussianAgreesAcrossBuilds) {
    NEMBO_SKIP_SINGLE_THREADED_UNDER_TSAN();
    std::vector<Fields> runs;
    for (std::string_view isa : all_isas) {
        if (!runnable(isa)) continue;
        SCOPED_TRACE(std::string(isa));
        auto made = make_allocated("soft_gaussian", isa, 64);
        ASSERT_NE(made.workload, nullptr);
        ASSERT_FALSE(made.workload->initialize().has_error());
        const std::uint64_t steps = steps_in_this_build(200);
        for (std::uint64_t t = 0; t < steps; ++t) {
            ASSERT_FALSE(made.workload->pre_step(t).has_error());
            ASSERT_FALSE(made.workload->step().has_error());
            const MaybeError check = made.workload->check_step(t);
            ASSERT_FALSE(check.has_error()) << "step " << t << check.text();
        }
        EXPECT_FALSE(made.workload->final_check(steps).has_error());
        runs.push_back(Fields{std::string(isa), snapshot(made.probe.grid->e), snapshot(made.probe.grid->h)});
    }
    ASSERT_FALSE(runs.empty());
    const Fields* unfused_reference = nullptr;
    const Fields* fused_reference = nullptr;
    for (const Fields& run : runs) {
        const Fields*& reference = fused(run.isa) ? fused_reference : unfused_reference;
        if (reference == nullptr) {
            reference = &run;
            continue;
        }
        EXPECT_TRUE(bit_identical(run.e, reference->e)) << run.isa << " vs " << reference->isa;
        EXPECT_TRUE(bit_identical(run.h, reference->h)) << run.isa << " vs " << reference->isa;
    }
    if (unfused_reference == nullptr || fused_reference == nullptr) return;

    const double bound = 1e-9 * largest_magnitude(*unfused_reference);
    ASSERT_GT(bound, 0.0);
    double worst = 0.0;
    for (int block = 0; block < 2; ++block) {
        const std::vector<Cell>& a = block == 0 ? unfused_reference->e : unfused_reference->h;
        const std::vector<Cell>& b = block == 0 ? fused_reference->e : fused_reference->h;
        for (std::size_t i = 0; i < a.size(); ++i) {
            for (double d : {a[i].x - b[i].x, a[i].y - b[i].y, a[i].z - b[i].z}) worst = std::fmax(worst, std::fabs(d));
            EXPECT_EQ(b[i].pad, 0.0);
        }
    }
    EXPECT_LE(worst, bound);
}

}  // namespace
}  // namespace nembo
