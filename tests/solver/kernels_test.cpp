// The whole-cell kernels of every instruction-set build: signs and
// neighbours, fixed boundary layers, pad lanes, degenerate edges, and bit-for-
// bit agreement with a scalar reference and with each other. Each --isa name
// is a case of its own, run with its build's kernels; a case the processor
// cannot run is skipped.
#include <gtest/gtest.h>

#include <bit>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <iterator>
#include <ostream>
#include <random>
#include <string>
#include <string_view>

#include "solver/isa.hpp"
#include "solver/variants.hpp"
#include "tests/solver/kernels_shapes.hpp"
#include "tests/solver/reference_sweeps.hpp"

// kernel_builds.inc, which kernels.cmake writes from cmake/isa-builds.cmake,
// has one NEMBO_KERNEL_BUILD(build, kernel header, "--isa name") per name.
#define NEMBO_KERNEL_BUILD(build, kernels, isa)                \
    namespace nembo::test_##build {                            \
    extern const kernels_test::KernelSweeps kernel_sweeps;     \
    }
#include "kernel_builds.inc"
#undef NEMBO_KERNEL_BUILD

namespace nembo::kernels_test {
namespace {

// 0.5 makes the kernels' results easy to write down; its products are exact,
// so it cannot tell a fused update from a separately rounded one.
constexpr double coef = 0.5;
// A coefficient whose products round, for the comparison with the reference.
constexpr double rounding_coef = 0.3;

std::uint64_t bits(double v) { return std::bit_cast<std::uint64_t>(v); }

// N³ cells with guard cells on both sides, starting `offset` bytes past a
// 64-byte boundary (cells need only 8-byte alignment).
class TestBlock {
public:
    static constexpr std::uint64_t guard = 4;
    static constexpr double guard_value = -1234.5;

    TestBlock(std::uint64_t edge, std::uintptr_t offset) : edge_(edge), count_(edge * edge * edge) {
        const std::size_t bytes = (count_ + 2 * guard) * sizeof(Cell) + 64 + offset;
        raw_ = std::malloc(bytes);
        if (raw_ == nullptr) {
            std::abort();
        }
        const std::uintptr_t start =
            (reinterpret_cast<std::uintptr_t>(raw_) + 63) / 64 * 64 + offset;
        storage_ = reinterpret_cast<Cell*>(start);
        for (std::uint64_t i = 0; i < count_ + 2 * guard; ++i) {
            storage_[i] = Cell{guard_value, guard_value, guard_value, guard_value};
        }
        for (std::uint64_t i = 0; i < count_; ++i) {
            cells()[i] = Cell{0.0, 0.0, 0.0, 0.0};
        }
    }
    ~TestBlock() { std::free(raw_); }
    TestBlock(const TestBlock&) = delete;
    TestBlock& operator=(const TestBlock&) = delete;

    Cell* cells() { return storage_ + guard; }
    std::uint64_t edge() const { return edge_; }
    std::uint64_t count() const { return count_; }
    Cell& at(std::uint64_t x, std::uint64_t y, std::uint64_t z) {
        return cells()[(x * edge_ + y) * edge_ + z];
    }

