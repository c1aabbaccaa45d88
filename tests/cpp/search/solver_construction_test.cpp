#include <gtest/gtest.h>

#include "common/console_capture.h"

#include <cstdlib>
#include <stdexcept>
#include <string>
#include <variant>
#include <vector>

#include "instance_builder.h"
#include "plugins/composite_constraint_checker.h"
#include "search/solver.h"
#include "common/special_values.h"

namespace tarsel {
namespace {

using testing::InstanceBuilder;
using testing::ConsoleCapture;

InstanceBuilder Square() {
  InstanceBuilder b;
  b.Node(0, 0, NodeType::DEPOT).Node(2.9, -2.9).Node(0, 4).Node(4, 4);
  b.AgentOf("truck", 0, 0).AgentOf("drone", 0, 0).AgentOf("truck", 0, 0);
  b.EuclideanCosts("truck").EuclideanCosts("drone", 0.5);
  return b;
}

TEST(SolverConstruction, BuildsDenseTablesAndTruncatesCoordinates) {
  InstanceBuilder b = Square();
  b.Allow(1, {"drone", "ghost", "drone"}).Allow(2, {"ghost"}).AllowAllElsewhere({"truck", "drone"});
  Solver solver(b.problem, Options{});
  ASSERT_EQ(solver.Nodes().size(), 4u);
  EXPECT_EQ(solver.Nodes()[1].x, 2);
  EXPECT_EQ(solver.Nodes()[1].y, -2);
  // Unknown names are dropped, duplicates removed, indices sorted.
  EXPECT_EQ(solver.Nodes()[1].allowed_types, std::vector<size_t>({1}));
  EXPECT_TRUE(solver.Nodes()[2].allowed_types.empty());
  EXPECT_EQ(solver.Nodes()[3].allowed_types, std::vector<size_t>({0, 1}));
  ASSERT_EQ(solver.Agents().size(), 3u);
  EXPECT_EQ(solver.Agents()[1].type, 1);
  EXPECT_EQ(solver.Agents()[2].type, 0);
  // One cost dimension per type, read from the right matrix.
  EXPECT_EQ(solver.Graph()->GetCostDim(), 2u);
  EXPECT_DOUBLE_EQ(solver.Graph()->GetArcCost(2, 3)[0], 4.0);
  EXPECT_DOUBLE_EQ(solver.Graph()->GetArcCost(2, 3)[1], 2.0);
  EXPECT_TRUE(solver.Graph()->GetArcCost(1, 1).empty());
  EXPECT_EQ(solver.Graph()->NumEdge(), 12u);
}

TEST(SolverConstruction, WarnsOncePerNodeWithoutAssignment) {
  InstanceBuilder b = Square();
  b.problem.nodes[3].id = 42;  // warnings name ids, not positions
  b.problem.timewindow_constraint.set_timewindow(77, 0, 10);
  ConsoleCapture console;
  Solver solver(b.problem, Options{});
  const std::string err = console.TakeErr();
  EXPECT_EQ(err,
            "[warning] node 0 has no assignment constraint; allowing all types\n"
            "[warning] node 1 has no assignment constraint; allowing all types\n"
            "[warning] node 2 has no assignment constraint; allowing all types\n"
            "[warning] node 42 has no assignment constraint; allowing all types\n"
            "[warning] time window node id 77 not found in nodes\n");
  // Each line is a warning record; the per-node ones carry the node's id.
  const std::vector<ConsoleRecord>& records = console.Records();
  ASSERT_EQ(records.size(), 5u);
  for (const ConsoleRecord& record : records) {
    EXPECT_EQ(record.kind, ConsoleKind::kWarning);
    EXPECT_EQ(record.stream, ConsoleStream::kErr);
  }
  EXPECT_EQ(records[3].code, console_code::kNoAssignment);
  EXPECT_EQ(records[3].fields, (ConsoleFields{{"node", uint64_t{42}}, {"nodes", uint64_t{4}}}));
  EXPECT_EQ(records[4].code, console_code::kUnknownTimeWindowNode);
  EXPECT_EQ(std::get<uint64_t>(records[4].fields[0].second), 77u);
  EXPECT_EQ(solver.Nodes()[2].allowed_types, std::vector<size_t>({0, 1}));
  EXPECT_TRUE(solver.TimeWindows().empty());
}

// The message starts with the lookup's fixed text and names the agent or the
// type behind it.
TEST(SolverConstruction, UnknownIdsAndTypesFailWithTheLookupMessage) {
  const auto lookup_error = [](const Problem& problem) -> std::string {
    ConsoleCapture quiet;
    try {
      Solver solver(problem, Options{});
    } catch (const std::out_of_range& e) {
      return e.what();
    }
    return "no std::out_of_range";
  };
  InstanceBuilder bad_start = Square();
  bad_start.problem.agents_ordered[0].start_node = 99;
  EXPECT_EQ(lookup_error(bad_start.problem),
            "unordered_map::at: key not found: agent 0 (agents[0]) starts at node 99, but no node "
            "has the id 99");
  InstanceBuilder bad_end = Square();
  bad_end.problem.agents_ordered[2].end_node = 17;
  EXPECT_EQ(lookup_error(bad_end.problem),
            "unordered_map::at: key not found: agent 2 (agents[2]) ends at node 17, but no node "
            "has the id 17");
  InstanceBuilder bad_matrix = Square();
  bad_matrix.problem.set_cost_matrix("boat", {{0}});
  EXPECT_EQ(lookup_error(bad_matrix.problem),
            "unordered_map::at: key not found: a cost matrix is given for the type \"boat\", but no "
            "agent has that type");
}

TEST(SolverConstruction, SmallAndLargeMatricesFillOnlyTheTable) {
  InstanceBuilder b = Square();
  b.problem.set_cost_matrix("truck", {{0, 1}, {1, 0}});
  CostMatrix big(6, std::vector<double>(6, 3.0));
  b.problem.set_cost_matrix("drone", big);
  Solver solver(b.problem, Options{});
  EXPECT_DOUBLE_EQ(solver.Graph()->GetArcCost(0, 1)[0], 1.0);
  EXPECT_DOUBLE_EQ(solver.Graph()->GetArcCost(0, 2)[0], kNoConnection);
  EXPECT_DOUBLE_EQ(solver.Graph()->GetArcCost(3, 2)[1], 3.0);
  EXPECT_EQ(solver.Graph()->NumVertex(), 4u);
}

TEST(SolverConstruction, ChoosesCheckersByInstance) {
  InstanceBuilder plain = Square();
  EXPECT_EQ(Solver(plain.problem, Options{}).ConstraintChecker().Name(), "DefaultConstraintChecker");

  InstanceBuilder limited = Square();
  limited.problem.agents_ordered[1].time_limit = 0.5;
  Solver with_limit(limited.problem, Options{});
  const auto& composite = dynamic_cast<const CompositeConstraintChecker&>(with_limit.ConstraintChecker());
  ASSERT_EQ(composite.Children().size(), 2u);
  EXPECT_EQ(composite.Children()[1]->Name(), "TimeLimitConstraintChecker");

  limited.Window(2, 0, 100);
  Solver both(limited.problem, Options{});
  const auto& three = dynamic_cast<const CompositeConstraintChecker&>(both.ConstraintChecker());
  ASSERT_EQ(three.Children().size(), 3u);
  EXPECT_EQ(three.Children()[0]->Name(), "DefaultConstraintChecker");
  EXPECT_EQ(three.Children()[1]->Name(), "TimeConstraintChecker");
  EXPECT_EQ(three.Children()[2]->Name(), "TimeLimitConstraintChecker");

  Options min_max;
  min_max.objective = ObjectiveType::MinMax;
  EXPECT_EQ(Solver(plain.problem, min_max).Objective().Name(), "DefaultObjective");
  EXPECT_EQ(Solver(plain.problem, Options{}).Objective().Name(), "MinSumObjective");
  EXPECT_EQ(Solver(plain.problem, Options{}).PostOptimizer().Name(), "CompositePostOptimizer");
}

TEST(SolverConstruction, CandidateEdgesTakeTheCheaperDirectionAndCountBlockedPairs) {
  InstanceBuilder b;
  b.Node(0, 0).Node(1, 0).Node(2, 0);
  b.AgentOf("truck", 0, 0);
  b.problem.set_cost_matrix("truck", {{0, 5, 9999}, {3, 0, 4}, {10000, 7, 0}});
  b.AllowAllElsewhere({"truck"});
  ConsoleCapture console;
  Solver solver(b.problem, Options{});
  EXPECT_EQ(console.TakeOut(), "[TW-MST] blocked edges: 1 / 3 (set MTSP_DEBUG_TW_EDGES=1 for details)\n");
  // The warning about the cost above 9999 on standard error, then the count.
  ASSERT_EQ(console.Records().size(), 2u);
  EXPECT_EQ(console.Records()[0].code, console_code::kCostsAboveMissing);
  const ConsoleRecord& count = console.Records()[1];
  EXPECT_EQ(count.kind, ConsoleKind::kInfo);
  EXPECT_EQ(count.stream, ConsoleStream::kOut);
  EXPECT_EQ(count.code, console_code::kBlockedPairs);
  const ConsoleFields expected_fields = {
      {"blocked", uint64_t{1}}, {"pairs", uint64_t{3}}, {"time_windows", false}};
  EXPECT_EQ(count.fields, expected_fields);
  const auto& edges = solver.MstEdges();
  ASSERT_EQ(edges.size(), 2u);
  EXPECT_EQ(edges[0].u, 1u);
  EXPECT_EQ(edges[0].v, 0u);
  EXPECT_DOUBLE_EQ(edges[0].w, 3.0);
  EXPECT_EQ(edges[1].u, 2u);
  EXPECT_DOUBLE_EQ(edges[1].w, 4.0);

  setenv("MTSP_DEBUG_TW_EDGES", "1", 1);
  Solver listing(b.problem, Options{});
  unsetenv("MTSP_DEBUG_TW_EDGES");
  EXPECT_EQ(console.TakeOut(),
            "edge: 2->0 cost: 1.79769e+308\n"
            "[TW-MST] blocked edges: 1 / 3 (set MTSP_DEBUG_TW_EDGES=1 for details)\n");
  // The listing is debug output written without flushing; the count flushes.
  ASSERT_EQ(console.Records().size(), 5u);
  EXPECT_EQ(console.Records()[3].kind, ConsoleKind::kDebug);
  EXPECT_FALSE(console.Records()[3].flush);
  EXPECT_EQ(console.Records()[4].code, console_code::kBlockedPairs);
  EXPECT_TRUE(console.Records()[4].flush);
}

TEST(SolverConstruction, WindowEdgeCostAddsUnavoidableWaitingAndBlocksLateWindows) {
  InstanceBuilder b;
  b.Node(0, 0).Node(3, 0).Node(6, 0);
  b.AgentOf("truck", 0, 0).EuclideanCosts("truck").AllowAllElsewhere({"truck"});
  b.Window(1, 0, 2).Window(2, 20, 30);
  ConsoleCapture console;
  Solver solver(b.problem, Options{});
  // Leaving 1 at its window end (2) arrives at 2 at time 5, waits 15.
  EXPECT_DOUBLE_EQ(solver.TimeWindowEdgeCost(1, 2), 3.0 + 15.0);
  // From 0 (no window) any departure time is possible: no waiting counted.
  EXPECT_DOUBLE_EQ(solver.TimeWindowEdgeCost(0, 2), 6.0);
  // Node 1 closes at 2; even leaving 2 at 20 arrives at 23.
  EXPECT_EQ(solver.TimeWindowEdgeCost(2, 1), kMaxDouble);
}

TEST(SolverConstruction, ReportsStartsWithoutOutgoingArcsByIndex) {
  InstanceBuilder b;
  b.Node(0, 0).Node(1, 0).Node(2, 0);
  b.problem.nodes[1].id = 50;
  b.AgentOf("truck", 50, 50);
  b.problem.set_cost_matrix("truck", {{0, 1, 1}, {9999, 0, 9999}, {9999, 9999, 0}});
  b.AllowAllElsewhere({"truck"});
  ConsoleCapture console;
  Solver solver(b.problem, Options{});
  // The depot check names the start only; the targets, which the agent
  // cannot reach from it, follow from the connectivity check.
  EXPECT_EQ(console.TakeErr(),
            "point: 1 can't be reached\n"
            "point: 0 can't be reached\n"
            "point: 2 can't be reached\n");
  EXPECT_EQ(solver.UnreachableNodes(), std::vector<size_t>({1}));
  EXPECT_TRUE(solver.Unsolvable());
}

TEST(SolverConstruction, RejectsMoreThan256NodesWithoutTheEngineBeforeBuildingTables) {
  InstanceBuilder b;
  for (int i = 0; i < 257; ++i) b.Node(i, 0);
  b.AgentOf("truck", 0, 0);
  try {
    Solver solver(b.problem, Options{});
    FAIL() << "expected std::length_error";
  } catch (const std::length_error& e) {
    EXPECT_EQ(std::string(e.what()),
              "instance has 257 nodes, but the solver supports at most 256; set the option "
              "\"improve\" to true to solve larger instances with the improvement engine");
  }
}

// Above 256 nodes with "improve", the engine alone solves: one line says
// so, the routes serve every target once and pass the route rules, and the
// graph holds no arc lists (the engine reads the dense matrices).
TEST(SolverConstruction, SolvesMoreThan256NodesWithTheEngineAlone) {
  for (ObjectiveType objective : {ObjectiveType::MinMax, ObjectiveType::MinSum}) {
    InstanceBuilder b;
    b.Node(500, 500, NodeType::DEPOT);
    uint64_t state = 7;
    auto next = [&state] {
      state = state * 6364136223846793005ULL + 1442695040888963407ULL;
      return static_cast<double>(state >> 40) / static_cast<double>(1ULL << 24) * 1000.0;
    };
    for (int i = 1; i < 300; ++i) b.Node(next(), next());
    b.AgentOf("truck", 0, 0).AgentOf("truck", 0, 0).AgentOf("drone", 0, 0);
    b.EuclideanCosts("truck").EuclideanCosts("drone", 0.5);
    b.AllowAllElsewhere({"truck", "drone"});
    Options options;
    options.improve = true;
    options.objective = objective;
    options.max_iterations = 2;
    options.time_limit = 1000;
    ConsoleCapture console;
    Solver solver(b.problem, options);
    EXPECT_TRUE(solver.EngineOnly());
    EXPECT_EQ(solver.Graph()->NumVertex(), 300u);
    EXPECT_EQ(solver.Graph()->NumArc(), 0u);
    ASSERT_EQ(solver.Solve(), 1);
    EXPECT_EQ(console.TakeErr(),
              "[improve] instance has 300 nodes, more than the focal search supports (256): the "
              "focal search is skipped and the improvement engine builds its own starting "
              "solutions\n");
    const Result result = solver.GetResult();
    std::vector<int> served(300, 0);
    RouteEvaluator evaluator;
    evaluator.Attach(solver.Tables());
    for (const auto& [k, path64] : result.paths) {
      const std::vector<size_t> path(path64.begin(), path64.end());
      const RouteEvaluation evaluation = evaluator.EvaluateRoute(path, k);
      ASSERT_TRUE(evaluation.valid) << "agent " << k;
      EXPECT_EQ(result.times.at(k), evaluation.cost);
      for (size_t i = 1; i + 1 < path.size(); ++i) served[path[i]] += 1;
    }
    EXPECT_EQ(served[0], 0);
    for (size_t v = 1; v < served.size(); ++v) EXPECT_EQ(served[v], 1) << "node " << v;
    EXPECT_FALSE(solver.GetResultProcess().empty());
  }
}

}  // namespace
}  // namespace tarsel
