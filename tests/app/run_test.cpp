// A whole run with workloads that fail on demand: every worker ends, the
// texts are the workers' own, and nobody is left waiting at the barrier.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <limits>
#include <optional>
#include <thread>

#include "app/results.hpp"
#include "app/run.hpp"
#include "app/timed_loop.hpp"
#include "tests/app/capture.hpp"

namespace nembo {
namespace {

using test::CapturedOutput;

enum class Stage { none, create, allocate, initialize, check_step, final_check };

class ScriptedWorkload : public Workload {
public:
    ScriptedWorkload(std::uint32_t index, Stage fail_at) : Workload(index), fail_at_(fail_at) {}
    MaybeError allocate(const GridParams&) override { return fail(Stage::allocate, "field allocation failed"); }
    MaybeError initialize() override { return fail(Stage::initialize, "scripted initialisation failure"); }
    MaybeError pre_step(std::uint64_t) override { return {}; }
    MaybeError step() override {
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
        return {};
    }
    MaybeError check_step(std::uint64_t) override { return fail(Stage::check_step, "\nscripted step failure"); }
    MaybeError final_check(std::uint64_t) override { return fail(Stage::final_check, "\nscripted final failure"); }
    std::uint64_t updates_per_iteration() const override { return 1000; }

private:
    MaybeError fail(Stage stage, const char* text) const {
        if (stage == fail_at_) return MaybeError(text);
        return {};
    }
    Stage fail_at_;
};

struct Fixture {
    bool large_pages = false;
    Placement placement;
    RunEnvironment env = RunEnvironment::system();

    explicit Fixture(std::uint32_t workers, Stage stage = Stage::none, std::uint32_t failing = 2) {
        placement.thread_count = workers;
        env.create_workload = [stage, failing](std::string_view, std::string_view,
                                               std::uint32_t index) -> std::unique_ptr<Workload> {
            const Stage mine = index == failing ? stage : Stage::none;
            if (mine == Stage::create) return nullptr;
            return std::make_unique<ScriptedWorkload>(index, mine);
        };
        env.check_isa_support = [](std::string_view) { return MaybeError(); };
        env.fast_timer_is_compliant = [](const TimerInfo&) { return true; };
    }

