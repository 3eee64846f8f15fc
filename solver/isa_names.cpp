#include "solver/isa.hpp"

#include <iterator>

namespace nembo {

namespace {

constexpr std::string_view isa_names[] = {
    "sse2", "avx", "avx2", "fma", "fma-apx", "avx512f", "avx512vl", "avx10-2-256", "avx10-2-512",
};

}  // namespace

std::string_view isa_name(Isa isa) {
    const auto index = static_cast<std::uint32_t>(isa);
    return index < std::size(isa_names) ? isa_names[index] : std::string_view{};
}

std::optional<Isa> parse_isa(std::string_view name) {
    for (std::uint32_t i = 0; i < std::size(isa_names); ++i) {
        if (isa_names[i] == name) return static_cast<Isa>(i);
    }
    return std::nullopt;
}

bool is_known_isa(std::string_view name) { return parse_isa(name).has_value(); }

bool is_known_workload(std::string_view name) { return name == "standing_wave" || name == "soft_gaussian"; }

}  // namespace nembo
