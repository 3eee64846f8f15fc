#pragma once
// The per-worker benchmark object. A worker drives it only through these
// operations, in this slot order.
#include <cstdint>

#include "solver/grid.hpp"
#include "solver/maybe_error.hpp"

namespace nembo {

class Workload {
public:
    explicit Workload(std::uint32_t index) noexcept;
    virtual ~Workload();
    virtual MaybeError allocate(const GridParams& params) = 0;
    virtual MaybeError initialize() = 0;
    virtual MaybeError pre_step(std::uint64_t step) = 0;
    virtual MaybeError step() = 0;
    virtual MaybeError check_step(std::uint64_t step) = 0;
    virtual MaybeError final_check(std::uint64_t iterations) = 0;
    virtual std::uint64_t updates_per_iteration() const = 0;

    Workload(const Workload&) = delete;
    Workload& operator=(const Workload&) = delete;

    std::uint32_t thread_index;
};

}  // namespace nembo
