#include "platform/units.hpp"

#include <fmt/format.h>

#include <array>

namespace nembo {

std::string format_bytes(std::uint64_t n) {
    static constexpr std::array<const char*, 7> units = {"B",   "KiB", "MiB", "GiB",
                                                         "TiB", "PiB", "EiB"};
    double x = static_cast<double>(n);
    std::size_t i = 0;
    while (x >= 1024.0 && i < 6) {
        x *= 1.0 / 1024.0;
        ++i;
    }
    if (i == 0) return fmt::format("{} {}", n, units[0]);
    return fmt::format("{:.2f} {}", x, units[i]);
}

std::string format_si(std::uint64_t n, std::string_view unit) {
    static constexpr std::array<const char*, 7> prefixes = {"", "K", "M", "G", "T", "P", "E"};
    double x = static_cast<double>(n);
    std::size_t i = 0;
    while (x >= 1000.0 && i < 6) {
        x /= 1000.0;
        ++i;
    }
    if (i == 0) return fmt::format("{} {}{}", n, prefixes[0], unit);
    return fmt::format("{:.2f} {}{}", x, prefixes[i], unit);
}

}  // namespace nembo
