#pragma once

#include <cstddef>
#include <vector>

#include "engine/objective_value.h"
#include "engine/solution.h"

namespace tarsel {

// Cuts a giant tour (every target once) into consecutive routes, one per
// agent in a given order, by dynamic programming over (agents used, targets
// covered): the value of a cut is (longest route, total) compared
// lexicographically under min-max, the total under min-sum. Every route is
// priced exactly for its agent (matrix, allowed types, windows, limit,
// connections); a route is extended only while it stays feasible. O(m n^2).
class GiantTourSplit {
 public:
  explicit GiantTourSplit(const RouteRules& rules);

  // Fills `solution` with the best cut of `tour` for agents in `order`;
  // returns false (solution unchanged) when no feasible cut exists.
  bool Split(const std::vector<size_t>& tour, const std::vector<size_t>& order, Solution& solution);

 private:
  const RouteRules& rules_;
  std::vector<ObjectiveValue> value_;  // (agents used) * (n + 1) + covered
  std::vector<size_t> cut_;            // where the last route began
};

}  // namespace tarsel
