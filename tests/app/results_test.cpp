#include <gtest/gtest.h>

#include "app/results.hpp"
#include "platform/cpu.hpp"
#include "tests/app/capture.hpp"

namespace nembo {
namespace {

using test::CapturedOutput;

RunOutcome outcome_of(std::vector<ThreadResult> results, std::uint64_t size = 192, std::uint32_t duration = 30,
                      std::string workload = "standing_wave") {
    RunOutcome outcome;
    outcome.thread_count = static_cast<std::uint32_t>(results.size());
    outcome.results = std::move(results);
    outcome.workload = std::move(workload);
    outcome.isa = "sse2";
    outcome.size = size;
    outcome.duration_s = duration;
    outcome.cpu_brand = read_cpu_brand();
    return outcome;
}

TEST(ResultTable, WidthsComeFromHeadingsAndCells) {
    // A single short row: every width is its heading's.
    EXPECT_EQ(format_result_table({{0, 30000, 30000000, 7, 700}}),
              "thread  grid updates    time  MGups  iterations\n"
              "     0           700  30.00s   0.00           7\n");
    // Long cells widen their own column only.
    EXPECT_EQ(format_result_table({{1, 30010, 30010000, 12345, 123456789012345},
                                   {0, 30000, 30000000, 1, 14155776}}),
              "thread     grid updates    time       MGups  iterations\n"
              "     1  123456789012345  30.01s  4113855.02       12345\n"
              "     0         14155776  30.00s        0.47           1\n");
}

TEST(Score, FormatSwitchesAboveOneHundred) {
    EXPECT_EQ(format_score(100.0), "100 MGups");
    EXPECT_EQ(format_score(100.004), "100.00 MGups");
    EXPECT_EQ(format_score(87.654), "87.65 MGups");
    EXPECT_EQ(format_score(2376.031), "2376.03 MGups");
    EXPECT_EQ(format_score(0.5), "0.5 MGups");
}

TEST(Submission, ViolationsInRuleOrder) {
    EXPECT_TRUE(hwbot_rule_violations(192, 30, "standing_wave").empty());
    EXPECT_TRUE(hwbot_rule_violations(256, 30, "standing_wave").empty());
    EXPECT_EQ(hwbot_rule_violations(128, 30, "standing_wave"),
              std::vector<std::string>{"grid size 128 is below the minimum of 192"});
    EXPECT_EQ(hwbot_rule_violations(64, 10, "soft_gaussian"),
              (std::vector<std::string>{"grid size 64 is below the minimum of 192",
                                        "configured duration 10s must be 30s for hwbot submissions",
                                        "workload soft_gaussian must be standing_wave for hwbot submissions"}));
    EXPECT_EQ(hwbot_rule_violations(192, 30, "Standing_wave").size(), 1u);
}

TEST(Report, ValidRunPrintsVerdictAndScore) {
    CapturedOutput io;
    // Two workers of 100 and 50 MGups: the score is the sum of the rates.
    const auto score = report_results(outcome_of({{1, 30000, 30000000, 10, 3000000000},
                                                  {0, 30001, 30000999, 10, 1500000000}}));
    ASSERT_TRUE(score.has_value());
    EXPECT_NEAR(*score, 100.0 + 1500.0 / 30.000999, 1e-9);
    const std::string brand = read_cpu_brand();
    EXPECT_EQ(io.out(),
              "thread  grid updates    time   MGups  iterations\n"
              "     1    3000000000  30.00s  100.00          10\n"
              "     0    1500000000  30.00s   50.00          10\n"
              "===============\n"
              "  valid result \n"
              "===============\n"
              "nembo v1.2.2 standing_wave 192^3 grid sse2\n" +
                  brand + "\nfinal score: 150.00 MGups\n");
    EXPECT_EQ(io.err(), "");
}

TEST(Report, RuleViolationsStillScore) {
    CapturedOutput io;
    const auto score = report_results(outcome_of({{0, 1000, 1000000, 10, 87654000}}, 64, 1));
    ASSERT_TRUE(score.has_value());
    const std::string out = io.out();
    EXPECT_NE(out.find("====================\n  workload verified \n====================\n"), std::string::npos);
    EXPECT_NE(out.find("nembo v1.2.2 standing_wave 64^3 grid sse2\n"), std::string::npos);
    EXPECT_NE(out.find("final score: 87.65 MGups\n==========\n  warning \n==========\n"), std::string::npos);
    EXPECT_EQ(io.err(),
              "non default options used: grid size 64 is below the minimum of 192\n"
              "configured duration 1s must be 30s for hwbot submissions\n"
              "this score is not valid for submission to hwbot\n");
}

TEST(Report, TimerCrossCheckTolerance) {
    {
        CapturedOutput io;  // 30,000 ms against 30,031 ms: 31 passes
        EXPECT_TRUE(report_results(outcome_of({{0, 30031, 30000999, 1, 1}})).has_value());
    }
    {
        CapturedOutput io;  // 32 fails; only the first offender is reported
        EXPECT_FALSE(report_results(outcome_of({{2, 30000, 30000000, 1, 1},
                                                {1, 30032, 30000000, 1, 1},
                                                {0, 29000, 30000000, 1, 1}}))
                         .has_value());
        EXPECT_EQ(io.err(),
                  "=================\n  invalid result \n=================\n"
                  "disagreement between timers for total work is larger than tolerance\n"
                  "fast timer = 30000ms    coarse timer = 30032ms\n"
                  "difference of 32ms\n");
        // The table is printed before the check, and nothing after it.
        EXPECT_EQ(io.out().find("final score"), std::string::npos);
        EXPECT_EQ(io.out().rfind("thread", 0), 0u);
    }
}

TEST(Report, IncompleteOrStoppedRunsHaveNoScore) {
    {
        CapturedOutput io;
        RunOutcome abandoned = outcome_of({});
        abandoned.thread_count = 2;
        EXPECT_FALSE(report_results(abandoned).has_value());
        EXPECT_EQ(io.out(), "");
        EXPECT_EQ(io.err(),
                  "=================\n  invalid result \n=================\nnot all threads produced a result\n");
    }
    {
        CapturedOutput io;
        RunOutcome stopped = outcome_of({{0, 1000, 1000000, 1, 1}});
        stopped.stop_requested = true;
        EXPECT_FALSE(report_results(stopped).has_value());
        EXPECT_EQ(io.out(), "");
        EXPECT_EQ(io.err(), "=================\n  invalid result \n=================\n");
    }
}

}  // namespace
}  // namespace nembo
