#include <algorithm>

#include "solver/isa.hpp"

namespace nembo {

const IsaVariant& isa_variant(Isa isa) {
    const auto index = static_cast<std::size_t>(isa);
    return isa_variants[index < isa_variant_count ? index : 0];
}

std::string_view isa_name(Isa isa) {
    const auto index = static_cast<std::size_t>(isa);
    return index < isa_variant_count ? isa_variants[index].name : std::string_view{};
}

std::optional<Isa> parse_isa(std::string_view name) {
    for (const IsaVariant& variant : isa_variants) {
        if (variant.name == name) return variant.isa;
    }
    return std::nullopt;
}

bool is_known_isa(std::string_view name) { return parse_isa(name).has_value(); }

bool is_known_workload(std::string_view name) {
    return std::find(std::begin(workload_names), std::end(workload_names), name) != std::end(workload_names);
}

}  // namespace nembo
