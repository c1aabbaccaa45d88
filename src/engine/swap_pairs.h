#pragma once

#include <cstddef>

#include "engine/relocate_pair.h"
#include "engine/route_operator.h"
#include "engine/segment_joiner.h"

namespace tarsel {

// Two pickup-and-delivery pairs of two routes exchanged: route a's pair
// (positions i < j) goes into route b before places p <= q of route b
// without its own pair, route b's pair (positions k < l) into route a
// before places r <= s of route a without its pair.
struct SwapPairsMove {
  size_t a = 0;
  size_t i = 1;
  size_t j = 2;
  size_t b = 1;
  size_t k = 1;
  size_t l = 2;
  size_t p = 1;
  size_t q = 1;
  size_t r = 1;
  size_t s = 1;
};

// The exchange of two pairs between two routes, each pair kept in order on
// its new route. Priced by joining the stored segments around the places
// each route changes (`RelocatePair::WithPair`).
class SwapPairs final : public RouteOperator<SwapPairsMove> {
 public:
  explicit SwapPairs(const SegmentJoiner& joiner) : joiner_(joiner), pair_(joiner) {}

  // The cheapest places (p, q) for `first` and `second` in route k once its
  // stored positions skip_i < skip_j are taken out: every p <= q tried,
  // O(route length squared) joins. Returns that route's cost (kInfeasible
  // when no place keeps the rules, or route k's agent may not serve them).
  double BestPlaces(const Solution& solution, size_t k, size_t skip_i, size_t skip_j, size_t first, size_t second,
                    const PenaltyWeights& weights, size_t& p, size_t& q) const;
  // Completes `move` (a, i, j, b, k, l given) with both pairs' cheapest
  // places and returns its costs.
  MoveCosts Best(const Solution& solution, Move& move, const PenaltyWeights& weights) const;

  MoveCosts Evaluate(const Solution& solution, const Move& move, const PenaltyWeights& weights) const override;
  void Apply(Solution& solution, const Move& move) override;

 private:
  const SegmentJoiner& joiner_;
  RelocatePair pair_;
};

}  // namespace tarsel
