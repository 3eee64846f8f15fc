// Timer arithmetic, source classification, the HWBOT rule and the timer
// report. The operating-system calls live in timer_windows.cpp and
// timer_linux.cpp.
#include "platform/timer.hpp"
#include "platform/units.hpp"

#include <fmt/format.h>

#include <array>
#include <cctype>
#include <iostream>
#include <limits>

namespace nembo {
namespace {

__extension__ typedef __int128 Int128;

constexpr std::int64_t int64_max = std::numeric_limits<std::int64_t>::max();

Int128 absolute(Int128 v) { return v < 0 ? -v : v; }

// end - start without signed overflow (readings wrap like the counter would).
std::int64_t difference(std::int64_t start, std::int64_t end) {
    return static_cast<std::int64_t>(static_cast<std::uint64_t>(end) - static_cast<std::uint64_t>(start));
}

// (d / c) * scale + (d mod c) * scale / c, with the two parts scaled apart.
// The remainder part is exact for every frequency; a whole part too large
// for 64 bits wraps instead of being undefined.
std::int64_t scaled_elapsed(const TimerInfo& info, std::int64_t start, std::int64_t end, std::int64_t scale) {
    const std::int64_t c = info.report_frequency;
    if (c <= 0) return 0;
    const std::int64_t d = difference(start, end);
    const std::int64_t whole = d / c;
    const std::int64_t rest = d % c;
    const auto part = static_cast<std::int64_t>(static_cast<Int128>(rest) * scale / c);
    const std::uint64_t sum = static_cast<std::uint64_t>(whole) * static_cast<std::uint64_t>(scale) +
                              static_cast<std::uint64_t>(part);
    return static_cast<std::int64_t>(sum);
}

}  // namespace

TimerSource classify_fast_timer(std::int64_t f, const TscInfo& tsc) {
    if (f == 1'193'182) return TimerSource::pit;
    if (f == 32'000'000 || f == 32'768'000) return TimerSource::rtc;
    if (f >= 3'579'000 && f <= 3'579'999) return TimerSource::acpi;
    if (f >= 143'100'001 && f <= 143'299'999) return TimerSource::hpet;
    const TimerSource candidate = tsc.invariant ? TimerSource::itsc : TimerSource::tsc;
    if (tsc.tsc_frequency != 0) {
        const Int128 direct = absolute(static_cast<Int128>(f) - tsc.tsc_frequency);
        const Int128 divided = absolute(static_cast<Int128>(f) - tsc.tsc_frequency / 1024);
        if (direct < 1'000'000 || divided < 100'000) return candidate;
    }
    if (f >= 100'000'000) return candidate;
    if (f == 10'000'000) return candidate;
    if (f > 10'000'000) return TimerSource::hpet;
    return TimerSource::unknown;
}

std::string_view timer_source_name(TimerSource source) {
    switch (source) {
        case TimerSource::tsc: return "TSC";
        case TimerSource::itsc: return "iTSC";
        case TimerSource::hpet: return "HPET";
        case TimerSource::acpi: return "ACPI";
        case TimerSource::pit: return "PIT";
        case TimerSource::rtc: return "RTC";
        case TimerSource::unknown: break;
    }
    return "unknown";
}

std::int64_t elapsed_seconds(const TimerInfo& info, std::int64_t start, std::int64_t end) {
    if (info.report_frequency <= 0) return 0;
    return difference(start, end) / info.report_frequency;
}

std::int64_t elapsed_milliseconds(const TimerInfo& info, std::int64_t start, std::int64_t end) {
    return scaled_elapsed(info, start, end, 1000);
}

std::int64_t elapsed_microseconds(const TimerInfo& info, std::int64_t start, std::int64_t end) {
    return scaled_elapsed(info, start, end, 1'000'000);
}

bool timer_will_overflow(const TimerInfo& info, std::int64_t now, std::int64_t seconds) {
    const std::int64_t c = info.report_frequency;
    // Computed wide: a negative reading leaves more than 2^63 - 1 counts.
    const Int128 left = c > 0 ? (static_cast<Int128>(int64_max) - now) / c : static_cast<Int128>(int64_max);
    return left <= seconds;
}

bool fast_timer_is_compliant(bool os_older, const CpuInfo& cpu, const TimerInfo& fast) {
    if (os_older) return true;
    if (fast.source == TimerSource::hpet) return true;
    return cpu.vendor == CpuVendor::intel && cpu.model >= 0x4E && cpu.model != 0x4F;
}

TscInfo read_tsc_info(const CpuidReader& reader) {
    TscInfo info;
    info.invariant = ((reader.cpuid(0x80000007u, 0).edx >> 8) & 1u) != 0;
    const std::uint32_t max = reader.cpuid(0, 0).eax;
    if (max < 0x15) return info;
    const CpuidRegisters l15 = reader.cpuid(0x15, 0);
    const std::uint64_t denominator = l15.eax;
    const std::uint64_t numerator = l15.ebx;
    const std::uint64_t crystal = l15.ecx;
    info.crystal_frequency = static_cast<std::int64_t>(crystal);
    const std::uint64_t base_mhz = max >= 0x16 ? (reader.cpuid(0x16, 0).eax & 0xFFFFu) : 0;
    if (crystal != 0 && numerator != 0 && denominator != 0) {
        info.tsc_frequency = static_cast<std::int64_t>(crystal * numerator / denominator);
    } else {
        info.tsc_frequency = static_cast<std::int64_t>(base_mhz * 1'000'000u);
    }
    return info;
}

std::int64_t coarse_tick_frequency(std::optional<std::uint32_t> nt_current_resolution,
                                   const std::function<std::optional<std::uint32_t>()>& time_increment) {
    // A resolution of 0 is treated like a failed query: the adjustment
    // increment is asked instead of dividing by zero.
    if (nt_current_resolution && *nt_current_resolution != 0) return 10'000'000 / *nt_current_resolution;
    const std::optional<std::uint32_t> increment = time_increment ? time_increment() : std::nullopt;
    if (increment && *increment != 0) return 10'000'000 / *increment;
    return 0;
}

std::int64_t clocksource_frequency(std::string_view name, std::int64_t tsc_frequency) {
    while (!name.empty() && std::isspace(static_cast<unsigned char>(name.back())) != 0) name.remove_suffix(1);
    if (name == "tsc") return tsc_frequency;
    if (name == "hpet") return 14'318'180;
    if (name == "acpi_pm") return 3'579'545;
    return 0;
}

std::string format_frequency(std::int64_t hz) { return format_si(static_cast<std::uint64_t>(hz), "Hz"); }

std::int64_t shown_frequency(const TimerInfo& info) {
    return info.underlying_frequency != 0 ? info.underlying_frequency : info.report_frequency;
}

std::vector<std::string> timer_report_lines(const TimerReportInputs& in) {
    std::vector<std::string> lines;
    lines.push_back(fmt::format("Fast timer: {}", timer_source_name(in.fast.source)));
    lines.push_back("underlying frequency: " + format_frequency(in.fast.underlying_frequency));
    lines.push_back("report frequency: " + format_frequency(in.fast.report_frequency));
    lines.push_back("Coarse timer: ");
    lines.push_back("underlying frequency: " + format_frequency(in.coarse.underlying_frequency));
    lines.push_back("report frequency: " + format_frequency(in.coarse.report_frequency));
    lines.emplace_back();
    lines.push_back("tsc info:");
    lines.push_back("tsc: " + format_frequency(in.tsc.tsc_frequency));
    lines.push_back("crystal: " + format_frequency(in.tsc.crystal_frequency));
    lines.push_back(fmt::format("invariant: {}", in.tsc.invariant));
    lines.emplace_back();
    lines.push_back(in.cpu.brand);
    switch (in.cpu.vendor) {
        case CpuVendor::intel: lines.push_back("Intel detected"); break;
        case CpuVendor::amd: lines.push_back("AMD detected"); break;
        default: lines.push_back("unknown vendor"); break;
    }
    lines.push_back(fmt::format("detected family: {:x} model: {:x}", in.cpu.family, in.cpu.model));
    lines.emplace_back();
    if (in.compliant) {
        lines.push_back("Fast timer is hwbot compliant");
    } else {
        lines.push_back("Fast timer is not compliant with HWBOT rules");
        lines.push_back(
            "Use --bypass-timer-check to run regardless if you are sure that this is a detection error in terms "
            "of your windows version, processor, or timer");
    }
    return lines;
}

void print_timer_report() {
    TimerReportInputs in;
    in.fast = describe_fast_timer();
    in.coarse = describe_coarse_timer();
    in.tsc = read_tsc_info();
    in.cpu = read_cpu_info();
    in.compliant = fast_timer_is_compliant(in.fast);
    for (const std::string& line : timer_report_lines(in)) std::cout << line << '\n' << std::flush;
}

}  // namespace nembo
