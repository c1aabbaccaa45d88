#include "engine/relocate_within.h"

#include <algorithm>

namespace tarsel {

MoveCosts RelocateWithin::Evaluate(const Solution& solution, const Move& move, const PenaltyWeights& weights) const {
  const size_t k = move.k, i = move.i, count = move.count, after = move.after;
  const RouteSegments& segments = joiner_.Segments();
  const size_t last = i + count - 1;
  SegmentJoiner::Ends moved;
  if (!move.reversed) {
    moved = joiner_.Between(solution, k, i, last);
  } else if (segments.PricesReversal(k)) {
    moved = {segments.ReversedBetween(k, i, last), solution.Route(k).nodes[last], solution.Route(k).nodes[i]};
  } else {
    moved = joiner_.Moved(solution, k, i, count, k, true);
  }
  SegmentJoiner::Ends route;
  if (after < i) {
    route = joiner_.Link(k, joiner_.Prefix(solution, k, after), moved);
    route = joiner_.Link(k, route, joiner_.Between(solution, k, after + 1, i - 1));
    route = joiner_.Link(k, route, joiner_.Suffix(solution, k, i + count));
  } else {
    route = joiner_.Link(k, joiner_.Prefix(solution, k, i - 1), joiner_.Between(solution, k, i + count, after));
    route = joiner_.Link(k, joiner_.Link(k, route, moved), joiner_.Suffix(solution, k, after + 1));
  }
  const double cost = joiner_.Cost(k, route, weights);
  return {k, cost, k, cost};
}

void RelocateWithin::Apply(Solution& solution, const Move& move) {
  std::vector<size_t>& nodes = solution.MutableNodes(move.k);
  const auto begin = nodes.begin();
  const auto i = static_cast<std::ptrdiff_t>(move.i);
  const auto count = static_cast<std::ptrdiff_t>(move.count);
  const auto after = static_cast<std::ptrdiff_t>(move.after);
  // Rotating the nodes between the segment and its new place moves it there.
  std::ptrdiff_t placed;
  if (after < i) {
    std::rotate(begin + after + 1, begin + i, begin + i + count);
    placed = after + 1;
  } else {
    std::rotate(begin + i, begin + i + count, begin + after + 1);
    placed = after + 1 - count;
  }
  if (move.reversed) std::reverse(begin + placed, begin + placed + count);
}

}  // namespace tarsel
