#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <random>
#include <stdexcept>
#include <string>

#include "common/console_capture.h"
#include "common/special_values.h"
#include "instance_builder.h"
#include "route_check.h"
#include "search/solver.h"

namespace tarsel {
namespace {

using testing::CheckSolution;
using testing::ConsoleCapture;
using testing::InstanceBuilder;

constexpr double X = kNoConnection;

// Depot 0 and three targets on a line, one truck; `matrix` replaces the
// Euclidean costs when given.
InstanceBuilder Line(const CostMatrix& matrix = {}) {
  InstanceBuilder b;
  b.Node(0, 0).Node(1, 0).Node(2, 0).Node(3, 0);
  b.AgentOf("truck", 0, 0);
  if (matrix.empty()) {
    b.EuclideanCosts("truck");
  } else {
    b.problem.set_cost_matrix("truck", matrix);
  }
  b.AllowAllElsewhere({"truck"});
  return b;
}

std::string ConstructionError(const Problem& problem, Options options = Options{}) {
  ConsoleCapture quiet;
  try {
    Solver solver(problem, options);
  } catch (const std::invalid_argument& e) {
    return e.what();
  }
  return "";
}

TEST(InstanceChecks, RepeatedIdsAreRejectedWithBothPositions) {
  InstanceBuilder b = Line();
  b.problem.nodes[3].id = 1;
  EXPECT_EQ(ConstructionError(b.problem), "node id 1 occurs twice: at positions 1 and 3 of the nodes");
  b = Line();
  b.AgentOf("truck", 0, 0).AgentOf("truck", 0, 0);
  b.problem.agents_ordered[2].id = 0;
  EXPECT_EQ(ConstructionError(b.problem),
            "agent id 0 occurs twice: at positions 0 and 2 of the agents");
}

TEST(InstanceChecks, CostsMustBeFiniteAndNonNegative) {
  const double nan = std::numeric_limits<double>::quiet_NaN();
  const double inf = std::numeric_limits<double>::infinity();
  for (const double bad : {-4.5, nan, inf, -inf}) {
    Problem problem;
    const CostMatrix matrix = {{0, 1, 2}, {1, 0, bad}, {2, 1, 0}};
    try {
      problem.set_cost_matrix("drone", matrix);
      FAIL() << "accepted " << bad;
    } catch (const std::invalid_argument& e) {
      const std::string text = e.what();
      EXPECT_EQ(text.substr(0, 30), "cost matrix of type \"drone\" ho") << text;
      EXPECT_NE(text.find("at row 1, column 2; costs must be finite and non-negative"),
                std::string::npos)
          << text;
    }
    EXPECT_TRUE(problem.cost_matrices.empty());
  }
  // Matrices stored directly (as the JSON reader does) are checked by the Solver,
  // the diagonal and entries beyond the node count included.
  InstanceBuilder b = Line();
  b.problem.cost_matrices["truck"][3][3] = -1;
  EXPECT_EQ(ConstructionError(b.problem),
            "cost matrix of type \"truck\" holds -1 at row 3, column 3; costs must be finite and "
            "non-negative");
  b = Line();
  b.problem.cost_matrices["truck"][0].push_back(-2);
  EXPECT_NE(ConstructionError(b.problem).find("-2 at row 0, column 4"), std::string::npos);
}

TEST(InstanceChecks, MissingCostMustBePositiveAndFinite) {
  for (const double bad : {0.0, -1.0, std::numeric_limits<double>::infinity(),
                           std::numeric_limits<double>::quiet_NaN()}) {
    Options options;
    options.missing_cost = bad;
    EXPECT_EQ(ConstructionError(Line().problem, options).substr(0, 46),
              "missing_cost must be a positive finite number,")
        << bad;
  }
}

TEST(InstanceChecks, NanLimitsAreRejectedNamingTheAgent) {
  // Every comparison with NaN fails, so such a limit would quietly be none;
  // infinite limits are kept (no route exceeds them).
  const double nan = std::numeric_limits<double>::quiet_NaN();
  InstanceBuilder b = Line();
  Agent second;
  second.id = 7;
  second.type = "truck";
  b.problem.add_agent(second, second.id);
  b.problem.agents_ordered[1].time_limit = nan;
  EXPECT_EQ(ConstructionError(b.problem),
            "agent 7 (agents[1]) has a time_limit of nan; a limit must be a number (0 or less for "
            "none)");
  b.problem.agents_ordered[1].time_limit = std::numeric_limits<double>::infinity();
  b.problem.agents_ordered[1].capacity_limit = nan;
  EXPECT_EQ(ConstructionError(b.problem).substr(0, 40), "agent 7 (agents[1]) has a capacity_limit");
  b.problem.agents_ordered[1].capacity_limit = std::numeric_limits<double>::infinity();
  EXPECT_EQ(ConstructionError(b.problem), "");
}

TEST(MissingConnections, TargetReachableOnlyOverMissingArcsFailsAtOnce) {
  // Target 3 is entered only over arcs of cost 9999.
  InstanceBuilder b = Line({{0, 1, 2, X}, {1, 0, 1, X}, {2, 1, 0, X}, {3, 2, 1, 0}});
  ConsoleCapture console;
  Solver solver(b.problem, Options{});
  EXPECT_EQ(console.TakeErr(), "point: 3 can't be reached\n");
  EXPECT_EQ(solver.Solve(), 0);
  const Result result = solver.GetResult();
  EXPECT_TRUE(result.paths.empty());
  EXPECT_FALSE(result.timeout);
  EXPECT_EQ(result.n_generated, 0);
  EXPECT_TRUE(solver.GetResultProcess().empty());
}

TEST(MissingConnections, NoRouteUsesAMissingArc) {
  // Random instances in which about a fifth of the arcs are missing: every
  // solution found takes only existing arcs (checked independently), and a
  // search that finds none ran out of arcs, not of time.
  size_t solved = 0;
  for (unsigned seed = 0; seed < 24; ++seed) {
    std::mt19937 rng(seed);
    std::uniform_real_distribution<double> coord(0, 100);
    InstanceBuilder b;
    b.Node(50, 50, NodeType::DEPOT);
    for (int i = 0; i < 7; ++i) b.Node(coord(rng), coord(rng));
    b.AgentOf("truck", 0, 0).AgentOf(seed % 2 ? "drone" : "truck", 0, 0);
    b.EuclideanCosts("truck");
    if (seed % 2) b.EuclideanCosts("drone", 0.5);
    for (auto& [type, matrix] : b.problem.cost_matrices) {
      for (size_t i = 0; i < matrix.size(); ++i) {
        for (size_t j = 0; j < matrix.size(); ++j) {
          if (i != j && rng() % 5 == 0) matrix[i][j] = rng() % 2 ? X : 20000.0;
        }
      }
    }
    b.AllowAllElsewhere({"truck", "drone"});
    for (const bool return_to_end : {true, false}) {
      for (const ObjectiveType objective : {ObjectiveType::MinMax, ObjectiveType::MinSum}) {
        Options options;
        options.return_to_end = return_to_end;
        options.objective = objective;
        ConsoleCapture quiet;
        Solver solver(b.problem, options);
        const int found = solver.Solve();
        const Result result = solver.GetResult();
        ASSERT_FALSE(result.timeout) << "seed " << seed;
        if (found == 0) continue;
        ++solved;
        EXPECT_EQ(CheckSolution(b.problem, return_to_end, result), "") << "seed " << seed;
        for (const auto& [time, snapshot] : solver.GetResultProcess()) {
          EXPECT_EQ(CheckSolution(b.problem, return_to_end, snapshot), "") << "seed " << seed;
        }
      }
    }
  }
  EXPECT_GT(solved, 20u);  // the check is not vacuous
}

TEST(MissingConnections, LargeCostsNeedARaisedThreshold) {
  InstanceBuilder b = Line();
  for (auto& row : b.problem.cost_matrices["truck"]) {
    for (double& cost : row) cost *= 20000;
  }
  {
    ConsoleCapture console;
    Solver solver(b.problem, Options{});
    EXPECT_EQ(solver.Solve(), 0);
    EXPECT_NE(console.TakeErr().find("[warning] cost matrix of type truck has entries above 9999"),
              std::string::npos);
  }
  Options raised;
  raised.missing_cost = 1e9;
  ConsoleCapture console;
  Solver solver(b.problem, raised);
  ASSERT_EQ(solver.Solve(), 1);
  EXPECT_EQ(console.TakeErr(), "");
  const Result result = solver.GetResult();
  EXPECT_EQ(CheckSolution(b.problem, true, result, raised.missing_cost), "");
  EXPECT_DOUBLE_EQ(result.times.at(0), 6 * 20000.0);
}

TEST(AgentTrips, AnAgentThatCannotReachItsEndWithinItsLimitFailsTheInstance) {
  InstanceBuilder b;
  b.Node(0, 0).Node(1, 0).Node(5, 0).Node(2, 0);
  b.AgentOf("truck", 0, 0);
  Agent agent;  // from 1 to 2, which costs 4 directly or through 3
  agent.id = 42;
  agent.type = "truck";
  agent.start_node = 1;
  agent.end_node = 2;
  agent.time_limit = 3.5;
  b.problem.add_agent(agent, agent.id);
  b.EuclideanCosts("truck").AllowAllElsewhere({"truck"});
  ConsoleCapture console;
  Solver solver(b.problem, Options{});
  EXPECT_EQ(console.TakeErr(),
            "[warning] agent 42 can't reach its end node 2 from its start node 1 within its "
            "route-length limit 3.5: the shortest trip costs 4\n");
  EXPECT_EQ(solver.Solve(), 0);
  EXPECT_EQ(solver.GetResult().n_generated, 0);

  b.problem.agents_ordered[1].time_limit = 4;
  Solver enough(b.problem, Options{});
  EXPECT_EQ(enough.Solve(), 1);
  EXPECT_EQ(CheckSolution(b.problem, true, enough.GetResult()), "");
}

TEST(AgentTrips, AStartNodeThatOpensLaterIsWaitedFor) {
  // The post-optimisers and the checker wait at the start node; the search
  // does too, so the limit sees the wait: 5 + 6 fits 11, not 10.
  InstanceBuilder b = Line();
  b.Window(0, 5, 100);
  b.problem.agents_ordered[0].time_limit = 11;
  ConsoleCapture quiet;
  Solver solver(b.problem, Options{});
  ASSERT_EQ(solver.Solve(), 1);
  EXPECT_DOUBLE_EQ(solver.GetResult().times.at(0), 11.0);
  EXPECT_EQ(CheckSolution(b.problem, true, solver.GetResult()), "");
  b.problem.agents_ordered[0].time_limit = 10;
  Solver tight(b.problem, Options{});
  EXPECT_EQ(tight.Solve(), 0);
  EXPECT_FALSE(tight.GetResult().timeout);
}

TEST(UnservableTargets, AWindowNoAgentCanMeetFailsAtOnceAndIsNamed) {
  // Target 3 lies 3 from the depot: a window closing at 2 can't be met.
  InstanceBuilder b = Line();
  b.Window(3, 0, 2);
  ConsoleCapture console;
  Solver solver(b.problem, Options{});
  EXPECT_EQ(console.TakeErr(),
            "[warning] node 3 can't be served: its time window [0, 2] closes before any agent can "
            "arrive (the earliest arrival is 3)\n");
  EXPECT_EQ(solver.Solve(), 0);
  EXPECT_EQ(solver.GetResult().n_generated, 0);
  EXPECT_FALSE(solver.GetResult().timeout);

  b.problem.timewindow_constraint.set_timewindow(3, 0, 3);
  Solver met(b.problem, Options{});
  EXPECT_EQ(met.Solve(), 1);
  EXPECT_EQ(CheckSolution(b.problem, true, met.GetResult()), "");
}

TEST(UnservableTargets, ARouteLengthLimitNoRouteThroughATargetMeetsIsNamed) {
  // Any closed route through target 3 costs at least 6.
  InstanceBuilder b = Line();
  b.problem.agents_ordered[0].time_limit = 5;
  ConsoleCapture console;
  Solver solver(b.problem, Options{});
  EXPECT_EQ(console.TakeErr(),
            "[warning] node 3 can't be served within any agent's route-length limit: the cheapest "
            "route through it, agent 0's, costs at least 6 against its limit 5\n");
  EXPECT_EQ(solver.Solve(), 0);
  EXPECT_EQ(solver.GetResult().n_generated, 0);

  b.problem.agents_ordered[0].time_limit = 6;
  Solver enough(b.problem, Options{});
  EXPECT_EQ(enough.Solve(), 1);
}

// The line of targets 1, 2, 3 with demands 2 each, two trucks of capacity
// `capacity` (the second one's `second_capacity`), capacities enforced.
InstanceBuilder LoadedLine(double capacity, double second_capacity) {
  InstanceBuilder b;
  b.Node(0, 0).Node(1, 0).Node(2, 0).Node(3, 0);
  b.AgentOf("truck", 0, 0).AgentOf("truck", 0, 0);
  b.EuclideanCosts("truck").AllowAllElsewhere({"truck"});
  for (size_t i = 1; i < 4; ++i) b.problem.nodes[i].demand = 2;
  b.problem.agents_ordered[0].capacity_limit = capacity;
  b.problem.agents_ordered[1].capacity_limit = second_capacity;
  b.problem.options.enforce_capacity = true;
  return b;
}

TEST(Capacities, BindingCapacitiesNeedTheEngineAndItKeepsThem) {
  InstanceBuilder b = LoadedLine(4, 4);
  Options options = b.problem.options;
  EXPECT_NE(ConstructionError(b.problem, options).find(
                "set the option \"improve\" to true, or \"enforce_capacity\" to false"),
            std::string::npos);
  // With the engine: one truck takes two targets, the other one. The best
  // split is {2, 3} (cost 6) and {1} (cost 2).
  options.improve = true;
  options.max_iterations = 200;
  options.time_limit = 1e308;
  ConsoleCapture console;
  Solver solver(b.problem, options);
  ASSERT_EQ(solver.Solve(), 1);
  EXPECT_NE(console.TakeErr().find("[improve] the demands can exceed a capacity"), std::string::npos);
  const Result result = solver.GetResult();
  EXPECT_EQ(CheckSolution(b.problem, true, result), "");
  EXPECT_NEAR(result.times.at(0) + result.times.at(1), 8.0, 1e-9);
  // Not enforced: one warning, and one truck serves all three (cost 6).
  b.problem.options.enforce_capacity = options.enforce_capacity = false;
  options.improve = false;
  Solver loose(b.problem, options);
  EXPECT_EQ(console.TakeErr(),
            "[warning] demands and capacities are carried but not enforced; set the option "
            "\"enforce_capacity\" to true to keep every route within its agent's capacity\n");
  ASSERT_EQ(loose.Solve(), 1);
  EXPECT_NEAR(loose.GetResult().times.at(0) + loose.GetResult().times.at(1), 6.0, 1e-9);
  EXPECT_TRUE(loose.GetResult().loads.empty());
}

TEST(Capacities, CapacitiesThatCannotBindLeaveTheFocalSearchItsInstance) {
  // Capacity 6 carries every demand: the focal search solves it exactly.
  InstanceBuilder b = LoadedLine(6, 0);
  ConsoleCapture console;
  Solver solver(b.problem, b.problem.options);
  EXPECT_FALSE(solver.EngineOnly());
  ASSERT_EQ(solver.Solve(), 1);
  const Result result = solver.GetResult();
  EXPECT_EQ(CheckSolution(b.problem, true, result), "");
  EXPECT_EQ(result.loads.at(0) + result.loads.at(1), 6.0);
}

TEST(Capacities, ADemandNoAgentCanCarryFailsAtOnceAndIsNamed) {
  InstanceBuilder b = LoadedLine(4, 3);
  b.problem.nodes[3].demand = 5;
  Options options = b.problem.options;
  options.improve = true;
  ConsoleCapture console;
  Solver solver(b.problem, options);
  EXPECT_EQ(console.TakeErr(),
            "[warning] node 3 can't be served: its demand 5 is above the capacity of every agent "
            "that may visit it (the largest, agent 0's, is 4)\n");
  EXPECT_EQ(solver.Solve(), 0);
  EXPECT_FALSE(solver.GetResult().timeout);
  // An agent without a capacity carries it.
  b.problem.agents_ordered[1].capacity_limit = 0;
  Solver carried(b.problem, options);
  EXPECT_EQ(console.TakeErr().find("can't be served"), std::string::npos);
}

TEST(Capacities, DemandsMustBeFiniteAndNonNegative) {
  InstanceBuilder b = LoadedLine(4, 4);
  Options options = b.problem.options;
  options.improve = true;
  b.problem.nodes[2].demand = -1;
  EXPECT_EQ(ConstructionError(b.problem, options),
            "node 2 (nodes[2]) has a demand of -1; demands must be finite and non-negative");
  b.problem.nodes[2].demand = std::numeric_limits<double>::infinity();
  EXPECT_EQ(ConstructionError(b.problem, options),
            "node 2 (nodes[2]) has a demand of inf; demands must be finite and non-negative");
  // Not enforced: demands are not read.
  options.enforce_capacity = false;
  EXPECT_EQ(ConstructionError(b.problem, options), "");
}

TEST(ExhaustedSearch, NoSolutionAnywhereEndsTheSolveWithoutTheEngine) {
  // Targets 1 and 2 lie 2 to either side of the depot, each with a window
  // closing at 2: each alone can be met, both together cannot.
  InstanceBuilder b;
  b.Node(0, 0).Node(-2, 0).Node(2, 0);
  b.AgentOf("truck", 0, 0);
  b.EuclideanCosts("truck").AllowAllElsewhere({"truck"});
  b.Window(1, 0, 2).Window(2, 0, 2);
  Options options;
  options.improve = true;
  options.time_limit = 1e308;  // only the end of the search can end this solve
  ConsoleCapture console;
  Solver solver(b.problem, options);
  EXPECT_EQ(solver.Solve(), 0);
  EXPECT_FALSE(solver.GetResult().timeout);
  EXPECT_NE(console.TakeErr().find("[improve] the focal search has exhausted its search space without "
                                   "a solution"),
            std::string::npos);
}

TEST(MemoryBudget, TablesThatCannotFitAreRefusedBeforeTheyAreBuilt) {
  auto nodes_on_a_line = [](int n) {
    InstanceBuilder b;
    for (int i = 0; i < n; ++i) b.Node(i, 0);
    b.AgentOf("truck", 0, 0);
    b.problem.set_cost_matrix("truck", {{0}});
    return b;
  };
  // 20,000 nodes would take 3 GB of cost table: refused without allocating it.
  InstanceBuilder b = nodes_on_a_line(20000);
  Options options;
  options.improve = true;
  options.memory_limit_mb = 100;
  ConsoleCapture quiet;
  try {
    Solver solver(b.problem, options);
    FAIL() << "no error";
  } catch (const std::length_error& e) {
    const std::string text = e.what();
    EXPECT_EQ(text.rfind("instance of 20000 nodes and 1 agent type needs about ", 0), 0u) << text;
    EXPECT_NE(text.find("more than the memory budget of 100 MB; raise the option \"memory_limit_mb\""),
              std::string::npos)
        << text;
  }
  // A budget that holds them lets the solver be built.
  EXPECT_NO_THROW(Solver(nodes_on_a_line(300).problem, options));
}

}  // namespace
}  // namespace tarsel
