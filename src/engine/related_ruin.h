#pragma once

#include <cstddef>
#include <vector>

#include "engine/granular_neighbours.h"
#include "engine/random.h"
#include "engine/same_pairs.h"
#include "engine/solution.h"

namespace tarsel {

// Ruin for large instances: removes a compact group of targets, a random
// target and then, breadth first, its granular neighbours and theirs, so
// that the recreate step and the local search after it rework one area of
// the routes instead of targets scattered over all of them. Between
// kMinRemoved and kMaxRemoved targets (at most a third of them) go, and
// with them the other node of each "same" pair the group touches, so that
// the recreate step places the pair as a whole.
class RelatedRuin {
 public:
  RelatedRuin(const RouteRules& rules, const GranularNeighbours& neighbours);

  // Removes the group from `solution` (routes refreshed); returns how many.
  size_t Apply(Solution& solution, const PenaltyWeights& weights, Random& random);

  static constexpr size_t kMinRemoved = 10;
  static constexpr size_t kMaxRemoved = 60;

 private:
  const RouteRules& rules_;
  const GranularNeighbours& neighbours_;
  SamePairs same_pairs_;
  std::vector<char> taken_;        // per node: already in the group
  std::vector<size_t> group_;      // the group, in breadth-first order
  std::vector<char> touched_;      // per route: lost a target
};

}  // namespace tarsel
