// The reporting worker's timed loop allocates nothing from one step to the
// next: the progress line, the checks and the bookkeeping all work in place.
// This program replaces the global allocation functions to count calls, so
// it is built without the sanitizers (which bring their own).
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <iostream>
#include <new>
#include <streambuf>
#include <thread>

#include "app/run.hpp"

namespace {

std::atomic<bool> counting{false};
std::atomic<long> allocations{0};

}  // namespace

void* operator new(std::size_t size) {
    if (counting.load()) allocations.fetch_add(1);
    if (void* p = std::malloc(size == 0 ? 1 : size)) return p;
    throw std::bad_alloc();
}
void operator delete(void* p) noexcept { std::free(p); }
void operator delete(void* p, std::size_t) noexcept { std::free(p); }

namespace nembo {
namespace {

// Swallows what is written without keeping (or allocating for) any of it.
class Discard : public std::streambuf {
protected:
    int_type overflow(int_type c) override { return traits_type::not_eof(c); }
    std::streamsize xsputn(const char*, std::streamsize n) override { return n; }
};

class CountingWorkload : public Workload {
public:
    explicit CountingWorkload(std::uint32_t index) : Workload(index) {}
    MaybeError allocate(const GridParams&) override { return {}; }
    MaybeError initialize() override { return {}; }
    MaybeError pre_step(std::uint64_t) override { return {}; }
    MaybeError step() override {
        // Everything since the previous step returned was counted.
        counting.store(false);
        if (steps_ > 0) between_steps_ += allocations.exchange(0);
        ++steps_;
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
        allocations.store(0);
        counting.store(true);
        return {};
    }
    MaybeError check_step(std::uint64_t) override { return {}; }
    MaybeError final_check(std::uint64_t) override {
        counting.store(false);
        return {};
    }
    std::uint64_t updates_per_iteration() const override { return 1000; }

    static inline long between_steps_ = 0;
    static inline long steps_ = 0;
};

TEST(TimedLoop, ReportingWorkerAllocatesNothingPerIteration) {
    bool large_pages = false;
    Placement placement;
    placement.thread_count = 1;
    RunEnvironment env = RunEnvironment::system();
    env.create_workload = [](std::string_view, std::string_view, std::uint32_t index) -> std::unique_ptr<Workload> {
        return std::make_unique<CountingWorkload>(index);
    };
    env.check_isa_support = [](std::string_view) { return MaybeError(); };
    env.fast_timer_is_compliant = [](const TimerInfo&) { return true; };
    const RunParameters params{large_pages, placement, "standing_wave", "sse2", false, 1, 64, false, "os"};

    Discard discard;
    std::streambuf* const out = std::cout.rdbuf(&discard);
    const RunOutcome outcome = execute_run(params, env);
    std::cout.rdbuf(out);

    ASSERT_EQ(outcome.results.size(), 1u);
    EXPECT_GE(CountingWorkload::steps_, 10);
    EXPECT_EQ(CountingWorkload::between_steps_, 0) << "over " << CountingWorkload::steps_ << " steps";
}

}  // namespace
}  // namespace nembo
