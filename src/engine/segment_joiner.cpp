#include "engine/segment_joiner.h"

namespace tarsel {

SegmentJoiner::Ends SegmentJoiner::Moved(const Solution& solution, size_t source, size_t i, size_t count, size_t k,
                                         bool reversed) const {
  const std::vector<size_t>& nodes = solution.Route(source).nodes;
  const size_t last = i + count - 1;
  if (!reversed) return {solution.SegmentFor(source, i, last, k), nodes[i], nodes[last]};
  Ends moved = Node(nodes[last]);
  for (size_t q = last; q-- > i;) moved = Link(k, moved, Node(nodes[q]));
  return moved;
}

double SegmentJoiner::Replace(const Solution& solution, size_t k, size_t j, size_t node, size_t p,
                              const PenaltyWeights& weights) const {
  Ends route;
  if (p == j || p == j + 1) {
    route = Link(k, Link(k, Prefix(solution, k, j - 1), Node(node)), Suffix(solution, k, j + 1));
  } else if (p < j) {
    route = Link(k, Prefix(solution, k, p - 1), Node(node));
    route = Link(k, Link(k, route, Between(solution, k, p, j - 1)), Suffix(solution, k, j + 1));
  } else {
    route = Link(k, Prefix(solution, k, j - 1), Between(solution, k, j + 1, p - 1));
    route = Link(k, Link(k, route, Node(node)), Suffix(solution, k, p));
  }
  return Cost(k, route, weights);
}

}  // namespace tarsel
