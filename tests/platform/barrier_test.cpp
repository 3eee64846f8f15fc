#include "platform/barrier.hpp"

#include <gtest/gtest.h>

#include <atomic>
#include <thread>
#include <vector>

namespace nembo {
namespace {

// Every member passes many passages; none leaves a passage before all have
// reached it, and none is left waiting (a lost wake-up hangs this test).
TEST(Barrier, NoMemberPassesEarlyAndNoneIsLeftWaiting) {
    constexpr int members = 4;
    constexpr int passages = 3000;
    Barrier barrier(members);
    std::atomic<int> arrivals{0};
    std::atomic<int> early{0};
    const auto member = [&] {
        for (int passage = 0; passage < passages; ++passage) {
            arrivals.fetch_add(1);
            barrier.arrive_and_wait();
            if (arrivals.load() < members * (passage + 1)) early.fetch_add(1);
        }
    };
    std::vector<std::thread> threads;
    for (int i = 1; i < members; ++i) threads.emplace_back(member);
    member();
    for (std::thread& t : threads) t.join();
    EXPECT_EQ(arrivals.load(), members * passages);
    EXPECT_EQ(early.load(), 0);
}

// Members that leave count as arrived at the passage they leave and are not
// waited for at later ones, whether they leave first or after the others.
TEST(Barrier, MembersThatLeaveAreNotWaitedFor) {
    Barrier barrier(4);
    std::atomic<int> passed{0};
    std::thread leaves_at_once([&] { barrier.arrive_and_drop(); });
    std::thread leaves_after_one([&] {
        barrier.arrive_and_wait();
        barrier.arrive_and_drop();
    });
    std::thread stays([&] {
        for (int i = 0; i < 50; ++i) barrier.arrive_and_wait();
        passed.fetch_add(1);
    });
    for (int i = 0; i < 50; ++i) barrier.arrive_and_wait();
    passed.fetch_add(1);
    for (std::thread* t : {&leaves_at_once, &leaves_after_one, &stays}) t->join();
    EXPECT_EQ(passed.load(), 2);
}

// Those that never start are dropped by whoever found out; the lone member
// then passes alone.
TEST(Barrier, DroppedForOthersALoneMemberPasses) {
    Barrier barrier(3);
    barrier.arrive_and_drop();
    barrier.arrive_and_drop();
    barrier.arrive_and_wait();
    barrier.arrive_and_wait();
    SUCCEED();
}

}  // namespace
}  // namespace nembo
