#pragma once

#include <algorithm>
#include <cstddef>

#include "engine/objective_value.h"
#include "engine/solution.h"

namespace tarsel {

// Objective value of `solution` once routes a and b (a == b for one route)
// cost `cost_a` and `cost_b`, in O(1) from the three costliest routes.
inline ObjectiveValue ValueAfter(const Solution& solution, size_t a, double cost_a, size_t b, double cost_b) {
  const ObjectiveValue current = solution.Value();
  ObjectiveValue value;
  if (a == b) {
    value.total = current.total - solution.Route(a).cost + cost_a;
    value.longest = std::max(cost_a, solution.LongestExcept(a, a));
  } else {
    value.total = current.total - solution.Route(a).cost - solution.Route(b).cost + cost_a + cost_b;
    value.longest = std::max({cost_a, cost_b, solution.LongestExcept(a, b)});
  }
  return value;
}

// Index of the costliest route (the first of equals).
inline size_t LongestRoute(const Solution& solution) {
  size_t longest = 0;
  for (size_t k = 1; k < solution.NumRoutes(); ++k) {
    if (solution.Route(k).cost > solution.Route(longest).cost) longest = k;
  }
  return longest;
}

}  // namespace tarsel
