#pragma once
// The list texts of the help screen and the messages ("64, 128, 192, ...",
// "sse2, avx, ..."), joined at compile time from the tables they name, so a
// table and its text cannot drift apart.
#include <array>
#include <cstddef>
#include <cstdint>
#include <string_view>

namespace nembo::list_text {

constexpr std::size_t length_of(std::string_view text) { return text.size(); }

constexpr std::size_t length_of(std::uint64_t n) {
    std::size_t digits = 1;
    for (; n >= 10; n /= 10) ++digits;
    return digits;
}

constexpr void write(char*& out, std::string_view text) {
    for (const char c : text) *out++ = c;
}

constexpr void write(char*& out, std::uint64_t n) {
    const std::size_t digits = length_of(n);
    for (std::size_t i = digits; i-- > 0; n /= 10) out[i] = static_cast<char>('0' + n % 10);
    out += digits;
}

struct Itself {
    template <typename T>
    constexpr const T& operator()(const T& item) const { return item; }
};

// Length of the items' texts joined with ", ".
template <typename Items, typename Text = Itself>
constexpr std::size_t joined_length(const Items& items, Text text = {}) {
    std::size_t length = 0;
    bool first = true;
    for (const auto& item : items) {
        length += (first ? 0 : 2) + length_of(text(item));
        first = false;
    }
    return length;
}

// The items' texts joined with ", "; N is their joined_length.
template <std::size_t N, typename Items, typename Text = Itself>
constexpr std::array<char, N> join(const Items& items, Text text = {}) {
    std::array<char, N> chars{};
    char* out = chars.data();
    bool first = true;
    for (const auto& item : items) {
        if (!first) write(out, ", ");
        write(out, text(item));
        first = false;
    }
    return chars;
}

template <std::size_t N>
constexpr std::string_view view(const std::array<char, N>& chars) {
    return {chars.data(), N};
}

}  // namespace nembo::list_text
