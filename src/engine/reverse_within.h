#pragma once

#include <cstddef>
#include <vector>

#include "engine/route_operator.h"
#include "engine/segment_joiner.h"

namespace tarsel {

struct ReverseWithinMove {
  size_t k = 0;      // the route
  size_t first = 0;  // nodes first+1..last are reversed
  size_t last = 2;
};

// 2-opt within a route: the nodes first+1..last reversed, which joins the
// node at `first` to the one at `last`. O(1) when the agent's matrix is
// symmetric and no target has a window (the reversed segment keeps its
// summary) or the route is long enough for its reversed segments to be
// stored (`RouteSegments::PricesReversal`); otherwise the new route is
// walked in full.
class ReverseWithin final : public RouteOperator<ReverseWithinMove> {
 public:
  ReverseWithin(const SegmentJoiner& joiner, size_t num_nodes);

  MoveCosts Evaluate(const Solution& solution, const Move& move, const PenaltyWeights& weights) const override;
  void Apply(Solution& solution, const Move& move) override;

 private:
  const SegmentJoiner& joiner_;
  mutable std::vector<size_t> scratch_;  // the new route when it is walked in full
};

}  // namespace tarsel
