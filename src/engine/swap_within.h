#pragma once

#include <cstddef>

#include "engine/route_operator.h"
#include "engine/segment_joiner.h"

namespace tarsel {

struct SwapWithinMove {
  size_t k = 0;  // the route
  size_t i = 1;  // positions of the two targets, i < j
  size_t j = 2;
};

// Exchange of two targets of one route.
class SwapWithin final : public RouteOperator<SwapWithinMove> {
 public:
  explicit SwapWithin(const SegmentJoiner& joiner) : joiner_(joiner) {}

  MoveCosts Evaluate(const Solution& solution, const Move& move, const PenaltyWeights& weights) const override;
  void Apply(Solution& solution, const Move& move) override;

 private:
  const SegmentJoiner& joiner_;
};

}  // namespace tarsel
