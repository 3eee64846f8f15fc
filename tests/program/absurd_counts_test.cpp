// Thread counts that the machine cannot run: each run ends by itself, within
// its own time bound, with its messages, no score and exit status 1.
#include <gtest/gtest.h>

#include <cstdlib>
#include <regex>
#include <set>
#include <string>

#include "platform/system_limits.hpp"
#include "tests/program/program_runner.hpp"

namespace nembo::test {
namespace {

// Output with the Windows build's CRLF line ends made plain.
std::string plain(const std::string& text) {
    if (!windows_target()) return text;
    std::string result;
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '\r' && i + 1 < text.size() && text[i + 1] == '\n') continue;
        result += text[i];
    }
    return result;
}

const std::string invalid_box = "=================\n  invalid result \n=================\n";

void expect_refused_count(const std::string& count) {
    const ProgramResult r =
        run_nembo({"--bypass-timer-check", "-d", "1", "-s", "64", "-n", count}, "", std::chrono::seconds(60));
    const std::string out = plain(r.out);
    const std::string err = plain(r.err);
    EXPECT_NE(out.find("running with " + count + " threads (os)\n"), std::string::npos) << out;
    EXPECT_EQ(out.find("allocating fields"), std::string::npos) << out;
    const std::string pause = "press enter to exit\n";
    ASSERT_GE(out.size(), pause.size());
    EXPECT_EQ(out.substr(out.size() - pause.size()), pause);
    const std::string warning = timer_warning();
    ASSERT_EQ(err.substr(0, warning.size()), warning);
    const std::regex expected("cannot run " + count + " threads: this system allows at most [0-9]+; aborting\n" +
                              invalid_box + "not all threads produced a result\n");
    EXPECT_TRUE(std::regex_match(err.substr(warning.size()), expected)) << err;
    EXPECT_EQ(r.status, 1);
}

TEST(AbsurdCount, LargestCountIsRefusedBeforeAnythingIsAllocated) { expect_refused_count("4294967295"); }

TEST(AbsurdCount, HundredMillionThreadsAreRefused) { expect_refused_count("100000000"); }

// Workers for four times the memory this process may use: the first quarter
// or so get their grids, every other one says that it got none, and the run
// ends without a score instead of being killed for its memory. The run
// really takes nearly all of the machine's free memory, pushing every other
// program's memory out, so it runs only where the machine is given to the
// tests (CI sets NEMBO_WHOLE_MACHINE=1). The budget it relies on is tested
// in-process in every run (memory_budget_test, system_limits_test,
// grid_test). The grids are of the default size, as users run them: with
// the smallest, the same memory takes thirty times the workers, whose
// thousands of threads faulting their pages in at once make the run
// several times as long.
TEST(AbsurdCount, WorkersForFourTimesTheMemoryEndWithoutAScore) {
    const char* whole_machine = std::getenv("NEMBO_WHOLE_MACHINE");
    if (whole_machine == nullptr || std::string(whole_machine) != "1") {
        GTEST_SKIP() << "takes nearly all free memory; set NEMBO_WHOLE_MACHINE=1 to run it";
    }
    if (windows_target()) {
        GTEST_SKIP() << "under Wine a Windows commit is not refused: Linux overcommits it";
    }
    if (std::getenv("NEMBO_SANITIZED") != nullptr) {
        GTEST_SKIP() << "the sanitizers' shadow memory would take the machine's memory itself";
    }
    const MemoryFigures figures = read_memory_figures("/");
    std::uint64_t available = figures.cgroup_room;
    if (figures.available != 0 && figures.available < available) available = figures.available;
    ASSERT_NE(available, no_limit) << "this machine tells nothing of its memory";
    constexpr std::uint64_t per_thread = 64ull * 194 * 194 * 194;  // both fields of a size-192 grid
    const std::uint64_t count = 4 * available / per_thread;
    if (count > max_threads()) GTEST_SKIP() << count << " threads are more than this system allows";

    const ProgramResult r = run_nembo({"--bypass-timer-check", "-d", "1", "-s", "192", "-n", std::to_string(count)},
                                      "", std::chrono::seconds(300));
    EXPECT_EQ(r.status, 1);
    const std::string header = "running with " + std::to_string(count) + " threads (os)\n";
    EXPECT_NE(r.out.find(header), std::string::npos) << r.out.substr(0, 2000);
    const std::string tail = "allocating fields.... \npress enter to exit\n";
    ASSERT_GE(r.out.size(), tail.size());
    EXPECT_EQ(r.out.substr(r.out.size() - tail.size()), tail);

    // The timer warning, then one report per worker without a grid, then
    // the verdict.
    const std::string warning = timer_warning();
    ASSERT_EQ(r.err.substr(0, warning.size()), warning);
    std::string rest = r.err.substr(warning.size());
    ASSERT_GE(rest.size(), invalid_box.size());
    EXPECT_EQ(rest.substr(rest.size() - invalid_box.size()), invalid_box);
    rest.resize(rest.size() - invalid_box.size());
    const std::regex report("field allocation failed in thread ([0-9]+)\nfield allocation failed\n");
    std::set<std::uint64_t> failed;
    std::size_t consumed = 0;
    for (std::sregex_iterator it(rest.begin(), rest.end(), report), end; it != end; ++it) {
        EXPECT_EQ(static_cast<std::size_t>(it->position(0)), consumed) << "unexpected text in: " << rest.substr(consumed, 200);
        consumed = static_cast<std::size_t>(it->position(0) + it->length(0));
        const std::uint64_t index = std::stoull((*it)[1].str());
        EXPECT_LT(index, count);
        EXPECT_TRUE(failed.insert(index).second) << "thread " << index << " reported twice";
    }
    EXPECT_EQ(consumed, rest.size());
    // At most a quarter of the workers fit; the others all said so.
    EXPECT_GE(failed.size(), count / 2) << "of " << count;
    EXPECT_LT(failed.size(), count);
}

}  // namespace
}  // namespace nembo::test
