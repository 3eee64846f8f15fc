#pragma once
// Processor topology: NUMA nodes, last-level caches, cores and their
// hardware threads, built once from the operating system's description.
#include <cstdint>
#include <ostream>
#include <vector>

namespace nembo {

struct LogicalProcessor {
    std::uint32_t idx = 0;
    std::uint32_t core = 0;
    std::uint32_t os = 0;
    std::uint16_t group = 0;
};

struct Core {
    std::uint32_t id = 0;
    std::uint32_t perf_level = 0;
    std::vector<LogicalProcessor> logicals;
};

struct Llc {
    std::uint32_t id = 0;
    std::vector<Core> cores;
};

struct NumaNode {
    std::uint32_t id = 0;
    std::vector<Llc> llcs;
};

struct Topology {
    std::vector<NumaNode> nodes;
    std::uint32_t perf_level_count = 0;
};

Topology detect_topology();
void print_topology(std::ostream& out, const Topology& topology);
std::uint32_t core_count(const Topology& topology);

}  // namespace nembo
