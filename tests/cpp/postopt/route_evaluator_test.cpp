#include "postopt/route_evaluator.h"

#include <gtest/gtest.h>

#include "common/special_values.h"
#include "postopt/path_views.h"
#include "postopt_test_support.h"

namespace tarsel {
namespace {

using namespace postopt_testing;
using Path = std::vector<size_t>;

// Six nodes; arc u -> v costs 10u + v for type 0 and 100 + 10u + v for type
// 1, so every arc of a route can be read off its cost. Agent 0 (type 0)
// starts and ends at 0, agent 1 (type 1) starts at 1 and ends at 5, agent 2
// has no type. Node 3 allows only type 0, node 4 allows nothing.
class RouteEvaluatorTest : public ::testing::Test {
 protected:
  RouteEvaluatorTest() {
    std::vector<std::vector<std::vector<double>>> costs(
        2, std::vector<std::vector<double>>(6, std::vector<double>(6)));
    for (size_t u = 0; u < 6; ++u) {
      for (size_t v = 0; v < 6; ++v) {
        costs[0][u][v] = 10.0 * u + v;
        costs[1][u][v] = 100.0 + 10.0 * u + v;
      }
    }
    graph = MatrixGraph(costs);
    nodes = MakeNodes({{0, 1}, {0, 1}, {0, 1}, {0}, {}, {0, 1}});
    agents = MakeAgents({0, 1, -1});
    Setup(true);
  }

  void Setup(bool return_to_end) {
    evaluator.SetReturnToEnd(return_to_end);
    evaluator.SetStarts({0, 1, 0});
    evaluator.SetGoals({0, 5, 0});
    evaluator.SetTimeWindows(time_windows);
    evaluator.Begin(&graph, nodes, agents);
  }

  RouteEvaluation Eval(const Path& path, size_t agent) const {
    return evaluator.EvaluateRoute(path, agent);
  }

