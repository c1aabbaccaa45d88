#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <limits>
#include <random>
#include <vector>

#include "engine/arc_pricing.h"
#include "engine/granular_neighbours.h"
#include "engine/node_edits.h"
#include "engine/random_instance.h"
#include "engine/random_routes.h"
#include "engine/route_rules.h"
#include "engine/route_segments.h"
#include "engine/solution.h"

namespace tarsel {
namespace {

using engine_test::InstanceKinds;
using engine_test::MakeRandomInstance;
using engine_test::SegmentOf;
using engine_test::Without;

using Nodes = std::vector<size_t>;

// How many moves had their change compared, and how many of them were
// left unpriced (-inf) or priced as infeasible.
struct Tally {
  size_t compared = 0;
  size_t unpriced = 0;
  size_t infeasible = 0;
};

class ArcPricingCheck {
 public:
  ArcPricingCheck(const Solution& solution, const PenaltyWeights& weights) : solution_(solution), weights_(weights) {}

  // `change` against the full evaluation of routes a and b (a == b: one)
  // replaced by `route_a` and `route_b`; `change_a`, when given, against
  // route a's part of it (what min-max judges the longest route by).
  void Expect(double change, size_t a, const Nodes& route_a, size_t b, const Nodes& route_b, Tally& tally,
              const char* name, double change_a = std::numeric_limits<double>::quiet_NaN()) const {
    const RouteRules& rules = solution_.Rules();
    ++tally.compared;
    if (change == -std::numeric_limits<double>::infinity()) {
      ++tally.unpriced;
      return;
    }
    const double exact_a = rules.ExactCost(a, route_a, weights_) - solution_.Route(a).cost;
    double exact = exact_a;
    if (b != a) exact += rules.ExactCost(b, route_b, weights_) - solution_.Route(b).cost;
    if (!(exact < RouteRules::kInfeasible)) {
      ++tally.infeasible;
      EXPECT_EQ(change, RouteRules::kInfeasible) << name;
      return;
    }
    const double tolerance = 1e-7 * std::max(1.0, solution_.Value().total);
    EXPECT_NEAR(change, exact, tolerance) << name;
    if (!std::isnan(change_a)) {
      EXPECT_NEAR(change_a, exact_a, tolerance) << name << ", first route";
    }
  }

