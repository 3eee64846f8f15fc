// The numa and phte placement plans.
#include "platform/placement.hpp"

#include <algorithm>
#include <bit>
#include <numeric>

namespace nembo {
namespace {

void append_slots(PlacementPlan& plan, const Slots& slots) {
    for (const auto& slot : slots) {
        for (const LogicalProcessor* lp : slot) plan.push_back(*lp);
    }
}

}  // namespace

LevelGroups level_groups(const Topology& topology, std::uint32_t level) {
    LevelGroups lg;
    std::size_t max_llcs = 0;
    for (const NumaNode& node : topology.nodes) max_llcs = std::max(max_llcs, node.llcs.size());
    for (std::size_t i = 0; i < max_llcs; ++i) {
        for (const NumaNode& node : topology.nodes) {
            if (i >= node.llcs.size()) continue;
            std::vector<const Core*> group;
            for (const Core& core : node.llcs[i].cores) {
                if (core.perf_level != level || core.logicals.empty()) continue;
                group.push_back(&core);
                lg.max_threads_per_core =
                    std::max(lg.max_threads_per_core, static_cast<std::uint32_t>(core.logicals.size()));
            }
            if (!group.empty()) lg.groups.push_back(std::move(group));
        }
    }
    return lg;
}

void distribute(Slots& slots, const LevelGroups& lg) {
    std::size_t widest = 0;
    for (const auto& group : lg.groups) widest = std::max(widest, group.size());
    for (std::size_t i = 0; i < widest; ++i) {
        for (const auto& group : lg.groups) {
            if (i >= group.size()) continue;
            const Core& core = *group[i];
            for (std::size_t j = 0; j < slots.size(); ++j) {
                if (j < core.logicals.size()) slots[j].push_back(&core.logicals[j]);
            }
        }
    }
}

PlacementPlan plan_numa(const Topology& topology) {
    std::vector<LevelGroups> levels;
    std::uint32_t slot_count = 0;
    for (std::uint32_t level = 0; level < topology.perf_level_count; ++level) {
        levels.push_back(level_groups(topology, level));
        slot_count = std::max(slot_count, levels.back().max_threads_per_core);
    }
    Slots slots(slot_count);
    for (const LevelGroups& lg : levels) distribute(slots, lg);
    PlacementPlan plan;
    append_slots(plan, slots);
    return plan;
}

PlacementPlan plan_phte(const Topology& topology) {
    PlacementPlan plan;
    for (std::uint32_t level = 0; level < topology.perf_level_count; ++level) {
        const LevelGroups lg = level_groups(topology, level);
        Slots slots(lg.max_threads_per_core);
        distribute(slots, lg);
        append_slots(plan, slots);
    }
    return plan;
}

GroupSpread spread_over_groups(const Topology& topology, const std::vector<GroupMask>& groups,
                               std::uint32_t thread_count) {
    if (groups.size() < 2) return {};
    std::vector<std::uint64_t> weight(groups.size(), 0);
    for (const NumaNode& node : topology.nodes) {
        for (const Llc& llc : node.llcs) {
            for (const Core& core : llc.cores) {
                if (core.logicals.empty()) continue;
                const std::uint16_t group = core.logicals.front().group;
                for (std::size_t g = 0; g < groups.size(); ++g) {
                    if (groups[g].group == group) ++weight[g];
                }
            }
        }
    }
    if (std::all_of(weight.begin(), weight.end(), [](std::uint64_t w) { return w == 0; })) {
        for (std::size_t g = 0; g < groups.size(); ++g) weight[g] = static_cast<std::uint64_t>(std::popcount(groups[g].mask));
    }
    const std::uint64_t total = std::accumulate(weight.begin(), weight.end(), std::uint64_t{0});
    if (total == 0) return {};

    // Whole shares first, then one more each for the largest remainders.
    GroupSpread spread{groups, std::vector<std::uint32_t>(groups.size())};
    std::uint64_t given = 0;
    for (std::size_t g = 0; g < groups.size(); ++g) {
        spread.workers[g] = static_cast<std::uint32_t>(std::uint64_t{thread_count} * weight[g] / total);
        given += spread.workers[g];
    }
    std::vector<std::size_t> by_remainder(groups.size());
    std::iota(by_remainder.begin(), by_remainder.end(), std::size_t{0});
    const auto remainder = [&](std::size_t g) { return std::uint64_t{thread_count} * weight[g] % total; };
    std::stable_sort(by_remainder.begin(), by_remainder.end(),
                     [&](std::size_t a, std::size_t b) { return remainder(a) > remainder(b); });
    for (std::size_t i = 0; given < thread_count; ++i, ++given) ++spread.workers[by_remainder[i]];
    return spread;
}

std::optional<GroupMask> group_of_worker(const GroupSpread& spread, std::uint32_t index) {
    std::uint64_t first = 0;
    for (std::size_t g = 0; g < spread.groups.size() && g < spread.workers.size(); ++g) {
        first += spread.workers[g];
        if (index < first) return spread.groups[g];
    }
    return std::nullopt;
}

PlacementPlan make_plan(std::string_view mode, const Topology& topology) {
    if (mode == "numa") return plan_numa(topology);
    if (mode == "phte") return plan_phte(topology);
    return {};
}

}  // namespace nembo
