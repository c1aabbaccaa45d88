#pragma once

#include <cstddef>
#include <vector>

#include "engine/route_pieces.h"
#include "engine/route_rules.h"
#include "routes/segment.h"
#include "engine/solution.h"

namespace tarsel {

// Prices the route a move would give one agent, in O(1) per move, by
// joining stored prefix, suffix and stretch segments around the few nodes
// that move (a moved run of up to a few targets is re-priced for the
// receiving agent's matrix, which is O(run)). Each returns
// `RouteRules::RouteCost` of the new route (kInfeasible when the route
// rules reject it); whether the agent may serve the targets it receives is
// the caller's check. Positions index the route's nodes (0: start). The
// matching `...Nodes` functions write the node sequence of the same move, so
// that a chosen move is applied exactly as it was priced.
class MovePricer {
 public:
  MovePricer(const RouteRules& rules, const RoutePieces& pieces);

  // Route k without the run of `count` targets at i..i+count-1.
  double RemoveRun(const Solution& solution, size_t k, size_t i, size_t count,
                   const PenaltyWeights& weights) const;
  // Route k with `node` inserted before position `at` (1..length-1).
  double InsertNode(const Solution& solution, size_t k, size_t at, size_t node,
                    const PenaltyWeights& weights) const;
  // Route k with the run i..i+count-1 of route `source` (reversed or not)
  // inserted before position `at` of route k (source != k).
  double InsertRun(const Solution& solution, size_t k, size_t at, size_t source, size_t i, size_t count,
                   bool reversed, const PenaltyWeights& weights) const;
  // Route a keeping nodes 0..i and taking the targets after position j of
  // route b, then a's own end (the half of a 2-opt* exchange seen from a).
  double TailExchange(const Solution& solution, size_t a, size_t i, size_t b, size_t j,
                      const PenaltyWeights& weights) const;
  // Route k with the target at j removed and `node` inserted before
  // position p (p == j or p == j + 1: in j's place).
  double Replace(const Solution& solution, size_t k, size_t j, size_t node, size_t p,
                 const PenaltyWeights& weights) const;
  // Route k with the run i..i+count-1 (reversed or not) moved right after
  // the node at `after` (outside i-1..i+count-1, before the end).
  double MoveRunWithin(const Solution& solution, size_t k, size_t i, size_t count, size_t after,
                       bool reversed, const PenaltyWeights& weights) const;
  // Route k with the targets at i < j exchanged.
  double SwapWithin(const Solution& solution, size_t k, size_t i, size_t j,
                    const PenaltyWeights& weights) const;
  // Route k with nodes first+1..last reversed (2-opt). O(1) when the
  // agent's matrix is symmetric and no target has a window; otherwise the
  // route is built in `scratch` and evaluated in full.
  double ReverseWithin(const Solution& solution, size_t k, size_t first, size_t last,
                       std::vector<size_t>& scratch, const PenaltyWeights& weights) const;

  static void RemoveRunNodes(const std::vector<size_t>& nodes, size_t i, size_t count,
                             std::vector<size_t>& out);
  static void InsertRunNodes(const std::vector<size_t>& nodes, size_t at, const std::vector<size_t>& source,
                             size_t i, size_t count, bool reversed, std::vector<size_t>& out);
  static void TailExchangeNodes(const std::vector<size_t>& nodes_a, size_t i,
                                const std::vector<size_t>& nodes_b,
                                size_t j, std::vector<size_t>& out);
  static void ReplaceNodes(const std::vector<size_t>& nodes, size_t j, size_t node, size_t p,
                           std::vector<size_t>& out);
  static void MoveRunWithinNodes(const std::vector<size_t>& nodes, size_t i, size_t count, size_t after,
                                 bool reversed, std::vector<size_t>& out);
  static void SwapWithinNodes(const std::vector<size_t>& nodes, size_t i, size_t j, std::vector<size_t>& out);
  static void ReverseWithinNodes(const std::vector<size_t>& nodes, size_t first, size_t last,
                                 std::vector<size_t>& out);

 private:
  // A part of a candidate route: its segment and its first and last node.
  struct Part {
    Segment segment;
    size_t first = 0;
    size_t last = 0;
  };
  Part Link(size_t k, const Part& left, const Part& right) const {
    return {rules_.Join(k, left.segment, left.last, right.first, right.segment), left.first, right.last};
  }
  Part Prefix(const Solution& solution, size_t k, size_t i) const;
  Part Suffix(const Solution& solution, size_t k, size_t i) const;
  Part Stretch(const Solution& solution, size_t k, size_t from, size_t to) const;
  Part Node(size_t node) const { return {rules_.NodeSeg(node), node, node}; }
  // The run i..i+count-1 of route `source` priced for agent k.
  Part Run(const Solution& solution, size_t source, size_t i, size_t count, size_t k, bool reversed) const;

  const RouteRules& rules_;
  const RoutePieces& pieces_;
  std::vector<char> reversible_;  // per agent: reversing a stretch of targets keeps its segment
};

}  // namespace tarsel
