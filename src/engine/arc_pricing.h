#pragma once

#include <cstddef>
#include <vector>

#include "engine/arc_table.h"
#include "engine/route_rules.h"
#include "engine/route_segments.h"
#include "engine/solution.h"
#include "routes/penalty_weights.h"

namespace tarsel {

// Moves priced from the arcs they change, for instances whose only soft
// rule is the capacity: no node has a window and no agent a length limit.
// A route's cost is then its travel plus its weighted overload, so the new
// cost of a route a move changes follows from a few arcs and the demand it
// gains or loses, in O(1) without joining segments. Each call returns the
// change of the total cost of the routes the move changes under the given
// weights (+inf when a route would use a missing arc or, without active
// weights, break its capacity), or -inf when it cannot price the move this
// way (2-opt* between agents of different types, reversals where the
// direction changes the cost). The local search uses it to drop moves that
// cannot improve before pricing them with the segments. Positions are
// those of the operators of the same name; nothing is checked beyond them
// (which agent may serve which target is the operators' check).
// Whether the instance has neither windows nor length limits.
bool WithoutWindowsAndLimits(const RouteRules& rules);

// `from` plus the travel route k's agent adds by visiting `node` between
// the nodes at positions p-1 and p of `route` (two arcs in, the one between
// them out, that from the route's stored prefixes); `blocked` when either
// new arc is missing.
inline double TravelWithNode(const ArcTable& arcs, const EngineRoute& route, size_t k, size_t node, size_t p,
                             double from, bool& blocked) {
  bool in_blocked = false;
  bool out_blocked = false;
  const double travel = from + arcs.Travel(k, route.nodes[p - 1], node, in_blocked) +
                        arcs.Travel(k, node, route.nodes[p], out_blocked) -
                        (route.prefix[p].duration - route.prefix[p - 1].duration);
  blocked = in_blocked || out_blocked;
  return travel;
}

// On such an instance, for a route k without missing arcs (those of a
// solution being built or searched): the cheapest place of `node` in it (before
// position low..high, the exact cost's travel from the arcs, its overload
// the same at every place) and its cost under `weights`; kInfeasible and
// `position` unchanged when every place uses a missing arc or, without
// active weights, the load breaks the capacity.
double CheapestInsertionByArcs(const ArcTable& arcs, const EngineRoute& route, size_t k, size_t node, size_t low,
                               size_t high, const PenaltyWeights& weights, size_t& position);

class ArcPricing {
 public:
  ArcPricing(const RouteRules& rules, const RouteSegments& segments)
      : rules_(rules), arcs_(rules), segments_(segments), applicable_(WithoutWindowsAndLimits(rules)) {}

  // Whether the instance has neither windows nor length limits.
  bool Applicable() const { return applicable_; }

