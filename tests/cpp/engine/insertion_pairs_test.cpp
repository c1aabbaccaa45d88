#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <vector>

#include "engine/granular_insertion.h"
#include "engine/granular_neighbours.h"
#include "engine/pickup_delivery_instance.h"
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

// Every target in one pair, the kinds in turn ("same", plain, "diff"), the
// nodes of each pair drawn at random.
std::vector<PrecedencePair> PairEveryTarget(const RouteRules& rules, std::mt19937& random) {
  std::vector<size_t> targets = rules.Targets();
  std::shuffle(targets.begin(), targets.end(), random);
  const PairKind kinds[] = {PairKind::kSame, PairKind::kPlain, PairKind::kDiff};
  std::vector<PrecedencePair> pairs;
  for (size_t i = 0; i + 1 < targets.size(); i += 2) {
    pairs.push_back(PrecedencePair{targets[i], targets[i + 1], targets[i], targets[i + 1], kinds[(i / 2) % 3]});
  }
  return pairs;
}

// Pairs the routes of `solution` break.
size_t Broken(const RouteRules& rules, const Solution& solution) {
  std::vector<std::vector<size_t>> routes;
  for (size_t k = 0; k < solution.NumRoutes(); ++k) routes.push_back(solution.Route(k).nodes);
  PairSchedule schedule;
  SchedulePairs(rules, routes, schedule);
  return schedule.violations.size();
}

// Removes about a third of the targets, as the engine's ruin does.
void RemoveSome(Solution& solution, const PenaltyWeights& weights, std::mt19937& random) {
  for (size_t node : solution.Rules().Targets()) {
    if (random() % 3 != 0) continue;
    const size_t k = solution.RouteOf(node);
    solution.Erase(k, solution.PositionOf(node));
    solution.Refresh(k, weights);
  }
}

// Regret and granular insertion, from scratch and as the repair of a
// ruined solution, with and without noise: every target placed and every
// pair kept, where each pair's nodes could go anywhere (no type
// restrictions, no missing arcs; penalties price what the rules reject).
TEST(InsertionPairs, ConstructionsAndRepairsKeepEveryPair) {
  size_t filled = 0;
  unsigned seed = 2100;
  for (InstanceKinds kinds : AllKinds()) {
    if (kinds.restricted || kinds.missing_arcs) continue;
    ++seed;
    kinds.nodes = 16;
    engine_test::RandomInstance instance = MakeRandomInstance(kinds, seed);
    RouteRules rules(instance.tables);
    rules.SetMinMax(seed % 2 == 0);
    std::mt19937 random(seed);
    instance.tables.SetPrecedencePairs(PairEveryTarget(rules, random));
    GranularNeighbours neighbours(rules, 4);
    RegretInsertion regret(rules);
    GranularInsertion granular(rules, neighbours);
    const PenaltyWeights weights{true, 3.0, 2.0, 1.5};
    for (const bool use_regret : {true, false}) {
      for (const double noise : {0.0, 0.3}) {
        Solution solution(rules);
        Random draws(seed);
        solution.Clear(weights);
        const bool made = use_regret ? regret.Fill(solution, weights, draws, noise)
                                     : granular.Fill(solution, weights, draws, noise);
        ASSERT_TRUE(made) << "seed " << seed;
        EXPECT_EQ(solution.Unplaced(), 0u);
        EXPECT_EQ(Broken(rules, solution), 0u) << "seed " << seed << (use_regret ? " regret" : " granular");
        RemoveSome(solution, weights, random);
        ASSERT_TRUE(use_regret ? regret.Fill(solution, weights, draws, noise)
                               : granular.Fill(solution, weights, draws, noise));
        EXPECT_EQ(Broken(rules, solution), 0u) << "seed " << seed << " repair";
        ++filled;
      }
    }
  }
  EXPECT_GT(filled, 40u);
}

// Pickup and delivery with capacities that leave no room to spare: every
// target in a "same" pair, each pair loading 5 and each agent carrying 3
// pairs. Under the hard rules a construction must place every pair on one
// route in order without overloading any: a first node placed where its
// second no longer fits would leave the pair broken.
TEST(InsertionPairs, TightCapacitiesKeepEveryPairUnderHardRules) {
  size_t filled = 0;
  for (unsigned seed = 300; seed < 306; ++seed) {
    engine_test::RandomInstance instance = engine_test::MakeTightPickupDelivery(seed);
    RouteRules rules(instance.tables);
    rules.SetMinMax(seed % 2 == 0);
    GranularNeighbours neighbours(rules, 4);
    RegretInsertion regret(rules);
    GranularInsertion granular(rules, neighbours);
    for (const bool use_regret : {true, false}) {
      for (const double noise : {0.0, 0.3}) {
        Solution solution(rules);
        Random draws(seed);
        solution.Clear(PenaltyWeights{});
        const bool made = use_regret ? regret.Fill(solution, PenaltyWeights{}, draws, noise)
                                     : granular.Fill(solution, PenaltyWeights{}, draws, noise);
        const char* which = use_regret ? " regret" : " granular";
        ASSERT_TRUE(made) << "seed " << seed << which;
        EXPECT_EQ(solution.Unplaced(), 0u);
        EXPECT_TRUE(solution.WithinCapacity()) << "seed " << seed << which;
        EXPECT_EQ(Broken(rules, solution), 0u) << "seed " << seed << which;
        ++filled;
      }
    }
  }
  EXPECT_EQ(filled, 24u);
}

// A pair no place can keep (a "diff" pair when only one agent drives) does
// not stop a construction: the rest are placed anyway.
TEST(InsertionPairs, PlacesEveryTargetWhenNoPlaceKeepsAPair) {
  InstanceKinds kinds;
  kinds.agents = 1;
  kinds.types = 1;
  engine_test::RandomInstance instance = MakeRandomInstance(kinds, 77);
  RouteRules rules(instance.tables);
  const std::vector<size_t>& targets = rules.Targets();
  instance.tables.SetPrecedencePairs({PrecedencePair{targets[0], targets[1], 0, 1, PairKind::kDiff},
                                      PrecedencePair{targets[2], targets[3], 2, 3, PairKind::kSame}});
  GranularNeighbours neighbours(rules, 4);
  RegretInsertion regret(rules);
  GranularInsertion granular(rules, neighbours);
  for (const bool use_regret : {true, false}) {
    Solution solution(rules);
    Random draws(5);
    EXPECT_TRUE(use_regret ? regret.Fill(solution, PenaltyWeights{}, draws, 0.0)
                           : granular.Fill(solution, PenaltyWeights{}, draws, 0.0));
    EXPECT_EQ(solution.Unplaced(), 0u);
    // Only the "diff" pair is broken: the "same" pair still went in order.
    EXPECT_EQ(Broken(rules, solution), 1u);
  }
}

}  // namespace
}  // namespace tarsel
