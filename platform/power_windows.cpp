// Windows: SetProcessInformation(ProcessPowerThrottling), found at run time
// in kernel32 because Windows 7 has neither the function nor the class, and
// an import of it would keep the program from loading there.
#include <windows.h>

#include "platform/power.hpp"

namespace nembo {
namespace {

// From the Windows 8 and Windows 10 1709 headers, which a 0x0601 build does
// not see.
constexpr int process_power_throttling = 4;  // PROCESS_INFORMATION_CLASS::ProcessPowerThrottling
constexpr ULONG power_throttling_current_version = 1;
constexpr ULONG power_throttling_execution_speed = 0x1;

struct PowerThrottlingState {
    ULONG version;
    ULONG control_mask;
    ULONG state_mask;
};

using SetProcessInformationFn = BOOL(WINAPI*)(HANDLE, int, LPVOID, DWORD);

}  // namespace

bool opt_out_of_power_throttling() {
    const HMODULE kernel32 = GetModuleHandleW(L"kernel32.dll");
    if (kernel32 == nullptr) return false;
    const FARPROC proc = GetProcAddress(kernel32, "SetProcessInformation");
    if (proc == nullptr) return false;
    const auto set_information = reinterpret_cast<SetProcessInformationFn>(reinterpret_cast<void (*)()>(proc));
    // The execution speed is under our control, and its state is "not
    // throttled".
    PowerThrottlingState state{power_throttling_current_version, power_throttling_execution_speed, 0};
    return set_information(GetCurrentProcess(), process_power_throttling, &state, sizeof state) != FALSE;
}

}  // namespace nembo
