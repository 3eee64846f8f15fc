// The whole-program tests' process code (spawn, pipes, polling, the time
// limit), on the shell, in every native tree: the sanitized trees run it
// here, since their whole-program tests use the release tree's driver.
#include <gtest/gtest-spi.h>
#include <gtest/gtest.h>

#include <chrono>
#include <stdexcept>

#include "tests/program/program_runner.hpp"

namespace nembo::test {
namespace {

TEST(ProgramRunner, SeparatesTheStreamsFeedsTheInputAndKeepsTheStatus) {
    const ProgramResult r =
        run_program({"sh", "-c", "echo out; echo err >&2; read line; echo \"got $line\"; exit 3"}, "typed\n");
    EXPECT_EQ(r.out, "out\ngot typed\n");
    EXPECT_EQ(r.err, "err\n");
    EXPECT_EQ(r.status, 3);

    // More than a pipe holds, on both streams at once.
    const ProgramResult big = run_program({"sh", "-c", "head -c 300000 /dev/zero; head -c 200000 /dev/zero >&2"});
    EXPECT_EQ(big.out.size(), 300000u);
    EXPECT_EQ(big.err.size(), 200000u);
    EXPECT_EQ(big.status, 0);
}

TEST(ProgramRunner, SignalledProgramAndOneThatCannotStart) {
    EXPECT_EQ(run_program({"sh", "-c", "kill -TERM $$"}).status, 128 + 15);
    EXPECT_THROW(run_program({"/nonexistent/nembo"}), std::runtime_error);
}

TEST(ProgramRunner, HelpersThatKeepThePipesDoNotHoldTheResult) {
    // A launcher's services may inherit the pipes and outlive the program.
    const auto start = std::chrono::steady_clock::now();
    const ProgramResult r = run_program({"sh", "-c", "sleep 20 & echo done"});
    EXPECT_EQ(r.out, "done\n");
    EXPECT_EQ(r.status, 0);
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(10));
}

TEST(ProgramRunner, ProgramPastItsLimitIsStoppedWithWhatItStarted) {
    const auto start = std::chrono::steady_clock::now();
    ProgramResult r;
    EXPECT_NONFATAL_FAILURE(r = run_program({"sh", "-c", "sleep 30 & sleep 30"}, "", std::chrono::seconds(1)),
                            "did not end within 1 s and was stopped");
    EXPECT_EQ(r.status, 128 + 9);
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(10));
}

}  // namespace
}  // namespace nembo::test
