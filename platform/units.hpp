#pragma once
// Short human-readable quantities: byte counts in steps of 1024 ("B" to
// "EiB") and other units in steps of 1000 ("K" to "E" before the unit).
#include <cstdint>
#include <string>
#include <string_view>

namespace nembo {

std::string format_bytes(std::uint64_t n);
std::string format_si(std::uint64_t n, std::string_view unit);

}  // namespace nembo
