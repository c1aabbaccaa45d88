#include "engine/schedule_pricing.h"

#include <algorithm>

namespace tarsel {

SchedulePricing::SchedulePricing(const RouteRules& rules) : rules_(rules) {
  const std::vector<PrecedencePair>& pairs = rules.Tables().PrecedencePairs();
  active_ = std::any_of(pairs.begin(), pairs.end(),
                        [](const PrecedencePair& pair) { return pair.kind != PairKind::kSame; });
}

void SchedulePricing::Apply(Solution& solution, const PenaltyWeights& weights) {
  const size_t m = solution.NumRoutes();
  routes_.resize(m);
  for (size_t k = 0; k < m; ++k) routes_[k] = solution.Route(k).nodes;
  SchedulePairs(rules_, routes_, schedule_);
  for (size_t k = 0; k < m; ++k) solution.SetWalk(k, schedule_.walks[k], weights);
}

}  // namespace tarsel
