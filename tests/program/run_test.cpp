// Short benchmark runs of the real program: every line it prints, in order,
// with the exit status and the pause for Enter.
#include <unistd.h>

#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <regex>

#include "platform/cpu.hpp"
#include "tests/program/program_runner.hpp"
#include "tests/support/huge_pages.hpp"

namespace nembo::test {
namespace {

// A line is either exact text or, when it starts with "~", a regular
// expression for the whole line.
using Lines = std::vector<std::string>;

Lines split_lines(std::string text) {
    if (windows_target()) {
        // Text mode writes every line end as CRLF; nothing else ends a line.
        std::string plain;
        for (std::size_t i = 0; i < text.size(); ++i) {
            if (text[i] == '\n') {
                EXPECT_TRUE(i > 0 && text[i - 1] == '\r') << "bare LF in Windows output";
                plain.pop_back();
            }
            plain += text[i];
        }
        text = plain;
    }
    Lines lines;
    std::size_t begin = 0;
    while (begin < text.size()) {
        const std::size_t end = text.find('\n', begin);
        if (end == std::string::npos) {
            lines.push_back(text.substr(begin) + "<no newline>");
            break;
        }
        lines.push_back(text.substr(begin, end - begin));
        begin = end + 1;
    }
    return lines;
}

// Stands for the progress line: one carriage-return segment per iteration,
// all on one line. With one worker the first segment, drawn before any
// iteration, shows nothing done yet; with more, the others may already have
// finished iterations of their own by then.
const std::string progress_marker = "<progress>";
const std::string shared_progress_marker = "<progress of several workers>";

void expect_progress(const std::string& line, bool several_workers) {
    const std::string first = "\rbenchmarking... 0/1s                0 MGups  0 iterations";
    const std::regex segment(R"(benchmarking\.\.\. [01]/1s +[0-9.e+]+ MGups  [0-9]+ iterations)");
    const std::regex first_segment(R"(benchmarking\.\.\. 0/1s +[0-9.e+]+ MGups  [0-9]+ iterations)");
    if (!several_workers) {
        ASSERT_EQ(line.substr(0, first.size()), first);
    }
    ASSERT_FALSE(line.empty());
    ASSERT_EQ(line[0], '\r');
    // The last segment, with the fast timer's seconds, stays on screen.
    std::size_t count = 0;
    for (std::size_t begin = 0; begin < line.size(); ++count) {
        ASSERT_EQ(line[begin], '\r');
        std::size_t end = line.find('\r', begin + 1);
        if (end == std::string::npos) end = line.size();
        EXPECT_TRUE(std::regex_match(line.substr(begin + 1, end - begin - 1), count == 0 ? first_segment : segment))
            << line.substr(begin, end - begin);
        begin = end;
    }
    EXPECT_GE(count, 2u);
}

void expect_lines(const std::string& text, const Lines& expected) {
    const Lines lines = split_lines(text);
    ASSERT_EQ(lines.size(), expected.size()) << text;
    for (std::size_t i = 0; i < lines.size(); ++i) {
        if (expected[i] == progress_marker || expected[i] == shared_progress_marker) {
            expect_progress(lines[i], expected[i] == shared_progress_marker);
        } else if (!expected[i].empty() && expected[i][0] == '~') {
            EXPECT_TRUE(std::regex_match(lines[i], std::regex(expected[i].substr(1))))
                << "line " << i << ": '" << lines[i] << "' !~ " << expected[i].substr(1);
        } else {
            EXPECT_EQ(lines[i], expected[i]) << "line " << i;
        }
    }
}

const std::string frequency = R"([0-9]+(\.[0-9][0-9] [KMGTPE])? ?Hz)";
const std::string number = R"([0-9]+)";
const std::string decimal = R"([0-9]+\.[0-9][0-9])";

Lines run_description(const std::string& threads, const std::string& total) {
    return {read_cpu_brand(),
            cpu_feature_list(),
            threads,
            "64 x 64 x 64 grid",
            "17.55 MiB per thread",
            total,
            "~Fast Timer Frequency: " + frequency + " \\(" + timer_verdict().source + "\\)",
            "~Coarse Timer Frequency: " + frequency,
            "allocating fields.... ",
            "initalizing fields...",
            "~initialization took " + number + "ms",
            "starting bench..",
            progress_marker,
            "validating result..",
            R"(~thread  grid updates   +time  +MGups  iterations)"};
}

Lines closing(const std::string& isa) {
    return {"====================",
            "  workload verified ",
            "====================",
            "nembo v1.2.2 standing_wave 64^3 grid " + isa,
            read_cpu_brand(),
            R"(~final score: [0-9]+(\.[0-9]+)? MGups)",
            "==========",
            "  warning ",
            "==========",
            "press enter to exit"};
}

std::string row(const std::string& worker) {
    return "~ {5}" + worker + "  +" + number + "  +" + decimal + "s  +" + decimal + "  +" + number;
}

// A run given --bypass-timer-check, as every test run is: the outcome must
// not depend on whether this machine's timer passes the rule.
ProgramResult run_bypassed(std::vector<std::string> args, const std::string& input = "") {
    args.push_back("--bypass-timer-check");
    return run_nembo(args, input);
}

const std::string violations =
    "non default options used: grid size 64 is below the minimum of 192\n"
    "configured duration 1s must be 30s for hwbot submissions\n"
    "this score is not valid for submission to hwbot\n";

// A container runtime whose seccomp profile predates clone3 answers it with
// EPERM, and glibc falls back to clone only on ENOSYS: no worker thread can
// start. The run ends at once, with its message, the invalid-result box
// and status 1; no crash, no hang.
TEST(Run, WorkerThreadsRefusedBySandbox) {
    if (windows_target()) GTEST_SKIP() << "a Linux seccomp filter";
    if (std::getenv("NEMBO_SANITIZED") != nullptr) {
        GTEST_SKIP() << "the sanitizers' own threads would be refused before nembo's";
    }
    const std::string helper = env_or("NEMBO_NO_CLONE3", "");
    ASSERT_FALSE(helper.empty()) << "NEMBO_NO_CLONE3 names the helper that installs the filter";
    const ProgramResult r =
        run_nembo_under(helper, {"-d", "1", "-s", "64", "-n", "2", "--bypass-timer-check"}, "\n");
    Lines expected = run_description("running with 2 threads (os)", "35.09 MiB total");
    expected.resize(8);  // up to the coarse timer
    expected.push_back("press enter to exit");
    expect_lines(r.out, expected);
    EXPECT_EQ(r.err, timer_warning() +
                         "could not start worker thread 1; aborting\n"
                         "=================\n  invalid result \n=================\n");
    EXPECT_EQ(r.status, 1);
}

TEST(Run, OneWorker) {
    const ProgramResult r = run_bypassed({"-d", "1", "-s", "64", "-n", "1"});
    Lines expected = run_description("running with 1 thread (os)", "17.55 MiB total");
    expected.push_back(row("0"));
    for (const std::string& line : closing("sse2")) expected.push_back(line);
    expect_lines(r.out, expected);
    EXPECT_EQ(r.err, as_written(timer_warning() + violations));
    EXPECT_EQ(r.status, 0);
}

TEST(Run, TwoPinnedWorkers) {
    // A vector build where the processor has one.
    const std::string isa = detect_cpu_features().avx2 ? "avx2" : "sse2";
    const ProgramResult r = run_bypassed({"-d", "1", "-s", "64", "-n", "2", "--threading", "numa", "--isa", isa});
    Lines expected = run_description("running with 2 threads (numa)", "35.09 MiB total");
    expected[12] = shared_progress_marker;
    expected.push_back(row("[01]"));
    expected.push_back(row("[01]"));
    for (const std::string& line : closing(isa)) expected.push_back(line);
    expect_lines(r.out, expected);
    EXPECT_EQ(r.err, as_written(timer_warning() + violations));
    EXPECT_EQ(r.status, 0);
}

// Without the bypass the run goes as this machine's timer decides: a score,
// or the refusal right after the two timer lines.
TEST(Run, TimerRuleAsThisMachineDecides) {
    const ProgramResult r = run_nembo({"-d", "1", "-s", "64", "-n", "1"});
    Lines expected = run_description("running with 1 thread (os)", "17.55 MiB total");
    if (timer_verdict().compliant) {
        expected.push_back(row("0"));
        for (const std::string& line : closing("sse2")) expected.push_back(line);
        expect_lines(r.out, expected);
        EXPECT_EQ(r.err, as_written(violations));
        EXPECT_EQ(r.status, 0);
    } else {
        expected.resize(8);  // up to the coarse timer's line
        expected.push_back("press enter to exit");
        expect_lines(r.out, expected);
        EXPECT_EQ(r.err, as_written("Fast Timer is not HWBOT compliant (fast timer source: " + timer_verdict().source +
                                    "); aborting\n"
                                    "Use --bypass-timer-check to run regardless if you are sure that this is a "
                                    "detection error in terms of your windows version, processor, or timer\n"
                                    "=================\n  invalid result \n=================\n"
                                    "not all threads produced a result\n"));
        EXPECT_EQ(r.status, 1);
    }
}

using test_support::HugePageReservation;
using test_support::meminfo_value;
using test_support::nr_hugepages;

Lines large_page_run_lines() {
    Lines expected = run_description("running with 1 thread (os)", "17.55 MiB total");
    expected[8] = "allocating fields.... (large pages)";
    expected.push_back(row("0"));
    for (const std::string& line : closing("sse2")) expected.push_back(line);
    return expected;
}

TEST(Run, DurationIsClampedAndLargePagesAreAnnounced) {
    // -d 0 runs for the shortest duration, 1 s. Without enough free huge
    // pages the fields cannot be allocated; the run then ends without a
    // score, after the pause.
    const ProgramResult r = run_bypassed({"-d", "0", "-s", "64", "-n", "1", "--large-pages"});
    const std::string refusal = "field allocation failed in thread 0\nfield allocation failed\n"
                                "=================\n  invalid result \n=================\n";
    if (windows_target()) {
        // Whether Wine grants large pages is Wine's affair; either way the
        // announcement stands and the run ends cleanly.
        const Lines lines = split_lines(r.out);
        ASSERT_GE(lines.size(), 9u) << r.out;
        EXPECT_EQ(lines[8], "allocating fields.... (large pages)");
        EXPECT_EQ(lines.back(), "press enter to exit");
        if (r.status == 1) {
            EXPECT_EQ(r.err, as_written(timer_warning() + refusal));
        }
        return;
    }
    const std::uint64_t needed = test_support::huge_pages_for_grid(64);
    if (meminfo_value("HugePages_Free") >= needed && needed != 0) {
        expect_lines(r.out, large_page_run_lines());
        EXPECT_EQ(r.err, timer_warning() + violations);
        EXPECT_EQ(r.status, 0);
    } else {
        Lines expected = run_description("running with 1 thread (os)", "17.55 MiB total");
        expected.resize(9);
        expected[8] = "allocating fields.... (large pages)";
        expected.push_back("press enter to exit");
        expect_lines(r.out, expected);
        EXPECT_EQ(r.err, timer_warning() + refusal);
        EXPECT_EQ(r.status, 1);
    }
}

TEST(Run, LargePagesForReal) {
    if (windows_target()) GTEST_SKIP() << "huge pages are reserved through Linux's /proc/sys/vm/nr_hugepages";
    if (geteuid() != 0) GTEST_SKIP() << "not root: cannot reserve huge pages in " << nr_hugepages;
    const std::uint64_t needed = test_support::huge_pages_for_grid(64);
    if (needed == 0) GTEST_SKIP() << "this kernel reports no huge page size";
    const HugePageReservation reservation(needed);
    if (meminfo_value("HugePages_Free") < needed) {
        GTEST_SKIP() << "the kernel reserved fewer than the " << needed << " huge pages asked for";
    }
    const ProgramResult r = run_bypassed({"-d", "1", "-s", "64", "-n", "1", "--large-pages"});
    expect_lines(r.out, large_page_run_lines());
    EXPECT_EQ(r.err, timer_warning() + violations);
    EXPECT_EQ(r.status, 0);
}

TEST(Run, StrictInstructionSetCheckAborts) {
    if (detect_cpu_features().apx) GTEST_SKIP() << "this processor has APX";
    const ProgramResult r = run_nembo({"--isa", "fma-apx", "--strict-isa-check", "-d", "1", "-s", "64"});
    expect_lines(r.out, {read_cpu_brand(), cpu_feature_list(), "press enter to exit"});
    const std::string missing = detect_cpu_features().fma ? "" : "fma support not detected\n";
    EXPECT_EQ(r.err, as_written("==========\n  warning \n==========\n" + missing +
                                "apx support not detected\n"
                                "isa support check failed; aborting\n"
                                "=================\n  invalid result \n=================\n"
                                "not all threads produced a result\n"));
    EXPECT_EQ(r.status, 1);
}

TEST(Run, InstructionsThisProcessorLacksEndCleanly) {
    if (detect_cpu_features().apx) GTEST_SKIP() << "this processor has APX";
    const ProgramResult r = run_bypassed({"--isa", "fma-apx", "-d", "1", "-s", "64", "-n", "1"});
    const std::string line =
        as_written("illegal instruction: this processor cannot execute the fma-apx instruction set; aborting\n");
    ASSERT_GE(r.err.size(), line.size()) << r.err;
    EXPECT_EQ(r.err.substr(r.err.size() - line.size()), line);
    EXPECT_EQ(r.err.rfind(as_written("==========\n  warning \n==========\n"), 0), 0u) << r.err;
    EXPECT_NE(r.out.find("running with 1 thread (os)"), std::string::npos);
    EXPECT_EQ(r.status, 1);
}

}  // namespace
}  // namespace nembo::test
