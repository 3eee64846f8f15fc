#include "app/console.hpp"

#include <algorithm>
#include <iostream>
#include <limits>

#include <fmt/format.h>

#include "solver/grid.hpp"

namespace nembo {

namespace {

// The fish. Frames 0 and 2 share one drawing of the tail, 1 and 3 the
// other; 2 is 0 with a bubble above the head, 3 is 1 without its bubble and
// with the gill closed. The art uses U+00B8, U+00B7, U+00B4 and U+00A9,
// written here as UTF-8.
constexpr std::string_view frame0 =
    "\n"
    "            ¸¸¸.:::::  .'''   \n"
    "     ¸.·´´´´¸ ```'/''·´   ``: \n"
    "  : © ):   ...____       ':`  \n"
    "     `······` \\\\  `\\      .:' \n"
    "                `   '...:;`   \n"
    "                       ``     \n"
    ;
constexpr std::string_view frame1 =
    "\n"
    "            ¸¸¸.:::::  .''    \n"
    "  O  ¸.·´´´´¸ ```'/''·´  ';   \n"
    "  ) © ):   ...____       ':   \n"
    "     `······` \\\\\\ `\\     ;:   \n"
    "                    '...;`    \n"
    "                       `      \n"
    ;
constexpr std::string_view frame2 =
    "\n"
    " O          ¸¸¸.:::::  .'''   \n"
    "     ¸.·´´´´¸ ```'/''·´   ``: \n"
    "  : © ):   ...____       ':`  \n"
    "     `······` \\\\  `\\      .:' \n"
    "                `   '...:;`   \n"
    "                       ``     \n"
    ;
constexpr std::string_view frame3 =
    "\n"
    "            ¸¸¸.:::::  .''    \n"
    "     ¸.·´´´´¸ ```'/''·´  ';   \n"
    "  : © ):   ...____       ':   \n"
    "     `······` \\\\\\ `\\     ;:   \n"
    "                    '...;`    \n"
    "                       `      \n"
    ;

// The process-wide console state: one attempt to enable escape sequences.
CursorMover& system_cursor() {
    static CursorMover mover(system_console(), stdout);
    return mover;
}

}  // namespace

const std::array<std::string_view, 4> banner_frames = {frame0, frame1, frame2, frame3};

void print_memory_header(std::ostream& out) {
    out << fmt::format("{:<12}    {:>10}", "field size", "memory used per thread") << std::endl;
}

void print_memory_row(std::ostream& out, std::uint64_t size) {
    out << fmt::format("  {:<12}    {:>12}", size, format_bytes(memory_per_thread(size)))
        << std::endl;
}

// ---- cursor movement ----

ConsoleOs::~ConsoleOs() = default;

std::chrono::steady_clock::time_point ConsoleOs::now() { return std::chrono::steady_clock::now(); }

bool ConsoleOs::write_console(std::string_view) { return false; }

std::u16string utf16_from_utf8(std::string_view utf8) {
    std::u16string text;
    text.reserve(utf8.size());
    const auto byte = [&](std::size_t i) { return static_cast<unsigned char>(utf8[i]); };
    for (std::size_t i = 0; i < utf8.size();) {
        const unsigned char lead = byte(i);
        std::size_t length = 1;
        char32_t code = lead;
        char32_t least = 0;
        if (lead >= 0xF0 && lead <= 0xF4) {
            length = 4, code = lead & 0x07u, least = 0x10000;
        } else if (lead >= 0xE0 && lead <= 0xEF) {
            length = 3, code = lead & 0x0Fu, least = 0x800;
        } else if (lead >= 0xC2 && lead <= 0xDF) {
            length = 2, code = lead & 0x1Fu, least = 0x80;
        } else if (lead >= 0x80) {
            length = 0;  // a continuation byte or an invalid lead
        }
        bool valid = length != 0 && i + length <= utf8.size();
        for (std::size_t k = 1; valid && k < length; ++k) {
            valid = (byte(i + k) & 0xC0u) == 0x80u;
            code = (code << 6) | (byte(i + k) & 0x3Fu);
        }
        valid = valid && code >= least && code <= 0x10FFFF && !(code >= 0xD800 && code <= 0xDFFF);
        if (!valid) {
            text.push_back(u'\uFFFD');
            ++i;
            continue;
        }
        if (code >= 0x10000) {
            text.push_back(static_cast<char16_t>(0xD800 + ((code - 0x10000) >> 10)));
            text.push_back(static_cast<char16_t>(0xDC00 + ((code - 0x10000) & 0x3FF)));
        } else {
            text.push_back(static_cast<char16_t>(code));
        }
        i += length;
    }
    return text;
}

CursorMover::CursorMover(ConsoleOs& os, std::FILE* out) : os_(os), out_(out) {}

void CursorMover::write_escape(unsigned n) { std::fprintf(out_, "\x1b[%uF", n); }

void CursorMover::up(unsigned n) {
    if (n == 0) return;
    if (!vt_attempted_) {
        vt_attempted_ = true;
        vt_enabled_ = os_.enable_escape_processing();
        if (vt_enabled_) write_escape(n);
    } else if (vt_enabled_) {
        write_escape(n);
    }
    if (!vt_enabled_) {
        std::int64_t row = 0;
        if (!os_.cursor_row(row)) return;
        const std::int64_t lines = static_cast<std::int64_t>(n);
        os_.set_cursor(0, lines > row ? 0 : row - lines);
    }
    std::fflush(out_);
}

void cursor_up(unsigned n) { system_cursor().up(n); }

// ---- banner ----

void play_banner(std::ostream& out, ConsoleOs& os, CursorMover& cursor) {
    using namespace std::chrono;
    constexpr auto frame_time = nanoseconds(400'000'000);
    constexpr std::int64_t one_day_ms = 24LL * 60 * 60 * 1000;
    // On a console the frames go through its wide output, so that the
    // fish's four Latin-1 characters show whatever its code page; anywhere
    // else they are the bytes as they stand.
    const auto show = [&](std::string_view text) {
        out.flush();
        if (!os.write_console(text)) out << text << std::flush;
    };
    for (int round = 0; round < 4; ++round) {
        for (const std::string_view frame : banner_frames) {
            show(frame);
            const steady_clock::time_point deadline = os.now() + frame_time;
            for (steady_clock::time_point t = os.now(); t < deadline; t = os.now()) {
                const auto remaining = duration_cast<nanoseconds>(deadline - t).count();
                const std::int64_t ms = std::min<std::int64_t>((remaining + 999'999) / 1'000'000,
                                                               one_day_ms);
                os.sleep_ms(static_cast<std::uint32_t>(ms));
            }
            cursor.up(7);
        }
    }
    show(banner_frames[3]);
    show("\n");
}

void play_banner() { play_banner(std::cout, system_console(), system_cursor()); }

}  // namespace nembo
