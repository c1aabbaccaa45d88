#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <random>
#include <vector>

#include "common/test_tables.h"
#include "engine/random_instance.h"
#include "engine/route_rules.h"
#include "engine/solution.h"

namespace tarsel {
namespace {

// Nodes 0..3 on a line, 10 apart; one agent from 0 back to 0 with limit 50;
// windows: node 1 [0, 5], node 2 [30, 40], node 3 [0, 100].
struct LineInstance {
  LineInstance() {
    const size_t n = 4;
    std::vector<std::vector<std::vector<double>>> per_type(1, std::vector<std::vector<double>>(n, std::vector<double>(n)));
    std::vector<std::vector<double>> flat(1, std::vector<double>(n * n));
    for (size_t i = 0; i < n; ++i) {
      for (size_t j = 0; j < n; ++j) {
        const double cost = 10.0 * std::fabs(static_cast<double>(i) - static_cast<double>(j));
        per_type[0][i][j] = cost;
        flat[0][i * n + j] = cost;
      }
    }
    graph = test_common::MatrixGraph(per_type);
    tables.SetCostMatrices(flat, n, &graph);
    tables.SetNodes(test_common::MakeNodes(std::vector<std::vector<size_t>>(n, {0})));
    std::vector<AgentInfo> agents(1);
    agents[0].id = 0;
    agents[0].type = 0;
    agents[0].time_limit = 50.0;
    tables.SetAgents(agents);
    tables.SetStarts({0});
    tables.SetGoals({0});
    TimeWindowTable windows;
    windows[1] = {0.0, 5.0};
    windows[2] = {30.0, 40.0};
    windows[3] = {0.0, 100.0};
    tables.SetTimeWindows(windows);
    tables.SetReturnToEnd(true);
  }
  SparseGraph graph;
  InstanceTables tables;
};

Segment WholeRoute(const RouteRules& rules, size_t k, const std::vector<size_t>& route) {
  Segment whole = rules.StartSeg(k);
  for (size_t i = 1; i < route.size(); ++i) whole = rules.Join(k, whole, route[i - 1], route[i], rules.NodeSeg(route[i]));
  return whole;
}

TEST(PenalisedCost, EqualsDurationPlusWeightedWarpAndExcessByHand) {
  LineInstance line;
  RouteRules rules(line.tables);
  EXPECT_TRUE(rules.HasSoftRules());
  // 0 -> 1 (arrives 10, warp 5, clock back to 5) -> 2 (15, waits to 30)
  // -> 3 (40) -> 0 (70): travel 60 + waiting 15 = duration 75, warp 5,
  // 25 over the limit of 50.
  const std::vector<size_t> late{0, 1, 2, 3, 0};
  // 0 -> 1 (warp 5) -> 0: duration 20, warp 5, within the limit.
  const std::vector<size_t> short_late{0, 1, 0};
  // 0 -> 3 -> 0: duration 60, no warp, 10 over the limit.
  const std::vector<size_t> long_trip{0, 3, 0};

  // Without penalties each of them is infeasible.
  for (const auto* route : {&late, &short_late, &long_trip}) {
    EXPECT_EQ(rules.ExactCost(0, *route, PenaltyWeights{}), RouteRules::kInfeasible);
    EXPECT_EQ(rules.Cost(0, WholeRoute(rules, 0, *route), PenaltyWeights{}), RouteRules::kInfeasible);
  }
  const RouteWalk walk = rules.Walk(0, late);
  EXPECT_DOUBLE_EQ(walk.duration, 75.0);
  EXPECT_DOUBLE_EQ(walk.warp, 5.0);
  EXPECT_DOUBLE_EQ(walk.excess, 25.0);
  EXPECT_FALSE(walk.feasible);

  PenaltyWeights weights;
  weights.active = true;
  weights.warp = 3.0;
  weights.excess = 2.0;
  const double expected[] = {75.0 + 3.0 * 5.0 + 2.0 * 25.0, 20.0 + 3.0 * 5.0, 60.0 + 2.0 * 10.0};
  const std::vector<size_t>* routes[] = {&late, &short_late, &long_trip};
  for (size_t r = 0; r < 3; ++r) {
    EXPECT_DOUBLE_EQ(rules.ExactCost(0, *routes[r], weights), expected[r]) << "route " << r;
    EXPECT_DOUBLE_EQ(rules.Cost(0, WholeRoute(rules, 0, *routes[r]), weights), expected[r]) << "route " << r;
  }
  // A feasible route costs its duration under any weights: 0 -> 2 (waits
  // to 30) -> 0 is 50, exactly the limit.
  const std::vector<size_t> fine{0, 2, 0};
  EXPECT_DOUBLE_EQ(rules.ExactCost(0, fine, weights), 50.0);
  EXPECT_DOUBLE_EQ(rules.ExactCost(0, fine, PenaltyWeights{}), 50.0);
  EXPECT_TRUE(rules.Walk(0, fine).feasible);

  // The solution keeps penalised costs and knows the real feasibility.
  Solution solution(rules);
  const size_t targets[] = {1, 2, 3};
  solution.SetTargets(0, targets, 3);
  solution.Refresh(0, weights);
  EXPECT_TRUE(solution.Complete());
  EXPECT_FALSE(solution.Feasible());
  EXPECT_FALSE(solution.WithoutWarp());
  EXPECT_FALSE(solution.WithinLimits());
  EXPECT_DOUBLE_EQ(solution.Route(0).cost, expected[0]);
  PenaltyWeights heavier = weights;
  heavier.warp = 10.0;
  solution.Recost(heavier);
  EXPECT_DOUBLE_EQ(solution.Route(0).cost, 75.0 + 10.0 * 5.0 + 2.0 * 25.0);
  // The rules themselves hold no weights: the same route under the first
  // weights still costs what it did.
  EXPECT_DOUBLE_EQ(rules.ExactCost(0, late, weights), expected[0]);
  solution.Recost(PenaltyWeights{});
  EXPECT_FALSE(solution.Complete());
}

// Penalised costs from segments (whole route, or a prefix joined to a
// suffix) agree with the node-by-node walk on random routes of every
// constraint kind; missing arcs stay infeasible.
TEST(PenalisedCost, SegmentsAgreeWithTheWalkOnRandomRoutes) {
  std::mt19937 random(17);
  size_t penalised = 0;
  size_t overloaded = 0;
  unsigned seed = 300;
  for (const engine_test::InstanceKinds& kinds : engine_test::AllKinds()) {
    engine_test::RandomInstance instance = engine_test::MakeRandomInstance(kinds, ++seed);
    RouteRules rules(instance.tables);
    PenaltyWeights weights;
    weights.active = true;
    weights.warp = 0.5 + static_cast<double>(random() % 100) / 10.0;
    weights.excess = 0.5 + static_cast<double>(random() % 100) / 10.0;
    weights.overload = 0.5 + static_cast<double>(random() % 100) / 10.0;
    std::vector<size_t> targets = rules.Targets();
    for (int trial = 0; trial < 20; ++trial) {
      std::shuffle(targets.begin(), targets.end(), random);
      const size_t k = random() % rules.NumAgents();
      const size_t count = random() % (targets.size() + 1);
      std::vector<size_t> route{rules.Agent(k).start};
      route.insert(route.end(), targets.begin(), targets.begin() + static_cast<std::ptrdiff_t>(count));
      route.push_back(rules.Agent(k).goal);
      const RouteWalk walk = rules.Walk(k, route);
      const double exact = rules.ExactCost(k, route, weights);
      const Segment whole = WholeRoute(rules, k, route);
      if (walk.blocked) {
        EXPECT_EQ(exact, RouteRules::kInfeasible);
        EXPECT_EQ(rules.Cost(k, whole, weights), RouteRules::kInfeasible);
        continue;
      }
      const double limit = rules.Agent(k).limit;
      const double capacity = rules.Agent(k).capacity;
      // The load by hand: the demands of the targets only.
      double load = 0;
      for (size_t i = 1; i + 1 < route.size(); ++i) load += instance.tables.Demand(route[i]);
      const double overload = capacity > 0 ? std::max(0.0, load - capacity) : 0.0;
      const double by_hand = walk.duration + weights.warp * walk.warp +
                             weights.excess * (limit > 0 ? std::max(0.0, walk.duration - limit) : 0.0) +
                             weights.overload * overload;
      EXPECT_EQ(walk.load, load);
      EXPECT_EQ(whole.load, load);
      EXPECT_EQ(walk.overload, overload);
      const double tolerance = 1e-7 * std::max(1.0, exact);
      EXPECT_NEAR(exact, by_hand, tolerance);
      EXPECT_NEAR(whole.duration, walk.duration, tolerance);
      EXPECT_NEAR(whole.warp, walk.warp, tolerance);
      EXPECT_NEAR(rules.Cost(k, whole, weights), exact, tolerance);
      // Prefix up to a random node joined to the suffix from the next one.
      Solution solution(rules);
      solution.SetTargets(k, route.data() + 1, count);
      solution.Refresh(k, weights);
      EXPECT_NEAR(solution.Route(k).cost, exact, tolerance);
      const EngineRoute& stored = solution.Route(k);
      const size_t cut = random() % (route.size() - 1);
      const Segment joined = rules.Join(k, stored.prefix[cut], route[cut], route[cut + 1],
                                        stored.suffix[cut + 1]);
      EXPECT_NEAR(rules.Cost(k, joined, weights), exact, tolerance);
      if (walk.warp > 0 || walk.excess > 0) ++penalised;
      if (overload > 0) ++overloaded;
      EXPECT_EQ(walk.feasible,
                walk.warp == 0 && (limit <= 0 || walk.duration <= limit) && overload == 0);
      // Under hard rules a route over its capacity is infeasible.
      if (overload > 0) {
        EXPECT_EQ(rules.Cost(k, whole, PenaltyWeights{}), RouteRules::kInfeasible);
      }
    }
  }
  EXPECT_GT(penalised, 100u);  // the penalties were exercised
  EXPECT_GT(overloaded, 50u);
}

}  // namespace
}  // namespace tarsel
