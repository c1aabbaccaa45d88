#include "engine/relocate_pair.h"

#include "common/special_values.h"

namespace tarsel {

void RelocatePair::AppendPiece(size_t k, const SegmentJoiner::Ends& piece, SegmentJoiner::Ends& route,
                               bool& started) const {
  route = started ? joiner_.Link(k, route, piece) : piece;
  started = true;
}

void RelocatePair::Append(const Solution& solution, size_t k, size_t from, size_t to, size_t skip_i,
                          size_t skip_j, SegmentJoiner::Ends& route, bool& started) const {
  const size_t last = solution.Route(k).nodes.size() - 1;
  size_t low = from;
  while (low <= to) {
    if (low == skip_i || low == skip_j) {
      ++low;
      continue;
    }
    size_t high = low;
    while (high < to && high + 1 != skip_i && high + 1 != skip_j) ++high;
    // The stored prefix and suffix cover a run from the start or to the
    // end in O(1); inner runs are joined from the stored windows.
    const SegmentJoiner::Ends piece = low == 0       ? joiner_.Prefix(solution, k, high)
                                      : high == last ? joiner_.Suffix(solution, k, low)
                                                     : joiner_.Between(solution, k, low, high);
    AppendPiece(k, piece, route, started);
    low = high + 1;
  }
}

double RelocatePair::Removed(const Solution& solution, size_t a, size_t i, size_t j,
                             const PenaltyWeights& weights) const {
  SegmentJoiner::Ends route;
  bool started = false;
  Append(solution, a, 0, solution.Route(a).nodes.size() - 1, i, j, route, started);
  return joiner_.Cost(a, route, weights);
}

double RelocatePair::Inserted(const Solution& solution, const Move& move, const PenaltyWeights& weights) const {
  const std::vector<size_t>& source = solution.Route(move.a).nodes;
  // Within one route, the places index the route without the pair.
  const bool within = move.b == move.a;
  return WithPair(solution, move.b, within ? move.i : kNoIndex, within ? move.j : kNoIndex, source[move.i],
                  source[move.j], move.p, move.q, weights);
}

double RelocatePair::WithPair(const Solution& solution, size_t k, size_t skip_i, size_t skip_j, size_t first,
                              size_t second, size_t p, size_t q, const PenaltyWeights& weights) const {
  // A place of the route without the skipped nodes, as a stored position.
  auto stored = [&](size_t place) {
    if (place >= skip_i) ++place;
    if (place >= skip_j) ++place;
    return place;
  };
  const size_t last = solution.Route(k).nodes.size() - 1;
  const size_t at_p = stored(p);
  const size_t at_q = stored(q);
  SegmentJoiner::Ends route;
  bool started = false;
  Append(solution, k, 0, at_p - 1, skip_i, skip_j, route, started);
  AppendPiece(k, joiner_.Node(first), route, started);
  if (q > p) Append(solution, k, at_p, at_q - 1, skip_i, skip_j, route, started);
  AppendPiece(k, joiner_.Node(second), route, started);
  Append(solution, k, at_q, last, skip_i, skip_j, route, started);
  return joiner_.Cost(k, route, weights);
}

MoveCosts RelocatePair::Evaluate(const Solution& solution, const Move& move, const PenaltyWeights& weights) const {
  MoveCosts costs{move.a, RouteRules::kInfeasible, move.b, RouteRules::kInfeasible};
  if (move.b == move.a) {
    costs.cost_a = costs.cost_b = Inserted(solution, move, weights);
    return costs;
  }
  const RouteRules& rules = joiner_.Rules();
  const std::vector<size_t>& nodes = solution.Route(move.a).nodes;
  if (!rules.CanServe(move.b, nodes[move.i]) || !rules.CanServe(move.b, nodes[move.j])) return costs;
  costs.cost_a = Removed(solution, move.a, move.i, move.j, weights);
  if (costs.cost_a < RouteRules::kInfeasible) costs.cost_b = Inserted(solution, move, weights);
  return costs;
}

void RelocatePair::Apply(Solution& solution, const Move& move) {
  std::vector<size_t>& from = solution.MutableNodes(move.a);
  const size_t first = from[move.i];
  const size_t second = from[move.j];
  from.erase(from.begin() + static_cast<std::ptrdiff_t>(move.j));
  from.erase(from.begin() + static_cast<std::ptrdiff_t>(move.i));
  std::vector<size_t>& to = solution.MutableNodes(move.b);
  to.insert(to.begin() + static_cast<std::ptrdiff_t>(move.q), second);
  to.insert(to.begin() + static_cast<std::ptrdiff_t>(move.p), first);
}

}  // namespace tarsel
