#pragma once
// Instruction-set variants of the solver: names, support check, factory.
#include <cstdint>
#include <memory>
#include <optional>
#include <string_view>

#include "platform/cpu.hpp"
#include "solver/maybe_error.hpp"
#include "solver/workload.hpp"

namespace nembo {

enum class Isa : std::uint32_t {
    sse2 = 0, avx, avx2, fma, fma_apx, avx512f, avx512vl, avx10_2_256, avx10_2_512
};

inline constexpr std::string_view isa_list_text =
    "sse2, avx, avx2, fma, fma-apx, avx512f, avx512vl, avx10-2-256, avx10-2-512";
inline constexpr std::string_view workload_list_text = "standing_wave, soft_gaussian";

std::string_view isa_name(Isa isa);
std::optional<Isa> parse_isa(std::string_view name);
bool is_known_isa(std::string_view name);
bool is_known_workload(std::string_view name);

MaybeError check_isa_support(std::string_view isa_name, const CpuFeatures& features);
MaybeError check_isa_support(std::string_view isa_name);  // this processor

std::unique_ptr<Workload> create_workload(std::string_view workload, std::string_view isa,
                                          std::uint32_t thread_index);

}  // namespace nembo
