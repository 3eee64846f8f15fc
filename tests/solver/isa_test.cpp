// Instruction-set names, the support check and the workload factory.
#include <gtest/gtest.h>

#include <memory>
#include <set>
#include <string>
#include <string_view>

#include "platform/cpu.hpp"
#include "solver/isa.hpp"
#include "solver/variants.hpp"
#include "tests/solver/solver_support.hpp"

namespace nembo {
namespace {

// The names in their order, written out here rather than read from the table
// the tests check.
constexpr std::string_view isa_names_in_order[] = {
    "sse2", "avx", "avx2", "fma", "fma-apx", "avx512f", "avx512vl", "avx10-2-256", "avx10-2-512",
};

TEST(IsaNames, ParseInOrderAndRoundTrip) {
    for (std::uint32_t i = 0; i < std::size(isa_names_in_order); ++i) {
        const std::optional<Isa> isa = parse_isa(isa_names_in_order[i]);
        ASSERT_TRUE(isa.has_value()) << isa_names_in_order[i];
        EXPECT_EQ(static_cast<std::uint32_t>(*isa), i);
        EXPECT_EQ(isa_name(*isa), isa_names_in_order[i]);
        EXPECT_TRUE(is_known_isa(isa_names_in_order[i]));
    }
}

TEST(IsaNames, TheTableHoldsTheNineInOrder) {
    ASSERT_EQ(isa_variant_count, std::size(isa_names_in_order));
    for (std::uint32_t i = 0; i < std::size(isa_names_in_order); ++i) EXPECT_EQ(isa_variants[i].name, isa_names_in_order[i]);
}

// Which variants run the same copy of the solver: avx with avx2, avx512f with
// avx10-2-512, avx512vl with avx10-2-256; every other variant has its own.
TEST(IsaBuilds, PairsShareOneCopy) {
    const auto build_of = [](std::string_view name) { return &variant_functions(*parse_isa(name)); };
    EXPECT_EQ(build_of("avx"), build_of("avx2"));
    EXPECT_EQ(build_of("avx512f"), build_of("avx10-2-512"));
    EXPECT_EQ(build_of("avx512vl"), build_of("avx10-2-256"));
    const std::set<const VariantFunctions*> distinct = {build_of("sse2"),    build_of("avx"),
                                                        build_of("fma"),     build_of("fma-apx"),
                                                        build_of("avx512f"), build_of("avx512vl")};
    EXPECT_EQ(distinct.size(), 6u);
    for (const VariantFunctions* build : distinct) EXPECT_NE(build->make_standing_wave, nullptr);
}

TEST(IsaNames, RejectNearMisses) {
    for (std::string_view name : {"AVX2", "avx10.2", "", "avx2 ", "sse", "avx512", "fma_apx", "avx10-2-5122"}) {
        EXPECT_FALSE(is_known_isa(name)) << '"' << name << '"';
        EXPECT_FALSE(parse_isa(name).has_value());
    }
    // A name followed by an embedded terminator is not the name.
    EXPECT_FALSE(is_known_isa(std::string_view("sse2\0", 5)));
}

TEST(IsaNames, Workloads) {
    EXPECT_TRUE(is_known_workload("standing_wave"));
    EXPECT_TRUE(is_known_workload("soft_gaussian"));
    for (std::string_view name : {"Standing_wave", "standing_wave ", "standing", "", "soft-gaussian"}) {
        EXPECT_FALSE(is_known_workload(name)) << '"' << name << '"';
    }
}

std::string support_text(std::string_view isa, const CpuFeatures& features) {
    return check_isa_support(isa, features).text();
}

TEST(IsaSupport, ReportsEveryMissingRequirementInOrder) {
    const CpuFeatures none{};
    EXPECT_FALSE(check_isa_support("sse2", none).has_error());
    EXPECT_EQ(support_text("avx", none), "avx support not detected\n");
    EXPECT_EQ(support_text("avx2", none), "avx2 support not detected\n");
    EXPECT_EQ(support_text("fma", none), "fma support not detected\n");
    EXPECT_EQ(support_text("fma-apx", none), "fma support not detected\napx support not detected\n");
    EXPECT_EQ(support_text("avx512f", none), "avx512f support not detected\n");
    EXPECT_EQ(support_text("avx512vl", none), "avx512f support not detected\navx512vl support not detected\n");
    EXPECT_EQ(support_text("avx10-2-256", none), "avx10.2 support not detected\n");
    EXPECT_EQ(support_text("avx10-2-512", none), "avx10.2 support not detected\n");

    CpuFeatures partial{};
    partial.fma = true;
    partial.avx512f = true;
    partial.avx2 = true;  // avx2 alone is enough for the avx2 check
    EXPECT_EQ(support_text("fma-apx", partial), "apx support not detected\n");
    EXPECT_EQ(support_text("avx512vl", partial), "avx512vl support not detected\n");
    EXPECT_FALSE(check_isa_support("avx2", partial).has_error());
    EXPECT_EQ(support_text("avx", partial), "avx support not detected\n");
}

TEST(IsaSupport, AvxTenChecksOnlyTheVersion) {
    CpuFeatures version_one{};
    version_one.avx512f = version_one.avx512vl = version_one.avx10 = true;
    version_one.avx10_version = 1;
    version_one.avx10_vector_length = 3;
    EXPECT_EQ(support_text("avx10-2-512", version_one), "avx10.2 support not detected\n");
    EXPECT_EQ(support_text("avx10-2-256", version_one), "avx10.2 support not detected\n");

    CpuFeatures version_two{};
    version_two.avx10 = true;
    version_two.avx10_version = 2;
    EXPECT_FALSE(check_isa_support("avx10-2-512", version_two).has_error());
    EXPECT_FALSE(check_isa_support("avx10-2-256", version_two).has_error());
}

TEST(IsaSupport, UnknownNames) {
    CpuFeatures all{};
    all.avx = all.avx2 = all.fma = all.apx = all.avx512f = all.avx512vl = true;
    EXPECT_EQ(support_text("AVX2", all), "unknown isa 'AVX2'");
    EXPECT_EQ(support_text("avx10.2", all), "unknown isa 'avx10.2'");
    EXPECT_EQ(support_text("", all), "unknown isa ''");
    EXPECT_EQ(check_isa_support("nope").text(), "unknown isa 'nope'");
    EXPECT_FALSE(check_isa_support("sse2").has_error());  // this processor
}

// Creating a workload already runs the build's own code, so only the builds
// this processor can execute are created (solver_test::runnable).
using solver_test::runnable;

TEST(WorkloadFactory, EveryNameAndWorkload) {
    const bool large_pages = false;
    for (std::string_view isa : isa_names_in_order) {
        if (!runnable(isa)) continue;
        for (std::string_view workload : {"standing_wave", "soft_gaussian"}) {
            std::unique_ptr<Workload> made = create_workload(workload, isa, 7);
            ASSERT_NE(made, nullptr) << workload << ' ' << isa;
            EXPECT_EQ(made->thread_index, 7u);
            EXPECT_EQ(made->updates_per_iteration(), 0u);  // no grid yet
            EXPECT_FALSE(made->allocate(GridParams{large_pages, 64, 0.01}).has_error());
            EXPECT_EQ(made->updates_per_iteration(), 524'288u) << workload << ' ' << isa;
        }
    }
    EXPECT_EQ(create_workload("standing_wave", "AVX2", 0), nullptr);
    EXPECT_EQ(create_workload("standing_wave", "", 0), nullptr);
    EXPECT_EQ(create_workload("Standing_wave", "sse2", 0), nullptr);
    EXPECT_EQ(create_workload("", "sse2", 0), nullptr);
}

}  // namespace
}  // namespace nembo
