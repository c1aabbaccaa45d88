#include "engine/relocate_segment.h"

namespace tarsel {

double RelocateSegment::Inserted(const Solution& solution, const Move& move, const PenaltyWeights& weights) const {
  const size_t k = move.b;
  const SegmentJoiner::Ends head =
      joiner_.Link(k, joiner_.Prefix(solution, k, move.at - 1),
                   joiner_.Moved(solution, move.a, move.i, move.count, k, move.reversed));
  return joiner_.Cost(k, joiner_.Link(k, head, joiner_.Suffix(solution, k, move.at)), weights);
}

MoveCosts RelocateSegment::Evaluate(const Solution& solution, const Move& move, const PenaltyWeights& weights) const {
  const RouteRules& rules = joiner_.Rules();
  const std::vector<size_t>& nodes = solution.Route(move.a).nodes;
  MoveCosts costs{move.a, RouteRules::kInfeasible, move.b, RouteRules::kInfeasible};
  for (size_t q = move.i; q < move.i + move.count; ++q) {
    if (!rules.CanServe(move.b, nodes[q])) return costs;
  }
  costs.cost_a = Removed(solution, move.a, move.i, move.count, weights);
  if (costs.cost_a < RouteRules::kInfeasible) costs.cost_b = Inserted(solution, move, weights);
  return costs;
}

void RelocateSegment::Apply(Solution& solution, const Move& move) {
  const auto i = static_cast<std::ptrdiff_t>(move.i);
  const auto count = static_cast<std::ptrdiff_t>(move.count);
  std::vector<size_t>& from = solution.MutableNodes(move.a);
  std::vector<size_t>& to = solution.MutableNodes(move.b);
  const auto at = to.begin() + static_cast<std::ptrdiff_t>(move.at);
  if (move.reversed) {
    to.insert(at, std::make_reverse_iterator(from.begin() + i + count), std::make_reverse_iterator(from.begin() + i));
  } else {
    to.insert(at, from.begin() + i, from.begin() + i + count);
  }
  from.erase(from.begin() + i, from.begin() + i + count);
}

}  // namespace tarsel
