// Windows clocks: QueryPerformanceCounter as the fast timer, GetTickCount64
// as the coarse timer, and the operating-system version for the HWBOT rule.
#include <windows.h>

#include "platform/timer.hpp"

namespace nembo {
namespace {

using NtQueryTimerResolutionFn = LONG(NTAPI*)(PULONG, PULONG, PULONG);

std::optional<std::uint32_t> nt_current_timer_resolution() {
    const HMODULE ntdll = GetModuleHandleW(L"ntdll.dll");
    if (ntdll == nullptr) return std::nullopt;
    const FARPROC proc = GetProcAddress(ntdll, "NtQueryTimerResolution");
    if (proc == nullptr) return std::nullopt;
    const auto query = reinterpret_cast<NtQueryTimerResolutionFn>(reinterpret_cast<void (*)()>(proc));
    ULONG maximum = 0;
    ULONG minimum = 0;
    ULONG current = 0;
    if (query(&maximum, &minimum, &current) < 0) return std::nullopt;
    return static_cast<std::uint32_t>(current);
}

std::optional<std::uint32_t> system_time_increment() {
    DWORD adjustment = 0;
    DWORD increment = 0;
    BOOL disabled = FALSE;
    if (!GetSystemTimeAdjustment(&adjustment, &increment, &disabled)) return std::nullopt;
    return static_cast<std::uint32_t>(increment);
}

}  // namespace

std::int64_t read_fast_timer() {
    LARGE_INTEGER count;
    QueryPerformanceCounter(&count);
    return count.QuadPart;
}

std::int64_t read_coarse_timer() { return static_cast<std::int64_t>(GetTickCount64()); }

TimerInfo describe_fast_timer(const TscInfo& tsc) {
    LARGE_INTEGER frequency;
    QueryPerformanceFrequency(&frequency);
    TimerInfo info;
    info.report_frequency = frequency.QuadPart;
    info.underlying_frequency = frequency.QuadPart;
    info.source = classify_fast_timer(frequency.QuadPart, tsc);
    return info;
}

TimerInfo describe_coarse_timer() {
    TimerInfo info;
    info.report_frequency = 1000;
    info.underlying_frequency = coarse_tick_frequency(nt_current_timer_resolution(), system_time_increment);
    return info;
}

bool os_older_than_6_2() {
    OSVERSIONINFOEXW version{};
    version.dwOSVersionInfoSize = sizeof(version);
    version.dwMajorVersion = 6;
    version.dwMinorVersion = 2;
    version.wServicePackMajor = 0;
    ULONGLONG conditions = 0;
    conditions = VerSetConditionMask(conditions, VER_MAJORVERSION, VER_GREATER_EQUAL);
    conditions = VerSetConditionMask(conditions, VER_MINORVERSION, VER_GREATER_EQUAL);
    conditions = VerSetConditionMask(conditions, VER_SERVICEPACKMAJOR, VER_GREATER_EQUAL);
    const BOOL at_least = VerifyVersionInfoW(&version, VER_MAJORVERSION | VER_MINORVERSION | VER_SERVICEPACKMAJOR,
                                             conditions);
    return at_least == FALSE;
}

}  // namespace nembo
