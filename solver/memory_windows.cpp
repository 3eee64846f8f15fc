// Field storage on Windows: aligned heap, large pages, memory status.
#include <windows.h>

#include <malloc.h>

#include <cstdint>

#include "solver/grid.hpp"
#include "solver/memory.hpp"

namespace nembo {

namespace memory {

void* heap_acquire(std::uint64_t bytes) {
    // _aligned_malloc adds its alignment overhead to the size without an
    // overflow check in some runtimes; a wrapped size would hand back a tiny
    // block that the zeroing then overruns.
    if (bytes > SIZE_MAX / 2) return nullptr;
    return _aligned_malloc(static_cast<std::size_t>(bytes), 64);
}

void heap_release(void* storage, std::uint64_t /*bytes*/) { _aligned_free(storage); }

void* large_acquire(std::uint64_t bytes) {
    return VirtualAlloc(nullptr, static_cast<SIZE_T>(bytes), MEM_COMMIT | MEM_RESERVE | MEM_LARGE_PAGES,
                        PAGE_READWRITE);
}

void large_release(void* storage, std::uint64_t /*bytes*/) { VirtualFree(storage, 0, MEM_RELEASE); }

}  // namespace memory

namespace {

std::uint64_t enable_lock_memory_privilege() {
    // The results are not examined: without the privilege the later
    // large-page VirtualAlloc fails and the block stays empty. The token
    // stays open for the life of the process.
    HANDLE token = nullptr;
    OpenProcessToken(GetCurrentProcess(), TOKEN_ADJUST_PRIVILEGES | TOKEN_QUERY, &token);
    TOKEN_PRIVILEGES privileges{};
    privileges.PrivilegeCount = 1;
    LookupPrivilegeValueA(nullptr, "SeLockMemoryPrivilege", &privileges.Privileges[0].Luid);
    privileges.Privileges[0].Attributes = SE_PRIVILEGE_ENABLED;
    AdjustTokenPrivileges(token, FALSE, &privileges, 0, nullptr, nullptr);
    return static_cast<std::uint64_t>(GetLargePageMinimum());
}

}  // namespace

std::uint64_t enable_large_pages() {
    static const std::uint64_t minimum = enable_lock_memory_privilege();
    return minimum;
}

std::uint64_t available_physical_memory() {
    MEMORYSTATUSEX status{};
    status.dwLength = sizeof(status);
    if (!GlobalMemoryStatusEx(&status)) return 0;
    return status.ullAvailPhys;
}

}  // namespace nembo
