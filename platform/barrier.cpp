#include "platform/barrier.hpp"

namespace nembo {

Barrier::Barrier(std::ptrdiff_t expected) : expected_(expected), pending_(expected) {}

void Barrier::arrive_locked() {
    if (--pending_ > 0) return;
    pending_ = expected_;
    ++passage_;
    opened_.notify_all();
}

void Barrier::arrive_and_wait() {
    std::unique_lock lock(mutex_);
    const std::uint64_t passage = passage_;
    arrive_locked();
    opened_.wait(lock, [&] { return passage_ != passage; });
}

void Barrier::arrive_and_drop() {
    const std::lock_guard lock(mutex_);
    --expected_;
    arrive_locked();
}

}  // namespace nembo
