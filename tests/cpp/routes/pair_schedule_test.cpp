#include <gtest/gtest.h>

#include <cmath>
#include <random>
#include <vector>

#include "common/test_tables.h"
#include "routes/pair_line_tables.h"
#include "engine/random_instance.h"
#include "routes/pair_schedule.h"

namespace tarsel {
namespace {

using pair_test::LineTables;
using pair_test::Pair;

PairSchedule Schedule(const InstanceTables& tables, const std::vector<std::vector<size_t>>& routes) {
  const RouteCosts rules(tables);
  PairSchedule schedule;
  SchedulePairs(rules, routes, schedule);
  return schedule;
}

// A plain or "diff" pair across routes makes the agent of `after` wait for
// the service of `before`, and the wait is part of its route's cost: agent
// 2 reaches node 2 at 4 but starts it at 10, when agent 1 serves node 1,
// and is back at 14 instead of 8.
TEST(PairSchedule, TheAfterNodeWaitsForItsPartnerOnAnotherRoute) {
  for (const PairKind kind : {PairKind::kPlain, PairKind::kDiff}) {
    const InstanceTables tables = LineTables({Pair(1, 2, kind)});
    const PairSchedule schedule = Schedule(tables, {{0, 1, 0}, {0, 2, 0}});
    EXPECT_TRUE(schedule.Feasible());
    EXPECT_EQ(schedule.arrivals[1], (std::vector<double>{0, 4, 14}));
    EXPECT_EQ(schedule.starts[1], (std::vector<double>{0, 10, 14}));
    EXPECT_EQ(schedule.Cost(0), 20);
    EXPECT_EQ(schedule.Cost(1), 14);
  }
  // Already later: no wait.
  const InstanceTables tables = LineTables({Pair(2, 1, PairKind::kPlain)});
  const PairSchedule schedule = Schedule(tables, {{0, 1, 0}, {0, 2, 0}});
  EXPECT_TRUE(schedule.Feasible());
  EXPECT_EQ(schedule.Cost(0), 20);
  EXPECT_EQ(schedule.Cost(1), 8);
}

// A wait passes on down the route: the nodes after the waiting one start
// later too, and a window they then miss makes the route infeasible, with
// the lateness counted as time warp for the penalised cost.
TEST(PairSchedule, AWaitDelaysTheRestOfTheRouteAndCanMissAWindow) {
  TimeWindowTable windows;
  windows[3] = {0, 11};
  const InstanceTables tables = LineTables({Pair(1, 2, PairKind::kPlain)}, windows);
  const PairSchedule schedule = Schedule(tables, {{0, 1, 0}, {0, 2, 3, 0}});
  EXPECT_FALSE(schedule.Feasible());
  EXPECT_TRUE(schedule.violations.empty());
  EXPECT_FALSE(schedule.walks[1].feasible);
  EXPECT_EQ(schedule.walks[1].warp, 1);  // node 3 reached at 12, its window ends at 11
  EXPECT_EQ(schedule.Cost(1), RouteCosts::kInfeasible);
  EXPECT_EQ(schedule.Cost(1, PenaltyWeights{true, 5, 1}), 18 + 5 * 1);
  // Without the pair the same route keeps its window.
  const PairSchedule free = Schedule(LineTables({}, windows), {{0, 1, 0}, {0, 2, 3, 0}});
  EXPECT_TRUE(free.Feasible());
  EXPECT_EQ(free.Cost(1), 12);
}

// Each stop's arrival, start and load: node 2 (at 4) opens at 7, so the
// agent arrives at 4 and starts at 7; node 1 is reached at 13 and the
// depot at 23, the route's cost. Loads add up the demands served so far.
TEST(PairSchedule, ArrivalsStartsAndLoadsOfEachStop) {
  TimeWindowTable windows;
  windows[2] = {7, 20};
  InstanceTables tables = LineTables({}, windows);
  tables.SetDemands({0, 3, 2, 0, 0, 0});
  const PairSchedule schedule = Schedule(tables, {{0, 2, 1, 0}, {0, 0}});
  EXPECT_TRUE(schedule.Feasible());
  EXPECT_EQ(schedule.arrivals[0], (std::vector<double>{0, 4, 13, 23}));
  EXPECT_EQ(schedule.starts[0], (std::vector<double>{0, 7, 13, 23}));
  EXPECT_EQ(schedule.loads[0], (std::vector<double>{0, 2, 5, 5}));
  EXPECT_EQ(schedule.Cost(0), 23);
  EXPECT_EQ(schedule.starts[1], (std::vector<double>{0, 0}));
  EXPECT_EQ(schedule.loads[1], (std::vector<double>{0, 0}));
}

// The ways a solution breaks a pair, each named with its pair.
TEST(PairSchedule, ReportsEachBrokenPair) {
  const InstanceTables tables = LineTables({Pair(1, 2, PairKind::kSame), Pair(3, 4, PairKind::kSame),
                                            Pair(5, 3, PairKind::kPlain), Pair(1, 5, PairKind::kDiff),
                                            Pair(2, 1, PairKind::kPlain)});
  // Route 1: 1, 3, 5, 4; route 2: 2.
  const PairSchedule schedule = Schedule(tables, {{0, 1, 3, 5, 4, 0}, {0, 2, 0}});
  ASSERT_EQ(schedule.violations.size(), 3u);
  EXPECT_EQ(schedule.violations[0].pair, 0u);
  EXPECT_EQ(schedule.violations[0].what, PairBreak::kSplit);
  EXPECT_EQ(schedule.violations[1].pair, 2u);
  EXPECT_EQ(schedule.violations[1].what, PairBreak::kOutOfOrder);
  EXPECT_EQ(schedule.violations[2].pair, 3u);
  EXPECT_EQ(schedule.violations[2].what, PairBreak::kJoined);
  EXPECT_FALSE(schedule.Feasible());
  // A "same" pair out of order on one route, and a node on no route.
  const PairSchedule reversed = Schedule(LineTables({Pair(1, 2, PairKind::kSame)}), {{0, 2, 1, 0}, {0, 0}});
  ASSERT_EQ(reversed.violations.size(), 1u);
  EXPECT_EQ(reversed.violations[0].what, PairBreak::kOutOfOrder);
  const PairSchedule missing = Schedule(LineTables({Pair(1, 2, PairKind::kPlain)}), {{0, 1, 0}, {0, 0}});
  ASSERT_EQ(missing.violations.size(), 1u);
  EXPECT_EQ(missing.violations[0].what, PairBreak::kUnserved);
}

// Route 1 serves 1 then 3, route 2 serves 2 then 4; 3 before 2 and 4
// before 1 make each route wait for the other: no schedule exists. A
// route outside the cycle keeps its cost.
TEST(PairSchedule, RoutesWaitingForEachOtherInACycleAreInfeasible) {
  InstanceTables tables = LineTables({Pair(3, 2, PairKind::kPlain), Pair(4, 1, PairKind::kPlain)});
  tables.SetAgents({AgentInfo{1, 0, 0, 0}, AgentInfo{2, 0, 0, 0}, AgentInfo{3, 0, 0, 0}});
  tables.SetStarts({0, 0, 0});
  tables.SetGoals({0, 0, 0});
  const PairSchedule schedule = Schedule(tables, {{0, 1, 3, 0}, {0, 2, 4, 0}, {0, 5, 0}});
  EXPECT_TRUE(schedule.cyclic);
  EXPECT_TRUE(schedule.violations.empty());
  EXPECT_FALSE(schedule.Feasible());
  EXPECT_EQ(schedule.Cost(0, PenaltyWeights{true, 1, 1}), RouteCosts::kInfeasible);
  EXPECT_EQ(schedule.Cost(1), RouteCosts::kInfeasible);
  EXPECT_EQ(schedule.Cost(2), 16);
  // 3 before 4 alone leaves an order: 4, reached at 6, waits for 3 at 14.
  const PairSchedule open = Schedule(LineTables({Pair(3, 4, PairKind::kPlain)}), {{0, 1, 3, 0}, {0, 2, 4, 0}});
  EXPECT_FALSE(open.cyclic);
  EXPECT_TRUE(open.Feasible());
  EXPECT_EQ(open.starts[1], (std::vector<double>{0, 4, 14, 16}));
}

// Without pairs the schedule is the route walk, route by route, on random
// instances of every constraint kind.
TEST(PairSchedule, WithoutPairsEveryRouteCostsItsWalk) {
  std::mt19937 random(7);
  unsigned seed = 300;
  for (const engine_test::InstanceKinds& kinds : engine_test::AllKinds()) {
    engine_test::RandomInstance instance = engine_test::MakeRandomInstance(kinds, ++seed);
    const RouteCosts costs(instance.tables);
    std::vector<size_t> targets;
    for (size_t v = 0; v < costs.NumNodes(); ++v) {
      if (!instance.tables.IsStart(v) && !instance.tables.IsGoal(v)) targets.push_back(v);
    }
    std::shuffle(targets.begin(), targets.end(), random);
    std::vector<std::vector<size_t>> routes(costs.NumAgents());
    for (size_t k = 0; k < routes.size(); ++k) routes[k].push_back(costs.Agent(k).start);
    for (const size_t target : targets) routes[random() % routes.size()].push_back(target);
    for (size_t k = 0; k < routes.size(); ++k) routes[k].push_back(costs.Agent(k).goal);
    PairSchedule schedule;
    SchedulePairs(costs, routes, schedule);
    for (size_t k = 0; k < routes.size(); ++k) {
      const RouteWalk walk = costs.Walk(k, routes[k]);
      EXPECT_EQ(schedule.walks[k].duration, walk.duration);
      EXPECT_EQ(schedule.walks[k].warp, walk.warp);
      EXPECT_EQ(schedule.walks[k].feasible, walk.feasible);
      // The stops' times are the walk's: each arrival is the previous start
      // plus the arc; on time, service starts no earlier and the last start
      // is the route's duration; the last load is the route's.
      const std::vector<size_t>& route = routes[k];
      for (size_t i = 1; i < route.size(); ++i) {
        bool blocked = false;
        EXPECT_EQ(schedule.arrivals[k][i],
                  schedule.starts[k][i - 1] + costs.Travel(k, route[i - 1], route[i], blocked));
        if (walk.warp == 0) {
          EXPECT_GE(schedule.starts[k][i], schedule.arrivals[k][i]);
        }
      }
      if (walk.warp == 0) {
        EXPECT_EQ(schedule.starts[k].back(), walk.duration);
      }
      EXPECT_EQ(schedule.loads[k].back(), walk.load);
    }
  }
}

}  // namespace
}  // namespace tarsel
