#include "engine/swap_tails.h"

namespace tarsel {

double SwapTails::HalfCost(const Solution& solution, size_t a, size_t i, size_t b, size_t j,
                           const PenaltyWeights& weights) const {
  const RouteSegments& segments = joiner_.Segments();
  const std::vector<size_t>& nodes_b = solution.Route(b).nodes;
  const size_t last_b = nodes_b.size() - 2;  // last target of b (0: none)
  SegmentJoiner::Ends route = joiner_.Prefix(solution, a, i);
  if (j + 1 <= last_b) {
    const SegmentJoiner::Ends tail{segments.TargetTail(b, segments.SlotOf(a), j + 1), nodes_b[j + 1],
                                   nodes_b[last_b]};
    route = joiner_.Link(a, route, tail);
  }
  return joiner_.Cost(a, joiner_.Link(a, route, joiner_.Node(solution.Route(a).nodes.back())), weights);
}

MoveCosts SwapTails::Evaluate(const Solution& solution, const Move& move, const PenaltyWeights& weights) const {
  const RouteSegments& segments = joiner_.Segments();
  const size_t a = move.a, b = move.b, i = move.i, j = move.j;
  MoveCosts costs{a, RouteRules::kInfeasible, b, RouteRules::kInfeasible};
  const size_t last_a = solution.Route(a).nodes.size() - 2;
  const size_t last_b = solution.Route(b).nodes.size() - 2;
  if (i > last_a || j > last_b || (i == last_a && j == last_b)) return costs;
  if (j < last_b && !segments.TailServable(b, segments.SlotOf(a), j + 1)) return costs;
  if (i < last_a && !segments.TailServable(a, segments.SlotOf(b), i + 1)) return costs;
  costs.cost_a = HalfCost(solution, a, i, b, j, weights);
  if (costs.cost_a < RouteRules::kInfeasible) costs.cost_b = HalfCost(solution, b, j, a, i, weights);
  return costs;
}

void SwapTails::Apply(Solution& solution, const Move& move) {
  std::vector<size_t>& nodes_a = solution.MutableNodes(move.a);
  std::vector<size_t>& nodes_b = solution.MutableNodes(move.b);
  const auto a_from = nodes_a.begin() + static_cast<std::ptrdiff_t>(move.i + 1);
  tail_.assign(a_from, nodes_a.end() - 1);
  nodes_a.erase(a_from, nodes_a.end() - 1);
  const auto b_from = nodes_b.begin() + static_cast<std::ptrdiff_t>(move.j + 1);
  nodes_a.insert(nodes_a.end() - 1, b_from, nodes_b.end() - 1);
  nodes_b.erase(b_from, nodes_b.end() - 1);
  nodes_b.insert(nodes_b.end() - 1, tail_.begin(), tail_.end());
}

}  // namespace tarsel
