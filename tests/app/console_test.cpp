#include "app/console.hpp"

#include <gtest/gtest.h>

#include <cstdio>
#include <sstream>
#include <string>
#include <vector>

namespace nembo {
namespace {

TEST(FormatBytes, StepsOf1024) {
    EXPECT_EQ(format_bytes(0), "0 B");
    EXPECT_EQ(format_bytes(1023), "1023 B");
    EXPECT_EQ(format_bytes(1024), "1.00 KiB");
    EXPECT_EQ(format_bytes(1536), "1.50 KiB");
    EXPECT_EQ(format_bytes(1048575), "1024.00 KiB");  // 1023.999... stays in KiB
    EXPECT_EQ(format_bytes(1048576), "1.00 MiB");
    EXPECT_EQ(format_bytes(1ull << 60), "1.00 EiB");
    EXPECT_EQ(format_bytes(18446744073709551615ull), "16.00 EiB");
}

TEST(FormatSi, StepsOf1000) {
    EXPECT_EQ(format_si(0, "Hz"), "0 Hz");
    EXPECT_EQ(format_si(999, "Hz"), "999 Hz");
    EXPECT_EQ(format_si(1000, "Hz"), "1.00 KHz");
    EXPECT_EQ(format_si(999999, "Hz"), "1000.00 KHz");
    EXPECT_EQ(format_si(2400000000ull, "Hz"), "2.40 GHz");
    EXPECT_EQ(format_si(10000000000000000000ull, "Hz"), "10.00 EHz");
}

// The memory table is checked as part of the whole help screen.

std::vector<std::string> art_lines(std::string_view frame) {
    std::vector<std::string> lines;
    std::size_t start = 1;  // after the leading newline
    while (start < frame.size()) {
        const std::size_t end = frame.find('\n', start);
        lines.emplace_back(frame.substr(start, end - start));
        start = end + 1;
    }
    return lines;
}

// Code points of a UTF-8 line.
std::u32string decode(const std::string& line) {
    std::u32string out;
    for (std::size_t i = 0; i < line.size();) {
        const unsigned char c = static_cast<unsigned char>(line[i]);
        if (c < 0x80) {
            out.push_back(c);
            i += 1;
        } else {
            out.push_back(static_cast<char32_t>(((c & 0x1f) << 6) | (line[i + 1] & 0x3f)));
            i += 2;
        }
    }
    return out;
}

TEST(Banner, FramesAre206BytesOfSixThirtyColumnLines) {
    for (const std::string_view frame : banner_frames) {
        EXPECT_EQ(frame.size(), banner_frame_bytes);
        EXPECT_EQ(frame.front(), '\n');
        EXPECT_EQ(frame.back(), '\n');
        const std::vector<std::string> lines = art_lines(frame);
        ASSERT_EQ(lines.size(), 6u);
        for (const std::string& line : lines) {
            const std::u32string text = decode(line);
            EXPECT_EQ(text.size(), 30u) << line;
        }
    }
}

TEST(Banner, FramesTwoAndThreeDeriveFromZeroAndOne) {
    std::vector<std::u32string> f[4];
    for (int i = 0; i < 4; ++i) {
        for (const std::string& line : art_lines(banner_frames[static_cast<std::size_t>(i)])) {
            f[i].push_back(decode(line));
        }
    }
    // Lines and columns from 1.
    auto at = [&](int frame, int line, int column) { return f[frame][line - 1][column - 1]; };
    std::vector<std::u32string> two = f[0];
    two[0][1] = U'O';
    EXPECT_EQ(f[2], two);
    EXPECT_EQ(at(1, 2, 3), U'O');
    EXPECT_EQ(at(1, 3, 3), U')');
    std::vector<std::u32string> three = f[1];
    three[1][2] = U' ';
    three[2][2] = U':';
    EXPECT_EQ(f[3], three);
    // The two tail drawings differ only in columns 17 to 29.
    for (int line = 1; line <= 6; ++line) {
        for (int column = 1; column <= 30; ++column) {
            if (column >= 17 && column <= 29) continue;
            EXPECT_EQ(at(0, line, column), at(3, line, column)) << line << ":" << column;
        }
    }
    EXPECT_NE(f[0], f[3]);
}

// A console whose answers the test chooses, with a clock that advances only
// when it sleeps.
class FakeConsole : public ConsoleOs {
public:
    bool escape_ok = false;
    bool has_buffer = false;
    std::int64_t row = 0;
    int enable_calls = 0;
    std::vector<std::int64_t> rows_set;
    std::vector<std::uint32_t> sleeps;
    std::chrono::steady_clock::time_point clock{};
    bool is_console = false;
    std::string console_text;

