#pragma once
// A reusable barrier whose members may leave it, for the workers' start line.
//
// Not std::barrier: where there is no futex (the Windows build), the standard
// library's atomic waiting can lose a wake-up and leave a thread waiting for
// ever. This one is a mutex and a condition variable, which every target's
// threads implement soundly.
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <mutex>

namespace nembo {

class Barrier {
public:
    explicit Barrier(std::ptrdiff_t expected);
    Barrier(const Barrier&) = delete;
    Barrier& operator=(const Barrier&) = delete;

    // Arrives at the current passage and waits until every expected member
    // has arrived or left.
    void arrive_and_wait();
    // Arrives at the current passage without waiting and is not expected at
    // the later ones.
    void arrive_and_drop();

private:
    // One arrival at the current passage; the last one opens it.
    void arrive_locked();

    std::mutex mutex_;
    std::condition_variable opened_;
    std::ptrdiff_t expected_;
    std::ptrdiff_t pending_;
    std::uint64_t passage_ = 0;
};

}  // namespace nembo
