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
    for (int round = 0; round < 4; ++round) {
        for (const std::string_view frame : banner_frames) {
            out << frame << std::flush;
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
    out << banner_frames[3] << std::endl;
}

void play_banner() { play_banner(std::cout, system_console(), system_cursor()); }

}  // namespace nembo
