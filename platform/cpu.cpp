// CPUID/XGETBV decoding. The decoders only see a CpuidReader, so every
// processor can be imagined in a test; hardware_cpuid() is the real one.
#include "platform/cpu.hpp"

#include <cpuid.h>

#include <array>
#include <cstring>

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

void append(std::string& list, const char* name) {
    if (!list.empty()) list += ' ';
    list += name;
}

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

    const CpuidRegisters l1 = reader.cpuid(1, 0);
    const RegisterState state = os_register_state(reader, l1.ecx);
    f.mmx = bit(l1.edx, 23);
    f.sse = bit(l1.edx, 25);
    f.sse2 = bit(l1.edx, 26);
    f.sse3 = bit(l1.ecx, 0);
    f.ssse3 = bit(l1.ecx, 9);
    f.fma = bit(l1.ecx, 12);
    f.sse4_1 = bit(l1.ecx, 19);
    f.sse4_2 = bit(l1.ecx, 20);
    f.popcnt = bit(l1.ecx, 23);
    f.aes = bit(l1.ecx, 25);
    f.avx = state.avx;
    f.rdrand = bit(l1.ecx, 30);

    if (max >= 7) {
        const CpuidRegisters l7 = reader.cpuid(7, 0);
        const bool avx = state.avx;
        const bool z = state.avx512;
        f.sgx = bit(l7.ebx, 2);
        f.bmi1 = bit(l7.ebx, 3);
        f.avx2 = avx && bit(l7.ebx, 5);
        f.bmi2 = bit(l7.ebx, 8);
        f.avx512f = z && bit(l7.ebx, 16);
        f.avx512dq = z && bit(l7.ebx, 17);
        f.avx512ifma = z && bit(l7.ebx, 21);
        f.clflushopt = bit(l7.ebx, 23);
        f.clwb = bit(l7.ebx, 24);
        f.avx512pf = z && bit(l7.ebx, 26);
        f.avx512er = z && bit(l7.ebx, 27);
        f.avx512cd = z && bit(l7.ebx, 28);
        f.sha = bit(l7.ebx, 29);
        f.avx512bw = z && bit(l7.ebx, 30);
        f.avx512vl = z && bit(l7.ebx, 31);

        f.avx512vbmi = z && bit(l7.ecx, 1);
        f.pku = bit(l7.ecx, 3);
        f.ospke = bit(l7.ecx, 4);
        f.waitpkg = bit(l7.ecx, 5);
        f.avx512vbmi2 = z && bit(l7.ecx, 6);
        f.cet_shstk = bit(l7.ecx, 7);
        f.gfni = avx && bit(l7.ecx, 8);
        f.vaes = avx && bit(l7.ecx, 9);
        f.vpclmulqdq = avx && bit(l7.ecx, 10);
        f.avx512vnni = z && bit(l7.ecx, 11);
        f.avx512bitalg = z && bit(l7.ecx, 12);
        f.avx512vpopcntdq = z && bit(l7.ecx, 14);
        f.rdpid = bit(l7.ecx, 22);
        f.movdiri = bit(l7.ecx, 27);
        f.movdir64b = bit(l7.ecx, 28);

        f.avx512_4vnniw = z && bit(l7.edx, 2);
        f.avx512_4fmaps = z && bit(l7.edx, 3);
        f.fsrm = bit(l7.edx, 4);
        f.uintr = bit(l7.edx, 5);
        f.avx512_vp2intersect = z && bit(l7.edx, 8);
        f.serialize = bit(l7.edx, 14);
        f.tsxldtrk = bit(l7.edx, 16);
        f.cet_ibt = bit(l7.edx, 20);
        f.amx_bf16 = bit(l7.edx, 22);
        f.avx512_fp16 = z && bit(l7.edx, 23);
        f.amx_tile = bit(l7.edx, 24);
        f.amx_int8 = bit(l7.edx, 25);

        const CpuidRegisters l71 = reader.cpuid(7, 1);
        f.avx512_bf16 = z && bit(l71.eax, 5);
        f.amx_fp16 = bit(l71.eax, 21);
        f.hreset = bit(l71.eax, 22);
        f.apx = bit(l71.edx, 21);
        if (bit(l71.edx, 19) && z) {
            f.avx10 = true;
            if (max >= 0x24) {
                const std::uint32_t ebx = reader.cpuid(0x24, 0).ebx;
                f.avx10_version = ebx & 0xFF;
                f.avx10_vector_length = bit(ebx, 18) ? 3u : bit(ebx, 17) ? 2u : bit(ebx, 16) ? 1u : 0u;
            }
        }
    }

    if (max_ext != 0x80000000u) {
        const CpuidRegisters ext = reader.cpuid(0x80000001u, 0);
        f.lzcnt = bit(ext.ecx, 5);
        f.sse4a = bit(ext.ecx, 6);
        f.xop = bit(ext.ecx, 11);
    }
    return f;
}

