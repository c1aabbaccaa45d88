#pragma once

#include <cstddef>
#include <vector>

#include "engine/granular_neighbours.h"
#include "engine/insertion_pairs.h"
#include "engine/objective_value.h"
#include "engine/random.h"
#include "engine/solution.h"

namespace tarsel {

// Cheapest insertion for large instances: places the unplaced targets one
// at a time, each at its best place among the positions next to its
// granular neighbours (in routes of the neighbour list's type) and at both
// ends of every route, so that one placement costs O(neighbours + agents)
// instead of a scan of every route. Only when none of those places is
// feasible are all positions of all routes tried. Insertions are judged as
// in regret insertion: (new longest route, added cost) under min-max, the
// added cost under min-sum, each scaled by a random factor in
// [1 - noise, 1 + noise] when `noise` > 0.
//
// Order: without noise, the targets farthest from the nearest agent start
// first (they shape the routes, the near ones fill in); with noise, a
// random order. With precedence pairs a target goes only where its pairs
// stay kept (`InsertionPairs`), anywhere only when no such place is
// feasible; the first node of a "same" pair goes in together with its
// second (both at their best places at most kJointGap apart, in the routes
// next to their neighbours and the empty routes first, then in any route),
// so that a route with room for one but not both is never chosen.
class GranularInsertion {
 public:
  GranularInsertion(const RouteRules& rules, const GranularNeighbours& neighbours);

  // Places the unplaced targets of `solution`; returns whether all were
  // placed (false leaves the rest unplaced).
  bool Fill(Solution& solution, const PenaltyWeights& weights, Random& random, double noise);

 private:
  struct Place {
    size_t route = 0;
    size_t position = 0;
    ObjectiveValue judged;  // the objective value it leads to (see Consider)
    bool found = false;
  };
  // Prices `node` at `position` of route `k` and keeps it in `best` when
  // better; positions outside low..high are skipped.
  void Consider(const Solution& solution, const PenaltyWeights& weights, size_t node, size_t k,
                size_t position, double factor,
                double longest, size_t low, size_t high, Place& best) const;
  // `relaxed`: without regard to precedence pairs.
  Place BestPlace(const Solution& solution, const PenaltyWeights& weights, size_t node, Random& random,
                  double noise,
                  bool everywhere, bool relaxed) const;

  // Inserts `node` together with its companion (`InsertionPairs::Companion`)
  // at their best joint place; false when no route has one.
  bool PlaceJoint(Solution& solution, const PenaltyWeights& weights, size_t node, size_t companion,
                  Random& random, double noise);

  const RouteRules& rules_;
  const GranularNeighbours& neighbours_;
  InsertionPairs pairs_;
  std::vector<double> start_distance_;  // per node: cheapest arc from an agent's start
  std::vector<size_t> pending_;
  std::vector<char> candidate_;  // per route: next to a neighbour of the pair being placed, or empty
};

}  // namespace tarsel
