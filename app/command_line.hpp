#pragma once
// nembo's command line: the run configuration, the action flags, the option
// declarations, the checks of the parsed values and the help screen.
#include <array>
#include <cstdint>
#include <ostream>
#include <string>
#include <string_view>
#include <vector>

#include "app/option_parser.hpp"
#include "platform/list_text.hpp"
#include "solver/maybe_error.hpp"

namespace nembo {

struct BenchConfig {
    std::uint32_t numthreads = 0;
    std::uint32_t duration = 30;
    std::uint64_t size = 192;
    std::string threading = "os";
    std::string workload = "standing_wave";
    std::string isa = "sse2";
    bool strict_isa_check = false;
    bool large_pages = false;
    bool bypass_timer_check = false;
};

struct ActionFlags {
    bool show_nembo = false;
    bool show_help = false;
    bool topo_debug = false;
    bool timer_debug = false;
};

inline constexpr std::array<std::uint64_t, 14> grid_sizes = {
    64, 128, 192, 256, 320, 384, 448, 512, 640, 768, 1024, 2048, 4096, 8192};
inline constexpr list_text::Text size_list = list_text::join(grid_sizes);
inline constexpr std::string_view size_list_text = size_list.view();
inline constexpr std::uint32_t min_duration_s = 1;
inline constexpr std::uint32_t max_duration_s = 1000;

// The outcome of parsing an argument vector: empty on success, else the
// parser's error text.
struct ParsedCommandLine {
    MaybeError error;
    std::string help_text;  // the parser's help screen for this command line
};

// The twelve options, in order, bound to `config` and `flags`; the
// executable name is "<executable>" until the first parse.
CommandLine build_command_line(BenchConfig& config, ActionFlags& flags);

// Declares the twelve options bound to `config` and `flags`, parses
// argv[0..argc) once (argv[0] is the executable name) and renders the help
// text with the executable's own file name.
ParsedCommandLine parse_command_line(int argc, const char* const* argv, BenchConfig& config,
                                     ActionFlags& flags);

MaybeError check_config(const BenchConfig& config);

// The parser's help text, an empty line and the memory table.
void print_help_screen(std::ostream& out, const std::string& help_text);

}  // namespace nembo
