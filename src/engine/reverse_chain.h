#pragma once

#include <array>
#include <cstddef>
#include <vector>

#include "engine/route_operator.h"
#include "engine/segment_joiner.h"

namespace tarsel {

// A route after a few reversals of stretches of its targets, held as the
// pieces of the route as it is (positions from..to, travelled forwards or
// backwards) in their new order: a chain of 2-opt steps is tried and priced
// without touching the route, each step O(pieces).
class ChainTour {
 public:
  // Each reversal splits at most two pieces.
  static constexpr size_t kMaxReversals = 5;
  static constexpr size_t kMaxPieces = 2 * kMaxReversals + 1;

  struct Piece {
    size_t from = 0;  // positions in the route as it is, from <= to
    size_t to = 0;
    bool reversed = false;
  };

  // The route of `length` nodes (start and end included) unchanged.
  void Reset(size_t length);
  size_t Count() const { return count_; }
  const Piece& At(size_t index) const { return pieces_[index]; }
  size_t Reversals() const { return reversals_; }

  // The position in the route as it is of the node now at `position`.
  size_t Original(size_t position) const;
  // The position now of the node at `original` in the route as it is.
  size_t Current(size_t original) const;
  // Reverses the nodes now at positions first..last (1 <= first < last <
  // length - 1: the route's start and end stay). False, and nothing
  // changes, when the reversals or pieces would exceed their bounds.
  bool Reverse(size_t first, size_t last);

 private:
  // Splits so that a piece starts at `position` (now); returns its index.
  size_t SplitAt(size_t position);

  std::array<Piece, kMaxPieces + 2> pieces_{};
  size_t count_ = 0;
  size_t reversals_ = 0;
};

struct ReverseChainMove {
  size_t k = 0;      // the route
  ChainTour tour;    // its pieces after the chain's reversals
};

// A chain of 2-opt steps within one route (a Lin-Kernighan style move of
// up to ChainTour::kMaxReversals reversals), applied as one move. Priced
// exactly by joining the route's stored segments piece by piece, reversed
// pieces from the stored backwards summaries (`RouteSegments::PricesReversal`,
// or the forward ones where reversal keeps the cost): O(pieces). A route
// with neither is walked in full.
class ReverseChain final : public RouteOperator<ReverseChainMove> {
 public:
  ReverseChain(const SegmentJoiner& joiner, size_t num_nodes);

  MoveCosts Evaluate(const Solution& solution, const Move& move, const PenaltyWeights& weights) const override;
  void Apply(Solution& solution, const Move& move) override;

 private:
  // The route's nodes in the move's order, into scratch_.
  void Build(const Solution& solution, const Move& move) const;

  const SegmentJoiner& joiner_;
  mutable std::vector<size_t> scratch_;
};

}  // namespace tarsel
