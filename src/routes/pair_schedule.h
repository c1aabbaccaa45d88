#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "routes/route_costs.h"

namespace tarsel {

// How a solution breaks a precedence pair.
enum class PairBreak : uint8_t {
  kUnserved,    // a node of the pair is on no route
  kSplit,       // "same": the nodes are on two routes
  kOutOfOrder,  // "same" or plain on one route: `after` comes first
  kJoined,      // "diff": both nodes on one route
};

struct PairViolation {
  size_t pair = 0;  // index into the tables' precedence pairs
  PairBreak what = PairBreak::kUnserved;
};

// The timing of a whole solution under its precedence pairs. Each route is
// walked as RouteCosts walks it, except that the service of the `after`
// node of a plain or "diff" pair whose nodes are on two routes starts no
// earlier than the service of its `before` node: its agent waits, and the
// wait counts in the route's duration as waiting for a window does. Start
// times are settled in an order where every node comes after its
// predecessor on its route and after the `before` partners it waits for;
// when no such order exists (routes waiting for each other in a cycle) the
// solution is infeasible and `cyclic` is set. Without pairs each route is
// just its own walk, so this is the timetable of any solution, the one its
// route costs come from.
struct PairSchedule {
  // Per route, per position: the arrival (the clock on reaching the node,
  // before any waiting), the start of service (after waiting) and the
  // demand served up to and including that position.
  std::vector<std::vector<double>> arrivals;
  std::vector<std::vector<double>> starts;
  std::vector<std::vector<double>> loads;
  // Per route: its walk with the cross-route waits; a route on a waiting
  // cycle is `blocked`, which no penalty weight prices.
  std::vector<RouteWalk> walks;
  std::vector<PairViolation> violations;
  bool cyclic = false;

  // Every pair kept, no waiting cycle, every route within its rules.
  bool Feasible() const;
  // Cost of route k under `weights` (RouteCosts::CostOf of its walk).
  double Cost(size_t k, const PenaltyWeights& weights = PenaltyWeights{}) const {
    return RouteCosts::CostOf(walks[k], weights);
  }
};

// The schedule of `routes` (routes[k]: agent k's nodes from its start to
// its end; an empty route is an idle agent, costing 0) under the
// precedence pairs of the tables `rules` read. Reuses the buffers of
// `schedule`.
void SchedulePairs(const RouteCosts& rules, const std::vector<std::vector<size_t>>& routes,
                   PairSchedule& schedule);

}  // namespace tarsel
