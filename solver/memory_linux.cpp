// Field storage on Linux: aligned heap, huge pages, /proc/meminfo.
#include <sys/mman.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "solver/grid.hpp"
#include "solver/memory.hpp"

namespace nembo {

namespace {

// The value of one "Name:  123 kB" line of /proc/meminfo in bytes; 0 when the
// file or the line is missing.
std::uint64_t meminfo_bytes(const char* name) {
    std::FILE* file = std::fopen("/proc/meminfo", "r");
    if (file == nullptr) return 0;
    const std::size_t name_length = std::strlen(name);
    std::uint64_t result = 0;
    char line[256];
    while (std::fgets(line, sizeof line, file) != nullptr) {
        if (std::strncmp(line, name, name_length) != 0 || line[name_length] != ':') continue;
        unsigned long long value = 0;
        char unit[8] = {};
        const int fields = std::sscanf(line + name_length + 1, "%llu %7s", &value, unit);
        if (fields >= 1) {
            const std::uint64_t scale = (fields == 2 && std::strcmp(unit, "kB") == 0) ? 1024 : 1;
            if (__builtin_mul_overflow(static_cast<std::uint64_t>(value), scale, &result)) result = 0;
        }
        break;
    }
    std::fclose(file);
    return result;
}

// The kernel overcommits: a heap request it cannot back still succeeds, and
// the process is killed later while the storage is zeroed. So every request
// books its size here until it has been touched, and a request that would
// take the outstanding total beyond the memory available now is refused.
std::atomic<std::uint64_t> untouched_bytes{0};

}  // namespace

namespace memory {

void* heap_acquire(std::uint64_t bytes) {
    const std::uint64_t before = untouched_bytes.fetch_add(bytes);
    const std::uint64_t available = available_physical_memory();
    std::uint64_t wanted = 0;
    const bool overflow = __builtin_add_overflow(before, bytes, &wanted);
    // An unreadable figure (0) leaves the decision to the allocator.
    if (overflow || (available != 0 && wanted > available)) {
        untouched_bytes.fetch_sub(bytes);
        return nullptr;
    }
    void* storage = nullptr;
    if (posix_memalign(&storage, 64, static_cast<std::size_t>(bytes)) != 0) {
        untouched_bytes.fetch_sub(bytes);
        return nullptr;
    }
    return storage;
}

void heap_touched(std::uint64_t bytes) { untouched_bytes.fetch_sub(bytes); }

void heap_release(void* storage) { std::free(storage); }

void* large_acquire(std::uint64_t bytes) {
    void* storage = mmap(nullptr, static_cast<std::size_t>(bytes), PROT_READ | PROT_WRITE,
                         MAP_PRIVATE | MAP_ANONYMOUS | MAP_HUGETLB, -1, 0);
    return storage == MAP_FAILED ? nullptr : storage;
}

void large_release(void* storage, std::uint64_t bytes) {
    munmap(storage, static_cast<std::size_t>(bytes));
}

}  // namespace memory

// No privilege to enable on Linux; the minimum is the huge page size.
std::uint64_t enable_large_pages() {
    static const std::uint64_t minimum = meminfo_bytes("Hugepagesize");
    return minimum;
}

std::uint64_t available_physical_memory() { return meminfo_bytes("MemAvailable"); }

}  // namespace nembo
