#pragma once

#include <cstddef>
#include <vector>

#include "engine/route_rules.h"
#include "engine/route_segments.h"
#include "engine/solution.h"
#include "routes/segment.h"

namespace tarsel {

// The joining of stored segments that every move operator prices with: a
// candidate route is the concatenation of a route's stored prefix, suffix
// and inner segments around the few nodes a move changes, in O(1) (a moved
// segment of a few targets is re-priced for the receiving agent's matrix,
// O(its length)). Costs are `RouteRules::Cost` of the joined route
// (kInfeasible when the route rules reject it); whether the agent may serve
// the targets it receives is the caller's check.
class SegmentJoiner {
 public:
  // A segment of a candidate route with its first and last node.
  struct Ends {
    Segment segment;
    size_t first = 0;
    size_t last = 0;
  };

  SegmentJoiner(const RouteRules& rules, const RouteSegments& segments) : rules_(rules), segments_(segments) {}

  const RouteRules& Rules() const { return rules_; }
  const RouteSegments& Segments() const { return segments_; }

  Ends Link(size_t k, const Ends& left, const Ends& right) const {
    return {rules_.Join(k, left.segment, left.last, right.first, right.segment), left.first, right.last};
  }
  // nodes[0..i] and nodes[i..end] of route k.
  Ends Prefix(const Solution& solution, size_t k, size_t i) const {
    const EngineRoute& route = solution.Route(k);
    return {route.prefix[i], route.nodes[0], route.nodes[i]};
  }
  Ends Suffix(const Solution& solution, size_t k, size_t i) const {
    const EngineRoute& route = solution.Route(k);
    return {route.suffix[i], route.nodes[i], route.nodes.back()};
  }
  // nodes[from..to] of route k for its own agent.
  Ends Between(const Solution& solution, size_t k, size_t from, size_t to) const {
    const std::vector<size_t>& nodes = solution.Route(k).nodes;
    return {segments_.Between(k, from, to), nodes[from], nodes[to]};
  }
  Ends Node(size_t node) const { return {rules_.NodeSeg(node), node, node}; }
  // The segment i..i+count-1 of route `source` (reversed or not) priced for agent k.
  Ends Moved(const Solution& solution, size_t source, size_t i, size_t count, size_t k, bool reversed) const;
  double Cost(size_t k, const Ends& route, const PenaltyWeights& weights) const {
    return rules_.Cost(k, route.segment, weights);
  }

  // Route k without the segment of `count` targets at i..i+count-1.
  double Without(const Solution& solution, size_t k, size_t i, size_t count, const PenaltyWeights& weights) const {
    return Cost(k, Link(k, Prefix(solution, k, i - 1), Suffix(solution, k, i + count)), weights);
  }
  // Route k with `node` inserted before position `at` (1..length-1).
  double WithNode(const Solution& solution, size_t k, size_t at, size_t node, const PenaltyWeights& weights) const {
    const Ends head = Link(k, Prefix(solution, k, at - 1), Node(node));
    return Cost(k, Link(k, head, Suffix(solution, k, at)), weights);
  }
  // Route k with the target at j removed and `node` inserted before
  // position p (p == j or p == j + 1: in j's place).
  double Replace(const Solution& solution, size_t k, size_t j, size_t node, size_t p,
                 const PenaltyWeights& weights) const;

 private:
  const RouteRules& rules_;
  const RouteSegments& segments_;
};

}  // namespace tarsel
