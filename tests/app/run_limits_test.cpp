// Runs that cannot be had: more threads than the system allows, shared state
// that does not fit, threads that cannot be created, and workloads that run
// out of memory. Each ends with its line and no score; none throws or hangs.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <new>
#include <thread>

#include "app/results.hpp"
#include "app/run.hpp"
#include "platform/system_limits.hpp"
#include "tests/app/capture.hpp"

namespace nembo {
namespace {

using test::CapturedOutput;

enum class Throw { never, allocate, step };

class ThrowingWorkload : public Workload {
public:
    ThrowingWorkload(std::uint32_t index, Throw when) : Workload(index), when_(when) {}
    MaybeError allocate(const GridParams&) override {
        if (when_ == Throw::allocate) throw std::bad_alloc();
        return {};
    }
    MaybeError initialize() override { return {}; }
    MaybeError pre_step(std::uint64_t) override { return {}; }
    MaybeError step() override {
        if (when_ == Throw::step) throw std::bad_alloc();
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
        return {};
    }
    MaybeError check_step(std::uint64_t) override { return {}; }
    MaybeError final_check(std::uint64_t) override { return {}; }
    std::uint64_t updates_per_iteration() const override { return 1000; }

private:
    Throw when_;
};

struct LimitedRun {
    bool large_pages = false;
    Placement placement;
    RunEnvironment env = RunEnvironment::system();
    std::atomic<int> created{0};

    explicit LimitedRun(std::uint32_t workers, Throw when = Throw::never, std::uint32_t throwing = 2) {
        placement.thread_count = workers;
        env.create_workload = [this, when, throwing](std::string_view, std::string_view,
                                                     std::uint32_t index) -> std::unique_ptr<Workload> {
            created.fetch_add(1);
            return std::make_unique<ThrowingWorkload>(index, index == throwing ? when : Throw::never);
        };
        env.check_isa_support = [](std::string_view) { return MaybeError(); };
        env.fast_timer_is_compliant = [](const TimerInfo&) { return true; };
    }

    RunParameters params() const {
        return RunParameters{large_pages, placement, "standing_wave", "sse2", false, 1, 64, false, "os"};
    }
};

const std::string not_all = "=================\n  invalid result \n=================\n"
                            "not all threads produced a result\n";

TEST(RunLimits, MoreThreadsThanTheSystemAllowsAreRefusedBeforeAnyStarts) {
    LimitedRun setup(4);
    setup.env.thread_limit = [] { return std::uint64_t{3}; };
    CapturedOutput io;
    const RunOutcome outcome = execute_run(setup.params(), setup.env);
    EXPECT_EQ(setup.created.load(), 0);
    EXPECT_FALSE(outcome.stop_requested);
    EXPECT_TRUE(outcome.results.empty());
    EXPECT_NE(io.out().find("running with 4 threads (os)\n"), std::string::npos) << io.out();
    EXPECT_EQ(io.out().find("allocating fields"), std::string::npos) << io.out();
    EXPECT_EQ(io.err(), "cannot run 4 threads: this system allows at most 3; aborting\n");
    EXPECT_FALSE(report_results(outcome).has_value());
    EXPECT_EQ(io.err().substr(io.err().find('\n') + 1), not_all);

    // Exactly the limit runs.
    setup.env.thread_limit = [] { return std::uint64_t{4}; };
    EXPECT_EQ(execute_run(setup.params(), setup.env).results.size(), 4u);
}

#if defined(__linux__) && !defined(__SANITIZE_ADDRESS__) && !defined(__SANITIZE_THREAD__)
// The shared state of 2^32 - 1 workers takes more than half a terabyte;
// when no limit refuses the count first, the failed allocation is a line.
// (The sanitizers' allocators end the process on such a request instead.)
TEST(RunLimits, SharedStateThatCannotBeAllocatedEndsTheRun) {
    LimitedRun setup(4294967295u);
    setup.env.thread_limit = [] { return no_limit; };
    CapturedOutput io;
    const RunOutcome outcome = execute_run(setup.params(), setup.env);
    EXPECT_EQ(setup.created.load(), 0);
    EXPECT_TRUE(outcome.results.empty());
    EXPECT_EQ(outcome.results.capacity(), 0u);
    EXPECT_EQ(io.err(), "not enough memory to run 4294967295 threads; aborting\n");
    EXPECT_FALSE(report_results(outcome).has_value());
}
#endif

TEST(RunLimits, ThreadThatCannotBeCreatedEndsTheRunBeforeAnyWorkerActs) {
    LimitedRun setup(6);
    setup.env.may_start_thread = [](std::uint32_t index) { return index != 4; };
    CapturedOutput io;
    const RunOutcome outcome = execute_run(setup.params(), setup.env);
    // Threads 1 to 3 existed, but were let go without doing anything.
    EXPECT_EQ(setup.created.load(), 0);
    EXPECT_TRUE(outcome.stop_requested);
    EXPECT_EQ(io.err(), "could not start worker thread 4; aborting\n");
    EXPECT_EQ(io.out().find("allocating fields"), std::string::npos) << io.out();
    EXPECT_FALSE(report_results(outcome).has_value());
}

// A workload that runs out of memory fails its worker like any other failure:
// the others are not left waiting, and nothing escapes the run.
TEST(RunLimits, WorkloadOutOfMemoryFailsItsWorker) {
    for (const Throw when : {Throw::allocate, Throw::step}) {
        LimitedRun setup(4, when);
        CapturedOutput io;
        const RunOutcome outcome = execute_run(setup.params(), setup.env);
        EXPECT_TRUE(outcome.stop_requested);
        EXPECT_EQ(io.err(), "out of memory in thread 2\n");
        if (when == Throw::allocate) {
            EXPECT_TRUE(outcome.results.empty());
            EXPECT_EQ(io.out().find("initalizing fields..."), std::string::npos);
        }
        EXPECT_FALSE(report_results(outcome).has_value());
    }
}

TEST(RunLimits, ProgressLineFitsItsBufferAndIsCutWhenTooLong) {
    ProgressBoard board(3);
    board[0].mgups = 1.0e300;
    board[1].iterations = UINT64_MAX;
    char buffer[128];
    const std::size_t length = format_progress_into(buffer, INT64_MIN, UINT32_MAX, board);
    EXPECT_EQ(std::string(buffer, length),
              "\rbenchmarking... -9223372036854775808/4294967295s           1e+300 MGups  18446744073709551615 "
              "iterations");
    EXPECT_EQ(format_progress(INT64_MIN, UINT32_MAX, board), std::string(buffer, length));

    char small[10];
    EXPECT_EQ(format_progress_into(small, 12, 30, board), sizeof small);
    EXPECT_EQ(std::string(small, sizeof small), "\rbenchmark");
}

TEST(RunLimits, LabelBoxOfAnyLength) {
    const std::string label(100, 'x');
    std::ostringstream out;
    print_label_box(out, label);
    const std::string rule(103, '=');
    EXPECT_EQ(out.str(), rule + "\n  " + label + " \n" + rule + "\n");
}

}  // namespace
}  // namespace nembo
