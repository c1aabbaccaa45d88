#include "engine/swap_within.h"

#include <utility>

namespace tarsel {

MoveCosts SwapWithin::Evaluate(const Solution& solution, const Move& move, const PenaltyWeights& weights) const {
  const size_t k = move.k, i = move.i, j = move.j;
  const std::vector<size_t>& nodes = solution.Route(k).nodes;
  SegmentJoiner::Ends route = joiner_.Link(k, joiner_.Prefix(solution, k, i - 1), joiner_.Node(nodes[j]));
  if (j > i + 1) route = joiner_.Link(k, route, joiner_.Between(solution, k, i + 1, j - 1));
  route = joiner_.Link(k, joiner_.Link(k, route, joiner_.Node(nodes[i])), joiner_.Suffix(solution, k, j + 1));
  const double cost = joiner_.Cost(k, route, weights);
  return {k, cost, k, cost};
}

void SwapWithin::Apply(Solution& solution, const Move& move) {
  std::vector<size_t>& nodes = solution.MutableNodes(move.k);
  std::swap(nodes[move.i], nodes[move.j]);
}

}  // namespace tarsel
