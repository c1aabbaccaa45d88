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
#include "engine/solution.h"

namespace tarsel {
namespace {

using engine_test::InstanceKinds;
using engine_test::KindsFromMask;
using engine_test::MakeRandomInstance;

constexpr double kInfinity = std::numeric_limits<double>::infinity();

// The best value of any cut of `tour` into consecutive routes for the agents
// in `order`, each route walked node by node and priced under `weights`;
// only cuts whose routes carry at most `load_factor` times their agent's
// capacity (where it has one); +inf when no cut is feasible.
ObjectiveValue BruteForceBest(const RouteRules& rules, const std::vector<size_t>& tour,
                              const std::vector<size_t>& order, bool min_max,
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
    const ObjectiveValue all = BruteForceBest(rules, tour, order, false, weights);
    const ObjectiveValue within = BruteForceBest(rules, tour, order, false, weights, 1.5);
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

}  // namespace
}  // namespace tarsel
