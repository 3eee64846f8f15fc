// Linux console: escape sequences work exactly when standard output is a
// terminal; there is no screen buffer to fall back on.
#include <unistd.h>

#include <chrono>
#include <thread>

#include "app/console.hpp"

namespace nembo {

namespace {

class LinuxConsole final : public ConsoleOs {
public:
    bool enable_escape_processing() override { return isatty(STDOUT_FILENO) == 1; }
    bool cursor_row(std::int64_t&) override { return false; }
    void set_cursor(std::int64_t, std::int64_t) override {}
    void sleep_ms(std::uint32_t ms) override {
        std::this_thread::sleep_for(std::chrono::milliseconds(ms));
    }
};

}  // namespace

ConsoleOs& system_console() {
    static LinuxConsole console;
    return console;
}

}  // namespace nembo
