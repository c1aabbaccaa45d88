#pragma once

#include <cstddef>
#include <vector>

#include "engine/route_segments.h"
#include "engine/route_rules.h"
#include "routes/segment.h"
#include "engine/solution.h"

namespace tarsel {

// Prices the route a move would give one agent, in O(1) per move, by
// joining stored prefix, suffix and inner segments around the few nodes
// that move (a moved segment of up to a few targets is re-priced for the
// receiving agent's matrix, which is O(its length)). Each returns
// `RouteRules::RouteCost` of the new route (kInfeasible when the route
// rules reject it); whether the agent may serve the targets it receives is
// the caller's check. Positions index the route's nodes (0: start). The
// matching `...Nodes` functions write the node sequence of the same move, so
// that a chosen move is applied exactly as it was priced.
class MovePricer {
 public:
  MovePricer(const RouteRules& rules, const RouteSegments& segments);

  // Route k without the segment of `count` targets at i..i+count-1.
  double RemoveSegment(const Solution& solution, size_t k, size_t i, size_t count,
                   const PenaltyWeights& weights) const;
  // Route k with `node` inserted before position `at` (1..length-1).
  double InsertNode(const Solution& solution, size_t k, size_t at, size_t node,
                    const PenaltyWeights& weights) const;
  // Route k with the segment i..i+count-1 of route `source` (reversed or not)
  // inserted before position `at` of route k (source != k).
  double InsertSegment(const Solution& solution, size_t k, size_t at, size_t source, size_t i, size_t count,
                   bool reversed, const PenaltyWeights& weights) const;
  // Route a keeping nodes 0..i and taking the targets after position j of
  // route b, then a's own end (the half of a 2-opt* exchange seen from a).
  double TailExchange(const Solution& solution, size_t a, size_t i, size_t b, size_t j,
                      const PenaltyWeights& weights) const;
  // Route k with the target at j removed and `node` inserted before
  // position p (p == j or p == j + 1: in j's place).
  double Replace(const Solution& solution, size_t k, size_t j, size_t node, size_t p,
                 const PenaltyWeights& weights) const;
  // Route k with the segment i..i+count-1 (reversed or not) moved right after
  // the node at `after` (outside i-1..i+count-1, before the end).
  double MoveSegmentWithin(const Solution& solution, size_t k, size_t i, size_t count, size_t after,
                       bool reversed, const PenaltyWeights& weights) const;
  // Route k with the targets at i < j exchanged.
  double SwapWithin(const Solution& solution, size_t k, size_t i, size_t j,
                    const PenaltyWeights& weights) const;
  // Route k with nodes first+1..last reversed (2-opt). O(1) when the
  // agent's matrix is symmetric and no target has a window; otherwise the
  // route is built in `scratch` and evaluated in full.
  double ReverseWithin(const Solution& solution, size_t k, size_t first, size_t last,
                       std::vector<size_t>& scratch, const PenaltyWeights& weights) const;

  static void RemoveSegmentNodes(const std::vector<size_t>& nodes, size_t i, size_t count,
                             std::vector<size_t>& out);
  static void InsertSegmentNodes(const std::vector<size_t>& nodes, size_t at, const std::vector<size_t>& source,
                             size_t i, size_t count, bool reversed, std::vector<size_t>& out);
  static void TailExchangeNodes(const std::vector<size_t>& nodes_a, size_t i,
                                const std::vector<size_t>& nodes_b,
                                size_t j, std::vector<size_t>& out);
  static void ReplaceNodes(const std::vector<size_t>& nodes, size_t j, size_t node, size_t p,
                           std::vector<size_t>& out);
  static void MoveSegmentWithinNodes(const std::vector<size_t>& nodes, size_t i, size_t count, size_t after,
                                 bool reversed, std::vector<size_t>& out);
  static void SwapWithinNodes(const std::vector<size_t>& nodes, size_t i, size_t j, std::vector<size_t>& out);
  static void ReverseWithinNodes(const std::vector<size_t>& nodes, size_t first, size_t last,
                                 std::vector<size_t>& out);

 private:
  // A segment of a candidate route with its first and last node.
  struct SegmentEnds {
    Segment segment;
    size_t first = 0;
    size_t last = 0;
  };
  SegmentEnds Link(size_t k, const SegmentEnds& left, const SegmentEnds& right) const {
    return {rules_.Join(k, left.segment, left.last, right.first, right.segment), left.first, right.last};
  }
  SegmentEnds Prefix(const Solution& solution, size_t k, size_t i) const;
  SegmentEnds Suffix(const Solution& solution, size_t k, size_t i) const;
  SegmentEnds Between(const Solution& solution, size_t k, size_t from, size_t to) const;
  SegmentEnds Node(size_t node) const { return {rules_.NodeSeg(node), node, node}; }
  // The segment i..i+count-1 of route `source` (reversed or not) priced for agent k.
  SegmentEnds Moved(const Solution& solution, size_t source, size_t i, size_t count, size_t k, bool reversed) const;

  const RouteRules& rules_;
  const RouteSegments& segments_;
  std::vector<char> reversible_;  // per agent: reversing a segment of targets keeps its summary
};

}  // namespace tarsel
