// Windows limits. Windows sets no thread limit of its own, but every thread
// holds memory of its own: its kernel stack, its thread block and the
// committed pages of its stack. Allowing 64 KiB for these, more threads than
// the physical memory has 64 KiB blocks can never run.
#include <windows.h>

#include "platform/system_limits.hpp"

namespace nembo {

std::uint64_t max_threads() {
    MEMORYSTATUSEX status{};
    status.dwLength = sizeof(status);
    if (!GlobalMemoryStatusEx(&status) || status.ullTotalPhys == 0) return no_limit;
    return status.ullTotalPhys / (64 * 1024);
}

}  // namespace nembo
