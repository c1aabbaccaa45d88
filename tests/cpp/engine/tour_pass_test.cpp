#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <random>
#include <vector>

#include "engine/granular_neighbours.h"
#include "engine/random.h"
#include "engine/local_search.h"
#include "engine/reverse_chain.h"
#include "engine/random_instance.h"
#include "engine/random_routes.h"
#include "engine/route_rules.h"
#include "engine/solution.h"

namespace tarsel {
namespace {

using engine_test::InstanceKinds;
using engine_test::MakeRandomInstance;
using engine_test::OneRandomTour;
using engine_test::Sorted;

using Nodes = std::vector<size_t>;

constexpr size_t kNeighbours = 8;

// Whether `candidate` costs less than `current` by more than rounding.
bool Cheaper(double candidate, double current) { return candidate < current - 1e-7 * std::max(1.0, current); }

// After the tour pass no move it tries between a target and one of its
// neighbours improves the route any more: every 2-opt that joins the two
// (reversing the stretch after the first up to the second, or the stretch
// from the first up to the one before the second), and every segment of 1
// to 3 targets from the first placed right before or after the second, in
// order or reversed. Each candidate is built as a plain node sequence and
// priced by the full walk. Returns the candidates checked.
size_t ExpectLocalOptimum(const RouteRules& rules, const GranularNeighbours& neighbours, const Solution& solution,
                          const PenaltyWeights& weights, bool with_relocations) {
  const Nodes& nodes = solution.Route(0).nodes;
  const double current = rules.ExactCost(0, nodes, weights);
  const size_t last = nodes.size() - 2;
  size_t checked = 0;
  for (size_t i = 1; i <= last; ++i) {
    const size_t u = nodes[i];
    const size_t* list = neighbours.Begin(0, u);
    for (size_t index = 0; index < neighbours.Count(); ++index) {
      const size_t j = std::find(nodes.begin(), nodes.end() - 1, list[index]) - nodes.begin();
      if (j == nodes.size() - 1) continue;  // a neighbour on another route
      const size_t low = std::min(i, j), high = std::max(i, j);
      for (const auto& [from, to] : {std::pair{low + 1, high}, std::pair{low, high - 1}}) {
        if (to < from + 1) continue;
        Nodes candidate = nodes;
        std::reverse(candidate.begin() + static_cast<std::ptrdiff_t>(from),
                     candidate.begin() + static_cast<std::ptrdiff_t>(to + 1));
        ++checked;
        EXPECT_FALSE(Cheaper(rules.ExactCost(0, candidate, weights), current))
            << "2-opt joining " << u << " and " << list[index] << " still improves";
      }
      if (!with_relocations) continue;
      for (size_t count = 1; count <= 3 && i + count - 1 <= last; ++count) {
        if (j >= i && j < i + count) continue;  // the neighbour is inside the segment
        Nodes segment(nodes.begin() + static_cast<std::ptrdiff_t>(i),
                      nodes.begin() + static_cast<std::ptrdiff_t>(i + count));
        Nodes rest = nodes;
        rest.erase(rest.begin() + static_cast<std::ptrdiff_t>(i),
                   rest.begin() + static_cast<std::ptrdiff_t>(i + count));
        const size_t at = std::find(rest.begin(), rest.end() - 1, list[index]) - rest.begin();
        for (size_t place : {at, at + 1}) {
          for (bool reversed : {false, true}) {
            Nodes moved = segment;
            if (reversed) std::reverse(moved.begin(), moved.end());
            Nodes candidate = rest;
            candidate.insert(candidate.begin() + static_cast<std::ptrdiff_t>(place), moved.begin(), moved.end());
            if (candidate == nodes) continue;
            ++checked;
            EXPECT_FALSE(Cheaper(rules.ExactCost(0, candidate, weights), current))
                << "segment of " << count << " from " << u << " next to " << list[index] << " still improves";
          }
        }
      }
    }
  }
  return checked;
}

// A random Euclidean tour of 300 targets: the pass keeps the targets,
// shortens the tour a lot and leaves no improving 2-opt move between a
// target and its neighbours.
TEST(TourPass, ReachesATwoOptLocalOptimumOverNeighbourLists) {
  for (unsigned seed : {11u, 12u}) {
    InstanceKinds kinds;
    kinds.nodes = 301;
    kinds.agents = 2;
    kinds.types = 1;
    kinds.symmetric = true;
    engine_test::RandomInstance instance = MakeRandomInstance(kinds, seed);
    RouteRules rules(instance.tables);
    rules.SetMinMax(false);
    GranularNeighbours neighbours(rules, kNeighbours);
    LocalSearch search(rules, neighbours);
    Solution solution(rules);
    std::mt19937 random(seed);
    const PenaltyWeights weights;
    OneRandomTour(rules, solution, weights, random);
    const Nodes before = solution.Route(0).nodes;
    const double initial = solution.Route(0).cost;
    const size_t moves = search.ImproveTour(solution, weights, 0, nullptr);
    EXPECT_GT(moves, 100u);
    EXPECT_EQ(Sorted(solution.Route(0).nodes), Sorted(before));
    EXPECT_EQ(solution.Route(1).Targets(), 0u);
    EXPECT_NEAR(solution.Route(0).cost, rules.ExactCost(0, solution.Route(0).nodes, weights), 1e-6);
    // A random tour of uniform points is several times longer than a good one.
    EXPECT_LT(solution.Route(0).cost, initial / 3);
    EXPECT_GT(ExpectLocalOptimum(rules, neighbours, solution, weights, true), 10000u);
    // A second call finds nothing more.
    EXPECT_EQ(search.ImproveTour(solution, weights, 0, nullptr), 0u);
  }
}

// Asymmetric matrices, windows and length limits priced under penalty
// weights: the pass prices reversals from stored backwards segments, and
// its result is still a local optimum of its moves under the full walk.
TEST(TourPass, AsymmetricWindowsAndLimitsUnderPenalties) {
  for (int mask : {0, 1, 2, 3}) {
    InstanceKinds kinds = engine_test::KindsFromMask(mask);
    kinds.nodes = 121;
    kinds.agents = 2;
    kinds.types = 1;
    engine_test::RandomInstance instance = MakeRandomInstance(kinds, 40 + static_cast<unsigned>(mask));
    RouteRules rules(instance.tables);
    GranularNeighbours neighbours(rules, kNeighbours);
    LocalSearch search(rules, neighbours);
    Solution solution(rules);
    std::mt19937 random(static_cast<unsigned>(mask));
    const PenaltyWeights weights{true, 3.5, 2.0};
    OneRandomTour(rules, solution, weights, random);
    const Nodes before = solution.Route(0).nodes;
    const double initial = solution.Route(0).cost;
    EXPECT_GT(search.ImproveTour(solution, weights, 0, nullptr), 20u) << mask;
    EXPECT_EQ(Sorted(solution.Route(0).nodes), Sorted(before));
    EXPECT_LT(solution.Route(0).cost, initial);
    EXPECT_NEAR(solution.Route(0).cost, rules.ExactCost(0, solution.Route(0).nodes, weights),
                1e-7 * solution.Route(0).cost);
    EXPECT_GT(ExpectLocalOptimum(rules, neighbours, solution, weights, true), 3000u) << mask;
  }
}

// The stop check ends the pass at once, with the route unchanged.
TEST(TourPass, StopsWhenAsked) {
  InstanceKinds kinds;
  kinds.nodes = 101;
  kinds.agents = 1;
  kinds.types = 1;
  engine_test::RandomInstance instance = MakeRandomInstance(kinds, 3);
  RouteRules rules(instance.tables);
  GranularNeighbours neighbours(rules, kNeighbours);
  LocalSearch search(rules, neighbours);
  Solution solution(rules);
  std::mt19937 random(3);
  OneRandomTour(rules, solution, PenaltyWeights{}, random);
  const Nodes before = solution.Route(0).nodes;
  EXPECT_EQ(search.ImproveTour(solution, PenaltyWeights{}, 0, [] { return true; }), 0u);
  EXPECT_EQ(solution.Route(0).nodes, before);
  // The stopped pass leaves no target marked awake that the next pass
  // would then skip: asked again without a stop, it improves the route.
  EXPECT_GT(search.ImproveTour(solution, PenaltyWeights{}, 0, nullptr), 10u);
}

// The pieces of a chain follow plain reversals of a vector: after each
// reversal the concatenated pieces are the reversed vector, and positions
// map both ways; a reversal beyond the bound is refused and changes nothing.
TEST(TourPass, ChainPiecesFollowPlainReversals) {
  std::mt19937 random(5);
  for (int trial = 0; trial < 300; ++trial) {
    const size_t length = 4 + random() % 80;
    Nodes plain(length);
    for (size_t p = 0; p < length; ++p) plain[p] = p;
    ChainTour tour;
    tour.Reset(length);
    for (size_t step = 0; step < ChainTour::kMaxReversals; ++step) {
      size_t first = 1 + random() % (length - 2), last = 1 + random() % (length - 2);
      if (first > last) std::swap(first, last);
      if (first == last) last = first + 1 < length - 1 ? first + 1 : first;
      if (first == last) continue;
      ASSERT_TRUE(tour.Reverse(first, last));
      std::reverse(plain.begin() + static_cast<std::ptrdiff_t>(first),
                   plain.begin() + static_cast<std::ptrdiff_t>(last + 1));
      Nodes joined;
      for (size_t index = 0; index < tour.Count(); ++index) {
        const ChainTour::Piece& piece = tour.At(index);
        ASSERT_LE(piece.from, piece.to);
        for (size_t q = 0; q <= piece.to - piece.from; ++q) joined.push_back(piece.reversed ? piece.to - q : piece.from + q);
      }
      ASSERT_EQ(joined, plain);
      for (size_t p = 0; p < length; ++p) {
        ASSERT_EQ(tour.Original(p), plain[p]);
        ASSERT_EQ(tour.Current(plain[p]), p);
      }
    }
    if (tour.Reversals() == ChainTour::kMaxReversals && length > 3) {
      const ChainTour before = tour;
      EXPECT_FALSE(tour.Reverse(1, 2));
      EXPECT_EQ(tour.Count(), before.Count());
      for (size_t p = 0; p < length; ++p) EXPECT_EQ(tour.Original(p), before.Original(p));
    }
  }
}

// A tour at a local optimum of 2-opt, Or-opt, swap and Or-3opt is improved
// further by the chains of 2-opt steps, on symmetric and asymmetric
// matrices and with windows and limits under penalties: the chains take
// moves, every one lowers the cost, the route keeps its targets and its
// stored cost is its walk's, and the result is still a local optimum of
// the simpler moves.
TEST(TourPass, ChainsImproveBeyondTheSimplerMoves) {
  size_t improved = 0;
  for (int mask : {0, 1, 2, 3}) {
    for (bool symmetric : {true, false}) {
      InstanceKinds kinds = engine_test::KindsFromMask(mask);
      kinds.nodes = 241;
      kinds.agents = 2;
      kinds.types = 1;
      kinds.symmetric = symmetric;
      engine_test::RandomInstance instance = MakeRandomInstance(kinds, 70 + static_cast<unsigned>(mask));
      RouteRules rules(instance.tables);
      rules.SetMinMax(false);
      GranularNeighbours neighbours(rules, kNeighbours);
      LocalSearch plain(rules, neighbours);
      plain.SetChainSteps(0);
      LocalSearch chained(rules, neighbours);
      Solution solution(rules);
      std::mt19937 random(static_cast<unsigned>(mask) + (symmetric ? 0u : 10u));
      const PenaltyWeights weights = mask == 0 ? PenaltyWeights{} : PenaltyWeights{true, 3.5, 2.0};
      OneRandomTour(rules, solution, weights, random);
      const Nodes before = solution.Route(0).nodes;
      plain.ImproveTour(solution, weights, 0, nullptr);
      ASSERT_EQ(plain.ImproveTour(solution, weights, 0, nullptr), 0u);
      const double local_optimum = solution.Route(0).cost;
      const size_t moves = chained.ImproveTour(solution, weights, 0, nullptr);
      EXPECT_EQ(Sorted(solution.Route(0).nodes), Sorted(before));
      EXPECT_NEAR(solution.Route(0).cost, rules.ExactCost(0, solution.Route(0).nodes, weights),
                  1e-7 * solution.Route(0).cost);
      EXPECT_LE(solution.Route(0).cost, local_optimum);
      if (moves > 0) {
        EXPECT_LT(solution.Route(0).cost, local_optimum);
        ++improved;
      }
      ExpectLocalOptimum(rules, neighbours, solution, weights, true);
    }
  }
  // Chains find gains past the simpler moves on most of these tours.
  EXPECT_GE(improved, 6u);
}

// Kicks on two tours at a local optimum of the tour pass, under min-max,
// on symmetric and asymmetric matrices and with windows and limits under
// penalties: the objective never gets worse and gets better on most of
// them, each route keeps its own targets and its stored cost is its walk's
// (kicks that do not pay are undone), and the stored segments stay right,
// so a tour pass afterwards ends at a local optimum again. A stop at once
// leaves the solution as it was.
TEST(TourPass, KicksImproveLocalOptimaAndUndoWhatDoesNotPay) {
  size_t improved = 0;
  for (int mask : {0, 1, 2, 3}) {
    for (bool symmetric : {true, false}) {
      InstanceKinds kinds = engine_test::KindsFromMask(mask);
      kinds.nodes = 121;
      kinds.agents = 2;
      kinds.types = 1;
      kinds.symmetric = symmetric;
      engine_test::RandomInstance instance = MakeRandomInstance(kinds, 90 + static_cast<unsigned>(mask));
      RouteRules rules(instance.tables);
      rules.SetMinMax(true);
      GranularNeighbours neighbours(rules, kNeighbours);
      LocalSearch search(rules, neighbours);
      Solution solution(rules);
      const PenaltyWeights weights = mask == 0 ? PenaltyWeights{} : PenaltyWeights{true, 3.5, 2.0};
      std::mt19937 shuffle(static_cast<unsigned>(mask) + (symmetric ? 0u : 10u));
      Nodes targets = rules.Targets();
      std::shuffle(targets.begin(), targets.end(), shuffle);
      solution.Clear(weights);
      const size_t half = targets.size() / 2;
      solution.SetTargets(0, targets.data(), half);
      solution.SetTargets(1, targets.data() + half, targets.size() - half);
      for (size_t k = 0; k < 2; ++k) solution.Refresh(k, weights);
      for (size_t k = 0; k < 2; ++k) search.ImproveTour(solution, weights, k, nullptr);
      const Solution optimum = solution;

      Random random(7 + static_cast<uint64_t>(mask));
      EXPECT_EQ(search.KickTours(solution, weights, random, 50, [] { return true; }), 0u);
      for (size_t k = 0; k < 2; ++k) EXPECT_EQ(solution.Route(k).nodes, optimum.Route(k).nodes);

      const size_t kept = search.KickTours(solution, weights, random, 200, nullptr);
      EXPECT_FALSE(Improves(optimum.Value(), solution.Value(), true)) << mask << symmetric;
      if (kept > 0) {
        EXPECT_TRUE(Improves(solution.Value(), optimum.Value(), true)) << mask << symmetric;
        ++improved;
      }
      for (size_t k = 0; k < 2; ++k) {
        EXPECT_EQ(Sorted(solution.Route(k).nodes), Sorted(optimum.Route(k).nodes));
        EXPECT_NEAR(solution.Route(k).cost, rules.ExactCost(k, solution.Route(k).nodes, weights),
                    1e-7 * solution.Route(k).cost);
      }
      search.ImproveTour(solution, weights, 0, nullptr);
      ExpectLocalOptimum(rules, neighbours, solution, weights, true);
    }
  }
  EXPECT_GE(improved, 6u);
}

}  // namespace
}  // namespace tarsel
