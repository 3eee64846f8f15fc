// Feeds arbitrary argument vectors to the command line: the input is split
// on NUL bytes, the first piece being the executable name.
#include <cstddef>
#include <cstdint>
#include <sstream>
#include <string>
#include <vector>

#include "app/command_line.hpp"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    std::vector<std::string> pieces(1);
    for (std::size_t i = 0; i < size; ++i) {
        if (data[i] == 0) {
            pieces.emplace_back();
        } else {
            pieces.back().push_back(static_cast<char>(data[i]));
        }
    }
    std::vector<const char*> argv;
    argv.reserve(pieces.size() + 1);
    for (const std::string& piece : pieces) argv.push_back(piece.c_str());
    argv.push_back(nullptr);

    nembo::BenchConfig config;
    nembo::ActionFlags flags;
    const nembo::ParsedCommandLine parsed =
        nembo::parse_command_line(static_cast<int>(pieces.size()), argv.data(), config, flags);
    const nembo::MaybeError checked = nembo::check_config(config);
    if (!parsed.error && !checked) {
        std::ostringstream help;
        nembo::print_help_screen(help, parsed.help_text);
        if (help.str().find("OPTIONS, ARGUMENTS:\n") == std::string::npos) __builtin_trap();
    }
    // An error always has a text.
    if (parsed.error && parsed.error.text().empty()) __builtin_trap();
    if (checked && checked.text().empty()) __builtin_trap();
    return 0;
}
