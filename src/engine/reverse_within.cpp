#include "engine/reverse_within.h"

#include <algorithm>

namespace tarsel {

namespace {

void Reverse(std::vector<size_t>& nodes, size_t first, size_t last) {
  std::reverse(nodes.begin() + static_cast<std::ptrdiff_t>(first) + 1,
               nodes.begin() + static_cast<std::ptrdiff_t>(last) + 1);
}

}  // namespace

ReverseWithin::ReverseWithin(const SegmentJoiner& joiner, size_t num_nodes) : joiner_(joiner) {
  scratch_.reserve(num_nodes + 2);
}

MoveCosts ReverseWithin::Evaluate(const Solution& solution, const Move& move, const PenaltyWeights& weights) const {
  const size_t k = move.k, first = move.first, last = move.last;
  const std::vector<size_t>& nodes = solution.Route(k).nodes;
  const RouteSegments& segments = joiner_.Segments();
  double cost;
  if (!segments.ReversalKeepsCost(k) && !segments.PricesReversal(k)) {
    scratch_ = nodes;
    Reverse(scratch_, first, last);
    cost = joiner_.Rules().ExactCost(k, scratch_, weights);
  } else {
    // The segment backwards: stored, or the same summary where reversal
    // keeps the cost (only its end nodes swap places).
    const SegmentJoiner::Ends reversed{segments.ReversedBetween(k, first + 1, last), nodes[last], nodes[first + 1]};
    const SegmentJoiner::Ends route = joiner_.Link(
        k, joiner_.Link(k, joiner_.Prefix(solution, k, first), reversed), joiner_.Suffix(solution, k, last + 1));
    cost = joiner_.Cost(k, route, weights);
  }
  return {k, cost, k, cost};
}

void ReverseWithin::Apply(Solution& solution, const Move& move) {
  Reverse(solution.MutableNodes(move.k), move.first, move.last);
}

}  // namespace tarsel
