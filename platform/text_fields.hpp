#pragma once
// The small pieces of parsing that the readers of Linux's /proc and /sys
// trees (the topology, the system's limits) share.
#include <charconv>
#include <optional>
#include <string_view>
#include <system_error>

namespace nembo::text_fields {

// The text without the blanks and line ends around it.
inline std::string_view trim(std::string_view text) {
    const auto blank = [](char c) { return c == ' ' || c == '\n' || c == '\t' || c == '\r'; };
    while (!text.empty() && blank(text.front())) text.remove_prefix(1);
    while (!text.empty() && blank(text.back())) text.remove_suffix(1);
    return text;
}

// A decimal number that is the whole text (no sign, no blanks, no overflow);
// nothing otherwise.
template <typename Number>
std::optional<Number> parse_decimal(std::string_view text) {
    Number value = 0;
    const char* end = text.data() + text.size();
    const auto [ptr, ec] = std::from_chars(text.data(), end, value);
    if (text.empty() || ec != std::errc{} || ptr != end) return std::nullopt;
    return value;
}

}  // namespace nembo::text_fields
