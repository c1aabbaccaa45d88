#include <gtest/gtest.h>

#include <algorithm>
#include <limits>
#include <random>
#include <vector>

#include "common/special_values.h"
#include "common/test_tables.h"
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

// Nodes 0..4 on a line, 1 apart; agent 0 (capacity 10) and agent 1 (no
// capacity) from 0 back to 0. Demands: the depot 7 (never counted), then 4,
// 5, 3, 2.
struct LoadLine {
  LoadLine() {
    const size_t n = 5;
    std::vector<std::vector<std::vector<double>>> per_type(1, std::vector<std::vector<double>>(n, std::vector<double>(n)));
    std::vector<std::vector<double>> flat(1, std::vector<double>(n * n));
    for (size_t i = 0; i < n; ++i) {
      for (size_t j = 0; j < n; ++j) {
        per_type[0][i][j] = flat[0][i * n + j] = i > j ? double(i - j) : double(j - i);
      }
    }
    graph = test_common::MatrixGraph(per_type);
    tables.SetCostMatrices(flat, n, &graph);
    tables.SetNodes(test_common::MakeNodes(std::vector<std::vector<size_t>>(n, {0})));
    std::vector<AgentInfo> agents(2);
    agents[0].type = agents[1].type = 0;
    agents[1].id = 1;
    agents[0].capacity_limit = 10.0;
    tables.SetAgents(agents);
    tables.SetStarts({0, 0});
    tables.SetGoals({0, 0});
    tables.SetDemands({7.0, 4.0, 5.0, 3.0, 2.0});
  }
  SparseGraph graph;
  InstanceTables tables;
};

// A route's load is the demand of its targets; over the capacity it is
// infeasible under hard rules and costs the weighted overload under active
// ones; the stopping walk ends at the first target that overloads it, and
// an agent without a capacity carries anything.
TEST(RouteCosts, LoadsAgainstCapacities) {
  LoadLine line;
  const RouteCosts costs(line.tables);
  EXPECT_TRUE(costs.HasLoads());
  EXPECT_TRUE(costs.HasSoftRules());
  const std::vector<size_t> within{0, 1, 2, 0};        // 4 + 5 = 9
  const std::vector<size_t> over{0, 1, 2, 3, 4, 0};    // 14: 4 over
  RouteWalk walk = costs.Walk(0, within);
  EXPECT_EQ(walk.load, 9.0);
  EXPECT_EQ(walk.overload, 0.0);
  EXPECT_TRUE(walk.feasible);
  EXPECT_EQ(costs.Load(within), 9.0);
  walk = costs.Walk(0, over);
  EXPECT_EQ(walk.load, 14.0);
  EXPECT_EQ(walk.overload, 4.0);
  EXPECT_FALSE(walk.feasible);
  EXPECT_EQ(RouteCosts::CostOf(walk, PenaltyWeights{}), RouteCosts::kInfeasible);
  const PenaltyWeights weights{true, 1.0, 1.0, 2.5};
  EXPECT_DOUBLE_EQ(RouteCosts::CostOf(walk, weights), 8.0 + 2.5 * 4.0);
  // The segments of the same route agree.
  Segment whole = costs.StartSeg(0);
  for (size_t i = 1; i < over.size(); ++i) whole = costs.Join(0, whole, over[i - 1], over[i], costs.NodeSeg(over[i]));
  EXPECT_EQ(whole.load, 14.0);
  EXPECT_EQ(costs.Cost(0, whole, PenaltyWeights{}), RouteCosts::kInfeasible);
  EXPECT_DOUBLE_EQ(costs.Cost(0, whole, weights), 8.0 + 2.5 * 4.0);
  // The stopping walk ends at node 3 (load 12), before it reads node 4.
  size_t seen = 0;
  const RouteWalk stopped = costs.WalkUntilBroken(0, over, [&seen](size_t, size_t) { return ++seen > 0; });
  EXPECT_FALSE(stopped.feasible);
  EXPECT_EQ(seen, 4u);
  // Agent 1 has no capacity.
  EXPECT_TRUE(costs.Walk(1, over).feasible);
  EXPECT_EQ(costs.Cost(1, whole, PenaltyWeights{}), 8.0);
  // A load equal to the capacity keeps it.
  const RouteWalk full = costs.Walk(0, std::vector<size_t>{0, 2, 3, 4, 0});
  EXPECT_EQ(full.load, 10.0);
  EXPECT_TRUE(full.feasible);
}

// Without demands (capacities not enforced) loads never matter: no soft
// rule comes from a capacity alone.
TEST(RouteCosts, CapacitiesWithoutDemandsAreNoRule) {
  LoadLine line;
  line.tables.SetDemands({});
  const RouteCosts costs(line.tables);
  EXPECT_FALSE(costs.HasLoads());
  EXPECT_FALSE(costs.HasSoftRules());
  const RouteWalk walk = costs.Walk(0, std::vector<size_t>{0, 1, 2, 3, 4, 0});
  EXPECT_EQ(walk.load, 0.0);
  EXPECT_TRUE(walk.feasible);
}


