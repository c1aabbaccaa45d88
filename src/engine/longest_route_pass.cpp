// The min-max passes of the local search: they work on the longest route,
// the only one whose cost is the objective's first part.
#include "engine/local_search.h"
#include "engine/move_value.h"

namespace tarsel {

// Repeats, while one helps: hand a segment of the longest route to its best
// place elsewhere; else try every relocation, swap and 2-opt within it (the
// tour pass on a long route).
size_t LocalSearch::LongestRoutePass(Solution& solution, const PenaltyWeights& weights,
                                     const std::function<bool()>& stop) {
  size_t taken = 0;
  for (size_t round = 0; round < rules_.Targets().size(); ++round) {
    if (stop && stop()) break;
    const size_t longest = LongestRoute(solution);
    if (MoveOffLongest(solution, weights, longest)) {
      ++taken;
      continue;
    }
    // A long route is a tour: neighbour lists instead of all pairs.
    const size_t within = solution.Route(longest).Targets() > kLongRouteTargets
                              ? (tour_clean_[longest] != 0 ? 0 : ImproveTour(solution, weights, longest, stop))
                              : ImproveWithin(solution, weights, longest, stop);
    if (within == 0) break;
    taken += within;
  }
  return taken;
}

// The best place in any other route for a segment of 1..kMaxSegment targets of the
// longest route (in order or reversed), judged by (new longest, total). On a
// long route the places are those next to the granular neighbours of the
// segment's two end targets and the two ends of every other route (which
// covers empty routes): trying every place of every route there costs
// O(length^2) per pass and is where the pass's time went, while a segment
// nearly always goes next to one of its ends' neighbours. Short routes keep
// every place.
bool LocalSearch::MoveOffLongest(Solution& solution, const PenaltyWeights& weights, size_t longest) {
  const std::vector<size_t>& nodes = solution.Route(longest).nodes;
  const size_t last = nodes.size() - 2;
  const bool granular = solution.Route(longest).Targets() > kLongRouteTargets;
  const double current_cost = solution.Route(longest).cost;
  const ObjectiveValue current = solution.Value();
  ObjectiveValue best = current;
  size_t best_i = 0, best_count = 0, best_route = 0, best_at = 0;
  bool best_reversed = false;
  for (size_t i = 1; i <= last; ++i) {
    for (size_t count = 1; count <= kMaxSegment && i + count - 1 <= last; ++count) {
      const double without = relocate_.Removed(solution, longest, i, count, weights);
      // Only a shorter longest route can lower the objective's first part.
      if (!(without < current_cost)) continue;
      auto servable = [&](size_t r) {
        for (size_t q = i; q < i + count; ++q) {
          if (!rules_.CanServe(r, nodes[q])) return false;
        }
        return true;
      };
      auto try_at = [&](size_t r, size_t at) {
        for (bool reversed : {false, true}) {
          if (reversed && count == 1) continue;
          const double with =
              relocate_.Inserted(solution, RelocateSegment::Move{longest, i, count, r, at, reversed}, weights);
          if (!(with < RouteRules::kInfeasible)) continue;
          const ObjectiveValue value = ValueAfter(solution, longest, without, r, with);
          if (!RanksBefore(value, best, true)) continue;
          best = value;
          best_i = i;
          best_count = count;
          best_route = r;
          best_at = at;
          best_reversed = reversed;
        }
      };
      for (size_t r = 0; r < solution.NumRoutes(); ++r) {
        if (r == longest || !servable(r)) continue;
        const size_t len_r = solution.Route(r).nodes.size();
        if (granular) {
          try_at(r, 1);
          if (len_r > 2) try_at(r, len_r - 1);
          continue;
        }
        for (size_t at = 1; at < len_r; ++at) try_at(r, at);
      }
      if (!granular) continue;
      for (const size_t end : {nodes[i], nodes[i + count - 1]}) {
        neighbours_.ForEachPlaced(solution, end, [&](size_t r, size_t j) {
          if (r == longest || !servable(r)) return;
          // Before the neighbour or after it.
          try_at(r, j);
          try_at(r, j + 1);
        });
        if (count == 1) break;
      }
    }
  }
  if (best_count == 0 || !Improves(best, current, true)) return false;
  const RelocateSegment::Move move{longest, best_i, best_count, best_route, best_at, best_reversed};
  return Commit(solution, weights, relocate_, move, longest, best_route);
}

// Every move within route k between any two of its targets (not only
// neighbours).
size_t LocalSearch::ImproveWithin(Solution& solution, const PenaltyWeights& weights, size_t k,
                                  const std::function<bool()>& stop) {
  size_t taken = 0;
  // Node ids of the route at the start; a move may reorder it, so
  // positions are looked up afresh for every pair.
  const std::vector<size_t>& nodes = solution.Route(k).nodes;
  inner_order_.assign(nodes.begin() + 1, nodes.end() - 1);
  for (size_t u : inner_order_) {
    if (stop && stop()) break;
    for (size_t v : inner_order_) {
      if (u == v || solution.RouteOf(u) != k || solution.RouteOf(v) != k) continue;
      if (TryWithin(solution, weights, u, solution.PositionOf(v))) ++taken;
    }
  }
  return taken;
}

}  // namespace tarsel
