#include <iterator>
#include <memory>

#include "solver/isa.hpp"
#include "solver/variants.hpp"

namespace nembo {

namespace {

#define NEMBO_VARIANT_TABLE(ns)                                                                   \
    VariantFunctions {                                                                            \
        ns::make_standing_wave, ns::make_soft_gaussian, ns::update_h, ns::update_e, ns::node_energy, \
            ns::total_energy, ns::ratio_row, ns::probe_workload, ns::use_schedule,               \
            ns::stepping_schedule, ns::schedule_calibration                                      \
    }

// By SolverBuild.
const VariantFunctions builds[] = {
    NEMBO_VARIANT_TABLE(isa_sse2),   NEMBO_VARIANT_TABLE(isa_avx),    NEMBO_VARIANT_TABLE(isa_fma),
    NEMBO_VARIANT_TABLE(isa_fma_apx), NEMBO_VARIANT_TABLE(isa_avx512), NEMBO_VARIANT_TABLE(isa_avx512vl),
};
static_assert(std::size(builds) == static_cast<std::size_t>(SolverBuild::avx512vl) + 1);

#undef NEMBO_VARIANT_TABLE

}  // namespace

const VariantFunctions& variant_functions(Isa isa) {
    return builds[static_cast<std::size_t>(isa_variant(isa).build)];
}

std::unique_ptr<Workload> create_workload(std::string_view workload, std::string_view isa,
                                          std::uint32_t thread_index) {
    const std::optional<Isa> parsed = parse_isa(isa);
    if (!parsed) return nullptr;
    const VariantFunctions& build = variant_functions(*parsed);
    Workload* (*const makers[])(std::uint32_t) = {build.make_standing_wave, build.make_soft_gaussian};
    static_assert(sizeof(makers) / sizeof(makers[0]) == std::size(workload_names));
    for (std::size_t i = 0; i < std::size(workload_names); ++i) {
        if (workload == workload_names[i]) return std::unique_ptr<Workload>(makers[i](thread_index));
    }
    return nullptr;
}

}  // namespace nembo
