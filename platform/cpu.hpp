#pragma once
// Processor identity and instruction-set features, read with CPUID/XGETBV.
#include <cstdint>
#include <map>
#include <span>
#include <string>
#include <string_view>
#include <utility>

namespace nembo {

enum class CpuVendor : std::uint32_t { intel = 0, amd = 1, unknown = 2 };

struct CpuInfo {
    std::string brand;
    CpuVendor vendor = CpuVendor::unknown;
    std::uint32_t family = 0;
    std::uint32_t model = 0;
};

struct CpuFeatures {
    bool mmx = false;
    bool sse = false;
    bool sse2 = false;
    bool sse3 = false;
    bool ssse3 = false;
    bool sse4_1 = false;
    bool sse4_2 = false;
    bool sse4a = false;
    bool popcnt = false;
    bool aes = false;
    bool rdrand = false;
    bool bmi1 = false;
    bool bmi2 = false;
    bool lzcnt = false;
    bool xop = false;
    bool avx = false;
    bool avx2 = false;
    bool fma = false;
    bool avx512f = false;
    bool avx512bw = false;
    bool avx512vl = false;
    bool avx512dq = false;
    bool avx512ifma = false;
    bool avx512pf = false;
    bool avx512er = false;
    bool avx512cd = false;
    bool avx512vbmi = false;
    bool avx512vbmi2 = false;
    bool avx512vnni = false;
    bool avx512bitalg = false;
    bool avx512vpopcntdq = false;
    bool gfni = false;
    bool vaes = false;
    bool vpclmulqdq = false;
    bool sha = false;
    bool movdiri = false;
    bool movdir64b = false;
    bool serialize = false;
    bool tsxldtrk = false;
    bool pku = false;
    bool ospke = false;
    bool rdpid = false;
    bool waitpkg = false;
    bool clwb = false;
    bool clflushopt = false;
    bool sgx = false;
    bool avx512_4vnniw = false;
    bool avx512_4fmaps = false;
    bool avx512_vp2intersect = false;
    bool amx_tile = false;
    bool amx_int8 = false;
    bool amx_bf16 = false;
    bool amx_fp16 = false;
    bool cet_ibt = false;
    bool cet_shstk = false;
    bool fsrm = false;
    bool hreset = false;
    bool uintr = false;
    bool avx512_bf16 = false;
    bool avx512_fp16 = false;
    bool avx10 = false;
    std::uint32_t avx10_version = 0;
    std::uint32_t avx10_vector_length = 0;  // 0 none, 1 = 128, 2 = 256, 3 = 512 bits
    bool apx = false;
};

// The processor's registers, as the decoders see them. Production code uses
// the real instructions; tests hand in tables of imagined processors.
struct CpuidRegisters {
    std::uint32_t eax = 0, ebx = 0, ecx = 0, edx = 0;
};

// Where one flag of CpuFeatures comes from: a bit of one CPUID register, and
// the register state the operating system must save for it. The flags that
// need AVX-512 state are the ones the AVX10 entry of the feature list stands
// in for; AVX10's version and vector length come from leaf 0x24 besides.
enum class OsState : std::uint8_t { none, avx, avx512 };

struct CpuFeatureBit {
    bool CpuFeatures::*flag;
    std::uint32_t leaf;
    std::uint32_t subleaf;
    std::uint32_t CpuidRegisters::*reg;
    std::uint8_t bit;
    OsState state;
    std::string_view name;  // in the feature list
};

// Every flag of CpuFeatures once, in the order of the printed feature list.
std::span<const CpuFeatureBit> cpu_feature_table();

class CpuidReader {
public:
    virtual ~CpuidReader() = default;
    virtual CpuidRegisters cpuid(std::uint32_t leaf, std::uint32_t subleaf) const = 0;
    virtual std::uint64_t xgetbv0() const = 0;  // XCR0
};

// The reader backed by this processor's CPUID and XGETBV instructions.
const CpuidReader& hardware_cpuid();

// An imagined processor as a plain value: a table of (leaf, sub-leaf) ->
// registers plus the operating system's XCR0. Leaves not in the table read
// as zeros.
class CpuidTable final : public CpuidReader {
public:
    CpuidTable& set(std::uint32_t leaf, std::uint32_t subleaf, CpuidRegisters regs);
    CpuidTable& set_xcr0(std::uint64_t xcr0);
    CpuidRegisters cpuid(std::uint32_t leaf, std::uint32_t subleaf) const override;
    std::uint64_t xgetbv0() const override;

private:
    std::map<std::pair<std::uint32_t, std::uint32_t>, CpuidRegisters> leaves_;
    std::uint64_t xcr0_ = 0;
};

// The kind of core a logical processor belongs to, on processors that mix
// kinds (Intel hybrid parts, AMD heterogeneous ones).
enum class CoreType : std::uint8_t { unknown, efficient, performance };

// Whether the processor says it mixes kinds of cores and has the leaf that
// names them: Intel's hybrid flag (leaf 7 EDX bit 15) with leaf 0x1A in
// range, or AMD's heterogeneous flag (leaf 0x80000026 EAX bit 30) with that
// leaf in range. The vendor is the one leaf 0 names. The answer is the same
// on every processor of the machine.
bool reports_core_types(const CpuidReader& reader);

// The kind of the core that answers (the one running the caller): Intel leaf
// 0x1A EAX bits 31-24, 0x40 (Core) performance and 0x20 (Atom) efficient;
// AMD leaf 0x80000026 sub-leaf 0 EBX bits 31-28, 0 performance and 1
// efficient. Unknown for any other value and wherever reports_core_types
// is false.
CoreType read_core_type(const CpuidReader& reader);

// Vendor as recognised in a brand string ("Intel" first, then "AMD").
CpuVendor vendor_from_brand(const std::string& brand);

CpuInfo read_cpu_info(const CpuidReader& reader);
std::string read_cpu_brand(const CpuidReader& reader);
CpuFeatures detect_cpu_features(const CpuidReader& reader);
std::string cpu_feature_list(const CpuFeatures& features);

// The same of this processor: views of this_machine() (platform/machine.hpp),
// read once a process.
CpuInfo read_cpu_info();
std::string read_cpu_brand();
CpuFeatures detect_cpu_features();
std::string cpu_feature_list();

}  // namespace nembo
