#pragma once

#include <cstddef>
#include <vector>

#include "engine/route_rules.h"

namespace tarsel {

// Agent k's arcs for the moves priced from their arcs, read in one step
// from its type's flat matrix where that gives RouteRules::Travel's answer
// for every arc a route can use: routes return to their end (no free legs
// into an own start or end), every node index lies inside the dense
// matrices and every matrix has a free diagonal. Elsewhere (open routes,
// indices served by the graph, costs on the diagonal) each arc is asked of
// RouteRules::Travel. Either way the value and the missing-arc flag are
// Travel's, bit for bit. The hot loops of the local search, SWAP*'s places
// and the cheapest insertion read arcs through it.
class ArcTable {
 public:
  explicit ArcTable(const RouteRules& rules);

  // Whether arcs are read from the flat matrices.
  bool Flat() const { return !matrix_of_.empty(); }

  // Agent k's arc u -> v; `blocked` when it is missing (as Travel).
  double Travel(size_t k, size_t u, size_t v, bool& blocked) const {
    if (matrix_of_.empty()) return rules_.Travel(k, u, v, blocked);
    const double cost = matrix_of_[k][u * size_ + v];
    blocked = !(cost < missing_cost_);
    return cost;
  }

  const RouteRules& Rules() const { return rules_; }

 private:
  const RouteRules& rules_;
  std::vector<const double*> matrix_of_;  // per agent: its type's matrix; empty when not flat
  size_t size_ = 0;                       // the matrices' row length
  double missing_cost_ = 0;
};

// On instances without windows and length limits: RouteRules::Cost of a
// route of agent k with this travel and load (no time warp, no length
// excess), in the same arithmetic, inline for the loops that price moves
// from their arcs.
inline double ArcRouteCost(const RouteRules& rules, size_t k, double duration, double load, bool blocked,
                           const PenaltyWeights& weights) {
  if (blocked) return RouteRules::kInfeasible;
  if (weights.active) return duration + weights.overload * rules.Overload(k, load);
  return rules.Overloaded(k, load) ? RouteRules::kInfeasible : duration;
}

}  // namespace tarsel
