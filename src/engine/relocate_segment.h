#pragma once

#include <cstddef>

#include "engine/route_operator.h"
#include "engine/segment_joiner.h"

namespace tarsel {

struct RelocateSegmentMove {
  size_t a = 0;       // route giving the segment
  size_t i = 0;       // position of its first target
  size_t count = 1;   // targets in the segment
  size_t b = 0;       // receiving route (b != a)
  size_t at = 1;      // the segment goes before this position of b
  bool reversed = false;
};

// Relocation of a segment of targets from route a into route b, in its
// order or reversed. The local search prices the removal once per segment
// (`Removed`) and each place in b (`Inserted`); `Evaluate` is both.
class RelocateSegment final : public RouteOperator<RelocateSegmentMove> {
 public:
  explicit RelocateSegment(const SegmentJoiner& joiner) : joiner_(joiner) {}

  double Removed(const Solution& solution, size_t a, size_t i, size_t count, const PenaltyWeights& weights) const {
    return joiner_.Without(solution, a, i, count, weights);
  }
  double Inserted(const Solution& solution, const Move& move, const PenaltyWeights& weights) const;

  MoveCosts Evaluate(const Solution& solution, const Move& move, const PenaltyWeights& weights) const override;
  void Apply(Solution& solution, const Move& move) override;

 private:
  const SegmentJoiner& joiner_;
};

}  // namespace tarsel
