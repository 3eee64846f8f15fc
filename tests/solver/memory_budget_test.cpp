// The field budget: bookings race but never exceed it, and the figures it is
// taken from.
#include <gtest/gtest.h>

#include <atomic>
#include <thread>
#include <vector>

#include "platform/barrier.hpp"
#include "solver/grid.hpp"
#include "solver/memory_budget.hpp"

namespace nembo {
namespace {

// K threads start together and each books blocks until one is refused; B
// blocks fit. However they interleave, exactly B bookings succeed, and
// returning them all leaves the whole budget again.
TEST(MemoryBudget, RacingThreadsBookExactlyTheBudget) {
    constexpr int threads = 8;
    constexpr std::uint64_t fitting = 5;
    const std::uint64_t block = memory_per_thread(64) / 2;
    for (int round = 0; round < 300; ++round) {
        MemoryBudget budget(fitting * block + block - 1);  // a part-block more fits no block
        Barrier start(threads);
        std::atomic<std::uint64_t> booked{0};
        std::vector<std::thread> racers;
        for (int t = 0; t < threads; ++t) {
            racers.emplace_back([&] {
                start.arrive_and_wait();
                while (budget.book(block)) booked.fetch_add(1);
            });
        }
        for (std::thread& racer : racers) racer.join();
        ASSERT_EQ(booked.load(), fitting) << "round " << round;
        EXPECT_EQ(budget.remaining(), block - 1);
        for (std::uint64_t i = 0; i < fitting; ++i) budget.release(block);
        EXPECT_EQ(budget.remaining(), budget.capacity());
    }
}

// Bookings and releases interleaving for a while never leave more booked than
// fits, and every refused booking leaves nothing behind.
TEST(MemoryBudget, BookingsAndReleasesRacingKeepTheBound) {
    constexpr int threads = 4;
    constexpr std::uint64_t block = 1000;
    MemoryBudget budget(3 * block);
    std::atomic<int> holding{0};
    std::atomic<int> most{0};
    std::vector<std::thread> racers;
    for (int t = 0; t < threads; ++t) {
        racers.emplace_back([&] {
            for (int i = 0; i < 20000; ++i) {
                if (!budget.book(block)) continue;
                const int now = holding.fetch_add(1) + 1;
                int seen = most.load();
                while (now > seen && !most.compare_exchange_weak(seen, now)) {
                }
                holding.fetch_sub(1);
                budget.release(block);
            }
        });
    }
    for (std::thread& racer : racers) racer.join();
    EXPECT_LE(most.load(), 3);
    EXPECT_EQ(budget.remaining(), 3 * block);
}

TEST(MemoryBudget, RefusesWhatDoesNotFitAndKeepsNothingOfIt) {
    MemoryBudget budget(100);
    EXPECT_FALSE(budget.book(101));
    EXPECT_EQ(budget.remaining(), 100u);
    EXPECT_TRUE(budget.book(60));
    EXPECT_FALSE(budget.book(41));
    EXPECT_TRUE(budget.book(40));
    EXPECT_FALSE(budget.book(1));
    EXPECT_EQ(budget.remaining(), 0u);

    // An unlimited budget takes anything that its count can hold.
    MemoryBudget unlimited(no_limit);
    EXPECT_TRUE(unlimited.book(no_limit - 1));
    EXPECT_FALSE(unlimited.book(2));
}

TEST(MemoryBudget, FiguresGiveTheSmallerLessTheReserve) {
    const std::uint64_t gib = std::uint64_t{1} << 30;
    MemoryFigures figures;
    EXPECT_EQ(field_budget_bytes(figures), no_limit);  // nothing known

    figures.available = 16 * gib;
    EXPECT_EQ(field_budget_bytes(figures), 16 * gib - memory_reserve(16 * gib));
    figures.cgroup_room = 2 * gib;  // a container's limit binds
    EXPECT_EQ(field_budget_bytes(figures), 2 * gib - memory_reserve(2 * gib));
    figures.available = 0;  // the cgroup alone
    EXPECT_EQ(field_budget_bytes(figures), 2 * gib - memory_reserve(2 * gib));
    EXPECT_GT(memory_reserve(2 * gib), 0u);
    EXPECT_LT(memory_reserve(16 * gib), 16 * gib / 8);
}

// Less memory than one grid plus the reserve: the budget cannot hold either
// field of the smallest grid.
TEST(MemoryBudget, SmallerThanOneGridRefusesItsFields) {
    MemoryFigures figures;
    figures.available = memory_per_thread(64) + memory_reserve(memory_per_thread(64)) - 1;
    MemoryBudget budget(field_budget_bytes(figures));
    EXPECT_LT(budget.capacity(), memory_per_thread(64));
    const bool fits_e = budget.book(memory_per_thread(64) / 2);
    const bool fits_h = budget.book(memory_per_thread(64) / 2);
    EXPECT_FALSE(fits_e && fits_h);

    figures.available = memory_reserve(0) / 2;  // even the reserve is missing
    EXPECT_EQ(field_budget_bytes(figures), 0u);
    MemoryBudget none(field_budget_bytes(figures));
    EXPECT_FALSE(none.book(sizeof(Cell)));
}

}  // namespace
}  // namespace nembo
