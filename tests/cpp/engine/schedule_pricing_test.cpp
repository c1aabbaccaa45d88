#include <gtest/gtest.h>

#include <vector>

#include "engine/route_rules.h"
#include "engine/schedule_pricing.h"
#include "engine/solution.h"
#include "routes/pair_line_tables.h"

namespace tarsel {
namespace {

using pair_test::LineTables;
using pair_test::Pair;

// Sets the targets of both routes of the line instance (every target on
// one of them) and walks them alone.
void SetRoutes(Solution& solution, const std::vector<size_t>& first, const std::vector<size_t>& second,
               const PenaltyWeights& weights) {
  solution.SetTargets(0, first.data(), first.size());
  solution.SetTargets(1, second.data(), second.size());
  solution.Refresh(0, weights);
  solution.Refresh(1, weights);
}

// Agent 2 reaches node 2 at 4 (through node 4) but waits for agent 1's
// service of node 1 at 10: alone its route costs 8, in the schedule 14, and the solution's value
// follows the schedule until the route is walked alone again.
TEST(SchedulePricing, RoutesCostWhatTheirWaitsForOtherRoutesAdd) {
  for (const PairKind kind : {PairKind::kPlain, PairKind::kDiff}) {
    const InstanceTables tables = LineTables({Pair(1, 2, kind)});
    const RouteRules rules(tables);
    SchedulePricing pricing(rules);
    ASSERT_TRUE(pricing.Active());
    Solution solution(rules);
    SetRoutes(solution, {1, 5, 3}, {4, 2}, PenaltyWeights{});
    EXPECT_EQ(solution.Value().total, 28);
    pricing.Apply(solution, PenaltyWeights{});
    EXPECT_EQ(solution.Route(0).cost, 20);
    EXPECT_EQ(solution.Route(1).cost, 14);
    EXPECT_EQ(solution.Value().total, 34);
    EXPECT_TRUE(solution.Feasible());
    solution.Refresh(1, PenaltyWeights{});
    EXPECT_EQ(solution.Route(1).cost, 8);
  }
}

// A wait that makes a later node miss its window: infeasible under the hard
// rules, its time warp priced under penalty weights, and kept by a re-costing
// from the stored walks.
TEST(SchedulePricing, AWaitThatMissesAWindowIsPricedAsLateness) {
  TimeWindowTable windows;
  windows[3] = {0, 11};
  const InstanceTables tables = LineTables({Pair(1, 2, PairKind::kPlain)}, windows);
  const RouteRules rules(tables);
  SchedulePricing pricing(rules);
  Solution solution(rules);
  const PenaltyWeights weights{true, 5, 1};
  SetRoutes(solution, {1, 5}, {4, 2, 3}, weights);
  EXPECT_TRUE(solution.Feasible());
  EXPECT_EQ(solution.Route(1).cost, 12);
  pricing.Apply(solution, weights);
  EXPECT_FALSE(solution.Feasible());
  EXPECT_TRUE(solution.Complete());
  EXPECT_EQ(solution.Route(1).cost, 18 + 5 * 1);
  solution.Recost(PenaltyWeights{});
  EXPECT_FALSE(solution.Complete());
}

// Routes that wait for each other in a cycle leave the solution incomplete
// (the population refuses it); with only "same" pairs nothing waits and
// there is nothing to price.
TEST(SchedulePricing, AWaitingCycleIsNoSolutionAndSamePairsNeedNoSchedule) {
  const InstanceTables tables = LineTables({Pair(1, 2, PairKind::kPlain), Pair(4, 3, PairKind::kPlain)});
  const RouteRules rules(tables);
  SchedulePricing pricing(rules);
  Solution solution(rules);
  SetRoutes(solution, {3, 1, 5}, {2, 4}, PenaltyWeights{true, 1, 1});
  EXPECT_TRUE(solution.Complete());
  pricing.Apply(solution, PenaltyWeights{true, 1, 1});
  EXPECT_FALSE(solution.Complete());
  EXPECT_FALSE(solution.Feasible());

  const InstanceTables same = LineTables({Pair(1, 2, PairKind::kSame)});
  const RouteRules same_rules(same);
  EXPECT_FALSE(SchedulePricing(same_rules).Active());
}

}  // namespace
}  // namespace tarsel