    RunParameters params(std::uint32_t duration = 1) const {
        return RunParameters{large_pages, placement, "standing_wave", "sse2", false, duration, 64, false, "os"};
    }
};

struct FailureCase {
    Stage stage;
    const char* name;
    std::string text;
};

class RunFailure : public ::testing::TestWithParam<FailureCase> {};

TEST_P(RunFailure, OneOfFourWorkersFails) {
    const FailureCase& c = GetParam();
    Fixture fx(4, c.stage);
    CapturedOutput io;
    // A step that fails ends the run long before a 10-second duration.
    const RunOutcome outcome = execute_run(fx.params(c.stage == Stage::check_step ? 10 : 1), fx.env);
    EXPECT_TRUE(outcome.stop_requested);
    EXPECT_EQ(outcome.thread_count, 4u);
    EXPECT_NE(io.err().find(c.text), std::string::npos) << io.err();
    const bool before_start = c.stage == Stage::create || c.stage == Stage::allocate || c.stage == Stage::initialize;
    if (before_start) {
        EXPECT_TRUE(outcome.results.empty());
        EXPECT_EQ(io.out().find("starting bench.."), std::string::npos);
    }
    if (c.stage == Stage::create || c.stage == Stage::allocate) {
        EXPECT_EQ(io.out().find("initalizing fields..."), std::string::npos);
    }
    if (c.stage == Stage::check_step) {
        // The others see the stop in their timed loop and end there: none of
        // them validates or hands in a result, and worker 0 leaves its last
        // progress line open.
        EXPECT_TRUE(outcome.results.empty());
        EXPECT_EQ(io.out().find("validating result.."), std::string::npos);
        EXPECT_EQ(io.out().find(" iterations\n"), std::string::npos);
    }
    EXPECT_FALSE(report_results(outcome).has_value());
}

INSTANTIATE_TEST_SUITE_P(
    EachStage, RunFailure,
    ::testing::Values(
        FailureCase{Stage::create, "create", "could not initalize workload standing_wave in thread 2\n"},
        FailureCase{Stage::allocate, "allocate", "field allocation failed in thread 2\nfield allocation failed\n"},
        FailureCase{Stage::initialize, "initialize",
                    "failed to initalize field in thread 2\nscripted initialisation failure\n"},
        FailureCase{Stage::check_step, "check_step", "\nscripted step failure\n"},
        FailureCase{Stage::final_check, "final_check", "\nscripted final failure\n"}),
    [](const ::testing::TestParamInfo<FailureCase>& param) { return std::string(param.param.name); });

TEST(Run, WorkerThreadThatCannotBeCreated) {
    Fixture fx(4);
    fx.env.may_start_thread = [](std::uint32_t index) { return index != 2; };
    CapturedOutput io;
    const RunOutcome outcome = execute_run(fx.params(), fx.env);
    EXPECT_TRUE(outcome.stop_requested);
    EXPECT_TRUE(outcome.results.empty());
    EXPECT_EQ(io.err(), "could not start worker thread 2; aborting\n");
    EXPECT_EQ(io.out().find("initalizing fields..."), std::string::npos);
}

TEST(Run, TwoWorkersCompleteAndDescribeTheRun) {
    Fixture fx(2);
    CapturedOutput io;
    const RunOutcome outcome = execute_run(fx.params(), fx.env);
    EXPECT_FALSE(outcome.stop_requested);
    ASSERT_EQ(outcome.results.size(), 2u);
    for (const ThreadResult& r : outcome.results) {
        EXPECT_GE(r.coarse_ms, 1000);
        EXPECT_GE(r.iterations, 1u);
        EXPECT_EQ(r.grid_updates, r.iterations * 1000);
        // The two clocks agree within the results' tolerance (the coarse
        // one ticks only every few milliseconds).
        EXPECT_LT(std::llabs(r.fast_us / 1000 - r.coarse_ms), 32);
    }
    const std::string out = io.out();
    EXPECT_NE(out.find("running with 2 threads (os)\n64 x 64 x 64 grid\n17.55 MiB per thread\n35.09 MiB total\n"),
              std::string::npos)
        << out;
    EXPECT_NE(out.find("allocating fields.... \ninitalizing fields...\ninitialization took "), std::string::npos);
    // Worker 1 may have finished iterations before worker 0 draws its first
    // progress line; the seconds shown are still 0.
    const std::string first = "ms\nstarting bench..\n\rbenchmarking... 0/1s ";
    const std::size_t at = out.find(first);
    ASSERT_NE(at, std::string::npos) << out;
    const std::string segment = out.substr(at + first.size(), out.find('\r', at + first.size()) - at - first.size());
    // The rate in 16 columns, then the largest iteration count.
    ASSERT_GT(segment.size(), 16u) << segment;
    EXPECT_EQ(segment.substr(16, 8), " MGups  ") << segment;
    EXPECT_EQ(segment.substr(segment.size() - 11), " iterations") << segment;
    EXPECT_NE(out.find(" iterations\nvalidating result..\n"), std::string::npos);
    EXPECT_EQ(io.err(), "");
}

TEST(Run, TimerRuleAbortsUnlessBypassed) {
    Fixture fx(1);
    fx.env.fast_timer_is_compliant = [](const TimerInfo&) { return false; };
    {
        CapturedOutput io;
        const RunOutcome outcome = execute_run(fx.params(), fx.env);
        EXPECT_FALSE(outcome.stop_requested);
        EXPECT_TRUE(outcome.results.empty());
        const std::string err = io.err();
        EXPECT_EQ(err.rfind("Fast Timer is not HWBOT compliant (fast timer source: ", 0), 0u) << err;
        EXPECT_NE(err.find("); aborting\nUse --bypass-timer-check to run regardless if you are sure that this is a "
                           "detection error in terms of your windows version, processor, or timer\n"),
                  std::string::npos);
        // Abandoned after the two frequency lines.
        const std::string out = io.out();
        EXPECT_NE(out.find("\nCoarse Timer Frequency: "), std::string::npos);
        EXPECT_EQ(out.find("allocating"), std::string::npos);
    }
    {
        RunParameters bypass = fx.params();
        bypass.bypass_timer_check = true;
        CapturedOutput io;
        const RunOutcome outcome = execute_run(bypass, fx.env);
        EXPECT_EQ(outcome.results.size(), 1u);
        const std::string err = io.err();
        EXPECT_EQ(err.rfind("==========\n  warning \n==========\nFast timer is not compliant with HWBOT rules (fast "
                            "timer source: ",
                            0),
                  0u)
            << err;
        EXPECT_NE(err.find(")\nCheck that this is a detection error in terms of your windows version, processor, "
                           "or timer before submitting\n"),
                  std::string::npos);
    }
}

// A counter that reads 11 seconds before its largest value, at 1000 counts
// a second; a run looks two seconds past its duration.
struct ClockNearItsEnd {
    static TimerInfo info() { return TimerInfo{1000, 0, TimerSource::hpet}; }
    static std::int64_t reading() { return std::numeric_limits<std::int64_t>::max() - 11'000; }
};

TEST(Run, OverflowPredictionLooksTwoSecondsPastTheDuration) {
    for (const bool fast_clock : {true, false}) {
        SCOPED_TRACE(fast_clock ? "fast timer" : "coarse timer");
        // Should the run start, its only worker gives up at once.
        Fixture fx(1, Stage::create, 0);
        if (fast_clock) {
            fx.env.describe_fast_timer = ClockNearItsEnd::info;
            fx.env.read_fast_timer = ClockNearItsEnd::reading;
        } else {
            fx.env.describe_coarse_timer = ClockNearItsEnd::info;
            fx.env.read_coarse_timer = ClockNearItsEnd::reading;
        }
        {
            CapturedOutput io;
            const RunOutcome outcome = execute_run(fx.params(9), fx.env);
            EXPECT_FALSE(outcome.stop_requested);
            EXPECT_TRUE(outcome.results.empty());
            EXPECT_EQ(io.err(), fast_clock ? "fast timer will overflow during the run; aborting\n"
                                           : "coarse timer will overflow during the run; aborting\n");
            const std::string out = io.out();
            const std::string shown = fast_clock ? "Fast Timer Frequency: 1.00 KHz (HPET)\nCoarse Timer Frequency: "
                                                 : "\nCoarse Timer Frequency: 1.00 KHz\n";
            EXPECT_NE(out.find(shown), std::string::npos) << out;
            EXPECT_EQ(out.find("allocating"), std::string::npos) << out;
        }
        {
            CapturedOutput io;
            const RunOutcome outcome = execute_run(fx.params(8), fx.env);
            EXPECT_TRUE(outcome.stop_requested);
            EXPECT_EQ(io.err(), "could not initalize workload standing_wave in thread 0\n");
        }
    }
    // Both near their end: the fast timer is asked first, and alone.
    Fixture fx(1, Stage::create, 0);
    fx.env.describe_fast_timer = fx.env.describe_coarse_timer = ClockNearItsEnd::info;
    fx.env.read_fast_timer = fx.env.read_coarse_timer = ClockNearItsEnd::reading;
    CapturedOutput io;
    execute_run(fx.params(30), fx.env);
    EXPECT_EQ(io.err(), "fast timer will overflow during the run; aborting\n");
}

TEST(Run, InstructionSetCheckWarnsOrAborts) {
    Fixture fx(1);
    fx.env.check_isa_support = [](std::string_view) {
        return MaybeError("avx512f support not detected\navx512vl support not detected\n");
    };
    const std::string warning =
        "==========\n  warning \n==========\navx512f support not detected\navx512vl support not detected\n";
    {
        RunParameters strict = fx.params();
        strict.strict_isa_check = true;
        CapturedOutput io;
        const RunOutcome outcome = execute_run(strict, fx.env);
        EXPECT_TRUE(outcome.results.empty());
        EXPECT_FALSE(outcome.stop_requested);
        EXPECT_EQ(io.err(), warning + "isa support check failed; aborting\n");
        EXPECT_EQ(io.out().find("running with"), std::string::npos);
    }
    {
        CapturedOutput io;
        const RunOutcome outcome = execute_run(fx.params(), fx.env);
        EXPECT_EQ(outcome.results.size(), 1u);
        EXPECT_EQ(io.err(), warning);
        EXPECT_NE(io.out().find("running with 1 thread (os)\n"), std::string::npos);
    }
}

// Two real processors as their CPUID answers them (the leaves a run reads,
// from each one's dump, processor 0), with the XCR0 their systems set.
CpuidTable ryzen_9_9950x() {
    CpuidTable t;
    t.set(0, 0, {0x00000010, 0x68747541, 0x444D4163, 0x69746E65})
        .set(1, 0, {0x00B40F40, 0x00200800, 0x7ED8320B, 0x178BFBFF})
        .set(7, 0, {0x00000001, 0xF1BF97AB, 0x19405FCE, 0x10000110})
        .set(7, 1, {0x00000030, 0, 0, 0})
        .set(0x80000000, 0, {0x80000028, 0x68747541, 0x444D4163, 0x69746E65})
        .set(0x80000001, 0, {0x00B40F40, 0x00000000, 0x75C237FF, 0x2FD3FBFF})
        .set(0x80000002, 0, {0x20444D41, 0x657A7952, 0x2039206E, 0x30353939})
        .set(0x80000003, 0, {0x36312058, 0x726F432D, 0x72502065, 0x7365636F})
        .set(0x80000004, 0, {0x20726F73, 0x20202020, 0x20202020, 0x00202020})
        .set(0x80000007, 0, {0x00000000, 0x0000003B, 0x00000000, 0x00006599})
        .set_xcr0(0x2E7);
    return t;
}

CpuidTable core_i7_6500u() {
    CpuidTable t;
    t.set(0, 0, {0x00000016, 0x756E6547, 0x6C65746E, 0x49656E69})
        .set(1, 0, {0x000406E3, 0x00100800, 0x7FFAFBBF, 0xBFEBFBFF})
        .set(7, 0, {0x00000000, 0x029C67AF, 0x00000000, 0x00000000})
        .set(0x15, 0, {0x00000002, 0x000000D8, 0x00000000, 0x00000000})
        .set(0x16, 0, {0x00000A28, 0x00000C1C, 0x00000064, 0x00000000})
        .set(0x80000000, 0, {0x80000008, 0, 0, 0})
        .set(0x80000001, 0, {0x00000000, 0x00000000, 0x00000121, 0x2C100000})
        .set(0x80000002, 0, {0x65746E49, 0x2952286C, 0x726F4320, 0x4D542865})
        .set(0x80000003, 0, {0x37692029, 0x3035362D, 0x43205530, 0x40205550})
        .set(0x80000004, 0, {0x352E3220, 0x7A484730, 0x00000000, 0x00000000})
        .set(0x80000007, 0, {0x00000000, 0x00000000, 0x00000000, 0x00000100})
        .set_xcr0(0x7);
    return t;
}

std::vector<std::string> lines_of(const std::string& text) {
    std::vector<std::string> lines;
    for (std::size_t begin = 0; begin < text.size();) {
        const std::size_t end = text.find('\n', begin);
        lines.push_back(text.substr(begin, end - begin));
        begin = end == std::string::npos ? text.size() : end + 1;
    }
    return lines;
}

// The whole run on an imagined processor, on any host: the run names it
// first and last, lists its features, checks the instruction set against
// it and applies the timer rule to it.
TEST(Run, ImaginedProcessorsNameTheRunAndDecideItsChecks) {
    struct Case {
        const char* name;
        CpuidTable table;
        std::string brand;
        bool timer_compliant;  // an Intel processor of model 0x4E or later passes with a TSC
        bool has_avx512f;
    };
    const Case cases[] = {
        {"Ryzen 9 9950X", ryzen_9_9950x(), "AMD Ryzen 9 9950X 16-Core Processor" + std::string(12, ' '), false, true},
        {"Core i7-6500U", core_i7_6500u(), "Intel(R) Core(TM) i7-6500U CPU @ 2.50GHz", true, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const MachineFacts facts = read_machine_facts(c.table, false);
        Fixture fx(1);
        const RunEnvironment scripted = fx.env;
        fx.env = RunEnvironment::system(facts);
        fx.env.create_workload = scripted.create_workload;
        // This system's fast timer, which the workers read, named a TSC
        // whatever it is: the rule then depends on the processor alone.
        fx.env.describe_fast_timer = [] {
            TimerInfo fast = describe_fast_timer();
            fast.source = TimerSource::tsc;
            return fast;
        };

        RunParameters params = fx.params();
        params.isa = "avx512f";
        params.strict_isa_check = true;
        params.bypass_timer_check = true;
        std::optional<double> score;
        CapturedOutput io;
        const RunOutcome outcome = execute_run(params, fx.env);
        if (!outcome.results.empty()) score = report_results(outcome);
        const std::vector<std::string> out = lines_of(io.out());
        ASSERT_GE(out.size(), 2u);
        EXPECT_EQ(out[0], c.brand);
        EXPECT_EQ(out[1], cpu_feature_list(facts.features));
        EXPECT_EQ(io.err().find("Fast timer is not compliant") == std::string::npos, c.timer_compliant) << io.err();
        if (!c.has_avx512f) {
            EXPECT_NE(io.err().find("isa support check failed; aborting"), std::string::npos) << io.err();
            EXPECT_TRUE(outcome.results.empty());
            continue;
        }
        ASSERT_TRUE(score.has_value()) << io.err();
        // The result's last lines: the title, the processor, the score (then
        // the box that says the options are not for submission).
        const auto final_line = std::find_if(out.begin(), out.end(),
                                             [](const std::string& line) { return line.starts_with("final score: "); });
        ASSERT_TRUE(final_line - out.begin() >= 2 && final_line != out.end()) << io.out();
        EXPECT_EQ(*(final_line - 2), "nembo v" NEMBO_VERSION " standing_wave 64^3 grid avx512f");
        EXPECT_EQ(*(final_line - 1), c.brand);
    }
}

TEST(Progress, LineSumsRatesAndShowsTheMostIterations) {
    ProgressBoard board(2);
    board[0].mgups = 512.5;
    board[0].iterations = 30;
    board[1].mgups = 498.25;
    board[1].iterations = 29;
    EXPECT_EQ(format_progress(12, 30, board), "\rbenchmarking... 12/30s             1011 MGups  30 iterations");
    EXPECT_EQ(reinterpret_cast<std::uintptr_t>(&board[1]) - reinterpret_cast<std::uintptr_t>(&board[0]), 128u);
    EXPECT_EQ(reinterpret_cast<std::uintptr_t>(board.data()) % 128, 0u);
}

// The rate a worker publishes (and the progress line adds up) is its cell
// updates over the coarse milliseconds they took. The loop's last reading
// lies between the duration and the loop's own end reading, so the rate is
// bounded from both sides without any allowance for the machine's load.
TEST(Progress, PublishedRateIsTheWorkOverItsTime) {
    ScriptedWorkload workload(0, Stage::none);
    ProgressSlot slot;
    std::stop_source stop;
    const TimerInfo coarse = describe_coarse_timer();
    const TimedLoop loop = run_timed_loop(workload, coarse, 1, slot, stop.get_token(), [](std::int64_t) {});
    ASSERT_EQ(loop.end, LoopEnd::duration);
    const double updates = 1000.0 * static_cast<double>(loop.iterations);
    const double span_ms = static_cast<double>(elapsed_milliseconds(coarse, loop.c0, loop.c1));
    const double rate = slot.mgups.load();
    EXPECT_GE(rate, updates / (span_ms * 1000.0));
    EXPECT_LE(rate, updates / (1000.0 * 1000.0));
    EXPECT_EQ(slot.iterations.load(), loop.iterations);
}

TEST(LabelBox, FramesTheLabel) {
    std::ostringstream out;
    print_label_box(out, "warning");
    EXPECT_EQ(out.str(), "==========\n  warning \n==========\n");
}

}  // namespace
}  // namespace nembo
