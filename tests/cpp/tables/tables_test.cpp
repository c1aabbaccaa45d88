#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "common/console_capture.h"
#include "common/special_values.h"
#include "search/instance_builder.h"
#include "tables/problem_tables.h"
#include "tables/reachability.h"

namespace tarsel {
namespace {

using testing::ConsoleCapture;
using testing::InstanceBuilder;

constexpr double X = kNoConnection;

// Depot 0 and targets 1..3; one agent of type "truck" at the depot, with the
// given matrix and no warnings about assignments.
InstanceBuilder Depot(const CostMatrix& truck, double limit = 0) {
  InstanceBuilder b;
  b.Node(0, 0).Node(1, 0).Node(2, 0).Node(3, 0);
  b.AgentOf("truck", 0, 0, limit);
  b.problem.set_cost_matrix("truck", truck);
  b.AllowAllElsewhere({"truck"});
  return b;
}

ConnectionReport Check(const Problem& problem, Options options = Options{}) {
  ConsoleCapture quiet;
  const ProblemTables built = BuildProblemTables(problem, options);
  return CheckConnections(built.tables, problem.agents_ordered.size());
}

TEST(Reachability, TargetBehindMissingArcsIsUnreachableButATwoHopTripIsFine) {
  // 1 is entered only from 2, 3 only over missing arcs; 2 is reached directly.
  const CostMatrix truck = {{0, X, 1, X}, {1, 0, X, X}, {X, 1, 0, X}, {1, 1, 1, 0}};
  const ConnectionReport report = Check(Depot(truck).problem);
  EXPECT_EQ(report.unreachable_targets, std::vector<size_t>({3}));
  EXPECT_TRUE(report.blocked_agents.empty());
  EXPECT_FALSE(report.Solvable());
}

TEST(Reachability, ClosedRoutesMustLeaveATargetTowardsTheEnd) {
  // 3 is entered from the depot but has no arc out.
  const CostMatrix truck = {{0, 1, 1, 1}, {1, 0, 1, X}, {1, 1, 0, X}, {X, X, X, 0}};
  InstanceBuilder b = Depot(truck);
  EXPECT_EQ(Check(b.problem).unreachable_targets, std::vector<size_t>({3}));
  // With open routes the agent may stop there.
  Options open;
  open.return_to_end = false;
  EXPECT_TRUE(Check(b.problem, open).Solvable());
}

TEST(Reachability, TargetsNoTypeMayVisitAreLeftToTheSearch) {
  const CostMatrix truck = {{0, 1, 1, X}, {1, 0, 1, X}, {1, 1, 0, X}, {X, X, X, 0}};
  InstanceBuilder b = Depot(truck);
  b.Allow(3, {"boat"});
  EXPECT_TRUE(Check(b.problem).Solvable());
}

TEST(Reachability, ARaisedMissingCostConnectsLargeCosts) {
  const CostMatrix truck = {{0, 12000, 1, 1}, {12000, 0, 1, 1}, {1, 1, 0, 1}, {1, 1, 1, 0}};
  const InstanceBuilder b = Depot(truck);
  EXPECT_TRUE(Check(b.problem).Solvable());  // 1 is reached through 2
  const CostMatrix isolated = {{0, 12000, 1, 1}, {12000, 0, 12000, 12000}, {1, 12000, 0, 1},
                               {1, 12000, 1, 0}};
  const InstanceBuilder c = Depot(isolated);
  EXPECT_EQ(Check(c.problem).unreachable_targets, std::vector<size_t>({1}));
  Options raised;
  raised.missing_cost = 20000;
  EXPECT_TRUE(Check(c.problem, raised).Solvable());
}

TEST(Reachability, AgentsThatCannotCompleteARoute) {
  // Agent 0 goes from depot 0 to end node 3: its shortest trip is 0-1-3 at
  // 2 + 3 = 5, not the direct 9.
  InstanceBuilder b;
  b.Node(0, 0).Node(1, 0).Node(2, 0).Node(3, 0);
  b.AgentOf("truck", 0, 3, 4);
  b.problem.set_cost_matrix("truck", {{0, 2, 1, 9}, {2, 0, 1, 3}, {1, 1, 0, X}, {9, 3, X, 0}});
  b.AllowAllElsewhere({"truck"});
  ConnectionReport report = Check(b.problem);
  ASSERT_EQ(report.blocked_agents.size(), 1u);
  EXPECT_EQ(report.blocked_agents[0].reason, BlockReason::kTripOverLimit);
  EXPECT_DOUBLE_EQ(report.blocked_agents[0].shortest_trip, 5.0);
  b.problem.agents_ordered[0].time_limit = 5;  // exactly the limit is allowed
  EXPECT_TRUE(Check(b.problem).Solvable());
  // Waiting at the start counts.
  b.Window(0, 0.5, 100);
  ASSERT_EQ(Check(b.problem).blocked_agents.size(), 1u);
  EXPECT_DOUBLE_EQ(Check(b.problem).blocked_agents[0].shortest_trip, 5.5);

  b.problem.timewindow_constraint.windows.clear();
  b.problem.set_cost_matrix("truck", {{0, 2, 1, X}, {2, 0, 1, X}, {1, 1, 0, X}, {X, X, X, 0}});
  report = Check(b.problem);
  ASSERT_EQ(report.blocked_agents.size(), 1u);
  EXPECT_EQ(report.blocked_agents[0].reason, BlockReason::kNoTrip);
}

TEST(Reachability, AgentsWhoseDepotsRuleThemOut) {
  const CostMatrix truck = {{0, 1, 1, 1}, {1, 0, 1, 1}, {1, 1, 0, 1}, {1, 1, 1, 0}};
  InstanceBuilder b;
  b.Node(0, 0).Node(1, 0).Node(2, 0).Node(3, 0);
  b.AgentOf("truck", 0, 3);
  b.problem.set_cost_matrix("truck", truck);
  b.Allow(0, {"drone"}).AllowAllElsewhere({"truck"});
  EXPECT_EQ(Check(b.problem).blocked_agents.at(0).reason, BlockReason::kStartNotAllowed);
  b.Allow(0, {"truck"}).Allow(3, {"drone"});
  EXPECT_EQ(Check(b.problem).blocked_agents.at(0).reason, BlockReason::kEndNotAllowed);
  Options open;  // an open route may end at its start instead
  open.return_to_end = false;
  EXPECT_TRUE(Check(b.problem, open).Solvable());
  b.Allow(3, {"truck"}).Window(0, -5, -1);
  EXPECT_EQ(Check(b.problem).blocked_agents.at(0).reason, BlockReason::kStartWindowClosed);
}

TEST(ProblemTables, MissingEntriesTakeTheThresholdAndLargeCostsAreNamedOncePerType) {
  InstanceBuilder b;
  b.Node(0, 0).Node(1, 0).Node(2, 0);
  b.AgentOf("truck", 0, 0).AgentOf("drone", 0, 0);
  b.problem.set_cost_matrix("truck", {{0, 10000, 12000}, {X, 0}});
  b.problem.set_cost_matrix("drone", {{0, X, 1}, {1, 0, 1}, {1, 1, 0}});
  b.AllowAllElsewhere({"truck", "drone"});
  Options options;
  ConsoleCapture console;
  ProblemTables built = BuildProblemTables(b.problem, options);
  EXPECT_EQ(console.TakeErr(),
            "[warning] cost matrix of type truck has entries above 9999, which count as no "
            "connection; raise the option \"missing_cost\" above them to use them\n");
  EXPECT_EQ(built.tables.MissingCost(), kNoConnection);
  EXPECT_EQ(built.tables.Cost(0, 2, 1), kNoConnection);  // not given
  EXPECT_FALSE(built.tables.Connected(built.tables.Cost(0, 0, 1)));

  options.missing_cost = 50000;
  built = BuildProblemTables(b.problem, options);
  EXPECT_EQ(console.TakeErr(), "");
  EXPECT_EQ(built.tables.Cost(0, 2, 1), 50000.0);
  EXPECT_EQ(built.graph->GetArcCost(2, 1)[0], 50000.0);
  EXPECT_TRUE(built.tables.Connected(built.tables.Cost(0, 0, 1)));
  EXPECT_TRUE(built.tables.Connected(built.tables.Cost(1, 0, 1)));  // 9999 is a cost now

  options.missing_cost = 5000;
  built = BuildProblemTables(b.problem, options);
  EXPECT_EQ(console.TakeErr(),
            "[warning] cost matrix of type truck has entries above 5000, which count as no "
            "connection; raise the option \"missing_cost\" above them to use them\n"
            "[warning] cost matrix of type drone has entries above 5000, which count as no "
            "connection; raise the option \"missing_cost\" above them to use them\n");
}

TEST(ProblemTables, ConstraintsNamingUnknownNodesOrTypesAreReported) {
  InstanceBuilder b;
  b.Node(0, 0).Node(1, 0).Node(2, 0);
  b.AgentOf("truck", 0, 0);
  b.EuclideanCosts("truck");
  b.Allow(0, {"truck"}).Allow(1, {"trukc", "truck", "boat"}).Allow(2, {"boat"});
  b.Allow(17, {"truck"}).Allow(5, {"truck"});
  b.problem.precedence = {{1, 40}};
  b.problem.precedence_same = {{40, 2}};
  b.problem.precedence_diff = {{30, 31}};
  b.Window(99, 0, 10);
  ConsoleCapture console;
  const ProblemTables built = BuildProblemTables(b.problem, Options{});
  EXPECT_EQ(console.TakeErr(),
            "[warning] assignment node id 5 not found in nodes\n"
            "[warning] assignment node id 17 not found in nodes\n"
            "[warning] assignment type \"trukc\" is not the type of any agent\n"
            "[warning] assignment type \"boat\" is not the type of any agent\n"
            "[warning] sequence node id 30 not found in nodes\n"
            "[warning] sequence node id 31 not found in nodes\n"
            "[warning] sequence node id 40 not found in nodes\n"
            "[warning] time window node id 99 not found in nodes\n"
            "[warning] the instance carries 3 precedence pairs that are not enforced; set the "
            "option \"enforce_precedence\" to true to honour them\n");
  EXPECT_EQ(built.tables.Nodes()[1].allowed_types, std::vector<size_t>({0}));
}

}  // namespace
}  // namespace tarsel
