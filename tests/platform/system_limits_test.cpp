// The memory and thread limits from crafted /proc and cgroup trees.
#include <gtest/gtest.h>

#include <fstream>
#include <string>
#include <unistd.h>

#include "platform/system_files.hpp"
#include "platform/system_limits.hpp"
#include "platform/timer.hpp"
#include "tests/support/fake_root.hpp"

namespace nembo {
namespace {

namespace fs = std::filesystem;

using test_support::FakeRoot;

constexpr const char* meminfo =
    "MemTotal:       24683520 kB\n"
    "MemFree:        20000000 kB\n"
    "MemAvailable:   22000000 kB\n"
    "Hugepagesize:       2048 kB\n";

TEST(MemoryFigures, MeminfoWithoutCgroupLimits) {
    FakeRoot root;
    root.write("proc/meminfo", meminfo);
    // cgroup v2 with the host's root cgroup, which has no memory.max.
    root.write("proc/self/cgroup", "0::/\n");
    root.write("sys/fs/cgroup/memory.current", "123456\n");
    const MemoryFigures f = read_memory_figures(root.path());
    EXPECT_EQ(f.available, 22000000ull * 1024);
    EXPECT_EQ(f.huge_page_size, 2048ull * 1024);
    EXPECT_EQ(f.cgroup_room, no_limit);
}

TEST(MemoryFigures, CgroupV2LimitOfTheProcessAndItsAncestors) {
    FakeRoot root;
    root.write("proc/meminfo", meminfo);
    root.write("proc/self/cgroup", "0::/box.slice/run.scope\n");
    root.write("sys/fs/cgroup/box.slice/run.scope/memory.max", "1073741824\n");
    root.write("sys/fs/cgroup/box.slice/run.scope/memory.current", "73741824\n");
    root.write("sys/fs/cgroup/box.slice/memory.max", "max\n");
    root.write("sys/fs/cgroup/box.slice/memory.current", "900000000\n");
    EXPECT_EQ(read_memory_figures(root.path()).cgroup_room, 1000000000u);

    // A parent with less room left binds instead.
    root.write("sys/fs/cgroup/box.slice/memory.max", "1000000000\n");
    EXPECT_EQ(read_memory_figures(root.path()).cgroup_room, 100000000u);

    // "max" all the way: no limit; usage beyond a limit: no room at all.
    root.write("sys/fs/cgroup/box.slice/memory.max", "max\n");
    root.write("sys/fs/cgroup/box.slice/run.scope/memory.max", "max\n");
    EXPECT_EQ(read_memory_figures(root.path()).cgroup_room, no_limit);
    root.write("sys/fs/cgroup/box.slice/run.scope/memory.max", "50000000\n");
    EXPECT_EQ(read_memory_figures(root.path()).cgroup_room, 0u);
}

TEST(MemoryFigures, CgroupV1Limit) {
    FakeRoot root;
    root.write("proc/meminfo", meminfo);
    root.write("proc/self/cgroup", "12:pids:/\n4:cpu,memory:/jobs/7\n0::/\n");
    root.write("sys/fs/cgroup/memory/jobs/7/memory.limit_in_bytes", "2147483648\n");
    root.write("sys/fs/cgroup/memory/jobs/7/memory.usage_in_bytes", "147483648\n");
    EXPECT_EQ(read_memory_figures(root.path()).cgroup_room, 2000000000u);

    // Unlimited in v1 is the page counter's largest value: room, but far
    // more than the machine has.
    root.write("sys/fs/cgroup/memory/jobs/7/memory.limit_in_bytes", "9223372036854771712\n");
    EXPECT_EQ(read_memory_figures(root.path()).cgroup_room, 9223372036854771712ull - 147483648);
}

TEST(MemoryFigures, ContainerShowsTheHostPathButMountsItsOwnCgroup) {
    FakeRoot root;
    root.write("proc/self/cgroup", "4:memory:/docker/0123abcd\n");
    root.write("sys/fs/cgroup/memory/memory.limit_in_bytes", "4294967296\n");
    root.write("sys/fs/cgroup/memory/memory.usage_in_bytes", "294967296\n");
    EXPECT_EQ(read_memory_figures(root.path()).cgroup_room, 4000000000u);
}

TEST(MemoryFigures, MissingFilesGiveUnknownFigures) {
    FakeRoot root;
    MemoryFigures f = read_memory_figures(root.path());
    EXPECT_EQ(f.available, 0u);
    EXPECT_EQ(f.huge_page_size, 0u);
    EXPECT_EQ(f.cgroup_room, no_limit);

    // A limit without a usage file counts from 0; garbage is no figure.
    root.write("proc/meminfo", "MemAvailable: lots\n");
    root.write("proc/self/cgroup", "0::/a\n");
    root.write("sys/fs/cgroup/a/memory.max", "5000\n");
    f = read_memory_figures(root.path());
    EXPECT_EQ(f.available, 0u);
    EXPECT_EQ(f.cgroup_room, 5000u);
}

TEST(ThreadLimit, SmallestOfKernelUserAndCgroupLimits) {
    FakeRoot root;
    EXPECT_EQ(read_thread_limit(root.path()), no_limit);

    root.write("proc/sys/kernel/threads-max", "192740\n");
    root.write("proc/sys/kernel/pid_max", "4194304\n");
    root.write("proc/self/limits",
               "Limit                     Soft Limit           Hard Limit           Units     \n"
               "Max cpu time              unlimited            unlimited            seconds   \n"
               "Max processes             96370                96370                processes \n");
    EXPECT_EQ(read_thread_limit(root.path()), 96370u);

    root.write("proc/self/limits", "Max processes             unlimited            unlimited            processes \n");
    EXPECT_EQ(read_thread_limit(root.path()), 192740u);

    root.write("proc/self/cgroup", "0::/ci\n");
    root.write("sys/fs/cgroup/ci/pids.max", "4096\n");
    root.write("sys/fs/cgroup/ci/pids.current", "96\n");
    EXPECT_EQ(read_thread_limit(root.path()), 4000u);
    root.write("sys/fs/cgroup/ci/pids.max", "max\n");
    EXPECT_EQ(read_thread_limit(root.path()), 192740u);
}

// One policy for every reader of /proc and /sys: a file that is missing,
// unreadable or too large gives no answer; first lines lose their blanks.
TEST(SystemFiles, OnePolicyForEveryReader) {
    FakeRoot root;
    root.write("clock/current_clocksource", "kvm-clock \n");
    root.write("big", std::string((std::size_t{1} << 20) + 1, 'x'));
    root.write("exact", std::string(std::size_t{1} << 20, 'y'));
    root.write("meminfo", "HugePages_Total:      16\nHugepagesize:       2048 kB\nBroken:   12x kB\n");
    EXPECT_EQ(read_first_line(root.path() / "clock/current_clocksource"), "kvm-clock");
    EXPECT_FALSE(read_small_file(root.path() / "missing").has_value());
    EXPECT_FALSE(read_small_file(root.path() / "clock").has_value()) << "a folder is no file";
    EXPECT_FALSE(read_small_file(root.path() / "big").has_value()) << "cut short would be wrong";
    EXPECT_EQ(read_small_file(root.path() / "exact").value_or("").size(), std::size_t{1} << 20);
    const std::string info = *read_small_file(root.path() / "meminfo");
    EXPECT_EQ(meminfo_value(info, "HugePages_Total"), 16u);
    EXPECT_EQ(meminfo_value(info, "Hugepagesize"), 2048u * 1024);
    EXPECT_FALSE(meminfo_value(info, "Broken").has_value());
    EXPECT_FALSE(meminfo_value(info, "HugePages").has_value()) << "a name is matched whole";
}

TEST(SystemFiles, ClocksourceUnderARoot) {
    FakeRoot root;
    EXPECT_EQ(current_clocksource(root.path()), "") << "unreadable: no name";
    root.write("sys/devices/system/clocksource/clocksource0/current_clocksource", "tsc\n");
    EXPECT_EQ(current_clocksource(root.path()), "tsc");
    EXPECT_EQ(clocksource_frequency(current_clocksource(root.path()), 2'600'000'000), 2'600'000'000);
    EXPECT_FALSE(current_clocksource("/").empty()) << "this kernel names its clocksource";
}

TEST(ThreadLimit, ThisMachineHasOne) {
    const std::uint64_t limit = max_threads();
    EXPECT_GT(limit, 1u);
    std::ifstream pid_max("/proc/sys/kernel/pid_max");
    std::uint64_t pids = 0;
    if (pid_max >> pids) {
        EXPECT_LE(limit, pids);
    }
}

}  // namespace
}  // namespace nembo
