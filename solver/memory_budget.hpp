#pragma once
// A process-wide allowance of bytes for field storage. Every block books its
// bytes for its whole life and returns them when it is released; a booking
// that would take the total beyond the capacity is refused. Booking is one
// atomic step, so no interleaving of threads can book more than the capacity.
#include <atomic>
#include <cstdint>

#include "platform/system_limits.hpp"

namespace nembo {

class MemoryBudget {
public:
    explicit MemoryBudget(std::uint64_t capacity) noexcept;
    MemoryBudget(const MemoryBudget&) = delete;
    MemoryBudget& operator=(const MemoryBudget&) = delete;

    // Books `bytes`; false (and nothing booked) when they do not fit.
    bool book(std::uint64_t bytes) noexcept;
    // Returns bytes booked earlier.
    void release(std::uint64_t bytes) noexcept;

    std::uint64_t capacity() const noexcept { return capacity_; }
    std::uint64_t remaining() const noexcept;

private:
    const std::uint64_t capacity_;
    std::atomic<std::uint64_t> booked_{0};
};

// Kept back from the field budget for everything else the process needs:
// thread stacks, the run's shared state, the libraries, and the figures'
// own lag behind what other processes are taking meanwhile.
std::uint64_t memory_reserve(std::uint64_t figure) noexcept;

// The field budget from the figures: the smaller of the available memory and
// the cgroup's room, less the reserve (0 when the reserve takes it all);
// no_limit when neither figure is known.
std::uint64_t field_budget_bytes(const MemoryFigures& figures) noexcept;

}  // namespace nembo
