#pragma once
// Helpers shared by the solver tests.
#include <array>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>
#include <string_view>
#include <vector>

#include "solver/grid.hpp"
#include "solver/isa.hpp"
#include "solver/variants.hpp"

namespace nembo::solver_test {

inline Cell& cell(FieldBlock& block, std::uint64_t x, std::uint64_t y, std::uint64_t z) {
    return block.cells[(x * block.edge + y) * block.edge + z];
}

inline std::vector<Cell> snapshot(const FieldBlock& block) {
    return std::vector<Cell>(block.cells, block.cells + block.cell_count);
}

inline bool bit_identical(const std::vector<Cell>& a, const std::vector<Cell>& b) {
    return a.size() == b.size() && std::memcmp(a.data(), b.data(), a.size() * sizeof(Cell)) == 0;
}

// The builds this processor can execute, with the name that selects each.
inline bool runnable(std::string_view isa) { return !check_isa_support(isa).has_error(); }

// Which sanitizer watches this build, as the compiler defines it.
#if defined(__SANITIZE_THREAD__)
inline constexpr bool thread_sanitizer_build = true;
#else
inline constexpr bool thread_sanitizer_build = false;
#endif
#if defined(__SANITIZE_ADDRESS__)
inline constexpr bool sanitized_build = true;
#else
inline constexpr bool sanitized_build = thread_sanitizer_build;
#endif

// Long single-threaded runs of the arithmetic give the thread sanitizer
// nothing to watch and take it minutes; the other builds run them.
#define NEMBO_SKIP_SINGLE_THREADED_UNDER_TSAN()                                                  \
    if (::nembo::solver_test::thread_sanitizer_build) {                                          \
        GTEST_SKIP() << "single-threaded arithmetic, run by the other builds";                   \
    }

// Under a sanitizer a step costs ten to twenty unsanitized ones, while what
// the sanitizer watches, every address a sweep reads and writes, is the same
// at every step. The long runs that compare whole fields therefore take a
// fifth of their steps in the sanitized builds; the release and Windows
// builds take them all, where the values after many steps are the point.
inline constexpr std::uint64_t steps_in_this_build(std::uint64_t steps) { return sanitized_build ? steps / 5 : steps; }

inline constexpr std::array<std::string_view, isa_variant_count> all_isas = [] {
    std::array<std::string_view, isa_variant_count> names{};
    for (std::size_t i = 0; i < isa_variant_count; ++i) names[i] = isa_variants[i].name;
    return names;
}();

// The standing wave's node count: its lattice's nodes per axis, cubed.
inline std::uint64_t node_count(const WorkloadProbe& probe) {
    return *probe.lattice * *probe.lattice * *probe.lattice;
}

// A workload of one build, allocated (heap storage) for the given size.
struct Allocated {
    std::unique_ptr<Workload> workload;
    WorkloadProbe probe;
    const VariantFunctions* build;
};

inline Allocated make_allocated(std::string_view workload, std::string_view isa, std::uint64_t size,
                                std::uint32_t thread = 0) {
    static const bool no_large_pages = false;
    Allocated made{create_workload(workload, isa, thread), {}, &variant_functions(*parse_isa(isa))};
    if (made.workload && !made.workload->allocate(GridParams{no_large_pages, size, 0.01}).has_error()) {
        made.probe = made.build->probe_workload(*made.workload);
    } else {
        made.workload.reset();
    }
    return made;
}

}  // namespace nembo::solver_test
