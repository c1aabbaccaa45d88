#pragma once

#include <cstddef>
#include <cstdint>
#include <utility>
#include <vector>

#include "engine/arc_table.h"
#include "engine/route_operator.h"
#include "engine/route_rules.h"
#include "engine/segment_joiner.h"
#include "engine/solution.h"

namespace tarsel {

// SWAP*: exchange target u of route a with target v of route b, each
// reinserted at its best place in the other route (not necessarily where
// the other was). For every (route, target) the three cheapest insertion
// places into the route as it stands are cached and recomputed only after
// the route changed; an exchange is estimated from them and the removal
// costs (the place of the removed target itself priced exactly); the
// caller prices the chosen exchange exactly (`Evaluate`) before taking it.
struct SwapStarMove {
  size_t a = 0;        // route of u
  size_t b = 0;        // route of v
  size_t u = 0;        // target of route a
  size_t v = 0;        // target of route b
  size_t place_v = 0;  // v goes before this position of a (u's own: in u's place)
  size_t place_u = 0;  // u goes before this position of b
};

class SwapStar final : public RouteOperator<SwapStarMove> {
 public:
  using Exchange = SwapStarMove;

  SwapStar(const RouteRules& rules, const SegmentJoiner& joiner);

  // Every cached insertion and every examined pair is out of date.
  void Forget();
  // Whether insertion places are priced from their arcs (ArcPricing's
  // instances: a route's travel plus its overload, the same at every place).
  void SetArcPriced(bool arc_priced) { arc_priced_ = arc_priced; }
  // Route k changed.
  void Touch(size_t k) { ++version_[k]; }
  // Whether routes a and b changed since they were last examined.
  bool Changed(size_t a, size_t b) const;
  // The exchange between routes a and b with the best estimated value, when
  // it is estimated to improve the solution; marks the pair examined.
  bool Best(const Solution& solution, const PenaltyWeights& weights, size_t a, size_t b, Exchange& exchange);

  // The exact costs of both routes after the exchange.
  MoveCosts Evaluate(const Solution& solution, const Move& move, const PenaltyWeights& weights) const override;
  void Apply(Solution& solution, const Move& move) override;

 private:
  struct Place {
    double cost;      // cost of the route with the target inserted
    size_t position;  // insert before this position
  };
  static constexpr size_t kPlaces = 3;
  // Cheapest places of target `node` in route k, refreshed when out of date.
  const Place* Places(const Solution& solution, const PenaltyWeights& weights, size_t k, size_t node);
  // Estimated cost of route k with its target at j replaced by `node` at
  // its best place; sets `place`.
  double ReplaceEstimate(const Solution& solution, const PenaltyWeights& weights, size_t k, size_t j,
                         size_t node, double removal_delta,
                         size_t& place);

  // Best on arc-priced instances under min-sum, with the same values: the
  // removed target's own place priced from its two arcs, each route's
  // travel and load without each of its targets computed once, and every
  // target's cached places looked up once per pair of routes.
  bool BestByArcs(const Solution& solution, const PenaltyWeights& weights, size_t a, size_t b, Exchange& exchange);
  // Per position j of a route: its travel without the arcs at j and its
  // load without the target at j.
  struct InPlace {
    double travel = 0;
    double load = 0;
  };
  void PrepareInPlace(const Solution& solution, size_t k, std::vector<InPlace>& in_place) const;
  // The cheaper of `best` (at `place`) and a target's cached `places` in a
  // route other than next to position j, each plus `removal_delta`, the
  // change of removing the target at j (exact when the insertion and the
  // removal do not interact, as for plain travel costs).
  static double BestElsewhere(const Place* places, size_t j, double removal_delta, double best, size_t& place);
  // ReplaceEstimate from the arcs, given route k's `in_place` at j and
  // `node`'s cached places in route k.
  double EstimateByArcs(const Solution& solution, const PenaltyWeights& weights, size_t k, size_t j, size_t node,
                        const InPlace& in_place, double removal_delta, const Place* places, size_t& place) const;

  const RouteRules& rules_;
  const SegmentJoiner& joiner_;
  ArcTable arcs_;
  size_t nodes_;
  std::vector<uint64_t> version_;         // per route, bumped on change
  std::vector<uint64_t> place_version_;   // (route, node) -> route version of the cached places
  std::vector<Place> places_;             // (route, node) -> kPlaces places
  std::vector<std::pair<uint64_t, uint64_t>> examined_;  // (route a, route b) -> their versions then
  std::vector<double> removal_a_;         // per position of a: cost change of removing it
  std::vector<double> removal_b_;
  std::vector<InPlace> in_place_a_;         // per position of a (arc-priced Best)
  std::vector<InPlace> in_place_b_;
  std::vector<const Place*> places_in_a_;   // per position of b: its target's places in a
  bool arc_priced_ = false;
};

}  // namespace tarsel
