#pragma once

#include <cstddef>

#include "engine/granular_insertion.h"
#include "engine/granular_neighbours.h"
#include "engine/random.h"
#include "engine/regret_insertion.h"
#include "engine/solution.h"

namespace tarsel {

// Instances with more nodes than this are constructed and repaired by
// granular insertion: regret insertion prices every pending target at every
// position after each placement, O(n^3) for a whole construction.
constexpr size_t kRegretInsertionNodes = 256;

// The engine's construction and repair: regret insertion on instances of
// up to kRegretInsertionNodes nodes, granular insertion above.
class TargetInsertion {
 public:
  TargetInsertion(const RouteRules& rules, const GranularNeighbours& neighbours)
      : large_(rules.NumNodes() > kRegretInsertionNodes),
        regret_(rules),
        granular_(rules, neighbours) {}

  bool Large() const { return large_; }
  // Places the unplaced targets of `solution`; returns whether all were placed.
  bool Fill(Solution& solution, const PenaltyWeights& weights, Random& random, double noise) {
    return large_ ? granular_.Fill(solution, weights, random, noise) : regret_.Fill(solution, weights, random, noise);
  }

 private:
  bool large_;
  RegretInsertion regret_;
  GranularInsertion granular_;
};

}  // namespace tarsel
