#include "app/entry.hpp"

#include <algorithm>
#include <cstdio>
#include <iostream>
#include <exception>
#include <limits>
#include <new>

#include "app/console.hpp"
#include "app/results.hpp"
#include "app/run.hpp"
#include "platform/placement.hpp"
#include "platform/power.hpp"
#include "platform/timer.hpp"
#include "solver/grid.hpp"

namespace nembo {

TopologySlot::TopologySlot(std::function<Topology()> detect) : detect_(std::move(detect)) {}

const Topology& TopologySlot::get() {
    if (!topology_) topology_ = detect_();
    return *topology_;
}

std::uint32_t automatic_thread_count(std::uint32_t cores, std::uint64_t available, std::uint64_t per_thread) {
    if (cores == 0) return 1;
    const auto fit = per_thread == 0 ? 0u : static_cast<std::uint32_t>(available / per_thread);
    const std::uint32_t count = fit == 0 ? cores : std::min(cores, fit);
    return std::max<std::uint32_t>(count, 1);
}

std::uint32_t resolve_thread_count(const BenchConfig& config, TopologySlot& slot) {
    if (config.numthreads != 0) return config.numthreads;
    // What a grid really takes (memory_per_thread and the H block's lead), so
    // that the last worker counted in is sure to get its storage.
    return automatic_thread_count(core_count(slot.get()), available_physical_memory(),
                                  grid_storage_bytes(config.size, 1));
}

std::uint32_t clamp_duration(std::uint32_t duration) {
    return std::clamp(duration, min_duration_s, max_duration_s);
}

Placement place_workers(const BenchConfig& config, TopologySlot& slot,
                        const std::function<std::vector<GroupMask>()>& active_groups) {
    Placement placement;
    placement.thread_count = resolve_thread_count(config, slot);
    if (config.threading == "numa" || config.threading == "phte") {
        placement.plan = make_plan(config.threading, slot.get());
        return placement;
    }
    // The system schedules the workers, but only inside the groups they are
    // given; the topology is asked for only when there is more than one.
    if (const std::vector<GroupMask> groups = active_groups(); groups.size() > 1) {
        placement.groups = spread_over_groups(slot.get(), groups, placement.thread_count);
    }
    return placement;
}

std::optional<double> run_benchmark(BenchConfig config, TopologySlot& slot) {
    const Placement placement = place_workers(config, slot);
    const bool large_pages = config.large_pages;
    enable_large_pages();
    // The score must not depend on whether the console is in front.
    opt_out_of_power_throttling();

    const RunParameters params{large_pages,
                               placement,
                               config.workload,
                               config.isa,
                               config.strict_isa_check,
                               clamp_duration(config.duration),
                               config.size,
                               config.bypass_timer_check,
                               config.threading};
    const RunOutcome outcome = execute_run(params);
    return report_results(outcome);
}

namespace {

// The arithmetic guards on the grid size; empty when the size is usable.
MaybeError check_size_arithmetic(std::uint64_t size) {
    constexpr std::uint64_t max = std::numeric_limits<std::uint64_t>::max();
    const std::uint64_t edge = size + 2;
    const std::uint64_t cells = edge * edge * edge;
    if (cells > max / 32) return MaybeError("grid size " + std::to_string(size) + " would overflow memory calculation");
    if (size != 0 && size > max / size) {
        return MaybeError("grid size " + std::to_string(size) + " would overflow slice buffer");
    }
    return {};
}

}  // namespace

int run_entry(int argc, const char* const* argv) {
    BenchConfig config;
    ActionFlags flags;
    const ParsedCommandLine parsed = parse_command_line(argc, argv, config, flags);
    if (parsed.error) {
        std::cerr << parsed.error.text() << std::endl;
        return 1;
    }
    if (flags.show_nembo) {
        play_banner();
        return 0;
    }
    if (const MaybeError bad = check_config(config)) {
        std::cerr << bad.text() << std::endl;
        return 1;
    }
    if (flags.show_help) {
        print_help_screen(std::cout, parsed.help_text);
        return 0;
    }
    TopologySlot slot;
    if (flags.topo_debug) {
        print_topology(std::cout, slot.get());
        return 0;
    }
    if (flags.timer_debug) {
        print_timer_report();
        return 0;
    }
    if (const MaybeError guard = check_size_arithmetic(config.size)) {
        std::cerr << guard.text() << std::endl;
        return 1;
    }

    // A run ends with its messages and the pause, whatever it ran out of.
    std::optional<double> score;
    try {
        score = run_benchmark(config, slot);
    } catch (const std::bad_alloc&) {
        std::cerr << "out of memory; aborting" << std::endl;
    } catch (const std::exception& error) {
        std::cerr << error.what() << "; aborting" << std::endl;
    }

    std::cout << "press enter to exit" << std::endl;
    (void)std::getchar();
    return score ? 0 : 1;
}

}  // namespace nembo
