#pragma once

#include <cstddef>
#include <vector>

#include "common/special_values.h"
#include "engine/arc_table.h"
#include "engine/insertion_pairs.h"
#include "engine/random.h"
#include "engine/solution.h"

namespace tarsel {

// Regret insertion: repeatedly places the unplaced target whose best
// feasible insertion is most ahead of its best insertion into another
// route, at that best place. An insertion is judged by (new longest route,
// added cost) under min-max and by the added cost under min-sum. With
// `noise` > 0 every judged cost is scaled by a random factor in
// [1 - noise, 1 + noise], which gives different solutions for a
// population. Targets no route can take stay unplaced. With precedence
// pairs a target goes only where its pairs stay kept (`InsertionPairs`),
// the first node of a "same" pair together with its second (priced as one
// insertion, so that a route with room for one but not both is never
// chosen), until no pending target has such a place: the rest are then
// placed anywhere (the engine's pair repair mends what that breaks).
class RegretInsertion {
 public:
  explicit RegretInsertion(const RouteRules& rules);

  // Places the unplaced targets of `solution`; returns whether all were placed.
  bool Fill(Solution& solution, const PenaltyWeights& weights, Random& random, double noise);

 private:
  struct Option {
    double cost = RouteRules::kInfeasible;  // new cost of the route
    size_t position = 0;
    size_t companion = kNoIndex;  // the second node of a "same" pair inserted with it
    size_t companion_position = 0;
    double factor = 1;
  };
  void Recompute(const Solution& solution, const PenaltyWeights& weights, size_t k, Random& random,
                 double noise);
  // The best place of `node` in route k.
  void Price(const Solution& solution, const PenaltyWeights& weights, size_t node, size_t k, Random& random,
             double noise);

  void RepricePartners(const Solution& solution, const PenaltyWeights& weights, size_t node, size_t route,
                       Random& random, double noise);
  bool PlaceJoint(Solution& solution, const PenaltyWeights& weights, size_t node, size_t k);

  const RouteRules& rules_;
  ArcTable arcs_;  // the arcs of the places priced from them
  InsertionPairs pairs_;
  bool relaxed_ = false;  // this fill places the rest without regard to pairs
  // Under min-sum with capacities and neither windows, limits nor pairs, a
  // place is priced from its arcs (`CheapestInsertionByArcs`).
  bool without_windows_and_limits_ = false;
  bool arc_priced_ = false;
  std::vector<size_t> pending_;
  std::vector<Option> options_;  // node * agents + route
};

}  // namespace tarsel