 private:
  const Solution& solution_;
  const PenaltyWeights& weights_;
};

Nodes InsertAt(const Nodes& nodes, size_t at, const Nodes& inserted) {
  Nodes out = nodes;
  out.insert(out.begin() + static_cast<std::ptrdiff_t>(at), inserted.begin(), inserted.end());
  return out;
}

// Every move kind of the local search on random routes of instances
// without windows and limits (open routes, own depots, missing arcs, one to
// three types, capacities, symmetric or not), with and without penalty
// weights: the change the arcs give equals the change of the routes' full
// evaluations, +inf exactly where a changed route is rejected, and it is
// left unpriced only for 2-opt* between types and reversals whose cost
// depends on the direction.
TEST(ArcPricing, ChangeEqualsTheFullEvaluationOfEveryMove) {
  Tally relocate, swap, tails, relocate_within, swap_within, reverse;
  unsigned seed = 900;
  for (int mask = 0; mask < 32; ++mask, ++seed) {
    InstanceKinds kinds;
    kinds.nodes = 13;
    kinds.open_routes = (mask & 1) != 0;
    kinds.own_depots = (mask & 2) != 0;
    kinds.missing_arcs = (mask & 4) != 0;
    kinds.symmetric = (mask & 8) != 0;
    kinds.capacities = (mask & 16) == 0;
    kinds.types = 1 + static_cast<size_t>(mask % 3);
    kinds.agents = 2 + static_cast<size_t>(mask % 2);
    engine_test::RandomInstance instance = MakeRandomInstance(kinds, seed);
    RouteRules rules(instance.tables);
    GranularNeighbours neighbours(rules, 5);
    RouteSegments segments(rules, neighbours.Types());
    ArcPricing pricing(rules, segments);
    ASSERT_TRUE(pricing.Applicable());
    const PenaltyWeights weights = mask % 3 == 0 ? PenaltyWeights{} : PenaltyWeights{true, 3.5, 2.0, 7.0};
    Solution solution(rules);
    const ArcPricingCheck check(solution, weights);
    std::mt19937 random(seed);
    for (int trial = 0; trial < 8; ++trial) {
      engine_test::RandomRoutes(rules, solution, weights, random);
      segments.RefreshAll(solution);
      const size_t a = random() % rules.NumAgents();
      const size_t b = (a + 1) % rules.NumAgents();
      // The search prices moves of routes with finite costs only.
      if (!(solution.Route(a).cost < RouteRules::kInfeasible) || !(solution.Route(b).cost < RouteRules::kInfeasible)) {
        continue;
      }
      const Nodes na = solution.Route(a).nodes;
      const Nodes nb = solution.Route(b).nodes;
      const size_t last_a = na.size() - 2;
      const size_t last_b = nb.size() - 2;
      for (size_t i = 0; i <= last_a; ++i) {
        for (size_t j = 0; j <= last_b; ++j) {
          Nodes route_a(na.begin(), na.begin() + static_cast<std::ptrdiff_t>(i + 1));
          route_a.insert(route_a.end(), nb.begin() + static_cast<std::ptrdiff_t>(j + 1), nb.end() - 1);
          route_a.push_back(na.back());
          Nodes route_b(nb.begin(), nb.begin() + static_cast<std::ptrdiff_t>(j + 1));
          route_b.insert(route_b.end(), na.begin() + static_cast<std::ptrdiff_t>(i + 1), na.end() - 1);
          route_b.push_back(nb.back());
          double change_a = 0;
          const double change = pricing.Tails(solution, a, i, b, j, weights, &change_a);
          check.Expect(change, a, route_a, b, route_b, tails, "2-opt*", change_a);
        }
      }
      for (size_t i = 1; i <= last_a; ++i) {
        for (size_t count = 1; count <= 3 && i + count - 1 <= last_a; ++count) {
          for (bool reversed : {false, true}) {
            const Nodes moved = SegmentOf(na, i, count, reversed);
            const Nodes rest = Without(na, i, count);
            // The insertion prepared once for all places gives the same
            // values as the removal and insertion priced in turn, bit for bit.
            const ArcPricing::Removal removal = pricing.Remove(solution, a, i, count, weights);
            const ArcPricing::Insertion insertion = pricing.Prepare(solution, removal, b, weights);
            for (size_t at = 1; at <= last_b + 1; ++at) {
              const double change = pricing.Insert(solution, removal, b, at, reversed, weights);
              check.Expect(change, a, rest, b, InsertAt(nb, at, moved), relocate, "relocate", removal.change);
              EXPECT_EQ(pricing.InsertPrepared(solution, insertion, at, reversed), change) << "prepared relocate";
            }
            for (size_t after = 0; after <= last_a; ++after) {
              if (after + 1 >= i && after <= i + count - 1) continue;
              const size_t at = after < i ? after + 1 : after + 1 - count;
              const Nodes route = InsertAt(rest, at, moved);
              check.Expect(pricing.InsertWithin(solution, a, i, count, after, reversed,
                                                pricing.RemoveWithin(solution, a, i, count)),
                           a, route, a, route, relocate_within, "relocate within");
            }
          }
        }
        for (size_t j = 1; j <= last_b; ++j) {
          Nodes route_a = na, route_b = nb;
          std::swap(route_a[i], route_b[j]);
          double change_a = 0;
          const double change = pricing.Swap(solution, a, i, b, j, weights, &change_a);
          check.Expect(change, a, route_a, b, route_b, swap, "swap", change_a);
        }
        for (size_t j = i + 1; j <= last_a; ++j) {
          Nodes route = na;
          std::swap(route[i], route[j]);
          check.Expect(pricing.SwapWithin(solution, a, i, j), a, route, a, route, swap_within, "swap within");
        }
      }
      for (size_t first = 0; first + 2 <= last_a; ++first) {
        for (size_t last = first + 2; last <= last_a; ++last) {
          Nodes route = na;
          std::reverse(route.begin() + static_cast<std::ptrdiff_t>(first + 1),
                       route.begin() + static_cast<std::ptrdiff_t>(last + 1));
          check.Expect(pricing.ReverseWithin(solution, a, first, last), a, route, a, route, reverse, "2-opt");
        }
      }
    }
  }
  // Every kind was priced many times and met rejected routes; only 2-opt*
  // and 2-opt are ever left unpriced.
  for (const Tally* tally : {&relocate, &swap, &tails, &relocate_within, &swap_within, &reverse}) {
    EXPECT_GT(tally->compared - tally->unpriced - tally->infeasible, 200u);
    EXPECT_GT(tally->infeasible, 20u);
  }
  for (const Tally* tally : {&relocate, &swap, &relocate_within, &swap_within}) EXPECT_EQ(tally->unpriced, 0u);
  EXPECT_GT(tails.unpriced, 0u);
  EXPECT_GT(reverse.unpriced, 0u);
}

// The cheapest insertion from the arcs: the least full evaluation of the
// route with the target before each allowed position, infeasible exactly
// where every such route is rejected (missing arcs, or the capacity
// without penalty weights).
TEST(ArcPricing, CheapestInsertionIsTheLeastFullEvaluation) {
  size_t compared = 0, infeasible = 0;
  for (int mask = 0; mask < 16; ++mask) {
    InstanceKinds kinds;
    kinds.nodes = 14;
    kinds.open_routes = (mask & 1) != 0;
    kinds.missing_arcs = (mask & 2) != 0;
    kinds.types = 1 + static_cast<size_t>(mask % 2);
    kinds.capacities = true;
    engine_test::RandomInstance instance = MakeRandomInstance(kinds, 70 + static_cast<unsigned>(mask));
    RouteRules rules(instance.tables);
    const PenaltyWeights weights = (mask & 4) != 0 ? PenaltyWeights{true, 1.0, 1.0, 5.0} : PenaltyWeights{};
    Solution solution(rules);
    std::mt19937 random(static_cast<unsigned>(mask));
    solution.Clear(weights);
    const std::vector<size_t>& targets = rules.Targets();
    const size_t node = targets.back();
    Nodes route(targets.begin(), targets.begin() + static_cast<std::ptrdiff_t>(6 + mask % 3));
    std::shuffle(route.begin(), route.end(), random);
    solution.SetTargets(0, route.data(), route.size());
    solution.Refresh(0, weights);
    if (solution.Route(0).walk.blocked) continue;  // the pricing reads a route without missing arcs
    const Nodes& nodes = solution.Route(0).nodes;
    for (size_t low = 1; low < nodes.size(); ++low) {
      for (size_t high = low; high < nodes.size(); ++high) {
        double exact = RouteRules::kInfeasible;
        for (size_t p = low; p <= high; ++p) {
          exact = std::min(exact, rules.ExactCost(0, InsertAt(nodes, p, {node}), weights));
        }
        size_t position = 0;
        const double priced =
            CheapestInsertionByArcs(ArcTable(rules), solution.Route(0), 0, node, low, high, weights, position);
        ++compared;
        if (!(exact < RouteRules::kInfeasible)) {
          ++infeasible;
          EXPECT_EQ(priced, RouteRules::kInfeasible);
          EXPECT_EQ(position, 0u);
          continue;
        }
        EXPECT_NEAR(priced, exact, 1e-9 * exact);
        ASSERT_GE(position, low);
        ASSERT_LE(position, high);
        EXPECT_NEAR(rules.ExactCost(0, InsertAt(nodes, position, {node}), weights), exact, 1e-9 * exact);
      }
    }
  }
  EXPECT_GT(compared - infeasible, 200u);
  EXPECT_GT(infeasible, 10u);
}

// Windows or length limits make a route's cost more than its travel and
// overload: the arcs cannot price its moves.
TEST(ArcPricing, AppliesOnlyWithoutWindowsAndLimits) {
  for (int mask = 0; mask < 4; ++mask) {
    InstanceKinds kinds;
    kinds.windows = (mask & 1) != 0;
    kinds.limits = (mask & 2) != 0;
    kinds.capacities = true;
    engine_test::RandomInstance instance = MakeRandomInstance(kinds, 40 + static_cast<unsigned>(mask));
    RouteRules rules(instance.tables);
    GranularNeighbours neighbours(rules, 5);
    RouteSegments segments(rules, neighbours.Types());
    EXPECT_EQ(ArcPricing(rules, segments).Applicable(), mask == 0) << mask;
  }
}

// The arc table reads every arc of every agent as RouteRules::Travel does,
// value and missing-arc flag bit for bit, whether it reads the flat
// matrices (routes that return to their end, a free diagonal) or asks
// Travel (open routes, whose legs into an own start or end are free; a
// matrix with a cost on its diagonal, where staying put is free).
TEST(ArcTable, ReadsEveryArcAsTheRouteRules) {
  size_t flat = 0, asked = 0;
  unsigned seed = 300;
  for (InstanceKinds kinds : engine_test::AllKinds()) {
    for (const bool costly_diagonal : {false, true}) {
      kinds.symmetric = seed % 2 == 0;
      engine_test::RandomInstance instance = MakeRandomInstance(kinds, ++seed);
      const size_t n = instance.tables.DenseSize();
      if (costly_diagonal) {
        std::vector<std::vector<double>> matrices;
        for (size_t t = 0; t < instance.tables.NumTypes(); ++t) matrices.push_back(instance.tables.CostMatrix(t));
        matrices.back()[(n - 1) * n + (n - 1)] = 4.5;
        instance.tables.SetCostMatrices(matrices, n, instance.graph.get());
      }
      RouteRules rules(instance.tables);
      const ArcTable arcs(rules);
      EXPECT_EQ(arcs.Flat(), !kinds.open_routes && !costly_diagonal);
      ++(arcs.Flat() ? flat : asked);
      for (size_t k = 0; k < rules.NumAgents(); ++k) {
        for (size_t u = 0; u < rules.NumNodes(); ++u) {
          for (size_t v = 0; v < rules.NumNodes(); ++v) {
            bool blocked = false, read_blocked = true;
            const double travel = rules.Travel(k, u, v, blocked);
            const double read = arcs.Travel(k, u, v, read_blocked);
            ASSERT_EQ(read, travel) << k << " " << u << " " << v;
            ASSERT_EQ(read_blocked, blocked) << k << " " << u << " " << v;
          }
        }
      }
    }
  }
  EXPECT_GT(flat, 20u);
  EXPECT_GT(asked, 20u);
}

}  // namespace
}  // namespace tarsel
