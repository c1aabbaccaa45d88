#include "plugins/time_window_constraint_checker.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <limits>
#include <vector>

#include "common/special_values.h"
#include "plugin_test_util.h"

namespace tarsel {
namespace {

using testing::MakeAgents;
using testing::MakeGraph;
using testing::MakeLabel;
using testing::MakeNodes;
using Matrix = std::vector<std::vector<double>>;
constexpr double kInfinity = std::numeric_limits<double>::infinity();

struct CheckerSetup {
  std::vector<std::vector<size_t>> allowed;
  std::vector<int64_t> types;
  std::vector<size_t> starts;
  std::vector<size_t> goals;
  TimeWindowTable windows;
  bool return_to_end = true;
};

// The checker the way the solver prepares it: initialise, then goals,
// windows, starts and the return flag.
void Prepare(TimeWindowConstraintChecker& checker, const SparseGraph& graph, const CheckerSetup& s) {
  checker.Initialize(&graph, MakeNodes(s.allowed), MakeAgents(s.types));
  checker.SetGoals(s.goals);
  checker.SetTimeWindows(s.windows);
  checker.SetStarts(s.starts);
  checker.SetReturnToEnd(s.return_to_end);
}

// Agent 0 moves from node 0 to node `v`, arriving (before waiting) at t.
Label MoveLabel(int32_t n, size_t agents, size_t v, double t) {
  Label label = MakeLabel(n, agents);
  label.visited.Set(0);
  label.visited.Set(v);
  label.costs[0] = t;
  return label;
}

TEST(TimeWindowCheckerTest, ArrivalWaitsForTheWindowAndFailsAfterItsEnd) {
  const SparseGraph graph = MakeGraph({{{0, 5}, {5, 0}}});
  TimeWindowConstraintChecker checker;
  EXPECT_EQ(checker.Name(), "TimeConstraintChecker");
  Prepare(checker, graph, {{{0}, {0}}, {0}, {0}, {0}, {{1, {10.0, 20.0}}}});

  MoveCheck early = checker.ApplyMove(MoveLabel(2, 1, 1, 5.0), 0, 1);
  EXPECT_TRUE(early.feasible);
  EXPECT_EQ(early.new_cost, 10.0);
  for (const double on_time : {10.0, 20.0}) {
    const MoveCheck move = checker.ApplyMove(MoveLabel(2, 1, 1, on_time), 0, 1);
    EXPECT_TRUE(move.feasible);
    EXPECT_FALSE(move.new_cost.has_value());
  }
  EXPECT_FALSE(checker.ApplyMove(MoveLabel(2, 1, 1, 20.5), 0, 1).feasible);
  // A node without a window takes any arrival as it is.
  const MoveCheck depot = checker.ApplyMove(MoveLabel(2, 1, 1, 5.0), 0, 0);
  EXPECT_TRUE(depot.feasible);
  EXPECT_FALSE(depot.new_cost.has_value());
}

TEST(TimeWindowCheckerTest, WithoutGraphOnlyTheTargetWindowIsChecked) {
  TimeWindowConstraintChecker checker;
  // Node 2 has a window nobody can meet, which only the scans would notice.
  checker.SetTimeWindows({{1, {10.0, 20.0}}, {2, {0.0, 1.0}}});
  const MoveCheck move = checker.ApplyMove(MoveLabel(3, 1, 1, 5.0), 0, 1);
  EXPECT_TRUE(move.feasible);
  EXPECT_EQ(move.new_cost, 10.0);
  EXPECT_FALSE(checker.ApplyMove(MoveLabel(3, 1, 1, 25.0), 0, 1).feasible);
}

TEST(TimeWindowCheckerTest, TravelTimeAndService) {
  const Matrix d = {{0, 1, 2}, {10, 0, 12}, {20, 21, 0}};
  const SparseGraph graph = MakeGraph({d, d});
  TimeWindowConstraintChecker checker;
  CheckerSetup s{{{0, 1}, {0, 1}, {1}}, {0, 1, -1}, {0, 1, 0}, {2, 2, 2}, {}};
  Prepare(checker, graph, s);

  EXPECT_EQ(checker.TravelTime(0, 1, 1), 0.0);
  EXPECT_EQ(checker.TravelTime(0, 1, 0), 10.0);  // closed routes: even to its own start
  EXPECT_EQ(checker.TravelTime(0, 0, 1), 1.0);   // another agent's start costs
  EXPECT_EQ(checker.TravelTime(0, 1, 2), 12.0);  // closed routes pay the last leg
  EXPECT_EQ(checker.TravelTime(2, 0, 1), 0.0);   // no cost dimension
  s.return_to_end = false;
  Prepare(checker, graph, s);
  EXPECT_EQ(checker.TravelTime(0, 1, 2), 0.0);  // open: the last leg is free ...
  EXPECT_EQ(checker.TravelTime(0, 1, 0), 0.0);  // ... to its end or to its start
  EXPECT_EQ(checker.TravelTime(0, 2, 1), 21.0);

  // Assignment, other agents' end and start nodes, unknown type.
  EXPECT_TRUE(checker.CanServe(0, 0));
  EXPECT_FALSE(checker.CanServe(0, 1));  // agent 1 starts there
  EXPECT_TRUE(checker.CanServe(1, 1));
  EXPECT_FALSE(checker.CanServe(0, 2));  // type 0 not allowed
  EXPECT_TRUE(checker.CanServe(1, 2));
  EXPECT_FALSE(checker.CanServe(2, 0));
  s.goals = {2, 0, 2};  // node 0 becomes agent 1's end node
  Prepare(checker, graph, s);
  EXPECT_FALSE(checker.CanServe(1, 0) && checker.CanServe(0, 0));

  // Missing arcs cost nothing.
  SparseGraph sparse;
  for (size_t i = 0; i < 3; ++i) sparse.AddVertex(i);
  sparse.AddArc(0, 1, {7.0});
  TimeWindowConstraintChecker bare;
  bare.Initialize(&sparse, MakeNodes({{0}, {0}, {0}}), MakeAgents({0}));
  EXPECT_EQ(bare.TravelTime(0, 0, 1), 7.0);
  EXPECT_EQ(bare.TravelTime(0, 1, 0), 0.0);
}

// Agent 0 leaves node 0 at time 0 for v = 1 (travel 50); w = 2 is unvisited,
// 20 away from node 0 and 15 away from v. The way back from v is no longer
// than over w, so that w can be left out of any route when w_to_v >= 30;
// with a shorter w_to_v, 0 -> w -> v is a detour routes may need, which no
// order rests on (see OrderingRestsOnlyOnNodesARouteCanLeaveOut).
Matrix OrderingCosts(double w_to_v, double v_to_w = 15) {
  return {{0, 50, 20}, {std::min(50.0, v_to_w + 20), 0, v_to_w}, {20, w_to_v, 0}};
}

TEST(TimeWindowCheckerTest, OrderingRejectsMovesThatVisitingAnotherNodeFirstDominates) {
  auto verdict = [](double w_to_v, const TimeWindowTable& windows, double v_to_w = 15) {
    const Matrix d = OrderingCosts(w_to_v, v_to_w);
    const SparseGraph graph = MakeGraph({d});
    TimeWindowConstraintChecker checker;
    Prepare(checker, graph, {{{0}, {0}, {0}}, {0}, {0}, {0}, windows});
    return checker.ApplyMove(MoveLabel(3, 1, 1, 50.0), 0, 1).feasible;
  };
  // w at 20, v at 50 via w, but v first reaches w only at 65.
  EXPECT_FALSE(verdict(30, {{2, {0.0, 30.0}}}));
  // w's window is kept either way, but w first is still earlier.
  EXPECT_FALSE(verdict(30, {{2, {0.0, 70.0}}}));
  // A detour (v at 40 via w) justifies nothing; here only the coverage
  // test notices that v first strands w.
  EXPECT_TRUE(verdict(20, {{2, {0.0, 70.0}}}));
  EXPECT_FALSE(verdict(20, {{2, {0.0, 30.0}}}));
  // Via w reaches v exactly at 50: still dominated; a hair later it is not.
  EXPECT_FALSE(verdict(30, {}));
  EXPECT_TRUE(verdict(30.5, {}));
  // The wait at v counts on both orders: arrival 55 via w waits until 60,
  // as does the direct move.
  EXPECT_TRUE(verdict(35, {}));
  EXPECT_FALSE(verdict(35, {{1, {60.0, 100.0}}}));
  // Both orders end at w at the same time: no reason to reject. With v's
  // window, the detour's early arrival at v waits as well.
  EXPECT_TRUE(verdict(30, {}, 0));
  EXPECT_TRUE(verdict(35, {{1, {60.0, 100.0}}}, 0));
  // ... unless w's window has closed by then: w fits only before v, even
  // though a second agent could still serve it in time.
  const SparseGraph graph = MakeGraph({OrderingCosts(30, 0)});
  TimeWindowConstraintChecker checker;
  Prepare(checker, graph, {{{0}, {0}, {0}}, {0, 0}, {0, 0}, {0, 0}, {{2, {0.0, 25.0}}}});
  EXPECT_FALSE(checker.ApplyMove(MoveLabel(3, 2, 1, 50.0), 0, 1).feasible);
  Prepare(checker, graph, {{{0}, {0}, {0}}, {0, 0}, {0, 0}, {0, 0}, {{2, {0.0, 60.0}}}});
  EXPECT_TRUE(checker.ApplyMove(MoveLabel(3, 2, 1, 50.0), 0, 1).feasible);
  // Waiting for w's window to open makes the detour reach v too late.
  EXPECT_TRUE(verdict(30, {{2, {25.0, 100.0}}}));
  EXPECT_FALSE(verdict(30, {{2, {20.0, 100.0}}}));
}

TEST(TimeWindowCheckerTest, OrderingIgnoresNodesTheAgentMayNotServe) {
  const Matrix d = OrderingCosts(30);
  const SparseGraph graph = MakeGraph({d, d});
  auto verdict = [&graph](const CheckerSetup& s) {
    TimeWindowConstraintChecker checker;
    Prepare(checker, graph, s);
    Label label = MoveLabel(3, 2, 1, 50.0);
    label.current_nodes[1] = s.starts.empty() ? 0 : s.starts[1];
    return checker.ApplyMove(label, 0, 1).feasible;
  };
  // Agent 1 (type 1) covers w, which agent 0 may not visit.
  EXPECT_TRUE(verdict({{{0, 1}, {0, 1}, {1}}, {0, 1}, {0, 0}, {0, 0}, {}}));
  EXPECT_FALSE(verdict({{{0, 1}, {0, 1}, {0, 1}}, {0, 1}, {0, 0}, {0, 0}, {}}));
  // w is agent 1's start node: agent 0 never serves it.
  EXPECT_TRUE(verdict({{{0, 1}, {0, 1}, {0, 1}}, {0, 1}, {0, 2}, {0, 0}, {}}));
}

// Agent 0 runs from node 0 to node 1 (closed route); target 3 opens at 3
// only. Its end node first would reach 3 no later, but ends the route there.
TEST(TimeWindowCheckerTest, OrderingNeverPutsTheAgentsOwnEndNodeFirst) {
  const Matrix d = {{0, 1.414, 1, 1}, {1.414, 0, 1, 1}, {1, 1, 0, 0}, {1, 1, 0, 0}};
  const SparseGraph graph = MakeGraph({d});
  TimeWindowConstraintChecker checker;
  Prepare(checker, graph, {{{0}, {0}, {0}, {0}}, {0}, {0}, {1}, {{3, {3.0, 3.0}}}});
  const MoveCheck move = checker.ApplyMove(MoveLabel(4, 1, 3, 1.0), 0, 3);
  EXPECT_TRUE(move.feasible);
  EXPECT_EQ(move.new_cost, 3.0);
}

TEST(TimeWindowCheckerTest, OrderingSkipsTheAgentsOwnStartNode) {
  const SparseGraph graph = MakeGraph({OrderingCosts(30)});
  TimeWindowConstraintChecker checker;
  // Agent 0 started at node 2, which is still unvisited, and stands on node 0.
  Prepare(checker, graph, {{{0}, {0}, {0}}, {0}, {2}, {0}, {}});
  EXPECT_TRUE(checker.ApplyMove(MoveLabel(3, 1, 1, 50.0), 0, 1).feasible);
  // The same node as an ordinary target would be the better first stop.
  Prepare(checker, graph, {{{0}, {0}, {0}}, {0}, {0}, {0}, {}});
  EXPECT_FALSE(checker.ApplyMove(MoveLabel(3, 1, 1, 50.0), 0, 1).feasible);
}

// Agent 0 moves 0 -> 1 arriving at 5; node 2 has window (0, 10) and is 11
// away from node 0 and 6 away from node 1; agent 1 stands on node 3, 4 away.
TEST(TimeWindowCheckerTest, CoverageRejectsMovesThatStrandAWindow) {
  const Matrix d = {{0, 5, 11, 9}, {5, 0, 6, 9}, {11, 6, 0, 4}, {9, 9, 4, 0}};
  const SparseGraph graph = MakeGraph({d});
  CheckerSetup s{{{0}, {0}, {0}, {0}}, {0, 0}, {0, 3}, {0, 0}, {{2, {0.0, 10.0}}}};
  auto verdict = [&graph](const CheckerSetup& setup, double agent1_cost, bool agent1_finished) {
    TimeWindowConstraintChecker checker;
    Prepare(checker, graph, setup);
    Label label = MoveLabel(4, 2, 1, 5.0);
    label.visited.Set(3);
    label.current_nodes[1] = 3;
    label.costs[1] = agent1_cost;
    label.finished[1] = agent1_finished ? 1 : 0;
    return checker.ApplyMove(label, 0, 1).feasible;
  };
  EXPECT_TRUE(verdict(s, 6.0, false));  // 6 + 4 = 10 meets the end exactly
  EXPECT_FALSE(verdict(s, 6.5, false));
  // A finished agent covers nothing while end nodes are known.
  EXPECT_FALSE(verdict(s, 0.0, true));
  CheckerSetup no_goals = s;
  no_goals.goals.clear();
  EXPECT_TRUE(verdict(no_goals, 0.0, true));
  // An agent without a type serves nothing.
  CheckerSetup untyped = s;
  untyped.types = {0, -1};
  EXPECT_FALSE(verdict(untyped, 0.0, false));
  // The moving agent covers from v after its move: 5 + 6 = 11 is too late,
  // unless the window ends at 11.
  CheckerSetup wide = s;
  wide.windows = {{2, {0.0, 11.0}}};
  EXPECT_TRUE(verdict(wide, 100.0, false));
}

// A missing arc reaches nothing in any time, but a chain of arcs around it
// may: node 2 is entered from node 0 only (11), agent 1 stands on node 3 (9
// from node 0) at time 0, agent 0 on node 1 (5 from node 0) at time 5. Once
// only the direct arcs counted, and node 2 was stranded whatever its window.
TEST(TimeWindowCheckerTest, CoverageTakesTheQuickestChainOfArcs) {
  Matrix d = {{0, 5, 11, 9}, {5, 0, 6, 9}, {11, 6, 0, 4}, {9, 9, 4, 0}};
  d[3][2] = kNoConnection;
  d[1][2] = kNoConnection;
  auto verdict = [](const Matrix& costs, double window_end) {
    const SparseGraph graph = MakeGraph({costs});
    TimeWindowConstraintChecker checker;
    Prepare(checker, graph,
            {{{0}, {0}, {0}, {0}}, {0, 0}, {0, 3}, {0, 0}, {{2, {0.0, window_end}}}});
    EXPECT_EQ(checker.TravelTime(1, 3, 2), std::numeric_limits<double>::infinity());
    EXPECT_EQ(checker.TravelTime(0, 2, 3), 4.0);
    EXPECT_EQ(checker.ShortestTime(1, 3, 2), costs[0][2] == kNoConnection ? kInfinity : 20.0);
    Label label = MoveLabel(4, 2, 1, 5.0);
    label.visited.Set(3);
    label.current_nodes[1] = 3;
    return checker.ApplyMove(label, 0, 1).feasible;
  };
  EXPECT_TRUE(verdict(d, 20000.0));
  EXPECT_TRUE(verdict(d, 20.0));    // agent 1 over node 0: 9 + 11
  EXPECT_FALSE(verdict(d, 19.5));   // agent 0 needs 5 + 5 + 11
  d[0][2] = kNoConnection;          // nothing leads into node 2
  EXPECT_FALSE(verdict(d, 20000.0));
}

// Node 2 has no arc back to the depot; its window opens at 77. Going to
// node 1 first reaches node 2 no later (71, waiting until 77), but then
// node 2 leaves no way home: node 1 is a detour the routes need, so it
// cannot justify rejecting 0 -> 2. With an arc back it can.
TEST(TimeWindowCheckerTest, OrderingRestsOnlyOnNodesARouteCanLeaveOut) {
  auto verdict = [](double back) {
    const Matrix d = {{0, 30, 17}, {30, 0, 41}, {back, 41, 0}};
    const SparseGraph graph = MakeGraph({d});
    TimeWindowConstraintChecker checker;
    Prepare(checker, graph, {{{0}, {0}, {0}}, {0}, {0}, {0}, {{2, {77.0, 108.0}}}});
    return checker.ApplyMove(MoveLabel(3, 1, 2, 17.0), 0, 2);
  };
  const MoveCheck stranded = verdict(kNoConnection);
  EXPECT_TRUE(stranded.feasible);
  EXPECT_EQ(stranded.new_cost, 77.0);
  EXPECT_FALSE(verdict(20).feasible);
}

TEST(TimeWindowCheckerTest, AgentWithoutTypeMovesFreely) {
  const Matrix d = {{0, 5, 11}, {5, 0, 6}, {11, 6, 0}};
  const SparseGraph graph = MakeGraph({d});
  TimeWindowConstraintChecker checker;
  Prepare(checker, graph, {{{0}, {0}, {0}}, {-1, 0}, {0, 0}, {0, 0}, {{2, {0.0, 20.0}}}});
  EXPECT_TRUE(checker.IsForbidden(0, 1));
  EXPECT_FALSE(checker.IsForbidden(1, 1));
  // Its own legs cost nothing; agent 1 still covers node 2 from node 0.
  const MoveCheck move = checker.ApplyMove(MoveLabel(3, 2, 1, 0.0), 0, 1);
  EXPECT_TRUE(move.feasible);
  EXPECT_FALSE(move.new_cost.has_value());
}

}  // namespace
}  // namespace tarsel
