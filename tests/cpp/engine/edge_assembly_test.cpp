#include <gtest/gtest.h>

#include <algorithm>
#include <set>
#include <utility>
#include <vector>

#include "common/special_values.h"
#include "engine/adaptive_choice.h"
#include "engine/edge_assembly.h"
#include "engine/granular_neighbours.h"
#include "engine/random.h"
#include "engine/random_instance.h"
#include "engine/route_rules.h"
#include "engine/solution.h"

namespace tarsel {
namespace {

using engine_test::InstanceKinds;
using engine_test::MakeRandomInstance;
using Edge = std::pair<size_t, size_t>;

void SetRoutes(Solution& solution, const std::vector<std::vector<size_t>>& routes) {
  const PenaltyWeights weights{};
  solution.Clear(weights);
  for (size_t k = 0; k < routes.size(); ++k) {
    solution.SetTargets(k, routes[k].data(), routes[k].size());
    solution.Refresh(k, weights);
  }
}

// The targets dealt at random into `agents` routes.
std::vector<std::vector<size_t>> RandomRoutes(const RouteRules& rules, Random& random) {
  std::vector<size_t> targets = rules.Targets();
  random.Shuffle(targets);
  std::vector<std::vector<size_t>> routes(rules.NumAgents());
  for (const size_t node : targets) routes[random.Below(routes.size())].push_back(node);
  return routes;
}

// Edges of a closed tour given by successors; undirected ones as (low, high).
std::set<Edge> EdgesOf(const std::vector<size_t>& succ, bool undirected) {
  std::set<Edge> edges;
  for (size_t v = 0; v < succ.size(); ++v) {
    if (succ[v] == kNoIndex) continue;
    Edge edge{v, succ[v]};
    if (undirected && edge.first > edge.second) std::swap(edge.first, edge.second);
    edges.insert(edge);
  }
  return edges;
}

// Vertices a closed tour passes before it comes back to `from`.
size_t TourLength(const std::vector<size_t>& succ, size_t from) {
  size_t length = 0;
  size_t at = from;
  do {
    at = succ[at];
    ++length;
  } while (at != from && length <= succ.size());
  return length;
}

// On symmetric and asymmetric matrices, one depot or one per agent, open or
// closed routes: the child is one tour through every target and depot
// copy, handed back as a giant tour holding each target once and an order
// naming each agent once, and its every edge is one of a parent's or one
// its joining of subtours added.
TEST(EdgeAssembly, ChildVisitsEveryTargetOnceWithParentsEdgesAndJoinsOnly) {
  Random random(11);
  size_t undirected_runs = 0;
  size_t directed_runs = 0;
  size_t joined_runs = 0;
  for (unsigned seed = 1; seed <= 40; ++seed) {
    InstanceKinds kinds;
    kinds.nodes = 10 + seed % 25;
    kinds.agents = 1 + seed % 4;
    kinds.types = 1;
    kinds.symmetric = seed % 2 == 0;
    kinds.own_depots = seed % 5 == 3;
    kinds.open_routes = seed % 7 == 4;
    engine_test::RandomInstance instance = MakeRandomInstance(kinds, seed);
    RouteRules rules(instance.tables);
    GranularNeighbours neighbours(rules, 5);
    EdgeAssembly crossover(rules, neighbours);
    ASSERT_TRUE(crossover.Applicable());
    const bool undirected = crossover.Undirected();
    EXPECT_EQ(undirected, kinds.symmetric && !kinds.own_depots && !kinds.open_routes) << "seed " << seed;
    Solution first(rules), second(rules);
    for (int trial = 0; trial < 5; ++trial) {
      SetRoutes(first, RandomRoutes(rules, random));
      SetRoutes(second, RandomRoutes(rules, random));
      std::vector<size_t> tour, order;
      ASSERT_TRUE(crossover.Cross(first, second, random, tour, order));
      std::vector<size_t> sorted = tour;
      std::sort(sorted.begin(), sorted.end());
      std::vector<size_t> targets = rules.Targets();
      std::sort(targets.begin(), targets.end());
      EXPECT_EQ(sorted, targets) << "seed " << seed;
      std::vector<size_t> agents = order;
      std::sort(agents.begin(), agents.end());
      std::vector<size_t> all_agents(rules.NumAgents());
      for (size_t k = 0; k < all_agents.size(); ++k) all_agents[k] = k;
      EXPECT_EQ(agents, all_agents) << "seed " << seed;

      const std::vector<size_t>& child = crossover.ChildSuccessors();
      EXPECT_EQ(TourLength(child, rules.NumNodes()), targets.size() + rules.NumAgents()) << "seed " << seed;
      std::vector<size_t> succ_first, succ_second;
      crossover.ParentSuccessors(first, succ_first);
      crossover.ParentSuccessors(second, succ_second);
      std::set<Edge> allowed = EdgesOf(succ_first, undirected);
      const std::set<Edge> of_second = EdgesOf(succ_second, undirected);
      allowed.insert(of_second.begin(), of_second.end());
      for (Edge join : crossover.JoiningEdges()) {
        if (undirected && join.first > join.second) std::swap(join.first, join.second);
        allowed.insert(join);
      }
      for (const Edge& edge : EdgesOf(child, undirected)) {
        EXPECT_TRUE(allowed.count(edge) == 1) << "seed " << seed << " edge " << edge.first << "-" << edge.second;
      }
      (undirected ? undirected_runs : directed_runs) += 1;
      if (!crossover.JoiningEdges().empty()) ++joined_runs;
    }
  }
  EXPECT_GT(undirected_runs, 0u);
  EXPECT_GT(directed_runs, 0u);
  EXPECT_GT(joined_runs, 0u);  // subtours were met and joined
}

// Two parents one 2-opt move apart differ by a single AB-cycle, and
// applying it to the first gives exactly the second: no subtour to join.
// Parents that share every edge give no child.
TEST(EdgeAssembly, ParentsOneExchangeApartGiveTheSecondParent) {
  InstanceKinds kinds;
  kinds.nodes = 8;
  kinds.agents = 2;
  kinds.types = 1;
  kinds.symmetric = true;
  engine_test::RandomInstance instance = MakeRandomInstance(kinds, 3);
  RouteRules rules(instance.tables);
  GranularNeighbours neighbours(rules, 4);
  EdgeAssembly crossover(rules, neighbours);
  ASSERT_TRUE(crossover.Undirected());
  Solution first(rules), second(rules);
  // Targets 1..7; node 0 is the depot.
  SetRoutes(first, {{1, 2, 3, 4}, {5, 6, 7}});
  SetRoutes(second, {{1, 3, 2, 4}, {5, 6, 7}});
  Random random(1);
  std::vector<size_t> tour, order;
  ASSERT_TRUE(crossover.Cross(first, second, random, tour, order));
  EXPECT_TRUE(crossover.JoiningEdges().empty());
  EXPECT_EQ(tour, (std::vector<size_t>{1, 3, 2, 4, 5, 6, 7}));
  EXPECT_EQ(order, (std::vector<size_t>{0, 1}));

  // The same routes in the other direction share every undirected edge.
  SetRoutes(second, {{4, 3, 2, 1}, {5, 6, 7}});
  EXPECT_TRUE(crossover.Cross(first, second, random, tour, order));  // the depot copies' sides differ
  EXPECT_FALSE(crossover.Cross(first, first, random, tour, order));
}

// Directed: a target moved elsewhere in the second parent; the child keeps
// only parents' edges and joins, and the move itself is one AB-cycle.
TEST(EdgeAssembly, DirectedParentsOneMoveApartGiveTheSecondParent) {
  InstanceKinds kinds;
  kinds.nodes = 8;
  kinds.agents = 2;
  kinds.types = 1;
  engine_test::RandomInstance instance = MakeRandomInstance(kinds, 4);
  RouteRules rules(instance.tables);
  GranularNeighbours neighbours(rules, 4);
  EdgeAssembly crossover(rules, neighbours);
  ASSERT_FALSE(crossover.Undirected());
  Solution first(rules), second(rules);
  SetRoutes(first, {{1, 2, 3, 4}, {5, 6, 7}});
  SetRoutes(second, {{1, 3, 4}, {5, 2, 6, 7}});
  Random random(2);
  std::vector<size_t> tour, order;
  ASSERT_TRUE(crossover.Cross(first, second, random, tour, order));
  EXPECT_TRUE(crossover.JoiningEdges().empty());
  EXPECT_EQ(tour, (std::vector<size_t>{1, 3, 4, 5, 2, 6, 7}));
  EXPECT_EQ(order, (std::vector<size_t>{0, 1}));
}

// Probability matching: uniform at the start, the floor kept, the rest
// shared in proportion to the running mean of the rewards.
TEST(AdaptiveChoice, ProbabilitiesFollowRewardsAboveTheFloor) {
  AdaptiveChoice choice(2, 0.1, 0.5);
  EXPECT_DOUBLE_EQ(choice.Probability(0), 0.5);
  EXPECT_DOUBLE_EQ(choice.Probability(1), 0.5);
  choice.Reward(1, 0.0);  // q = (1, 0.5)
  EXPECT_DOUBLE_EQ(choice.Quality(1), 0.5);
  EXPECT_DOUBLE_EQ(choice.Probability(0), 0.1 + 0.8 * 1.0 / 1.5);
  EXPECT_DOUBLE_EQ(choice.Probability(1), 0.1 + 0.8 * 0.5 / 1.5);
  for (int i = 0; i < 60; ++i) choice.Reward(1, 0.0);
  EXPECT_NEAR(choice.Probability(1), 0.1, 1e-12);  // never below the floor
  EXPECT_NEAR(choice.Probability(0), 0.9, 1e-12);
  choice.Reward(0, 0.0);
  choice.Reward(0, 0.0);  // q0 = 0.25
  EXPECT_NEAR(choice.Probability(0), 0.9, 1e-12);  // still all the share above the floor
  // With every quality exactly 0 the choice is uniform.
  AdaptiveChoice none(3, 0.05, 1.0);
  for (size_t option = 0; option < 3; ++option) none.Reward(option, 0.0);
  for (size_t option = 0; option < 3; ++option) EXPECT_DOUBLE_EQ(none.Probability(option), 1.0 / 3.0);

  // Picks follow the probabilities.
  AdaptiveChoice picks(2, 0.1, 1.0);
  picks.Reward(1, 0.0);  // p = (0.9, 0.1)
  Random random(7);
  size_t first = 0;
  const size_t draws = 20000;
  for (size_t i = 0; i < draws; ++i) first += picks.Pick(random) == 0 ? 1 : 0;
  EXPECT_NEAR(static_cast<double>(first) / draws, 0.9, 0.01);
}

}  // namespace
}  // namespace tarsel
