// Imagined processors, each a table of CPUID leaves plus the XCR0 answer.
#include <gtest/gtest.h>

#include <array>
#include <cstring>
#include <map>
#include <set>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "platform/cpu.hpp"

namespace nembo {
namespace {

constexpr std::uint32_t bit(unsigned n) { return 1u << n; }

void set_brand(CpuidTable& t, const char* brand) {
    std::array<char, 48> bytes{};
    std::memcpy(bytes.data(), brand, std::min<std::size_t>(std::strlen(brand), 48));
    t.set(0x80000000u, 0, {0x80000008u, 0, 0, 0});
    for (std::uint32_t i = 0; i < 3; ++i) {
        std::array<std::uint32_t, 4> w{};
        std::memcpy(w.data(), bytes.data() + 16 * i, 16);
        t.set(0x80000002u + i, 0, {w[0], w[1], w[2], w[3]});
    }
}

// Leaf-1 ECX with OSXSAVE and AVX, the usual base of a modern processor.
constexpr std::uint32_t osxsave_avx = bit(27) | bit(28);

CpuidTable modern(std::uint32_t max_leaf, std::uint64_t xcr0) {
    CpuidTable t;
    t.set(0, 0, {max_leaf, 0, 0, 0});
    t.set(1, 0, {0, 0, osxsave_avx | bit(12), bit(23) | bit(25) | bit(26)});
    t.set_xcr0(xcr0);
    return t;
}

TEST(CpuInfo, VendorComesFromTheBrandString) {
    CpuidTable t;
    set_brand(t, "Intel(R) Core(TM) i9-9900K CPU @ 3.60GHz");
    EXPECT_EQ(read_cpu_info(t).vendor, CpuVendor::intel);
    EXPECT_EQ(read_cpu_brand(t), "Intel(R) Core(TM) i9-9900K CPU @ 3.60GHz");

    set_brand(t, "Genuine (R)Intel pretender with AMD inside");
    EXPECT_EQ(read_cpu_info(t).vendor, CpuVendor::intel);

    set_brand(t, "  AMD Ryzen 9 7950X 16-Core Processor  ");
    const CpuInfo amd = read_cpu_info(t);
    EXPECT_EQ(amd.vendor, CpuVendor::amd);
    EXPECT_EQ(amd.brand, "  AMD Ryzen 9 7950X 16-Core Processor  ");  // blanks kept

    set_brand(t, "intel lowercase does not count");
    EXPECT_EQ(read_cpu_info(t).vendor, CpuVendor::unknown);
}

TEST(CpuInfo, NoBrandLeavesGiveEmptyBrandAndUnknownVendor) {
    CpuidTable t;
    t.set(0x80000000u, 0, {0x80000003u, 0, 0, 0});
    t.set(0x80000002u, 0, {0x65746e49, 0x6c, 0, 0});  // "Intel", never read
    const CpuInfo info = read_cpu_info(t);
    EXPECT_EQ(info.brand, "");
    EXPECT_EQ(info.vendor, CpuVendor::unknown);
}

TEST(CpuInfo, FullFortyEightByteBrandIsKept) {
    CpuidTable t;
    const std::string full(48, 'x');
    set_brand(t, full.c_str());
    EXPECT_EQ(read_cpu_brand(t), full);
}

TEST(CpuInfo, FamilyAndModel) {
    CpuidTable t;
    // base family 6, extended model 9, base model 0xE
    t.set(1, 0, {(9u << 16) | (6u << 8) | (0xEu << 4), 0, 0, 0});
    EXPECT_EQ(read_cpu_info(t).family, 6u);
    EXPECT_EQ(read_cpu_info(t).model, 0x9Eu);
    // base family 0xF, extended family 0xA (ignored), extended model 6, base model 1
    t.set(1, 0, {(0xAu << 20) | (6u << 16) | (0xFu << 8) | (1u << 4), 0, 0, 0});
    EXPECT_EQ(read_cpu_info(t).family, 0xFu);
    EXPECT_EQ(read_cpu_info(t).model, 0x61u);
}

TEST(CpuFeatures, WithoutOsxsaveNoAvxStateButFmaStays) {
    CpuidTable t = modern(7, 0xE7);
    t.set(1, 0, {0, 0, bit(28) | bit(12), 0});
    t.set(7, 0, {0, bit(5) | bit(16) | bit(31), bit(8) | bit(9) | bit(10), 0});
    const CpuFeatures f = detect_cpu_features(t);
    EXPECT_FALSE(f.avx);
    EXPECT_FALSE(f.avx2);
    EXPECT_FALSE(f.gfni);
    EXPECT_FALSE(f.vaes);
    EXPECT_FALSE(f.vpclmulqdq);
    EXPECT_FALSE(f.avx512f);
    EXPECT_FALSE(f.avx512vl);
    EXPECT_TRUE(f.fma);
}

TEST(CpuFeatures, XcrWithoutAvx512StateKeepsAvxOnly) {
    CpuidTable t = modern(0x24, 0x7);
    t.set(7, 0, {0, bit(5) | bit(16) | bit(17), bit(8), bit(23)});
    t.set(7, 1, {bit(5), 0, 0, bit(19) | bit(21)});
    t.set(0x24, 0, {0, 2u | bit(18), 0, 0});
    const CpuFeatures f = detect_cpu_features(t);
    EXPECT_TRUE(f.avx);
    EXPECT_TRUE(f.avx2);
    EXPECT_TRUE(f.gfni);
    EXPECT_FALSE(f.avx512f);
    EXPECT_FALSE(f.avx512dq);
    EXPECT_FALSE(f.avx512_fp16);
    EXPECT_FALSE(f.avx512_bf16);
    EXPECT_FALSE(f.avx10);
    EXPECT_EQ(f.avx10_version, 0u);
    EXPECT_EQ(f.avx10_vector_length, 0u);
    EXPECT_TRUE(f.apx);
}

TEST(CpuFeatures, Avx10VersionAndLength) {
    CpuidTable t = modern(0x24, 0xE7);
    t.set(7, 0, {0, bit(5) | bit(16), 0, 0});
    t.set(7, 1, {0, 0, 0, bit(19)});
    for (const auto& [ebx, length] : {std::pair{bit(16), 1u}, {bit(16) | bit(17), 2u}, {bit(16) | bit(18), 3u}, {0u, 0u}}) {
        t.set(0x24, 0, {0, 2u | ebx, 0, 0});
        const CpuFeatures f = detect_cpu_features(t);
        EXPECT_TRUE(f.avx10);
        EXPECT_EQ(f.avx10_version, 2u);
        EXPECT_EQ(f.avx10_vector_length, length);
    }
}

TEST(CpuFeatures, LowMaximumLeavesLeaveFieldsClear) {
    CpuidTable t = modern(6, 0xE7);
    t.set(7, 0, {0, 0xFFFFFFFFu, 0xFFFFFFFFu, 0xFFFFFFFFu});
    t.set(7, 1, {0xFFFFFFFFu, 0, 0, 0xFFFFFFFFu});
    CpuFeatures f = detect_cpu_features(t);
    EXPECT_FALSE(f.avx2);
    EXPECT_FALSE(f.bmi1);
    EXPECT_FALSE(f.avx512f);
    EXPECT_FALSE(f.avx10);
    EXPECT_FALSE(f.apx);

    // Leaf 0x24 beyond the maximum: AVX10 without version or length.
    t.set(0, 0, {0x23, 0, 0, 0});
    t.set(0x24, 0, {0, 0xFFFFFFFFu, 0, 0});
    f = detect_cpu_features(t);
    EXPECT_TRUE(f.avx10);
    EXPECT_EQ(f.avx10_version, 0u);
    EXPECT_EQ(f.avx10_vector_length, 0u);
    const std::string list = cpu_feature_list(f);
    EXPECT_NE(list.find(" AVX2 AVX10 APX "), std::string::npos) << list;
    EXPECT_EQ(list.find("AVX512"), std::string::npos) << list;
}

TEST(CpuFeatures, ExtendedLeafOnlyWhenReported) {
    CpuidTable t = modern(1, 0);
    t.set(0x80000001u, 0, {0, 0, bit(5) | bit(6) | bit(11), 0});
    t.set(0x80000000u, 0, {0x80000000u, 0, 0, 0});
    EXPECT_FALSE(detect_cpu_features(t).lzcnt);
    t.set(0x80000000u, 0, {0x80000001u, 0, 0, 0});
    const CpuFeatures f = detect_cpu_features(t);
    EXPECT_TRUE(f.lzcnt);
    EXPECT_TRUE(f.sse4a);
    EXPECT_TRUE(f.xop);
}

TEST(CpuFeatureList, OrderAndAvx10Entry) {
    CpuFeatures f;
    EXPECT_EQ(cpu_feature_list(f), "");

    f.sse2 = f.fma = f.aes = f.rdrand = f.avx = f.avx2 = true;
    f.avx512f = f.avx512vl = true;  // replaced by the AVX10 entry
    f.avx10 = true;
    f.avx10_version = 2;
    f.avx10_vector_length = 3;
    f.apx = f.gfni = f.uintr = true;
    EXPECT_EQ(cpu_feature_list(f), "SSE2 AES FMA RDRAND AVX AVX2 AVX10.2-512 APX GFNI UINTR");

    f.avx10_version = 0;
    f.avx10_vector_length = 0;
    EXPECT_EQ(cpu_feature_list(f), "SSE2 AES FMA RDRAND AVX AVX2 AVX10 APX GFNI UINTR");

    f.avx10 = false;
    f.avx512_vp2intersect = true;
    EXPECT_EQ(cpu_feature_list(f), "SSE2 AES FMA RDRAND AVX AVX2 AVX512F AVX512VL AVX512_VP2INTERSECT APX GFNI UINTR");
}

TEST(CpuFeatureList, EveryFlagOfAFullProcessorAppears) {
    CpuidTable t = modern(0x24, 0xE7);
    t.set(1, 0, {0, 0, 0xFFFFFFFFu, 0xFFFFFFFFu});
    t.set(7, 0, {0, 0xFFFFFFFFu, 0xFFFFFFFFu, 0xFFFFFFFFu});
    t.set(7, 1, {0xFFFFFFFFu, 0, 0, bit(21)});
    t.set(0x80000001u, 0, {0, 0, 0xFFFFFFFFu, 0});
    EXPECT_EQ(cpu_feature_list(detect_cpu_features(t)),
              "MMX SSE SSE2 SSE3 SSSE3 SSE4.1 SSE4.2 SSE4a POPCNT AES FMA RDRAND BMI1 BMI2 LZCNT XOP AVX AVX2 "
              "AVX512F AVX512BW AVX512VL AVX512DQ AVX512IFMA AVX512PF AVX512ER AVX512CD AVX512VBMI AVX512VBMI2 "
              "AVX512VNNI AVX512BITALG AVX512VPOPCNTDQ AVX512_BF16 AVX512_FP16 AVX512_4VNNIW AVX512_4FMAPS "
              "AVX512_VP2INTERSECT APX GFNI VAES VPCLMULQDQ SHA RDPID WAITPKG MOVDIRI MOVDIR64B SERIALIZE TSXLDTRK "
              "PKU OSPKE SGX CLWB CLFLUSHOPT AMX_TILE AMX_INT8 AMX_BF16 AMX_FP16 CET_IBT CET_SHSTK FSRM HRESET "
              "UINTR");
}

// Hybrid processors: each logical processor names its core's kind. Leaf 0
// gives the vendor and the highest basic leaf, 0x80000000 the highest
// extended one.
CpuidTable intel(std::uint32_t max_leaf, bool hybrid, std::uint32_t leaf1a_eax) {
    CpuidTable t;
    t.set(0, 0, {max_leaf, 0x756e6547u, 0x6c65746eu, 0x49656e69u});  // GenuineIntel
    t.set(7, 0, {0, 0, 0, hybrid ? bit(15) : 0u});
    t.set(0x1A, 0, {leaf1a_eax, 0, 0, 0});
    return t;
}

CpuidTable amd(std::uint32_t max_ext, std::uint32_t leaf26_eax, std::uint32_t leaf26_ebx) {
    CpuidTable t;
    t.set(0, 0, {0x10, 0x68747541u, 0x444d4163u, 0x69746e65u});  // AuthenticAMD
    t.set(0x80000000u, 0, {max_ext, 0, 0, 0});
    t.set(0x80000026u, 0, {leaf26_eax, leaf26_ebx, 0, 0});
    return t;
}

TEST(CoreType, EachVendorsAnswerAndWhenItIsIgnored) {
    // Leaf 0x1A EAX: core type in bits 31-24, native model id below.
    constexpr std::uint32_t intel_core = 0x40000001u;
    constexpr std::uint32_t intel_atom = 0x20000001u;
    // Leaf 0x80000026 EAX bit 30: heterogeneous (bit 29, efficiency ranking,
    // beside it); EBX: core type in bits 31-28, native model id 27-24, and
    // the level's counts below, which must not leak into the type.
    constexpr std::uint32_t heterogeneous = bit(30) | bit(29) | 1u;
    constexpr std::uint32_t amd_type0 = 0x0F000000u | 0x0102u;
    constexpr std::uint32_t amd_type1 = (1u << 28) | 0x0F000000u | 0x0102u;
    struct Case {
        const char* name;
        CpuidTable table;
        bool reports;
        CoreType type;
    };
    const Case cases[] = {
        {"Intel P-core", intel(0x20, true, intel_core), true, CoreType::performance},
        {"Intel E-core", intel(0x20, true, intel_atom), true, CoreType::efficient},
        {"Intel, leaf 0x1A at the maximum", intel(0x1A, true, intel_atom), true, CoreType::efficient},
        {"Intel hybrid, other core type", intel(0x20, true, 0x10000001u), true, CoreType::unknown},
        {"Intel hybrid, leaf 0x1A beyond the maximum", intel(0x19, true, intel_core), false, CoreType::unknown},
        {"Intel without the hybrid bit", intel(0x20, false, intel_core), false, CoreType::unknown},
        {"AMD performance core", amd(0x80000026u, heterogeneous, amd_type0), true, CoreType::performance},
        {"AMD efficient core", amd(0x80000028u, heterogeneous, amd_type1), true, CoreType::efficient},
        {"AMD heterogeneous, other core type", amd(0x80000026u, heterogeneous, 2u << 28), true, CoreType::unknown},
        {"AMD without the heterogeneous bit", amd(0x80000026u, heterogeneous & ~bit(30), amd_type1), false,
         CoreType::unknown},
        {"AMD, leaf 0x80000026 beyond the maximum", amd(0x80000025u, heterogeneous, amd_type1), false,
         CoreType::unknown},
        {"AMD vendor with Intel's hybrid answer",
         amd(0x80000008u, 0, 0).set(7, 0, {0, 0, 0, bit(15)}).set(0x1A, 0, {intel_atom, 0, 0, 0}), false,
         CoreType::unknown},
        {"Intel vendor with AMD's heterogeneous answer",
         intel(0x20, false, 0).set(0x80000000u, 0, {0x80000026u, 0, 0, 0}).set(0x80000026u, 0, {heterogeneous, amd_type1, 0, 0}),
         false, CoreType::unknown},
        {"unknown vendor", CpuidTable{}.set(0, 0, {0x20, 0, 0, 0}).set(7, 0, {0, 0, 0, bit(15)}).set(0x1A, 0, {intel_core, 0, 0, 0}),
         false, CoreType::unknown},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(reports_core_types(c.table), c.reports);
        EXPECT_EQ(read_core_type(c.table), c.type);
    }
}

// Where each feature comes from, written out here on its own so that a wrong
// leaf, register, bit, register state or name in the product's table shows.
enum class Needs { nothing, avx_state, avx512_state };
struct ExpectedFeature {
    const char* name;
    std::uint32_t leaf;
    std::uint32_t subleaf;
    std::uint32_t CpuidRegisters::*reg;
    unsigned bit;
    Needs needs;
};

using R = CpuidRegisters;
constexpr std::uint32_t ext = 0x80000001u;
constexpr Needs none = Needs::nothing;
constexpr Needs avx = Needs::avx_state;
constexpr Needs zmm = Needs::avx512_state;

const ExpectedFeature expected_features[] = {
    {"MMX", 1, 0, &R::edx, 23, none},          {"SSE", 1, 0, &R::edx, 25, none},
    {"SSE2", 1, 0, &R::edx, 26, none},         {"SSE3", 1, 0, &R::ecx, 0, none},
    {"SSSE3", 1, 0, &R::ecx, 9, none},         {"SSE4.1", 1, 0, &R::ecx, 19, none},
    {"SSE4.2", 1, 0, &R::ecx, 20, none},       {"SSE4a", ext, 0, &R::ecx, 6, none},
    {"POPCNT", 1, 0, &R::ecx, 23, none},       {"AES", 1, 0, &R::ecx, 25, none},
    {"RDRAND", 1, 0, &R::ecx, 30, none},       {"BMI1", 7, 0, &R::ebx, 3, none},
    {"BMI2", 7, 0, &R::ebx, 8, none},          {"LZCNT", ext, 0, &R::ecx, 5, none},
    {"XOP", ext, 0, &R::ecx, 11, none},        {"AVX", 1, 0, &R::ecx, 28, avx},
    {"AVX2", 7, 0, &R::ebx, 5, avx},           {"FMA", 1, 0, &R::ecx, 12, none},
    {"AVX512F", 7, 0, &R::ebx, 16, zmm},       {"AVX512BW", 7, 0, &R::ebx, 30, zmm},
    {"AVX512VL", 7, 0, &R::ebx, 31, zmm},      {"AVX512DQ", 7, 0, &R::ebx, 17, zmm},
    {"AVX512IFMA", 7, 0, &R::ebx, 21, zmm},    {"AVX512PF", 7, 0, &R::ebx, 26, zmm},
    {"AVX512ER", 7, 0, &R::ebx, 27, zmm},      {"AVX512CD", 7, 0, &R::ebx, 28, zmm},
    {"AVX512VBMI", 7, 0, &R::ecx, 1, zmm},     {"AVX512VBMI2", 7, 0, &R::ecx, 6, zmm},
    {"AVX512VNNI", 7, 0, &R::ecx, 11, zmm},    {"AVX512BITALG", 7, 0, &R::ecx, 12, zmm},
    {"AVX512VPOPCNTDQ", 7, 0, &R::ecx, 14, zmm}, {"GFNI", 7, 0, &R::ecx, 8, avx},
    {"VAES", 7, 0, &R::ecx, 9, avx},           {"VPCLMULQDQ", 7, 0, &R::ecx, 10, avx},
    {"SHA", 7, 0, &R::ebx, 29, none},          {"MOVDIRI", 7, 0, &R::ecx, 27, none},
    {"MOVDIR64B", 7, 0, &R::ecx, 28, none},    {"SERIALIZE", 7, 0, &R::edx, 14, none},
    {"TSXLDTRK", 7, 0, &R::edx, 16, none},     {"PKU", 7, 0, &R::ecx, 3, none},
    {"OSPKE", 7, 0, &R::ecx, 4, none},         {"RDPID", 7, 0, &R::ecx, 22, none},
    {"WAITPKG", 7, 0, &R::ecx, 5, none},       {"CLWB", 7, 0, &R::ebx, 24, none},
    {"CLFLUSHOPT", 7, 0, &R::ebx, 23, none},   {"SGX", 7, 0, &R::ebx, 2, none},
    {"AVX512_4VNNIW", 7, 0, &R::edx, 2, zmm},  {"AVX512_4FMAPS", 7, 0, &R::edx, 3, zmm},
    {"AVX512_VP2INTERSECT", 7, 0, &R::edx, 8, zmm}, {"AMX_TILE", 7, 0, &R::edx, 24, none},
    {"AMX_INT8", 7, 0, &R::edx, 25, none},     {"AMX_BF16", 7, 0, &R::edx, 22, none},
    {"AMX_FP16", 7, 1, &R::eax, 21, none},     {"CET_IBT", 7, 0, &R::edx, 20, none},
    {"CET_SHSTK", 7, 0, &R::ecx, 7, none},     {"FSRM", 7, 0, &R::edx, 4, none},
    {"HRESET", 7, 1, &R::eax, 22, none},       {"UINTR", 7, 0, &R::edx, 5, none},
    {"AVX512_BF16", 7, 1, &R::eax, 5, zmm},    {"AVX512_FP16", 7, 0, &R::edx, 23, zmm},
    {"AVX10", 7, 1, &R::edx, 19, zmm},         {"APX", 7, 1, &R::edx, 21, none},
};

// A processor with every leaf the decoder reads, reporting only `feature`'s
// bit, plus OSXSAVE and AVX in leaf 1 when `osxsave` is set.
CpuidTable one_bit(const ExpectedFeature& feature, bool osxsave, std::uint64_t xcr0) {
    std::map<std::pair<std::uint32_t, std::uint32_t>, CpuidRegisters> leaves;
    leaves[{1, 0}].ecx = osxsave ? osxsave_avx : 0;
    leaves[{feature.leaf, feature.subleaf}].*feature.reg |= bit(feature.bit);
    CpuidTable t;
    t.set(0, 0, {7, 0, 0, 0});
    t.set(0x80000000u, 0, {ext, 0, 0, 0});
    for (const auto& [key, regs] : leaves) t.set(key.first, key.second, regs);
    t.set_xcr0(xcr0);
    return t;
}

// The names of the flags that are set, in the order of the product's table.
std::vector<std::string_view> flags_set(const CpuFeatures& f) {
    std::vector<std::string_view> set;
    for (const CpuFeatureBit& entry : cpu_feature_table()) {
        if (f.*entry.flag) set.push_back(entry.name);
    }
    return set;
}

using Names = std::vector<std::string_view>;

TEST(CpuFeatures, TheTableHoldsEveryFeatureOnce) {
    std::set<std::string_view> names;
    for (const CpuFeatureBit& entry : cpu_feature_table()) {
        EXPECT_TRUE(names.insert(entry.name).second) << entry.name;
        CpuFeatures only{};
        only.*entry.flag = true;
        EXPECT_EQ(flags_set(only), Names{entry.name});  // no other entry has this flag
    }
    EXPECT_EQ(names.size(), std::size(expected_features));
    for (const ExpectedFeature& feature : expected_features) EXPECT_EQ(names.count(feature.name), 1u) << feature.name;
}

// One bit at a time, with the register state it needs: exactly that flag
// (and AVX, whose bit the state needs) and exactly its name in the list.
// Without the state, the flag stays clear.
TEST(CpuFeatures, EachBitSetsExactlyItsOwnFlag) {
    for (const ExpectedFeature& feature : expected_features) {
        SCOPED_TRACE(feature.name);
        const bool needs_state = feature.needs != Needs::nothing;
        const std::uint64_t xcr0 = feature.needs == Needs::avx512_state ? 0xE6 : needs_state ? 0x6 : 0;
        const CpuFeatures f = detect_cpu_features(one_bit(feature, needs_state, xcr0));
        const bool is_avx = std::string_view(feature.name) == "AVX";
        const Names expected = needs_state && !is_avx ? Names{"AVX", feature.name} : Names{feature.name};
        EXPECT_EQ(flags_set(f), expected);
        EXPECT_EQ(cpu_feature_list(f), needs_state && !is_avx ? "AVX " + std::string(feature.name) : feature.name);

        if (!needs_state) continue;
        // OSXSAVE clear: no state at all, whatever XCR0 says.
        CpuidTable no_osxsave = one_bit(feature, true, 0xE7);
        CpuidRegisters leaf1 = no_osxsave.cpuid(1, 0);
        leaf1.ecx &= ~bit(27);
        no_osxsave.set(1, 0, leaf1);
        EXPECT_EQ(flags_set(detect_cpu_features(no_osxsave)), Names{});
        if (feature.needs == Needs::avx512_state) {
            // AVX state only: the AVX-512 flag stays clear.
            EXPECT_EQ(flags_set(detect_cpu_features(one_bit(feature, true, 0x7))), Names{"AVX"});
        }
    }
}

// Each state bit on its own: SSE (1) and AVX (2) for AVX state; those and the
// opmask (5), the upper halves of ZMM0-15 (6) and ZMM16-31 (7) for AVX-512
// state. The x87 bit (0) is not needed.
TEST(CpuFeatures, EveryBitOfTheXcr0MasksCounts) {
    struct Case {
        std::uint64_t xcr0;
        bool avx_state;
        bool avx512_state;
    };
    const Case cases[] = {
        {0x00, false, false}, {0x06, true, false},  {0x07, true, false},  {0xE6, true, true},
        {0xE7, true, true},   {0xFF, true, true},   {0xE1, false, false}, {0xE0, false, false},
        {0xE5, false, false}, {0xE3, false, false}, {0xC7, true, false},  {0xA7, true, false},
        {0x67, true, false},  {0x27, true, false},  {0x47, true, false},  {0x87, true, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << "XCR0 0x" << std::hex << c.xcr0);
        CpuidTable t = modern(7, c.xcr0);
        t.set(7, 0, {0, bit(5) | bit(16), 0, 0});
        const CpuFeatures f = detect_cpu_features(t);
        EXPECT_EQ(f.avx, c.avx_state);
        EXPECT_EQ(f.avx2, c.avx_state);
        EXPECT_EQ(f.avx512f, c.avx512_state);
    }
}

}  // namespace
}  // namespace nembo
