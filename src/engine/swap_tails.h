#pragma once

#include <cstddef>
#include <vector>

#include "engine/route_operator.h"
#include "engine/segment_joiner.h"

namespace tarsel {

struct SwapTailsMove {
  size_t a = 0;  // route a keeps nodes 0..i
  size_t i = 0;
  size_t b = 0;  // route b keeps nodes 0..j (b != a)
  size_t j = 0;
};

// 2-opt*: routes a and b exchange the targets after positions i and j;
// each keeps its own end. The handed-over targets are priced for the
// receiving agent's type from the stored per-type tails, so the move is O(1).
class SwapTails final : public RouteOperator<SwapTailsMove> {
 public:
  SwapTails(const SegmentJoiner& joiner, size_t num_nodes) : joiner_(joiner) { tail_.reserve(num_nodes + 2); }

  // Route a keeping nodes 0..i and taking the targets after position j of
  // route b, then a's own end (the move seen from a).
  double HalfCost(const Solution& solution, size_t a, size_t i, size_t b, size_t j,
                  const PenaltyWeights& weights) const;

  // Both costs are kInfeasible when the move changes nothing or an agent
  // may not serve the tail it receives.
  MoveCosts Evaluate(const Solution& solution, const Move& move, const PenaltyWeights& weights) const override;
  void Apply(Solution& solution, const Move& move) override;

 private:
  const SegmentJoiner& joiner_;
  std::vector<size_t> tail_;  // a's targets after i while the tails change places
};

}  // namespace tarsel
