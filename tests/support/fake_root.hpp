#pragma once
// A scratch root folder for the readers of /proc and /sys: files are written
// into it relative to the root, and it is removed with everything in it.
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <string>

namespace nembo::test_support {

class FakeRoot {
public:
    FakeRoot() : root_(std::filesystem::temp_directory_path() /
                       ("nembo-root-" + std::to_string(getpid()) + "-" + std::to_string(counter_++))) {
        std::filesystem::remove_all(root_);
        std::filesystem::create_directories(root_);
    }
    ~FakeRoot() { std::filesystem::remove_all(root_); }
    FakeRoot(const FakeRoot&) = delete;
    FakeRoot& operator=(const FakeRoot&) = delete;

    void write(const std::string& relative, const std::string& text) const {
        const std::filesystem::path path = root_ / relative;
        std::filesystem::create_directories(path.parent_path());
        std::ofstream(path) << text;
    }
    const std::filesystem::path& path() const { return root_; }

private:
    static inline int counter_ = 0;
    std::filesystem::path root_;
};

}  // namespace nembo::test_support
