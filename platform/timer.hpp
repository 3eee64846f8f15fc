#pragma once
// The fast timer (performance counter) and the coarse timer (millisecond
// tick count): reading, describing, converting, and the HWBOT timer rule.
#include <cstdint>
#include <string_view>

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
// The rule for this system and processor.
bool fast_timer_is_compliant(const TimerInfo& fast);

void print_timer_report();

}  // namespace nembo
