#include <gtest/gtest.h>

#include <algorithm>
#include <set>
#include <vector>

#include "common/test_tables.h"
#include "engine/decomposition.h"
#include "engine/engine_settings.h"
#include "engine/improvement_engine.h"
#include "engine/objective_value.h"
#include "engine/random.h"
#include "engine/random_instance.h"
#include "engine/route_rules.h"

namespace tarsel {
namespace {

using engine_test::InstanceKinds;
using engine_test::MakeRandomInstance;

// Targets dealt at random into routes of the agents that may serve them
// (start, targets, end per agent).
std::vector<std::vector<size_t>> RandomRoutes(const RouteRules& rules, Random& random) {
  std::vector<std::vector<size_t>> routes(rules.NumAgents());
  std::vector<size_t> targets = rules.Targets();
  random.Shuffle(targets);
  for (size_t k = 0; k < routes.size(); ++k) routes[k].push_back(rules.Agent(k).start);
  for (const size_t node : targets) {
    size_t k = random.Below(routes.size());
    for (size_t tries = 0; tries < routes.size() && !rules.CanServe(k, node); ++tries) k = (k + 1) % routes.size();
    routes[k].push_back(node);
  }
  for (size_t k = 0; k < routes.size(); ++k) routes[k].push_back(rules.Agent(k).goal);
  return routes;
}

ObjectiveValue ValueOf(const RouteRules& rules, const std::vector<std::vector<size_t>>& routes,
                       const std::vector<size_t>& agents) {
  ObjectiveValue value;
  for (const size_t k : agents) {
    const double cost = rules.ExactCost(k, routes[k], PenaltyWeights{});
    value.longest = std::max(value.longest, cost);
    value.total += cost;
  }
  return value;
}

// Every kind of instance (windows, limits, open routes, own depots,
// missing arcs, restricted types, capacities): the subproblem of some
// routes prices each of them exactly as the whole does, under hard rules
// and under penalties, and putting its starting routes back restores them.
TEST(Decomposition, SubproblemPricesItsRoutesAsTheWholeDoes) {
  Random random(3);
  unsigned seed = 0;
  for (InstanceKinds kinds : engine_test::AllKinds()) {
    kinds.nodes = 16;
    kinds.agents = 4;
    engine_test::RandomInstance instance = MakeRandomInstance(kinds, ++seed);
    RouteRules whole(instance.tables);
    const std::vector<std::vector<size_t>> routes = RandomRoutes(whole, random);
    const std::vector<size_t> agents = {1, 3};
    Subproblem sub;
    ExtractSubproblem(instance.tables, routes, agents, sub);
    RouteRules part(sub.tables);
    ASSERT_EQ(part.NumAgents(), 2u);
    const PenaltyWeights penalties{true, 3.0, 5.0, 7.0};
    std::set<size_t> expected_targets;
    for (size_t i = 0; i < agents.size(); ++i) {
      const std::vector<uint64_t>& path64 = sub.start.paths.at(i);
      const std::vector<size_t> path(path64.begin(), path64.end());
      ASSERT_EQ(path.size(), routes[agents[i]].size());
      for (size_t j = 0; j < path.size(); ++j) EXPECT_EQ(sub.nodes[path[j]], routes[agents[i]][j]);
      EXPECT_EQ(part.ExactCost(i, path, PenaltyWeights{}), whole.ExactCost(agents[i], routes[agents[i]], PenaltyWeights{}))
          << "kinds " << seed;
      EXPECT_DOUBLE_EQ(part.ExactCost(i, path, penalties), whole.ExactCost(agents[i], routes[agents[i]], penalties))
          << "kinds " << seed;
      for (size_t j = 1; j + 1 < routes[agents[i]].size(); ++j) expected_targets.insert(routes[agents[i]][j]);
    }
    std::set<size_t> sub_targets;
    for (const size_t node : part.Targets()) sub_targets.insert(sub.nodes[node]);
    EXPECT_EQ(sub_targets, expected_targets);
    std::vector<std::vector<size_t>> back = routes;
    for (const size_t k : agents) back[k].assign(1, 0);
    ASSERT_TRUE(PutBack(sub, sub.start, back));
    EXPECT_EQ(back, routes);
  }
}

// Extract, solve with the engine, put back: every target stays served
// once, the other routes are untouched and the chosen routes are no worse.
TEST(Decomposition, SolvedSubproblemPutBackKeepsAValidSolutionNoWorse) {
  for (const bool min_max : {true, false}) {
    InstanceKinds kinds;
    kinds.nodes = 40;
    kinds.agents = 5;
    kinds.types = 2;
    engine_test::RandomInstance instance = MakeRandomInstance(kinds, min_max ? 8 : 9);
    RouteRules whole(instance.tables);
    Random random(5);
    const std::vector<std::vector<size_t>> routes = RandomRoutes(whole, random);
    const std::vector<size_t> agents = NeighbouringRoutes(instance.tables, routes, 3, random);
    ASSERT_EQ(agents.size(), 3u);
    Subproblem sub;
    ExtractSubproblem(instance.tables, routes, agents, sub);
    for (size_t i = 0; i < agents.size(); ++i) {
      sub.start.times[i] = whole.ExactCost(agents[i], routes[agents[i]], PenaltyWeights{});
    }
    EngineSettings settings;
    settings.min_max = min_max;
    settings.seed = 2;
    settings.max_iterations = 40;
    settings.deadline = 1e9;
    settings.clock = [] { return 0.0; };
    const EngineOutcome outcome = RunImprovementEngine(sub.tables, &sub.start, settings);
    ASSERT_TRUE(outcome.improved);  // random routes leave much to gain
    std::vector<std::vector<size_t>> back = routes;
    ASSERT_TRUE(PutBack(sub, outcome.result, back));
    std::vector<int> served(instance.tables.NumNodes(), 0);
    for (size_t k = 0; k < back.size(); ++k) {
      ASSERT_GE(back[k].size(), 2u);
      EXPECT_EQ(back[k].front(), whole.Agent(k).start);
      EXPECT_EQ(back[k].back(), whole.Agent(k).goal);
      EXPECT_LT(whole.ExactCost(k, back[k], PenaltyWeights{}), RouteRules::kInfeasible);
      for (size_t i = 1; i + 1 < back[k].size(); ++i) served[back[k][i]] += 1;
      if (std::find(agents.begin(), agents.end(), k) == agents.end()) {
        EXPECT_EQ(back[k], routes[k]);
      }
    }
    for (size_t v = 0; v < served.size(); ++v) EXPECT_EQ(served[v], whole.IsTarget(v) ? 1 : 0);
    EXPECT_TRUE(Improves(ValueOf(whole, back, agents), ValueOf(whole, routes, agents), min_max));
  }
}

// Routes are chosen next to each other by the angle of their barycentres
// around the depot (cyclically), never a route without targets.
TEST(Decomposition, NeighbouringRoutesAreAdjacentByAngle) {
  InstanceKinds kinds;
  kinds.nodes = 9;
  kinds.agents = 5;
  kinds.types = 1;
  engine_test::RandomInstance instance = MakeRandomInstance(kinds, 1);
  // Depot 0 at the origin; two targets each at 0, 90, 180 and 270 degrees.
  const std::vector<std::pair<int64_t, int64_t>> at = {{0, 0},  {10, 1},  {10, -1}, {1, 10},  {-1, 10},
                                                       {-10, 1}, {-10, -1}, {1, -10}, {-1, -10}};
  std::vector<NodeInfo> nodes = instance.tables.Nodes();
  for (size_t i = 0; i < nodes.size(); ++i) {
    nodes[i].x = at[i].first;
    nodes[i].y = at[i].second;
  }
  instance.tables.SetNodes(nodes);
  // Agent 0 at 180, 1 at 0, 2 at 90, 3 at 270 degrees, 4 idle.
  const std::vector<std::vector<size_t>> routes = {{0, 5, 6, 0}, {0, 1, 2, 0}, {0, 3, 4, 0}, {0, 7, 8, 0}, {0, 0}};
  const std::set<std::vector<size_t>> adjacent = {{1, 3}, {1, 2}, {0, 2}, {0, 3}};
  std::set<std::vector<size_t>> seen;
  Random random(9);
  for (int draw = 0; draw < 200; ++draw) {
    const std::vector<size_t> chosen = NeighbouringRoutes(instance.tables, routes, 2, random);
    EXPECT_EQ(adjacent.count(chosen), 1u) << chosen[0] << "," << chosen[1];
    seen.insert(chosen);
  }
  EXPECT_EQ(seen, adjacent);
  EXPECT_EQ(NeighbouringRoutes(instance.tables, routes, 9, random).size(), 4u);
}

}  // namespace
}  // namespace tarsel
