#include "app/command_line.hpp"

#include <algorithm>
#include <sstream>

#include <fmt/format.h>

#include "app/console.hpp"
#include "solver/isa.hpp"

namespace nembo {

CommandLine build_command_line(BenchConfig& config, ActionFlags& flags) {
    CommandLine cli("<executable>");
    cli.add(HelpOpt(flags.show_help))
        .add(Opt(config.numthreads, "numthreads")
                 .name("-n")
                 .name("--numthreads")
                 .help("Number of threads to use"))
        .add(Opt(config.duration, "duration")
                 .name("-d")
                 .name("--duration")
                 .help(fmt::format("Bench duration (s) between {}-{}s", min_duration_s,
                                   max_duration_s)))
        .add(Opt(config.size, "size")
                 .name("-s")
                 .name("--size")
                 .help(fmt::format("Grid size, one of [{}]", size_list_text)))
        .add(Opt(config.isa, "isa").name("--isa").help(fmt::format(
            "Instruction set to use for workload/solver, one of [{}]", isa_list_text)))
        .add(Opt(config.strict_isa_check)
                 .name("--strict-isa-check")
                 .help("Don't try to run if the ISA support check fails"))
        .add(Opt(config.threading, "threading")
                 .name("--threading")
                 .help("Threading manager to use")
                 .choices({"os", "numa", "phte"}))
        .add(Opt(config.large_pages).name("--large-pages").help("Use large pages allocator"))
        .add(Opt(config.bypass_timer_check)
                 .name("--bypass-timer-check")
                 .help("Run the bench even if the timer is not HWBOT compliant"))
        .add(Opt(flags.topo_debug).name("--topo-debug").help("Print detected topology for debug"))
        .add(Opt(flags.timer_debug).name("--timer-debug").help("Printed detected timers"))
        .add(Opt(flags.show_nembo).name("--nembo"));
    return cli;
}

ParsedCommandLine parse_command_line(int argc, const char* const* argv, BenchConfig& config,
                                     ActionFlags& flags) {
    CommandLine cli = build_command_line(config, flags);
    const ParseResult result = cli.parse(ArgumentList::from_argv(argc, argv));
    ParsedCommandLine parsed;
    if (!result) parsed.error = MaybeError(result.message());
    std::ostringstream help;
    help << cli;
    parsed.help_text = help.str();
    return parsed;
}

MaybeError check_config(const BenchConfig& config) {
    if (std::find(grid_sizes.begin(), grid_sizes.end(), config.size) == grid_sizes.end()) {
        return fmt::format("Invalid size '{}', must be one of: {}", config.size, size_list_text);
    }
    if (!is_known_workload(config.workload)) {
        return fmt::format("Invalid workload name '{}', must be one of: {}", config.workload,
                           workload_list_text);
    }
    if (!is_known_isa(config.isa)) {
        return fmt::format("Invalid isa name '{}', must be one of: {}", config.isa,
                           isa_list_text);
    }
    return {};
}

void print_help_screen(std::ostream& out, const std::string& help_text) {
    out << help_text << '\n' << std::flush;
    print_memory_header(out);
    for (const std::uint64_t size : grid_sizes) print_memory_row(out, size);
}

}  // namespace nembo
