#pragma once

#include <cstddef>

#include "engine/route_operator.h"
#include "engine/segment_joiner.h"

namespace tarsel {

struct SwapTargetsMove {
  size_t a = 0;  // route and position of one target
  size_t i = 1;
  size_t b = 0;  // route and position of the other (b != a)
  size_t j = 1;
};

// Exchange of two targets of different routes, each in the other's place.
class SwapTargets final : public RouteOperator<SwapTargetsMove> {
 public:
  explicit SwapTargets(const SegmentJoiner& joiner) : joiner_(joiner) {}

  MoveCosts Evaluate(const Solution& solution, const Move& move, const PenaltyWeights& weights) const override;
  void Apply(Solution& solution, const Move& move) override;

 private:
  const SegmentJoiner& joiner_;
};

}  // namespace tarsel
