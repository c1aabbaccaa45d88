#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <random>
#include <vector>

#include "common/test_tables.h"
#include "routes/pair_line_tables.h"
#include "routes/pair_repair.h"

namespace tarsel {
namespace {

using pair_test::LineTables;
using pair_test::Pair;

using Routes = std::vector<std::vector<size_t>>;

bool Repair(const std::vector<PrecedencePair>& pairs, Routes& routes, PairSchedule& schedule) {
  const InstanceTables tables = LineTables(pairs);
  const RouteCosts rules(tables);
  return RepairPairs(rules, routes, schedule);
}

// Each kind of break is mended by one move, to the cheapest place that
// keeps the pair.
TEST(PairRepair, MendsEachKindOfBreak) {
  PairSchedule schedule;
  Routes split = {{0, 1, 0}, {0, 2, 0}};
  ASSERT_TRUE(Repair({Pair(1, 2, PairKind::kSame)}, split, schedule));
  EXPECT_EQ(split, (Routes{{0, 1, 2, 0}, {0, 0}}));
  EXPECT_TRUE(schedule.Feasible());

  Routes reversed = {{0, 2, 5, 1, 0}, {0, 3, 0}};
  ASSERT_TRUE(Repair({Pair(1, 2, PairKind::kPlain)}, reversed, schedule));
  EXPECT_EQ(reversed, (Routes{{0, 5, 1, 2, 0}, {0, 3, 0}}));

  Routes joined = {{0, 4, 2, 0}, {0, 1, 0}};
  ASSERT_TRUE(Repair({Pair(4, 2, PairKind::kDiff)}, joined, schedule));
  EXPECT_EQ(joined, (Routes{{0, 4, 0}, {0, 2, 1, 0}}));
  EXPECT_EQ(schedule.Cost(1), 20);  // 2 reached at 4, no earlier than 4's service at 2
}

// A waiting cycle is no break a single move mends here: refused, and the
// schedule says why.
TEST(PairRepair, RefusesAWaitingCycle) {
  PairSchedule schedule;
  Routes routes = {{0, 1, 3, 0}, {0, 2, 4, 0}};
  EXPECT_FALSE(Repair({Pair(3, 2, PairKind::kPlain), Pair(4, 1, PairKind::kPlain)}, routes, schedule));
  EXPECT_TRUE(schedule.cyclic);
}

// On random routes and random pairs without a cycle among them, a repair
// that reports success leaves every pair kept and every target served
// exactly once, on a route that starts and ends at its depot.
TEST(PairRepair, ASuccessfulRepairKeepsEveryPairAndEveryTarget) {
  std::mt19937 random(17);
  const PairKind kinds[] = {PairKind::kPlain, PairKind::kSame, PairKind::kDiff};
  size_t mended = 0;
  for (int trial = 0; trial < 300; ++trial) {
    std::vector<size_t> order = {1, 2, 3, 4, 5};
    std::shuffle(order.begin(), order.end(), random);
    // Pairs point forward in a random order of the targets: no cycle.
    std::vector<PrecedencePair> pairs;
    const size_t count = 1 + random() % 3;
    for (size_t p = 0; p < count; ++p) {
      const size_t i = random() % 4;
      const size_t j = i + 1 + random() % (4 - i);
      pairs.push_back(Pair(order[i], order[j], kinds[random() % 3]));
    }
    std::shuffle(order.begin(), order.end(), random);
    Routes routes = {{0}, {0}};
    for (const size_t target : order) routes[random() % 2].push_back(target);
    for (auto& route : routes) route.push_back(0);
    PairSchedule schedule;
    if (!Repair(pairs, routes, schedule)) continue;
    ++mended;
    EXPECT_TRUE(schedule.violations.empty());
    EXPECT_FALSE(schedule.cyclic);
    std::vector<size_t> served;
    for (const auto& route : routes) {
      ASSERT_GE(route.size(), 2u);
      EXPECT_EQ(route.front(), 0u);
      EXPECT_EQ(route.back(), 0u);
      served.insert(served.end(), route.begin() + 1, route.end() - 1);
    }
    std::sort(served.begin(), served.end());
    EXPECT_EQ(served, (std::vector<size_t>{1, 2, 3, 4, 5}));
  }
  EXPECT_GT(mended, 200u);
}

}  // namespace
}  // namespace tarsel