  // Targets i..i+count-1 of route a moved before position `at` of route b
  // (b != a), reversed or not, in two steps: the segment taken out of
  // route a (once for all its places), then put in at one place.
  struct Removal {
    size_t a = 0, i = 0, count = 0;
    double change = 0;  // route a's cost change
    double load = 0;    // the segment's demand
  };
  Removal Remove(const Solution& solution, size_t a, size_t i, size_t count, const PenaltyWeights& weights) const;
  double Insert(const Solution& solution, const Removal& removal, size_t b, size_t at, bool reversed,
                const PenaltyWeights& weights) const;
  // The same once more, for the loop that tries one removed segment at
  // many places of route b: what every place shares (the segment's ends and
  // its travel each way for b's agent, route b's travel and the cost of its
  // load with the segment) prepared once, then each place priced from its
  // two new arcs and the one it breaks. The values are Insert's, bit for bit.
  struct Insertion {
    size_t b = 0;
    size_t first = 0, last = 0;  // the segment's first and last node, in route a's order
    double inner[2] = {0, 0};    // its travel for b's agent: in order, reversed
    bool inner_blocked[2] = {false, false};
    double change = 0;           // route a's cost change
    double duration = 0;         // route b's travel now
    double load_cost = 0;        // route b's overload cost with the segment (+inf: not allowed)
    double cost = 0;             // route b's cost now
  };
  Insertion Prepare(const Solution& solution, const Removal& removal, size_t b, const PenaltyWeights& weights) const;
  double InsertPrepared(const Solution& solution, const Insertion& insertion, size_t at, bool reversed) const {
    const EngineRoute& rb = solution.Route(insertion.b);
    const std::vector<size_t>& nb = rb.nodes;
    bool blocked = insertion.inner_blocked[reversed ? 1 : 0];
    const size_t first_moved = reversed ? insertion.last : insertion.first;
    const size_t last_moved = reversed ? insertion.first : insertion.last;
    const double duration = insertion.duration - Stored(rb, at - 1, at) + Arc(insertion.b, nb[at - 1], first_moved, blocked) +
                            insertion.inner[reversed ? 1 : 0] + Arc(insertion.b, last_moved, nb[at], blocked);
    // ArcRouteCost with the load's term prepared once: the same sums.
    const double cost = blocked ? RouteRules::kInfeasible : duration + insertion.load_cost;
    return insertion.change + cost - insertion.cost;
  }
  // The target at i of route a and the one at j of route b (b != a)
  // exchanged; `change_a`, when given, receives route a's part of the change.
  double Swap(const Solution& solution, size_t a, size_t i, size_t b, size_t j, const PenaltyWeights& weights,
              double* change_a = nullptr) const;
  // 2-opt*: route a keeps nodes 0..i, route b nodes 0..j, they exchange the
  // targets after them; `change_a` as for Swap.
  double Tails(const Solution& solution, size_t a, size_t i, size_t b, size_t j, const PenaltyWeights& weights,
               double* change_a = nullptr) const;
  // Within route k (its load and so its overload unchanged): targets
  // i..i+count-1 moved behind position `after`, in two steps: the arcs
  // around them replaced by the one joining their neighbours (once for all
  // places of the segment; +inf when that arc is missing), then the
  // segment put back behind `after`, `removed` being the first step's
  // change; the targets at i < j exchanged; nodes first+1..last reversed.
  double RemoveWithin(const Solution& solution, size_t k, size_t i, size_t count) const;
  double InsertWithin(const Solution& solution, size_t k, size_t i, size_t count, size_t after, bool reversed,
                      double removed) const;
  double SwapWithin(const Solution& solution, size_t k, size_t i, size_t j) const;
  double ReverseWithin(const Solution& solution, size_t k, size_t first, size_t last) const;

 private:
  // Agent k's arc u -> v; sets `blocked` when it is missing (never clears it).
  double Arc(size_t k, size_t u, size_t v, bool& blocked) const {
    bool missing = false;
    const double travel = arcs_.Travel(k, u, v, missing);
    blocked = blocked || missing;
    return travel;
  }
  // The travel inside nodes[from..to] for agent k, in that order or reversed.
  double Inner(size_t k, const std::vector<size_t>& nodes, size_t from, size_t to, bool reversed,
               bool& blocked) const;
  // The travel from nodes[from] to nodes[to] of a route, from its stored
  // prefixes (without windows a prefix's duration is its travel).
  static double Stored(const EngineRoute& route, size_t from, size_t to) {
    return route.prefix[to].duration - route.prefix[from].duration;
  }
  // Demand of nodes[from..to].
  double Demand(const std::vector<size_t>& nodes, size_t from, size_t to) const;
  // Cost under `weights` of a route of agent k with this travel and load.
  double Cost(size_t k, double duration, double load, bool blocked, const PenaltyWeights& weights) const {
    return ArcRouteCost(rules_, k, duration, load, blocked, weights);
  }

  const RouteRules& rules_;
  ArcTable arcs_;
  const RouteSegments& segments_;
  bool applicable_;
};

}  // namespace tarsel
