#include "bench/roofs.hpp"

#include <sys/mman.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cinttypes>
#include <cstdio>

#include "bench/pinned_workers.hpp"
#include "solver/grid.hpp"

namespace nembo::bench {

namespace {

constexpr std::size_t huge_page = std::size_t{2} << 20;
// One x-plane of a size-192 grid, in doubles.
constexpr std::size_t plane = std::size_t{194} * 194 * (sizeof(Cell) / sizeof(double));

// Kept out of line so that every pass is a real sweep over memory.
[[gnu::noinline]] void update_in_place(double* a, const double* b, std::size_t count, double s) {
    for (std::size_t i = 0; i < count; ++i) a[i] += s * b[i];
}
[[gnu::noinline]] void update_shifted(double* a, const double* b, std::size_t count, double s) {
    for (std::size_t i = 0; i < count; ++i) a[i] += s * (b[i + plane] - b[i]);
}

// Bytes of AnonHugePages in the mappings of this process that overlap
// [begin, end), from /proc/self/smaps.
std::uint64_t huge_bytes_in(std::uintptr_t begin, std::uintptr_t end) {
    std::FILE* file = std::fopen("/proc/self/smaps", "r");
    if (file == nullptr) return 0;
    char line[512];
    bool inside = false;
    std::uint64_t bytes = 0;
    while (std::fgets(line, sizeof(line), file) != nullptr) {
        std::uintptr_t from = 0;
        std::uintptr_t to = 0;
        unsigned long long kib = 0;
        if (std::sscanf(line, "%" SCNxPTR "-%" SCNxPTR " ", &from, &to) == 2) {
            inside = from < end && to > begin;
        } else if (inside && std::sscanf(line, "AnonHugePages: %llu kB", &kib) == 1) {
            bytes += kib * 1024;
        }
    }
    std::fclose(file);
    return bytes;
}

// Doubles between the end of a and the start of b. Streams a power of two
// apart contend for the same cache sets and memory banks, which costs the
// update a third of its bandwidth here; a grid's two fields are kept apart
// the same way (h_block_lead in solver/grid.hpp).
constexpr std::size_t gap = (4096 + 1024 + 64) / sizeof(double);

// A worker's two arrays in one anonymous mapping, aligned to 2 MiB and
// advised to the page size asked for. a has `elements` doubles, b `elements`
// plus one plane.
class ArrayPair {
public:
    ArrayPair(std::size_t elements, Pages pages)
        : elements_(elements), bytes_((2 * elements + gap + plane) * sizeof(double)) {
        bytes_ = (bytes_ + huge_page - 1) / huge_page * huge_page;
        void* mapped = mmap(nullptr, bytes_ + huge_page, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
        if (mapped == MAP_FAILED) return;
        // Keep the aligned part only.
        const auto raw = reinterpret_cast<std::uintptr_t>(mapped);
        const std::uintptr_t aligned = (raw + huge_page - 1) / huge_page * huge_page;
        if (aligned > raw) munmap(mapped, aligned - raw);
        if (raw + huge_page > aligned) munmap(reinterpret_cast<void*>(aligned + bytes_), raw + huge_page - aligned);
        base_ = reinterpret_cast<double*>(aligned);
        madvise(base_, bytes_, pages == Pages::large ? MADV_HUGEPAGE : MADV_NOHUGEPAGE);
        // First touch on the worker's own thread puts the pages near it.
        for (std::size_t i = 0; i < elements; ++i) base_[i] = 1.0;
        for (std::size_t i = 0; i < elements + plane; ++i) b()[i] = static_cast<double>(i & 1023);
    }
    ~ArrayPair() {
        if (base_ != nullptr) munmap(base_, bytes_);
    }
    ArrayPair(const ArrayPair&) = delete;
    ArrayPair& operator=(const ArrayPair&) = delete;

    double* a() const { return base_; }
    double* b() const { return base_ + elements_ + gap; }
    bool ready() const { return base_ != nullptr; }
    double huge_share() const {
        const auto begin = reinterpret_cast<std::uintptr_t>(base_);
        return static_cast<double>(huge_bytes_in(begin, begin + bytes_)) / static_cast<double>(bytes_);
    }

private:
    std::size_t elements_;
    std::size_t bytes_;
    double* base_ = nullptr;
};

// Keeps the arrays' contents observable; every worker stores into it.
std::atomic<double> sink{0.0};

}  // namespace

const char* pages_name(Pages pages) { return pages == Pages::large ? "2MiB" : "4KiB"; }

Roofs better(const Roofs& a, const Roofs& b) {
    if (!a.measured) return b;
    if (!b.measured) return a;
    return Roofs{std::max(a.in_place, b.in_place), std::max(a.shifted, b.shifted), std::min(a.huge_share, b.huge_share),
                 true};
}

RoofRounds::RoofRounds(std::uint32_t workers, int rounds, int passes, std::size_t mib, Pages pages)
    : workers_(workers),
      rounds_(rounds),
      passes_(passes),
      elements_(mib * std::size_t{1024 * 1024} / sizeof(double)),
      pages_(pages),
      in_place_(static_cast<std::size_t>(rounds) * workers, 0.0),
      shifted_(static_cast<std::size_t>(rounds) * workers, 0.0),
      huge_share_(workers, 0.0),
      ready_(workers, 0) {}

void RoofRounds::run_worker(std::uint32_t index, Barrier& start) {
    const ArrayPair arrays(elements_, pages_);
    double* const a = arrays.a();
    const double* const b = arrays.b();
    if (arrays.ready()) {
        update_in_place(a, b, elements_, 1e-6);  // one untimed pass
        huge_share_[index] = arrays.huge_share();
        ready_[index] = 1;
    }
    const auto timed = [&](auto update, std::vector<double>& rates, int round) {
        start.arrive_and_wait();
        if (!arrays.ready()) return;
        const auto t0 = std::chrono::steady_clock::now();
        for (int pass = 0; pass < passes_; ++pass) update(a, b, elements_, 1e-6);
        const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
        const double bytes = 24.0 * static_cast<double>(elements_) * passes_;
        rates[static_cast<std::size_t>(round) * workers_ + index] = seconds > 0.0 ? bytes / seconds : 0.0;
    };
    for (int round = 0; round < rounds_; ++round) {
        timed(update_in_place, in_place_, round);
        timed(update_shifted, shifted_, round);
    }
    if (arrays.ready()) sink.store(a[elements_ / 2] + a[elements_ - 1], std::memory_order_relaxed);
}

Roofs RoofRounds::result() const {
    Roofs roofs;
    roofs.measured = std::count(ready_.begin(), ready_.end(), 1) == static_cast<std::ptrdiff_t>(workers_);
    if (!roofs.measured) return roofs;
    roofs.huge_share = *std::min_element(huge_share_.begin(), huge_share_.end());
    for (int round = 0; round < rounds_; ++round) {
        double in_place = 0.0;
        double shifted = 0.0;
        for (std::uint32_t i = 0; i < workers_; ++i) {
            in_place += in_place_[static_cast<std::size_t>(round) * workers_ + i];
            shifted += shifted_[static_cast<std::size_t>(round) * workers_ + i];
        }
        roofs.in_place = std::max(roofs.in_place, in_place);
        roofs.shifted = std::max(roofs.shifted, shifted);
    }
    return roofs;
}

Roofs measure_roofs(std::uint32_t workers, int rounds, int passes, std::size_t mib, Pages pages) {
    RoofRounds timings(workers, rounds, passes, mib, pages);
    run_pinned(workers, [&](std::uint32_t index, Barrier& start) { timings.run_worker(index, start); });
    return timings.result();
}

}  // namespace nembo::bench
