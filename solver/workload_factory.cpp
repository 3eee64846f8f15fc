#include <memory>

#include "solver/isa.hpp"
#include "solver/variants.hpp"

namespace nembo {

namespace {

#define NEMBO_VARIANT_TABLE(ns)                                                                   \
    VariantFunctions {                                                                            \
        ns::make_standing_wave, ns::make_soft_gaussian, ns::update_h, ns::update_e, ns::node_energy, \
            ns::total_energy, ns::ratio_row, ns::probe_workload                                  \
    }

const VariantFunctions sse2_build = NEMBO_VARIANT_TABLE(isa_sse2);
const VariantFunctions avx_build = NEMBO_VARIANT_TABLE(isa_avx);
const VariantFunctions fma_build = NEMBO_VARIANT_TABLE(isa_fma);
const VariantFunctions fma_apx_build = NEMBO_VARIANT_TABLE(isa_fma_apx);
const VariantFunctions avx512_build = NEMBO_VARIANT_TABLE(isa_avx512);
const VariantFunctions avx512vl_build = NEMBO_VARIANT_TABLE(isa_avx512vl);

#undef NEMBO_VARIANT_TABLE

}  // namespace

const VariantFunctions& variant_functions(Isa isa) {
    switch (isa) {
    case Isa::sse2:
        return sse2_build;
    case Isa::avx:
    case Isa::avx2:
        return avx_build;
    case Isa::fma:
        return fma_build;
    case Isa::fma_apx:
        return fma_apx_build;
    case Isa::avx512f:
    case Isa::avx10_2_512:
        return avx512_build;
    case Isa::avx512vl:
    case Isa::avx10_2_256:
        return avx512vl_build;
    }
    return sse2_build;
}

std::unique_ptr<Workload> create_workload(std::string_view workload, std::string_view isa,
                                          std::uint32_t thread_index) {
    const std::optional<Isa> parsed = parse_isa(isa);
    if (!parsed) return nullptr;
    const VariantFunctions& build = variant_functions(*parsed);
    if (workload == "standing_wave") return std::unique_ptr<Workload>(build.make_standing_wave(thread_index));
    if (workload == "soft_gaussian") return std::unique_ptr<Workload>(build.make_soft_gaussian(thread_index));
    return nullptr;
}

}  // namespace nembo
