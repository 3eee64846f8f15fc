// Linux backends: a sysfs snapshot, this machine's sysfs, and real pinning.
#include <gtest/gtest.h>
#include <pthread.h>
#include <sched.h>
#include <unistd.h>

#include <algorithm>
#include <fstream>
#include <map>
#include <optional>
#include <set>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "platform/cpu.hpp"
#include "platform/placement.hpp"
#include "platform/topology.hpp"
#include "platform/topology_linux.hpp"
#include "tests/support/fake_root.hpp"

#ifndef NEMBO_TEST_DATA
#error "NEMBO_TEST_DATA must name the tests/data folder"
#endif

namespace nembo {
namespace {

using test_support::FakeRoot;

std::string printed(const Topology& t) {
    std::ostringstream out;
    print_topology(out, t);
    return out.str();
}

constexpr const char* cpu_folder = "sys/devices/system/cpu/";

// A kernel view, one fact per line (tests/data/kernel-views/README.md),
// written back as the files it was read from. Other lines are skipped.
void write_view(const FakeRoot& root, std::istream& facts) {
    std::map<std::string, int> caches_of_cpu;
    for (std::string line; std::getline(facts, line);) {
        std::istringstream fact(line);
        std::string kind;
        fact >> kind;
        if (kind == "online") {
            std::string list;
            fact >> list;
            root.write(std::string(cpu_folder) + "online", list + "\n");
        } else if (kind == "cpu") {
            std::string cpu, core_cpus, siblings, pkg, die, key;
            fact >> cpu >> key >> core_cpus >> key >> siblings >> key >> pkg >> key >> die;
            const std::string topology = cpu_folder + ("cpu" + cpu) + "/topology/";
            root.write(topology + "core_cpus_list", core_cpus + "\n");
            root.write(topology + "thread_siblings_list", siblings + "\n");
            root.write(topology + "physical_package_id", pkg + "\n");
            root.write(topology + "die_id", die + "\n");
        } else if (kind == "cache") {
            std::string cpu, level, type, list;
            fact >> cpu >> level >> type >> list;
            const std::string index =
                cpu_folder + ("cpu" + cpu) + "/cache/index" + std::to_string(caches_of_cpu[cpu]++) + "/";
            root.write(index + "level", level + "\n");
            root.write(index + "type", type + "\n");
            root.write(index + "shared_cpu_list", list + "\n");
        } else if (kind == "node") {
            std::string node, list;
            fact >> node >> list;
            root.write("sys/devices/system/node/node" + node + "/cpulist", list + "\n");
        }
    }
}

void write_view(const FakeRoot& root, const std::string& facts) {
    std::istringstream in(facts);
    write_view(root, in);
}

// The tree in a line per last-level cache: each core as id(os,os...), a
// processor outside group 0 as g<group>:<os>, a level other than 0 as
// id@level.
std::string compact(const Topology& t) {
    std::ostringstream out;
    out << "perf_level_count=" << t.perf_level_count << "\n";
    for (const NumaNode& node : t.nodes) {
        for (const Llc& llc : node.llcs) {
            out << "node " << node.id << " llc " << llc.id << ":";
            for (const Core& core : llc.cores) {
                out << " " << core.id;
                if (core.perf_level != 0) out << "@" << core.perf_level;
                const char* separator = "(";
                for (const LogicalProcessor& lp : core.logicals) {
                    out << separator;
                    if (lp.group != 0) out << "g" << lp.group << ":";
                    out << lp.os;
                    separator = ",";
                }
                out << ")";
            }
            out << "\n";
        }
    }
    return out.str();
}

std::vector<std::uint32_t> os_numbers(const PlacementPlan& plan) {
    std::vector<std::uint32_t> os;
    for (const LogicalProcessor& lp : plan) os.push_back(64 * std::uint32_t{lp.group} + lp.os);
    return os;
}

TEST(SysfsTopology, ImaginedMachine) {
    const Topology t = build_topology(read_sysfs_records(NEMBO_TEST_DATA "/sysfs-imagined"));
    EXPECT_EQ(printed(t),
              "perf_level_count=2\n"
              "numa node id=0\n"
              "|--llc id=0\n"
              "|  |--core id=0 perf_level=0\n"
              "|  |  |--logical idx=0 os=0\n"
              "|  |  |--logical idx=1 os=2\n"
              "|  |--core id=1 perf_level=0\n"
              "|  |  |--logical idx=0 os=1\n"
              "|  |  |--logical idx=1 os=3\n"
              "numa node id=1\n"
              "|--llc id=1\n"
              "|  |--core id=2 perf_level=1\n"
              "|  |  |--logical idx=0 os=4\n"
              "|  |--core id=3 perf_level=1\n"
              "|  |  |--logical idx=0 os=5\n");
    EXPECT_EQ(os_numbers(plan_numa(t)), (std::vector<std::uint32_t>{0, 1, 4, 5, 2, 3}));
}

// Real kernels' views: the tree each gives, and the processor groups of a
// machine with more than 64 processors.
TEST(SysfsTopology, MissingRootGivesNothing) {
    EXPECT_TRUE(read_sysfs_records(NEMBO_TEST_DATA "/no-such-folder").empty());
    const Topology t = build_topology(read_sysfs_records(NEMBO_TEST_DATA "/no-such-folder"));
    EXPECT_TRUE(t.nodes.empty());
    EXPECT_EQ(core_count(t), std::max(1u, std::thread::hardware_concurrency()));
}

// The tree of this machine, the core-kind probe included, holds every
// online processor once.
TEST(SysfsTopology, ThisMachineAgreesWithTheSystem) {
    const Topology t = detect_topology();
    std::set<long> cpus;
    std::size_t logicals = 0;
    for (const NumaNode& node : t.nodes) {
        for (const Llc& llc : node.llcs) {
            for (const Core& core : llc.cores) {
                EXPECT_FALSE(core.logicals.empty());
                for (const LogicalProcessor& lp : core.logicals) {
                    cpus.insert(64L * lp.group + lp.os);
                    ++logicals;
                }
            }
        }
    }
    EXPECT_EQ(logicals, cpus.size());  // every processor appears once
    EXPECT_EQ(static_cast<long>(logicals), sysconf(_SC_NPROCESSORS_ONLN));
    EXPECT_GE(core_count(t), 1u);
    EXPECT_LE(core_count(t), logicals);
    EXPECT_GE(t.perf_level_count, 1u);
}

TEST(SysfsTopology, RealKernelViews) {
    struct Case {
        const char* file;
        const char* tree;
    };
    const Case cases[] = {
        {"two-sockets-smt.txt",
         "perf_level_count=1\n"
         "node 0 llc 0: 0(0,1) 1(2,3)\n"
         "node 1 llc 1: 2(4,5) 3(6,7)\n"},
        {"amd-one-l3.txt",
         "perf_level_count=1\n"
         "node 0 llc 0: 0(0) 1(1) 2(2) 3(3) 4(4) 5(5) 6(6) 7(7)\n"},
        {"two-sockets-72-cpus.txt",
         "perf_level_count=1\n"
         "node 0 llc 0: 0(0,1) 1(2,3) 2(4,5) 3(6,7) 4(8,9) 5(10,11) 6(12,13) 7(14,15) 8(16,17) 9(18,19) "
         "10(20,21) 11(22,23) 12(24,25) 13(26,27) 14(28,29) 15(30,31) 16(32,33) 17(34,35)\n"
         "node 1 llc 1: 18(36,37) 19(38,39) 20(40,41) 21(42,43) 22(44,45) 23(46,47) 24(48,49) 25(50,51) "
         "26(52,53) 27(54,55) 28(56,57) 29(58,59) 30(60,61) 31(62,63) 32(g1:0,g1:1) 33(g1:2,g1:3) "
         "34(g1:4,g1:5) 35(g1:6,g1:7)\n"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.file);
        FakeRoot root;
        std::ifstream view(std::string(NEMBO_TEST_DATA "/kernel-views/") + c.file);
        ASSERT_TRUE(view) << "missing view";
        write_view(root, view);
        EXPECT_EQ(compact(build_topology(read_sysfs_records(root.path()))), c.tree);
    }
}

// AMD's preferred cores rank a uniform processor's cores (acpi_cppc's
// highest_perf), but they are of one kind: one level, as on Windows.
TEST(SysfsTopology, PreferredCoresAreOneLevel) {
    FakeRoot root;
    std::ifstream view(NEMBO_TEST_DATA "/kernel-views/amd-one-l3.txt");
    write_view(root, view);
    for (int cpu = 0; cpu < 8; ++cpu) {
        root.write(cpu_folder + ("cpu" + std::to_string(cpu)) + "/acpi_cppc/highest_perf", cpu % 3 == 0 ? "196\n" : "166\n");
    }
    const auto nothing_hybrid = [](std::span<const std::uint32_t> cpus) {
        CoreTypes types;
        for (const std::uint32_t cpu : cpus) types[cpu] = CoreType::unknown;
        return types;
    };
    const Topology t = build_topology(read_sysfs_records(root.path(), nothing_hybrid));
    EXPECT_EQ(compact(t), "perf_level_count=1\nnode 0 llc 0: 0(0) 1(1) 2(2) 3(3) 4(4) 5(5) 6(6) 7(7)\n");
}

// An Intel hybrid processor as Linux numbers it: 8 P-cores with two threads
// (0-15), 8 single-thread E-cores (16-23) whose L2 is shared by four, one
// L3, one node.
std::string hybrid_view() {
    std::string facts = "online 0-23\n";
    for (int cpu = 0; cpu < 24; ++cpu) {
        const std::string n = std::to_string(cpu);
        const std::string core = cpu < 16 ? std::to_string(cpu & ~1) + "-" + std::to_string(cpu | 1) : n;
        const std::string l2 = cpu < 16 ? core : cpu < 20 ? "16-19" : "20-23";
        facts += "cpu " + n + " core_cpus " + core + " siblings " + core + " pkg 0 die 0\n";
        facts += "cache " + n + " 1 Data " + core + "\n";
        facts += "cache " + n + " 1 Instruction " + core + "\n";
        facts += "cache " + n + " 2 Unified " + l2 + "\n";
        facts += "cache " + n + " 3 Unified 0-23\n";
    }
    return facts + "node 0 0-23\n";
}

TEST(SysfsTopology, HybridProcessor) {
    FakeRoot root;
    write_view(root, hybrid_view());
    root.write("sys/devices/cpu_core/cpus", "0-15\n");
    root.write("sys/devices/cpu_atom/cpus", "16-23\n");
    const Topology t = build_topology(read_sysfs_records(root.path()));
    std::string expected = "perf_level_count=2\nnuma node id=0\n|--llc id=0\n";
    for (int core = 0; core < 8; ++core) {
        expected += "|  |--core id=" + std::to_string(core) + " perf_level=0\n";
        expected += "|  |  |--logical idx=0 os=" + std::to_string(2 * core) + "\n";
        expected += "|  |  |--logical idx=1 os=" + std::to_string(2 * core + 1) + "\n";
    }
    for (int core = 8; core < 16; ++core) {
        expected += "|  |--core id=" + std::to_string(core) + " perf_level=1\n";
        expected += "|  |  |--logical idx=0 os=" + std::to_string(core + 8) + "\n";
    }
    EXPECT_EQ(printed(t), expected);
    using Os = std::vector<std::uint32_t>;
    EXPECT_EQ(os_numbers(plan_phte(t)), (Os{0, 2, 4, 6, 8, 10, 12, 14, 1, 3, 5, 7, 9, 11, 13, 15,
                                            16, 17, 18, 19, 20, 21, 22, 23}));
    EXPECT_EQ(os_numbers(plan_numa(t)), (Os{0, 2, 4, 6, 8, 10, 12, 14, 16, 17, 18, 19, 20, 21, 22, 23,
                                            1, 3, 5, 7, 9, 11, 13, 15}));

    // Where the kernel has no PMU lists, the processors' own answers give
    // the same tree.
    std::filesystem::remove_all(root.path() / "sys/devices/cpu_core");
    std::filesystem::remove_all(root.path() / "sys/devices/cpu_atom");
    const auto answers = [](std::span<const std::uint32_t> cpus) {
        CoreTypes types;
        for (const std::uint32_t cpu : cpus) types[cpu] = cpu < 16 ? CoreType::performance : CoreType::efficient;
        return types;
    };
    EXPECT_EQ(printed(build_topology(read_sysfs_records(root.path(), answers))), expected);
}

// Where the kinds of cores come from: the first source that knows any core
// decides. The machine: core 0 = processors 0 and 1, core 1 = 2, core 2 = 3.
TEST(SysfsTopology, EfficiencyClassFromTheFirstSourceThatKnows) {
    constexpr CoreType P = CoreType::performance;
    constexpr CoreType E = CoreType::efficient;
    constexpr CoreType U = CoreType::unknown;
    struct Case {
        const char* name;
        std::map<std::string, std::string> pmu_lists;
        std::optional<CoreTypes> probe;  // none: no probe given
        std::map<int, std::string> capacity;
        std::vector<std::uint32_t> classes;  // of cores 0, 1, 2
        bool probe_asked;
    };
    const Case cases[] = {
        {"the PMU lists, without asking the processors",
         {{"cpu_core", "0-1"}, {"cpu_atom", "2-3"}}, CoreTypes{{0, E}, {1, E}, {2, P}, {3, P}},
         {{0, "512"}, {1, "512"}, {2, "1024"}, {3, "1024"}}, {1, 0, 0}, false},
        {"three kinds of PMU, numbered from the slowest",
         {{"cpu_core", "0-1"}, {"cpu_atom", "2"}, {"cpu_lowpower", "3"}}, std::nullopt, {}, {2, 1, 0}, false},
        {"a processor in two lists counts as the faster kind",
         {{"cpu_core", "0-2"}, {"cpu_atom", "2-3"}}, std::nullopt, {}, {1, 1, 0}, false},
        {"PMU lists of other processors only: the processors decide",
         {{"cpu_core", "8-9"}, {"cpu_atom", "10"}}, CoreTypes{{0, P}, {1, P}, {2, E}, {3, E}}, {}, {1, 0, 0}, true},
        {"the processors before cpu_capacity",
         {}, CoreTypes{{0, E}, {1, E}, {2, P}, {3, E}}, {{0, "1024"}, {1, "1024"}, {2, "512"}, {3, "512"}}, {0, 1, 0},
         true},
        {"a core takes the kind its readable thread reports",
         {}, CoreTypes{{1, P}, {2, E}}, {}, {1, 0, 0}, true},
        {"unreadable cores count as the slower kind",
         {}, CoreTypes{{0, P}, {1, P}}, {}, {1, 0, 0}, true},
        {"processors that report no kind: cpu_capacity (ARM kernels)",
         {}, CoreTypes{{0, U}, {1, U}, {2, U}, {3, U}}, {{0, "1024"}, {1, "1024"}, {2, "446"}, {3, "446"}},
         {1024, 446, 446}, true},
        {"a processor without cpu_capacity counts as the least capable",
         {}, std::nullopt, {{0, "1024"}, {2, "446"}}, {1024, 446, 446}, false},
        {"nothing that tells kinds apart: one class", {}, CoreTypes{}, {}, {0, 0, 0}, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        FakeRoot root;
        write_view(root,
                   "cpu 0 core_cpus 0-1 siblings 0-1 pkg 0 die 0\n"
                   "cpu 1 core_cpus 0-1 siblings 0-1 pkg 0 die 0\n"
                   "cpu 2 core_cpus 2 siblings 2 pkg 0 die 0\n"
                   "cpu 3 core_cpus 3 siblings 3 pkg 0 die 0\n");
        for (const auto& [pmu, list] : c.pmu_lists) root.write("sys/devices/" + pmu + "/cpus", list + "\n");
        for (const auto& [cpu, capacity] : c.capacity) {
            root.write(cpu_folder + ("cpu" + std::to_string(cpu)) + "/cpu_capacity", capacity + "\n");
        }
        std::vector<std::vector<std::uint32_t>> asked;
        CoreTypeProbe probe;
        if (c.probe) {
            probe = [&](std::span<const std::uint32_t> cpus) {
                asked.emplace_back(cpus.begin(), cpus.end());
                return *c.probe;
            };
        }
        std::vector<std::uint32_t> classes;
        for (const TopologyRecord& r : read_sysfs_records(root.path(), probe)) {
            if (r.kind == TopologyRecordKind::core) classes.push_back(r.efficiency_class);
        }
        EXPECT_EQ(classes, c.classes);
        using Asked = std::vector<std::vector<std::uint32_t>>;
        EXPECT_EQ(asked, (c.probe_asked ? Asked{{0, 1, 2, 3}} : Asked{}));
    }
}

// The production probe asks every processor this process may run on and
// leaves the caller where it was, pinned here to one processor so that any
// move would show.
TEST(ProcessorProbe, AsksEveryProcessorWithoutMovingTheCaller) {
    cpu_set_t allowed;
    CPU_ZERO(&allowed);
    ASSERT_EQ(sched_getaffinity(0, sizeof(allowed), &allowed), 0);
    std::vector<std::uint32_t> cpus;
    for (long cpu = 0; cpu < sysconf(_SC_NPROCESSORS_CONF) && cpu < CPU_SETSIZE; ++cpu) {
        cpus.push_back(static_cast<std::uint32_t>(cpu));
    }
    int home = -1;
    for (int cpu = CPU_SETSIZE - 1; cpu >= 0 && home < 0; --cpu) {
        if (CPU_ISSET(cpu, &allowed)) home = cpu;
    }
    ASSERT_GE(home, 0);

    CoreTypes types;
    CoreTypes probed;
    bool unmoved = false;
    std::thread([&] {
        cpu_set_t one;
        CPU_ZERO(&one);
        CPU_SET(home, &one);
        if (pthread_setaffinity_np(pthread_self(), sizeof(one), &one) != 0) return;
        types = ask_each_processor(cpus);
        probed = probe_core_types(cpus);
        cpu_set_t now;
        CPU_ZERO(&now);
        pthread_getaffinity_np(pthread_self(), sizeof(now), &now);
        unmoved = CPU_EQUAL(&now, &one) && sched_getcpu() == home;
    }).join();
    EXPECT_TRUE(unmoved);

    const bool hybrid = reports_core_types(hardware_cpuid());
    for (const std::uint32_t cpu : cpus) {
        if (!CPU_ISSET(cpu, &allowed)) continue;
        ASSERT_EQ(types.count(cpu), 1u) << "processor " << cpu << " not asked";
        if (!hybrid) {
            EXPECT_EQ(types[cpu], CoreType::unknown) << "processor " << cpu;
        }
    }
    // Elsewhere than on a hybrid processor the probe asks nothing at all.
    EXPECT_EQ(probed, hybrid ? types : CoreTypes{});
}

// Narrowed by taskset, the process's affinity bounds the probe: the helper
// thread never pins itself outside it, though the cgroup would let it.
TEST(ProcessorProbe, AsksOnlyTheProcessorsThisProcessMayUse) {
    cpu_set_t allowed;
    CPU_ZERO(&allowed);
    ASSERT_EQ(sched_getaffinity(0, sizeof(allowed), &allowed), 0);  // the main thread's: the process's
    std::vector<std::uint32_t> cpus;
    for (int cpu = 0; cpu < CPU_SETSIZE; ++cpu) {
        if (CPU_ISSET(cpu, &allowed)) cpus.push_back(static_cast<std::uint32_t>(cpu));
    }
    if (cpus.size() < 2) GTEST_SKIP() << "this process may use one processor only";

    cpu_set_t narrowed;
    CPU_ZERO(&narrowed);
    CPU_SET(cpus.back(), &narrowed);
    ASSERT_EQ(sched_setaffinity(0, sizeof(narrowed), &narrowed), 0);
    const CoreTypes types = ask_each_processor(cpus);
    ASSERT_EQ(sched_setaffinity(0, sizeof(allowed), &allowed), 0);

    EXPECT_EQ(types.size(), 1u);
    EXPECT_EQ(types.count(cpus.back()), 1u);
}

TEST(Pinning, ThreadEndsUpOnItsSingleProcessor) {
    const Topology t = detect_topology();
    const PlacementPlan plan = plan_numa(t);
    ASSERT_FALSE(plan.empty());
    cpu_set_t allowed;
    CPU_ZERO(&allowed);
    ASSERT_EQ(sched_getaffinity(0, sizeof(allowed), &allowed), 0);
    for (std::uint32_t index = 0; index < plan.size(); ++index) {
        const long cpu = 64L * plan[index].group + plan[index].os;
        if (!CPU_ISSET(static_cast<int>(cpu), &allowed)) continue;  // not ours to use
        int count = -1;
        bool on_cpu = false;
        std::thread([&] {
            pin_current_thread(plan, index);
            cpu_set_t now;
            CPU_ZERO(&now);
            pthread_getaffinity_np(pthread_self(), sizeof(now), &now);
            count = CPU_COUNT(&now);
            on_cpu = CPU_ISSET(static_cast<int>(cpu), &now);
        }).join();
        EXPECT_EQ(count, 1) << "plan entry " << index;
        EXPECT_TRUE(on_cpu) << "plan entry " << index;
    }
}

TEST(Pinning, RefusedProcessorOrIndexBeyondPlanLeavesThreadUnpinned) {
    PlacementPlan plan(1);
    plan[0].group = 1000;  // CPU 64000: not on this machine
    const auto allowed_count = [] {
        cpu_set_t set;
        CPU_ZERO(&set);
        pthread_getaffinity_np(pthread_self(), sizeof(set), &set);
        return CPU_COUNT(&set);
    };
    const PlacementPlan real = plan_numa(detect_topology());
    int before = -1;
    int after = -2;
    std::thread([&] {
        before = allowed_count();
        pin_current_thread(plan, 0);
        pin_current_thread(real, static_cast<std::uint32_t>(real.size()));
        after = allowed_count();
    }).join();
    EXPECT_EQ(before, after);
}

}  // namespace
}  // namespace nembo
