#include <gtest/gtest.h>

#include <algorithm>
#include <vector>

#include "engine/granular_neighbours.h"
#include "engine/local_search.h"
#include "engine/random_instance.h"
#include "engine/regret_insertion.h"
#include "engine/route_rules.h"
#include "engine/solution.h"
#include "routes/pair_schedule.h"

namespace tarsel {
namespace {

using engine_test::AllKinds;
using engine_test::InstanceKinds;
using engine_test::MakeRandomInstance;

// Objective value after replacing routes a and b by `route_a` and `route_b`
// (a == b: one route), every cost from the full evaluation under `weights`.
ObjectiveValue ValueWith(const Solution& solution, size_t a, const std::vector<size_t>& route_a, size_t b,
                         const std::vector<size_t>& route_b, const PenaltyWeights& weights = PenaltyWeights{}) {
  const RouteRules& rules = solution.Rules();
  ObjectiveValue value;
  for (size_t k = 0; k < solution.NumRoutes(); ++k) {
    const std::vector<size_t>& nodes = k == a ? route_a : k == b ? route_b : solution.Route(k).nodes;
    const double cost = rules.ExactCost(k, nodes, weights);
    value.longest = std::max(value.longest, cost);
    value.total += cost;
  }
  return value;
}

// Counts the single-target relocations (to any place of any route that may
// serve it) and exchanges between routes that would improve `solution`,
// priced under `weights` (those of its last refresh).
size_t ImprovingSimpleMoves(const Solution& solution, const PenaltyWeights& weights = PenaltyWeights{}) {
  const RouteRules& rules = solution.Rules();
  const ObjectiveValue current = solution.Value();
  size_t improving = 0;
  std::vector<size_t> route_a, route_b;
  for (size_t u : rules.Targets()) {
    const size_t a = solution.RouteOf(u);
    const size_t i = solution.PositionOf(u);
    for (size_t b = 0; b < solution.NumRoutes(); ++b) {
      if (!rules.CanServe(b, u)) continue;
      route_a = solution.Route(a).nodes;
      route_a.erase(route_a.begin() + static_cast<std::ptrdiff_t>(i));
      const std::vector<size_t>& target = b == a ? route_a : solution.Route(b).nodes;
      for (size_t at = 1; at < target.size(); ++at) {
        route_b = target;
        route_b.insert(route_b.begin() + static_cast<std::ptrdiff_t>(at), u);
        const ObjectiveValue value = b == a ? ValueWith(solution, a, route_b, a, route_b, weights)
                                            : ValueWith(solution, a, route_a, b, route_b, weights);
        if (value.longest < RouteRules::kInfeasible && Improves(value, current, rules.MinMax())) ++improving;
      }
      if (b == a) continue;
      const std::vector<size_t>& nodes_b = solution.Route(b).nodes;
      for (size_t j = 1; j + 1 < nodes_b.size(); ++j) {
        if (!rules.CanServe(a, nodes_b[j])) continue;
        route_a = solution.Route(a).nodes;
        route_a[i] = nodes_b[j];
        route_b = nodes_b;
        route_b[j] = u;
        const ObjectiveValue value = ValueWith(solution, a, route_a, b, route_b, weights);
        if (value.longest < RouteRules::kInfeasible && Improves(value, current, rules.MinMax())) ++improving;
      }
    }
  }
  return improving;
}

TEST(LocalSearch, EndsFeasibleNoWorseAtALocalOptimumAndRepeatably) {
  size_t searched = 0;
  size_t improved = 0;
  unsigned seed = 900;
  for (const InstanceKinds& kinds : AllKinds()) {
    for (bool min_max : {true, false}) {
      ++seed;
      engine_test::RandomInstance instance = MakeRandomInstance(kinds, seed);
      RouteRules rules(instance.tables);
      rules.SetMinMax(min_max);
      // Neighbour lists as long as the target list: every pair is tried.
      GranularNeighbours neighbours(rules, rules.Targets().size());
      LocalSearch search(rules, neighbours);
      RegretInsertion insertion(rules);
      Solution start(rules);
      Random random(seed);
      // No feasible start: tight windows or limits.
      if (!insertion.Fill(start, PenaltyWeights{}, random, 0.5) || !start.Complete()) continue;
      ++searched;

      Solution solution = start;
      Random search_random(seed);
      search.Run(solution, PenaltyWeights{}, search_random, nullptr);
      ASSERT_TRUE(solution.Complete());
      for (size_t k = 0; k < solution.NumRoutes(); ++k) {
        const std::vector<size_t>& nodes = solution.Route(k).nodes;
        EXPECT_EQ(nodes.front(), rules.Agent(k).start);
        EXPECT_EQ(nodes.back(), rules.Agent(k).goal);
        for (size_t i = 1; i + 1 < nodes.size(); ++i) EXPECT_TRUE(rules.CanServe(k, nodes[i]));
        EXPECT_EQ(solution.Route(k).cost, rules.ExactCost(k, nodes, PenaltyWeights{}));
      }
      EXPECT_FALSE(Improves(start.Value(), solution.Value(), min_max));
      if (Improves(solution.Value(), start.Value(), min_max)) ++improved;
      EXPECT_EQ(ImprovingSimpleMoves(solution), 0u) << "kinds mask seed " << seed;

      // The same start and seed give the same routes.
      Solution again = start;
      Random again_random(seed);
      search.Run(again, PenaltyWeights{}, again_random, nullptr);
      EXPECT_TRUE(again.SameRoutes(solution));
    }
  }
  EXPECT_GT(searched, 80u);
  EXPECT_GT(improved, searched / 2);
}

// Under min-max the passes after the first skip targets whose arcs and
// neighbours' arcs are as at their last test; the search still ends only
// where a pass over every target finds nothing, so a second run over its
// result takes no move. Short neighbour lists, as the engine uses, so that
// most targets are skipped; with and without windows, limits, open routes.
TEST(LocalSearch, UnderMinMaxEndsWhereAFullPassFindsNothing) {
  size_t searched = 0;
  for (int mask : {0, 1, 2, 3, 4, 8, 16}) {
    for (unsigned seed = 0; seed < 6; ++seed) {
      InstanceKinds kinds = engine_test::KindsFromMask(mask);
      kinds.nodes = 70;
      kinds.agents = 2 + seed % 2;
      kinds.types = 1;
      kinds.symmetric = seed % 2 == 0;
      engine_test::RandomInstance instance = MakeRandomInstance(kinds, 4200 + seed);
      RouteRules rules(instance.tables);
      rules.SetMinMax(true);
      GranularNeighbours neighbours(rules, 8);
      LocalSearch search(rules, neighbours);
      RegretInsertion insertion(rules);
      Solution solution(rules);
      Random random(seed);
      if (!insertion.Fill(solution, PenaltyWeights{}, random, 0.5) || !solution.Complete()) continue;
      ++searched;
      const ObjectiveValue start = solution.Value();
      EXPECT_GT(search.Run(solution, PenaltyWeights{}, random, nullptr), 0u);
      EXPECT_TRUE(Improves(solution.Value(), start, true));
      Solution again = solution;
      Random other(seed + 100);
      EXPECT_EQ(search.Run(again, PenaltyWeights{}, other, nullptr), 0u) << "mask " << mask << " seed " << seed;
      EXPECT_TRUE(again.SameRoutes(solution));
    }
  }
  EXPECT_GE(searched, 24u);
}

// Under min-sum with capacities priced by penalties, the search tests a
// target again only against routes changed since its last test; it still
// ends where no relocation or exchange improves the penalised total, with
// the objective value equal to the sum of the routes' exact costs.
TEST(LocalSearch, ReachesALocalOptimumUnderCapacityPenalties) {
  size_t searched = 0;
  size_t overloaded_starts = 0;
  unsigned seed = 7100;
  for (int round = 0; round < 40; ++round) {
    InstanceKinds kinds;
    kinds.capacities = true;
    kinds.nodes = 14 + static_cast<size_t>(round % 5);
    kinds.agents = 3;
    kinds.types = 1 + static_cast<size_t>(round % 2);
    kinds.open_routes = round % 3 == 0;
    engine_test::RandomInstance instance = MakeRandomInstance(kinds, ++seed);
    RouteRules rules(instance.tables);
    rules.SetMinMax(false);
    ASSERT_TRUE(rules.HasLoads());
    // Neighbour lists as long as the target list: every pair is tried.
    GranularNeighbours neighbours(rules, rules.Targets().size());
    LocalSearch search(rules, neighbours);
    RegretInsertion insertion(rules);
    const PenaltyWeights weights{true, 1.0, 1.0, round % 2 == 0 ? 2.0 : 20.0};
    Solution solution(rules);
    Random random(seed);
    if (!insertion.Fill(solution, weights, random, 0.5) || !solution.Complete()) continue;
    ++searched;
    if (!solution.WithinCapacity()) ++overloaded_starts;
    const ObjectiveValue start = solution.Value();
    search.Run(solution, weights, random, nullptr);
    EXPECT_FALSE(Improves(start, solution.Value(), false));
    const ObjectiveValue exact = ValueWith(solution, 0, solution.Route(0).nodes, 0, solution.Route(0).nodes, weights);
    EXPECT_NEAR(solution.Value().total, exact.total, 1e-9 * std::max(1.0, exact.total));
    EXPECT_EQ(ImprovingSimpleMoves(solution, weights), 0u) << "round " << round;
  }
  EXPECT_GT(searched, 30u);
  EXPECT_GT(overloaded_starts, 0u);
}

// Pairs that a start keeps ("same" between neighbours on a route, "diff"
// between routes, plain both ways) stay kept however the search moves the
// targets: a move that breaks one is undone.
TEST(LocalSearch, NeverBreaksAPrecedencePairItStartsWith) {
  size_t searched = 0;
  size_t improved = 0;
  unsigned seed = 1300;
  for (const InstanceKinds& kinds : AllKinds()) {
    ++seed;
    engine_test::RandomInstance instance = MakeRandomInstance(kinds, seed);
    RouteRules rules(instance.tables);
    RegretInsertion insertion(rules);
    Solution start(rules);
    Random random(seed);
    if (!insertion.Fill(start, PenaltyWeights{}, random, 0.5) || !start.Complete()) continue;
    std::vector<PrecedencePair> pairs;
    const PairKind kinds_in_turn[] = {PairKind::kSame, PairKind::kPlain};
    for (size_t k = 0; k < start.NumRoutes(); ++k) {
      const std::vector<size_t>& nodes = start.Route(k).nodes;
      for (size_t i = 1; i + 2 < nodes.size(); i += 2) {
        pairs.push_back(PrecedencePair{nodes[i], nodes[i + 1], nodes[i], nodes[i + 1], kinds_in_turn[(i / 2) % 2]});
      }
      if (k > 0 && nodes.size() > 2 && start.Route(k - 1).nodes.size() > 2) {
        const size_t other = start.Route(k - 1).nodes[1];
        pairs.push_back(PrecedencePair{other, nodes[1], other, nodes[1], PairKind::kDiff});
      }
    }
    if (pairs.empty()) continue;
    instance.tables.SetPrecedencePairs(pairs);
    GranularNeighbours neighbours(rules, rules.Targets().size());
    LocalSearch search(rules, neighbours);
    Solution solution = start;
    search.Run(solution, PenaltyWeights{}, random, nullptr);
    ++searched;
    if (Improves(solution.Value(), start.Value(), false) || Improves(solution.Value(), start.Value(), true)) {
      ++improved;
    }
    std::vector<std::vector<size_t>> routes;
    for (size_t k = 0; k < solution.NumRoutes(); ++k) routes.push_back(solution.Route(k).nodes);
    PairSchedule schedule;
    SchedulePairs(rules, routes, schedule);
    EXPECT_TRUE(schedule.violations.empty()) << "seed " << seed;
  }
  EXPECT_GT(searched, 20u);
  EXPECT_GT(improved, searched / 4);
}

// Whether moving some "same" pair of `solution` (kept on one route in
// order) as a whole to any two places of any route, the first before the
// second, improves the objective: priced by the full evaluation.
bool ImprovingPairRelocation(const Solution& solution, const std::vector<PrecedencePair>& pairs) {
  const RouteRules& rules = solution.Rules();
  for (const PrecedencePair& pair : pairs) {
    const size_t a = solution.RouteOf(pair.before);
    std::vector<size_t> rest_a = solution.Route(a).nodes;
    rest_a.erase(std::find(rest_a.begin(), rest_a.end(), pair.after));
    rest_a.erase(std::find(rest_a.begin() + 1, rest_a.end(), pair.before));
    for (size_t b = 0; b < solution.NumRoutes(); ++b) {
      if (!rules.CanServe(b, pair.before) || !rules.CanServe(b, pair.after)) continue;
      const std::vector<size_t>& rest_b = b == a ? rest_a : solution.Route(b).nodes;
      for (size_t p = 1; p < rest_b.size(); ++p) {
        for (size_t q = p; q < rest_b.size(); ++q) {
          std::vector<size_t> route = rest_b;
          route.insert(route.begin() + static_cast<std::ptrdiff_t>(q), pair.after);
          route.insert(route.begin() + static_cast<std::ptrdiff_t>(p), pair.before);
          const ObjectiveValue value =
              b == a ? ValueWith(solution, a, route, a, route) : ValueWith(solution, a, rest_a, b, route);
          if (value.longest < RouteRules::kInfeasible && Improves(value, solution.Value(), rules.MinMax())) {
            return true;
          }
        }
      }
    }
  }
  return false;
}

// Whether exchanging two "same" pairs of two routes (each kept in order on
// one route), each placed at any two places of the other route, the first
// before the second, improves the objective: priced by the full evaluation.
bool ImprovingPairExchange(const Solution& solution, const std::vector<PrecedencePair>& pairs) {
  const RouteRules& rules = solution.Rules();
  auto without = [&](const PrecedencePair& pair) {
    std::vector<size_t> rest = solution.Route(solution.RouteOf(pair.before)).nodes;
    rest.erase(std::find(rest.begin(), rest.end(), pair.after));
    rest.erase(std::find(rest.begin() + 1, rest.end(), pair.before));
    return rest;
  };
  // The cheapest route of `rest` (route k) with the pair placed in order.
  auto cheapest = [&](size_t k, const std::vector<size_t>& rest, const PrecedencePair& pair,
                      std::vector<size_t>& best) {
    double best_cost = RouteRules::kInfeasible;
    if (!rules.CanServe(k, pair.before) || !rules.CanServe(k, pair.after)) return best_cost;
    for (size_t p = 1; p < rest.size(); ++p) {
      for (size_t q = p; q < rest.size(); ++q) {
        std::vector<size_t> route = rest;
        route.insert(route.begin() + static_cast<std::ptrdiff_t>(q), pair.after);
        route.insert(route.begin() + static_cast<std::ptrdiff_t>(p), pair.before);
        const double cost = rules.ExactCost(k, route, PenaltyWeights{});
        if (cost < best_cost) {
          best_cost = cost;
          best = route;
        }
      }
    }
    return best_cost;
  };
  std::vector<size_t> route_a, route_b;
  for (size_t x = 0; x < pairs.size(); ++x) {
    for (size_t y = x + 1; y < pairs.size(); ++y) {
      const size_t a = solution.RouteOf(pairs[x].before);
      const size_t b = solution.RouteOf(pairs[y].before);
      if (a == b) continue;
      // Each route's cost is the cheapest of its own: the best exchange of
      // these two pairs is the one with both cheapest.
      if (!(cheapest(a, without(pairs[x]), pairs[y], route_a) < RouteRules::kInfeasible) ||
          !(cheapest(b, without(pairs[y]), pairs[x], route_b) < RouteRules::kInfeasible)) {
        continue;
      }
      const ObjectiveValue value = ValueWith(solution, a, route_a, b, route_b);
      if (value.longest < RouteRules::kInfeasible && Improves(value, solution.Value(), rules.MinMax())) return true;
    }
  }
  return false;
}

// Pickup-and-delivery pairs (each target in at most one) end at a local
// optimum of moving a pair as a whole and of exchanging two pairs of two
// routes, and kept.
TEST(LocalSearch, RelocatesPickupAndDeliveryPairsToALocalOptimum) {
  size_t searched = 0;
  size_t improved = 0;
  unsigned seed = 1700;
  for (const InstanceKinds& kinds : AllKinds()) {
    ++seed;
    engine_test::RandomInstance instance = MakeRandomInstance(kinds, seed);
    RouteRules rules(instance.tables);
    rules.SetMinMax(seed % 2 == 0);
    RegretInsertion insertion(rules);
    Solution start(rules);
    Random random(seed);
    if (!insertion.Fill(start, PenaltyWeights{}, random, 0.5) || !start.Complete()) continue;
    std::vector<PrecedencePair> pairs;
    for (size_t k = 0; k < start.NumRoutes(); ++k) {
      const std::vector<size_t>& nodes = start.Route(k).nodes;
      for (size_t i = 1; i + 2 < nodes.size(); i += 2) {
        pairs.push_back(PrecedencePair{nodes[i], nodes[i + 1], nodes[i], nodes[i + 1], PairKind::kSame});
      }
    }
    if (pairs.empty()) continue;
    instance.tables.SetPrecedencePairs(pairs);
    GranularNeighbours neighbours(rules, rules.Targets().size());
    LocalSearch search(rules, neighbours);
    Solution solution = start;
    search.Run(solution, PenaltyWeights{}, random, nullptr);
    ++searched;
    if (Improves(solution.Value(), start.Value(), rules.MinMax())) ++improved;
    std::vector<std::vector<size_t>> routes;
    for (size_t k = 0; k < solution.NumRoutes(); ++k) routes.push_back(solution.Route(k).nodes);
    PairSchedule schedule;
    SchedulePairs(rules, routes, schedule);
    EXPECT_TRUE(schedule.violations.empty()) << "seed " << seed;
    EXPECT_FALSE(ImprovingPairRelocation(solution, pairs)) << "seed " << seed;
    EXPECT_FALSE(ImprovingPairExchange(solution, pairs)) << "seed " << seed;
  }
  EXPECT_GT(searched, 20u);
  EXPECT_GT(improved, searched / 4);
}

}  // namespace
}  // namespace tarsel
