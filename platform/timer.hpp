#pragma once
// The fast timer (performance counter) and the coarse timer (millisecond
// tick count): reading, describing, converting, and the HWBOT timer rule.
#include <cstdint>
#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/cpu.hpp"

namespace nembo {

enum class TimerSource : std::uint8_t { unknown = 0, tsc = 1, itsc = 2, hpet = 3, acpi = 4, pit = 5, rtc = 6 };

struct TimerInfo {
    std::int64_t report_frequency = 0;
    std::int64_t underlying_frequency = 0;
    TimerSource source = TimerSource::unknown;
};

struct TscInfo {
    bool invariant = false;
    std::int64_t tsc_frequency = 0;
    std::int64_t crystal_frequency = 0;
};

std::int64_t read_fast_timer();
std::int64_t read_coarse_timer();

// The fast timer, classified with the processor's TSC facts; without them,
// this machine's (platform/machine.hpp), as read_tsc_info() gives them.
TimerInfo describe_fast_timer(const TscInfo& tsc);
TimerInfo describe_fast_timer();
TimerInfo describe_coarse_timer();
TscInfo read_tsc_info();
TscInfo read_tsc_info(const CpuidReader& reader);

// Source classification of a fast-timer frequency (pure).
TimerSource classify_fast_timer(std::int64_t frequency, const TscInfo& tsc);

std::string_view timer_source_name(TimerSource source);

std::int64_t elapsed_seconds(const TimerInfo& info, std::int64_t start, std::int64_t end);
std::int64_t elapsed_milliseconds(const TimerInfo& info, std::int64_t start, std::int64_t end);
std::int64_t elapsed_microseconds(const TimerInfo& info, std::int64_t start, std::int64_t end);

bool timer_will_overflow(const TimerInfo& info, std::int64_t now, std::int64_t seconds);

// The HWBOT rule as a pure function of its three inputs.
bool fast_timer_is_compliant(bool os_older_than_6_2, const CpuInfo& cpu, const TimerInfo& fast);
// The rule for this system and processor (this_machine()).
bool fast_timer_is_compliant(const TimerInfo& fast);

void print_timer_report();

// The pieces of the system forms above, exposed so that every case can be
// exercised with imagined inputs.

// Coarse-timer tick rate. `nt_current_resolution` is NtQueryTimerResolution's
// current resolution (100-ns units) when that function was found and
// succeeded; `time_increment` is asked only when it gives no answer and
// yields GetSystemTimeAdjustment's increment (100-ns units) when that call
// succeeds. A zero resolution or increment gives no answer: the result is 0
// when nothing usable remains.
std::int64_t coarse_tick_frequency(std::optional<std::uint32_t> nt_current_resolution,
                                   const std::function<std::optional<std::uint32_t>()>& time_increment);

// Rate of the hardware counter behind a Linux clocksource name ("hpet",
// "acpi_pm"; trailing white space ignored). "tsc" gives `tsc_frequency`;
// anything else 0.
std::int64_t clocksource_frequency(std::string_view name, std::int64_t tsc_frequency);

// The name of the Linux kernel's current clocksource under `root` ("/" for
// this machine); empty when it cannot be read. The Linux build only (the
// Windows program reads no /sys file, and so links none of their reader).
std::string current_clocksource(const std::filesystem::path& root);

// The lines of the timer report, without their line ends.
struct TimerReportInputs {
    TimerInfo fast;
    TimerInfo coarse;
    TscInfo tsc;
    CpuInfo cpu;
    bool compliant = false;
};
std::vector<std::string> timer_report_lines(const TimerReportInputs& inputs);

// Frequency text of the reports and the run: "{} Hz" below 1000, else
// "{:.2f} {K..E}Hz".
std::string format_frequency(std::int64_t hz);

// The one frequency a run shows for a timer: the underlying one, or the
// report frequency when the underlying one is unknown (0).
std::int64_t shown_frequency(const TimerInfo& info);

// Whether the operating system is older than version 6.2 (never on Linux):
// the system's own answer, asked once for this_machine().
bool os_older_than_6_2();

}  // namespace nembo
