// Imagined processors, each a table of CPUID leaves plus the XCR0 answer.
#include <gtest/gtest.h>

#include <array>
#include <cstring>

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

}  // namespace
}  // namespace nembo
