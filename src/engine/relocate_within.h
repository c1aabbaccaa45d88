#pragma once

#include <cstddef>

#include "engine/route_operator.h"
#include "engine/segment_joiner.h"

namespace tarsel {

struct RelocateWithinMove {
  size_t k = 0;      // the route
  size_t i = 1;      // position of the segment's first target
  size_t count = 1;  // targets in the segment
  size_t after = 0;  // the segment goes right after this node (outside i-1..i+count-1, before the end)
  bool reversed = false;
};

// Relocation of a segment of targets to another place of its own route, in
// its order or reversed (Or-opt for a few targets, Or-3opt for any number).
// A reversed segment is priced from the stored backwards summaries on long
// routes (`RouteSegments::PricesReversal`), node by node otherwise.
class RelocateWithin final : public RouteOperator<RelocateWithinMove> {
 public:
  explicit RelocateWithin(const SegmentJoiner& joiner) : joiner_(joiner) {}

  MoveCosts Evaluate(const Solution& solution, const Move& move, const PenaltyWeights& weights) const override;
  void Apply(Solution& solution, const Move& move) override;

 private:
  const SegmentJoiner& joiner_;
};

}  // namespace tarsel
