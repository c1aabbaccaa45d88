#include "postopt/route_merging_post_optimizer.h"

#include <gtest/gtest.h>

#include <cmath>

#include "common/special_values.h"
#include "postopt_test_support.h"

namespace tarsel {

struct RouteMergingPostOptimizerTestAccess {
  // Takes the tables and routes as Optimize does, without merging.
  static void Load(RouteMergingPostOptimizer& optimizer, const PlannerGraph* graph,
                   const std::vector<NodeInfo>& nodes, const std::vector<AgentInfo>& agents,
                   Result& result) {
    optimizer.evaluator.Begin(graph, nodes, agents);
    optimizer.LoadRoutes(result);
  }
  static InsertionChoice FindBestInsertion(const RouteMergingPostOptimizer& optimizer,
                                           size_t node, size_t excluded, double bound) {
    return optimizer.FindBestInsertion(node, excluded, bound);
  }
  static bool CanVisit(const RouteMergingPostOptimizer& optimizer, size_t agent, size_t node) {
    return optimizer.CanVisit(agent, node);
  }
};

namespace {

using namespace postopt_testing;
using Path = std::vector<uint64_t>;
using Access = RouteMergingPostOptimizerTestAccess;

Result Optimized(const SparseGraph& graph, const std::vector<NodeInfo>& nodes,
                 const std::vector<AgentInfo>& agents, const RouteRules& rules, Result result) {
  RouteMergingPostOptimizer optimizer;
  Configure(optimizer, rules);
  optimizer.Optimize(&graph, nodes, agents, result);
  return result;
}

TEST(RouteMergingTest, NameIsFixed) {
  EXPECT_EQ(RouteMergingPostOptimizer().Name(), "RouteMergingPostOptimizer");
}

// Line 0:0, 1:5, 2:10, 3:7: node 3 fits on the way of route 0 at no cost.
TEST(RouteMergingTest, DissolvesAShortRouteAndLeavesOtherMembersAlone) {
  Result input = ResultWithPaths({{0, 1, 2, 0}, {0, 3, 0}});
  input.n_generated = 9;
  input.timeout = true;
  const Result result =
      Optimized(LineGraph({0, 5, 10, 7}), OpenNodes(4), MakeAgents({0, 0}), DepotRules(2), input);
  EXPECT_EQ(result.paths.at(0), (Path{0, 1, 3, 2, 0}));
  EXPECT_EQ(result.times.at(0), 20.0);
  EXPECT_EQ(result.paths.at(1), (Path{0, 0}));
  EXPECT_EQ(result.times.at(1), 0.0);
  EXPECT_EQ(result.n_generated, 9);
  EXPECT_TRUE(result.timeout);
}

// Node 3 at -0.25: any insertion makes route 0 cost 20.5 > 20.
TEST(RouteMergingTest, RefusesToExceedTheLongestRouteAtEntry) {
  const Result result =
      Optimized(LineGraph({0, 5, 10, -0.25}), OpenNodes(4), MakeAgents({0, 0}), DepotRules(2),
                ResultWithPaths({{0, 1, 2, 0}, {0, 3, 0}}));
  EXPECT_EQ(result.paths.at(0), (Path{0, 1, 2, 0}));
  EXPECT_EQ(result.paths.at(1), (Path{0, 3, 0}));
  EXPECT_EQ(result.times.at(0), 20.0);
  EXPECT_EQ(result.times.at(1), 0.5);
}

// Route 1 could always join route 0 for free; it may only do so when it is
// shorter than the longest route by more than 1e-9.
TEST(RouteMergingTest, NeverDissolvesTheLongestRoute) {
  const auto run = [](double x2) {
    return Optimized(LineGraph({0, 5, x2}), OpenNodes(3), MakeAgents({0, 0}), DepotRules(2),
                     ResultWithPaths({{0, 1, 0}, {0, 2, 0}}));
  };
  for (double x2 : {5.0, 5.0 - 5e-11}) {
    const Result kept = run(x2);
    EXPECT_EQ(kept.paths.at(0), (Path{0, 1, 0}));
    EXPECT_EQ(kept.paths.at(1), (Path{0, 2, 0}));
    EXPECT_EQ(kept.times.at(1), 2 * x2);
  }
  const Result merged = run(4.0);
  EXPECT_EQ(merged.paths.at(0), (Path{0, 2, 1, 0}));
  EXPECT_EQ(merged.paths.at(1), (Path{0, 0}));
  EXPECT_EQ(merged.times.at(0), 10.0);
}

TEST(RouteMergingTest, WithoutAPositiveRouteNothingChanges) {
  Result input;
  input.paths[0] = {1, 0};  // wrong start
  input.times[0] = 42.0;
  const Result result =
      Optimized(LineGraph({0, 5}), OpenNodes(2), MakeAgents({0, 0}), DepotRules(2), input);
  EXPECT_EQ(result.paths.at(0), (Path{1, 0}));
  EXPECT_EQ(result.times.at(0), 42.0);
  EXPECT_TRUE(result.paths.at(1).empty());  // inserted for the missing agent
  EXPECT_EQ(result.times.count(1), 0u);
}

// Agent 1 runs from depot 3 (x=6) to depot 4 (x=9); once its node 5 has
// moved, the arc 3 -> 4 is what its route still costs.
TEST(RouteMergingTest, DissolvedRouteReportsTheCostOfWhatIsLeft) {
  RouteRules rules;
  rules.starts = {0, 3};
  rules.goals = {0, 4};
  const Result result =
      Optimized(LineGraph({0, 5, 10, 6, 9, 5.5}), OpenNodes(6), MakeAgents({0, 0}), rules,
                ResultWithPaths({{0, 1, 2, 0}, {3, 5, 4}}));
  EXPECT_EQ(result.paths.at(0), (Path{0, 1, 5, 2, 0}));
  EXPECT_EQ(result.times.at(0), 20.0);
  EXPECT_EQ(result.paths.at(1), (Path{3, 4}));
  EXPECT_EQ(result.times.at(1), 3.0);
}

// As above, but agent 1 cannot go from 3 to 4 directly: over a missing arc,
// or beyond its limit. Dissolving its route would leave no valid route, so
// nothing moves (the merge once reported the remainder at cost 0).
TEST(RouteMergingTest, KeepsARouteWhoseRemainderWouldBeInvalid) {
  RouteRules rules;
  rules.starts = {0, 3};
  rules.goals = {0, 4};
  const Result input = ResultWithPaths({{0, 1, 2, 0}, {3, 5, 4}});
  std::vector<std::vector<double>> matrix(6, std::vector<double>(6));
  const std::vector<double> xs = {0, 5, 10, 6, 9, 5.5};
  for (size_t i = 0; i < 6; ++i) {
    for (size_t j = 0; j < 6; ++j) matrix[i][j] = std::fabs(xs[i] - xs[j]);
  }
  matrix[3][4] = kNoConnection;
  Result result = Optimized(MatrixGraph({matrix}), OpenNodes(6), MakeAgents({0, 0}), rules, input);
  EXPECT_EQ(result.paths.at(1), (Path{3, 5, 4}));
  EXPECT_EQ(result.times.at(1), 4.0);
  EXPECT_EQ(result.paths.at(0), (Path{0, 1, 2, 0}));

  // The direct arc exists but costs 10, over agent 1's limit of 5.
  matrix[3][4] = 10;
  result = Optimized(MatrixGraph({matrix}), OpenNodes(6), MakeAgents({0, 0}, {0, 5}), rules,
                     input);
  EXPECT_EQ(result.paths.at(1), (Path{3, 5, 4}));
  EXPECT_EQ(result.times.at(1), 4.0);
  // Without the limit the route is dissolved and its remainder pays 10.
  result = Optimized(MatrixGraph({matrix}), OpenNodes(6), MakeAgents({0, 0}), rules, input);
  EXPECT_EQ(result.paths.at(1), (Path{3, 4}));
  EXPECT_EQ(result.times.at(1), 10.0);
}

// Agent 2 (type 2) holds nodes 3 (x=3) and 4 (x=-3); agent 1 (type 0, limit
// 9) can take either alone but not both; agent 0 (type 1) can take neither.
TEST(RouteMergingTest, NodeThatNoLongerFitsStaysAndItsRouteKeepsItsCost) {
  const std::vector<NodeInfo> nodes = MakeNodes({{0, 1, 2}, {0}, {1}, {0, 2}, {0, 2}});
  const Result result =
      Optimized(LineGraph({0, 1, 10, 3, -3}, 3), nodes, MakeAgents({1, 0, 2}, {0, 9, 0}),
                DepotRules(3), ResultWithPaths({{0, 2, 0}, {0, 1, 0}, {0, 3, 4, 0}}));
  EXPECT_EQ(result.paths.at(0), (Path{0, 2, 0}));
  EXPECT_EQ(result.paths.at(1), (Path{0, 3, 1, 0}));
  EXPECT_EQ(result.paths.at(2), (Path{0, 4, 0}));
  EXPECT_EQ(result.times.at(0), 20.0);
  EXPECT_EQ(result.times.at(1), 6.0);
  EXPECT_EQ(result.times.at(2), 6.0);
}

// Node 3 costs 20 in route 0 (increase 18) and 20 + gap in route 1
// (increase gap): within 1e-9 the smaller increase wins.
TEST(RouteMergingTest, NearTieGoesToTheSmallerIncrease) {
  const auto choose = [](double gap) {
    std::vector<std::vector<double>> d(4, std::vector<double>(4, 50.0));
    d[0][1] = d[1][0] = 1.0;
    d[0][2] = d[2][0] = 10.0;
    d[0][3] = 10.0;
    d[3][1] = 9.0;
    d[3][2] = gap;
    const SparseGraph graph = MatrixGraph({d});
    RouteMergingPostOptimizer optimizer;
    Configure(optimizer, DepotRules(3));
    Result result = ResultWithPaths({{0, 1, 0}, {0, 2, 0}, {0, 3, 0}});
    Access::Load(optimizer, &graph, OpenNodes(4), MakeAgents({0, 0, 0}), result);
    return Access::FindBestInsertion(optimizer, 3, 2, 100.0);
  };
  const InsertionChoice near = choose(5e-10);
  EXPECT_TRUE(near.found);
  EXPECT_EQ(near.agent, 1u);
  EXPECT_EQ(near.position, 1u);
  EXPECT_EQ(near.cost, 10.0 + 5e-10 + 10.0);

  const InsertionChoice apart = choose(2e-9);
  EXPECT_EQ(apart.agent, 0u);
  EXPECT_EQ(apart.position, 1u);
  EXPECT_EQ(apart.cost, 20.0);
}

// Agent 1 (type 1) runs from depot 1 to depot 2; node 3 allows type 0 only.
TEST(RouteMergingTest, NodesGoOnlyWhereTheirTypeAndOtherDepotsAllow) {
  const SparseGraph graph = LineGraph({0, 1, 2, 3}, 2);
  RouteMergingPostOptimizer optimizer;
  Configure(optimizer, RouteRules{true, {0, 1, 0}, {0, 2, 0}, {}});
  Result result = ResultWithPaths({{0, 0}, {1, 2}, {0, 0}});
  Access::Load(optimizer, &graph, MakeNodes({{0, 1}, {0, 1}, {0, 1}, {0}}), MakeAgents({0, 1, 0}),
               result);
  EXPECT_TRUE(Access::CanVisit(optimizer, 0, 3));
  EXPECT_FALSE(Access::CanVisit(optimizer, 1, 3));
  EXPECT_FALSE(Access::CanVisit(optimizer, 0, 1));  // agent 1's start
  EXPECT_FALSE(Access::CanVisit(optimizer, 0, 2));  // agent 1's goal
  EXPECT_TRUE(Access::CanVisit(optimizer, 1, 2));
  EXPECT_FALSE(Access::FindBestInsertion(optimizer, 2, 1, 100.0).found);
  // Route 1 would be the cheapest place for node 3, but its type is not allowed.
  const InsertionChoice choice = Access::FindBestInsertion(optimizer, 3, 0, 100.0);
  EXPECT_TRUE(choice.found);
  EXPECT_EQ(choice.agent, 2u);
  EXPECT_EQ(choice.cost, 6.0);
}

}  // namespace
}  // namespace tarsel
