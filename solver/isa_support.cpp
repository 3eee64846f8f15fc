#include <string>
#include <utility>

#include "platform/cpu.hpp"
#include "solver/isa.hpp"

namespace nembo {

MaybeError check_isa_support(std::string_view name, const CpuFeatures& features) {
    const std::optional<Isa> isa = parse_isa(name);
    if (!isa) return MaybeError("unknown isa '" + std::string(name) + "'");

    std::string missing;
    const auto require = [&missing](bool present, const char* text) {
        if (!present) {
            missing += text;
            missing += '\n';
        }
    };
    switch (*isa) {
    case Isa::sse2:
        break;
    case Isa::avx:
        require(features.avx, "avx support not detected");
        break;
    case Isa::avx2:
        require(features.avx2, "avx2 support not detected");
        break;
    case Isa::fma:
        require(features.fma, "fma support not detected");
        break;
    case Isa::fma_apx:
        require(features.fma, "fma support not detected");
        require(features.apx, "apx support not detected");
        break;
    case Isa::avx512f:
        require(features.avx512f, "avx512f support not detected");
        break;
    case Isa::avx512vl:
        require(features.avx512f, "avx512f support not detected");
        require(features.avx512vl, "avx512vl support not detected");
        break;
    case Isa::avx10_2_256:
    case Isa::avx10_2_512:
        require(features.avx10_version >= 2, "avx10.2 support not detected");
        break;
    }
    if (missing.empty()) return MaybeError();
    return MaybeError(std::move(missing));
}

MaybeError check_isa_support(std::string_view name) { return check_isa_support(name, detect_cpu_features()); }

}  // namespace nembo
