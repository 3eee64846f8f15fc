#include "solver/memory_budget.hpp"

#include <algorithm>

namespace nembo {

MemoryBudget::MemoryBudget(std::uint64_t capacity) noexcept : capacity_(capacity) {}

bool MemoryBudget::book(std::uint64_t bytes) noexcept {
    std::uint64_t booked = booked_.load();
    do {
        if (bytes > capacity_ - booked) return false;
    } while (!booked_.compare_exchange_weak(booked, booked + bytes));
    return true;
}

void MemoryBudget::release(std::uint64_t bytes) noexcept { booked_.fetch_sub(bytes); }

std::uint64_t MemoryBudget::remaining() const noexcept { return capacity_ - booked_.load(); }

std::uint64_t memory_reserve(std::uint64_t figure) noexcept { return (std::uint64_t{256} << 20) + figure / 16; }

std::uint64_t field_budget_bytes(const MemoryFigures& figures) noexcept {
    std::uint64_t figure = figures.cgroup_room;
    if (figures.available != 0) figure = std::min(figure, figures.available);
    if (figure == no_limit) return no_limit;
    const std::uint64_t reserve = memory_reserve(figure);
    return figure > reserve ? figure - reserve : 0;
}

}  // namespace nembo
