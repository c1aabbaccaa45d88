#include <gtest/gtest.h>

#include <algorithm>
#include <vector>

#include "engine/bounded_settings.h"
#include "engine/improvement_engine.h"
#include "engine/objective_value.h"
#include "engine/population_budget.h"
#include "engine/random_instance.h"
#include "engine/route_rules.h"
#include "postopt/route_evaluator.h"

namespace tarsel {
namespace {

using engine_test::AllKinds;
using engine_test::Bounded;
using engine_test::InstanceKinds;
using engine_test::MakeRandomInstance;

// Every target once, every route valid for the route evaluator, no missing
// arc, the reported cost the evaluator's.
void ExpectValidSolution(const InstanceTables& tables, const Result& result) {
  RouteEvaluator evaluator;
  evaluator.Attach(tables);
  RouteRules rules(tables);
  std::vector<int> served(tables.NumNodes(), 0);
  for (size_t k = 0; k < tables.NumAgents(); ++k) {
    ASSERT_EQ(result.paths.count(k), 1u);
    const std::vector<uint64_t>& path64 = result.paths.at(k);
    const std::vector<size_t> path(path64.begin(), path64.end());
    ASSERT_GE(path.size(), 2u);
    const RouteEvaluation evaluation = evaluator.EvaluateRoute(path, k);
    ASSERT_TRUE(evaluation.valid) << "route of agent " << k;
    EXPECT_EQ(result.times.at(k), evaluation.cost);
    EXPECT_LT(rules.ExactCost(k, path, PenaltyWeights{}), RouteRules::kInfeasible);
    for (size_t i = 1; i + 1 < path.size(); ++i) served[path[i]] += 1;
  }
  for (size_t v = 0; v < tables.NumNodes(); ++v) {
    EXPECT_EQ(served[v], rules.IsTarget(v) ? 1 : 0) << "node " << v;
  }
}

ObjectiveValue ValueOf(const Result& result) {
  ObjectiveValue value;
  for (const auto& entry : result.times) {
    value.longest = std::max(value.longest, entry.second);
    value.total += entry.second;
  }
  return value;
}

double Objective(const Result& result, bool min_max) {
  double longest = 0, total = 0;
  for (const auto& entry : result.times) {
    longest = std::max(longest, entry.second);
    total += entry.second;
  }
  return min_max ? longest : total;
}

TEST(ImprovementEngine, SolutionsAreValidRepeatableAndNeverWorseThanTheStart) {
  size_t solved = 0;
  unsigned seed = 100;
  for (const InstanceKinds& kinds : AllKinds()) {
    for (bool min_max : {true, false}) {
      ++seed;
      engine_test::RandomInstance instance = MakeRandomInstance(kinds, seed);
      const EngineOutcome first = RunImprovementEngine(instance.tables, nullptr, Bounded(min_max, seed, 30));
      if (!first.improved) continue;  // no feasible solution found (tight windows or limits)
      ++solved;
      ExpectValidSolution(instance.tables, first.result);
      EXPECT_EQ(first.iterations, 30);
      EXPECT_FALSE(first.stopped_early);

      // Same seed and iterations: the same routes.
      const EngineOutcome again = RunImprovementEngine(instance.tables, nullptr, Bounded(min_max, seed, 30));
      ASSERT_TRUE(again.improved);
      EXPECT_EQ(again.result.paths, first.result.paths);
      EXPECT_EQ(again.result.times, first.result.times);

      // Started from a solution, the engine returns only a better one, and
      // every reported solution improves on the one before.
      std::vector<double> reported;
      EngineSettings settings = Bounded(min_max, seed + 1, 30);
      settings.on_improvement = [&](double, const Result& r) { reported.push_back(Objective(r, min_max)); };
      const EngineOutcome from_start = RunImprovementEngine(instance.tables, &first.result, settings);
      const double start_value = Objective(first.result, min_max);
      if (from_start.improved) {
        ExpectValidSolution(instance.tables, from_start.result);
        // Min-max: a shorter longest route, or the same with a smaller total.
        EXPECT_TRUE(Improves(ValueOf(from_start.result), ValueOf(first.result), min_max));
      }
      for (size_t i = 0; i < reported.size(); ++i) {
        EXPECT_LE(reported[i], i == 0 ? start_value : reported[i - 1]);
      }
    }
  }
  EXPECT_GT(solved, 80u);
}

TEST(ImprovementEngine, StopsAtTheDeadlineAndOnInterrupt) {
  InstanceKinds kinds;
  kinds.nodes = 30;
  engine_test::RandomInstance instance = MakeRandomInstance(kinds, 5);
  EngineSettings settings = Bounded(true, 1, 0);
  double now = 0;
  settings.clock = [&now] { return now += 0.001; };
  settings.deadline = 0.5;
  const EngineOutcome timed = RunImprovementEngine(instance.tables, nullptr, settings);
  EXPECT_TRUE(timed.stopped_early);
  EXPECT_TRUE(timed.improved);
  ExpectValidSolution(instance.tables, timed.result);

  InterruptCheck interrupt;
  int asked = 0;
  interrupt.SetCallback([&asked] { return ++asked > 3; });
  EngineSettings interrupted = Bounded(true, 1, 0);
  double clock = 0;
  interrupted.clock = [&clock] { return clock += 0.05; };
  interrupted.interrupt = &interrupt;
  const EngineOutcome stopped = RunImprovementEngine(instance.tables, nullptr, interrupted);
  EXPECT_TRUE(stopped.stopped_early);
  EXPECT_TRUE(interrupt.Interrupted());
}

TEST(ImprovementEngine, ImprovesOnAPoorStartAndUsesIdleAgents) {
  InstanceKinds kinds;
  kinds.nodes = 25;
  kinds.agents = 4;
  kinds.types = 1;
  engine_test::RandomInstance instance = MakeRandomInstance(kinds, 9);
  RouteRules rules(instance.tables);
  // Start: agent 0 serves every target in index order, the others stay idle.
  Result start;
  std::vector<uint64_t> path{rules.Agent(0).start};
  for (size_t v : rules.Targets()) path.push_back(v);
  path.push_back(rules.Agent(0).goal);
  start.paths[0] = path;
  const std::vector<size_t> nodes(path.begin(), path.end());
  start.times[0] = rules.ExactCost(0, nodes, PenaltyWeights{});
  for (size_t k = 1; k < 4; ++k) {
    start.paths[k] = {rules.Agent(k).start, rules.Agent(k).goal};
    start.times[k] = 0.0;
  }
  const EngineOutcome outcome = RunImprovementEngine(instance.tables, &start, Bounded(true, 3, 50));
  ASSERT_TRUE(outcome.improved);
  ExpectValidSolution(instance.tables, outcome.result);
  // Min-max spreads the work: the longest route is well under the single tour.
  EXPECT_LT(Objective(outcome.result, true), 0.6 * start.times[0]);
  for (size_t k = 0; k < 4; ++k) EXPECT_GT(outcome.result.paths.at(k).size(), 2u) << "agent " << k;
}

TEST(ImprovementEngine, StopsCleanlyUnderATinyMemoryBudgetAndRunsSmallerUnderASmallOne) {
  InstanceKinds kinds;
  kinds.nodes = 30;
  kinds.windows = true;
  engine_test::RandomInstance instance = MakeRandomInstance(kinds, 12);
  EngineSettings tiny = Bounded(true, 2, 20);
  tiny.memory_budget_bytes = 2000;  // not even the work solutions fit
  const EngineOutcome none = RunImprovementEngine(instance.tables, nullptr, tiny);
  EXPECT_TRUE(none.memory_limited);
  EXPECT_TRUE(none.stopped_early);
  EXPECT_FALSE(none.improved);
  EXPECT_EQ(none.iterations, 0);

  // A budget for a handful of solutions: the run goes on with a smaller
  // population and hands out valid solutions.
  EngineSettings small = Bounded(true, 2, 200);
  small.memory_budget_bytes =
      static_cast<double>(EngineFixedBytes(instance.tables.NumNodes(), instance.tables.NumAgents(),
                                           instance.tables.NumTypes())) +
      60000;
  const EngineOutcome outcome = RunImprovementEngine(instance.tables, nullptr, small);
  EXPECT_FALSE(outcome.memory_limited);
  EXPECT_EQ(outcome.iterations, 200);
  ASSERT_TRUE(outcome.improved);
  ExpectValidSolution(instance.tables, outcome.result);
}

TEST(ImprovementEngine, RestartsKeepRunsRepeatableAndValid) {
  // Tight windows and limits, small enough that thousands of children pass
  // without improvement and the population starts afresh.
  InstanceKinds kinds;
  kinds.nodes = 10;
  kinds.windows = true;
  kinds.limits = true;
  kinds.types = 1;
  engine_test::RandomInstance instance = MakeRandomInstance(kinds, 31);
  const EngineOutcome first = RunImprovementEngine(instance.tables, nullptr, Bounded(true, 4, 5000));
  const EngineOutcome second = RunImprovementEngine(instance.tables, nullptr, Bounded(true, 4, 5000));
  EXPECT_EQ(first.iterations, 5000);
  EXPECT_GE(first.restarts, 1);
  EXPECT_EQ(first.restarts, second.restarts);
  ASSERT_EQ(first.improved, second.improved);
  if (first.improved) {
    ExpectValidSolution(instance.tables, first.result);
    EXPECT_EQ(first.result.paths, second.result.paths);
    EXPECT_EQ(first.result.times, second.result.times);
  }
}

TEST(ImprovementEngine, MaxIterationsCountsTheConstructionsOfThePopulation) {
  // One iteration is one construction: the first population is not built
  // past the limit (it would otherwise take 25 constructions or more).
  InstanceKinds kinds;
  kinds.nodes = 30;
  engine_test::RandomInstance instance = MakeRandomInstance(kinds, 5);
  EngineSettings settings = Bounded(true, 1, 1);
  int reports = 0;
  settings.on_improvement = [&reports](double, const Result&) { ++reports; };
  const EngineOutcome outcome = RunImprovementEngine(instance.tables, nullptr, settings);
  EXPECT_EQ(outcome.iterations, 1);
  EXPECT_EQ(reports, 1);
  EXPECT_FALSE(outcome.stopped_early);
}

TEST(ImprovementEngine, NoImprovementLimitEndsAConvergedRunRepeatably) {
  InstanceKinds kinds;
  kinds.nodes = 8;
  engine_test::RandomInstance instance = MakeRandomInstance(kinds, 7);
  EngineSettings settings = Bounded(false, 2, 0);  // no iteration limit, a clock that never moves
  settings.max_no_improvement = 300;
  const EngineOutcome first = RunImprovementEngine(instance.tables, nullptr, settings);
  const EngineOutcome second = RunImprovementEngine(instance.tables, nullptr, settings);
  ASSERT_TRUE(first.improved);
  EXPECT_FALSE(first.stopped_early);
  EXPECT_EQ(first.iterations - first.last_improvement, 300);
  EXPECT_EQ(first.iterations, second.iterations);
  EXPECT_EQ(first.result.paths, second.result.paths);
  ExpectValidSolution(instance.tables, first.result);
}

}  // namespace
}  // namespace tarsel
