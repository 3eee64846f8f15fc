#pragma once
// Instruction-set variants of the solver: one table of the variants, from
// which their names, the list text, the support check and the factory are
// read. Adding a variant is a new enumerator and a new row (and, for a new
// code shape, a new SolverBuild with its copy of the solver).
#include <cstddef>
#include <cstdint>
#include <iterator>
#include <memory>
#include <optional>
#include <string_view>

#include "platform/cpu.hpp"
#include "platform/list_text.hpp"
#include "solver/maybe_error.hpp"
#include "solver/workload.hpp"

namespace nembo {

enum class Isa : std::uint32_t {
    sse2 = 0, avx, avx2, fma, fma_apx, avx512f, avx512vl, avx10_2_256, avx10_2_512
};

// The copies of the solver, one per code shape; several variants may run
// the same copy and differ only in their support check.
enum class SolverBuild : std::uint32_t { sse2, avx, fma, fma_apx, avx512, avx512vl };

// A feature that a variant needs, and the support check's text when the
// processor lacks it: a flag of CpuFeatures or, without a flag, an AVX10
// version of at least `avx10_version`.
struct IsaRequirement {
    bool CpuFeatures::*flag = nullptr;
    std::uint32_t avx10_version = 0;
    std::string_view missing;  // empty: no requirement
};

struct IsaVariant {
    Isa isa;
    std::string_view name;
    SolverBuild build;
    IsaRequirement requirements[2];  // in checking order
};

// The variants in the order of their enumerators and of the list text.
inline constexpr IsaVariant isa_variants[] = {
    {Isa::sse2, "sse2", SolverBuild::sse2, {}},
    {Isa::avx, "avx", SolverBuild::avx, {{&CpuFeatures::avx, 0, "avx support not detected"}}},
    {Isa::avx2, "avx2", SolverBuild::avx, {{&CpuFeatures::avx2, 0, "avx2 support not detected"}}},
    {Isa::fma, "fma", SolverBuild::fma, {{&CpuFeatures::fma, 0, "fma support not detected"}}},
    {Isa::fma_apx, "fma-apx", SolverBuild::fma_apx,
     {{&CpuFeatures::fma, 0, "fma support not detected"}, {&CpuFeatures::apx, 0, "apx support not detected"}}},
    {Isa::avx512f, "avx512f", SolverBuild::avx512, {{&CpuFeatures::avx512f, 0, "avx512f support not detected"}}},
    {Isa::avx512vl, "avx512vl", SolverBuild::avx512vl,
     {{&CpuFeatures::avx512f, 0, "avx512f support not detected"},
      {&CpuFeatures::avx512vl, 0, "avx512vl support not detected"}}},
    {Isa::avx10_2_256, "avx10-2-256", SolverBuild::avx512vl, {{nullptr, 2, "avx10.2 support not detected"}}},
    {Isa::avx10_2_512, "avx10-2-512", SolverBuild::avx512, {{nullptr, 2, "avx10.2 support not detected"}}},
};
inline constexpr std::size_t isa_variant_count = std::size(isa_variants);

constexpr bool rows_follow_the_enumeration() {
    for (std::size_t i = 0; i < isa_variant_count; ++i) {
        if (isa_variants[i].isa != static_cast<Isa>(i)) return false;
    }
    return isa_variants[isa_variant_count - 1].isa == Isa::avx10_2_512;
}
static_assert(rows_follow_the_enumeration(), "one row per Isa enumerator, in their order");

inline constexpr std::string_view workload_names[] = {"standing_wave", "soft_gaussian"};

inline constexpr list_text::Text isa_list =
    list_text::join(isa_variants, [](const IsaVariant& variant) { return variant.name; });
inline constexpr std::string_view isa_list_text = isa_list.view();
inline constexpr list_text::Text workload_list = list_text::join(workload_names);
inline constexpr std::string_view workload_list_text = workload_list.view();

const IsaVariant& isa_variant(Isa isa);
std::string_view isa_name(Isa isa);
std::optional<Isa> parse_isa(std::string_view name);
bool is_known_isa(std::string_view name);
bool is_known_workload(std::string_view name);

MaybeError check_isa_support(std::string_view isa_name, const CpuFeatures& features);
MaybeError check_isa_support(std::string_view isa_name);  // this processor

std::unique_ptr<Workload> create_workload(std::string_view workload, std::string_view isa,
                                          std::uint32_t thread_index);

}  // namespace nembo
