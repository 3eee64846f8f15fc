#pragma once
// Console presentation: the memory table and the banner (their units come
// from platform/units.hpp).
#include <array>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <ostream>
#include <string>
#include <string_view>

#include "platform/units.hpp"

namespace nembo {

void print_memory_header(std::ostream& out);
void print_memory_row(std::ostream& out, std::uint64_t size);

// Plays the fish animation on standard output.
void play_banner();
// Moves the cursor to the first column of the line n lines up.
void cursor_up(unsigned n);

// The banner's four frames, UTF-8, 206 bytes each.
inline constexpr std::size_t banner_frame_bytes = 206;
extern const std::array<std::string_view, 4> banner_frames;

// What the console code needs from the operating system, one call each.
class ConsoleOs {
public:
    virtual ~ConsoleOs();
    // Turns on escape-sequence processing for standard output; false when
    // that is not possible.
    virtual bool enable_escape_processing() = 0;
    // The cursor row of standard output's screen buffer; false when there is
    // no screen buffer to ask.
    virtual bool cursor_row(std::int64_t& row) = 0;
    virtual void set_cursor(std::int64_t column, std::int64_t row) = 0;
    virtual void sleep_ms(std::uint32_t ms) = 0;
    // Writes UTF-8 text through the console's own wide-character output, so
    // that it shows as drawn whatever the console's code page; false, with
    // nothing written, when standard output is not a console (the bytes then
    // go to the stream unchanged).
    virtual bool write_console(std::string_view utf8);
    // The monotonic clock.
    virtual std::chrono::steady_clock::time_point now();
};

// UTF-8 as UTF-16, for the console's wide output; a byte that starts no
// valid sequence becomes U+FFFD.
std::u16string utf16_from_utf8(std::string_view utf8);

// This process's console.
ConsoleOs& system_console();

// Moves the cursor up. The first call decides, once, whether escape
// sequences are used; otherwise the screen-buffer cursor is moved directly.
class CursorMover {
public:
    CursorMover(ConsoleOs& os, std::FILE* out);
    void up(unsigned n);
    bool vt_attempted() const { return vt_attempted_; }
    bool vt_enabled() const { return vt_enabled_; }

private:
    void write_escape(unsigned n);

    ConsoleOs& os_;
    std::FILE* out_;
    bool vt_attempted_ = false;
    bool vt_enabled_ = false;
};

// The animation: 4 rounds of the four frames, each shown for at least
// 400 ms and then overwritten, and frame 3 once more to stay on screen.
void play_banner(std::ostream& out, ConsoleOs& os, CursorMover& cursor);

}  // namespace nembo
