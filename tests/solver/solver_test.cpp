// Update sweeps, energy measures, the solver base and both workloads.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <map>
#include <string>
#include <tuple>

#include "tests/solver/reference_sweeps.hpp"
#include "tests/solver/solver_support.hpp"

namespace nembo {
namespace {

using solver_test::all_isas;
using solver_test::bit_identical;
using solver_test::cell;
using solver_test::make_allocated;
using solver_test::node_count;
using solver_test::runnable;
using solver_test::snapshot;

const bool no_large_pages = false;

using Key = std::tuple<std::uint64_t, std::uint64_t, std::uint64_t, int>;  // x, y, z, component

// Every double of the block, compared against the expected non-zero values.
void expect_only(FieldBlock& block, const std::map<Key, double>& expected, std::string_view isa) {
    for (std::uint64_t x = 0; x < block.edge; ++x) {
        for (std::uint64_t y = 0; y < block.edge; ++y) {
            for (std::uint64_t z = 0; z < block.edge; ++z) {
                const Cell& c = cell(block, x, y, z);
                const double values[4] = {c.x, c.y, c.z, c.pad};
                for (int k = 0; k < 4; ++k) {
                    const auto found = expected.find(Key{x, y, z, k});
                    const double want = found == expected.end() ? 0.0 : found->second;
                    ASSERT_EQ(values[k], want) << isa << " at " << x << ',' << y << ',' << z << " component " << k;
                }
            }
        }
    }
}

TEST(Kernels, SignsAndNeighbours) {
    for (std::string_view isa : all_isas) {
        if (!runnable(isa)) continue;
        SCOPED_TRACE(std::string(isa));
        const VariantFunctions& build = variant_functions(*parse_isa(isa));

        YeeGrid from_e(GridParams{no_large_pages, 64, 0.01});
        cell(from_e.e, 10, 10, 10).z = 1.0;
        ASSERT_TRUE(build.update_h(from_e));
        expect_only(from_e.h,
                    {{Key{10, 9, 10, 0}, -0.5}, {Key{10, 10, 10, 0}, 0.5}, {Key{9, 10, 10, 1}, 0.5},
                     {Key{10, 10, 10, 1}, -0.5}},
                    isa);

        YeeGrid from_h(GridParams{no_large_pages, 64, 0.01});
        cell(from_h.h, 10, 10, 10).z = 1.0;
        ASSERT_TRUE(build.update_e(from_h));
        expect_only(from_h.e,
                    {{Key{10, 10, 10, 0}, 0.5}, {Key{10, 11, 10, 0}, -0.5}, {Key{10, 10, 10, 1}, -0.5},
                     {Key{11, 10, 10, 1}, 0.5}},
                    isa);
    }
}

// Deterministic non-zero field values; pads stay zero as allocation leaves them.
void fill(FieldBlock& block, std::uint64_t seed) {
    std::uint64_t state = seed;
    const auto next = [&state] {
        state = state * 6364136223846793005u + 1442695040888963407u;
        return static_cast<double>(state >> 11) / 9007199254740992.0 - 0.5;
    };
    for (std::uint64_t i = 0; i < block.cell_count; ++i) {
        block.cells[i].x = next();
        block.cells[i].y = next();
        block.cells[i].z = next();
    }
}

void reference_update_h(YeeGrid& g) {
    solver_test::reference_sweep_h(g.h.cells, g.h.edge, g.e.cells, g.e.edge, g.h_coef, solver_test::Rounding::separate);
}

void reference_update_e(YeeGrid& g) {
    solver_test::reference_sweep_e(g.e.cells, g.e.edge, g.h.cells, g.h.edge, g.e_coef, solver_test::Rounding::separate);
}

// Same doubles: bit for bit for the unfused builds, to rounding for the fused.
void expect_same_field(const std::vector<Cell>& got, const std::vector<Cell>& want, bool exact) {
    if (exact) {
        EXPECT_TRUE(bit_identical(got, want));
        return;
    }
    ASSERT_EQ(got.size(), want.size());
    for (std::size_t i = 0; i < got.size(); ++i) {
        ASSERT_NEAR(got[i].x, want[i].x, 1e-14) << "cell " << i;
        ASSERT_NEAR(got[i].y, want[i].y, 1e-14) << "cell " << i;
        ASSERT_NEAR(got[i].z, want[i].z, 1e-14) << "cell " << i;
        ASSERT_EQ(got[i].pad, 0.0) << "cell " << i;
    }
}

// Every neighbour, sign and loop path (four-cell passes and the remainder):
// arbitrary fields against the equations. Cells outside the updated ranges,
// the fixed layers included, must come out untouched.
TEST(Kernels, MatchTheEquationsOnEveryPath) {
    for (std::string_view isa : all_isas) {
        if (!runnable(isa)) continue;
        SCOPED_TRACE(std::string(isa));
        const VariantFunctions& build = variant_functions(*parse_isa(isa));
        const bool exact = isa == "sse2" || isa == "avx" || isa == "avx2";
        for (std::uint64_t size : {5u, 8u, 13u, 64u}) {  // remainders 0 to 3 of the four-cell pass
            YeeGrid grid(GridParams{no_large_pages, size, 0.01});
            YeeGrid reference(GridParams{no_large_pages, size, 0.01});
            for (YeeGrid* g : {&grid, &reference}) {
                fill(g->e, size);
                fill(g->h, size + 100);
            }
            ASSERT_TRUE(build.update_h(grid));
            reference_update_h(reference);
            expect_same_field(snapshot(grid.h), snapshot(reference.h), exact);
            EXPECT_TRUE(bit_identical(snapshot(grid.e), snapshot(reference.e)));
            // Continue from the same H so that the E check stands alone.
            std::memcpy(grid.h.cells, reference.h.cells, grid.h.cell_count * sizeof(Cell));
            ASSERT_TRUE(build.update_e(grid));
            reference_update_e(reference);
            expect_same_field(snapshot(grid.e), snapshot(reference.e), exact);
            EXPECT_TRUE(bit_identical(snapshot(grid.h), snapshot(reference.h)));
        }
    }
}

TEST(Kernels, DegenerateEdges) {
    for (std::string_view isa : all_isas) {
        if (!runnable(isa)) continue;
        SCOPED_TRACE(std::string(isa));
        const VariantFunctions& build = variant_functions(*parse_isa(isa));
        YeeGrid grid;
        grid.e.edge = grid.h.edge = 3;
        allocate_cells(grid.e, 27, false);
        allocate_cells(grid.h, 27, false);
        fill(grid.e, 1);
        fill(grid.h, 2);
        const std::vector<Cell> e_before = snapshot(grid.e);
        const std::vector<Cell> h_before = snapshot(grid.h);
        EXPECT_TRUE(build.update_h(grid)) << isa;
        EXPECT_TRUE(build.update_e(grid)) << isa;
        EXPECT_TRUE(bit_identical(snapshot(grid.e), e_before));
        EXPECT_TRUE(bit_identical(snapshot(grid.h), h_before));

        grid.e.edge = grid.h.edge = 2;
        EXPECT_FALSE(build.update_h(grid)) << isa;
        EXPECT_FALSE(build.update_e(grid)) << isa;
        grid.e.edge = grid.h.edge = 0;
        EXPECT_FALSE(build.update_h(grid)) << isa;
    }
}

TEST(Energy, FreshGridAndUniformField) {
    const VariantFunctions& build = variant_functions(Isa::sse2);
    YeeGrid grid(GridParams{no_large_pages, 64, 0.01});
    EXPECT_EQ(build.node_energy(grid, 17, 17, 17), 0.0);
    EXPECT_EQ(build.total_energy(grid), 0.0);

    for (std::uint64_t i = 0; i < grid.e.cell_count; ++i) grid.e.cells[i].x = 1.0;
    const double expected = 63.0 * 63.0 * 63.0 * 0.5 * grid.cell_volume;
    EXPECT_NEAR(build.total_energy(grid), expected, expected * 1e-12);

    // H is averaged with its neighbour one cell back along its own axis.
    YeeGrid h_only(GridParams{no_large_pages, 8, 0.01});
    h_only.cell_volume = 2.0;
    cell(h_only.h, 4, 5, 5).x = 2.0;
    cell(h_only.h, 5, 5, 5).x = 4.0;
    EXPECT_EQ(build.node_energy(h_only, 5, 5, 5), 9.0);
    EXPECT_EQ(build.node_energy(h_only, 4, 5, 5), 1.0);  // (0 + 2) / 2, squared
}

TEST(SolverBase, AllocationReplacesAndReleases) {
    const std::uint64_t live_before = live_cell_blocks();
    {
        auto made = make_allocated("soft_gaussian", "sse2", 64);
        ASSERT_NE(made.workload, nullptr);
        EXPECT_EQ(live_cell_blocks(), live_before + 2);
        EXPECT_FALSE(made.workload->allocate(GridParams{no_large_pages, 70, 0.01}).has_error());
        EXPECT_EQ(live_cell_blocks(), live_before + 2);  // nothing of the first grid is left
        EXPECT_EQ(made.probe.grid->e.edge, 72u);
        EXPECT_TRUE(*made.probe.grid_ready);
    }
    EXPECT_EQ(live_cell_blocks(), live_before);

    // Storage that cannot be had: reported, and destruction still works.
    std::unique_ptr<Workload> starved = create_workload("standing_wave", "sse2", 2);
    EXPECT_EQ(starved->allocate(GridParams{no_large_pages, 3'000'000, 0.01}).text(), "field allocation failed");
    EXPECT_EQ(starved->initialize().text(), "field allocation failed");
    starved.reset();
    EXPECT_EQ(live_cell_blocks(), live_before);
}

TEST(SolverBase, UpdateCountsAndStepErrors) {
    auto made = make_allocated("standing_wave", "sse2", 64, 5);
    ASSERT_NE(made.workload, nullptr);
    EXPECT_EQ(made.workload->updates_per_iteration(), 524'288u);
    EXPECT_FALSE(made.workload->step().has_error());
    made.probe.grid->e.edge = 2;  // a degenerate grid: the sweep cannot run
    EXPECT_EQ(made.workload->step().text(), "solver H step error in thread 5");
}

TEST(StandingWave, SizeSixtyFourStaysExactlyStationary) {
    auto made = make_allocated("standing_wave", "sse2", 64);
    ASSERT_NE(made.workload, nullptr);
    ASSERT_FALSE(made.workload->initialize().has_error());
    YeeGrid& grid = *made.probe.grid;
    EXPECT_NEAR(*made.probe.initial_energy, 0.128955529, 5e-10);
    ASSERT_EQ(node_count(made.probe), 8u);
    EXPECT_NEAR((*made.probe.node_reference)[0], 9.947531997e-07, 5e-16);
    EXPECT_EQ((*made.probe.node_reference)[0], made.build->node_energy(grid, 17, 17, 17));
    EXPECT_EQ((*made.probe.node_reference)[7], made.build->node_energy(grid, 33, 33, 33));
    EXPECT_NEAR(cell(grid.e, 17, 33, 5).x, std::sin(17 * 2 * 3.141592653589793 / 65), 1e-15);
    EXPECT_EQ(cell(grid.e, 0, 5, 5).x, 0.0);
    EXPECT_EQ(cell(grid.e, 5, 5, 65).y, 0.0);

    const std::vector<Cell> zero_h(grid.h.cell_count, Cell{0.0, 0.0, 0.0, 0.0});
    EXPECT_TRUE(bit_identical(snapshot(grid.h), zero_h));
    const std::vector<Cell> e_start = snapshot(grid.e);
    for (std::uint64_t t = 0; t < 40; ++t) {
        ASSERT_FALSE(made.workload->pre_step(t).has_error());
        ASSERT_FALSE(made.workload->step().has_error());
        ASSERT_FALSE(made.workload->check_step(t).has_error()) << made.workload->check_step(t).text();
    }
    EXPECT_TRUE(bit_identical(snapshot(grid.h), zero_h));
    EXPECT_TRUE(bit_identical(snapshot(grid.e), e_start));
    EXPECT_EQ(made.build->total_energy(grid), *made.probe.initial_energy);
    EXPECT_FALSE(made.workload->final_check(40).has_error());
}

TEST(StandingWave, SizeOneNinetyTwo) {
    auto made = make_allocated("standing_wave", "sse2", 192);
    ASSERT_NE(made.workload, nullptr);
    EXPECT_EQ(made.workload->updates_per_iteration(), 14'155'776u);
    ASSERT_FALSE(made.workload->initialize().has_error());
    EXPECT_NEAR(*made.probe.initial_energy, 3.520069625, 5e-9);
    EXPECT_EQ(node_count(made.probe), 1000u);
    EXPECT_FALSE(made.workload->check_step(0).has_error());
}

TEST(StandingWave, FailureTexts) {
    auto made = make_allocated("standing_wave", "sse2", 64, 3);
    ASSERT_NE(made.workload, nullptr);
    ASSERT_FALSE(made.workload->initialize().has_error());
    YeeGrid& grid = *made.probe.grid;

    // Node (0, 0, 0): reference 2.0e-6, current energy 1.0e-6.
    (*made.probe.node_reference)[0] = 2.0e-6;
    cell(grid.e, 17, 17, 17) = Cell{1.0, 1.0, 0.0, 0.0};
    EXPECT_EQ(made.workload->check_step(9).text(),
              "\nnode verification failure in thread 3\ninit_val = 0.000002\ncalc_val = 0.000001\nratio = 1.000000");

    // A node whose energy vanished.
    (*made.probe.node_reference)[0] = made.build->node_energy(grid, 17, 17, 17);
    cell(grid.e, 33, 33, 33) = Cell{0.0, 0.0, 0.0, 0.0};
    EXPECT_TRUE(made.workload->check_step(0).has_error());

    // Final energy ratio: all energy in one cell so the total is exact enough.
    for (std::uint64_t i = 0; i < grid.e.cell_count; ++i) grid.e.cells[i] = Cell{0.0, 0.0, 0.0, 0.0};
    *made.probe.initial_energy = 1.0;
    cell(grid.e, 20, 20, 20).x = std::sqrt(2.0 * 1.1 / grid.cell_volume);
    EXPECT_FALSE(made.workload->final_check(0).has_error());
    cell(grid.e, 20, 20, 20).x = std::sqrt(2.0 * 1.12 / grid.cell_volume);
    EXPECT_EQ(made.workload->final_check(0).text(),
              "\nenergy ratio failure in thread 3\nenergy_init = 1.000000\nenergy_calc = 1.120000\nratio = 0.892857");
    cell(grid.e, 20, 20, 20).x = 0.0;  // zero energy: the ratio is infinite
    EXPECT_TRUE(made.workload->final_check(0).has_error());
}

// The stationarity bound is one part in 100,000 of a node's energy: a node
// just beyond it fails, one just within passes.
TEST(StandingWave, NodeBoundIsOnePartInAHundredThousand) {
    auto made = make_allocated("standing_wave", "sse2", 64);
    ASSERT_NE(made.workload, nullptr);
    ASSERT_FALSE(made.workload->initialize().has_error());
    const double energy = made.build->node_energy(*made.probe.grid, 17, 17, 17);
    double& reference = (*made.probe.node_reference)[0];
    reference = energy * (1.0 + 1.01e-5);
    EXPECT_TRUE(made.workload->check_step(0).has_error()) << "drift of 1.01e-5 called stationary";
    reference = energy * (1.0 + 0.99e-5);
    EXPECT_FALSE(made.workload->check_step(0).has_error()) << "drift of 0.99e-5 called a failure";
    reference = energy * (1.0 - 1.01e-5);
    EXPECT_TRUE(made.workload->check_step(0).has_error());
}

TEST(StandingWave, GridsWithoutNodesCannotBeValidated) {
    // Below size 48 there is no node lattice (and no wrapped-around one).
    for (std::uint64_t size : {16u, 40u}) {
        auto made = make_allocated("standing_wave", "sse2", size);
        ASSERT_NE(made.workload, nullptr);
        EXPECT_EQ(made.workload->initialize().text(), "allocation failed for validation buffer");
    }
}

TEST(SoftGaussian, RatioTableRows) {
    const VariantFunctions& build = variant_functions(Isa::sse2);
    const auto row = [&build](std::uint64_t t) {
        const RatioRow r = build.ratio_row(t);
        return std::pair{r.expected, r.tolerance};
    };
    EXPECT_EQ(row(0), (std::pair{1.33333, 0.1}));  // 0 is not greater than 0
    EXPECT_EQ(row(1), (std::pair{1.33333, 0.1}));
    EXPECT_EQ(row(2), (std::pair{1.33333, 0.05}));
    EXPECT_EQ(row(3), (std::pair{1.34695, 0.05}));
    EXPECT_EQ(row(16), (std::pair{1.45889, 0.05}));
    EXPECT_EQ(row(37), (std::pair{1.51892, 0.025}));
    EXPECT_EQ(row(100), (std::pair{1.51892, 0.025}));
    EXPECT_EQ(row(101), (std::pair{1.51955, 0.01}));
    EXPECT_EQ(row(116), (std::pair{1.51955, 0.01}));
    EXPECT_EQ(row(117), (std::pair{1.51904, 0.01}));
    EXPECT_EQ(row(UINT64_MAX), (std::pair{1.51904, 0.01}));
}

TEST(SoftGaussian, EnergyRatioFollowsTheCurve) {
    auto made = make_allocated("soft_gaussian", "sse2", 64);
    ASSERT_NE(made.workload, nullptr);
    ASSERT_FALSE(made.workload->initialize().has_error());
    const double& injected = *made.probe.injected_energy;
    EXPECT_EQ(injected, 0.0);
    const std::map<std::uint64_t, double> checkpoints = {
        {0, 1.333333}, {1, 1.333333}, {2, 1.346955}, {15, 1.458892}};
    for (std::uint64_t t = 0; t < 200; ++t) {
        ASSERT_FALSE(made.workload->pre_step(t).has_error());
        ASSERT_FALSE(made.workload->step().has_error());
        const MaybeError check = made.workload->check_step(t);
        ASSERT_FALSE(check.has_error()) << "step " << t << check.text();
        const double ratio = injected / made.build->total_energy(*made.probe.grid);
        if (const auto found = checkpoints.find(t); found != checkpoints.end()) {
            EXPECT_NEAR(ratio, found->second, 5.0e-7) << "step " << t;
        }
        if (t >= 36) {
            EXPECT_NEAR(ratio, 1.5189, 0.001) << "step " << t;
        }
    }
    // The pulse is long gone: its kicks underflow and nothing more is booked.
    const double booked = injected;
    ASSERT_FALSE(made.workload->pre_step(100'000).has_error());
    EXPECT_EQ(injected, booked);
    EXPECT_FALSE(made.workload->final_check(200).has_error());
}

TEST(SoftGaussian, FailureTexts) {
    auto made = make_allocated("soft_gaussian", "sse2", 64, 3);
    ASSERT_NE(made.workload, nullptr);
    ASSERT_FALSE(made.workload->initialize().has_error());
    // No energy in the grid: the ratio is not finite.
    const std::string empty = made.workload->check_step(0).text();
    EXPECT_EQ(empty.rfind("\nenergy ratio failure in thread 3\nenergy_acc = 0.000000\nenergy_calc = 0.000000\nratio = ", 0),
              0u);

    cell(made.probe.grid->e, 10, 10, 10) = Cell{1.0, 1.0, 0.0, 0.0};
    *made.probe.injected_energy = 3.0 * made.probe.grid->cell_volume;
    EXPECT_EQ(made.workload->check_step(50).text(),
              "\nenergy ratio failure in thread 3\nenergy_acc = 0.000003\nenergy_calc = 0.000001\nratio = 3.000000");
    *made.probe.injected_energy = 1.5189 * made.probe.grid->cell_volume;
    EXPECT_FALSE(made.workload->check_step(50).has_error());
}

}  // namespace
}  // namespace nembo
