// Sweep schedules: every schedule of the table gives every build's fields bit
// for bit the same, the calibration times each of them and leaves the fields
// as the workload set them up, the choice and slab rules, and the names.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <string>
#include <vector>

#include "solver/schedule.hpp"
#include "tests/solver/solver_support.hpp"

namespace nembo {
namespace {

using solver_test::all_isas;
using solver_test::bit_identical;
using solver_test::make_allocated;
using solver_test::runnable;
using solver_test::snapshot;

// The driven soft Gaussian, stepped with one forced schedule. Size 64 sweeps
// 63 planes: fifteen four-plane groups and three planes left over, which the
// wave reaches well within 100 steps (the unsanitized builds take them all).
void run_soft_gaussian(std::string_view isa, Schedule schedule, std::uint64_t steps, std::vector<Cell>& e,
                       std::vector<Cell>& h) {
    auto made = make_allocated("soft_gaussian", isa, 64);
    ASSERT_NE(made.workload, nullptr);
    ASSERT_FALSE(made.workload->initialize().has_error());
    made.build->use_schedule(*made.workload, schedule);
    for (std::uint64_t t = 0; t < steps; ++t) {
        ASSERT_FALSE(made.workload->pre_step(t).has_error());
        ASSERT_FALSE(made.workload->step().has_error());
        ASSERT_FALSE(made.workload->check_step(t).has_error()) << "step " << t;
    }
    e = snapshot(made.probe.grid->e);
    h = snapshot(made.probe.grid->h);
}

// One test per build, so that the builds' runs can go to different test
// shards.
class EverySchedule : public testing::TestWithParam<std::string_view> {};

TEST_P(EverySchedule, GivesTheSameFieldsInThisBuild) {
    NEMBO_SKIP_SINGLE_THREADED_UNDER_TSAN();
    const std::string_view isa = GetParam();
    if (!runnable(isa)) GTEST_SKIP() << "this processor cannot run the " << isa << " build";
    std::vector<Cell> plain_e, plain_h;
    const std::uint64_t steps = solver_test::steps_in_this_build(100);
    run_soft_gaussian(isa, Schedule::plain, steps, plain_e, plain_h);
    for (const ScheduleRow& row : schedule_table) {
        if (row.schedule == Schedule::plain) continue;
        SCOPED_TRACE(row.name);
        std::vector<Cell> e, h;
        run_soft_gaussian(isa, row.schedule, steps, e, h);
        EXPECT_TRUE(bit_identical(e, plain_e));
        EXPECT_TRUE(bit_identical(h, plain_h));
    }
}

INSTANTIATE_TEST_SUITE_P(Builds, EverySchedule, testing::ValuesIn(all_isas),
                         [](const testing::TestParamInfo<std::string_view>& param_info) {
                             std::string name(param_info.param);
                             for (char& c : name) {
                                 if (c == '-') c = '_';
                             }
                             return name;
                         });

// The calibration runs sweeps inside initialize(); they must leave nothing
// behind: the soft Gaussian's fields stay zero, and the standing wave's are
// those of a grid set up without any calibration (its E start and zero H).
TEST(Schedules, CalibrationLeavesTheFieldsAsSetUp) {
    for (std::string_view isa : all_isas) {
        if (!runnable(isa)) continue;
        SCOPED_TRACE(std::string(isa));
        auto gaussian = make_allocated("soft_gaussian", isa, 64);
        ASSERT_NE(gaussian.workload, nullptr);
        ASSERT_FALSE(gaussian.workload->initialize().has_error());
        const std::vector<Cell> zero(gaussian.probe.grid->e.cell_count, Cell{0.0, 0.0, 0.0, 0.0});
        EXPECT_TRUE(bit_identical(snapshot(gaussian.probe.grid->e), zero));
        EXPECT_TRUE(bit_identical(snapshot(gaussian.probe.grid->h), zero));
        EXPECT_GE(gaussian.build->schedule_calibration(*gaussian.workload).rounds, calibration_min_rounds);
        EXPECT_EQ(gaussian.build->stepping_schedule(*gaussian.workload),
                  gaussian.build->schedule_calibration(*gaussian.workload).picked);

        auto wave = make_allocated("standing_wave", isa, 64);
        ASSERT_NE(wave.workload, nullptr);
        ASSERT_FALSE(wave.workload->initialize().has_error());
        EXPECT_GE(wave.build->schedule_calibration(*wave.workload).rounds, calibration_min_rounds);
        EXPECT_TRUE(bit_identical(snapshot(wave.probe.grid->h), zero));
        // The start as the standing wave writes it: (sin(x k / (N - 1)), sin(y k / (N - 1)), 0, 0)
        // inside, zero on the outer layer, k = ((N - 2) >> 5) pi.
        const FieldBlock& e = wave.probe.grid->e;
        const std::uint64_t n = e.edge;
        const double k = static_cast<double>((n - 2) >> 5) * 3.141592653589793;
        std::uint64_t wrong = 0;
        for (std::uint64_t x = 0; x < n; ++x) {
            for (std::uint64_t y = 0; y < n; ++y) {
                for (std::uint64_t z = 0; z < n; ++z) {
                    const bool inner = x >= 1 && x <= n - 2 && y >= 1 && y <= n - 2 && z >= 1 && z <= n - 2;
                    const Cell& c = e.cells[(x * n + y) * n + z];
                    const double ex = inner ? std::sin((static_cast<double>(x) * k) / static_cast<double>(n - 1)) : 0.0;
                    const double ey = inner ? std::sin((static_cast<double>(y) * k) / static_cast<double>(n - 1)) : 0.0;
                    if (c.x != ex || c.y != ey || c.z != 0.0 || c.pad != 0.0) ++wrong;
                }
            }
        }
        EXPECT_EQ(wrong, 0u);
    }
}

// Every schedule of the table is a candidate: one the calibration never ran
// would keep a time of zero, and so a relative figure of zero that always
// wins.
TEST(Schedules, CalibrationTimesEveryScheduleOfTheTable) {
    auto made = make_allocated("soft_gaussian", "sse2", 64);
    ASSERT_NE(made.workload, nullptr);
    ASSERT_FALSE(made.workload->initialize().has_error());
    const ScheduleChoice choice = made.build->schedule_calibration(*made.workload);
    for (const ScheduleRow& row : schedule_table) {
        EXPECT_GT(choice.relative[static_cast<std::uint32_t>(row.schedule)], 0.0) << row.name;
    }
}

// A value in no row of the table is no schedule: a step forced to it fails
// and says so, rather than sweeping under some other schedule; the last row
// still steps.
TEST(Schedules, AValueOutsideTheTableFailsTheStep) {
    for (std::string_view isa : all_isas) {
        if (!runnable(isa)) continue;
        SCOPED_TRACE(std::string(isa));
        auto made = make_allocated("soft_gaussian", isa, 16, 4);
        ASSERT_NE(made.workload, nullptr);
        ASSERT_FALSE(made.workload->initialize().has_error());
        made.build->use_schedule(*made.workload, static_cast<Schedule>(schedule_count));
        EXPECT_EQ(made.workload->step().text(), "solver H step error in thread 4");
        made.build->use_schedule(*made.workload, schedule_table[schedule_count - 1].schedule);
        EXPECT_FALSE(made.workload->step().has_error());
    }
}

// The choice tests below write out five times a round, one per schedule of
// the table: a schedule more needs its column in each of them.
static_assert(schedule_count == 5, "the choice tests' rounds have one time per schedule");

TEST(Schedules, ChoiceIsTheBestMedianRelativeToEachRound) {
    // groups is 10% faster than plain throughout. Round 1 ran three times
    // slower as a whole (that cancels out); in round 2 plain alone ran fast,
    // as when another worker pauses (one round does not decide).
    const double times[] = {
        1.0, 1.2, 0.9, 1.1, 1.3,  // round 0, mean 1.1
        3.0, 3.6, 2.7, 3.3, 3.9,  // round 1
        0.5, 1.2, 0.9, 1.1, 1.3,  // round 2, mean 1.0
    };
    const ScheduleChoice choice = choose_schedule(times, 3);
    EXPECT_EQ(choice.picked, Schedule::groups);
    EXPECT_EQ(choice.rounds, 3u);
    EXPECT_NEAR(choice.relative[0], 1.0 / 1.1, 1e-12);
    EXPECT_NEAR(choice.relative[1], 1.2 / 1.1, 1e-12);
    EXPECT_NEAR(choice.relative[2], 0.9 / 1.1, 1e-12);
    EXPECT_NEAR(choice.relative[3], 1.1 / 1.1, 1e-12);
    EXPECT_NEAR(choice.relative[4], 1.3 / 1.1, 1e-12);
    // With two rounds the median is the mean of both.
    const ScheduleChoice two = choose_schedule(times + schedule_count, 2);
    EXPECT_NEAR(two.relative[0], 0.5 * (1.0 / 1.1 + 0.5 / 1.0), 1e-12);
}

TEST(Schedules, ChoiceTiesAndNoRoundsGoToPlain) {
    const double level[] = {1.0, 1.0, 1.0, 1.0, 1.0};
    EXPECT_EQ(choose_schedule(level, 1).picked, Schedule::plain);
    const double later_tie[] = {2.0, 1.0, 1.0, 1.5, 1.0};
    EXPECT_EQ(choose_schedule(later_tie, 1).picked, Schedule::prefetch);
    const double zero[] = {0.0, 0.0, 0.0, 0.0, 0.0};  // a clock too coarse to see the sweeps
    EXPECT_EQ(choose_schedule(zero, 1).picked, Schedule::plain);
    EXPECT_EQ(choose_schedule(nullptr, 0).picked, Schedule::plain);
    EXPECT_EQ(choose_schedule(nullptr, 0).rounds, 0u);
}

TEST(Schedules, ChoiceReadsNoMoreThanTheMostRounds) {
    std::vector<double> times((calibration_max_rounds + 1) * schedule_count, 1.0);
    for (std::uint32_t r = calibration_max_rounds / 2 + 1; r <= calibration_max_rounds; ++r) {
        times[r * schedule_count + 3] = 0.1;  // a majority only with the round past the last one read
    }
    const ScheduleChoice choice = choose_schedule(times.data(), calibration_max_rounds + 1);
    EXPECT_EQ(choice.picked, Schedule::plain);
    EXPECT_EQ(choice.rounds, calibration_max_rounds);
}

TEST(Schedules, SlabIsWholePlanesInFoursWithinTheSweeps) {
    EXPECT_EQ(calibration_planes(3), 0u);
    EXPECT_EQ(calibration_planes(4), 1u);                  // all the planes a sweep updates
    EXPECT_EQ(calibration_planes(66), 63u);                // size 64: the whole grid
    const std::uint64_t at_192 = calibration_planes(194);  // size 192: a slab
    EXPECT_EQ(at_192 % 4, 0u);
    EXPECT_GE(at_192 * 194 * 194, calibration_slab_cells);
    EXPECT_LT((at_192 - 4) * 194 * 194, calibration_slab_cells);
    for (std::uint64_t edge : {130u, 194u, 258u, 1026u}) EXPECT_LE(calibration_planes(edge), edge - 3);
}

TEST(Schedules, NamesAreDistinct) {
    EXPECT_STREQ(schedule_name(Schedule::plain), "plain");
    EXPECT_STREQ(schedule_name(Schedule::prefetch), "prefetch");
    EXPECT_STREQ(schedule_name(Schedule::groups), "groups");
    EXPECT_STREQ(schedule_name(Schedule::groups_prefetch), "groups+prefetch");
    EXPECT_STREQ(schedule_name(Schedule::groups_l2_prefetch), "groups+l2prefetch");
}

// The benchmark's tables, its JSON rows and the picks it reports tell the
// schedules apart by name alone; and a value that is no schedule is not
// named as one.
TEST(Schedules, TheTableNamesEachScheduleOnceAndNoOtherValue) {
    for (std::uint32_t i = 0; i < schedule_count; ++i) {
        EXPECT_STRNE(schedule_table[i].name, "unknown");
        for (std::uint32_t j = i + 1; j < schedule_count; ++j) {
            EXPECT_STRNE(schedule_table[i].name, schedule_table[j].name);
        }
    }
    EXPECT_STREQ(schedule_name(static_cast<Schedule>(schedule_count)), "unknown");
    EXPECT_STREQ(schedule_name(static_cast<Schedule>(UINT32_MAX)), "unknown");
}

}  // namespace
}  // namespace nembo
