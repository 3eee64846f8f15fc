#pragma once
// The list texts of the help screen and the messages ("64, 128, 192, ...",
// "sse2, avx, ..."), joined at compile time from the tables they name, so a
// table and its text cannot drift apart.
#include <cstddef>
#include <cstdint>
#include <string_view>

namespace nembo::list_text {

// A text of at most 128 characters; a longer list does not compile.
struct Text {
    char chars[128]{};
    std::size_t size = 0;

    constexpr void append(std::string_view text) {
        for (const char c : text) chars[size++] = c;
    }
    constexpr void append(std::uint64_t n) {
        char digits[20]{};
        std::size_t count = 0;
        do {
            digits[count++] = static_cast<char>('0' + n % 10);
            n /= 10;
        } while (n != 0);
        while (count > 0) chars[size++] = digits[--count];
    }
    constexpr std::string_view view() const { return {chars, size}; }
};

struct Itself {
    template <typename T>
    constexpr const T& operator()(const T& item) const { return item; }
};

// The items' texts (decimal for numbers) joined with ", ".
template <typename Items, typename Project = Itself>
constexpr Text join(const Items& items, Project text_of = {}) {
    Text list;
    bool first = true;
    for (const auto& item : items) {
        if (!first) list.append(std::string_view(", "));
        list.append(text_of(item));
        first = false;
    }
    return list;
}

}  // namespace nembo::list_text
