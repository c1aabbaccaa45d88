#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <limits>
#include <random>
#include <vector>

#include "engine/granular_neighbours.h"
#include "engine/objective_value.h"
#include "engine/random_instance.h"
#include "engine/random_routes.h"
#include "engine/route_rules.h"
#include "engine/route_segments.h"
#include "engine/segment_joiner.h"
#include "engine/solution.h"
#include "engine/swap_star.h"

namespace tarsel {
namespace {

using engine_test::InstanceKinds;
using engine_test::MakeRandomInstance;

constexpr double kInfinity = std::numeric_limits<double>::infinity();

// The best value of exchanging a target of route a with one of route b,
// each inserted at any place of the other route, every candidate walked
// node by node.
ObjectiveValue ExhaustiveBest(const RouteRules& rules, const Solution& solution, size_t a, size_t b) {
  const ObjectiveValue current = solution.Value();
  ObjectiveValue best{kInfinity, kInfinity};
  const std::vector<size_t>& nodes_a = solution.Route(a).nodes;
  const std::vector<size_t>& nodes_b = solution.Route(b).nodes;
  std::vector<size_t> without_a, without_b, with;
  for (size_t i = 1; i + 1 < nodes_a.size(); ++i) {
    const size_t u = nodes_a[i];
    if (!rules.CanServe(b, u)) continue;
    without_a = nodes_a;
    without_a.erase(without_a.begin() + static_cast<std::ptrdiff_t>(i));
    for (size_t j = 1; j + 1 < nodes_b.size(); ++j) {
      const size_t v = nodes_b[j];
      if (!rules.CanServe(a, v)) continue;
      without_b = nodes_b;
      without_b.erase(without_b.begin() + static_cast<std::ptrdiff_t>(j));
      double best_a = kInfinity;
      for (size_t p = 1; p < without_a.size(); ++p) {
        with = without_a;
        with.insert(with.begin() + static_cast<std::ptrdiff_t>(p), v);
        best_a = std::min(best_a, rules.ExactCost(a, with, PenaltyWeights{}));
      }
      double best_b = kInfinity;
      for (size_t p = 1; p < without_b.size(); ++p) {
        with = without_b;
        with.insert(with.begin() + static_cast<std::ptrdiff_t>(p), u);
        best_b = std::min(best_b, rules.ExactCost(b, with, PenaltyWeights{}));
      }
      if (!(best_a < kInfinity) || !(best_b < kInfinity)) continue;
      ObjectiveValue value;
      value.total = current.total - solution.Route(a).cost - solution.Route(b).cost + best_a + best_b;
      value.longest = std::max({best_a, best_b, solution.LongestExcept(a, b)});
      if (RanksBefore(value, best, rules.MinMax())) best = value;
    }
  }
  return best;
}

// On plain travel costs (no windows, no limits) SWAP*'s three cached places
// per target and its exact price of the removed target's own place find the
// best exchange of two routes: whenever the exhaustive search over every
// pair and every pair of places improves the solution, SWAP* proposes an
// exchange worth as much.
TEST(SwapStar, FindsTheBestExchangeOfAnExhaustiveSearchOnTravelCosts) {
  size_t improving = 0;
  size_t compared = 0;
  unsigned seed = 1300;
  for (int variant = 0; variant < 24; ++variant) {
    InstanceKinds kinds;
    kinds.nodes = 12;
    kinds.agents = 2 + static_cast<size_t>(variant % 3);
    kinds.types = 1 + static_cast<size_t>(variant % 2);
    kinds.restricted = variant % 4 >= 2;
    kinds.open_routes = variant % 8 >= 4;
    kinds.own_depots = variant % 16 >= 8;
    engine_test::RandomInstance instance = MakeRandomInstance(kinds, ++seed);
    RouteRules rules(instance.tables);
    rules.SetMinMax(variant % 3 != 1);
    GranularNeighbours neighbours(rules, 5);
    RouteSegments segments(rules, neighbours.Types());
    SegmentJoiner joiner(rules, segments);
    SwapStar swap_star(rules, joiner);
    std::mt19937 random(seed);
    for (int trial = 0; trial < 20; ++trial) {
      // Random routes: each target to a random agent that may serve it.
      Solution solution(rules);
      std::vector<std::vector<size_t>> routes(rules.NumAgents());
      std::vector<size_t> targets = rules.Targets();
      std::shuffle(targets.begin(), targets.end(), random);
      for (size_t node : targets) {
        std::vector<size_t> servers;
        for (size_t k = 0; k < rules.NumAgents(); ++k) {
          if (rules.CanServe(k, node)) servers.push_back(k);
        }
        if (!servers.empty()) routes[servers[random() % servers.size()]].push_back(node);
      }
      for (size_t k = 0; k < rules.NumAgents(); ++k) {
        solution.SetTargets(k, routes[k].data(), routes[k].size());
        solution.Refresh(k, PenaltyWeights{});
      }
      segments.RefreshAll(solution);
      swap_star.Forget();
      const size_t a = random() % rules.NumAgents();
      const size_t b = (a + 1 + random() % (rules.NumAgents() - 1)) % rules.NumAgents();
      if (!(solution.Route(a).cost < kInfinity) || !(solution.Route(b).cost < kInfinity)) continue;
      const ObjectiveValue best = ExhaustiveBest(rules, solution, std::min(a, b), std::max(a, b));
      SwapStar::Exchange exchange;
      const bool found = swap_star.Best(solution, PenaltyWeights{}, std::min(a, b), std::max(a, b), exchange);
      ++compared;
      const bool improves = best.total < kInfinity && Improves(best, solution.Value(), rules.MinMax());
      EXPECT_EQ(found, improves) << "variant " << variant << " trial " << trial;
      if (!found || !improves) continue;
      ++improving;
      // The proposed exchange, priced exactly, is worth the exhaustive best.
      const size_t lo = std::min(a, b), hi = std::max(a, b);
      EXPECT_EQ(exchange.a, lo);
      EXPECT_EQ(exchange.b, hi);
      Solution applied = solution;
      swap_star.Apply(applied, exchange);
      const std::vector<size_t> route_a = applied.Route(lo).nodes, route_b = applied.Route(hi).nodes;
      const double cost_a = rules.ExactCost(lo, route_a, PenaltyWeights{});
      const double cost_b = rules.ExactCost(hi, route_b, PenaltyWeights{});
      const ObjectiveValue value{std::max({cost_a, cost_b, solution.LongestExcept(lo, hi)}),
                                 solution.Value().total - solution.Route(lo).cost - solution.Route(hi).cost +
                                     cost_a + cost_b};
      const double tolerance = 1e-9 * std::max(1.0, best.total);
      if (rules.MinMax()) EXPECT_NEAR(value.longest, best.longest, tolerance);
      else EXPECT_NEAR(value.total, best.total, tolerance);
    }
  }
  EXPECT_GT(compared, 300u);
  EXPECT_GT(improving, 50u);
}

// Where routes cost their travel plus their weighted overload (no windows,
// no limits), SWAP* may price its places and the removed target's own
// place from the arcs: on capacitated instances, symmetric or not, under
// penalty weights and without them, it proposes an exchange exactly when
// it does from the segments, and one worth the same when priced exactly.
TEST(SwapStar, PricedFromArcsProposesWhatTheSegmentsPropose) {
  size_t compared = 0, proposed = 0;
  unsigned seed = 2600;
  for (int variant = 0; variant < 48; ++variant) {
    InstanceKinds kinds;
    kinds.nodes = 14;
    kinds.agents = 2 + static_cast<size_t>(variant % 3);
    kinds.types = 1 + static_cast<size_t>(variant % 2);
    kinds.symmetric = variant % 4 >= 2;
    kinds.capacities = true;
    kinds.missing_arcs = variant % 8 >= 4;
    engine_test::RandomInstance instance = MakeRandomInstance(kinds, ++seed);
    RouteRules rules(instance.tables);
    rules.SetMinMax(false);
    GranularNeighbours neighbours(rules, 5);
    RouteSegments segments(rules, neighbours.Types());
    SegmentJoiner joiner(rules, segments);
    SwapStar by_segments(rules, joiner);
    SwapStar by_arcs(rules, joiner);
    by_arcs.SetArcPriced(true);
    const PenaltyWeights weights = variant % 2 == 0 ? PenaltyWeights{true, 1.0, 1.0, 6.0} : PenaltyWeights{};
    std::mt19937 random(seed);
    for (int trial = 0; trial < 25; ++trial) {
      Solution solution(rules);
      engine_test::RandomRoutes(rules, solution, weights, random);
      segments.RefreshAll(solution);
      by_segments.Forget();
      by_arcs.Forget();
      const size_t a = random() % (rules.NumAgents() - 1);
      const size_t b = a + 1 + random() % (rules.NumAgents() - 1 - a);
      if (!(solution.Route(a).cost < kInfinity) || !(solution.Route(b).cost < kInfinity)) continue;
      SwapStar::Exchange from_segments, from_arcs;
      const bool found = by_segments.Best(solution, weights, a, b, from_segments);
      ASSERT_EQ(by_arcs.Best(solution, weights, a, b, from_arcs), found) << variant << " " << trial;
      ++compared;
      if (!found) continue;
      ++proposed;
      const MoveCosts exact_segments = by_segments.Evaluate(solution, from_segments, weights);
      const MoveCosts exact_arcs = by_segments.Evaluate(solution, from_arcs, weights);
      EXPECT_NEAR(exact_arcs.cost_a + exact_arcs.cost_b, exact_segments.cost_a + exact_segments.cost_b,
                  1e-9 * std::max(1.0, solution.Value().total))
          << variant << " " << trial;
    }
  }
  EXPECT_GT(compared, 300u);
  EXPECT_GT(proposed, 50u);
}

}  // namespace
}  // namespace tarsel
