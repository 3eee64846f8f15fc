#pragma once
// Runs the nembo executable as a user would and captures what it writes.
// NEMBO_COMMAND names the executable; NEMBO_LAUNCHER, when set, is a program
// that runs it (Wine for the Windows build); NEMBO_TARGET is "linux" or
// "windows".
#include <chrono>
#include <string>
#include <vector>

namespace nembo::test {

struct ProgramResult {
    std::string out;
    std::string err;
    int status = -1;
};

// The run is stopped (and the test fails) after `limit`; 0 means the common
// limit (NEMBO_RUN_TIME_LIMIT, else 120 s).
ProgramResult run_nembo(const std::vector<std::string>& args, const std::string& input = "",
                        std::chrono::seconds limit = std::chrono::seconds(0));
// The same, started by `launcher` (none when empty) instead of NEMBO_LAUNCHER.
ProgramResult run_nembo_under(const std::string& launcher, const std::vector<std::string>& args,
                              const std::string& input = "", std::chrono::seconds limit = std::chrono::seconds(0));
// Any program: argv[0] is looked up on the PATH; `input` is its standard
// input, then closed. Throws when it cannot be started.
ProgramResult run_program(std::vector<std::string> argv, const std::string& input = "",
                          std::chrono::seconds limit = std::chrono::seconds(0));

// An environment variable's value, or `fallback` when it is unset or empty.
std::string env_or(const char* name, const char* fallback);

bool windows_target();
// The program's own file name as its usage line shows it.
std::string exe_name();
// Text as the target writes it: CRLF line ends on Windows (text mode).
std::string as_written(const std::string& text);

// What the program under test says of this machine's fast timer in its own
// timer report: the source it names and whether it passes the HWBOT rule.
// Asked once per test program.
struct TimerVerdict {
    std::string source;
    bool compliant = false;
};
const TimerVerdict& timer_verdict();

// What a run given --bypass-timer-check writes first on standard error: the
// warning box exactly when this machine's fast timer fails the rule.
std::string timer_warning();

}  // namespace nembo::test
