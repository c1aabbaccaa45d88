#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <limits>
#include <memory>
#include <random>
#include <vector>

#include "engine/random_instance.h"
#include "plugin_test_util.h"
#include "plugins/composite_constraint_checker.h"
#include "plugins/default_constraint_checker.h"
#include "plugins/time_limit_constraint_checker.h"
#include "plugins/time_window_constraint_checker.h"
#include "routes/route_costs.h"
#include "tables/reachability.h"

namespace tarsel {
namespace {

using engine_test::AllKinds;
using engine_test::MakeRandomInstance;

// Why a route extended one node at a time was given up.
enum class Stop { kNone, kMissingArc, kLate, kOverLimit };

// Extends a label along `route` of agent k the way the focal search does
// (the clock from the start's opening, the arc's cost added unless the leg
// is free, no move over a missing arc), asking `checker` at each node.
// Every other node counts as visited, so that the window checker's ordering
// and coverage tests have nothing to look at: only the route's own rules
// remain. Returns the agent's cost at the end in `cost`.
Stop ExtendLabel(const InstanceTables& tables, const ConstraintCheckerPlugin& checker, size_t k,
                 const std::vector<size_t>& route, double& cost) {
  const size_t n = tables.NumNodes();
  Label label = testing::MakeLabel(static_cast<int32_t>(n), tables.NumAgents());
  label.visited.SetFrom(0);
  label.current_nodes.assign(tables.NumAgents(), route.front());
  label.costs[k] = StartTime(tables, route.front());
  const size_t type = static_cast<size_t>(tables.Agents()[k].type);
  const size_t start = tables.Starts()[k];
  const size_t goal = tables.Goals()[k];
  for (size_t i = 1; i < route.size(); ++i) {
    const size_t from = route[i - 1];
    const size_t to = route[i];
    const bool free_leg = !tables.ReturnToEnd() && (to == start || to == goal);
    if (from != to && !free_leg) {
      const double step = tables.Cost(type, from, to);
      if (!tables.Connected(step)) return Stop::kMissingArc;
      label.costs[k] += step;
    }
    const MoveCheck check = checker.ApplyMove(label, k, to);
    if (!check.feasible) return Stop::kLate;
    if (check.new_cost) label.costs[k] = *check.new_cost;
    if (!checker.IsAgentFeasible(label, k)) return Stop::kOverLimit;
    label.current_nodes[k] = to;
  }
  cost = label.costs[k];
  return Stop::kNone;
}

// The checkers of the focal search and the route walk of the engine and the
// post-optimisers are one set of rules: on random routes of every
// constraint kind (windows, route-length limits, open routes, separate
// depots, missing arcs, restricted types), the label the checkers let
// through to the end is exactly the walk's feasible route, with the walk's
// duration to the last bit, and every route the checkers stop is one the
// walk finds broken.
TEST(CheckersAndRouteWalk, ExtendingALabelIsWalkingTheRoute) {
  std::mt19937 random(97);
  size_t kept = 0;
  size_t waited = 0;
  std::vector<size_t> stops(4, 0);
  unsigned seed = 1300;
  for (const engine_test::InstanceKinds& kinds : AllKinds()) {
    // Enforced capacities that can bind send the solve to the engine alone:
    // the focal search's checkers hold no load.
    if (kinds.capacities) continue;
    engine_test::RandomInstance instance = MakeRandomInstance(kinds, ++seed);
    const InstanceTables& tables = instance.tables;
    // The Solver's composite for windows and limits, on the shared tables.
    CompositeConstraintChecker checker;
    checker.Add(std::make_unique<DefaultConstraintChecker>());
    checker.Add(std::make_unique<TimeWindowConstraintChecker>());
    checker.Add(std::make_unique<TimeLimitConstraintChecker>());
    checker.AttachTables(tables);
    const RouteCosts costs(tables);

    for (int trial = 0; trial < 25; ++trial) {
      const size_t k = random() % tables.NumAgents();
      const RouteAgent& agent = costs.Agent(k);
      std::vector<size_t> targets;
      for (size_t v = 0; v < tables.NumNodes(); ++v) {
        if (tables.IsStart(v) || tables.IsGoal(v)) continue;
        if (!checker.IsForbidden(k, v)) targets.push_back(v);
      }
      std::shuffle(targets.begin(), targets.end(), random);
      targets.resize(random() % (targets.size() + 1));
      std::vector<size_t> route{agent.start};
      route.insert(route.end(), targets.begin(), targets.end());
      route.push_back(agent.goal);

      double cost = 0;
      const Stop stop = ExtendLabel(tables, checker, k, route, cost);
      const RouteWalk walk = costs.Walk(k, route);
      ++stops[static_cast<size_t>(stop)];
      ASSERT_EQ(stop == Stop::kNone, walk.feasible) << "seed " << seed << " trial " << trial;
      if (stop == Stop::kNone) {
        ++kept;
        EXPECT_EQ(cost, walk.duration);
        // Travel alone is less when the route waited somewhere.
        double travel = 0;
        for (size_t i = 1; i < route.size(); ++i) {
          bool blocked = false;
          travel += costs.Travel(k, route[i - 1], route[i], blocked);
        }
        if (walk.duration > travel + 1e-9) ++waited;
      }
      if (stop == Stop::kMissingArc) {
        EXPECT_TRUE(walk.blocked);
      } else if (stop == Stop::kLate) {
        EXPECT_GT(walk.warp, 0.0);
      } else if (stop == Stop::kOverLimit) {
        EXPECT_GT(walk.excess, 0.0);
      }
    }
  }
  // Every kind of outcome occurred often enough to count.
  EXPECT_GT(kept, 200u);
  EXPECT_GT(waited, 50u);
  EXPECT_GT(stops[static_cast<size_t>(Stop::kMissingArc)], 50u);
  EXPECT_GT(stops[static_cast<size_t>(Stop::kLate)], 50u);
  EXPECT_GT(stops[static_cast<size_t>(Stop::kOverLimit)], 20u);
}

// The window checker's travel times and service test are the route rules'
// arcs and visiting rule: on random instances with open and closed routes,
// separate depots, missing arcs and restricted types, for every agent and
// pair of nodes.
TEST(CheckersAndRouteWalk, TheWindowCheckersArcsAreTheRouteRulesArcs) {
  unsigned seed = 1500;
  size_t missing = 0;
  size_t refused = 0;
  for (const engine_test::InstanceKinds& kinds : AllKinds()) {
    engine_test::RandomInstance instance = MakeRandomInstance(kinds, ++seed);
    const InstanceTables& tables = instance.tables;
    TimeWindowConstraintChecker checker;
    checker.AttachTables(tables);
    const RouteCosts costs(tables);
    const size_t n = tables.NumNodes();
    for (size_t k = 0; k < tables.NumAgents(); ++k) {
      const size_t type = static_cast<size_t>(tables.Agents()[k].type);
      const size_t start = tables.Starts()[k];
      const size_t goal = tables.Goals()[k];
      for (size_t x = 0; x < n; ++x) {
        // Its type may visit x, which is no other agent's start or end.
        const bool serves = tables.TypeAllowed(static_cast<int64_t>(type), x) &&
                            (!tables.IsStart(x) || x == start) && (!tables.IsGoal(x) || x == goal);
        EXPECT_EQ(checker.CanServe(k, x), serves);
        EXPECT_EQ(costs.MayVisit(k, x), serves);
        refused += serves ? 0 : 1;
        for (size_t y = 0; y < n; ++y) {
          // Read from the tables: free into the own depots with open
          // routes, and between a node and itself; infinite without an arc.
          const bool free_leg = x == y || (!tables.ReturnToEnd() && (y == start || y == goal));
          const double cost = tables.Cost(type, x, y);
          const double expected = free_leg                   ? 0.0
                                  : tables.Connected(cost) ? cost
                                                           : std::numeric_limits<double>::infinity();
          EXPECT_EQ(checker.TravelTime(k, x, y), expected);
          EXPECT_EQ(costs.FreeLeg(k, x, y), free_leg);
          if (std::isinf(expected)) ++missing;
          // No chain of arcs is quicker than none, nor slower than the arc.
          EXPECT_LE(checker.ShortestTime(k, x, y), expected);
          if (free_leg) {
            EXPECT_EQ(checker.ShortestTime(k, x, y), 0.0);
          }
        }
      }
    }
  }
  EXPECT_GT(missing, 1000u);
  EXPECT_GT(refused, 300u);
}

}  // namespace
}  // namespace tarsel
