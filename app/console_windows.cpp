// Windows console: virtual-terminal processing when the console allows it,
// else the screen buffer's cursor functions; text through the console's wide
// output.
#include <windows.h>

#include <algorithm>
#include <string>

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

    bool write_console(std::string_view utf8) override {
        const HANDLE out = GetStdHandle(STD_OUTPUT_HANDLE);
        DWORD mode = 0;
        if (!valid(out) || !GetConsoleMode(out, &mode)) return false;
        const std::u16string utf16 = utf16_from_utf8(utf8);
        const std::wstring text(utf16.begin(), utf16.end());  // wchar_t is UTF-16 on Windows
        std::size_t done = 0;
        while (done < text.size()) {
            DWORD written = 0;
            const auto piece = static_cast<DWORD>(std::min<std::size_t>(text.size() - done, 4096));
            if (!WriteConsoleW(out, text.data() + done, piece, &written, nullptr) || written == 0) break;
            done += written;
        }
        // A console that takes nothing leaves the text to the stream.
        return done > 0 || text.empty();
    }
};

}  // namespace

ConsoleOs& system_console() {
    static WindowsConsole console;
    return console;
}

}  // namespace nembo