    bool enable_escape_processing() override {
        ++enable_calls;
        return escape_ok;
    }
    bool cursor_row(std::int64_t& r) override {
        r = row;
        return has_buffer;
    }
    void set_cursor(std::int64_t column, std::int64_t r) override {
        EXPECT_EQ(column, 0);
        rows_set.push_back(r);
        row = r;
    }
    void sleep_ms(std::uint32_t ms) override {
        sleeps.push_back(ms);
        clock += std::chrono::milliseconds(ms);
    }
    bool write_console(std::string_view utf8) override {
        if (is_console) console_text += utf8;
        return is_console;
    }
    std::chrono::steady_clock::time_point now() override {
        clock += std::chrono::microseconds(150);  // reading the clock takes a moment
        return clock;
    }
};

// Collects what the cursor code writes through a C stream.
class CFile {
public:
    CFile() : file_(std::tmpfile()) {}
    ~CFile() {
        if (file_ != nullptr) std::fclose(file_);
    }
    CFile(const CFile&) = delete;
    CFile& operator=(const CFile&) = delete;
    std::FILE* get() const { return file_; }
    std::string contents() const {
        std::fflush(file_);
        std::rewind(file_);
        std::string text;
        for (int c = std::fgetc(file_); c != EOF; c = std::fgetc(file_)) {
            text.push_back(static_cast<char>(c));
        }
        return text;
    }

private:
    std::FILE* file_;
};

TEST(CursorUp, EscapeSequencesWhenTheConsoleAcceptsThem) {
    CFile out;
    if (out.get() == nullptr) GTEST_SKIP() << "no temporary file";
    FakeConsole os;
    os.escape_ok = true;
    CursorMover mover(os, out.get());
    mover.up(0);  // nothing, not even the attempt
    EXPECT_FALSE(mover.vt_attempted());
    mover.up(7);
    mover.up(12);
    EXPECT_TRUE(mover.vt_attempted() && mover.vt_enabled());
    EXPECT_EQ(os.enable_calls, 1);
    EXPECT_EQ(out.contents(), "\x1b[7F\x1b[12F");
    EXPECT_TRUE(os.rows_set.empty());
}

TEST(CursorUp, ScreenBufferFallbackStopsAtRowZero) {
    CFile out;
    if (out.get() == nullptr) GTEST_SKIP() << "no temporary file";
    FakeConsole os;
    os.has_buffer = true;
    os.row = 10;
    CursorMover mover(os, out.get());
    mover.up(7);
    mover.up(3);
    mover.up(7);
    EXPECT_EQ(os.enable_calls, 1);  // decided once
    EXPECT_TRUE(mover.vt_attempted());
    EXPECT_FALSE(mover.vt_enabled());
    EXPECT_EQ(os.rows_set, (std::vector<std::int64_t>{3, 0, 0}));
    EXPECT_EQ(out.contents(), "");
}

std::string seventeen_frames() {
    std::string frames;
    for (int round = 0; round < 4; ++round) {
        for (const std::string_view frame : banner_frames) frames += frame;
    }
    frames += banner_frames[3];
    frames += '\n';
    return frames;
}

TEST(Banner, RedirectedOutputGetsSeventeenFramesAndNoEscapes) {
    CFile escapes;
    if (escapes.get() == nullptr) GTEST_SKIP() << "no temporary file";
    FakeConsole os;  // neither escapes nor a screen buffer
    CursorMover mover(os, escapes.get());
    std::ostringstream out;
    play_banner(out, os, mover);

    EXPECT_EQ(out.str(), seventeen_frames());
    EXPECT_EQ(escapes.contents(), "");
    EXPECT_TRUE(os.rows_set.empty());

    // Each frame waits 400 ms: the first sleep rounds the remaining time up
    // to whole milliseconds, the next covers what reading the clock missed.
    ASSERT_FALSE(os.sleeps.empty());
    EXPECT_EQ(os.sleeps.front(), 400u);
    std::uint64_t total = 0;
    for (const std::uint32_t ms : os.sleeps) total += ms;
    EXPECT_GE(total, 16u * 400u);
    EXPECT_LE(total, 16u * 401u);
}

TEST(Banner, ConsoleWithEscapesMovesUpSevenLinesAfterEachFrame) {
    CFile escapes;
    if (escapes.get() == nullptr) GTEST_SKIP() << "no temporary file";
    FakeConsole os;
    os.escape_ok = true;
    CursorMover mover(os, escapes.get());
    std::ostringstream out;
    play_banner(out, os, mover);
    std::string expected;
    for (int i = 0; i < 16; ++i) expected += "\x1b[7F";
    EXPECT_EQ(escapes.contents(), expected);
}

TEST(Banner, ConsoleGetsTheFramesThroughItsWideOutput) {
    CFile escapes;
    if (escapes.get() == nullptr) GTEST_SKIP() << "no temporary file";
    FakeConsole os;
    os.is_console = true;
    os.escape_ok = true;
    CursorMover mover(os, escapes.get());
    std::ostringstream out;
    play_banner(out, os, mover);
    EXPECT_EQ(os.console_text, seventeen_frames());
    EXPECT_EQ(out.str(), "") << "not a byte of a frame through the stream as well";
}

TEST(Banner, FramesAsUtf16ShowTheFourLatin1Characters) {
    for (const std::string_view frame : banner_frames) {
        const std::u16string wide = utf16_from_utf8(frame);
        std::u32string points;
        for (const std::string& line : art_lines(frame)) points += U'\n' + decode(line);
        points += U'\n';
        ASSERT_EQ(wide.size(), points.size());
        for (std::size_t i = 0; i < wide.size(); ++i) EXPECT_EQ(char32_t{wide[i]}, points[i]) << "at " << i;
    }
    EXPECT_NE(utf16_from_utf8(banner_frames[0]).find(u"\u00B8\u00B8\u00B8.:::::"), std::u16string::npos);
    EXPECT_NE(utf16_from_utf8(banner_frames[0]).find(u": \u00A9 ):"), std::u16string::npos);
    EXPECT_NE(utf16_from_utf8(banner_frames[0]).find(u"\u00B7\u00B4\u00B4\u00B4\u00B4\u00B8"), std::u16string::npos);

    EXPECT_EQ(utf16_from_utf8("\xE2\x82\xAC\xF0\x9F\x90\x9F"), u"\u20AC\U0001F41F");
    // Bytes that start no valid sequence: a stray continuation, an overlong
    // form, a surrogate, a cut-off sequence.
    EXPECT_EQ(utf16_from_utf8("a\x80" "b"), u"a\uFFFDb");
    EXPECT_EQ(utf16_from_utf8("\xC0\xAF"), u"\uFFFD\uFFFD");
    EXPECT_EQ(utf16_from_utf8("\xED\xA0\x80"), u"\uFFFD\uFFFD\uFFFD");
    EXPECT_EQ(utf16_from_utf8("\xC2"), u"\uFFFD");
}

}  // namespace
}  // namespace nembo