// Four nodes: agent 0 (type 0) starts and ends at node 0, agent 1 (type 1)
// at node 3; node 2 allows type 1 only. Arcs of type 0: 0 -> 1 costs 5,
// 1 -> 2 costs 10, 2 -> 0 is missing, every other arc 1. Windows: node 1
// (10, 20), node 2 (0, 12), and index 6, beyond the node table, (3, 4).
struct StepTables {
  explicit StepTables(bool open_routes) {
    std::vector<std::vector<double>> type0(4, std::vector<double>(4, 1.0));
    for (size_t i = 0; i < 4; ++i) type0[i][i] = 0.0;
    type0[0][1] = 5.0;
    type0[1][2] = 10.0;
    type0[2][0] = kNoConnection;
    const std::vector<std::vector<double>> type1 = {{0, 1, 1, 1}, {1, 0, 1, 1}, {1, 1, 0, 1}, {1, 1, 1, 0}};
    graph = test_common::MatrixGraph({type0, type1});
    tables.SetGraph(&graph);
    tables.SetNodes(test_common::MakeNodes({{0, 1}, {0, 1}, {1}, {0, 1}}));
    std::vector<AgentInfo> agents(2);
    agents[0].type = 0;
    agents[0].time_limit = 30.0;
    agents[1].type = 1;
    tables.SetAgents(agents);
    tables.SetStarts({0, 3});
    tables.SetGoals({0, 3});
    tables.SetTimeWindows({{1, {10.0, 20.0}}, {2, {0.0, 12.0}}, {6, {3.0, 4.0}}});
    tables.SetReturnToEnd(!open_routes);
  }
  SparseGraph graph;
  InstanceTables tables;
};

// One node of a walk: waiting for a window to open, a late arrival set back
// to the window end and counted as time warp, a missing arc marked; the
// whole walk of a route is these steps, and a walk with time warp keeps it.
TEST(RouteCosts, OneStepOfTheWalkWaitsIsLateAndMissesArcs) {
  const StepTables setup(false);
  const RouteCosts costs(setup.tables);
  WalkState state;
  EXPECT_TRUE(costs.Arrive(0, state));
  EXPECT_TRUE(costs.Extend(0, 0, 1, state));  // reaches node 1 at 5, waits until 10
  EXPECT_EQ(state.clock, 10.0);
  EXPECT_EQ(state.warp, 0.0);
  EXPECT_FALSE(costs.Extend(0, 1, 2, state));  // 20 is past 12: 8 late
  EXPECT_EQ(state.clock, 12.0);
  EXPECT_EQ(state.warp, 8.0);
  EXPECT_FALSE(state.blocked);
  EXPECT_TRUE(costs.Extend(0, 2, 0, state));
  EXPECT_TRUE(state.blocked);

  const RouteWalk walk = costs.Walk(0, std::vector<size_t>{0, 1, 2, 0});
  EXPECT_EQ(walk.duration, state.clock + state.warp);
  EXPECT_EQ(walk.warp, 8.0);
  EXPECT_TRUE(walk.blocked);
  EXPECT_FALSE(walk.feasible);
  // Arriving on time at the window's end exactly keeps the rule.
  WalkState due;
  due.clock = 20.0;
  EXPECT_TRUE(costs.Arrive(1, due));
  EXPECT_EQ(due.clock, 20.0);
  // An index beyond the node table takes the window the tables hold for it.
  WalkState outside;
  outside.clock = 1.0;
  EXPECT_TRUE(costs.Arrive(6, outside));
  EXPECT_EQ(outside.clock, 3.0);
  outside.clock = 4.5;
  EXPECT_FALSE(costs.Arrive(6, outside));
  outside.clock = 100.0;
  EXPECT_TRUE(costs.Arrive(5, outside));  // no window there
}

// The rules a route's node sequence keeps: the length limit (none at 0),
// the free legs of open and closed routes, and which nodes an agent may
// visit (its type's, and no other agent's depot).
TEST(RouteCosts, LimitsFreeLegsAndTheNodesAnAgentMayVisit) {
  const StepTables closed(false);
  const RouteCosts rules(closed.tables);
  EXPECT_TRUE(rules.WithinLimit(0, 30.0));
  EXPECT_FALSE(rules.WithinLimit(0, 30.5));
  EXPECT_TRUE(rules.WithinLimit(1, 1e12));
  EXPECT_TRUE(rules.FreeLeg(0, 2, 2));
  EXPECT_FALSE(rules.FreeLeg(0, 1, 0));  // closed routes pay the way home
  bool blocked = false;
  EXPECT_EQ(rules.Travel(0, 1, 0, blocked), 1.0);

  const StepTables open(true);
  const RouteCosts open_rules(open.tables);
  EXPECT_TRUE(open_rules.FreeLeg(0, 1, 0));
  EXPECT_EQ(open_rules.Travel(0, 2, 0, blocked), 0.0);  // free even where no arc leads
  EXPECT_FALSE(blocked);
  EXPECT_FALSE(open_rules.FreeLeg(0, 1, 3));  // another agent's depot costs
  EXPECT_EQ(open_rules.Travel(0, 1, 3, blocked), 1.0);

  EXPECT_TRUE(rules.MayVisit(0, 0));
  EXPECT_TRUE(rules.MayVisit(0, 1));
  EXPECT_FALSE(rules.MayVisit(0, 2));  // type 0 may not
  EXPECT_TRUE(rules.TypeAllows(1, 2));
  EXPECT_TRUE(rules.TypeAllows(0, 3));
  EXPECT_FALSE(rules.MayVisit(0, 3));  // agent 1's depot
  EXPECT_TRUE(rules.MayVisit(1, 3));
  EXPECT_FALSE(rules.MayVisit(1, 0));
  EXPECT_FALSE(rules.TypeAllows(0, 4));  // beyond the node table
}

}  // namespace
}  // namespace tarsel
