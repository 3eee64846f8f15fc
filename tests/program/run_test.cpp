// Short benchmark runs of the real program: every line it prints, in order,
// with the exit status and the pause for Enter.
#include <gtest/gtest.h>

#include <regex>

#include "platform/cpu.hpp"
#include "tests/program/program_runner.hpp"

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
// all on one line.
const std::string progress_marker = "<progress>";

void expect_progress(const std::string& line) {
    // The first segment comes before any iteration; the last one, with the
    // fast timer's seconds, stays on screen.
    const std::string first = "\rbenchmarking... 0/1s                0 MGups  0 iterations";
    ASSERT_EQ(line.substr(0, first.size()), first);
    const std::regex segment(R"(benchmarking\.\.\. [01]/1s +[0-9.e+]+ MGups  [0-9]+ iterations)");
    std::size_t count = 0;
    for (std::size_t begin = first.size(); begin < line.size(); ++count) {
        ASSERT_EQ(line[begin], '\r');
        std::size_t end = line.find('\r', begin + 1);
        if (end == std::string::npos) end = line.size();
        EXPECT_TRUE(std::regex_match(line.substr(begin + 1, end - begin - 1), segment))
            << line.substr(begin, end - begin);
        begin = end;
    }
    EXPECT_GE(count, 1u);
}

void expect_lines(const std::string& text, const Lines& expected) {
    const Lines lines = split_lines(text);
    ASSERT_EQ(lines.size(), expected.size()) << text;
    for (std::size_t i = 0; i < lines.size(); ++i) {
        if (expected[i] == progress_marker) {
            expect_progress(lines[i]);
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
            "~Fast Timer Frequency: " + frequency + R"( \((TSC|iTSC|HPET|ACPI|PIT|RTC|unknown)\))",
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

const std::string violations =
    "non default options used: grid size 64 is below the minimum of 192\n"
    "configured duration 1s must be 30s for hwbot submissions\n"
    "this score is not valid for submission to hwbot\n";

TEST(Run, OneWorker) {
    const ProgramResult r = run_nembo({"-d", "1", "-s", "64", "-n", "1"});
    Lines expected = run_description("running with 1 thread (os)", "17.55 MiB total");
    expected.push_back(row("0"));
    for (const std::string& line : closing("sse2")) expected.push_back(line);
    expect_lines(r.out, expected);
    EXPECT_EQ(r.err, as_written(violations));
    EXPECT_EQ(r.status, 0);
}

TEST(Run, TwoPinnedWorkers) {
    const ProgramResult r = run_nembo({"-d", "1", "-s", "64", "-n", "2", "--threading", "numa", "--isa", "avx2"});
    Lines expected = run_description("running with 2 threads (numa)", "35.09 MiB total");
    expected.push_back(row("[01]"));
    expected.push_back(row("[01]"));
    for (const std::string& line : closing("avx2")) expected.push_back(line);
    expect_lines(r.out, expected);
    EXPECT_EQ(r.err, as_written(violations));
    EXPECT_EQ(r.status, 0);
}

TEST(Run, DurationIsClampedAndLargePagesAreAnnounced) {
    // Without reserved large pages the fields cannot be allocated; the run
    // then ends without a score, after the pause.
    const ProgramResult r = run_nembo({"-d", "0", "-s", "64", "-n", "1", "--large-pages"});
    const Lines lines = split_lines(r.out);
    ASSERT_GE(lines.size(), 9u) << r.out;
    EXPECT_EQ(lines[8], "allocating fields.... (large pages)");
    EXPECT_EQ(lines.back(), "press enter to exit");
    if (r.status == 1) {
        EXPECT_EQ(r.err, as_written("field allocation failed in thread 0\nfield allocation failed\n"
                                    "=================\n  invalid result \n=================\n"));
    } else {
        EXPECT_NE(r.err.find("configured duration 1s must be 30s"), std::string::npos) << r.err;
    }
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
    const ProgramResult r = run_nembo({"--isa", "fma-apx", "-d", "1", "-s", "64", "-n", "1"});
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