  SparseGraph graph;
  std::vector<NodeInfo> nodes;
  std::vector<AgentInfo> agents;
  TimeWindowTable time_windows;
  RouteEvaluator evaluator;
};

TEST_F(RouteEvaluatorTest, ClosedRoutePaysEveryArcOfItsType) {
  EXPECT_TRUE(Eval({}, 0).valid);
  EXPECT_EQ(Eval({}, 0).cost, 0.0);
  EXPECT_EQ(Eval({0, 2, 3, 0}, 0).cost, 2.0 + 23.0 + 30.0);
  EXPECT_TRUE(Eval({1, 2, 5}, 1).valid);
  EXPECT_EQ(Eval({1, 2, 5}, 1).cost, 112.0 + 125.0);
  // Staying on a node is free.
  EXPECT_EQ(Eval({0, 2, 2, 0}, 0).cost, 2.0 + 20.0);
}

// A paid arc at or above the tables' missing-cost threshold is no arc; the
// free legs of open routes use none.
TEST(RouteEvaluatorMissingArcs, RoutesOverMissingArcsAreInvalid) {
  std::vector<std::vector<double>> matrix = {{0, 1, 2}, {1, 0, kNoConnection}, {2, 20000, 0}};
  const SparseGraph graph = MatrixGraph({matrix});
  RouteEvaluator evaluator;
  evaluator.SetStarts({0});
  evaluator.SetGoals({0});
  evaluator.SetReturnToEnd(true);
  evaluator.Begin(&graph, OpenNodes(3), MakeAgents({0}));
  EXPECT_FALSE(evaluator.EvaluateRoute(Path{0, 1, 2, 0}, 0).valid);
  EXPECT_FALSE(evaluator.EvaluateRoute(Path{0, 2, 1, 0}, 0).valid);
  EXPECT_TRUE(evaluator.EvaluateRoute(Path{0, 1, 0}, 0).valid);
  evaluator.SetReturnToEnd(false);
  EXPECT_TRUE(evaluator.EvaluateRoute(Path{0, 1, 0}, 0).valid);

  // Shared tables carry the threshold of the solve.
  InstanceTables tables;
  tables.SetGraph(&graph);
  tables.SetNodes(OpenNodes(3));
  tables.SetAgents(MakeAgents({0}));
  tables.SetStarts({0});
  tables.SetGoals({0});
  tables.SetMissingCost(50000);
  RouteEvaluator shared;
  shared.Attach(tables);
  const RouteEvaluation evaluation = shared.EvaluateRoute(Path{0, 1, 2, 0}, 0);
  EXPECT_TRUE(evaluation.valid);
  EXPECT_EQ(evaluation.cost, 1 + kNoConnection + 2);
  EXPECT_EQ(shared.EvaluateRoute(Path{0, 2, 1, 0}, 0).cost, 2 + 20000 + 1);
}

TEST_F(RouteEvaluatorTest, EachRouteRuleRejectsOnItsOwn) {
  EXPECT_FALSE(Eval({1, 2, 0}, 0).valid);     // does not start at the own start
  EXPECT_FALSE(Eval({0, 2, 3}, 0).valid);     // does not end at the goal
  EXPECT_FALSE(Eval({1, 2, 1}, 1).valid);     // closed route ending at its start
  EXPECT_FALSE(Eval({0, 2, 0, 3, 0}, 0).valid);  // own start in the middle
  EXPECT_FALSE(Eval({0, 4, 0}, 0).valid);     // node allowing no type
  EXPECT_FALSE(Eval({1, 3, 5}, 1).valid);     // node not allowing type 1
  EXPECT_FALSE(Eval({0, 1, 0}, 0).valid);     // another agent's start
  EXPECT_FALSE(Eval({0, 5, 0}, 0).valid);     // another agent's goal
  EXPECT_FALSE(Eval({0, 2, 0}, 2).valid);     // agent without a type
  EXPECT_TRUE(Eval({}, 2).valid);
}

TEST_F(RouteEvaluatorTest, OpenRoutesEndAtStartOrGoalAndSkipTheArcIntoThem) {
  Setup(false);
  // (s, a, s) costs exactly the arc s -> a.
  EXPECT_EQ(Eval({0, 2, 0}, 0).cost, 2.0);
  EXPECT_EQ(Eval({0, 2, 3, 0}, 0).cost, 2.0 + 23.0);
  EXPECT_TRUE(Eval({1, 2, 1}, 1).valid);
  EXPECT_EQ(Eval({1, 2, 1}, 1).cost, 112.0);
  EXPECT_EQ(Eval({1, 2, 5}, 1).cost, 112.0);
  EXPECT_FALSE(Eval({1, 2}, 1).valid);  // ends at neither
}

TEST_F(RouteEvaluatorTest, TimeWindowsMakeRoutesWaitOrFail) {
  time_windows = {{2, {50.0, 60.0}}};
  Setup(true);
  EXPECT_EQ(Eval({0, 2, 0}, 0).cost, 50.0 + 20.0);  // waits at 2 until 50
  time_windows[3] = {0.0, 10.0};
  Setup(true);
  EXPECT_FALSE(Eval({0, 2, 3, 0}, 0).valid);  // reaches 3 at 73, after it closes
  EXPECT_TRUE(Eval({0, 3, 2, 0}, 0).valid);   // reaches 3 at 3

  // A window on the first node applies before the route leaves.
  time_windows = {{0, {5.0, 100.0}}};
  Setup(true);
  EXPECT_EQ(Eval({0, 2, 0}, 0).cost, 5.0 + 2.0 + 20.0);
}

TEST_F(RouteEvaluatorTest, WaitingCountsTowardsTheTimeLimit) {
  agents[0].time_limit = 60.0;
  Setup(true);
  EXPECT_TRUE(Eval({0, 2, 0}, 0).valid);  // 22 without waiting
  time_windows = {{2, {50.0, 60.0}}};
  Setup(true);
  EXPECT_FALSE(Eval({0, 2, 0}, 0).valid);  // 70 after waiting
  agents[0].time_limit = 20.0;
  time_windows.clear();
  Setup(true);
  EXPECT_FALSE(Eval({0, 2, 0}, 0).valid);
}

TEST_F(RouteEvaluatorTest, ViewsEvaluateLikeTheChangedPath) {
  const Path path = {0, 2, 3, 2, 0};
  EXPECT_EQ(Eval(Path{0, 3, 2, 2, 0}, 0).cost,
            evaluator.EvaluateRoute(ReversedSegmentView(path, 1, 2), 0).cost);
  EXPECT_EQ(Eval(Path{0, 2, 2, 0}, 0).cost,
            evaluator.EvaluateRoute(RemovedNodeView(path, 2), 0).cost);
  EXPECT_EQ(Eval(Path{0, 2, 3, 3, 2, 0}, 0).cost,
            evaluator.EvaluateRoute(InsertedNodeView(path, 3, 3), 0).cost);
  EXPECT_FALSE(evaluator.EvaluateRoute(InsertedNodeView(path, 0, 1), 0).valid);
}

// Square depot (0,0), A (0,10), B (10,10), C (10,0) with euclidean costs.
class TwoOptTest : public ::testing::Test {
 protected:
  TwoOptTest() {
    const double xs[] = {0, 0, 10, 10};
    const double ys[] = {0, 10, 10, 0};
    std::vector<std::vector<double>> matrix(4, std::vector<double>(4));
    for (size_t i = 0; i < 4; ++i) {
      for (size_t j = 0; j < 4; ++j) matrix[i][j] = std::hypot(xs[i] - xs[j], ys[i] - ys[j]);
    }
    graph = MatrixGraph({matrix});
  }

  void Begin(const TimeWindowTable& windows) {
    evaluator.SetStarts({0});
    evaluator.SetGoals({0});
    evaluator.SetTimeWindows(windows);
    evaluator.Begin(&graph, OpenNodes(4), MakeAgents({0}));
  }

  SparseGraph graph;
  RouteEvaluator evaluator;
};

TEST_F(TwoOptTest, UncrossesACrossingRoute) {
  Begin({});
  Path path = {0, 1, 3, 2, 0};
  double cost = evaluator.EvaluateRoute(path, 0).cost;
  evaluator.ImproveRouteTwoOpt(path, cost, 0);
  EXPECT_EQ(path, (Path{0, 1, 2, 3, 0}));
  EXPECT_EQ(cost, 40.0);
}

TEST_F(TwoOptTest, KeepsShortRoutesAndRoutesWhoseReversalBreaksAWindow) {
  Begin({});
  Path short_path = {0, 2, 0};
  double cost = 99.0;
  evaluator.ImproveRouteTwoOpt(short_path, cost, 0);
  EXPECT_EQ(short_path, (Path{0, 2, 0}));
  EXPECT_EQ(cost, 99.0);

  // C closes at 25: the uncrossed route would reach it at 30.
  Begin({{3, {0.0, 25.0}}});
  Path path = {0, 1, 3, 2, 0};
  cost = evaluator.EvaluateRoute(path, 0).cost;
  const double before = cost;
  evaluator.ImproveRouteTwoOpt(path, cost, 0);
  EXPECT_EQ(path, (Path{0, 1, 3, 2, 0}));
  EXPECT_EQ(cost, before);
}

}  // namespace
}  // namespace tarsel
