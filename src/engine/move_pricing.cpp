#include "engine/move_pricing.h"

#include <algorithm>

namespace tarsel {

namespace {

// Whether a segment of targets costs the same in both directions for type
// `type`: a symmetric matrix and no target window (waiting depends on the
// direction otherwise).
bool ReversalKeepsCost(const RouteRules& rules, size_t type) {
  const InstanceTables& tables = rules.Tables();
  for (size_t u : rules.Targets()) {
    if (tables.Window(u) != nullptr) return false;
    for (size_t v : rules.Targets()) {
      if (v < u && tables.Cost(type, u, v) != tables.Cost(type, v, u)) return false;
    }
  }
  return true;
}

}  // namespace

MovePricer::MovePricer(const RouteRules& rules, const RouteSegments& segments)
    : rules_(rules), segments_(segments), reversible_(rules.NumAgents(), 0) {
  std::vector<size_t> checked_types;
  std::vector<char> checked_answers;
  for (size_t k = 0; k < rules.NumAgents(); ++k) {
    const size_t type = rules.Agent(k).type;
    const auto found = std::find(checked_types.begin(), checked_types.end(), type);
    if (found != checked_types.end()) {
      reversible_[k] = checked_answers[static_cast<size_t>(found - checked_types.begin())];
      continue;
    }
    reversible_[k] = ReversalKeepsCost(rules, type) ? 1 : 0;
    checked_types.push_back(type);
    checked_answers.push_back(reversible_[k]);
  }
}

MovePricer::SegmentEnds MovePricer::Prefix(const Solution& solution, size_t k, size_t i) const {
  const EngineRoute& route = solution.Route(k);
  return {route.prefix[i], route.nodes[0], route.nodes[i]};
}

MovePricer::SegmentEnds MovePricer::Suffix(const Solution& solution, size_t k, size_t i) const {
  const EngineRoute& route = solution.Route(k);
  return {route.suffix[i], route.nodes[i], route.nodes.back()};
}

MovePricer::SegmentEnds MovePricer::Between(const Solution& solution, size_t k, size_t from, size_t to) const {
  const std::vector<size_t>& nodes = solution.Route(k).nodes;
  return {segments_.Between(k, from, to), nodes[from], nodes[to]};
}

MovePricer::SegmentEnds MovePricer::Moved(const Solution& solution, size_t source, size_t i, size_t count, size_t k,
                                 bool reversed) const {
  const std::vector<size_t>& nodes = solution.Route(source).nodes;
  const size_t last = i + count - 1;
  if (!reversed) return {solution.SegmentFor(source, i, last, k), nodes[i], nodes[last]};
  SegmentEnds moved = Node(nodes[last]);
  for (size_t q = last; q-- > i;) moved = Link(k, moved, Node(nodes[q]));
  return moved;
}

double MovePricer::RemoveSegment(const Solution& solution, size_t k, size_t i, size_t count,
                             const PenaltyWeights& weights) const {
  return rules_.Cost(k, Link(k, Prefix(solution, k, i - 1), Suffix(solution, k, i + count)).segment, weights);
}

double MovePricer::InsertNode(const Solution& solution, size_t k, size_t at, size_t node,
                              const PenaltyWeights& weights) const {
  const SegmentEnds head = Link(k, Prefix(solution, k, at - 1), Node(node));
  return rules_.Cost(k, Link(k, head, Suffix(solution, k, at)).segment, weights);
}

double MovePricer::InsertSegment(const Solution& solution, size_t k, size_t at, size_t source, size_t i,
                             size_t count, bool reversed, const PenaltyWeights& weights) const {
  const SegmentEnds head = Link(k, Prefix(solution, k, at - 1), Moved(solution, source, i, count, k, reversed));
  return rules_.Cost(k, Link(k, head, Suffix(solution, k, at)).segment, weights);
}

double MovePricer::TailExchange(const Solution& solution, size_t a, size_t i, size_t b, size_t j,
                                const PenaltyWeights& weights) const {
  const std::vector<size_t>& nodes_b = solution.Route(b).nodes;
  const size_t last_b = nodes_b.size() - 2;  // last target of b (0: none)
  SegmentEnds route = Prefix(solution, a, i);
  if (j + 1 <= last_b) {
    const SegmentEnds tail{segments_.TargetTail(b, segments_.SlotOf(a), j + 1), nodes_b[j + 1], nodes_b[last_b]};
    route = Link(a, route, tail);
  }
  return rules_.Cost(a, Link(a, route, Node(solution.Route(a).nodes.back())).segment, weights);
}

double MovePricer::Replace(const Solution& solution, size_t k, size_t j, size_t node, size_t p,
                           const PenaltyWeights& weights) const {
  SegmentEnds route;
  if (p == j || p == j + 1) {
    route = Link(k, Link(k, Prefix(solution, k, j - 1), Node(node)), Suffix(solution, k, j + 1));
  } else if (p < j) {
    route = Link(k, Prefix(solution, k, p - 1), Node(node));
    route = Link(k, Link(k, route, Between(solution, k, p, j - 1)), Suffix(solution, k, j + 1));
  } else {
    route = Link(k, Prefix(solution, k, j - 1), Between(solution, k, j + 1, p - 1));
    route = Link(k, Link(k, route, Node(node)), Suffix(solution, k, p));
  }
  return rules_.Cost(k, route.segment, weights);
}

double MovePricer::MoveSegmentWithin(const Solution& solution, size_t k, size_t i, size_t count, size_t after,
                                 bool reversed, const PenaltyWeights& weights) const {
  const SegmentEnds moved = reversed ? Moved(solution, k, i, count, k, true) : Between(solution, k, i, i + count - 1);
  SegmentEnds route;
  if (after < i) {
    route = Link(k, Prefix(solution, k, after), moved);
    route = Link(k, route, Between(solution, k, after + 1, i - 1));
    route = Link(k, route, Suffix(solution, k, i + count));
  } else {
    route = Link(k, Prefix(solution, k, i - 1), Between(solution, k, i + count, after));
    route = Link(k, Link(k, route, moved), Suffix(solution, k, after + 1));
  }
  return rules_.Cost(k, route.segment, weights);
}

double MovePricer::SwapWithin(const Solution& solution, size_t k, size_t i, size_t j,
                              const PenaltyWeights& weights) const {
  const std::vector<size_t>& nodes = solution.Route(k).nodes;
  SegmentEnds route = Link(k, Prefix(solution, k, i - 1), Node(nodes[j]));
  if (j > i + 1) route = Link(k, route, Between(solution, k, i + 1, j - 1));
  route = Link(k, Link(k, route, Node(nodes[i])), Suffix(solution, k, j + 1));
  return rules_.Cost(k, route.segment, weights);
}

double MovePricer::ReverseWithin(const Solution& solution, size_t k, size_t first, size_t last,
                                 std::vector<size_t>& scratch, const PenaltyWeights& weights) const {
  const std::vector<size_t>& nodes = solution.Route(k).nodes;
  if (reversible_[k] == 0) {
    ReverseWithinNodes(nodes, first, last, scratch);
    return rules_.ExactCost(k, scratch, weights);
  }
  // Same segment backwards: only its end nodes swap places.
  const SegmentEnds reversed{segments_.Between(k, first + 1, last), nodes[last], nodes[first + 1]};
  const SegmentEnds route = Link(k, Link(k, Prefix(solution, k, first), reversed), Suffix(solution, k, last + 1));
  return rules_.Cost(k, route.segment, weights);
}

void MovePricer::RemoveSegmentNodes(const std::vector<size_t>& nodes, size_t i, size_t count,
                                std::vector<size_t>& out) {
  out.assign(nodes.begin(), nodes.begin() + static_cast<std::ptrdiff_t>(i));
  out.insert(out.end(), nodes.begin() + static_cast<std::ptrdiff_t>(i + count), nodes.end());
}

void MovePricer::InsertSegmentNodes(const std::vector<size_t>& nodes, size_t at, const std::vector<size_t>& source,
                                size_t i, size_t count, bool reversed, std::vector<size_t>& out) {
  out.assign(nodes.begin(), nodes.begin() + static_cast<std::ptrdiff_t>(at));
  for (size_t q = 0; q < count; ++q) out.push_back(source[reversed ? i + count - 1 - q : i + q]);
  out.insert(out.end(), nodes.begin() + static_cast<std::ptrdiff_t>(at), nodes.end());
}

void MovePricer::TailExchangeNodes(const std::vector<size_t>& nodes_a, size_t i,
                                   const std::vector<size_t>& nodes_b,
                                   size_t j, std::vector<size_t>& out) {
  out.assign(nodes_a.begin(), nodes_a.begin() + static_cast<std::ptrdiff_t>(i + 1));
  out.insert(out.end(), nodes_b.begin() + static_cast<std::ptrdiff_t>(j + 1), nodes_b.end() - 1);
  out.push_back(nodes_a.back());
}

void MovePricer::ReplaceNodes(const std::vector<size_t>& nodes, size_t j, size_t node, size_t p,
                              std::vector<size_t>& out) {
  out = nodes;
  out.erase(out.begin() + static_cast<std::ptrdiff_t>(j));
  const size_t at = p <= j ? p : p - 1;
  out.insert(out.begin() + static_cast<std::ptrdiff_t>(at), node);
}

void MovePricer::MoveSegmentWithinNodes(const std::vector<size_t>& nodes, size_t i, size_t count, size_t after,
                                    bool reversed, std::vector<size_t>& out) {
  out.clear();
  auto copy = [&](size_t from, size_t to) {  // nodes[from..to), empty when to <= from
    for (size_t q = from; q < to; ++q) out.push_back(nodes[q]);
  };
  auto moved = [&] {
    for (size_t q = 0; q < count; ++q) out.push_back(nodes[reversed ? i + count - 1 - q : i + q]);
  };
  if (after < i) {
    copy(0, after + 1);
    moved();
    copy(after + 1, i);
    copy(i + count, nodes.size());
  } else {
    copy(0, i);
    copy(i + count, after + 1);
    moved();
    copy(after + 1, nodes.size());
  }
}

void MovePricer::SwapWithinNodes(const std::vector<size_t>& nodes, size_t i, size_t j,
                                 std::vector<size_t>& out) {
  out = nodes;
  std::swap(out[i], out[j]);
}

void MovePricer::ReverseWithinNodes(const std::vector<size_t>& nodes, size_t first, size_t last,
                                    std::vector<size_t>& out) {
  out = nodes;
  std::reverse(out.begin() + static_cast<std::ptrdiff_t>(first) + 1,
               out.begin() + static_cast<std::ptrdiff_t>(last) + 1);
}

}  // namespace tarsel
