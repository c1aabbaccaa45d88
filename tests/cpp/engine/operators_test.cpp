#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <random>
#include <utility>
#include <vector>

#include "engine/granular_neighbours.h"
#include "engine/move_value.h"
#include "engine/node_edits.h"
#include "engine/random_instance.h"
#include "engine/random_routes.h"
#include "engine/relocate_pair.h"
#include "engine/relocate_segment.h"
#include "engine/relocate_within.h"
#include "engine/reverse_chain.h"
#include "engine/reverse_within.h"
#include "engine/route_rules.h"
#include "engine/route_segments.h"
#include "engine/segment_joiner.h"
#include "engine/solution.h"
#include "engine/swap_pairs.h"
#include "engine/swap_star.h"
#include "engine/swap_tails.h"
#include "engine/swap_targets.h"
#include "engine/swap_within.h"

namespace tarsel {
namespace {

using engine_test::AllKinds;
using engine_test::InstanceKinds;
using engine_test::MakeRandomInstance;
using engine_test::RandomRoutes;
using engine_test::SegmentOf;
using engine_test::Without;

using Nodes = std::vector<size_t>;

// How often one operator's price was compared with the applied route's
// full evaluation, and how often that route was feasible.
struct Tally {
  size_t compared = 0;
  size_t feasible = 0;
  size_t valued = 0;  // moves whose objective value after was compared too
};

// Whether route k's agent may serve every target it holds after a move
// that it did not hold before.
bool ServesReceived(const RouteRules& rules, size_t k, const Nodes& before, const Nodes& after) {
  for (size_t node : after) {
    if (std::find(before.begin(), before.end(), node) == before.end() && !rules.CanServe(k, node)) return false;
  }
  return true;
}

// One move of any operator: its price agrees with the full evaluation of
// the routes its application writes, those routes are `expected_a` and
// `expected_b` (built here by plain vector edits), no other route changes,
// and the objective value after the move (longest, total) is the value of
// the applied solution.
template <typename Move>
void CheckMove(RouteOperator<Move>& op, const Move& move, const Solution& solution, Solution& applied,
               const PenaltyWeights& weights, const Nodes& expected_a, const Nodes& expected_b,
               bool checks_service, Tally& tally, const char* name) {
  const RouteRules& rules = solution.Rules();
  const MoveCosts costs = op.Evaluate(solution, move, weights);
  applied = solution;
  op.Apply(applied, move);
  const size_t a = costs.a, b = costs.b;
  ASSERT_EQ(applied.Route(a).nodes, expected_a) << name;
  if (b != a) {
    ASSERT_EQ(applied.Route(b).nodes, expected_b) << name;
  }
  for (size_t k = 0; k < solution.NumRoutes(); ++k) {
    if (k != a && k != b) {
      ASSERT_EQ(applied.Route(k).nodes, solution.Route(k).nodes) << name;
    }
  }
  ++tally.compared;
  const Nodes& route_b = b == a ? expected_a : expected_b;
  const bool served = !checks_service || (ServesReceived(rules, a, solution.Route(a).nodes, expected_a) &&
                                          ServesReceived(rules, b, solution.Route(b).nodes, route_b));
  const double exact_a = served ? rules.ExactCost(a, expected_a, weights) : RouteRules::kInfeasible;
  const double exact_b = served ? rules.ExactCost(b, route_b, weights) : RouteRules::kInfeasible;
  auto expect_cost = [&](double priced, double exact) {
    if (exact == RouteRules::kInfeasible) {
      EXPECT_EQ(priced, RouteRules::kInfeasible) << name;
    } else {
      EXPECT_NEAR(priced, exact, 1e-7 * std::max(1.0, exact)) << name;
    }
  };
  expect_cost(costs.cost_a, exact_a);
  // A move whose first route is rejected need not price the second.
  if (costs.cost_a < RouteRules::kInfeasible) expect_cost(costs.cost_b, exact_b);
  if (!(exact_a < RouteRules::kInfeasible) || !(exact_b < RouteRules::kInfeasible)) return;
  ++tally.feasible;
  if (!(solution.Value().total < RouteRules::kInfeasible)) return;  // another route is rejected
  applied.Refresh(a, weights);
  if (b != a) applied.Refresh(b, weights);
  const ObjectiveValue priced = ValueAfter(solution, a, costs.cost_a, b, costs.cost_b);
  const ObjectiveValue exact = applied.Value();
  EXPECT_NEAR(priced.longest, exact.longest, 1e-7 * std::max(1.0, exact.longest)) << name;
  EXPECT_NEAR(priced.total, exact.total, 1e-7 * std::max(1.0, exact.total)) << name;
  ++tally.valued;
}

// `inserted` placed right before node `before` (found by its id).
Nodes InsertBefore(const Nodes& nodes, size_t before, const Nodes& inserted) {
  Nodes out = nodes;
  const auto at = std::find(out.begin() + 1, out.end(), before);  // the end may be the start's node
  out.insert(at, inserted.begin(), inserted.end());
  return out;
}

// Every operator on random routes of every mix of constraint kinds, for both
// objectives, without penalties (rejections compared) and with penalty
// weights (windows and limits priced as penalties).
TEST(Operators, EvaluateAgreesWithTheAppliedRoutes) {
  Tally relocate, swap, tails, relocate_within, swap_within, reverse, swap_star;
  unsigned seed = 500;
  for (InstanceKinds kinds : AllKinds()) {
    for (int repeat = 0; repeat < 4; ++repeat, ++seed) {
      kinds.symmetric = repeat % 2 == 1;  // 2-opt priced from stored segments where nothing breaks symmetry
      kinds.nodes = 12;
      engine_test::RandomInstance instance = MakeRandomInstance(kinds, seed);
      RouteRules rules(instance.tables);
      rules.SetMinMax(repeat < 2);
      const PenaltyWeights weights = seed % 3 == 0 ? PenaltyWeights{true, 3.5, 2.0} : PenaltyWeights{};
      GranularNeighbours neighbours(rules, 5);
      RouteSegments segments(rules, neighbours.Types());
      SegmentJoiner joiner(rules, segments);
      RelocateSegment relocate_op(joiner);
      SwapTargets swap_op(joiner);
      SwapTails tails_op(joiner, rules.NumNodes());
      RelocateWithin relocate_within_op(joiner);
      SwapWithin swap_within_op(joiner);
      ReverseWithin reverse_op(joiner, rules.NumNodes());
      SwapStar swap_star_op(rules, joiner);
      Solution solution(rules);
      Solution applied(rules);
      std::mt19937 random(seed);
      for (int trial = 0; trial < 6; ++trial) {
        RandomRoutes(rules, solution, weights, random);
        segments.RefreshAll(solution);
        const size_t m = rules.NumAgents();
        const size_t a = random() % m;
        const size_t b = (a + 1 + random() % (m - 1)) % m;
        const Nodes na = solution.Route(a).nodes;
        const Nodes nb = solution.Route(b).nodes;
        const size_t last_a = na.size() - 2;  // last target position; 0 when idle
        const size_t last_b = nb.size() - 2;

        for (size_t i = 0; i <= last_a; ++i) {
          for (size_t j = 0; j <= last_b; ++j) {
            if (i == last_a && j == last_b) continue;  // nothing would change
            Nodes expected_a(na.begin(), na.begin() + static_cast<std::ptrdiff_t>(i + 1));
            expected_a.insert(expected_a.end(), nb.begin() + static_cast<std::ptrdiff_t>(j + 1), nb.end() - 1);
            expected_a.push_back(na.back());
            Nodes expected_b(nb.begin(), nb.begin() + static_cast<std::ptrdiff_t>(j + 1));
            expected_b.insert(expected_b.end(), na.begin() + static_cast<std::ptrdiff_t>(i + 1), na.end() - 1);
            expected_b.push_back(nb.back());
            CheckMove(tails_op, SwapTailsMove{a, i, b, j}, solution, applied, weights, expected_a, expected_b, true,
                      tails, "2-opt*");
          }
        }
        for (size_t i = 1; i <= last_a; ++i) {
          for (size_t count = 1; count <= 3 && i + count - 1 <= last_a; ++count) {
            for (bool reversed : {false, true}) {
              const Nodes moved = SegmentOf(na, i, count, reversed);
              for (size_t at = 1; at <= last_b + 1; ++at) {
                CheckMove(relocate_op, RelocateSegmentMove{a, i, count, b, at, reversed}, solution, applied, weights,
                          Without(na, i, count), InsertBefore(nb, nb[at], moved), true, relocate, "relocate");
              }
              for (size_t after = 0; after <= last_a; ++after) {
                if (after + 1 >= i && after <= i + count - 1) continue;
                const Nodes rest = Without(na, i, count);
                CheckMove(relocate_within_op, RelocateWithinMove{a, i, count, after, reversed}, solution, applied,
                          weights, InsertBefore(rest, na[after + 1], moved), {}, false, relocate_within,
                          "relocate within");
              }
            }
          }
          for (size_t j = 1; j <= last_b; ++j) {
            Nodes expected_a = na, expected_b = nb;
            std::swap(expected_a[i], expected_b[j]);
            CheckMove(swap_op, SwapTargetsMove{a, i, b, j}, solution, applied, weights, expected_a, expected_b, true,
                      swap, "swap");
            // SWAP*: each target at every place of the other route.
            const size_t u = na[i], v = nb[j];
            for (size_t place_v = 1; place_v <= last_a + 1; ++place_v) {
              const size_t before_a = na[place_v] == u ? na[place_v + 1] : na[place_v];
              for (size_t place_u = 1; place_u <= last_b + 1; place_u += 1 + random() % 2) {
                const size_t before_b = nb[place_u] == v ? nb[place_u + 1] : nb[place_u];
                CheckMove(swap_star_op, SwapStarMove{a, b, u, v, place_v, place_u}, solution, applied, weights,
                          InsertBefore(Without(na, i, 1), before_a, {v}), InsertBefore(Without(nb, j, 1), before_b, {u}),
                          false, swap_star, "SWAP*");
              }
            }
          }
          for (size_t j = i + 1; j <= last_a; ++j) {
            Nodes expected = na;
            std::swap(expected[i], expected[j]);
            CheckMove(swap_within_op, SwapWithinMove{a, i, j}, solution, applied, weights, expected, {}, false,
                      swap_within, "swap within");
          }
        }
        for (size_t first = 0; first + 2 <= last_a; ++first) {
          for (size_t last = first + 2; last <= last_a; ++last) {
            Nodes expected = na;
            std::reverse(expected.begin() + static_cast<std::ptrdiff_t>(first + 1),
                         expected.begin() + static_cast<std::ptrdiff_t>(last + 1));
            CheckMove(reverse_op, ReverseWithinMove{a, first, last}, solution, applied, weights, expected, {}, false,
                      reverse, "2-opt");
          }
        }
      }
    }
  }
  // Every operator met many feasible and many rejected routes.
  for (const Tally* tally : {&relocate, &swap, &tails, &relocate_within, &swap_within, &reverse, &swap_star}) {
    EXPECT_GT(tally->feasible, 100u);
    EXPECT_GT(tally->compared - tally->feasible, 100u);
    EXPECT_GT(tally->valued, 50u);
  }
}

// The pair relocation: two targets of a route (the first earlier) moved
// together to every pair of places of every route, their own included.
TEST(Operators, RelocatePairAgreesWithTheAppliedRoutes) {
  Tally between, within;
  unsigned seed = 700;
  for (InstanceKinds kinds : AllKinds()) {
    ++seed;
    if (seed % 2 == 0) continue;  // half the mixes keep the test short; every kind still occurs
    kinds.nodes = 11;
    engine_test::RandomInstance instance = MakeRandomInstance(kinds, seed);
    RouteRules rules(instance.tables);
    rules.SetMinMax(seed % 4 == 1);
    const PenaltyWeights weights = seed % 3 == 0 ? PenaltyWeights{true, 3.5, 2.0} : PenaltyWeights{};
    GranularNeighbours neighbours(rules, 5);
    RouteSegments segments(rules, neighbours.Types());
    SegmentJoiner joiner(rules, segments);
    RelocatePair op(joiner);
    Solution solution(rules);
    Solution applied(rules);
    std::mt19937 random(seed);
    for (int trial = 0; trial < 3; ++trial) {
      RandomRoutes(rules, solution, weights, random);
      segments.RefreshAll(solution);
      const size_t a = random() % rules.NumAgents();
      const Nodes na = solution.Route(a).nodes;
      for (size_t i = 1; i + 2 < na.size(); ++i) {
        for (size_t j = i + 1; j + 1 < na.size(); ++j) {
          Nodes rest_a = na;
          rest_a.erase(rest_a.begin() + static_cast<std::ptrdiff_t>(j));
          rest_a.erase(rest_a.begin() + static_cast<std::ptrdiff_t>(i));
          for (size_t b = 0; b < rules.NumAgents(); ++b) {
            const Nodes& rest_b = b == a ? rest_a : solution.Route(b).nodes;
            for (size_t p = 1; p < rest_b.size(); ++p) {
              for (size_t q = p; q < rest_b.size(); ++q) {
                Nodes expected(rest_b.begin(), rest_b.begin() + static_cast<std::ptrdiff_t>(p));
                expected.push_back(na[i]);
                expected.insert(expected.end(), rest_b.begin() + static_cast<std::ptrdiff_t>(p),
                                rest_b.begin() + static_cast<std::ptrdiff_t>(q));
                expected.push_back(na[j]);
                expected.insert(expected.end(), rest_b.begin() + static_cast<std::ptrdiff_t>(q), rest_b.end());
                const RelocatePairMove move{a, i, j, b, p, q};
                if (b == a) {
                  CheckMove(op, move, solution, applied, weights, expected, {}, false, within, "pair within");
                } else {
                  CheckMove(op, move, solution, applied, weights, rest_a, expected, true, between, "pair");
                }
              }
            }
          }
        }
      }
    }
  }
  for (const Tally* tally : {&between, &within}) {
    EXPECT_GT(tally->feasible, 100u);
    EXPECT_GT(tally->compared - tally->feasible, 100u);
    EXPECT_GT(tally->valued, 50u);
  }
}

// `nodes` without positions i < j, with `first` and `second` put before
// places p <= q of what is left.
Nodes WithPairAt(const Nodes& nodes, size_t i, size_t j, size_t first, size_t second, size_t p, size_t q) {
  Nodes out = nodes;
  out.erase(out.begin() + static_cast<std::ptrdiff_t>(j));
  out.erase(out.begin() + static_cast<std::ptrdiff_t>(i));
  out.insert(out.begin() + static_cast<std::ptrdiff_t>(q), second);
  out.insert(out.begin() + static_cast<std::ptrdiff_t>(p), first);
  return out;
}

// The pair exchange: two targets of one route (the first earlier) and two
// of another trade routes, each two placed at every pair of places of the
// other route; the cheapest places found are those of the cheapest priced
// move.
TEST(Operators, SwapPairsAgreesWithTheAppliedRoutes) {
  Tally tally;
  size_t best_checked = 0;
  unsigned seed = 900;
  for (InstanceKinds kinds : AllKinds()) {
    ++seed;
    if (seed % 2 == 0) continue;
    kinds.nodes = 11;
    engine_test::RandomInstance instance = MakeRandomInstance(kinds, seed);
    RouteRules rules(instance.tables);
    if (rules.NumAgents() < 2) continue;
    rules.SetMinMax(seed % 4 == 1);
    const PenaltyWeights weights = seed % 3 == 0 ? PenaltyWeights{true, 3.5, 2.0} : PenaltyWeights{};
    GranularNeighbours neighbours(rules, 5);
    RouteSegments segments(rules, neighbours.Types());
    SegmentJoiner joiner(rules, segments);
    SwapPairs op(joiner);
    Solution solution(rules);
    Solution applied(rules);
    std::mt19937 random(seed);
    for (int trial = 0; trial < 4; ++trial) {
      RandomRoutes(rules, solution, weights, random);
      segments.RefreshAll(solution);
      const size_t a = random() % rules.NumAgents();
      const size_t b = (a + 1 + random() % (rules.NumAgents() - 1)) % rules.NumAgents();
      const Nodes na = solution.Route(a).nodes;
      const Nodes nb = solution.Route(b).nodes;
      if (na.size() < 4 || nb.size() < 4) continue;
      const size_t i = 1 + random() % (na.size() - 3);
      const size_t j = i + 1 + random() % (na.size() - 2 - i);
      const size_t k = 1 + random() % (nb.size() - 3);
      const size_t l = k + 1 + random() % (nb.size() - 2 - k);
      double cheapest_a = RouteRules::kInfeasible, cheapest_b = RouteRules::kInfeasible;
      for (size_t r = 1; r + 2 < na.size(); ++r) {
        for (size_t s = r; s + 2 < na.size(); ++s) {
          for (size_t p = 1; p + 2 < nb.size(); ++p) {
            for (size_t q = p; q + 2 < nb.size(); ++q) {
              const SwapPairsMove move{a, i, j, b, k, l, p, q, r, s};
              const Nodes expected_a = WithPairAt(na, i, j, nb[k], nb[l], r, s);
              const Nodes expected_b = WithPairAt(nb, k, l, na[i], na[j], p, q);
              CheckMove(op, move, solution, applied, weights, expected_a, expected_b, true, tally, "pair exchange");
              const MoveCosts costs = op.Evaluate(solution, move, weights);
              cheapest_a = std::min(cheapest_a, costs.cost_a);
              if (costs.cost_a < RouteRules::kInfeasible) cheapest_b = std::min(cheapest_b, costs.cost_b);
            }
          }
        }
      }
      SwapPairsMove best{a, i, j, b, k, l};
      const MoveCosts found = op.Best(solution, best, weights);
      if (!(cheapest_a < RouteRules::kInfeasible)) {
        EXPECT_EQ(found.cost_a, RouteRules::kInfeasible);
        continue;
      }
      EXPECT_DOUBLE_EQ(found.cost_a, cheapest_a);
      EXPECT_DOUBLE_EQ(found.cost_b, cheapest_b);
      const MoveCosts again = op.Evaluate(solution, best, weights);  // the places it names give that price
      EXPECT_DOUBLE_EQ(again.cost_a, found.cost_a);
      EXPECT_DOUBLE_EQ(again.cost_b, found.cost_b);
      ++best_checked;
    }
  }
  EXPECT_GT(tally.feasible, 100u);
  EXPECT_GT(tally.compared - tally.feasible, 100u);
  EXPECT_GT(tally.valued, 50u);
  EXPECT_GT(best_checked, 10u);
}

// Routes longer than the stored window: a segment joined from stored
// segments equals the segment walked node by node, and relocations within
// such a route are priced as the full evaluation prices them.
TEST(Operators, LongRoutesJoinStoredSegments) {
  Tally relocate_within;
  size_t long_segments = 0;
  for (bool windows : {false, true}) {
    InstanceKinds kinds;
    kinds.nodes = 300;
    kinds.agents = 2;
    kinds.windows = windows;
    kinds.symmetric = true;
    engine_test::RandomInstance instance = MakeRandomInstance(kinds, windows ? 901 : 900);
    RouteRules rules(instance.tables);
    GranularNeighbours neighbours(rules, 5);
    RouteSegments segments(rules, neighbours.Types());
    SegmentJoiner joiner(rules, segments);
    RelocateWithin op(joiner);
    Solution solution(rules);
    Solution applied(rules);
    std::mt19937 random(7);
    RandomRoutes(rules, solution, PenaltyWeights{}, random);
    segments.RefreshAll(solution);
    const size_t a = solution.Route(0).Targets() >= solution.Route(1).Targets() ? 0 : 1;
    const Nodes nodes = solution.Route(a).nodes;
    const size_t last = nodes.size() - 2;
    ASSERT_GT(last, 2 * RouteSegments::kWindow);
    for (int trial = 0; trial < 300; ++trial) {
      size_t from = 1 + random() % last;
      size_t to = 1 + random() % last;
      if (from > to) std::swap(from, to);
      Segment walked = rules.NodeSeg(nodes[from]);
      for (size_t i = from + 1; i <= to; ++i) {
        walked = rules.Join(a, walked, nodes[i - 1], nodes[i], rules.NodeSeg(nodes[i]));
      }
      const Segment joined = segments.Between(a, from, to);
      if (to - from >= RouteSegments::kWindow) ++long_segments;
      EXPECT_NEAR(joined.duration, walked.duration, 1e-7 * std::max(1.0, walked.duration));
      EXPECT_NEAR(joined.warp, walked.warp, 1e-7 * std::max(1.0, walked.warp));
      EXPECT_EQ(joined.blocked, walked.blocked);

      const size_t count = 1 + random() % 3;
      const size_t i = 1 + random() % (last - count + 1);
      const size_t after = random() % (last + 1);
      if (after + 1 >= i && after <= i + count - 1) continue;
      CheckMove(op, RelocateWithinMove{a, i, count, after, false}, solution, applied, PenaltyWeights{},
                InsertBefore(Without(nodes, i, count), nodes[after + 1], SegmentOf(nodes, i, count, false)), {}, false,
                relocate_within, "relocate within a long route");
    }
  }
  EXPECT_GT(long_segments, 100u);
  EXPECT_GT(relocate_within.feasible, 50u);
}

// Long routes (more than kLongRouteTargets targets) keep their segments
// backwards too: on asymmetric matrices, with windows, limits and penalty
// weights, a stored reversed segment equals the segment walked backwards
// node by node, and 2-opt and reversed relocations of segments of any
// length are priced as the full evaluation of the built route prices them.
TEST(Operators, LongRoutesPriceReversalsFromStoredSegments) {
  Tally reverse, relocate_within;
  size_t long_segments = 0;
  unsigned seed = 930;
  for (int mask : {0, 1, 2, 3}) {
    for (bool penalised : {false, true}) {
      InstanceKinds kinds = engine_test::KindsFromMask(mask);
      kinds.nodes = 260;
      kinds.agents = 2;
      kinds.types = 1;
      engine_test::RandomInstance instance = MakeRandomInstance(kinds, ++seed);
      RouteRules rules(instance.tables);
      const PenaltyWeights weights = penalised ? PenaltyWeights{true, 3.5, 2.0} : PenaltyWeights{};
      GranularNeighbours neighbours(rules, 5);
      RouteSegments segments(rules, neighbours.Types());
      SegmentJoiner joiner(rules, segments);
      ReverseWithin reverse_op(joiner, rules.NumNodes());
      RelocateWithin relocate_op(joiner);
      Solution solution(rules);
      Solution applied(rules);
      std::mt19937 random(seed);
      RandomRoutes(rules, solution, weights, random);
      segments.RefreshAll(solution);
      const size_t a = solution.Route(0).Targets() >= solution.Route(1).Targets() ? 0 : 1;
      ASSERT_TRUE(segments.PricesReversal(a));
      ASSERT_FALSE(segments.ReversalKeepsCost(a));
      const Nodes nodes = solution.Route(a).nodes;
      const size_t last = nodes.size() - 2;
      ASSERT_GT(last, 2 * RouteSegments::kWindow);
      for (int trial = 0; trial < 200; ++trial) {
        size_t from = 1 + random() % last;
        size_t to = 1 + random() % last;
        if (from > to) std::swap(from, to);
        Segment walked = rules.NodeSeg(nodes[to]);
        for (size_t q = to; q-- > from;) walked = rules.Join(a, walked, nodes[q + 1], nodes[q], rules.NodeSeg(nodes[q]));
        const Segment stored = segments.ReversedBetween(a, from, to);
        if (to - from >= RouteSegments::kWindow) ++long_segments;
        for (const auto& [got, want] : {std::pair{stored.duration, walked.duration}, std::pair{stored.warp, walked.warp},
                                        std::pair{stored.earliest, walked.earliest},
                                        std::pair{stored.latest, walked.latest}}) {
          if (std::isinf(want)) {
            EXPECT_EQ(got, want);  // no window on the way: an unbounded start
          } else {
            EXPECT_NEAR(got, want, 1e-7 * std::max(1.0, std::fabs(want)));
          }
        }
        EXPECT_EQ(stored.blocked, walked.blocked);

        if (to - from >= 2) {
          Nodes expected = nodes;
          std::reverse(expected.begin() + static_cast<std::ptrdiff_t>(from),
                       expected.begin() + static_cast<std::ptrdiff_t>(to + 1));
          CheckMove(reverse_op, ReverseWithinMove{a, from - 1, to}, solution, applied, weights, expected, {}, false,
                    reverse, "2-opt on a long route");
        }
        const size_t count = to - from + 1;
        if (count + 1 >= last) continue;
        size_t after = random() % (last + 1);
        while (after + 1 >= from && after <= to) after = random() % (last + 1);
        const bool reversed = trial % 3 != 0;
        CheckMove(relocate_op, RelocateWithinMove{a, from, count, after, reversed}, solution, applied, weights,
                  InsertBefore(Without(nodes, from, count), nodes[after + 1], SegmentOf(nodes, from, count, reversed)),
                  {}, false, relocate_within, "segment moved within a long route");
      }
    }
  }
  EXPECT_GT(long_segments, 300u);
  for (const Tally* tally : {&reverse, &relocate_within}) {
    EXPECT_GT(tally->feasible, 200u);
    EXPECT_GT(tally->valued, 100u);
  }
}

// A chain of up to five reversals within one route, applied as one move:
// the applied route is the one built by reversing plain vectors in turn,
// and its price (joined from stored segments, backwards ones on long
// routes; a full walk on short routes where reversal changes the cost)
// equals the full evaluation of that route, on symmetric and asymmetric
// matrices, with windows and limits, with and without penalty weights.
TEST(Operators, ReverseChainAgreesWithTheAppliedRoute) {
  Tally long_chains, short_chains;
  unsigned seed = 1700;
  for (int mask : {0, 1, 2, 3}) {
    for (bool symmetric : {false, true}) {
      for (size_t agents : {2u, 6u}) {
        InstanceKinds kinds = engine_test::KindsFromMask(mask);
        kinds.nodes = 200;
        kinds.agents = agents;
        kinds.types = 1;
        kinds.symmetric = symmetric;
        engine_test::RandomInstance instance = MakeRandomInstance(kinds, ++seed);
        RouteRules rules(instance.tables);
        GranularNeighbours neighbours(rules, 5);
        RouteSegments segments(rules, neighbours.Types());
        SegmentJoiner joiner(rules, segments);
        ReverseChain chain_op(joiner, rules.NumNodes());
        Solution solution(rules);
        Solution applied(rules);
        std::mt19937 random(seed);
        for (bool penalised : {false, true}) {
          const PenaltyWeights weights = penalised ? PenaltyWeights{true, 3.5, 2.0} : PenaltyWeights{};
          RandomRoutes(rules, solution, weights, random);
          segments.RefreshAll(solution);
          for (int trial = 0; trial < 60; ++trial) {
            const size_t k = random() % agents;
            const Nodes& nodes = solution.Route(k).nodes;
            if (nodes.size() < 6) continue;
            const size_t last = nodes.size() - 2;
            ReverseChainMove move{k, {}};
            move.tour.Reset(nodes.size());
            Nodes expected = nodes;
            const size_t steps = 1 + random() % ChainTour::kMaxReversals;
            for (size_t step = 0; step < steps; ++step) {
              size_t first = 1 + random() % last, to = 1 + random() % last;
              if (first > to) std::swap(first, to);
              if (first == to) continue;
              ASSERT_TRUE(move.tour.Reverse(first, to));
              std::reverse(expected.begin() + static_cast<std::ptrdiff_t>(first),
                           expected.begin() + static_cast<std::ptrdiff_t>(to + 1));
            }
            Tally& tally = segments.PricesReversal(k) ? long_chains : short_chains;
            CheckMove(chain_op, move, solution, applied, weights, expected, {}, false, tally, "chain of reversals");
          }
        }
      }
    }
  }
  for (const Tally* tally : {&long_chains, &short_chains}) {
    EXPECT_GT(tally->compared, 200u);
    EXPECT_GT(tally->feasible, 60u);
  }
}

}  // namespace
}  // namespace tarsel