    // Random components in [-1, 1); the pads are zero, as in a real grid.
    void fill_random(std::mt19937_64& rng) {
        std::uniform_real_distribution<double> dist(-1.0, 1.0);
        for (std::uint64_t i = 0; i < count_; ++i) {
            cells()[i] = Cell{dist(rng), dist(rng), dist(rng), 0.0};
        }
    }
    void copy_from(TestBlock& other) {
        std::memcpy(static_cast<void*>(cells()), other.cells(), count_ * sizeof(Cell));
    }
    bool guards_intact() const {
        for (std::uint64_t i = 0; i < guard; ++i) {
            for (const Cell& c : {storage_[i], storage_[guard + count_ + i]}) {
                for (double v : {c.x, c.y, c.z, c.pad}) {
                    if (bits(v) != bits(guard_value)) {
                        return false;
                    }
                }
            }
        }
        return true;
    }

private:
    std::uint64_t edge_;
    std::uint64_t count_;
    void* raw_ = nullptr;
    Cell* storage_ = nullptr;
};

// First cell where the blocks differ in any bit of any lane, or "".
std::string first_difference(TestBlock& actual, TestBlock& expected) {
    const std::uint64_t n = actual.edge();
    for (std::uint64_t x = 0; x < n; ++x) {
        for (std::uint64_t y = 0; y < n; ++y) {
            for (std::uint64_t z = 0; z < n; ++z) {
                const Cell& a = actual.at(x, y, z);
                const Cell& b = expected.at(x, y, z);
                const double av[4] = {a.x, a.y, a.z, a.pad};
                const double bv[4] = {b.x, b.y, b.z, b.pad};
                for (int lane = 0; lane < 4; ++lane) {
                    if (bits(av[lane]) != bits(bv[lane])) {
                        char text[160];
                        std::snprintf(
                            text, sizeof(text), "cell (%llu, %llu, %llu) lane %d: %a instead of %a",
                            static_cast<unsigned long long>(x), static_cast<unsigned long long>(y),
                            static_cast<unsigned long long>(z), lane, av[lane], bv[lane]);
                        return text;
                    }
                }
            }
        }
    }
    return "";
}

struct KernelBuild {
    const char* isa;      // the --isa name
    const char* build;    // its row of cmake/isa-builds.cmake
    const char* kernels;  // the row's kernel header
    const KernelSweeps* sweeps;
    bool (*solver_update_h)(YeeGrid&);  // the same row's copy of the solver
};

void PrintTo(const KernelBuild& build, std::ostream* out) {
    *out << build.isa << " (the " << build.build << " build)";
}

const KernelBuild kernel_builds[] = {
#define NEMBO_KERNEL_BUILD(build, kernels, isa) \
    {isa, #build, #kernels, &test_##build::kernel_sweeps, &isa_##build::update_h},
#include "kernel_builds.inc"
#undef NEMBO_KERNEL_BUILD
};

// How each kernel header rounds old + c * curl: the 128-bit shape (sse2, and
// avx built from it) multiplies and adds separately, the others fuse.
struct ShapeRounding {
    std::string_view kernels;
    solver_test::Rounding rounding;
};
constexpr ShapeRounding shape_roundings[] = {
    {"sse2", solver_test::Rounding::separate},
    {"fma", solver_test::Rounding::fused},
    {"avx512", solver_test::Rounding::fused},
    {"avx512vl", solver_test::Rounding::fused},
};

// The table of builds and solver/isa.hpp's table of variants agree: each
// --isa name has exactly one case, with the build the program runs for it.
TEST(KernelBuilds, EveryVariantHasTheCaseOfItsBuild) {
    for (const IsaVariant& variant : isa_variants) {
        SCOPED_TRACE(variant.name);
        const KernelBuild* found = nullptr;
        int cases = 0;
        for (const KernelBuild& build : kernel_builds) {
            if (variant.name == build.isa) {
                found = &build;
                ++cases;
            }
        }
        ASSERT_EQ(cases, 1) << "cases in cmake/isa-builds.cmake";
        EXPECT_EQ(found->solver_update_h, variant_functions(variant.isa).update_h)
            << "the table lists it under " << found->build << ", the program runs another build";
    }
    EXPECT_EQ(std::size(kernel_builds), isa_variant_count);
}

class Kernels : public testing::TestWithParam<KernelBuild> {
protected:
    void SetUp() override {
        const MaybeError support = check_isa_support(GetParam().isa);
        if (support.has_error()) {
            std::string reason = support.text();  // a line per missing feature
            while (!reason.empty() && reason.back() == '\n') {
                reason.pop_back();
            }
            for (std::size_t at = reason.find('\n'); at != std::string::npos; at = reason.find('\n', at)) {
                reason.replace(at, 1, ", ");
            }
            GTEST_SKIP() << GetParam().isa << " (the " << GetParam().build
                         << " build) cannot run here: " << reason;
        }
    }
    bool sweep_h(TestBlock& h, TestBlock& e, double c = coef) {
        return GetParam().sweeps->sweep_h(h.cells(), h.edge(), e.cells(), e.edge(), c);
    }
    bool sweep_e(TestBlock& e, TestBlock& h, double c = coef) {
        return GetParam().sweeps->sweep_e(e.cells(), e.edge(), h.cells(), h.edge(), c);
    }
};

TEST_P(Kernels, SignsAndNeighbours) {
    for (std::uintptr_t offset : {0u, 8u}) {
        SCOPED_TRACE(offset);
        TestBlock e(66, offset);
        TestBlock h(66, offset);
        TestBlock expected(66, 0);

        e.at(10, 10, 10).z = 1.0;
        ASSERT_TRUE(sweep_h(h, e));
        expected.at(10, 9, 10).x = -0.5;
        expected.at(10, 10, 10).x = 0.5;
        expected.at(9, 10, 10).y = 0.5;
        expected.at(10, 10, 10).y = -0.5;
        EXPECT_EQ(first_difference(h, expected), "");

        TestBlock e2(66, offset);
        TestBlock h2(66, offset);
        TestBlock expected2(66, 0);
        h2.at(10, 10, 10).z = 1.0;
        ASSERT_TRUE(sweep_e(e2, h2));
        expected2.at(10, 10, 10).x = 0.5;
        expected2.at(10, 11, 10).x = -0.5;
        expected2.at(10, 10, 10).y = -0.5;
        expected2.at(11, 10, 10).y = 0.5;
        EXPECT_EQ(first_difference(e2, expected2), "");
        EXPECT_TRUE(e.guards_intact() && h.guards_intact() && e2.guards_intact() &&
                    h2.guards_intact());
    }
}

// Random-filled blocks: after an H and an E sweep, H keeps every cell with an
// index 0, N-2 or N-1, E every cell with an index 0, 1 or N-1, every other
// cell has changed, and nothing outside the blocks was written.
TEST_P(Kernels, FixedLayersNeverWritten) {
    constexpr std::uint64_t n = 9;
    std::mt19937_64 rng(7);
    for (std::uintptr_t offset : {0u, 8u}) {
        SCOPED_TRACE(offset);
        TestBlock e(n, offset), h(n, offset), e_before(n, 0), h_before(n, 0);
        std::uniform_real_distribution<double> dist(-1.0, 1.0);
        for (TestBlock* b : {&e, &h}) {
            for (std::uint64_t i = 0; i < b->count(); ++i) {
                b->cells()[i] = Cell{dist(rng), dist(rng), dist(rng), dist(rng)};
            }
        }
        e_before.copy_from(e);
        h_before.copy_from(h);

        const auto fixed = [](std::uint64_t i, std::uint64_t a, std::uint64_t b, std::uint64_t c) {
            return i == a || i == b || i == c;
        };
        ASSERT_TRUE(sweep_h(h, e));
        ASSERT_TRUE(sweep_e(e, h));
        EXPECT_TRUE(e.guards_intact() && h.guards_intact());
        std::uint64_t h_changed = 0;
        std::uint64_t e_changed = 0;
        for (std::uint64_t x = 0; x < n; ++x) {
            for (std::uint64_t y = 0; y < n; ++y) {
                for (std::uint64_t z = 0; z < n; ++z) {
                    const bool h_same = std::memcmp(&h.at(x, y, z), &h_before.at(x, y, z), 32) == 0;
                    const bool e_same = std::memcmp(&e.at(x, y, z), &e_before.at(x, y, z), 32) == 0;
                    const bool h_fixed = fixed(x, 0, n - 2, n - 1) || fixed(y, 0, n - 2, n - 1) ||
                                         fixed(z, 0, n - 2, n - 1);
                    const bool e_fixed =
                        fixed(x, 0, 1, n - 1) || fixed(y, 0, 1, n - 1) || fixed(z, 0, 1, n - 1);
                    if (h_fixed) {
                        EXPECT_TRUE(h_same) << "H written at " << x << ", " << y << ", " << z;
                    }
                    if (e_fixed) {
                        EXPECT_TRUE(e_same) << "E written at " << x << ", " << y << ", " << z;
                    }
                    h_changed += h_same ? 0 : 1;
                    e_changed += e_same ? 0 : 1;
                }
            }
        }
        // Every updated cell changes with random data: (N - 3)³ each.
        EXPECT_EQ(h_changed, (n - 3) * (n - 3) * (n - 3));
        EXPECT_EQ(e_changed, (n - 3) * (n - 3) * (n - 3));
    }
}

// Whole blocks, pads included, bit for bit against the scalar reference with
// the rounding of the build's kernel header, over several alternating sweeps;
// every pad keeps the bit pattern of +0.0. Every build sees the same inputs
// here, so the builds of one rounding also agree with each other.
TEST_P(Kernels, MatchesScalarReference) {
    const ShapeRounding* shape = nullptr;
    for (const ShapeRounding& known : shape_roundings) {
        if (known.kernels == GetParam().kernels) shape = &known;
    }
    ASSERT_NE(shape, nullptr) << "no rounding known for the kernel header " << GetParam().kernels;
    const solver_test::Rounding rounding = shape->rounding;
    std::mt19937_64 rng(2024);
    for (std::uint64_t n : {4u, 5u, 13u, 30u}) {
        for (std::uintptr_t offset : {0u, 8u}) {
            SCOPED_TRACE(testing::Message() << "edge " << n << " offset " << offset);
            TestBlock e(n, offset), h(n, offset), e_ref(n, 0), h_ref(n, 0);
            e.fill_random(rng);
            h.fill_random(rng);
            e_ref.copy_from(e);
            h_ref.copy_from(h);
            for (int step = 0; step < 12; ++step) {
                ASSERT_TRUE(sweep_h(h, e, rounding_coef));
                solver_test::reference_sweep_h(h_ref.cells(), n, e_ref.cells(), n, rounding_coef, rounding);
                ASSERT_EQ(first_difference(h, h_ref), "") << "H after step " << step;
                ASSERT_TRUE(sweep_e(e, h, rounding_coef));
                solver_test::reference_sweep_e(e_ref.cells(), n, h_ref.cells(), n, rounding_coef, rounding);
                ASSERT_EQ(first_difference(e, e_ref), "") << "E after step " << step;
            }
            for (std::uint64_t i = 0; i < e.count(); ++i) {
                ASSERT_EQ(bits(e.cells()[i].pad), 0u);
                ASSERT_EQ(bits(h.cells()[i].pad), 0u);
            }
            EXPECT_TRUE(e.guards_intact() && h.guards_intact());
        }
    }
}

// Edge 3 is an empty sweep that succeeds; below 3 a sweep fails. Neither
// touches a cell.
TEST_P(Kernels, DegenerateEdges) {
    std::mt19937_64 rng(3);
    for (std::uint64_t n : {3u, 2u, 1u}) {
        SCOPED_TRACE(n);
        TestBlock e(n, 8), h(n, 8), e_before(n, 0), h_before(n, 0);
        e.fill_random(rng);
        h.fill_random(rng);
        e_before.copy_from(e);
        h_before.copy_from(h);
        EXPECT_EQ(sweep_h(h, e), n == 3);
        EXPECT_EQ(sweep_e(e, h), n == 3);
        EXPECT_EQ(first_difference(h, h_before), "");
        EXPECT_EQ(first_difference(e, e_before), "");
        EXPECT_TRUE(e.guards_intact() && h.guards_intact());
    }
    TestBlock none(1, 0);
    EXPECT_FALSE(GetParam().sweeps->sweep_h(none.cells(), 0, none.cells(), 0, coef));
    EXPECT_FALSE(GetParam().sweeps->sweep_e(none.cells(), 0, none.cells(), 0, coef));
    EXPECT_TRUE(none.guards_intact());
}

INSTANTIATE_TEST_SUITE_P(Builds, Kernels, testing::ValuesIn(kernel_builds),
                         [](const testing::TestParamInfo<KernelBuild>& build_case) {
                             std::string name = build_case.param.isa;
                             for (char& c : name) {
                                 if (c == '-') c = '_';
                             }
                             return name;
                         });

}  // namespace
}  // namespace nembo::kernels_test
