#pragma once

#include <cstddef>

#include "engine/solution.h"
#include "routes/penalty_weights.h"

namespace tarsel {

// The new costs of the routes a move changes: route a and route b (b == a
// for a move within one route). A cost is `RouteRules::kInfeasible` when the
// route rules reject the route or the move is not allowed (an agent that
// may not serve a target it would receive, positions that make no move).
struct MoveCosts {
  size_t a = 0;
  double cost_a = 0;
  size_t b = 0;
  double cost_b = 0;
};

// One kind of local-search move. `Evaluate` prices the move described by
// `Move` from the routes' stored segments under the given penalty weights
// without changing anything; `Apply` writes the node sequences of exactly
// that move into the solution's routes (the caller refreshes them and
// judges the result). Both read the solution as it was when the move was
// described: positions in `Move` index the routes' nodes (0: the start).
// The local search holds each operator by its own (final) type, so the
// calls in its loop are direct.
template <typename MoveType>
class RouteOperator {
 public:
  using Move = MoveType;
  virtual ~RouteOperator() = default;
  virtual MoveCosts Evaluate(const Solution& solution, const Move& move, const PenaltyWeights& weights) const = 0;
  virtual void Apply(Solution& solution, const Move& move) = 0;
};

}  // namespace tarsel
