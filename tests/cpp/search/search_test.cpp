#include <gtest/gtest.h>

#include "common/console_capture.h"

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <functional>
#include <random>
#include <stdexcept>

#include "instance_builder.h"
#include "route_check.h"
#include "search/solver.h"

namespace tarsel {
namespace {

using testing::CheckedRouteCost;
using testing::CheckSolution;
using testing::InstanceBuilder;
using testing::ConsoleCapture;

Options MakeOptions(ObjectiveType objective, bool return_to_end = true, double limit = 30) {
  Options options;
  options.objective = objective;
  options.return_to_end = return_to_end;
  options.time_limit = limit;
  return options;
}

// Best objective over every split of every visiting order of the targets,
// each route evaluated by the independent checker.
double BruteForceOptimum(const Problem& problem, bool return_to_end, ObjectiveType objective) {
  std::vector<uint64_t> targets;
  for (size_t i = 0; i < problem.nodes.size(); ++i) {
    bool depot = false;
    for (const Agent& a : problem.agents_ordered) {
      depot |= problem.nodes[i].id == a.start_node || problem.nodes[i].id == a.end_node;
    }
    if (!depot) targets.push_back(i);
  }
  const size_t m = problem.agents_ordered.size();
  auto position = [&](uint64_t id) {
    for (size_t i = 0; i < problem.nodes.size(); ++i) {
      if (problem.nodes[i].id == id) return static_cast<uint64_t>(i);
    }
    return uint64_t{0};
  };
  double best = 1e300;
  std::vector<size_t> cuts(m + 1, 0);
  std::function<void(size_t)> split = [&](size_t agent) {
    if (agent == m) {
      if (cuts[m] != targets.size()) return;
      double max_cost = 0, sum_cost = 0;
      for (size_t a = 0; a < m; ++a) {
        const Agent& ag = problem.agents_ordered[a];
        std::vector<uint64_t> path{position(ag.start_node)};
        path.insert(path.end(), targets.begin() + cuts[a], targets.begin() + cuts[a + 1]);
        path.push_back(position(ag.end_node));
        auto cost = CheckedRouteCost(problem, return_to_end, a, path);
        if (!cost) return;
        max_cost = std::max(max_cost, *cost);
        sum_cost += *cost;
      }
      best = std::min(best, objective == ObjectiveType::MinMax ? max_cost : sum_cost);
      return;
    }
    for (size_t c = cuts[agent]; c <= targets.size(); ++c) {
      cuts[agent + 1] = c;
      split(agent + 1);
    }
  };
  std::sort(targets.begin(), targets.end());
  do {
    split(0);
  } while (std::next_permutation(targets.begin(), targets.end()));
  return best;
}

InstanceBuilder RandomInstance(unsigned seed, size_t targets, size_t agents, bool two_types) {
  std::mt19937 rng(seed);
  std::uniform_real_distribution<double> coord(0, 100);
  InstanceBuilder b;
  b.Node(50, 50, NodeType::DEPOT);
  for (size_t i = 0; i < targets; ++i) b.Node(coord(rng), coord(rng));
  for (size_t k = 0; k < agents; ++k) b.AgentOf(two_types && k % 2 == 1 ? "drone" : "truck", 0, 0);
  b.EuclideanCosts("truck");
  if (two_types) {
    b.EuclideanCosts("drone", 0.6);
    for (size_t i = 1; i <= targets; ++i) {
      if (i % 3 == 0) b.Allow(i, {"truck"});
    }
    b.AllowAllElsewhere({"truck", "drone"});
  } else {
    b.AllowAllElsewhere({"truck"});
  }
  return b;
}

int SolveQuietly(Solver& solver) {
  ConsoleCapture console;
  return solver.Solve();
}

TEST(Search, NegativeTimeLimitStopsAtTheFirstStep) {
  InstanceBuilder b = RandomInstance(1, 4, 2, false);
  Solver solver(b.problem, MakeOptions(ObjectiveType::MinMax, true, -1));
  EXPECT_EQ(solver.Solve(), 0);
  const Result result = solver.GetResult();
  EXPECT_TRUE(result.timeout);
  EXPECT_EQ(result.n_generated, 1);
  EXPECT_EQ(result.n_expanded, 0);
  EXPECT_TRUE(result.paths.empty());
  EXPECT_EQ(solver.GetSummary().found, 0);
  EXPECT_EQ(solver.GetSummary().num_nodes, -1);
  EXPECT_DOUBLE_EQ(solver.GetSummary().sum_cost, -1);
}

TEST(Search, MinMaxFindsTheOptimumOnTinyInstances) {
  struct Case {
    unsigned seed;
    size_t targets, agents;
    bool two_types;
  };
  for (const Case& c : {Case{2, 6, 2, false}, Case{3, 5, 3, false}, Case{4, 6, 2, true},
                        Case{5, 5, 3, true}}) {
    InstanceBuilder b = RandomInstance(c.seed, c.targets, c.agents, c.two_types);
    Solver solver(b.problem, MakeOptions(ObjectiveType::MinMax));
    ASSERT_EQ(SolveQuietly(solver), 1) << "seed " << c.seed;
    const Result result = solver.GetResult();
    ASSERT_FALSE(result.timeout);
    EXPECT_EQ(CheckSolution(b.problem, true, result), "") << "seed " << c.seed;
    double longest = 0;
    for (const auto& [agent, cost] : result.times) longest = std::max(longest, cost);
    EXPECT_NEAR(longest, BruteForceOptimum(b.problem, true, ObjectiveType::MinMax), 1e-6)
        << "seed " << c.seed;
  }
}

// Min-sum once pruned by the longest route and kept the latest solution,
// whatever its total.
TEST(Search, MinSumFindsTheOptimumOnTinyInstances) {
  for (const unsigned seed : {2u, 3u, 4u, 5u, 7u}) {
    InstanceBuilder b = RandomInstance(seed, 6, seed % 2 == 0 ? 2 : 3, seed >= 4);
    Solver solver(b.problem, MakeOptions(ObjectiveType::MinSum));
    ASSERT_EQ(SolveQuietly(solver), 1) << "seed " << seed;
    const Result result = solver.GetResult();
    ASSERT_FALSE(result.timeout);
    EXPECT_EQ(CheckSolution(b.problem, true, result), "") << "seed " << seed;
    double total = 0;
    for (const auto& [agent, cost] : result.times) total += cost;
    EXPECT_NEAR(total, BruteForceOptimum(b.problem, true, ObjectiveType::MinSum), 1e-6)
        << "seed " << seed;
  }
}

// The result is the logged solution that is best by the objective: for
// min-sum the first of the smallest total, for min-max the latest (each
// later solution of the search is no longer). Its last_update_time is the
// time of the log's last entry, also when that entry is no better (the
// instances include such min-sum runs).
TEST(Search, ResultIsTheBestLoggedSolution) {
  size_t best_before_last = 0;
  for (unsigned seed = 30; seed < 40; ++seed) {
    for (const ObjectiveType objective : {ObjectiveType::MinMax, ObjectiveType::MinSum}) {
      InstanceBuilder b = RandomInstance(seed, 8, 3, seed % 2 == 0);
      Solver solver(b.problem, MakeOptions(objective, seed % 3 != 0));
      ASSERT_EQ(SolveQuietly(solver), 1) << "seed " << seed;
      const AnytimeLog log = solver.GetResultProcess();
      size_t chosen = log.size() - 1;
      if (objective == ObjectiveType::MinSum) {
        double best = 1e300;
        for (size_t i = 0; i < log.size(); ++i) {
          double total = 0;
          for (size_t k = 0; k < log[i].second.times.size(); ++k) total += log[i].second.times.at(k);
          if (total < best - 1e-9) {
            best = total;
            chosen = i;
          }
        }
      }
      const Result result = solver.GetResult();
      EXPECT_EQ(result.paths, log[chosen].second.paths) << "seed " << seed;
      EXPECT_EQ(result.times, log[chosen].second.times) << "seed " << seed;
      EXPECT_EQ(result.last_update_time, log.back().first) << "seed " << seed;
      if (log[chosen].first != log.back().first) ++best_before_last;
    }
  }
  EXPECT_GT(best_before_last, 0u);
}

TEST(Search, ReportsTwoSnapshotsPerSolutionAndTheLatestTime) {
  InstanceBuilder b = RandomInstance(6, 7, 2, false);
  Solver solver(b.problem, MakeOptions(ObjectiveType::MinMax));
  ASSERT_EQ(SolveQuietly(solver), 1);
  const AnytimeLog log = solver.GetResultProcess();
  ASSERT_GE(log.size(), 2u);
  EXPECT_EQ(log.size() % 2, 0u);
  // The second snapshot of a solution comes from the post-optimiser, which
  // restarts the counters.
  EXPECT_EQ(log[1].second.n_generated, 0);
  EXPECT_GT(log[0].second.n_generated, 0);
  const Result result = solver.GetResult();
  EXPECT_DOUBLE_EQ(result.last_update_time, log.back().first);
  const SolveSummary summary = solver.GetSummary();
  EXPECT_EQ(summary.found, 1);
  EXPECT_EQ(summary.num_nodes, 8);
  EXPECT_EQ(summary.num_agents, 2);
  EXPECT_EQ(summary.num_type0_agents, 2);
  EXPECT_EQ(summary.num_nodes_type0, 8);
  double sum = 0, longest = 0;
  for (const auto& [agent, cost] : log.back().second.times) {
    sum += cost;
    longest = std::max(longest, cost);
  }
  EXPECT_DOUBLE_EQ(summary.sum_cost, sum);
  EXPECT_DOUBLE_EQ(summary.max_path_length, longest);
}

TEST(Search, SolutionsAreFeasibleAndRunsAreRepeatable) {
  for (unsigned seed = 10; seed < 14; ++seed) {
    for (bool return_to_end : {true, false}) {
      for (ObjectiveType objective : {ObjectiveType::MinMax, ObjectiveType::MinSum}) {
        InstanceBuilder b = RandomInstance(seed, 9, 3, seed % 2 == 0);
        if (seed % 3 == 0) b.problem.agents_ordered[0].time_limit = 400;
        if (seed % 3 == 1) b.Window(2, 0, 90).Window(4, 60, 300);
        const Options options = MakeOptions(objective, return_to_end);
        Solver first(b.problem, options);
        // The second run is asked for interrupts and never gets one: that
        // must not change anything.
        Solver second(b.problem, options);
        int polls = 0;
        second.SetInterruptCallback([&polls]() {
          ++polls;
          return false;
        });
        const int found = SolveQuietly(first);
        ASSERT_EQ(SolveQuietly(second), found);
        const Result a = first.GetResult();
        const Result c = second.GetResult();
        ASSERT_FALSE(a.timeout);
        EXPECT_EQ(a.paths, c.paths);
        EXPECT_EQ(a.times, c.times);
        EXPECT_EQ(a.n_generated, c.n_generated);
        EXPECT_EQ(a.n_expanded, c.n_expanded);
        EXPECT_GT(polls, 0);
        EXPECT_FALSE(second.Interrupted());
        if (found == 1) {
          EXPECT_EQ(CheckSolution(b.problem, return_to_end, a), "")
              << "seed " << seed << " open " << !return_to_end;
        }
      }
    }
  }
}

TEST(Search, WindowsWithWaitingAreRespected) {
  InstanceBuilder b;
  b.Node(0, 0).Node(10, 0).Node(20, 0).Node(0, 10);
  b.AgentOf("truck", 0, 0).EuclideanCosts("truck").AllowAllElsewhere({"truck"});
  b.Window(2, 50, 60);  // reached at 20 at the earliest: waits 30
  Solver solver(b.problem, MakeOptions(ObjectiveType::MinMax));
  ASSERT_EQ(SolveQuietly(solver), 1);
  const Result result = solver.GetResult();
  EXPECT_EQ(CheckSolution(b.problem, true, result), "");
  EXPECT_NEAR(result.times.at(0), BruteForceOptimum(b.problem, true, ObjectiveType::MinMax), 1e-9);
  EXPECT_GE(result.times.at(0), 50.0);
}

// With the option "schedule" the result holds each stop's times: the
// agent serves B (reached at 5) first and reaches A at 5 + |BA|, waits
// there for its window to open at 30, and is back at 40, the route's cost.
// Without the option the result holds no stops.
TEST(Search, ScheduleOfTheResultShowsTheWaits) {
  InstanceBuilder b;
  b.Node(0, 0).Node(10, 0).Node(0, 5);
  b.AgentOf("truck", 0, 0).EuclideanCosts("truck").AllowAllElsewhere({"truck"});
  b.Window(1, 30, 40);
  Options options = MakeOptions(ObjectiveType::MinMax);
  options.schedule = true;
  Solver solver(b.problem, options);
  ASSERT_EQ(SolveQuietly(solver), 1);
  const Result result = solver.GetResult();
  ASSERT_EQ(result.paths.at(0), (std::vector<uint64_t>{0, 2, 1, 0}));
  const std::vector<ScheduledStop>& stops = result.stops.at(0);
  ASSERT_EQ(stops.size(), 4u);
  const double ba = std::hypot(10.0, 5.0);
  const std::vector<double> arrivals{0, 5, 5 + ba, 40};
  const std::vector<double> starts{0, 5, 30, 40};
  for (size_t i = 0; i < stops.size(); ++i) {
    EXPECT_EQ(stops[i].node, result.paths.at(0)[i]);
    EXPECT_DOUBLE_EQ(stops[i].arrival, arrivals[i]);
    EXPECT_DOUBLE_EQ(stops[i].start, starts[i]);
    EXPECT_EQ(stops[i].departure, stops[i].start);
    EXPECT_EQ(stops[i].load, 0.0);
  }
  EXPECT_EQ(stops.back().departure, result.times.at(0));

  Solver plain(b.problem, MakeOptions(ObjectiveType::MinMax));
  ASSERT_EQ(SolveQuietly(plain), 1);
  EXPECT_TRUE(plain.GetResult().stops.empty());
}

TEST(Search, AgentsWithSeparateStartAndEndDepots) {
  // Agent 0 runs from depot 0 to depot 1, agent 1 from depot 2 to depot 3.
  for (bool return_to_end : {true, false}) {
    InstanceBuilder b;
    b.Node(0, 0, NodeType::DEPOT).Node(100, 0, NodeType::DEPOT).Node(0, 50, NodeType::DEPOT)
        .Node(100, 50, NodeType::DEPOT);
    b.Node(30, 5).Node(60, 0).Node(40, 45).Node(70, 55).Node(50, 25);
    b.AgentOf("truck", 0, 1).AgentOf("truck", 2, 3);
    b.EuclideanCosts("truck").AllowAllElsewhere({"truck"});
    Solver solver(b.problem, MakeOptions(ObjectiveType::MinMax, return_to_end));
    ASSERT_EQ(SolveQuietly(solver), 1) << "return_to_end " << return_to_end;
    const Result result = solver.GetResult();
    EXPECT_EQ(CheckSolution(b.problem, return_to_end, result), "");
    EXPECT_EQ(result.paths.at(0).front(), 0u);
    EXPECT_EQ(result.paths.at(1).front(), 2u);
    if (return_to_end) {
      EXPECT_EQ(result.paths.at(0).back(), 1u);
      EXPECT_EQ(result.paths.at(1).back(), 3u);
      EXPECT_NEAR(std::max(result.times.at(0), result.times.at(1)),
                  BruteForceOptimum(b.problem, true, ObjectiveType::MinMax), 1e-6);
    }
  }
  // Each agent at its own depot, returning there.
  InstanceBuilder b;
  b.Node(0, 0, NodeType::DEPOT).Node(100, 0, NodeType::DEPOT);
  b.Node(10, 10).Node(20, -5).Node(90, 10).Node(80, -10).Node(50, 0);
  b.AgentOf("truck", 0, 0).AgentOf("truck", 1, 1);
  b.EuclideanCosts("truck").AllowAllElsewhere({"truck"});
  Solver solver(b.problem, MakeOptions(ObjectiveType::MinMax));
  ASSERT_EQ(SolveQuietly(solver), 1);
  const Result result = solver.GetResult();
  EXPECT_EQ(CheckSolution(b.problem, true, result), "");
  EXPECT_NEAR(std::max(result.times.at(0), result.times.at(1)),
              BruteForceOptimum(b.problem, true, ObjectiveType::MinMax), 1e-6);
}

TEST(Search, AnAgentMayStartWhereAnotherEnds) {
  // Agent 0 ends at depot 1, where agent 1 starts; agent 1 ends at depot 2.
  for (bool return_to_end : {true, false}) {
    InstanceBuilder b;
    b.Node(0, 0, NodeType::DEPOT).Node(50, 0, NodeType::DEPOT).Node(100, 0, NodeType::DEPOT);
    b.Node(20, 10).Node(30, -10).Node(70, 10).Node(80, -10);
    b.AgentOf("truck", 0, 1).AgentOf("truck", 1, 2);
    b.EuclideanCosts("truck").AllowAllElsewhere({"truck"});
    Solver solver(b.problem, MakeOptions(ObjectiveType::MinMax, return_to_end));
    ASSERT_EQ(SolveQuietly(solver), 1);
    const Result result = solver.GetResult();
    // Both routes carry their real cost: none is mistaken for an invalid one.
    EXPECT_EQ(CheckSolution(b.problem, return_to_end, result), "") << return_to_end;
    EXPECT_GT(result.times.at(0), 0.0);
    EXPECT_GT(result.times.at(1), 0.0);
  }
}

TEST(Search, OpenRoutesCloseAtDepotsOfOtherAgents) {
  // Each agent's start is the other's end: an open route that ends at its
  // end node or back at its start ends at the other's depot either way.
  for (size_t targets : {0, 2}) {
    InstanceBuilder b;
    b.Node(0, 0, NodeType::DEPOT).Node(10, 0, NodeType::DEPOT);
    if (targets > 0) b.Node(3, 4).Node(7, -4);
    b.AgentOf("truck", 0, 1).AgentOf("truck", 1, 0);
    b.EuclideanCosts("truck").AllowAllElsewhere({"truck"});
    Solver solver(b.problem, MakeOptions(ObjectiveType::MinSum, false));
    ASSERT_EQ(SolveQuietly(solver), 1) << targets << " targets";
    const Result result = solver.GetResult();
    EXPECT_EQ(CheckSolution(b.problem, false, result), "");
    EXPECT_NEAR(result.times.at(0) + result.times.at(1),
                BruteForceOptimum(b.problem, false, ObjectiveType::MinSum), 1e-9);
  }
}

TEST(Search, AgentsWithNothingToVisitEndWhereTheyStand) {
  // Four agents for two targets: two of them must end their routes at once.
  InstanceBuilder b;
  b.Node(0, 0, NodeType::DEPOT).Node(10, 0).Node(0, 10);
  b.AgentOf("truck", 0, 0).AgentOf("truck", 0, 0).AgentOf("truck", 0, 0).AgentOf("truck", 0, 0);
  b.EuclideanCosts("truck").AllowAllElsewhere({"truck"});
  Solver solver(b.problem, MakeOptions(ObjectiveType::MinMax));
  ASSERT_EQ(SolveQuietly(solver), 1);
  const Result result = solver.GetResult();
  EXPECT_EQ(CheckSolution(b.problem, true, result), "");
  EXPECT_NEAR(std::max({result.times.at(0), result.times.at(1), result.times.at(2), result.times.at(3)}), 20.0, 1e-9);
}

TEST(Search, EquivalentLabelsDoNotStallTheSearch) {
  // With small integer costs many labels share visited count, f and total
  // cost; the focal list keeps one of each kind, the others must still be
  // searched once it runs empty.
  InstanceBuilder b;
  for (int i = 0; i < 6; ++i) b.Node(i, 0);
  b.AgentOf("truck", 0, 0).AgentOf("truck", 0, 0);
  b.problem.set_cost_matrix("truck", {{0, 1, 3, 2, 3, 0},
                                      {0, 0, 1, 3, 0, 0},
                                      {0, 1, 0, 0, 1, 1},
                                      {2, 1, 3, 0, 2, 3},
                                      {1, 1, 2, 2, 0, 0},
                                      {1, 3, 0, 0, 2, 0}});
  b.AllowAllElsewhere({"truck"});
  Solver solver(b.problem, MakeOptions(ObjectiveType::MinMax));
  ASSERT_EQ(SolveQuietly(solver), 1);
  EXPECT_EQ(CheckSolution(b.problem, true, solver.GetResult()), "");
}

TEST(Search, InterruptStopsTheSearchAndKeepsTheSolution) {
  InstanceBuilder b = RandomInstance(5, 30, 4, false);
  Solver solver(b.problem, MakeOptions(ObjectiveType::MinMax, true, 1.0));
  int polls = 0;
  // Polls come every few tens of milliseconds; the fifth is well after the
  // first solution of this instance.
  solver.SetInterruptCallback([&polls]() { return ++polls >= 5; });
  ASSERT_EQ(SolveQuietly(solver), 1);
  const Result interrupted = solver.GetResult();
  EXPECT_TRUE(solver.Interrupted());
  EXPECT_TRUE(interrupted.timeout);
  EXPECT_EQ(polls, 5);
  EXPECT_LT(interrupted.cpu_seconds, 0.9);
  EXPECT_EQ(CheckSolution(b.problem, true, interrupted), "");

  // A new solve starts afresh and runs to its time limit.
  solver.SetInterruptCallback([]() { return false; });
  ASSERT_EQ(SolveQuietly(solver), 1);
  EXPECT_FALSE(solver.Interrupted());
  EXPECT_GE(solver.GetResult().cpu_seconds, 1.0);
}

TEST(Search, MemoryBudgetStopsTheSearchAndKeepsTheSolution) {
  InstanceBuilder b = RandomInstance(5, 30, 4, false);
  Options options = MakeOptions(ObjectiveType::MinMax, true, 30.0);
  options.memory_limit_mb = 2;
  Solver solver(b.problem, options);
  ConsoleCapture console;
  ASSERT_EQ(solver.Solve(), 1);
  const std::string err = console.TakeErr();
  EXPECT_TRUE(solver.MemoryLimitReached());
  EXPECT_TRUE(solver.GetResult().timeout);
  EXPECT_LE(solver.SearchMemoryBytes(), size_t{2} << 20);
  EXPECT_NE(err.find("[memory] memory limit of 2 MB reached with "), std::string::npos) << err;
  const auto stop = std::find_if(console.Records().begin(), console.Records().end(),
                                 [](const ConsoleRecord& record) { return record.kind == ConsoleKind::kStop; });
  ASSERT_NE(stop, console.Records().end());
  EXPECT_EQ(stop->code, console_code::kMemoryStop);
  EXPECT_EQ(stop->fields, (ConsoleFields{{"memory_limit_mb", 2.0}}));
  EXPECT_EQ(stop->text.rfind("[memory] memory limit of 2 MB reached with ", 0), 0u);
  EXPECT_EQ(CheckSolution(b.problem, true, solver.GetResult()), "");

  options.memory_limit_mb = 0;
  EXPECT_THROW(Solver(b.problem, options), std::invalid_argument);
}

TEST(Search, SecondSolveReproducesTheFirst) {
  InstanceBuilder b = RandomInstance(21, 8, 2, true);
  Solver solver(b.problem, MakeOptions(ObjectiveType::MinMax));
  ASSERT_EQ(SolveQuietly(solver), 1);
  const Result first = solver.GetResult();
  const size_t log_size = solver.GetResultProcess().size();
  ASSERT_EQ(SolveQuietly(solver), 1);
  const Result second = solver.GetResult();
  EXPECT_EQ(first.paths, second.paths);
  EXPECT_EQ(first.times, second.times);
  EXPECT_EQ(first.n_generated, second.n_generated);
  EXPECT_EQ(solver.GetResultProcess().size(), log_size);
}

// A Problem only to construct a Solver; SetupAndSolve replaces its tables.
Problem Placeholder() {
  InstanceBuilder b;
  b.Node(0, 0);
  b.AgentOf("truck", 0, 0).EuclideanCosts("truck").AllowAllElsewhere({"truck"});
  return b.problem;
}

TEST(SetupAndSolve, SolvesACallersGraphAndDumpsThePaths) {
  SparseGraph graph;
  const size_t n = 5;
  for (size_t i = 0; i < n; ++i) {
    for (size_t j = 0; j < n; ++j) {
      if (i != j) graph.AddArc(i, j, {1.0 + static_cast<double>((i * 7 + j * 3) % 5)});
    }
  }
  std::vector<NodeInfo> nodes(n);
  for (size_t i = 0; i < n; ++i) {
    nodes[i].id = i;
    nodes[i].allowed_types = {0};
  }
  std::vector<AgentInfo> agents(1);
  agents[0].type = 0;
  Solver solver(Placeholder(), Options{});
  const std::filesystem::path dir = std::filesystem::temp_directory_path() / "kvr_dump_test";
  std::filesystem::create_directories(dir);
  const auto previous = std::filesystem::current_path();
  std::filesystem::current_path(dir);
  ConsoleCapture console;
  const int found = solver.SetupAndSolve(&graph, nodes, agents, {4}, {4}, "tiny", 30);
  const std::string out = console.TakeOut();
  std::filesystem::current_path(previous);
  ASSERT_EQ(found, 1);
  EXPECT_NE(out.find("Saved to paths/paths_astar/tiny_astar.json"), std::string::npos);
  const Result result = solver.GetResult();
  const std::vector<uint64_t>& route = result.paths.at(0);
  ASSERT_EQ(route.size(), 6u);  // start, four targets, back to the start
  EXPECT_EQ(route.front(), 4u);
  EXPECT_EQ(route.back(), 4u);

  std::ifstream file(dir / "paths/paths_astar/tiny_astar.json");
  std::string text((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
  // Members in name order; the path without its closing node.
  EXPECT_LT(text.find("\"goals\""), text.find("\"max_path_length\""));
  EXPECT_LT(text.find("\"num_agents\""), text.find("\"paths\""));
  EXPECT_LT(text.find("\"starts\""), text.find("\"total_costs\""));
  std::string expected_path = "\"0\": [\n      4";
  for (size_t k = 1; k + 1 < route.size(); ++k) expected_path += ",\n      " + std::to_string(route[k]);
  expected_path += "\n    ]";
  EXPECT_NE(text.find(expected_path), std::string::npos) << text;
  std::filesystem::remove_all(dir);
}

TEST(SetupAndSolve, RejectsBadNodeTypesAndOversizedGraphs) {
  Solver solver(Placeholder(), Options{});
  std::vector<NodeInfo> nodes(2);
  nodes[0].allowed_types = {0, 1};
  nodes[1].allowed_types = {1};
  try {
    solver.SetNodes(nodes);
    FAIL() << "expected std::invalid_argument";
  } catch (const std::invalid_argument& e) {
    EXPECT_STREQ(e.what(), "Wrong Point type");
  }
  nodes[1].allowed_types = {};
  EXPECT_THROW(solver.SetNodes(nodes), std::invalid_argument);

  // Start and end nodes must lie in the graph.
  SparseGraph small;
  small.AddArc(0, 1, {1.0});
  std::vector<NodeInfo> pair(2);
  pair[0].allowed_types = pair[1].allowed_types = {0};
  std::vector<AgentInfo> one(1);
  one[0].type = 0;
  EXPECT_THROW(solver.SetupAndSolve(&small, pair, one, {0}, {70000}, "", 10), std::invalid_argument);

  SparseGraph big;
  big.AddArc(256, 0, {1.0});
  std::vector<NodeInfo> ok(1);
  ok[0].allowed_types = {0};
  std::vector<AgentInfo> agents(1);
  agents[0].type = 0;
  ConsoleCapture console;
  EXPECT_THROW(solver.SetupAndSolve(&big, ok, agents, {0}, {0}, "", 10), std::length_error);
}

}  // namespace
}  // namespace tarsel
