#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <vector>

#include "engine/route_rules.h"
#include "engine/solution.h"
#include "engine/random_instance.h"
#include "postopt/route_evaluator.h"

namespace tarsel {
namespace {

using engine_test::AllKinds;
using engine_test::InstanceKinds;
using engine_test::MakeRandomInstance;

// The oracle: the post-optimisers' route evaluation, plus the missing-arc
// rule it leaves to the search. Returns +inf for a route it rejects.
double OracleCost(const InstanceTables& tables, const RouteEvaluator& evaluator,
                  const std::vector<size_t>& route, size_t k) {
  const RouteEvaluation evaluation = evaluator.EvaluateRoute(route, k);
  if (!evaluation.valid) return RouteRules::kInfeasible;
  const size_t type = static_cast<size_t>(tables.Agents()[k].type);
  for (size_t i = 1; i < route.size(); ++i) {
    const size_t to = route[i];
    const bool free = to == route[i - 1] ||
                      (!tables.ReturnToEnd() && (to == tables.Starts()[k] || to == tables.Goals()[k]));
    if (!free && tables.Cost(type, route[i - 1], to) >= kNoConnection) return RouteRules::kInfeasible;
  }
  return evaluation.cost;
}

// Cost of `route` for agent k as prefix + middle + suffix segments, split at
// random places of a route the segments were built for.
void ExpectSegmentsMatch(const InstanceTables& tables, const RouteRules& rules,
                         const RouteEvaluator& evaluator, const std::vector<size_t>& route, size_t k,
                         std::mt19937& random) {
  const double expected = OracleCost(tables, evaluator, route, k);
  // Whole route from the clock, one node at a time.
  Segment whole = rules.StartSeg(k);
  for (size_t i = 1; i < route.size(); ++i) {
    whole = rules.Join(k, whole, route[i - 1], route[i], rules.NodeSeg(route[i]));
  }
  // The same route from three segments joined in a random order of joins.
  const size_t len = route.size();
  const size_t cut1 = 1 + random() % (len - 1);
  const size_t cut2 = cut1 + random() % (len - cut1);
  auto segment_of = [&](size_t from, size_t to) {  // nodes[from..to), from >= 1
    Segment s = rules.NodeSeg(route[from]);
    for (size_t i = from + 1; i < to; ++i) s = rules.Join(k, s, route[i - 1], route[i],
                                                          rules.NodeSeg(route[i]));
    return s;
  };
  Segment head = rules.StartSeg(k);
  for (size_t i = 1; i < cut1; ++i) head = rules.Join(k, head, route[i - 1], route[i], rules.NodeSeg(route[i]));
  Segment tail = segment_of(cut2, len);
  Segment joined;
  if (cut2 > cut1) {
    const Segment middle = segment_of(cut1, cut2);
    const Segment right = rules.Join(k, middle, route[cut2 - 1], route[cut2], tail);
    joined = rules.Join(k, head, route[cut1 - 1], route[cut1], right);
  } else {
    joined = rules.Join(k, head, route[cut1 - 1], route[cut1], tail);
  }
  bool allowed = true;
  for (size_t i = 1; i + 1 < len; ++i) allowed = allowed && rules.CanServe(k, route[i]);
  for (const Segment& segment : {whole, joined}) {
    const double cost = allowed ? rules.Cost(k, segment, PenaltyWeights{}) : RouteRules::kInfeasible;
    if (expected == RouteRules::kInfeasible) {
      EXPECT_EQ(cost, RouteRules::kInfeasible);
    } else {
      EXPECT_NEAR(cost, expected, 1e-7 * std::max(1.0, expected));
    }
  }
  const double exact = allowed ? rules.ExactCost(k, route, PenaltyWeights{}) : RouteRules::kInfeasible;
  EXPECT_EQ(exact, expected);
}

TEST(SegmentEvaluation, AgreesWithTheRouteEvaluatorOnRandomRoutesAndMoves) {
  size_t feasible = 0;
  size_t infeasible = 0;
  unsigned seed = 1;
  for (const InstanceKinds& kinds : AllKinds()) {
    for (int repeat = 0; repeat < 3; ++repeat, ++seed) {
      engine_test::RandomInstance instance = MakeRandomInstance(kinds, seed);
      const InstanceTables& tables = instance.tables;
      RouteRules rules(tables);
      RouteEvaluator evaluator;
      evaluator.Attach(tables);
      std::mt19937 random(seed);
      Solution solution(rules);
      for (int trial = 0; trial < 20; ++trial) {
        // A random route of random targets for a random agent.
        const size_t k = random() % rules.NumAgents();
        std::vector<size_t> targets = rules.Targets();
        std::shuffle(targets.begin(), targets.end(), random);
        targets.resize(random() % (targets.size() + 1));
        // Mostly targets the agent may serve, so that the other rules decide.
        if (random() % 5 != 0) {
          targets.erase(std::remove_if(targets.begin(), targets.end(),
                                       [&](size_t v) { return !rules.CanServe(k, v); }),
                        targets.end());
        }
        std::vector<size_t> route{rules.Agent(k).start};
        route.insert(route.end(), targets.begin(), targets.end());
        route.push_back(rules.Agent(k).goal);
        ExpectSegmentsMatch(tables, rules, evaluator, route, k, random);
        (OracleCost(tables, evaluator, route, k) < RouteRules::kInfeasible ? feasible : infeasible) += 1;

        // Removing and inserting through the stored prefix and suffix
        // segments of a route agree with the oracle on the new route.
        const bool servable = std::all_of(targets.begin(), targets.end(),
                                          [&](size_t v) { return rules.CanServe(k, v); });
        if (!servable) continue;
        solution.Clear(PenaltyWeights{});
        solution.SetTargets(k, targets.data(), targets.size());
        solution.Refresh(k, PenaltyWeights{});
        const EngineRoute& stored = solution.Route(k);
        EXPECT_EQ(stored.cost, OracleCost(tables, evaluator, stored.nodes, k));
        if (targets.empty()) continue;
        const size_t len = stored.nodes.size();
        const size_t i = 1 + random() % (len - 2);
        // Remove the node at i.
        std::vector<size_t> removed = stored.nodes;
        removed.erase(removed.begin() + static_cast<std::ptrdiff_t>(i));
        const Segment without = rules.Join(k, stored.prefix[i - 1], stored.nodes[i - 1],
                                           stored.nodes[i + 1], stored.suffix[i + 1]);
        const double oracle_removed = OracleCost(tables, evaluator, removed, k);
        const double removed_cost = rules.Cost(k, without, PenaltyWeights{});
        if (oracle_removed == RouteRules::kInfeasible) {
          EXPECT_EQ(removed_cost, RouteRules::kInfeasible);
        } else {
          EXPECT_NEAR(removed_cost, oracle_removed, 1e-7 * std::max(1.0, oracle_removed));
        }
        // Insert an outside target (or the removed one) before position p.
        const size_t node = stored.nodes[i];
        const size_t p = 1 + random() % (removed.size() - 1);
        std::vector<size_t> inserted = removed;
        inserted.insert(inserted.begin() + static_cast<std::ptrdiff_t>(p), node);
        solution.SetTargets(k, removed.data() + 1, removed.size() - 2);
        solution.Refresh(k, PenaltyWeights{});
        const EngineRoute& base = solution.Route(k);
        const Segment head = rules.Join(k, base.prefix[p - 1], base.nodes[p - 1], node, rules.NodeSeg(node));
        const Segment with = rules.Join(k, head, node, base.nodes[p], base.suffix[p]);
        const double oracle_inserted = OracleCost(tables, evaluator, inserted, k);
        const double inserted_cost = rules.CanServe(k, node) ? rules.Cost(k, with, PenaltyWeights{}) : RouteRules::kInfeasible;
        if (oracle_inserted == RouteRules::kInfeasible) {
          EXPECT_EQ(inserted_cost, RouteRules::kInfeasible);
        } else {
          EXPECT_NEAR(inserted_cost, oracle_inserted, 1e-7 * std::max(1.0, oracle_inserted));
        }
        // A segment of the route re-priced for another agent's matrix.
        const size_t other = random() % rules.NumAgents();
        if (base.nodes.size() > 3 && rules.Agent(other).start == rules.Agent(k).start &&
            rules.Agent(other).goal == rules.Agent(k).goal) {
          const size_t last = base.nodes.size() - 2;
          const Segment middle = solution.SegmentFor(k, 1, last, other);
          const Segment start = rules.StartSeg(other);
          const Segment front = rules.Join(other, start, base.nodes[0], base.nodes[1], middle);
          const Segment full = rules.Join(other, front, base.nodes[last], base.nodes[last + 1],
                                          rules.NodeSeg(base.nodes[last + 1]));
          bool allowed = true;
          for (size_t q = 1; q <= last; ++q) allowed = allowed && rules.CanServe(other, base.nodes[q]);
          const double oracle_other = OracleCost(tables, evaluator, base.nodes, other);
          const double other_cost = allowed ? rules.Cost(other, full,
                                                         PenaltyWeights{}) : RouteRules::kInfeasible;
          if (oracle_other == RouteRules::kInfeasible) {
            EXPECT_EQ(other_cost, RouteRules::kInfeasible);
          } else {
            EXPECT_NEAR(other_cost, oracle_other, 1e-7 * std::max(1.0, oracle_other));
          }
        }
      }
    }
  }
  // The random routes exercise both answers.
  EXPECT_GT(feasible, 200u);
  EXPECT_GT(infeasible, 200u);
}

}  // namespace
}  // namespace tarsel
