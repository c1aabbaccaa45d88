#pragma once

#include <algorithm>
#include <cstddef>
#include <vector>

#include "engine/engine_settings.h"
#include "engine/route_rules.h"
#include "routes/segment.h"
#include "engine/solution.h"

namespace tarsel {

// The segments inside every route, for pricing moves where a route's own
// prefix and suffix are not enough: the segment nodes[from..to]
// of route k for its own agent (relocations within a route, SWAP*), and the
// targets from a position to the last target of route k priced for each
// agent type (tails handed to another route by 2-opt*), and on routes of
// more than kLongRouteTargets targets the same inner segments travelled
// backwards (2-opt and reversed segment moves priced without a walk).
// Refreshed per route by the local search after every change it makes.
class RouteSegments {
 public:
  RouteSegments(const RouteRules& rules, const std::vector<size_t>& types);

  void RefreshAll(const Solution& solution);
  void Refresh(const Solution& solution, size_t k);

  // Segments of up to this many nodes are stored; a longer one is joined
  // from stored segments, one per this many nodes. Memory and refresh time
  // grow with length x window instead of length squared, which matters for
  // routes of hundreds or thousands of targets.
  static constexpr size_t kWindow = 64;
  // A route's stores keep room for at most twice its nodes, and for this
  // many nodes however short it gets, so that routes emptied and refilled
  // by the moves do not allocate again and again.
  static constexpr size_t kKeptNodes = 16;

  // nodes[from..to] of route k for agent k, 1 <= from <= to < length: O(1)
  // for segments of up to kWindow nodes, O((to - from) / kWindow) beyond.
  Segment Between(size_t k, size_t from, size_t to) const {
    const std::vector<Segment>& between = between_[k];
    if (to - from < kWindow) return between[from * kWindow + (to - from)];
    const std::vector<size_t>& nodes = nodes_[k];
    Segment joined = between[from * kWindow + kWindow - 1];
    for (size_t at = from + kWindow; at <= to; at += kWindow) {
      const size_t last = std::min(to, at + kWindow - 1);
      joined = rules_.Join(k, joined, nodes[at - 1], nodes[at], between[at * kWindow + (last - at)]);
    }
    return joined;
  }
  // Whether a reversed segment of route k is priced from stored summaries
  // (the route had more than kLongRouteTargets targets at its last refresh).
  bool PricesReversal(size_t k) const { return long_[k] != 0; }
  // Whether a segment of targets costs the same in both directions for
  // agent k: a symmetric matrix and no target window.
  bool ReversalKeepsCost(size_t k) const { return keeps_cost_[k] != 0; }
  // nodes[to], nodes[to-1], ..., nodes[from] of route k for agent k, for a
  // route that PricesReversal, 1 <= from <= to < length: O(1) for up to
  // kWindow nodes, O((to - from) / kWindow) beyond.
  Segment ReversedBetween(size_t k, size_t from, size_t to) const {
    if (keeps_cost_[k] != 0) return Between(k, from, to);
    const std::vector<Segment>& reversed = reversed_[k];
    if (to - from < kWindow) return reversed[from * kWindow + (to - from)];
    // Stored pieces of kWindow nodes, the rightmost first.
    const std::vector<size_t>& nodes = nodes_[k];
    size_t at = from + (to - from) / kWindow * kWindow;
    Segment joined = reversed[at * kWindow + (to - at)];
    while (at > from) {
      at -= kWindow;
      joined = rules_.Join(k, joined, nodes[at + kWindow], nodes[at + kWindow - 1],
                           reversed[at * kWindow + kWindow - 1]);
    }
    return joined;
  }
  // Type slot of agent k (index into the types given at construction).
  size_t SlotOf(size_t k) const { return slot_of_[k]; }
  // Targets nodes[from..length-2] of route k priced for the agents of type
  // slot `slot` (from <= length-2), and whether that type may serve all of them.
  const Segment& TargetTail(size_t k, size_t slot, size_t from) const {
    return tails_[k][slot * lengths_[k] + from];
  }
  bool TailServable(size_t k, size_t slot, size_t from) const {
    return tail_servable_[k][slot * lengths_[k] + from] != 0;
  }

 private:
  const RouteRules& rules_;
  std::vector<size_t> slot_of_;         // agent -> type slot
  std::vector<size_t> representative_;  // type slot -> an agent of that type
  std::vector<size_t> lengths_;         // nodes per route at the last refresh
  std::vector<std::vector<size_t>> nodes_;     // route -> its nodes at the last refresh
  std::vector<std::vector<Segment>> between_;  // route -> from * kWindow + (to - from)
  std::vector<std::vector<Segment>> reversed_;  // the same, backwards (long routes, costs by direction)
  std::vector<char> long_;        // per route: more than kLongRouteTargets targets
  std::vector<char> keeps_cost_;  // per agent: ReversalKeepsCost
  std::vector<std::vector<Segment>> tails_;    // route -> slot * length + from
  std::vector<std::vector<char>> tail_servable_;
};

}  // namespace tarsel
