// Windows console: virtual-terminal processing when the console allows it,
// else the screen buffer's cursor functions.
#include <windows.h>

#include "app/console.hpp"

namespace nembo {

namespace {

bool valid(HANDLE handle) { return handle != INVALID_HANDLE_VALUE && handle != nullptr; }

class WindowsConsole final : public ConsoleOs {
public:
    bool enable_escape_processing() override {
        const HANDLE out = GetStdHandle(STD_OUTPUT_HANDLE);
        if (!valid(out)) return false;
        DWORD mode = 0;
        if (!GetConsoleMode(out, &mode)) return false;
        return SetConsoleMode(out, mode | ENABLE_VIRTUAL_TERMINAL_PROCESSING) != 0;
    }

    bool cursor_row(std::int64_t& row) override {
        const HANDLE out = GetStdHandle(STD_OUTPUT_HANDLE);
        if (!valid(out)) return false;
        CONSOLE_SCREEN_BUFFER_INFO info;
        if (!GetConsoleScreenBufferInfo(out, &info)) return false;
        row = info.dwCursorPosition.Y;
        return true;
    }

    void set_cursor(std::int64_t column, std::int64_t row) override {
        const HANDLE out = GetStdHandle(STD_OUTPUT_HANDLE);
        if (!valid(out)) return;
        COORD position;
        position.X = static_cast<SHORT>(column);
        position.Y = static_cast<SHORT>(row);
        SetConsoleCursorPosition(out, position);
    }

    void sleep_ms(std::uint32_t ms) override { Sleep(ms); }
};

}  // namespace

ConsoleOs& system_console() {
    static WindowsConsole console;
    return console;
}

}  // namespace nembo
