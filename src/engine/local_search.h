#pragma once

#include <cstddef>
#include <functional>
#include <vector>

#include "engine/granular_neighbours.h"
#include "engine/random.h"
#include "engine/solution.h"

namespace tarsel {

// First-improvement local search on granular neighbourhoods: for each
// target u (in a random order) and each neighbour v of u in the matrix of
// v's route, and the start of every other route: relocate u after or
// before v, swap u and v, and within one route reverse the stretch between
// them (2-opt). Moves between routes are priced in O(1) from the routes'
// prefix and suffix segments; moves within a route re-evaluate it. A move
// is taken when it improves the objective (min-max: longest route, then
// total; min-sum: total) and keeps every window end, length limit and
// connection. Buffers are sized once; the loop does not allocate.
class LocalSearch {
 public:
  LocalSearch(const RouteRules& rules, const GranularNeighbours& neighbours);

  // Improves a complete `solution` until no move improves it or `stop`
  // answers true (asked once per target). Returns the number of moves taken.
  size_t Run(Solution& solution, Random& random, const std::function<bool()>& stop);

 private:
  // Each returns whether a move was taken.
  bool TryPair(Solution& solution, size_t u, size_t route_of_v, size_t position_of_v);
  bool TryBetween(Solution& solution, size_t u, size_t b, size_t j, bool is_target);
  bool TryWithin(Solution& solution, size_t u, size_t j);
  // Judges new costs of routes a and b (a == b for one route).
  bool Better(const Solution& solution, size_t a, double cost_a, size_t b, double cost_b) const;
  // Applies the candidate held in scratch_a_ (and scratch_b_) and keeps it
  // only when the exact evaluation confirms the improvement.
  bool Commit(Solution& solution, size_t a, size_t b);

  const RouteRules& rules_;
  const GranularNeighbours& neighbours_;
  std::vector<size_t> order_;
  std::vector<size_t> scratch_a_;
  std::vector<size_t> scratch_b_;
  std::vector<size_t> saved_a_;
  std::vector<size_t> saved_b_;
};

}  // namespace tarsel
