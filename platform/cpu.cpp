// CPUID/XGETBV decoding. The decoders only see a CpuidReader, so every
// processor can be imagined in a test; hardware_cpuid() is the real one.
#include "platform/cpu.hpp"

#include <cpuid.h>

#include <array>
#include <cstring>
#include <string>
#include <string_view>

namespace nembo {
namespace {

constexpr bool bit(std::uint32_t value, unsigned index) { return ((value >> index) & 1u) != 0; }

class HardwareCpuid final : public CpuidReader {
public:
    CpuidRegisters cpuid(std::uint32_t leaf, std::uint32_t subleaf) const override {
        CpuidRegisters r;
        __cpuid_count(leaf, subleaf, r.eax, r.ebx, r.ecx, r.edx);
        return r;
    }
    std::uint64_t xgetbv0() const override {
        std::uint32_t lo = 0;
        std::uint32_t hi = 0;
        // XGETBV, spelled as bytes so no ISA flag is needed to assemble it.
        __asm__ volatile(".byte 0x0f, 0x01, 0xd0" : "=a"(lo), "=d"(hi) : "c"(0u));
        return (static_cast<std::uint64_t>(hi) << 32) | lo;
    }
};

struct RegisterState {
    bool avx = false;
    bool avx512 = false;
};

RegisterState os_register_state(const CpuidReader& reader, std::uint32_t leaf1_ecx) {
    RegisterState state;
    if (bit(leaf1_ecx, 27) && bit(leaf1_ecx, 28)) {
        const std::uint64_t xcr0 = reader.xgetbv0();
        state.avx = (xcr0 & 0x6) == 0x6;
        state.avx512 = (xcr0 & 0xE6) == 0xE6;
    }
    return state;
}

void append(std::string& list, std::string_view name) {
    if (!list.empty()) list += ' ';
    list += name;
}

// "AVX10", then ".version" when known, then "-128", "-256" or "-512".
std::string avx10_entry(const CpuFeatures& f) {
    std::string entry = "AVX10";
    if (f.avx10_version != 0) entry += '.' + std::to_string(f.avx10_version);
    constexpr std::array<const char*, 4> lengths = {"", "-128", "-256", "-512"};
    if (f.avx10_vector_length < lengths.size()) entry += lengths[f.avx10_vector_length];
    return entry;
}

// The features in the order of the printed list. Two entries are special:
// AVX10, when present, shows its version and vector length and stands in for
// every entry that needs AVX-512 state (cpu_feature_list); APX stands after
// the AVX-512 entries, so after AVX10 as well.
using F = CpuFeatures;
using R = CpuidRegisters;
constexpr std::uint32_t ext = 0x80000001u;

constexpr CpuFeatureBit feature_table[] = {
    {&F::mmx, 1, 0, &R::edx, 23, OsState::none, "MMX"},
    {&F::sse, 1, 0, &R::edx, 25, OsState::none, "SSE"},
    {&F::sse2, 1, 0, &R::edx, 26, OsState::none, "SSE2"},
    {&F::sse3, 1, 0, &R::ecx, 0, OsState::none, "SSE3"},
    {&F::ssse3, 1, 0, &R::ecx, 9, OsState::none, "SSSE3"},
    {&F::sse4_1, 1, 0, &R::ecx, 19, OsState::none, "SSE4.1"},
    {&F::sse4_2, 1, 0, &R::ecx, 20, OsState::none, "SSE4.2"},
    {&F::sse4a, ext, 0, &R::ecx, 6, OsState::none, "SSE4a"},
    {&F::popcnt, 1, 0, &R::ecx, 23, OsState::none, "POPCNT"},
    {&F::aes, 1, 0, &R::ecx, 25, OsState::none, "AES"},
    {&F::fma, 1, 0, &R::ecx, 12, OsState::none, "FMA"},
    {&F::rdrand, 1, 0, &R::ecx, 30, OsState::none, "RDRAND"},
    {&F::bmi1, 7, 0, &R::ebx, 3, OsState::none, "BMI1"},
    {&F::bmi2, 7, 0, &R::ebx, 8, OsState::none, "BMI2"},
    {&F::lzcnt, ext, 0, &R::ecx, 5, OsState::none, "LZCNT"},
    {&F::xop, ext, 0, &R::ecx, 11, OsState::none, "XOP"},
    {&F::avx, 1, 0, &R::ecx, 28, OsState::avx, "AVX"},
    {&F::avx2, 7, 0, &R::ebx, 5, OsState::avx, "AVX2"},
    {&F::avx10, 7, 1, &R::edx, 19, OsState::avx512, "AVX10"},
    {&F::avx512f, 7, 0, &R::ebx, 16, OsState::avx512, "AVX512F"},
    {&F::avx512bw, 7, 0, &R::ebx, 30, OsState::avx512, "AVX512BW"},
    {&F::avx512vl, 7, 0, &R::ebx, 31, OsState::avx512, "AVX512VL"},
    {&F::avx512dq, 7, 0, &R::ebx, 17, OsState::avx512, "AVX512DQ"},
    {&F::avx512ifma, 7, 0, &R::ebx, 21, OsState::avx512, "AVX512IFMA"},
    {&F::avx512pf, 7, 0, &R::ebx, 26, OsState::avx512, "AVX512PF"},
    {&F::avx512er, 7, 0, &R::ebx, 27, OsState::avx512, "AVX512ER"},
    {&F::avx512cd, 7, 0, &R::ebx, 28, OsState::avx512, "AVX512CD"},
    {&F::avx512vbmi, 7, 0, &R::ecx, 1, OsState::avx512, "AVX512VBMI"},
    {&F::avx512vbmi2, 7, 0, &R::ecx, 6, OsState::avx512, "AVX512VBMI2"},
    {&F::avx512vnni, 7, 0, &R::ecx, 11, OsState::avx512, "AVX512VNNI"},
    {&F::avx512bitalg, 7, 0, &R::ecx, 12, OsState::avx512, "AVX512BITALG"},
    {&F::avx512vpopcntdq, 7, 0, &R::ecx, 14, OsState::avx512, "AVX512VPOPCNTDQ"},
    {&F::avx512_bf16, 7, 1, &R::eax, 5, OsState::avx512, "AVX512_BF16"},
    {&F::avx512_fp16, 7, 0, &R::edx, 23, OsState::avx512, "AVX512_FP16"},
    {&F::avx512_4vnniw, 7, 0, &R::edx, 2, OsState::avx512, "AVX512_4VNNIW"},
    {&F::avx512_4fmaps, 7, 0, &R::edx, 3, OsState::avx512, "AVX512_4FMAPS"},
    {&F::avx512_vp2intersect, 7, 0, &R::edx, 8, OsState::avx512, "AVX512_VP2INTERSECT"},
    // APX needs no register state of the operating system to be listed.
    {&F::apx, 7, 1, &R::edx, 21, OsState::none, "APX"},
    {&F::gfni, 7, 0, &R::ecx, 8, OsState::avx, "GFNI"},
    {&F::vaes, 7, 0, &R::ecx, 9, OsState::avx, "VAES"},
    {&F::vpclmulqdq, 7, 0, &R::ecx, 10, OsState::avx, "VPCLMULQDQ"},
    {&F::sha, 7, 0, &R::ebx, 29, OsState::none, "SHA"},
    {&F::rdpid, 7, 0, &R::ecx, 22, OsState::none, "RDPID"},
    {&F::waitpkg, 7, 0, &R::ecx, 5, OsState::none, "WAITPKG"},
    {&F::movdiri, 7, 0, &R::ecx, 27, OsState::none, "MOVDIRI"},
    {&F::movdir64b, 7, 0, &R::ecx, 28, OsState::none, "MOVDIR64B"},
    {&F::serialize, 7, 0, &R::edx, 14, OsState::none, "SERIALIZE"},
    {&F::tsxldtrk, 7, 0, &R::edx, 16, OsState::none, "TSXLDTRK"},
    {&F::pku, 7, 0, &R::ecx, 3, OsState::none, "PKU"},
    {&F::ospke, 7, 0, &R::ecx, 4, OsState::none, "OSPKE"},
    {&F::sgx, 7, 0, &R::ebx, 2, OsState::none, "SGX"},
    {&F::clwb, 7, 0, &R::ebx, 24, OsState::none, "CLWB"},
    {&F::clflushopt, 7, 0, &R::ebx, 23, OsState::none, "CLFLUSHOPT"},
    {&F::amx_tile, 7, 0, &R::edx, 24, OsState::none, "AMX_TILE"},
    {&F::amx_int8, 7, 0, &R::edx, 25, OsState::none, "AMX_INT8"},
    {&F::amx_bf16, 7, 0, &R::edx, 22, OsState::none, "AMX_BF16"},
    {&F::amx_fp16, 7, 1, &R::eax, 21, OsState::none, "AMX_FP16"},
    {&F::cet_ibt, 7, 0, &R::edx, 20, OsState::none, "CET_IBT"},
    {&F::cet_shstk, 7, 0, &R::ecx, 7, OsState::none, "CET_SHSTK"},
    {&F::fsrm, 7, 0, &R::edx, 4, OsState::none, "FSRM"},
    {&F::hreset, 7, 1, &R::eax, 22, OsState::none, "HRESET"},
    {&F::uintr, 7, 0, &R::edx, 5, OsState::none, "UINTR"},
};

}  // namespace

const CpuidReader& hardware_cpuid() {
    static const HardwareCpuid reader;
    return reader;
}

CpuidTable& CpuidTable::set(std::uint32_t leaf, std::uint32_t subleaf, CpuidRegisters regs) {
    leaves_[{leaf, subleaf}] = regs;
    return *this;
}

CpuidTable& CpuidTable::set_xcr0(std::uint64_t xcr0) {
    xcr0_ = xcr0;
    return *this;
}

CpuidRegisters CpuidTable::cpuid(std::uint32_t leaf, std::uint32_t subleaf) const {
    const auto it = leaves_.find({leaf, subleaf});
    return it == leaves_.end() ? CpuidRegisters{} : it->second;
}

std::uint64_t CpuidTable::xgetbv0() const { return xcr0_; }

CpuVendor vendor_from_brand(const std::string& brand) {
    if (brand.find("Intel") != std::string::npos) return CpuVendor::intel;
    if (brand.find("AMD") != std::string::npos) return CpuVendor::amd;
    return CpuVendor::unknown;
}

std::string read_cpu_brand(const CpuidReader& reader) {
    std::array<char, 49> bytes{};
    if (reader.cpuid(0x80000000u, 0).eax >= 0x80000004u) {
        for (std::uint32_t i = 0; i < 3; ++i) {
            const CpuidRegisters r = reader.cpuid(0x80000002u + i, 0);
            const std::array<std::uint32_t, 4> words{r.eax, r.ebx, r.ecx, r.edx};
            std::memcpy(bytes.data() + 16 * i, words.data(), 16);
        }
    }
    bytes[48] = '\0';
    return std::string(bytes.data());
}

namespace {

// The vendor as leaf 0 spells it ("GenuineIntel", "AuthenticAMD" in EBX,
// EDX, ECX); the brand string is for people and may say anything.
CpuVendor vendor_of_leaf0(const CpuidRegisters& leaf0) {
    if (leaf0.ebx == 0x756e6547u && leaf0.edx == 0x49656e69u && leaf0.ecx == 0x6c65746eu) return CpuVendor::intel;
    if (leaf0.ebx == 0x68747541u && leaf0.edx == 0x69746e65u && leaf0.ecx == 0x444d4163u) return CpuVendor::amd;
    return CpuVendor::unknown;
}

constexpr std::uint32_t intel_core_type_leaf = 0x1A;
constexpr std::uint32_t amd_topology_leaf = 0x80000026u;

}  // namespace

bool reports_core_types(const CpuidReader& reader) {
    const CpuidRegisters leaf0 = reader.cpuid(0, 0);
    switch (vendor_of_leaf0(leaf0)) {
    case CpuVendor::intel:
        return leaf0.eax >= intel_core_type_leaf && bit(reader.cpuid(7, 0).edx, 15);
    case CpuVendor::amd:
        return reader.cpuid(0x80000000u, 0).eax >= amd_topology_leaf && bit(reader.cpuid(amd_topology_leaf, 0).eax, 30);
    case CpuVendor::unknown:
        break;
    }
    return false;
}

CoreType read_core_type(const CpuidReader& reader) {
    if (!reports_core_types(reader)) return CoreType::unknown;
    if (vendor_of_leaf0(reader.cpuid(0, 0)) == CpuVendor::intel) {
        switch (reader.cpuid(intel_core_type_leaf, 0).eax >> 24) {
        case 0x40: return CoreType::performance;
        case 0x20: return CoreType::efficient;
        default: return CoreType::unknown;
        }
    }
    switch (reader.cpuid(amd_topology_leaf, 0).ebx >> 28) {
    case 0: return CoreType::performance;
    case 1: return CoreType::efficient;
    default: return CoreType::unknown;
    }
}

CpuInfo read_cpu_info(const CpuidReader& reader) {
    CpuInfo info;
    info.brand = read_cpu_brand(reader);
    info.vendor = vendor_from_brand(info.brand);
    const std::uint32_t eax = reader.cpuid(1, 0).eax;
    info.family = (eax >> 8) & 0xF;
    info.model = (((eax >> 16) & 0xF) << 4) | ((eax >> 4) & 0xF);
    return info;
}

CpuFeatures detect_cpu_features(const CpuidReader& reader) {
    CpuFeatures f;
    const std::uint32_t max = reader.cpuid(0, 0).eax;
    const std::uint32_t max_ext = reader.cpuid(0x80000000u, 0).eax;
    const CpuidRegisters leaf1 = reader.cpuid(1, 0);
    const RegisterState state = os_register_state(reader, leaf1.ecx);

    // Leaf 1 is asked on every processor, leaf 7 (both sub-leaves) from a
    // maximum of 7, and the extended leaf whenever any lies beyond 0x80000000.
    const auto is_read = [max, max_ext](std::uint32_t leaf) {
        if (leaf >= 0x80000000u) return max_ext != 0x80000000u;
        return leaf == 1 || max >= leaf;
    };
    const auto state_holds = [state](OsState needed) {
        return needed == OsState::none || (needed == OsState::avx ? state.avx : state.avx512);
    };
    std::map<std::pair<std::uint32_t, std::uint32_t>, CpuidRegisters> leaves{{{1, 0}, leaf1}};
    for (const CpuFeatureBit& entry : feature_table) {
        if (!is_read(entry.leaf)) continue;
        const auto [it, fresh] = leaves.try_emplace({entry.leaf, entry.subleaf});
        if (fresh) it->second = reader.cpuid(entry.leaf, entry.subleaf);
        const std::uint32_t value = it->second.*entry.reg;
        f.*entry.flag = bit(value, entry.bit) && state_holds(entry.state);
    }

    if (f.avx10 && max >= 0x24) {
        const std::uint32_t ebx = reader.cpuid(0x24, 0).ebx;
        f.avx10_version = ebx & 0xFF;
        f.avx10_vector_length = bit(ebx, 18) ? 3u : bit(ebx, 17) ? 2u : bit(ebx, 16) ? 1u : 0u;
    }
    return f;
}

std::span<const CpuFeatureBit> cpu_feature_table() { return feature_table; }

std::string cpu_feature_list(const CpuFeatures& f) {
    std::string list;
    for (const CpuFeatureBit& entry : feature_table) {
        if (!(f.*entry.flag)) continue;
        if (entry.flag == &CpuFeatures::avx10) {
            append(list, avx10_entry(f));
        } else if (!f.avx10 || entry.state != OsState::avx512) {
            append(list, entry.name);
        }
    }
    return list;
}


}  // namespace nembo