std::string cpu_feature_list(const CpuFeatures& f) {
    std::string list;
    const auto add = [&list](bool present, const char* name) {
        if (present) append(list, name);
    };
    add(f.mmx, "MMX");
    add(f.sse, "SSE");
    add(f.sse2, "SSE2");
    add(f.sse3, "SSE3");
    add(f.ssse3, "SSSE3");
    add(f.sse4_1, "SSE4.1");
    add(f.sse4_2, "SSE4.2");
    add(f.sse4a, "SSE4a");
    add(f.popcnt, "POPCNT");
    add(f.aes, "AES");
    add(f.fma, "FMA");
    add(f.rdrand, "RDRAND");
    add(f.bmi1, "BMI1");
    add(f.bmi2, "BMI2");
    add(f.lzcnt, "LZCNT");
    add(f.xop, "XOP");
    add(f.avx, "AVX");
    add(f.avx2, "AVX2");
    if (f.avx10) {
        std::string entry = "AVX10";
        if (f.avx10_version != 0) {
            entry += '.';
            entry += std::to_string(f.avx10_version);
        }
        switch (f.avx10_vector_length) {
            case 1: entry += "-128"; break;
            case 2: entry += "-256"; break;
            case 3: entry += "-512"; break;
            default: break;
        }
        append(list, entry.c_str());
    } else {
        add(f.avx512f, "AVX512F");
        add(f.avx512bw, "AVX512BW");
        add(f.avx512vl, "AVX512VL");
        add(f.avx512dq, "AVX512DQ");
        add(f.avx512ifma, "AVX512IFMA");
        add(f.avx512pf, "AVX512PF");
        add(f.avx512er, "AVX512ER");
        add(f.avx512cd, "AVX512CD");
        add(f.avx512vbmi, "AVX512VBMI");
        add(f.avx512vbmi2, "AVX512VBMI2");
        add(f.avx512vnni, "AVX512VNNI");
        add(f.avx512bitalg, "AVX512BITALG");
        add(f.avx512vpopcntdq, "AVX512VPOPCNTDQ");
        add(f.avx512_bf16, "AVX512_BF16");
        add(f.avx512_fp16, "AVX512_FP16");
        add(f.avx512_4vnniw, "AVX512_4VNNIW");
        add(f.avx512_4fmaps, "AVX512_4FMAPS");
        add(f.avx512_vp2intersect, "AVX512_VP2INTERSECT");
    }
    add(f.apx, "APX");
    add(f.gfni, "GFNI");
    add(f.vaes, "VAES");
    add(f.vpclmulqdq, "VPCLMULQDQ");
    add(f.sha, "SHA");
    add(f.rdpid, "RDPID");
    add(f.waitpkg, "WAITPKG");
    add(f.movdiri, "MOVDIRI");
    add(f.movdir64b, "MOVDIR64B");
    add(f.serialize, "SERIALIZE");
    add(f.tsxldtrk, "TSXLDTRK");
    add(f.pku, "PKU");
    add(f.ospke, "OSPKE");
    add(f.sgx, "SGX");
    add(f.clwb, "CLWB");
    add(f.clflushopt, "CLFLUSHOPT");
    add(f.amx_tile, "AMX_TILE");
    add(f.amx_int8, "AMX_INT8");
    add(f.amx_bf16, "AMX_BF16");
    add(f.amx_fp16, "AMX_FP16");
    add(f.cet_ibt, "CET_IBT");
    add(f.cet_shstk, "CET_SHSTK");
    add(f.fsrm, "FSRM");
    add(f.hreset, "HRESET");
    add(f.uintr, "UINTR");
    return list;
}

CpuInfo read_cpu_info() { return read_cpu_info(hardware_cpuid()); }
std::string read_cpu_brand() { return read_cpu_brand(hardware_cpuid()); }
CpuFeatures detect_cpu_features() { return detect_cpu_features(hardware_cpuid()); }
std::string cpu_feature_list() { return cpu_feature_list(detect_cpu_features()); }

}  // namespace nembo
