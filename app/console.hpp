#pragma once
// Console presentation: unit formatting, the memory table, the banner.
#include <cstdint>
#include <ostream>
#include <string>
#include <string_view>

namespace nembo {

std::string format_bytes(std::uint64_t n);
std::string format_si(std::uint64_t n, std::string_view unit);

void print_memory_header(std::ostream& out);
void print_memory_row(std::ostream& out, std::uint64_t size);

void play_banner();
void cursor_up(unsigned n);

}  // namespace nembo
