#pragma once

#include <cstddef>
#include <vector>

#include "engine/route_rules.h"
#include "engine/solution.h"

namespace tarsel {

// The "same" pairs among the targets (pickup and delivery: both nodes on
// one route), as each target's partners, for the parts of the engine that
// move or cut whole pairs: the ruins remove a pair's nodes together, so
// that the repair can put the pair anywhere, and the giant-tour split cuts
// only where no pair is split. Without such pairs it is empty and every
// call leaves its argument as it was.
class SamePairs {
 public:
  explicit SamePairs(const RouteRules& rules);

  bool Any() const { return !partners_.empty(); }
  // Calls visit(other) for every target that shares a "same" pair with `node`.
  template <class Visit>
  void ForEachPartner(size_t node, Visit&& visit) const {
    if (node >= partners_.size()) return;
    for (const size_t other : partners_[node]) visit(other);
  }
  // Removes from `solution` the placed partners of `node` (refreshing the
  // routes they leave under `weights`); returns how many.
  size_t ErasePartners(Solution& solution, size_t node, const PenaltyWeights& weights) const;
  // cuts[c] (c = 0..tour.size()) is 1 when cutting `tour` before position c
  // splits no "same" pair whose nodes both lie in it, 0 otherwise.
  void CleanCuts(const std::vector<size_t>& tour, std::vector<char>& cuts) const;

 private:
  std::vector<std::vector<size_t>> partners_;  // per node; empty without "same" pairs
  mutable std::vector<size_t> at_;             // per node: its tour position, scratch of CleanCuts
  mutable std::vector<int> opened_;            // per tour position: pairs opened minus closed there
};

}  // namespace tarsel
