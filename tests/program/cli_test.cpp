// The command line as a user meets it: help, argument errors, mode
// precedence and the banner, compared byte for byte with exit statuses.
#include <gtest/gtest.h>

#include <regex>

#include "tests/program/help_screen.hpp"
#include "tests/program/program_runner.hpp"

namespace nembo::test {
namespace {

const std::string sizes = "64, 128, 192, 256, 320, 384, 448, 512, 640, 768, 1024, 2048, 4096, 8192";
const std::string isas = "sse2, avx, avx2, fma, fma-apx, avx512f, avx512vl, avx10-2-256, avx10-2-512";

std::string help_text() {
    std::string text = help_screen;
    text.replace(text.find("@EXE@"), 5, exe_name());
    return text;
}

void expect_output(const std::vector<std::string>& args, const std::string& out, const std::string& err,
                   int status) {
    const ProgramResult r = run_nembo(args);
    EXPECT_EQ(r.out, as_written(out)) << "stdout of nembo " << ::testing::PrintToString(args);
    EXPECT_EQ(r.err, as_written(err)) << "stderr of nembo " << ::testing::PrintToString(args);
    EXPECT_EQ(r.status, status) << "exit status of nembo " << ::testing::PrintToString(args);
}

void expect_error(const std::vector<std::string>& args, const std::string& message) {
    expect_output(args, "", message + "\n", 1);
}

TEST(CommandLine, HelpScreenInEveryForm) {
    for (const char* form : {"-?", "-h", "--help"}) expect_output({form}, help_text(), "", 0);
    // Parsing stops at the help option: nothing after it is looked at.
    expect_output({"--help", "foo"}, help_text(), "", 0);
    expect_output({"--help", "--topo-debug"}, help_text(), "", 0);
    expect_output({"-s", "256", "--help", "--timer-debug"}, help_text(), "", 0);
    expect_output({"-?h"}, help_text(), "", 0);
}

TEST(CommandLine, BadValuesOfTheConfiguration) {
    expect_error({"-s", "100"}, "Invalid size '100', must be one of: " + sizes);
    expect_error({"--size=0"}, "Invalid size '0', must be one of: " + sizes);
    expect_error({"--isa", "avx3"}, "Invalid isa name 'avx3', must be one of: " + isas);
    expect_error({"--isa", "AVX2"}, "Invalid isa name 'AVX2', must be one of: " + isas);
    expect_error({"--isa="}, "Invalid isa name '', must be one of: " + isas);
    // The checks run before help, in the order size, then instruction set.
    expect_error({"-s", "100", "--help"}, "Invalid size '100', must be one of: " + sizes);
    expect_error({"--isa", "x", "--help"}, "Invalid isa name 'x', must be one of: " + isas);
    expect_error({"--isa", "x", "-s", "7"}, "Invalid size '7', must be one of: " + sizes);
}

TEST(CommandLine, ParseErrors) {
    expect_error({"-s", "abc"}, "Unable to convert 'abc' to destination type");
    expect_error({"-n", "-1"}, "Unable to convert '-1' to destination type");
    expect_error({"-n", "4294967296"}, "Unable to convert '4294967296' to destination type");
    expect_error({"-s", "18446744073709551616"}, "Unable to convert '18446744073709551616' to destination type");
    expect_error({"--size="}, "Unable to convert '' to destination type");
    expect_error({"-d", "+5"}, "Unable to convert '+5' to destination type");
    expect_error({"--threading", "NUMA"}, "Value 'NUMA' not expected. Allowed values are: os, numa, phte");
    expect_error({"-s", "64", "-s", "128"}, "Unrecognized token: -s");
    expect_error({"--size", "64", "-s64"}, "Unrecognized token: -s64");
    expect_error({"--large-pages=1"}, "Flag option '--large-pages' contains value '1'.");
    expect_error({"--large-pages", "1"}, "Unrecognized token: 1");
    expect_error({"foo", "--help"}, "Unrecognized token: foo");
    expect_error({"--siz", "64"}, "Unrecognized token: --siz");
    expect_error({"-5"}, "Unrecognized token: -5");
    expect_error({"--"}, "Unrecognized token: --");
    expect_error({"-"}, "Unrecognized token: -");
    expect_error({""}, "Unrecognized token: ");
    expect_error({"-s"}, "Expected argument following -s");
    expect_error({"--isa"}, "Expected argument following --isa");
}

TEST(CommandLine, ModePrecedence) {
    // A bad size is not reported when the banner plays; checks come before
    // the reports; help beats the reports; the topology beats the timers.
    expect_error({"--topo-debug", "-s", "100"}, "Invalid size '100', must be one of: " + sizes);
    expect_error({"--timer-debug", "--isa", "sse3"}, "Invalid isa name 'sse3', must be one of: " + isas);
    expect_output({"--timer-debug", "--help"}, help_text(), "", 0);

    const ProgramResult topo = run_nembo({"--timer-debug", "--topo-debug"});
    EXPECT_EQ(topo.status, 0);
    EXPECT_EQ(topo.err, "");
    EXPECT_EQ(topo.out.rfind("perf_level_count=", 0), 0u) << topo.out;
    EXPECT_EQ(topo.out.find("Fast timer"), std::string::npos);
}

TEST(CommandLine, BannerWithRedirectedOutput) {
    // With output going to a pipe the cursor never moves: seventeen frames
    // follow each other with no escape bytes, then the program ends.
    const ProgramResult r = run_nembo({"--nembo", "-s", "100"});
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.err, "");
    EXPECT_EQ(r.out.find('\x1b'), std::string::npos);
    const std::size_t frame_bytes = windows_target() ? 206 + 7 : 206;
    EXPECT_EQ(r.out.size(), 17 * frame_bytes + (windows_target() ? 2 : 1));
    EXPECT_NE(r.out.find("\xC2\xA9"), std::string::npos) << "the fish's eye is UTF-8";
}

}  // namespace
}  // namespace nembo::test
