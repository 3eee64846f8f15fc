// The two reports of the platform probes, as the program prints them.
#include <gtest/gtest.h>

#include <fmt/format.h>

#include <fstream>
#include <regex>
#include <set>
#include <sstream>

#include "platform/cpu.hpp"
#include "tests/program/program_runner.hpp"

namespace nembo::test {
namespace {

std::vector<std::string> lines_of(const ProgramResult& r) {
    std::string text = r.out;
    if (windows_target()) text = std::regex_replace(text, std::regex("\r\n"), "\n");
    std::vector<std::string> lines;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) lines.push_back(line);
    return lines;
}

// CPU numbers of a kernel list such as "0-3,8".
std::set<unsigned> cpu_list(const std::string& text) {
    std::set<unsigned> cpus;
    std::istringstream in(text);
    for (std::string part; std::getline(in, part, ',');) {
        const auto dash = part.find('-');
        const unsigned first = static_cast<unsigned>(std::stoul(part.substr(0, dash)));
        const unsigned last = dash == std::string::npos ? first : static_cast<unsigned>(std::stoul(part.substr(dash + 1)));
        for (unsigned c = first; c <= last; ++c) cpus.insert(c);
    }
    return cpus;
}

std::string read_line(const std::string& path) {
    std::ifstream in(path);
    std::string line;
    std::getline(in, line);
    return line;
}

TEST(TopologyReport, AgreesWithTheKernel) {
    const ProgramResult r = run_nembo({"--topo-debug"});
    ASSERT_EQ(r.status, 0);
    EXPECT_EQ(r.err, "");
    const std::set<unsigned> online = cpu_list(read_line("/sys/devices/system/cpu/online"));
    std::set<std::string> cores;
    for (unsigned cpu : online) {
        std::string siblings = read_line(fmt::format("/sys/devices/system/cpu/cpu{}/topology/core_cpus_list", cpu));
        if (siblings.empty()) {
            siblings = read_line(fmt::format("/sys/devices/system/cpu/cpu{}/topology/thread_siblings_list", cpu));
        }
        cores.insert(siblings);
    }

    const std::vector<std::string> lines = lines_of(r);
    ASSERT_FALSE(lines.empty());
    EXPECT_TRUE(std::regex_match(lines[0], std::regex("perf_level_count=[1-9][0-9]*")));
    std::set<unsigned> logicals;
    std::size_t core_lines = 0;
    const std::regex logical(R"(\|  \|  \|--logical idx=[0-9]+ os=([0-9]+))");
    const std::regex core(R"(\|  \|--core id=[0-9]+ perf_level=[0-9]+)");
    const std::regex other(R"(numa node id=[0-9]+|\|--llc id=[0-9]+)");
    for (std::size_t i = 1; i < lines.size(); ++i) {
        std::smatch m;
        if (std::regex_match(lines[i], m, logical)) {
            logicals.insert(static_cast<unsigned>(std::stoul(m[1])));
        } else if (std::regex_match(lines[i], core)) {
            ++core_lines;
        } else {
            EXPECT_TRUE(std::regex_match(lines[i], other)) << lines[i];
        }
    }
    EXPECT_EQ(logicals, online);
    EXPECT_EQ(core_lines, cores.size());
}

TEST(TimerReport, PrintsEveryLine) {
    const ProgramResult r = run_nembo({"--timer-debug"});
    ASSERT_EQ(r.status, 0);
    EXPECT_EQ(r.err, "");
    const std::string f = R"([0-9]+(\.[0-9][0-9] [KMGTPE])? ?Hz)";
    const CpuInfo cpu = read_cpu_info();
    const char* vendor = cpu.vendor == CpuVendor::intel ? "Intel detected"
                         : cpu.vendor == CpuVendor::amd ? "AMD detected"
                                                        : "unknown vendor";
    const std::vector<std::string> expected = {
        "~Fast timer: (TSC|iTSC|HPET|ACPI|PIT|RTC|unknown)",
        "~underlying frequency: " + f,
        "~report frequency: " + f,
        "Coarse timer: ",
        "~underlying frequency: " + f,
        "report frequency: 1.00 KHz",
        "",
        "tsc info:",
        "~tsc: " + f,
        "~crystal: " + f,
        "~invariant: (true|false)",
        "",
        cpu.brand,
        vendor,
        fmt::format("detected family: {:x} model: {:x}", cpu.family, cpu.model),
        "",
        "~Fast timer is hwbot compliant|Fast timer is not compliant with HWBOT rules",
    };
    const std::vector<std::string> lines = lines_of(r);
    ASSERT_GE(lines.size(), expected.size()) << r.out;
    for (std::size_t i = 0; i < expected.size(); ++i) {
        if (!expected[i].empty() && expected[i][0] == '~') {
            EXPECT_TRUE(std::regex_match(lines[i], std::regex(expected[i].substr(1)))) << lines[i];
        } else {
            EXPECT_EQ(lines[i], expected[i]);
        }
    }
    if (lines[16] == "Fast timer is hwbot compliant") {
        EXPECT_EQ(lines.size(), 17u);
    } else {
        ASSERT_EQ(lines.size(), 18u);
        EXPECT_EQ(lines[17], "Use --bypass-timer-check to run regardless if you are sure that this is a detection "
                             "error in terms of your windows version, processor, or timer");
    }
}

}  // namespace
}  // namespace nembo::test
