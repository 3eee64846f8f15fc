// The numa and phte plans over imagined trees.
#include <gtest/gtest.h>

#include <string>

#include "platform/placement.hpp"

namespace nembo {
namespace {

TopologyRecord core(std::uint64_t mask, std::uint32_t efficiency = 0) {
    TopologyRecord r;
    r.efficiency_class = efficiency;
    r.masks = {{mask, 0}};
    return r;
}

TopologyRecord numa(std::uint32_t node, std::uint64_t mask) {
    TopologyRecord r;
    r.kind = TopologyRecordKind::numa_node;
    r.node_number = node;
    r.masks = {{mask, 0}};
    return r;
}

// "core.thread" for each entry, blank-separated.
std::string threads(const PlacementPlan& plan) {
    std::string text;
    for (const LogicalProcessor& lp : plan) {
        if (!text.empty()) text += ' ';
        text += std::to_string(lp.core) + '.' + std::to_string(lp.idx);
    }
    return text;
}

// Two performance cores with two threads each, four efficient cores.
Topology hybrid() {
    return build_topology({core(0b11, 1), core(0b1100, 1), core(1u << 4), core(1u << 5), core(1u << 6),
                           core(1u << 7)});
}

TEST(Placement, HybridExample) {
    const Topology t = hybrid();
    EXPECT_EQ(threads(plan_numa(t)), "0.0 1.0 2.0 3.0 4.0 5.0 0.1 1.1");
    EXPECT_EQ(threads(plan_phte(t)), "0.0 1.0 0.1 1.1 2.0 3.0 4.0 5.0");
    EXPECT_EQ(threads(make_plan("numa", t)), threads(plan_numa(t)));
    EXPECT_EQ(threads(make_plan("phte", t)), threads(plan_phte(t)));
    const PlacementPlan plan = plan_numa(t);
    EXPECT_EQ(plan[6].os, 1u);
    EXPECT_EQ(plan[6].group, 0u);
}

TEST(Placement, TwoNodesAlternate) {
    const Topology t = build_topology({numa(0, 0b0011), numa(1, 0b1100), core(0b0001), core(0b0010), core(0b0100),
                                       core(0b1000)});
    EXPECT_EQ(threads(plan_numa(t)), "0.0 2.0 1.0 3.0");
    EXPECT_EQ(threads(plan_phte(t)), "0.0 2.0 1.0 3.0");
}

TEST(Placement, OneLevelWithSiblingsGivesSamePlan) {
    TopologyRecord l3a;
    l3a.kind = TopologyRecordKind::cache;
    l3a.cache_level = 3;
    l3a.masks = {{0b00001111, 0}};
    TopologyRecord l3b = l3a;
    l3b.masks = {{0b11110000, 0}};
    const Topology t = build_topology({core(0b11), core(0b1100), core(0b110000), core(0b11000000), l3a, l3b});
    EXPECT_EQ(threads(plan_numa(t)), "0.0 2.0 1.0 3.0 0.1 2.1 1.1 3.1");
    EXPECT_EQ(threads(plan_phte(t)), threads(plan_numa(t)));
}

TEST(Placement, EmptyPlans) {
    const Topology t = hybrid();
    EXPECT_TRUE(make_plan("os", t).empty());
    EXPECT_TRUE(make_plan("NUMA", t).empty());
    EXPECT_TRUE(make_plan("", t).empty());
    const Topology empty;
    EXPECT_TRUE(plan_numa(empty).empty());
    EXPECT_TRUE(plan_phte(empty).empty());
}

TEST(Placement, CoreWithoutLogicalsIsNeverPlaced) {
    Topology t = hybrid();
    Core lonely;
    lonely.id = 99;
    t.nodes[0].llcs[0].cores.push_back(lonely);
    for (const PlacementPlan& plan : {plan_numa(t), plan_phte(t)}) {
        EXPECT_EQ(plan.size(), 8u);
        for (const LogicalProcessor& lp : plan) EXPECT_NE(lp.core, 99u);
    }
    EXPECT_EQ(level_groups(t, 0).max_threads_per_core, 2u);
    EXPECT_EQ(level_groups(t, 1).max_threads_per_core, 1u);
    EXPECT_EQ(level_groups(t, 2).max_threads_per_core, 0u);
    EXPECT_TRUE(level_groups(t, 2).groups.empty());
}

}  // namespace
}  // namespace nembo
