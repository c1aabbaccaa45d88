#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <vector>

#include "common/special_values.h"
#include "engine/granular_insertion.h"
#include "engine/granular_neighbours.h"
#include "engine/improvement_engine.h"
#include "engine/related_ruin.h"
#include "engine/random_instance.h"
#include "engine/route_rules.h"
#include "engine/solution.h"
#include "postopt/route_evaluator.h"

namespace tarsel {
namespace {

using engine_test::InstanceKinds;
using engine_test::MakeRandomInstance;

// Constraint mixes for instances above the regret-insertion size.
std::vector<InstanceKinds> LargeKinds() {
  std::vector<InstanceKinds> all;
  for (int mask : {0, 1, 2, 4 | 8, 16, 32, 2 | 32}) {
    InstanceKinds kinds = engine_test::KindsFromMask(mask);
    kinds.nodes = 300;
    kinds.agents = 4;
    kinds.types = (mask & 32) != 0 ? 2 : 1 + static_cast<size_t>(mask % 2);
    all.push_back(kinds);
  }
  return all;
}

// Each placed target once, in a route of an agent allowed there, every route
// valid for the post-optimisers' route evaluation at the cost the solution holds.
void ExpectConsistent(const InstanceTables& tables, const RouteRules& rules, const Solution& solution) {
  RouteEvaluator evaluator;
  evaluator.Attach(tables);
  std::vector<int> seen(tables.NumNodes(), 0);
  for (size_t k = 0; k < solution.NumRoutes(); ++k) {
    const std::vector<size_t>& nodes = solution.Route(k).nodes;
    const RouteEvaluation evaluation = evaluator.EvaluateRoute(nodes, k);
    ASSERT_TRUE(evaluation.valid) << "route of agent " << k;
    EXPECT_NEAR(evaluation.cost, solution.Route(k).cost, 1e-6 * (1 + evaluation.cost));
    for (size_t i = 1; i + 1 < nodes.size(); ++i) {
      seen[nodes[i]] += 1;
      EXPECT_TRUE(rules.CanServe(k, nodes[i]));
    }
  }
  size_t unplaced = 0;
  for (size_t v : rules.Targets()) {
    EXPECT_LE(seen[v], 1) << "node " << v;
    unplaced += seen[v] == 0 ? 1 : 0;
  }
  EXPECT_EQ(unplaced, solution.Unplaced());
}

// Granular insertion keeps every rule, places every target when nothing
// forbids it, and is repeatable for a seed (guards against places priced
// at stale positions and against an order that depends on the sort).
TEST(GranularInsertion, PlacesTargetsFeasiblyAndRepeatably) {
  unsigned seed = 11;
  for (const InstanceKinds& kinds : LargeKinds()) {
    engine_test::RandomInstance instance = MakeRandomInstance(kinds, ++seed);
    RouteRules rules(instance.tables);
    for (bool min_max : {true, false}) {
      rules.SetMinMax(min_max);
      GranularNeighbours neighbours(rules, 20);
      GranularInsertion insertion(rules, neighbours);
      for (double noise : {0.0, 0.3}) {
        Solution first(rules);
        Solution second(rules);
        Random random_first(seed);
        Random random_second(seed);
        const bool placed = insertion.Fill(first, PenaltyWeights{}, random_first, noise);
        EXPECT_EQ(insertion.Fill(second, PenaltyWeights{}, random_second, noise), placed);
        EXPECT_TRUE(first.SameRoutes(second));
        ExpectConsistent(instance.tables, rules, first);
        EXPECT_EQ(placed, first.Complete());
        const bool free = !kinds.windows && !kinds.limits && !kinds.missing_arcs;
        if (free) {
          EXPECT_TRUE(placed) << "seed " << seed;
        }
      }
    }
  }
}

// Repair after removing targets puts each back exactly once and leaves the
// untouched routes valid (guards against positions of a changed route).
TEST(GranularInsertion, RefillsARuinedSolution) {
  InstanceKinds kinds;
  kinds.nodes = 400;
  kinds.agents = 6;
  kinds.types = 2;
  kinds.restricted = true;
  engine_test::RandomInstance instance = MakeRandomInstance(kinds, 5);
  RouteRules rules(instance.tables);
  rules.SetMinMax(true);
  GranularNeighbours neighbours(rules, 20);
  GranularInsertion insertion(rules, neighbours);
  Solution solution(rules);
  Random random(3);
  ASSERT_TRUE(insertion.Fill(solution, PenaltyWeights{}, random, 0.0));
  for (size_t step = 0; step < 150; ++step) {
    const size_t node = rules.Targets()[random.Below(rules.Targets().size())];
    const size_t k = solution.RouteOf(node);
    if (k == kNoIndex) continue;
    solution.Erase(k, solution.PositionOf(node));
    solution.Refresh(k, PenaltyWeights{});
  }
  ASSERT_GT(solution.Unplaced(), 0u);
  ASSERT_TRUE(insertion.Fill(solution, PenaltyWeights{}, random, 0.2));
  EXPECT_TRUE(solution.Complete());
  ExpectConsistent(instance.tables, rules, solution);
}

// The ruin of large instances removes 10 to 60 targets that hang together
// through the neighbour lists, leaves the rest in place with valid routes,
// and repeats for a seed (guards against stale positions while removing
// several targets from one route, and against marks left behind).
TEST(RelatedRuin, RemovesACompactGroupAndKeepsTheRestValid) {
  InstanceKinds kinds;
  kinds.nodes = 300;
  kinds.agents = 5;
  kinds.types = 2;
  engine_test::RandomInstance instance = MakeRandomInstance(kinds, 8);
  RouteRules rules(instance.tables);
  rules.SetMinMax(false);
  GranularNeighbours neighbours(rules, 20);
  GranularInsertion insertion(rules, neighbours);
  RelatedRuin ruin(rules, neighbours);
  Solution full(rules);
  Random build(1);
  ASSERT_TRUE(insertion.Fill(full, PenaltyWeights{}, build, 0.0));
  for (uint64_t seed = 0; seed < 20; ++seed) {
    Solution ruined = full;
    Solution again = full;
    Random random(seed);
    Random same(seed);
    const size_t removed = ruin.Apply(ruined, PenaltyWeights{}, random);
    EXPECT_EQ(ruin.Apply(again, PenaltyWeights{}, same), removed);
    EXPECT_TRUE(ruined.SameRoutes(again));
    EXPECT_GE(removed, RelatedRuin::kMinRemoved);
    EXPECT_LE(removed, RelatedRuin::kMaxRemoved);
    EXPECT_EQ(ruined.Unplaced(), removed);
    ExpectConsistent(instance.tables, rules, ruined);
    // Every removed target but one is a neighbour of another removed one.
    std::vector<size_t> gone;
    for (size_t v : rules.Targets()) {
      if (ruined.RouteOf(v) == kNoIndex) gone.push_back(v);
    }
    size_t linked = 0;
    for (size_t v : gone) {
      bool near = false;
      for (size_t u : gone) {
        for (size_t slot = 0; slot < neighbours.Types().size() && !near; ++slot) {
          const size_t* list = neighbours.Begin(slot, u);
          near = u != v && std::find(list, list + neighbours.Count(), v) != list + neighbours.Count();
        }
        if (near) break;
      }
      linked += near ? 1 : 0;
    }
    EXPECT_GE(linked + 1, gone.size());
  }
}

// Without a starting solution the engine builds its own on a large
// instance, reports the construction first and then only improvements.
TEST(ImprovementEngineLarge, BuildsItsOwnStartAndReportsImprovingSolutions) {
  for (bool min_max : {true, false}) {
    InstanceKinds kinds;
    kinds.nodes = 320;
    kinds.agents = 5;
    kinds.types = 2;
    kinds.restricted = !min_max;
    engine_test::RandomInstance instance = MakeRandomInstance(kinds, min_max ? 21 : 22);
    EngineSettings settings;
    settings.min_max = min_max;
    settings.seed = 4;
    settings.max_iterations = 3;
    settings.deadline = 1e9;
    settings.clock = [] { return 0.0; };
    std::vector<double> reported;
    settings.on_improvement = [&](double, const Result& result) {
      double longest = 0, total = 0;
      for (const auto& [agent, cost] : result.times) {
        longest = std::max(longest, cost);
        total += cost;
      }
      reported.push_back(min_max ? longest : total);
    };
    const EngineOutcome outcome = RunImprovementEngine(instance.tables, nullptr, settings);
    ASSERT_TRUE(outcome.improved);
    // The construction and at least the local search's improvement of it.
    ASSERT_GE(reported.size(), 2u);
    for (size_t i = 1; i < reported.size(); ++i) EXPECT_LE(reported[i], reported[i - 1] + 1e-9);
    RouteEvaluator evaluator;
    evaluator.Attach(instance.tables);
    RouteRules rules(instance.tables);
    std::vector<int> served(instance.tables.NumNodes(), 0);
    for (const auto& [k, path64] : outcome.result.paths) {
      const std::vector<size_t> path(path64.begin(), path64.end());
      const RouteEvaluation evaluation = evaluator.EvaluateRoute(path, k);
      ASSERT_TRUE(evaluation.valid);
      EXPECT_EQ(outcome.result.times.at(k), evaluation.cost);
      for (size_t i = 1; i + 1 < path.size(); ++i) served[path[i]] += 1;
    }
    for (size_t v = 0; v < served.size(); ++v) EXPECT_EQ(served[v], rules.IsTarget(v) ? 1 : 0);
  }
}

}  // namespace
}  // namespace tarsel
