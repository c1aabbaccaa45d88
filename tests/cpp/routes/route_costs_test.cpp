#include <gtest/gtest.h>

#include <algorithm>
#include <limits>
#include <random>
#include <vector>

#include "engine/random_instance.h"
#include "routes/route_costs.h"

namespace tarsel {
namespace {

using engine_test::AllKinds;
using engine_test::MakeRandomInstance;

// The walk that stops at the first broken rule and the full walk are one
// walk: on random routes of every constraint kind they agree on whether the
// route keeps every rule and, when it does, on its duration to the last
// bit; a node the caller's check rejects ends the walk as broken.
TEST(RouteCosts, TheStoppingWalkAgreesWithTheFullWalk) {
  std::mt19937 random(41);
  size_t kept = 0;
  size_t broken = 0;
  unsigned seed = 700;
  for (const engine_test::InstanceKinds& kinds : AllKinds()) {
    engine_test::RandomInstance instance = MakeRandomInstance(kinds, ++seed);
    const RouteCosts costs(instance.tables);
    std::vector<size_t> targets;
    for (size_t v = 0; v < costs.NumNodes(); ++v) {
      if (!instance.tables.IsStart(v) && !instance.tables.IsGoal(v)) targets.push_back(v);
    }
    for (int trial = 0; trial < 20; ++trial) {
      std::shuffle(targets.begin(), targets.end(), random);
      const size_t k = random() % costs.NumAgents();
      const size_t count = random() % (targets.size() + 1);
      std::vector<size_t> route{costs.Agent(k).start};
      route.insert(route.end(), targets.begin(), targets.begin() + static_cast<std::ptrdiff_t>(count));
      route.push_back(costs.Agent(k).goal);
      const RouteWalk full = costs.Walk(k, route);
      const RouteWalk stopped = costs.WalkUntilBroken(k, route, [](size_t, size_t) { return true; });
      ASSERT_EQ(stopped.feasible, full.feasible);
      if (full.feasible) {
        ++kept;
        EXPECT_EQ(stopped.duration, full.duration);
        EXPECT_EQ(RouteCosts::CostOf(full, PenaltyWeights{}), full.duration);
      } else {
        ++broken;
        EXPECT_EQ(RouteCosts::CostOf(full, PenaltyWeights{}), RouteCosts::kInfeasible);
      }
      if (route.size() > 2) {
        const size_t refused = route[1];
        const RouteWalk checked =
            costs.WalkUntilBroken(k, route, [refused](size_t, size_t node) { return node != refused; });
        EXPECT_FALSE(checked.feasible);
      }
    }
  }
  EXPECT_GT(kept, 100u);
  EXPECT_GT(broken, 100u);
}

// Penalty weights are an argument: one route priced under two sets of
// weights at once keeps both prices.
TEST(RouteCosts, PricesTheSameWalkUnderDifferentWeights) {
  RouteWalk walk;
  walk.duration = 50.0;
  walk.warp = 4.0;
  walk.excess = 3.0;
  walk.feasible = false;
  const PenaltyWeights light{true, 1.0, 2.0};
  const PenaltyWeights heavy{true, 10.0, 20.0};
  EXPECT_DOUBLE_EQ(RouteCosts::CostOf(walk, light), 50.0 + 4.0 + 6.0);
  EXPECT_DOUBLE_EQ(RouteCosts::CostOf(walk, heavy), 50.0 + 40.0 + 60.0);
  EXPECT_EQ(RouteCosts::CostOf(walk, PenaltyWeights{}), RouteCosts::kInfeasible);
  walk.blocked = true;
  EXPECT_EQ(RouteCosts::CostOf(walk, heavy), RouteCosts::kInfeasible);
}

}  // namespace
}  // namespace tarsel
