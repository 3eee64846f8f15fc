#include <string>
#include <utility>

#include "platform/cpu.hpp"
#include "solver/isa.hpp"

namespace nembo {

MaybeError check_isa_support(std::string_view name, const CpuFeatures& features) {
    const std::optional<Isa> isa = parse_isa(name);
    if (!isa) return MaybeError("unknown isa '" + std::string(name) + "'");

    std::string missing;
    for (const IsaRequirement& requirement : isa_variant(*isa).requirements) {
        if (requirement.missing.empty()) continue;
        const bool met = requirement.flag != nullptr ? features.*requirement.flag
                                                     : features.avx10_version >= requirement.avx10_version;
        if (!met) {
            missing += requirement.missing;
            missing += '\n';
        }
    }
    if (missing.empty()) return MaybeError();
    return MaybeError(std::move(missing));
}

MaybeError check_isa_support(std::string_view name) { return check_isa_support(name, detect_cpu_features()); }

}  // namespace nembo
