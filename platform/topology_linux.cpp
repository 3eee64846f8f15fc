// Linux topology: the records come from this machine's sysfs, the kinds of
// cores from the kernel's lists or, failing those, from each processor.
#include "platform/topology_linux.hpp"

#include <pthread.h>
#include <sched.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <vector>

namespace nembo {
namespace {

struct Questions {
    std::span<const std::uint32_t> cpus;
    std::vector<CoreType> types;  // one per processor, filled by the helper
    std::vector<bool> asked;
    cpu_set_t* set = nullptr;
    std::size_t set_size = 0;
};

void* ask_in_turn(void* argument) {
    Questions& q = *static_cast<Questions*>(argument);
    for (std::size_t i = 0; i < q.cpus.size(); ++i) {
        const int cpu = static_cast<int>(q.cpus[i]);
        CPU_ZERO_S(q.set_size, q.set);
        CPU_SET_S(static_cast<std::size_t>(cpu), q.set_size, q.set);
        if (pthread_setaffinity_np(pthread_self(), q.set_size, q.set) != 0) continue;
        // The kernel moves the thread before the call returns; the check
        // only guards the answer against a processor we are not on.
        if (sched_getcpu() != cpu) continue;
        q.types[i] = read_core_type(hardware_cpuid());
        q.asked[i] = true;
    }
    return nullptr;
}

// The processors this process may run on: its main thread's affinity, which
// taskset and isolcpus narrow. The helper thread must stay within it; only
// the cgroup's cpuset would stop it from pinning itself anywhere else.
std::vector<std::uint32_t> allowed_of(std::span<const std::uint32_t> cpus) {
    std::vector<std::uint32_t> allowed;
    for (std::size_t bits = 1024; bits <= (std::size_t{1} << 20); bits *= 2) {
        cpu_set_t* set = CPU_ALLOC(bits);
        if (set == nullptr) return allowed;
        const std::size_t size = CPU_ALLOC_SIZE(bits);
        CPU_ZERO_S(size, set);
        const int got = sched_getaffinity(getpid(), size, set);
        if (got == 0) {
            for (const std::uint32_t cpu : cpus) {
                if (cpu < bits && CPU_ISSET_S(cpu, size, set)) allowed.push_back(cpu);
            }
        }
        CPU_FREE(set);
        if (got == 0 || errno != EINVAL) return allowed;  // EINVAL: the kernel has more processors
    }
    return allowed;
}

}  // namespace

CoreTypes ask_each_processor(std::span<const std::uint32_t> requested) {
    CoreTypes types;
    const std::vector<std::uint32_t> allowed = allowed_of(requested);
    const std::span<const std::uint32_t> cpus = allowed;
    if (cpus.empty()) return types;
    const std::size_t count = std::size_t{*std::max_element(cpus.begin(), cpus.end())} + 1;
    Questions q;
    q.cpus = cpus;
    q.types.assign(cpus.size(), CoreType::unknown);
    q.asked.assign(cpus.size(), false);
    q.set = CPU_ALLOC(count);
    if (q.set == nullptr) return types;
    q.set_size = CPU_ALLOC_SIZE(count);
    pthread_t helper;
    const bool started = pthread_create(&helper, nullptr, ask_in_turn, &q) == 0;
    if (started) pthread_join(helper, nullptr);
    CPU_FREE(q.set);
    if (!started) return types;
    for (std::size_t i = 0; i < cpus.size(); ++i) {
        if (q.asked[i]) types[cpus[i]] = q.types[i];
    }
    return types;
}

CoreTypes probe_core_types(std::span<const std::uint32_t> cpus) {
    if (!reports_core_types(hardware_cpuid())) return {};
    return ask_each_processor(cpus);
}

Topology detect_topology() { return build_topology(read_sysfs_records("/", probe_core_types)); }

// A Linux thread may run on any processor of the machine; nothing to spread.
std::vector<GroupMask> active_processor_groups() { return {}; }

}  // namespace nembo
