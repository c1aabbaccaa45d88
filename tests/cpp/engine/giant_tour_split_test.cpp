#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <limits>
#include <random>
#include <vector>

#include "engine/giant_tour_split.h"
#include "engine/objective_value.h"
#include "engine/random_instance.h"
#include "engine/route_rules.h"
#include "engine/same_pairs.h"
#include "engine/solution.h"

namespace tarsel {
namespace {

using engine_test::InstanceKinds;
using engine_test::KindsFromMask;
using engine_test::MakeRandomInstance;

constexpr double kInfinity = std::numeric_limits<double>::infinity();

// The best value of any cut of `tour` into consecutive routes for the agents
// in `order`, each route walked node by node and priced under `weights`;
// +inf when no cut is feasible. With `clean`, only cuts at positions c where
// clean[c] != 0; only cuts whose routes carry at most `load_factor` times
// their agent's capacity (where it has one).
ObjectiveValue BruteForceBest(const RouteRules& rules, const std::vector<size_t>& tour,
                              const std::vector<size_t>& order, bool min_max,
                              const std::vector<char>* clean = nullptr,
                              const PenaltyWeights& weights = PenaltyWeights{}, double load_factor = kInfinity) {
  const size_t n = tour.size();
  const size_t m = order.size();
  ObjectiveValue best{kInfinity, kInfinity};
  std::vector<size_t> cuts(m + 1, 0);  // route r takes tour[cuts[r] .. cuts[r + 1])
  cuts[m] = n;
  std::vector<size_t> route;
  // Odometer over 0 <= cuts[1] <= ... <= cuts[m - 1] <= n.
  while (true) {
    ObjectiveValue value;
    bool feasible = true;
    for (size_t r = 1; r < m && clean != nullptr; ++r) feasible = feasible && (*clean)[cuts[r]] != 0;
    for (size_t r = 0; r < m && feasible; ++r) {
      const size_t agent = order[r];
      route.assign(1, rules.Agent(agent).start);
      double load = 0;
      for (size_t i = cuts[r]; i < cuts[r + 1]; ++i) {
        feasible = feasible && rules.CanServe(agent, tour[i]);
        route.push_back(tour[i]);
        load += rules.NodeSeg(tour[i]).load;
      }
      route.push_back(rules.Agent(agent).goal);
      const double capacity = rules.Agent(agent).capacity;
      feasible = feasible && !(capacity > 0 && load > load_factor * capacity);
      const double cost = rules.ExactCost(agent, route, weights);
      feasible = feasible && cost < kInfinity;
      value.longest = std::max(value.longest, cost);
      value.total += cost;
    }
    if (feasible && RanksBefore(value, best, min_max)) best = value;
    size_t r = m - 1;
    while (r >= 1 && cuts[r] == n) --r;
    if (r == 0) break;
    ++cuts[r];
    for (size_t later = r + 1; later < m; ++later) cuts[later] = cuts[r];
  }
  return best;
}

// The split finds the best cut, on instances with 6 to 8 targets of every
// constraint kind (limits among them): it fails exactly when no cut is
// feasible; otherwise its solution has the smallest total of all cuts
// under min-sum, and the smallest longest route under min-max.
TEST(GiantTourSplit, FindsTheBestOfAllCutsForBothObjectives) {
  size_t compared = 0;
  size_t infeasible = 0;
  unsigned seed = 900;
  for (int mask = 0; mask < 64; ++mask) {
    InstanceKinds kinds = KindsFromMask(mask);
    kinds.own_depots = false;  // one depot: every other node is a target
    kinds.types = 1 + static_cast<size_t>(mask % 2);
    kinds.agents = 2 + static_cast<size_t>(mask % 2);
    for (size_t targets = 6; targets <= 8; ++targets) {
      kinds.nodes = targets + 1;
      engine_test::RandomInstance instance = MakeRandomInstance(kinds, ++seed);
      RouteRules rules(instance.tables);
      ASSERT_EQ(rules.Targets().size(), targets);
      GiantTourSplit split(rules);
      std::mt19937 random(seed);
      std::vector<size_t> tour = rules.Targets();
      std::vector<size_t> order(rules.NumAgents());
      for (size_t k = 0; k < order.size(); ++k) order[k] = k;
      for (bool min_max : {true, false}) {
        rules.SetMinMax(min_max);
        std::shuffle(tour.begin(), tour.end(), random);
        std::shuffle(order.begin(), order.end(), random);
        const ObjectiveValue best = BruteForceBest(rules, tour, order, min_max);
        Solution solution(rules);
        const bool made = split.Split(tour, order, PenaltyWeights{}, solution);
        ASSERT_EQ(made, best.total < kInfinity) << "mask " << mask << " targets " << targets;
        if (!made) {
          ++infeasible;
          continue;
        }
        ++compared;
        ASSERT_TRUE(solution.Feasible());
        std::vector<size_t> giant;
        solution.GiantTour(giant);
        // Routes in agent order; the split's cut keeps the tour's order per route.
        EXPECT_EQ(giant.size(), tour.size());
        const ObjectiveValue value = solution.Value();
        const double tolerance = 1e-9 * std::max(1.0, best.total);
        if (min_max) {
          // The longest route is the best possible; the total is the
          // smallest the dynamic programme keeps per prefix, which need not
          // be the smallest among the cuts with that longest route.
          EXPECT_NEAR(value.longest, best.longest, tolerance);
          EXPECT_GE(value.total, best.total - tolerance);
        } else {
          EXPECT_NEAR(value.total, best.total, tolerance);
        }
      }
    }
  }
  EXPECT_GT(compared, 150u);
  EXPECT_GT(infeasible, 0u);  // the failing case was exercised
}

// With capacities priced by penalties, the split keeps to routes of at most
// one and a half times their capacity and finds the best such cut; when no
// such cut exists it still cuts the tour (the best cut of all). Overload
// weights low and high, so that the best cut of all sometimes overloads.
TEST(GiantTourSplit, BoundsRouteLoadsUnderPenaltiesAndFallsBackWhenNothingFits) {
  size_t bounded = 0;
  size_t fell_back = 0;
  size_t beyond_bound = 0;  // the best cut of all carries more than the bound
  unsigned seed = 4200;
  for (int round = 0; round < 150; ++round) {
    InstanceKinds kinds;
    kinds.capacities = true;
    kinds.types = 1;
    kinds.agents = 2 + static_cast<size_t>(round % 2);
    kinds.nodes = 7 + static_cast<size_t>(round % 3);
    engine_test::RandomInstance instance = MakeRandomInstance(kinds, ++seed);
    RouteRules rules(instance.tables);
    rules.SetMinMax(false);
    if (!rules.HasLoads()) continue;  // no agent with a capacity drawn
    GiantTourSplit split(rules);
    std::mt19937 random(seed);
    std::vector<size_t> tour = rules.Targets();
    std::shuffle(tour.begin(), tour.end(), random);
    std::vector<size_t> order(rules.NumAgents());
    for (size_t k = 0; k < order.size(); ++k) order[k] = k;
    const PenaltyWeights weights{true, 1.0, 1.0, round % 2 == 0 ? 0.05 : 50.0};
    const ObjectiveValue all = BruteForceBest(rules, tour, order, false, nullptr, weights);
    const ObjectiveValue within = BruteForceBest(rules, tour, order, false, nullptr, weights, 1.5);
    Solution solution(rules);
    ASSERT_TRUE(split.Split(tour, order, weights, solution)) << "round " << round;
    const ObjectiveValue value = solution.Value();
    const double tolerance = 1e-9 * std::max(1.0, all.total);
    if (within.total < kInfinity) {
      ++bounded;
      EXPECT_NEAR(value.total, within.total, tolerance) << "round " << round;
      if (all.total < within.total - tolerance) ++beyond_bound;
    } else {
      ++fell_back;
      EXPECT_NEAR(value.total, all.total, tolerance) << "round " << round;
    }
    for (size_t k = 0; k < solution.NumRoutes(); ++k) {
      EXPECT_EQ(solution.Route(k).cost, rules.ExactCost(k, solution.Route(k).nodes, weights));
    }
  }
  EXPECT_GT(bounded, 50u);
  EXPECT_GT(fell_back, 0u);
  EXPECT_GT(beyond_bound, 0u);
}

// Under min-sum with capacities and no windows or limits the split extends
// its routes by their arcs and demands: it still finds the best cut of all
// (of those within the load bound under penalties, when there is one), on
// symmetric and asymmetric matrices, one or two types, missing arcs, open
// routes (which the flat matrices cannot price), with weights and without.
TEST(GiantTourSplit, ByArcsFindsTheBestCutWithCapacities) {
  size_t compared = 0, infeasible = 0;
  unsigned seed = 5100;
  for (int round = 0; round < 192; ++round) {
    InstanceKinds kinds;
    kinds.capacities = true;
    kinds.types = 1 + static_cast<size_t>(round % 2);
    kinds.agents = 2 + static_cast<size_t>(round % 3 == 0);
    kinds.nodes = 7 + static_cast<size_t>(round % 3);
    kinds.symmetric = (round & 2) != 0;
    kinds.missing_arcs = (round & 4) != 0;
    kinds.open_routes = (round & 8) != 0;
    engine_test::RandomInstance instance = MakeRandomInstance(kinds, ++seed);
    RouteRules rules(instance.tables);
    rules.SetMinMax(false);
    if (!rules.HasLoads()) continue;
    GiantTourSplit split(rules);
    std::mt19937 random(seed);
    std::vector<size_t> tour = rules.Targets();
    std::shuffle(tour.begin(), tour.end(), random);
    std::vector<size_t> order(rules.NumAgents());
    for (size_t k = 0; k < order.size(); ++k) order[k] = k;
    std::shuffle(order.begin(), order.end(), random);
    const bool penalised = (round & 16) != 0;
    const PenaltyWeights weights = penalised ? PenaltyWeights{true, 1.0, 1.0, 3.0} : PenaltyWeights{};
    ObjectiveValue best = BruteForceBest(rules, tour, order, false, nullptr, weights, penalised ? 1.5 : kInfinity);
    if (!(best.total < kInfinity)) best = BruteForceBest(rules, tour, order, false, nullptr, weights);
    Solution solution(rules);
    const bool made = split.Split(tour, order, weights, solution);
    ASSERT_EQ(made, best.total < kInfinity) << "round " << round;
    if (!made) {
      ++infeasible;
      continue;
    }
    ++compared;
    EXPECT_NEAR(solution.Value().total, best.total, 1e-9 * std::max(1.0, best.total)) << "round " << round;
  }
  EXPECT_GT(compared, 100u);
  EXPECT_GT(infeasible, 5u);
}

// Cut positions of a tour that split no "same" pair: a pair's nodes at
// positions i < j forbid every cut between them, and pairs that overlap
// or nest forbid the union of their spans.
TEST(GiantTourSplit, CleanCutsAreThoseBetweenNoPairsNodes) {
  InstanceKinds kinds;
  kinds.nodes = 9;
  kinds.types = 1;
  engine_test::RandomInstance instance = MakeRandomInstance(kinds, 41);
  instance.tables.SetPrecedencePairs({PrecedencePair{1, 3, 1, 3, PairKind::kSame},
                                      PrecedencePair{2, 5, 2, 5, PairKind::kSame},
                                      PrecedencePair{6, 7, 6, 7, PairKind::kSame},
                                      PrecedencePair{4, 8, 4, 8, PairKind::kPlain}});
  RouteRules rules(instance.tables);
  SamePairs pairs(rules);
  ASSERT_TRUE(pairs.Any());
  std::vector<char> cuts;
  // Positions: 1@0 2@1 3@2 5@3 4@4 7@5 6@6 8@7 (the plain pair 4-8 splits nothing).
  pairs.CleanCuts({1, 2, 3, 5, 4, 7, 6, 8}, cuts);
  EXPECT_EQ(cuts, (std::vector<char>{1, 0, 0, 0, 1, 1, 0, 1, 1}));
  // A tour that holds only some of the nodes: a pair with one node outside
  // it splits nothing within it.
  pairs.CleanCuts({3, 6, 5, 7}, cuts);
  EXPECT_EQ(cuts, (std::vector<char>{1, 1, 0, 0, 1}));
  // Without "same" pairs every cut is clean.
  instance.tables.SetPrecedencePairs({PrecedencePair{1, 3, 1, 3, PairKind::kPlain}});
  RouteRules plain(instance.tables);
  SamePairs none(plain);
  EXPECT_FALSE(none.Any());
  none.CleanCuts({1, 2, 3}, cuts);
  EXPECT_EQ(cuts, (std::vector<char>{1, 1, 1, 1}));
}

// With "same" pairs over the tour's targets, the split keeps each pair on
// one route whenever some cut allows it, and finds the best of those cuts;
// when none is feasible it falls back to the best of all cuts.
TEST(GiantTourSplit, KeepsSamePairsOnOneRouteWheneverACutAllowsIt) {
  size_t kept = 0;
  unsigned seed = 1300;
  for (int mask = 0; mask < 64; ++mask) {
    InstanceKinds kinds = KindsFromMask(mask);
    kinds.own_depots = false;
    kinds.types = 1 + static_cast<size_t>(mask % 2);
    kinds.agents = 2 + static_cast<size_t>(mask % 2);
    kinds.nodes = 9;
    engine_test::RandomInstance instance = MakeRandomInstance(kinds, ++seed);
    std::mt19937 random(seed);
    std::vector<size_t> tour;
    for (size_t node = 1; node < kinds.nodes; ++node) tour.push_back(node);
    std::shuffle(tour.begin(), tour.end(), random);
    // Two "same" pairs over four random targets.
    instance.tables.SetPrecedencePairs({PrecedencePair{tour[0], tour[1], tour[0], tour[1], PairKind::kSame},
                                        PrecedencePair{tour[2], tour[3], tour[2], tour[3], PairKind::kSame}});
    RouteRules rules(instance.tables);
    const bool min_max = mask % 2 == 0;
    rules.SetMinMax(min_max);
    SamePairs pairs(rules);
    GiantTourSplit split(rules);
    std::shuffle(tour.begin(), tour.end(), random);
    std::vector<size_t> order(rules.NumAgents());
    for (size_t k = 0; k < order.size(); ++k) order[k] = k;
    std::vector<char> clean;
    pairs.CleanCuts(tour, clean);
    const ObjectiveValue best_clean = BruteForceBest(rules, tour, order, min_max, &clean);
    const ObjectiveValue best_any = BruteForceBest(rules, tour, order, min_max);
    Solution solution(rules);
    const bool made = split.Split(tour, order, PenaltyWeights{}, solution);
    ASSERT_EQ(made, best_any.total < kInfinity) << "mask " << mask;
    if (!made) continue;
    const ObjectiveValue value = solution.Value();
    const ObjectiveValue& best = best_clean.total < kInfinity ? best_clean : best_any;
    const double tolerance = 1e-9 * std::max(1.0, best.total);
    EXPECT_NEAR(min_max ? value.longest : value.total, min_max ? best.longest : best.total, tolerance)
        << "mask " << mask;
    if (best_clean.total < kInfinity) {
      for (const PrecedencePair& pair : instance.tables.PrecedencePairs()) {
        EXPECT_EQ(solution.RouteOf(pair.before), solution.RouteOf(pair.after)) << "mask " << mask;
      }
      ++kept;
    }
  }
  EXPECT_GT(kept, 10u);
}

}  // namespace
}  // namespace tarsel
