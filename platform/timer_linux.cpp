// Linux clocks: CLOCK_MONOTONIC_RAW in nanoseconds as the fast timer,
// CLOCK_MONOTONIC_COARSE in milliseconds as the coarse timer.
#include <x86intrin.h>

#include <ctime>
#include <string>

#include "platform/system_files.hpp"
#include "platform/timer.hpp"

namespace nembo {
namespace {

std::int64_t nanoseconds(clockid_t clock) {
    timespec ts{};
    clock_gettime(clock, &ts);
    return static_cast<std::int64_t>(ts.tv_sec) * 1'000'000'000 + ts.tv_nsec;
}

// TSC rate measured against CLOCK_MONOTONIC_RAW over about 10 ms.
std::int64_t calibrate_tsc() {
    const std::int64_t t0 = nanoseconds(CLOCK_MONOTONIC_RAW);
    const unsigned long long c0 = __rdtsc();
    std::int64_t t1 = t0;
    while (t1 - t0 < 10'000'000) t1 = nanoseconds(CLOCK_MONOTONIC_RAW);
    const unsigned long long c1 = __rdtsc();
    const auto ticks = static_cast<double>(c1 - c0);
    return static_cast<std::int64_t>(ticks * 1e9 / static_cast<double>(t1 - t0));
}

}  // namespace

std::string current_clocksource(const std::filesystem::path& root) {
    return read_first_line(root / "sys/devices/system/clocksource/clocksource0/current_clocksource").value_or("");
}

std::int64_t read_fast_timer() { return nanoseconds(CLOCK_MONOTONIC_RAW); }

std::int64_t read_coarse_timer() {
    timespec ts{};
    clock_gettime(CLOCK_MONOTONIC_COARSE, &ts);
    return static_cast<std::int64_t>(ts.tv_sec) * 1000 + ts.tv_nsec / 1'000'000;
}

TimerInfo describe_fast_timer(const TscInfo& tsc) {
    const std::string source = current_clocksource("/");
    std::int64_t tsc_frequency = tsc.tsc_frequency;
    if (source == "tsc" && tsc_frequency == 0) tsc_frequency = calibrate_tsc();
    TimerInfo info;
    info.report_frequency = 1'000'000'000;
    info.underlying_frequency = clocksource_frequency(source, tsc_frequency);
    info.source = info.underlying_frequency == 0 ? TimerSource::unknown
                                                 : classify_fast_timer(info.underlying_frequency, tsc);
    return info;
}

TimerInfo describe_coarse_timer() {
    TimerInfo info;
    info.report_frequency = 1000;
    timespec res{};
    if (clock_getres(CLOCK_MONOTONIC_COARSE, &res) == 0) {
        const std::int64_t period = static_cast<std::int64_t>(res.tv_sec) * 1'000'000'000 + res.tv_nsec;
        info.underlying_frequency = period > 0 ? 1'000'000'000 / period : 0;
    }
    return info;
}

bool os_older_than_6_2() { return false; }

}  // namespace nembo
