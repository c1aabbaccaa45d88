#include "postopt/default_post_optimizer.h"

#include <gtest/gtest.h>

#include "common/console_capture.h"

#include <limits>

#include "common/special_values.h"
#include "postopt_test_support.h"

namespace tarsel {

struct DefaultPostOptimizerTestAccess {
  static void ApplyRelocation(DefaultPostOptimizer& optimizer, AgentRoute& donor,
                              AgentRoute& receiver, int64_t remove_pos, int64_t insert_pos) {
    optimizer.ApplyRelocation(donor, receiver, remove_pos, insert_pos);
  }
};

namespace {

using namespace postopt_testing;
using Path = std::vector<uint64_t>;
using Access = DefaultPostOptimizerTestAccess;

// Runs the optimiser on `paths` and returns the rewritten result.
Result Optimized(const SparseGraph& graph, const std::vector<NodeInfo>& nodes,
                 const std::vector<AgentInfo>& agents, const RouteRules& rules,
                 const std::vector<Path>& paths) {
  DefaultPostOptimizer optimizer;
  Configure(optimizer, rules);
  Result result = ResultWithPaths(paths);
  optimizer.Optimize(&graph, nodes, agents, result);
  return result;
}

TEST(DefaultPostOptimizerTest, NameIsFixed) {
  EXPECT_EQ(DefaultPostOptimizer().Name(), "DefaultPostOptimizer");
}

// Line 0:0, 1:1, 2:-3, 3:-2. Moving node 1 or node 2 to the short route
// gains 2 at either insertion position; the first candidate must win.
TEST(DefaultPostOptimizerTest, RelocationTiesPreferSmallerDonorThenInsertionPosition) {
  const Result result = Optimized(LineGraph({0, 1, -3, -2}), OpenNodes(4), MakeAgents({0, 0}),
                                  DepotRules(2), {{0, 1, 2, 0}, {0, 3, 0}});
  EXPECT_EQ(result.paths.at(0), (Path{0, 2, 0}));
  EXPECT_EQ(result.paths.at(1), (Path{0, 1, 3, 0}));
  EXPECT_EQ(result.times.at(0), 6.0);
  EXPECT_EQ(result.times.at(1), 6.0);
}

// Guards against carrying counters or stale keys over, and against losing
// agents without a path or without a type.
TEST(DefaultPostOptimizerTest, WriteBackStartsAFreshResult) {
  DefaultPostOptimizer optimizer;
  Configure(optimizer, DepotRules(3));
  const SparseGraph graph = LineGraph({0, 4, 2});
  Result result;
  result.paths[0] = {0, 1, 0};
  result.paths[2] = {0, 2, 0};  // agent 2 has no type: invalid
  result.paths[7] = {0};
  result.times[7] = 3.0;
  result.n_generated = 5;
  result.n_expanded = 4;
  result.cpu_seconds = 1.5;
  result.timeout = true;
  result.last_update_time = 2.5;

  testing::ConsoleCapture console;
  optimizer.Optimize(&graph, OpenNodes(3), MakeAgents({0, 0, -1}), result);
  const std::string messages = console.TakeErr();

  EXPECT_EQ(messages,
            "[post-opt] invalid path for agent 2, skip optimize\n"
            "[post-opt] invalid path for agent 2, skip optimize\n");
  EXPECT_EQ(result.paths.size(), 3u);
  EXPECT_EQ(result.times.size(), 3u);
  EXPECT_EQ(result.paths.at(0), (Path{0, 1, 0}));
  EXPECT_EQ(result.times.at(0), 8.0);
  EXPECT_TRUE(result.paths.at(1).empty());
  EXPECT_EQ(result.times.at(1), 0.0);
  EXPECT_EQ(result.paths.at(2), (Path{0, 2, 0}));
  EXPECT_EQ(result.times.at(2), 0.0);
  EXPECT_EQ(result.n_generated, 0);
  EXPECT_EQ(result.n_expanded, 0);
  EXPECT_EQ(result.cpu_seconds, 0.0);
  EXPECT_FALSE(result.timeout);
  EXPECT_EQ(result.last_update_time, 0.0);
}

// Depot 0, nodes a=1, b=2 on the type-0 route, c=3 on the type-1 route.
// Moving b to type 1 gains 14, moving a gains 8.
class CrossTypeBalancingTest : public ::testing::Test {
 protected:
  Result RunWithB(const std::vector<size_t>& b_types) {
    const double d[4][4] = {{0, 10, 10, 5}, {10, 0, 14, 11}, {10, 14, 0, 5}, {5, 11, 5, 0}};
    std::vector<std::vector<double>> matrix(4, std::vector<double>(4));
    for (size_t i = 0; i < 4; ++i) {
      for (size_t j = 0; j < 4; ++j) matrix[i][j] = d[i][j];
    }
    return Optimized(MatrixGraph({matrix, matrix}), MakeNodes({{0, 1}, {0, 1}, b_types, {1}}),
                     MakeAgents({0, 1}), DepotRules(2), {{0, 1, 2, 0}, {0, 3, 0}});
  }
};

TEST_F(CrossTypeBalancingTest, MovesTheBestNodeTheOtherTypeAllows) {
  const Result result = RunWithB({0, 1});
  EXPECT_EQ(result.paths.at(0), (Path{0, 1, 0}));
  EXPECT_EQ(result.paths.at(1), (Path{0, 2, 3, 0}));
  EXPECT_EQ(result.times.at(0), 20.0);
  EXPECT_EQ(result.times.at(1), 20.0);
}

TEST_F(CrossTypeBalancingTest, NeverMovesANodeToATypeItDoesNotAllow) {
  // b is restricted to type 0, so a moves instead; c (type 1 only) never
  // moves back.
  const Result result = RunWithB({0});
  EXPECT_EQ(result.paths.at(0), (Path{0, 2, 0}));
  EXPECT_EQ(result.paths.at(1), (Path{0, 1, 3, 0}));
  EXPECT_EQ(result.times.at(0), 20.0);
  EXPECT_EQ(result.times.at(1), 26.0);
}

// 0-1 costs 10, 0-2 costs 1, 1-2 costs 2: only an open route gains from
// reversing, because its arc back to the depot is free.
TEST(DefaultPostOptimizerTest, OpenRoutesGainFromTheFreeClosingArc) {
  const SparseGraph graph = MatrixGraph({{{0, 10, 1}, {10, 0, 2}, {1, 2, 0}}});
  const Result open =
      Optimized(graph, OpenNodes(3), MakeAgents({0}), DepotRules(1, false), {{0, 1, 2, 0}});
  EXPECT_EQ(open.paths.at(0), (Path{0, 2, 1, 0}));
  EXPECT_EQ(open.times.at(0), 3.0);
  const Result closed =
      Optimized(graph, OpenNodes(3), MakeAgents({0}), DepotRules(1), {{0, 1, 2, 0}});
  EXPECT_EQ(closed.paths.at(0), (Path{0, 1, 2, 0}));
  EXPECT_EQ(closed.times.at(0), 13.0);
}

// Agent 0 lives at depot 0 (x=0), agent 1 at depot 1 (x=10); node 2 sits
// at x=9, so it belongs to agent 1 unless waiting there breaks its limit.
TEST(DefaultPostOptimizerTest, WaitingThatBreaksTheReceiversLimitBlocksTheMove) {
  const SparseGraph graph = LineGraph({0, 10, 9});
  RouteRules rules;
  rules.starts = {0, 1};
  rules.goals = {0, 1};
  const std::vector<Path> paths = {{0, 2, 0}, {1, 1}};

  Result result = Optimized(graph, OpenNodes(3), MakeAgents({0, 0}, {0, 5}), rules, paths);
  EXPECT_EQ(result.paths.at(0), (Path{0, 0}));
  EXPECT_EQ(result.paths.at(1), (Path{1, 2, 1}));
  EXPECT_EQ(result.times.at(1), 2.0);

  // Node 2 opens at 9: agent 1 would wait until 9 and return at 10 > 5.
  rules.time_windows = {{2, {9.0, 100.0}}};
  result = Optimized(graph, OpenNodes(3), MakeAgents({0, 0}, {0, 5}), rules, paths);
  EXPECT_EQ(result.paths.at(0), (Path{0, 2, 0}));
  EXPECT_EQ(result.paths.at(1), (Path{1, 1}));
  EXPECT_EQ(result.times.at(0), 18.0);

  // Without the limit the waiting route is still the better one.
  result = Optimized(graph, OpenNodes(3), MakeAgents({0, 0}), rules, paths);
  EXPECT_EQ(result.paths.at(1), (Path{1, 2, 1}));
  EXPECT_EQ(result.times.at(1), 10.0);
}

// An infinite cost, like any cost at or above the missing-cost threshold, is
// no arc: the route over it is invalid and stays as it came.
TEST(DefaultPostOptimizerTest, RouteOverAMissingArcIsReportedAndKept) {
  const double inf = std::numeric_limits<double>::infinity();
  for (const double missing : {inf, kNoConnection, 12000.0}) {
    const SparseGraph graph = MatrixGraph({{{0, missing}, {1, 0}}});
    testing::ConsoleCapture console;
    const Result result =
        Optimized(graph, OpenNodes(2), MakeAgents({0}), DepotRules(1), {{0, 1, 0}});
    EXPECT_EQ(console.TakeErr(),
              "[post-opt] invalid path for agent 0, skip optimize\n"
              "[post-opt] invalid path for agent 0, skip optimize\n");
    EXPECT_EQ(result.paths.at(0), (Path{0, 1, 0}));
  }
}

TEST(DefaultPostOptimizerTest, ApplyRelocationChecksPositions) {
  DefaultPostOptimizer optimizer;
  Configure(optimizer, DepotRules(2));
  const SparseGraph graph = LineGraph({0, 1, 2, 3});
  Result result = ResultWithPaths({{0}, {0}});
  optimizer.Optimize(&graph, OpenNodes(4), MakeAgents({0, 0}), result);

  AgentRoute donor{0, 6.0, {0, 1, 2, 0}};
  AgentRoute receiver{1, 6.0, {0, 3, 0}};
  const std::pair<int64_t, int64_t> outside[] = {{0, 1}, {3, 1}, {1, 0}, {1, 3}};
  for (const auto& [i, j] : outside) {
    testing::ConsoleCapture console;
    Access::ApplyRelocation(optimizer, donor, receiver, i, j);
    EXPECT_EQ(console.TakeErr(), "Invalid indices.\n") << i << "," << j;
  }
  EXPECT_EQ(donor.path, (Path{0, 1, 2, 0}));
  EXPECT_EQ(receiver.path, (Path{0, 3, 0}));

  Access::ApplyRelocation(optimizer, donor, receiver, 2, 2);
  EXPECT_EQ(donor.path, (Path{0, 1, 0}));
  EXPECT_EQ(receiver.path, (Path{0, 3, 2, 0}));
  EXPECT_EQ(donor.cost, 2.0);
  EXPECT_EQ(receiver.cost, 6.0);
}

}  // namespace
}  // namespace tarsel
