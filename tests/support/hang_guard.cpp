// Bounds every test of a test program: a test still running after its bound
// (a deadlock, a worker nobody releases) ends the program with the test's
// name, so it fails in seconds instead of at the test runner's limit.
#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <mutex>
#include <string>
#include <thread>

namespace nembo::test {
namespace {

using Clock = std::chrono::steady_clock;

std::chrono::seconds test_time_limit() {
    const char* value = std::getenv("NEMBO_TEST_TIME_LIMIT");
    const long seconds = value != nullptr ? std::strtol(value, nullptr, 10) : 0;
    return std::chrono::seconds(seconds > 0 ? seconds : 60);
}

class HangGuard : public ::testing::EmptyTestEventListener {
public:
    void OnTestProgramStart(const ::testing::UnitTest&) override {
        watcher_ = std::thread([this] { watch(); });
    }

    void OnTestStart(const ::testing::TestInfo& info) override {
        const std::lock_guard lock(mutex_);
        name_ = std::string(info.test_suite_name()) + "." + info.name();
        deadline_ = Clock::now() + limit_;
        running_ = true;
        changed_.notify_one();
    }

    void OnTestEnd(const ::testing::TestInfo&) override {
        const std::lock_guard lock(mutex_);
        running_ = false;
        changed_.notify_one();
    }

    void OnTestProgramEnd(const ::testing::UnitTest&) override {
        {
            const std::lock_guard lock(mutex_);
            finished_ = true;
            changed_.notify_one();
        }
        if (watcher_.joinable()) watcher_.join();
    }

private:
    void watch() {
        std::unique_lock lock(mutex_);
        while (!finished_) {
            if (!running_) {
                changed_.wait(lock);
                continue;
            }
            const Clock::time_point deadline = deadline_;
            if (changed_.wait_until(lock, deadline) == std::cv_status::timeout && running_ &&
                deadline_ == deadline) {
                std::fprintf(stderr, "%s did not end within %lld s (a deadlock?); stopped\n", name_.c_str(),
                             static_cast<long long>(limit_.count()));
                std::fflush(nullptr);
                std::_Exit(1);
            }
        }
    }

    const std::chrono::seconds limit_ = test_time_limit();
    std::mutex mutex_;
    std::condition_variable changed_;
    std::thread watcher_;
    std::string name_;
    Clock::time_point deadline_;
    bool running_ = false;
    bool finished_ = false;
};

// The listeners own what is appended to them.
const bool installed = [] {
    ::testing::UnitTest::GetInstance()->listeners().Append(new HangGuard);
    return true;
}();

}  // namespace
}  // namespace nembo::test
