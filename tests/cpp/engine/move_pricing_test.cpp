#include <gtest/gtest.h>

#include <random>
#include <vector>

#include "engine/granular_neighbours.h"
#include "engine/move_pricing.h"
#include "engine/random_instance.h"
#include "engine/route_segments.h"
#include "engine/route_rules.h"
#include "engine/solution.h"

namespace tarsel {
namespace {

using engine_test::AllKinds;
using engine_test::InstanceKinds;
using engine_test::MakeRandomInstance;

// Counts how often the priced and the fully evaluated cost of one move
// kind were compared, and how often the route was feasible.
struct Tally {
  size_t compared = 0;
  size_t feasible = 0;
};

// The O(1) price of a move agrees with the full evaluation of the route the
// matching builder writes: both reject it, or both give the same cost.
void ExpectPriced(double priced, const RouteRules& rules, size_t k, const std::vector<size_t>& route,
                  Tally& tally, const char* move) {
  const double exact = rules.ExactCost(k, route, PenaltyWeights{});
  ++tally.compared;
  if (exact == RouteRules::kInfeasible) {
    EXPECT_EQ(priced, RouteRules::kInfeasible) << move;
  } else {
    ++tally.feasible;
    EXPECT_NEAR(priced, exact, 1e-7 * std::max(1.0, exact)) << move;
  }
}

// Random targets for every route (types and assignment rules ignored:
// neither the pricing nor the full evaluation reads them).
void RandomRoutes(const RouteRules& rules, Solution& solution, std::mt19937& random) {
  solution.Clear(PenaltyWeights{});
  std::vector<std::vector<size_t>> targets(rules.NumAgents());
  for (size_t v : rules.Targets()) targets[random() % rules.NumAgents()].push_back(v);
  for (size_t k = 0; k < rules.NumAgents(); ++k) {
    std::shuffle(targets[k].begin(), targets[k].end(), random);
    solution.SetTargets(k, targets[k].data(), targets[k].size());
  }
  for (size_t k = 0; k < rules.NumAgents(); ++k) solution.Refresh(k, PenaltyWeights{});
}

TEST(MovePricing, EveryMoveKindAgreesWithTheFullEvaluation) {
  Tally relocate, insert, segment_between, tails, replace, segment_within, swap, reverse;
  unsigned seed = 500;
  for (InstanceKinds kinds : AllKinds()) {
    for (int repeat = 0; repeat < 4; ++repeat, ++seed) {
      kinds.symmetric = repeat % 2 == 1;  // reversal priced in O(1) where nothing breaks symmetry
      kinds.nodes = 14;
      engine_test::RandomInstance instance = MakeRandomInstance(kinds, seed);
      RouteRules rules(instance.tables);
      GranularNeighbours neighbours(rules, 5);
      RouteSegments segments(rules, neighbours.Types());
      MovePricer pricer(rules, segments);
      Solution solution(rules);
      std::mt19937 random(seed);
      std::vector<size_t> route, scratch;
      for (int trial = 0; trial < 10; ++trial) {
        RandomRoutes(rules, solution, random);
        segments.RefreshAll(solution);
        const size_t m = rules.NumAgents();
        const size_t a = random() % m;
        const size_t b = (a + 1 + random() % (m - 1)) % m;
        const std::vector<size_t>& na = solution.Route(a).nodes;
        const std::vector<size_t>& nb = solution.Route(b).nodes;
        const size_t last_a = na.size() - 2;  // last target position; 0 when idle
        const size_t last_b = nb.size() - 2;

        // 2-opt* halves, every pair of cut points.
        for (size_t i = 0; i <= last_a; ++i) {
          for (size_t j = 0; j <= last_b; ++j) {
            MovePricer::TailExchangeNodes(na, i, nb, j, route);
            ExpectPriced(pricer.TailExchange(solution, a, i, b, j, PenaltyWeights{}), rules, a, route, tails,
                         "2-opt*");
          }
        }
        // A target inserted anywhere into b.
        if (last_a >= 1) {
          const size_t node = na[1 + random() % last_a];
          for (size_t at = 1; at <= last_b + 1; ++at) {
            MovePricer::InsertSegmentNodes(nb, at, na, solution.PositionOf(node), 1, false, route);
            ExpectPriced(pricer.InsertNode(solution, b, at, node, PenaltyWeights{}), rules, b, route, insert,
                         "insert");
          }
        }
        for (size_t i = 1; i <= last_a; ++i) {
          for (size_t count = 1; count <= 3 && i + count - 1 <= last_a; ++count) {
            // Runs removed from a, and put anywhere into b, both directions.
            MovePricer::RemoveSegmentNodes(na, i, count, route);
            ExpectPriced(pricer.RemoveSegment(solution, a, i, count, PenaltyWeights{}), rules, a, route, relocate,
                         "remove run");
            for (size_t at = 1; at <= last_b + 1; ++at) {
              for (bool reversed : {false, true}) {
                MovePricer::InsertSegmentNodes(nb, at, na, i, count, reversed, route);
                ExpectPriced(pricer.InsertSegment(solution, b, at, a, i, count, reversed, PenaltyWeights{}), rules,
                             b, route,
                             segment_between, "insert run");
              }
            }
            // Runs moved within a after every other node, both directions.
            for (size_t after = 0; after <= last_a; ++after) {
              if (after + 1 >= i && after <= i + count - 1) continue;
              for (bool reversed : {false, true}) {
                MovePricer::MoveSegmentWithinNodes(na, i, count, after, reversed, route);
                ExpectPriced(pricer.MoveSegmentWithin(solution, a, i, count, after, reversed, PenaltyWeights{}),
                             rules, a, route,
                             segment_within, "run within");
              }
            }
          }
          // A target of a replaced by one of b at every place (SWAP*'s halves).
          if (last_b >= 1) {
            const size_t node = nb[1 + random() % last_b];
            for (size_t p = 1; p <= last_a + 1; ++p) {
              MovePricer::ReplaceNodes(na, i, node, p, route);
              ExpectPriced(pricer.Replace(solution, a, i, node, p, PenaltyWeights{}), rules, a, route, replace,
                           "replace");
            }
          }
          for (size_t j = i + 1; j <= last_a; ++j) {
            MovePricer::SwapWithinNodes(na, i, j, route);
            ExpectPriced(pricer.SwapWithin(solution, a, i, j, PenaltyWeights{}), rules, a, route, swap,
                         "swap within");
          }
        }
        for (size_t first = 0; first + 2 <= last_a; ++first) {
          for (size_t end = first + 2; end <= last_a; ++end) {
            MovePricer::ReverseWithinNodes(na, first, end, route);
            ExpectPriced(pricer.ReverseWithin(solution, a, first, end, scratch, PenaltyWeights{}), rules, a,
                         route, reverse,
                         "2-opt");
          }
        }
      }
    }
  }
  // Every kind met many feasible and many rejected routes.
  for (const Tally* tally : {&relocate, &insert, &segment_between, &tails, &replace, &segment_within, &swap,
                             &reverse}) {
    EXPECT_GT(tally->feasible, 100u);
    EXPECT_GT(tally->compared - tally->feasible, 100u);
  }
}

// Routes longer than the stored window: a segment joined from stored segments
// equals the segment walked node by node, and moves within such a route are
// priced as the full evaluation prices them.
TEST(MovePricing, LongRoutesJoinStoredStretches) {
  Tally segment_within;
  size_t long_stretches = 0;
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
    MovePricer pricer(rules, segments);
    Solution solution(rules);
    std::mt19937 random(7);
    RandomRoutes(rules, solution, random);
    segments.RefreshAll(solution);
    const size_t a = solution.Route(0).Targets() >= solution.Route(1).Targets() ? 0 : 1;
    const std::vector<size_t>& nodes = solution.Route(a).nodes;
    const size_t last = nodes.size() - 2;
    ASSERT_GT(last, 2 * RouteSegments::kWindow);
    for (int trial = 0; trial < 300; ++trial) {
      size_t from = 1 + random() % last;
      size_t to = 1 + random() % last;
      if (from > to) std::swap(from, to);
      Segment walked = rules.NodeSeg(nodes[from]);
      for (size_t i = from + 1; i <= to; ++i) walked = rules.Join(a, walked, nodes[i - 1], nodes[i], rules.NodeSeg(nodes[i]));
      const Segment joined = segments.Between(a, from, to);
      if (to - from >= RouteSegments::kWindow) ++long_stretches;
      EXPECT_NEAR(joined.duration, walked.duration, 1e-7 * std::max(1.0, walked.duration));
      EXPECT_NEAR(joined.warp, walked.warp, 1e-7 * std::max(1.0, walked.warp));
      EXPECT_EQ(joined.blocked, walked.blocked);

      const size_t count = 1 + random() % 3;
      const size_t i = 1 + random() % (last - count + 1);
      const size_t after = random() % (last + 1);
      if (after + 1 >= i && after <= i + count - 1) continue;
      std::vector<size_t> route;
      MovePricer::MoveSegmentWithinNodes(nodes, i, count, after, false, route);
      ExpectPriced(pricer.MoveSegmentWithin(solution, a, i, count, after, false, PenaltyWeights{}), rules, a,
                   route, segment_within,
                   "run within a long route");
    }
  }
  EXPECT_GT(long_stretches, 100u);
  EXPECT_GT(segment_within.feasible, 50u);
}

}  // namespace
}  // namespace tarsel
