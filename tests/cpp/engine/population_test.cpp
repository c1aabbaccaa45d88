#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <random>
#include <vector>

#include "engine/broken_pairs.h"
#include "engine/penalty_manager.h"
#include "engine/population.h"
#include "engine/population_budget.h"
#include "engine/random_instance.h"
#include "engine/route_rules.h"
#include "engine/solution.h"
#include "common/test_tables.h"
#include "graph/sparse_graph.h"

namespace tarsel {
namespace {

using engine_test::InstanceKinds;
using engine_test::MakeRandomInstance;

// A solution that cuts `order` into consecutive routes at random places
// (no constraint is checked: one type, no windows, no limits).
Solution Cut(const RouteRules& rules, const std::vector<size_t>& order, std::mt19937& random) {
  Solution solution(rules);
  const size_t m = rules.NumAgents();
  std::vector<size_t> cuts{0, order.size()};
  for (size_t k = 1; k < m; ++k) cuts.push_back(random() % (order.size() + 1));
  std::sort(cuts.begin(), cuts.end());
  for (size_t k = 0; k < m; ++k) solution.SetTargets(k, order.data() + cuts[k], cuts[k + 1] - cuts[k]);
  for (size_t k = 0; k < m; ++k) solution.Refresh(k, PenaltyWeights{});
  return solution;
}

InstanceKinds Plain(size_t nodes, size_t agents) {
  InstanceKinds kinds;
  kinds.nodes = nodes;
  kinds.agents = agents;
  kinds.types = 1;
  return kinds;
}

TEST(BrokenPairs, DistanceIsZeroForTheSameRoutesSymmetricAndOneWithoutSharedPairs) {
  engine_test::RandomInstance instance = MakeRandomInstance(Plain(9, 2), 3);
  RouteRules rules(instance.tables);
  BrokenPairs pairs(rules);
  const std::vector<size_t>& targets = rules.Targets();  // 1..8
  ASSERT_EQ(targets.size(), 8u);
  std::vector<uint32_t> a, b, c;

  Solution first(rules);
  first.SetTargets(0, targets.data(), 4);
  first.SetTargets(1, targets.data() + 4, 4);
  for (size_t k = 0; k < 2; ++k) first.Refresh(k, PenaltyWeights{});
  pairs.Keys(first, a);
  pairs.Keys(first, b);
  EXPECT_EQ(BrokenPairs::Distance(a, b), 0.0);

  // The same routes handed to the other (identical) agent: distance 0.
  Solution swapped(rules);
  swapped.SetTargets(1, targets.data(), 4);
  swapped.SetTargets(0, targets.data() + 4, 4);
  for (size_t k = 0; k < 2; ++k) swapped.Refresh(k, PenaltyWeights{});
  pairs.Keys(swapped, b);
  EXPECT_EQ(BrokenPairs::Distance(a, b), 0.0);

  // Every route reversed: no target keeps its successor.
  Solution reversed(rules);
  std::vector<size_t> back(targets.rbegin(), targets.rend());  // 8..1
  reversed.SetTargets(0, back.data() + 4, 4);                 // 4 3 2 1
  reversed.SetTargets(1, back.data(), 4);                     // 8 7 6 5
  for (size_t k = 0; k < 2; ++k) reversed.Refresh(k, PenaltyWeights{});
  pairs.Keys(reversed, b);
  EXPECT_EQ(BrokenPairs::Distance(a, b), 1.0);

  // One target moved to the end of the other route breaks the pairs of its
  // old predecessor, of itself and of the other route's last target: 3 of 8.
  Solution moved = first;
  moved.Erase(0, 2);           // removes targets[1]
  moved.Insert(1, 5, targets[1]);
  for (size_t k = 0; k < 2; ++k) moved.Refresh(k, PenaltyWeights{});
  pairs.Keys(moved, c);
  EXPECT_DOUBLE_EQ(BrokenPairs::Distance(a, c), 3.0 / 8.0);
  EXPECT_DOUBLE_EQ(BrokenPairs::Distance(c, a), 3.0 / 8.0);

  // Symmetry on random pairs of solutions.
  std::mt19937 random(5);
  std::vector<size_t> order = targets;
  for (int trial = 0; trial < 50; ++trial) {
    std::shuffle(order.begin(), order.end(), random);
    pairs.Keys(Cut(rules, order, random), a);
    std::shuffle(order.begin(), order.end(), random);
    pairs.Keys(Cut(rules, order, random), b);
    const double distance = BrokenPairs::Distance(a, b);
    EXPECT_EQ(distance, BrokenPairs::Distance(b, a));
    EXPECT_GE(distance, 0.0);
    EXPECT_LE(distance, 1.0);
  }
}

TEST(BrokenPairs, AgentsThatDifferCountAsDifferentPairs) {
  InstanceKinds kinds = Plain(9, 2);
  kinds.types = 2;  // agent 0 type 0, agent 1 type 1
  engine_test::RandomInstance instance = MakeRandomInstance(kinds, 4);
  RouteRules rules(instance.tables);
  BrokenPairs pairs(rules);
  EXPECT_NE(pairs.Profile(0), pairs.Profile(1));
  const std::vector<size_t>& targets = rules.Targets();
  Solution first(rules), swapped(rules);
  first.SetTargets(0, targets.data(), 4);
  first.SetTargets(1, targets.data() + 4, 4);
  swapped.SetTargets(1, targets.data(), 4);
  swapped.SetTargets(0, targets.data() + 4, 4);
  for (size_t k = 0; k < 2; ++k) {
    first.Refresh(k, PenaltyWeights{});
    swapped.Refresh(k, PenaltyWeights{});
  }
  std::vector<uint32_t> a, b;
  pairs.Keys(first, a);
  pairs.Keys(swapped, b);
  EXPECT_EQ(BrokenPairs::Distance(a, b), 1.0);
}

TEST(Population, KeepsNoClonesStaysBoundedAndKeepsTheBest) {
  engine_test::RandomInstance instance = MakeRandomInstance(Plain(14, 3), 8);
  RouteRules rules(instance.tables);
  rules.SetMinMax(true);
  const SubPopulationSizes sizes{5, 4, 2, 3};
  Population population(rules, true, sizes);
  BrokenPairs pairs(rules);
  std::mt19937 random(11);
  std::vector<size_t> order = rules.Targets();
  double best_offered = RouteRules::kInfeasible;
  Random tournament(1);
  for (int trial = 0; trial < 200; ++trial) {
    std::shuffle(order.begin(), order.end(), random);
    const Solution solution = Cut(rules, order, random);
    ASSERT_TRUE(solution.Feasible());
    const bool taken = population.Offer(solution);
    if (taken) best_offered = std::min(best_offered, solution.Value().longest);
    // A clone of a member is refused.
    const Solution member = population.Feasible().Member(random() % population.Feasible().Size());
    EXPECT_FALSE(population.Offer(member));
    EXPECT_LE(population.Feasible().Size(), sizes.survivors + sizes.generation);
    EXPECT_EQ(population.Infeasible().Size(), 0u);
    const Solution& parent = population.Tournament(tournament);
    EXPECT_TRUE(parent.Complete());
  }
  const SubPopulation& part = population.Feasible();
  EXPECT_GE(part.Size(), sizes.survivors);
  std::vector<uint32_t> a, b;
  for (size_t i = 0; i < part.Size(); ++i) {
    for (size_t j = i + 1; j < part.Size(); ++j) {
      pairs.Keys(part.Member(i), a);
      pairs.Keys(part.Member(j), b);
      EXPECT_GT(BrokenPairs::Distance(a, b), 0.0) << i << " and " << j;
      EXPECT_EQ(part.Distance(i, j), BrokenPairs::Distance(a, b));
    }
  }
  // The elite are protected from the diversity term: the best offered
  // solution survives every selection.
  EXPECT_EQ(part.Member(part.Best()).Value().longest, best_offered);
  // The memory sizing's assumption: a part at its largest holds at most
  // survivors + generation + 1 members of MemberBytes each.
  EXPECT_LE(part.MemoryBytes(), (sizes.survivors + sizes.generation + 1) * Population::MemberBytes(rules, sizes));
  population.Clear();
  EXPECT_EQ(population.Size(), 0u);
}

TEST(Population, InfeasibleSolutionsGoToTheirOwnPartAndAreRepriced) {
  InstanceKinds kinds = Plain(12, 2);
  kinds.limits = true;
  engine_test::RandomInstance instance = MakeRandomInstance(kinds, 21);
  RouteRules rules(instance.tables);
  PenaltyWeights weights;
  weights.active = true;
  Population population(rules, false, SubPopulationSizes{4, 4, 1, 2});
  std::mt19937 random(2);
  std::vector<size_t> order = rules.Targets();
  // Everything on one route: far beyond a limit of at most 300.
  Solution overlong(rules);
  overlong.SetTargets(0, order.data(), order.size());
  overlong.Refresh(0, weights);
  overlong.Refresh(1, weights);
  ASSERT_TRUE(overlong.Complete());
  ASSERT_FALSE(overlong.Feasible());
  ASSERT_TRUE(population.Offer(overlong));
  EXPECT_EQ(population.Infeasible().Size(), 1u);
  EXPECT_EQ(population.Feasible().Size(), 0u);
  const double before = population.Infeasible().Member(0).Value().total;
  weights.excess = 5.0;
  population.Recost(weights);
  EXPECT_GT(population.Infeasible().Member(0).Value().total, before);
}

TEST(PenaltyManager, WeightsFollowTheShareOfFeasibleChildren) {
  PenaltyManager::Settings settings;
  settings.period = 10;
  PenaltyManager manager(true, settings);
  const double start = manager.Weights().warp;
  // Too few children without warp: the warp weight rises; every child
  // within its limits: the excess weight falls.
  for (int child = 0; child < 9; ++child) EXPECT_FALSE(manager.Record(false, true));
  EXPECT_TRUE(manager.Record(false, true));
  EXPECT_DOUBLE_EQ(manager.Weights().warp, start * settings.increase);
  EXPECT_DOUBLE_EQ(manager.Weights().excess, start * settings.decrease);
  // On target (4 of 10): no change.
  for (int child = 0; child < 10; ++child) manager.Record(child < 4, child < 4);
  EXPECT_DOUBLE_EQ(manager.Weights().warp, start * settings.increase);
  // Repairs use ten times the weights; the weights stay within bounds.
  EXPECT_DOUBLE_EQ(manager.RepairWeights().warp, 10.0 * manager.Weights().warp);
  for (int child = 0; child < 10000; ++child) manager.Record(true, false);
  EXPECT_DOUBLE_EQ(manager.Weights().warp, PenaltyManager::kMinWeight);
  EXPECT_DOUBLE_EQ(manager.Weights().excess, PenaltyManager::kMaxWeight);
  // The capacity weight follows its own share, from the weight it was set to.
  PenaltyManager loads(true, settings);
  loads.SetOverloadWeight(4.0);
  for (int child = 0; child < 10; ++child) loads.Record(true, true, child < 2);
  EXPECT_DOUBLE_EQ(loads.Weights().overload, 4.0 * settings.increase);
  EXPECT_DOUBLE_EQ(loads.Weights().warp, start * settings.decrease);
  EXPECT_DOUBLE_EQ(loads.RepairWeights().overload, 10.0 * loads.Weights().overload);
  loads.SetOverloadWeight(1e12);
  EXPECT_DOUBLE_EQ(loads.Weights().overload, PenaltyManager::kMaxWeight);
  // Inactive (no windows, no limits): nothing changes.
  PenaltyManager off(false, settings);
  for (int child = 0; child < 100; ++child) EXPECT_FALSE(off.Record(false, false));
  EXPECT_FALSE(off.Weights().active);
}

// A depot (node 0) and two targets at 3 and 5 from it (4 apart); agent 0
// has capacity `capacity`, agent 1 none, and target 2 only agent 1's type
// when `restricted`.
struct TwoTargets {
  std::unique_ptr<SparseGraph> graph;
  InstanceTables tables;
};
TwoTargets MakeTwoTargets(double capacity, double scale, bool restricted) {
  const std::vector<std::vector<double>> costs{{0, 3, 5}, {3, 0, 4}, {5, 4, 0}};
  std::vector<std::vector<std::vector<double>>> per_type(2, costs);
  std::vector<std::vector<double>> flat(2, std::vector<double>(9));
  for (size_t t = 0; t < 2; ++t) {
    for (size_t i = 0; i < 3; ++i) {
      for (size_t j = 0; j < 3; ++j) {
        per_type[t][i][j] *= scale;
        flat[t][i * 3 + j] = per_type[t][i][j];
      }
    }
  }
  TwoTargets instance;
  instance.graph = std::make_unique<SparseGraph>(test_common::MatrixGraph(per_type));
  instance.tables.SetCostMatrices(flat, 3, instance.graph.get());
  const std::vector<size_t> only_second{1};
  const std::vector<size_t> both{0, 1};
  instance.tables.SetNodes(test_common::MakeNodes({both, both, restricted ? only_second : both}));
  std::vector<AgentInfo> agents(2);
  for (size_t k = 0; k < 2; ++k) {
    agents[k].id = k;
    agents[k].type = static_cast<int64_t>(k);
  }
  agents[0].capacity_limit = capacity;
  instance.tables.SetAgents(agents);
  instance.tables.SetStarts({0, 0});
  instance.tables.SetGoals({0, 0});
  instance.tables.SetReturnToEnd(true);
  instance.tables.SetDemands({0, 1, 2});
  return instance;
}

// The capacity weight starts at twice the mean round trip per unit of
// capacity: trips of 6 and 10 over a capacity of 4 give 2 * 8 / 4; it
// grows with the costs, shrinks with the capacity, ignores agents without
// one, and is 1 when no agent has a capacity.
TEST(PenaltyManager, OverloadWeightStartsAtTheRoundTripCostPerUnitOfCapacity) {
  TwoTargets base = MakeTwoTargets(4.0, 1.0, false);
  EXPECT_DOUBLE_EQ(StartingOverloadWeight(RouteRules(base.tables)), 4.0);
  TwoTargets costly = MakeTwoTargets(4.0, 10.0, false);
  EXPECT_DOUBLE_EQ(StartingOverloadWeight(RouteRules(costly.tables)), 40.0);
  TwoTargets larger = MakeTwoTargets(8.0, 1.0, false);
  EXPECT_DOUBLE_EQ(StartingOverloadWeight(RouteRules(larger.tables)), 2.0);
  TwoTargets none = MakeTwoTargets(0.0, 1.0, false);
  EXPECT_DOUBLE_EQ(StartingOverloadWeight(RouteRules(none.tables)), 1.0);
  // Only targets the agent may serve count: agent 0 keeps the trip of 6.
  TwoTargets restricted = MakeTwoTargets(4.0, 1.0, true);
  EXPECT_DOUBLE_EQ(StartingOverloadWeight(RouteRules(restricted.tables)), 3.0);
}

TEST(PopulationBudget, ShrinksThePopulationToTheBudget) {
  const SubPopulationSizes wanted{25, 40, 4, 5};
  bool fits = false;
  // Room for everything, and an unlimited budget.
  SubPopulationSizes sizes = FitPopulationSizes(wanted, 1e9, 1000, 1000, fits);
  EXPECT_TRUE(fits);
  EXPECT_EQ(sizes.survivors, 25u);
  EXPECT_EQ(sizes.generation, 40u);
  sizes = FitPopulationSizes(wanted, std::numeric_limits<double>::infinity(), 1000, 1000, fits);
  EXPECT_TRUE(fits && sizes.survivors == 25u);
  // Room for 20 members per part beside the fixed 1000 bytes.
  sizes = FitPopulationSizes(wanted, 1000 + 2 * 20 * 1000, 1000, 1000, fits);
  EXPECT_TRUE(fits);
  EXPECT_LE(sizes.survivors + sizes.generation + 1, 20u);
  EXPECT_GE(sizes.survivors, 5u);
  EXPECT_GE(sizes.generation, 5u);
  EXPECT_LE(sizes.elite, sizes.survivors);
  // Room for two members per part: one survivor, no generation.
  sizes = FitPopulationSizes(wanted, 1000 + 2 * 2 * 1000, 1000, 1000, fits);
  EXPECT_TRUE(fits);
  EXPECT_EQ(sizes.survivors + sizes.generation + 1, 2u);
  // Less than that, or not even the fixed part: the engine cannot run.
  FitPopulationSizes(wanted, 1000 + 2 * 1000, 1000, 1000, fits);
  EXPECT_FALSE(fits);
  FitPopulationSizes(wanted, 500, 1000, 1000, fits);
  EXPECT_FALSE(fits);
}

}  // namespace
}  // namespace tarsel
