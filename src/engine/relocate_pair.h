#pragma once

#include <cstddef>

#include "engine/route_operator.h"
#include "engine/segment_joiner.h"

namespace tarsel {

// A pickup and its delivery moved together. Places p and q index the
// receiving route without the pair (route b itself when b != a; route a
// with positions i and j taken out when b == a).
struct RelocatePairMove {
  size_t a = 0;  // route holding the pair
  size_t i = 1;  // position of the first node (the pickup)
  size_t j = 2;  // position of the second node (the delivery), j > i
  size_t b = 0;  // receiving route; b == a moves the pair within its route
  size_t p = 1;  // the first node goes before this place
  size_t q = 1;  // the second before this one (q >= p; q == p: right behind the first)
};

// Relocation of two targets of one route, the first kept earlier than the
// second, into another route or elsewhere in their own: what keeps a
// pickup-and-delivery pair on one route in order while it moves. Priced by
// joining the stored segments around the four places the move changes.
class RelocatePair final : public RouteOperator<RelocatePairMove> {
 public:
  explicit RelocatePair(const SegmentJoiner& joiner) : joiner_(joiner) {}

  // Route a without the targets at i and j.
  double Removed(const Solution& solution, size_t a, size_t i, size_t j, const PenaltyWeights& weights) const;
  // The receiving route with both targets placed.
  double Inserted(const Solution& solution, const Move& move, const PenaltyWeights& weights) const;
  // Route k with its stored positions skip_i < skip_j taken out (kNoIndex:
  // none) and `first` placed before place p, `second` before place q >= p
  // of what is left (places index the route without the skipped nodes).
  double WithPair(const Solution& solution, size_t k, size_t skip_i, size_t skip_j, size_t first, size_t second,
                  size_t p, size_t q, const PenaltyWeights& weights) const;

  MoveCosts Evaluate(const Solution& solution, const Move& move, const PenaltyWeights& weights) const override;
  void Apply(Solution& solution, const Move& move) override;

 private:
  // Joins the nodes of route k from `from` to `to` (inclusive, positions of
  // the route as stored, skipping `skip_i` and `skip_j`) onto `route`.
  void Append(const Solution& solution, size_t k, size_t from, size_t to, size_t skip_i, size_t skip_j,
              SegmentJoiner::Ends& route, bool& started) const;
  void AppendPiece(size_t k, const SegmentJoiner::Ends& piece, SegmentJoiner::Ends& route, bool& started) const;

  const SegmentJoiner& joiner_;
};

}  // namespace tarsel
