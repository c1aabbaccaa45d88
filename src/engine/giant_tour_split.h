#pragma once

#include <cstddef>
#include <vector>

#include "engine/arc_table.h"
#include "engine/objective_value.h"
#include "engine/same_pairs.h"
#include "engine/solution.h"

namespace tarsel {

// Cuts a giant tour (every target once) into consecutive routes, one per
// agent in a given order, by dynamic programming over (agents used, targets
// covered): the value of a cut is (longest route, total) compared
// lexicographically under min-max, the total under min-sum. Every route is
// priced exactly for its agent (matrix, allowed types, windows, limit,
// connections); a route is extended only while it stays feasible. O(m n^2),
// or O(m n L) where a route is bounded to L targets: L is n unless m n^2
// passes kSplitWork joins, then the largest L within that work, but at
// least twice the even share n / m. With "same" pairs a route begins and
// ends only where it splits none of them (`SamePairs::CleanCuts`), so that
// each pair's nodes stay on one route; when no such cut is feasible, at
// any position (the engine mends the pairs that splits). With capacities
// priced by penalties, a route first stops growing once its load passes
// kLoadBound times its agent's capacity (no good cut carries that much, and
// the cuts to try drop from O(n) to about the targets a vehicle carries);
// only when that leaves no cut is the tour split again without that bound.
class GiantTourSplit {
 public:
  explicit GiantTourSplit(const RouteRules& rules);

  // Fills `solution` with the best cut of `tour` for agents in `order`;
  // returns false (solution unchanged) when no feasible cut exists.
  bool Split(const std::vector<size_t>& tour, const std::vector<size_t>& order, const PenaltyWeights& weights,
             Solution& solution);

 private:
  // Targets a route may take when `agents` routes share `targets` targets.
  static size_t RouteBound(size_t targets, size_t agents);
  static constexpr double kSplitWork = 2e7;
  static constexpr double kLoadBound = 1.5;
  // The dynamic programme; with `clean_only`, cuts only where clean_ allows;
  // with `load_bound`, routes stop at kLoadBound times their capacity.
  bool Solve(const std::vector<size_t>& tour, const std::vector<size_t>& order, const PenaltyWeights& weights,
             bool clean_only, bool load_bound);
  // Solve's programme; kByArcs: routes extended by their arcs' travel and
  // demands (`by_arcs_`, under min-sum), the same sums as the joins there.
  template <bool kByArcs>
  bool SolveWith(const std::vector<size_t>& tour, const std::vector<size_t>& order, const PenaltyWeights& weights,
                 bool clean_only, bool load_bound);
  // Solve with the load bound first when it applies, then without it.
  bool SolveBounded(const std::vector<size_t>& tour, const std::vector<size_t>& order,
                    const PenaltyWeights& weights, bool clean_only);

  const RouteRules& rules_;
  ArcTable arcs_;
  SamePairs same_pairs_;
  // Capacities on instances without windows, limits and precedence pairs,
  // whose arcs the table reads flat: the split under min-sum extends
  // routes by their arcs and demands rather than by joining segments.
  bool by_arcs_ = false;
  std::vector<char> clean_;            // per cut position: splits no "same" pair
  std::vector<ObjectiveValue> value_;  // (agents used) * (n + 1) + covered
  std::vector<size_t> cut_;            // where the last route began
};

}  // namespace tarsel
