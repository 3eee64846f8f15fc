#include "app/command_line.hpp"

#include <gtest/gtest.h>

#include <sstream>
#include <string>
#include <vector>

namespace nembo {
namespace {

// The whole help screen of a program file named nembo.exe.
const std::string expected_help_screen =
    "USAGE:\n"
    "  nembo.exe [-?|-h|--help] [-n|--numthreads <numthreads>] [-d|--duration <duration>] [-s|--size <size>] [--isa <isa>] [--strict-isa-check] [--threading <threading>] [--large-pages] [--bypass-timer-check] [--topo-debug] [--timer-debug] [--nembo]\n"
    "\n"
    "Display usage information.\n"
    "\n"
    "OPTIONS, ARGUMENTS:\n"
    "  -?, -h, --help          \n"
    "  -n, --numthreads <numthreads>\n"
    "                          Number of threads to use [default: 0]\n"
    "  -d, --duration <duration>\n"
    "                          Bench duration (s) between 1-1000s [default: 30]\n"
    "  -s, --size <size>       Grid size, one of [64, 128, 192, 256, 320, 384, 448, 512, 640, 768, 1024, 2048, 4096, 8192] [default: 192]\n"
    "  --isa <isa>             Instruction set to use for workload/solver, one of [sse2, avx, avx2, fma, fma-apx, avx512f, avx512vl, avx10-2-256, avx10-2-512] [default: sse2]\n"
    "  --strict-isa-check      Don't try to run if the ISA support check fails\n"
    "  --threading <threading> Threading manager to use [default: os]\n"
    "  --large-pages           Use large pages allocator\n"
    "  --bypass-timer-check    Run the bench even if the timer is not HWBOT compliant\n"
    "  --topo-debug            Print detected topology for debug\n"
    "  --timer-debug           Printed detected timers\n"
    "  --nembo                 \n"
    "\n"
    "field size      memory used per thread\n"
    "  64                 17.55 MiB\n"
    "  128               134.09 MiB\n"
    "  192               445.64 MiB\n"
    "  256                 1.02 GiB\n"
    "  320                 1.99 GiB\n"
    "  384                 3.43 GiB\n"
    "  448                 5.43 GiB\n"
    "  512                 8.09 GiB\n"
    "  640                15.77 GiB\n"
    "  768                27.21 GiB\n"
    "  1024               64.38 GiB\n"
    "  2048              513.50 GiB\n"
    "  4096                4.01 TiB\n"
    "  8192               32.02 TiB\n";

struct Parsed {
    BenchConfig config;
    ActionFlags flags;
    ParsedCommandLine result;
};

Parsed parse(std::vector<std::string> args, std::string exe = "C:\\bench\\nembo.exe") {
    std::vector<const char*> argv = {exe.c_str()};
    for (const std::string& a : args) argv.push_back(a.c_str());
    Parsed p;
    p.result = parse_command_line(static_cast<int>(argv.size()), argv.data(), p.config, p.flags);
    return p;
}

// The text an argument list ends with: the parse error, else the first
// failing check, else empty.
std::string outcome(std::vector<std::string> args) {
    Parsed p = parse(std::move(args));
    if (p.result.error) return p.result.error.text();
    return check_config(p.config).text();
}

TEST(CommandLine, NoArgumentsKeepsTheInitialValues) {
    Parsed p = parse({});
    EXPECT_FALSE(p.result.error);
    EXPECT_FALSE(check_config(p.config));
    EXPECT_EQ(p.config.numthreads, 0u);
    EXPECT_EQ(p.config.duration, 30u);
    EXPECT_EQ(p.config.size, 192u);
    EXPECT_EQ(p.config.threading, "os");
    EXPECT_EQ(p.config.workload, "standing_wave");
    EXPECT_EQ(p.config.isa, "sse2");
    EXPECT_FALSE(p.config.strict_isa_check || p.config.large_pages || p.config.bypass_timer_check);
    EXPECT_FALSE(p.flags.show_nembo || p.flags.show_help || p.flags.topo_debug ||
                 p.flags.timer_debug);
}

TEST(CommandLine, EveryOptionReachesItsField) {
    Parsed p = parse({"--timer-debug", "-n", "4", "--duration=5000", "--size", "0256", "--isa",
                      "avx2", "--strict-isa-check", "--threading", "phte", "--large-pages",
                      "--bypass-timer-check", "--topo-debug", "--nembo"});
    ASSERT_FALSE(p.result.error) << p.result.error.text();
    EXPECT_EQ(p.config.numthreads, 4u);
    EXPECT_EQ(p.config.duration, 5000u);  // clamped later, by the driver
    EXPECT_EQ(p.config.size, 256u);
    EXPECT_EQ(p.config.isa, "avx2");
    EXPECT_EQ(p.config.threading, "phte");
    EXPECT_TRUE(p.config.strict_isa_check && p.config.large_pages && p.config.bypass_timer_check);
    EXPECT_TRUE(p.flags.topo_debug && p.flags.timer_debug && p.flags.show_nembo);
    EXPECT_FALSE(p.flags.show_help);
}

TEST(CommandLine, SizeForms) {
    for (const auto& args : std::vector<std::vector<std::string>>{
             {"-s", "256"}, {"-s256"}, {"-s=256"}, {"--size", "256"}, {"--size=256"}}) {
        Parsed p = parse(args);
        EXPECT_FALSE(p.result.error) << args[0];
        EXPECT_EQ(p.config.size, 256u) << args[0];
    }
}

TEST(CommandLine, ErrorTexts) {
    const std::string sizes = std::string(size_list_text);
    const std::string isas =
        "sse2, avx, avx2, fma, fma-apx, avx512f, avx512vl, avx10-2-256, avx10-2-512";
    const std::vector<std::pair<std::vector<std::string>, std::string>> cases = {
        {{"-s", "100"}, "Invalid size '100', must be one of: " + sizes},
        {{"-s", "0"}, "Invalid size '0', must be one of: " + sizes},
        {{"-s", "abc"}, "Unable to convert 'abc' to destination type"},
        {{"-n", "-1"}, "Unable to convert '-1' to destination type"},
        {{"-n", "4294967296"}, "Unable to convert '4294967296' to destination type"},
        {{"-d", "99999999999"}, "Unable to convert '99999999999' to destination type"},
        {{"--size="}, "Unable to convert '' to destination type"},
        {{"--size"}, "Expected argument following --size"},
        {{"--threading", "NUMA"}, "Value 'NUMA' not expected. Allowed values are: os, numa, phte"},
        {{"--isa", "avx3"}, "Invalid isa name 'avx3', must be one of: " + isas},
        {{"--isa", "AVX2"}, "Invalid isa name 'AVX2', must be one of: " + isas},
        {{"--isa="}, "Invalid isa name '', must be one of: " + isas},
        {{"-s", "64", "-s", "128"}, "Unrecognized token: -s"},
        {{"--large-pages=1"}, "Flag option '--large-pages' contains value '1'."},
        {{"--large-pages", "1"}, "Unrecognized token: 1"},
        {{"foo", "--help"}, "Unrecognized token: foo"},
        {{"-s", "100", "--help"}, "Invalid size '100', must be one of: " + sizes},
        {{"--isa", "x", "--help"}, "Invalid isa name 'x', must be one of: " + isas},
        {{"--siz", "64"}, "Unrecognized token: --siz"},
    };
    for (const auto& [args, message] : cases) {
        EXPECT_EQ(outcome(args), message) << args[0];
    }
}

TEST(CommandLine, ConfigChecksInOrder) {
    BenchConfig config;
    config.size = 100;
    config.workload = "Standing_wave";
    config.isa = "none";
    EXPECT_EQ(check_config(config).text().substr(0, 18), "Invalid size '100'");
    config.size = 8192;
    EXPECT_EQ(check_config(config).text(),
              "Invalid workload name 'Standing_wave', must be one of: standing_wave, soft_gaussian");
    config.workload = "soft_gaussian";
    EXPECT_EQ(check_config(config).text().substr(0, 25), "Invalid isa name 'none', ");
    for (const char* isa : {"sse2", "avx", "avx2", "fma", "fma-apx", "avx512f", "avx512vl",
                            "avx10-2-256", "avx10-2-512"}) {
        config.isa = isa;
        EXPECT_FALSE(check_config(config)) << isa;
    }
    for (const std::uint64_t size : grid_sizes) {
        config.size = size;
        EXPECT_FALSE(check_config(config)) << size;
    }
}

TEST(CommandLine, HelpStopsParsing) {
    Parsed p = parse({"-n", "3", "--help", "--topo-debug", "foo", "-s", "abc"});
    EXPECT_FALSE(p.result.error);
    EXPECT_TRUE(p.flags.show_help);
    EXPECT_FALSE(p.flags.topo_debug);
    EXPECT_EQ(p.config.numthreads, 3u);
    EXPECT_EQ(p.config.size, 192u);
    Parsed q = parse({"-?h"});
    EXPECT_FALSE(q.result.error);
    EXPECT_TRUE(q.flags.show_help);
}

TEST(CommandLine, HelpScreenIsExact) {
    // Defaults come from the initial values, not from the given arguments.
    Parsed p = parse({"-d", "5", "-s", "64", "--help"});
    std::ostringstream out;
    print_help_screen(out, p.result.help_text);
    EXPECT_EQ(out.str(), expected_help_screen);

    const std::string first_line = "USAGE:\n  nembo.exe [-?|-h|--help]";
    EXPECT_EQ(parse({}, "nembo.exe").result.help_text.substr(0, first_line.size()), first_line);
    EXPECT_EQ(parse({}, "/opt/x/nembo.exe").result.help_text.substr(0, first_line.size()),
              first_line);
}

}  // namespace
}  // namespace nembo
