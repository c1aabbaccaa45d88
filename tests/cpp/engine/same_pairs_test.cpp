#include <gtest/gtest.h>

#include <random>
#include <vector>

#include "engine/bounded_settings.h"
#include "engine/granular_neighbours.h"
#include "engine/improvement_engine.h"
#include "engine/pickup_delivery_instance.h"
#include "engine/random.h"
#include "engine/regret_insertion.h"
#include "engine/related_ruin.h"
#include "engine/route_rules.h"
#include "engine/same_pairs.h"
#include "engine/solution.h"
#include "routes/pair_schedule.h"

namespace tarsel {
namespace {

using engine_test::Bounded;
using engine_test::MakeTightPickupDelivery;

// Whether each "same" pair of the instance has both nodes placed or neither.
bool PairsWholeOrGone(const InstanceTables& tables, const Solution& solution) {
  for (const PrecedencePair& pair : tables.PrecedencePairs()) {
    if ((solution.RouteOf(pair.before) == kNoIndex) != (solution.RouteOf(pair.after) == kNoIndex)) return false;
  }
  return true;
}

// Erasing a node's partners takes exactly the other node of its "same"
// pairs off its route (and nothing when it is unplaced or plain).
TEST(SamePairs, ErasesThePartnerOfAPairAndNothingElse) {
  engine_test::RandomInstance instance = MakeTightPickupDelivery(17, 2, 2);
  std::vector<PrecedencePair> pairs = instance.tables.PrecedencePairs();
  pairs.back().kind = PairKind::kPlain;
  instance.tables.SetPrecedencePairs(pairs);
  RouteRules rules(instance.tables);
  RegretInsertion regret(rules);
  Solution solution(rules);
  Random draws(3);
  ASSERT_TRUE(regret.Fill(solution, PenaltyWeights{}, draws, 0.0));
  SamePairs same(rules);
  const PrecedencePair& first = pairs.front();
  EXPECT_EQ(same.ErasePartners(solution, first.before, PenaltyWeights{}), 1u);
  EXPECT_EQ(solution.RouteOf(first.after), kNoIndex);
  EXPECT_NE(solution.RouteOf(first.before), kNoIndex);  // the caller removes the node itself
  EXPECT_EQ(solution.Unplaced(), 1u);
  EXPECT_EQ(same.ErasePartners(solution, first.before, PenaltyWeights{}), 0u);  // already gone
  EXPECT_EQ(same.ErasePartners(solution, pairs.back().before, PenaltyWeights{}), 0u);  // plain pair
  EXPECT_EQ(solution.Unplaced(), 1u);
}

// The ruin of large instances removes "same" pairs whole: after it every
// pair has both nodes placed or neither, so the repair can move it.
TEST(SamePairs, RelatedRuinRemovesPairsWhole) {
  size_t ruined = 0;
  for (unsigned seed = 40; seed < 46; ++seed) {
    engine_test::RandomInstance instance = MakeTightPickupDelivery(seed, 6, 5);
    RouteRules rules(instance.tables);
    GranularNeighbours neighbours(rules, 6);
    RegretInsertion regret(rules);
    RelatedRuin ruin(rules, neighbours);
    Solution solution(rules);
    Random draws(seed);
    ASSERT_TRUE(regret.Fill(solution, PenaltyWeights{}, draws, 0.0));
    const size_t removed = ruin.Apply(solution, PenaltyWeights{}, draws);
    EXPECT_EQ(removed, solution.Unplaced());
    EXPECT_GT(removed, 0u);
    EXPECT_EQ(removed % 2, 0u);
    EXPECT_TRUE(PairsWholeOrGone(instance.tables, solution)) << "seed " << seed;
    // The repair puts them back whole, within the capacities.
    ASSERT_TRUE(regret.Fill(solution, PenaltyWeights{}, draws, 0.2));
    EXPECT_TRUE(solution.Feasible());
    ++ruined;
  }
  EXPECT_EQ(ruined, 6u);
}

// On pickup and delivery with no capacity to spare, the engine's first
// construction is already a solution it reports: every pair on one route
// in order, no route over its capacity.
TEST(SamePairs, EngineReportsItsFirstConstructionOnTightPickupAndDelivery) {
  for (unsigned seed = 60; seed < 64; ++seed) {
    engine_test::RandomInstance instance = MakeTightPickupDelivery(seed, 6, 5);
    const EngineSettings settings = Bounded(seed % 2 == 0, seed, 1);
    const EngineOutcome outcome = RunImprovementEngine(instance.tables, nullptr, settings);
    ASSERT_TRUE(outcome.improved) << "seed " << seed;
    RouteRules rules(instance.tables);
    std::vector<std::vector<size_t>> routes;
    for (size_t k = 0; k < rules.NumAgents(); ++k) {
      const std::vector<uint64_t>& path = outcome.result.paths.at(k);
      routes.emplace_back(path.begin(), path.end());
      EXPECT_TRUE(rules.Walk(k, routes.back()).feasible) << "seed " << seed << " route " << k;
    }
    PairSchedule schedule;
    SchedulePairs(rules, routes, schedule);
    EXPECT_TRUE(schedule.violations.empty()) << "seed " << seed;
  }
}

}  // namespace
}  // namespace tarsel
