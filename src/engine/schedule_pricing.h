#pragma once

#include <cstddef>
#include <vector>

#include "engine/route_rules.h"
#include "engine/solution.h"
#include "routes/pair_schedule.h"

namespace tarsel {

// The price of a whole solution under plain and "diff" precedence pairs,
// whose nodes on two routes make the agent of `after` wait for the service
// of `before`: every route's walk and cost taken from the solution's
// schedule (`SchedulePairs`), waits included, instead of from the route
// walked alone. Routes waiting for each other in a cycle are blocked, so
// the solution is no longer complete. "same" pairs keep both nodes on one
// route and cause no wait: with none but those, there is nothing to price.
class SchedulePricing {
 public:
  explicit SchedulePricing(const RouteRules& rules);

  // Whether the tables carry a plain or "diff" pair.
  bool Active() const { return active_; }
  // Replaces the walks and costs of `solution`'s routes by the schedule's
  // under `weights` (the route nodes and segments stay).
  void Apply(Solution& solution, const PenaltyWeights& weights);

 private:
  const RouteRules& rules_;
  bool active_ = false;
  std::vector<std::vector<size_t>> routes_;
  PairSchedule schedule_;
};

}  // namespace tarsel
