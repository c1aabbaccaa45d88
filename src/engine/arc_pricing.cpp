#include "engine/arc_pricing.h"

#include <cmath>
#include <limits>

namespace tarsel {

namespace {

constexpr double kUnpriced = -std::numeric_limits<double>::infinity();

}  // namespace

bool WithoutWindowsAndLimits(const RouteRules& rules) {
  for (size_t v = 0; v < rules.NumNodes(); ++v) {
    const Segment window = rules.NodeSeg(v);
    if (std::isfinite(window.earliest) || std::isfinite(window.latest)) return false;
  }
  for (size_t k = 0; k < rules.NumAgents(); ++k) {
    if (rules.Agent(k).limit > 0) return false;
  }
  return true;
}

double CheapestInsertionByArcs(const ArcTable& arcs, const EngineRoute& route, size_t k, size_t node, size_t low,
                               size_t high, const PenaltyWeights& weights, size_t& position) {
  double best = std::numeric_limits<double>::infinity();
  size_t best_position = 0;
  for (size_t p = low; p <= high; ++p) {
    bool blocked = false;
    const double added = TravelWithNode(arcs, route, k, node, p, 0.0, blocked);
    if (!blocked && added < best) {
      best = added;
      best_position = p;
    }
  }
  if (best_position == 0) return RouteRules::kInfeasible;
  const RouteRules& rules = arcs.Rules();
  Segment whole;
  whole.duration = route.walk.duration + best;
  whole.load = route.walk.load + rules.NodeSeg(node).load;
  const double cost = rules.Cost(k, whole, weights);
  if (cost < RouteRules::kInfeasible) position = best_position;
  return cost;
}

double ArcPricing::Inner(size_t k, const std::vector<size_t>& nodes, size_t from, size_t to, bool reversed,
                         bool& blocked) const {
  double travel = 0;
  for (size_t q = from; q < to; ++q) {
    travel += reversed ? Arc(k, nodes[q + 1], nodes[q], blocked) : Arc(k, nodes[q], nodes[q + 1], blocked);
  }
  return travel;
}

double ArcPricing::Demand(const std::vector<size_t>& nodes, size_t from, size_t to) const {
  double load = 0;
  for (size_t q = from; q <= to; ++q) load += rules_.NodeSeg(nodes[q]).load;
  return load;
}

ArcPricing::Removal ArcPricing::Remove(const Solution& solution, size_t a, size_t i, size_t count,
                                       const PenaltyWeights& weights) const {
  const EngineRoute& ra = solution.Route(a);
  const std::vector<size_t>& na = ra.nodes;
  const size_t last = i + count - 1;
  bool blocked = false;
  const double duration = ra.walk.duration - Stored(ra, i - 1, last + 1) + Arc(a, na[i - 1], na[last + 1], blocked);
  Removal removal{a, i, count, 0, Demand(na, i, last)};
  removal.change = Cost(a, duration, ra.walk.load - removal.load, blocked, weights) - ra.cost;
  return removal;
}

double ArcPricing::Insert(const Solution& solution, const Removal& removal, size_t b, size_t at, bool reversed,
                          const PenaltyWeights& weights) const {
  const size_t a = removal.a, i = removal.i, last = removal.i + removal.count - 1;
  const EngineRoute& ra = solution.Route(a);
  const EngineRoute& rb = solution.Route(b);
  const std::vector<size_t>& na = ra.nodes;
  const std::vector<size_t>& nb = rb.nodes;
  bool blocked = false;
  const size_t first_moved = reversed ? na[last] : na[i];
  const size_t last_moved = reversed ? na[i] : na[last];
  // The segment's own travel: as stored when the receiving agent travels it
  // the same way.
  const bool same_travel = rules_.Agent(a).type == rules_.Agent(b).type &&
                           (!reversed || segments_.ReversalKeepsCost(a));
  const double inner = same_travel ? Stored(ra, i, last) : Inner(b, na, i, last, reversed, blocked);
  const double duration = rb.walk.duration - Stored(rb, at - 1, at) + Arc(b, nb[at - 1], first_moved, blocked) +
                          inner + Arc(b, last_moved, nb[at], blocked);
  return removal.change + Cost(b, duration, rb.walk.load + removal.load, blocked, weights) - rb.cost;
}

ArcPricing::Insertion ArcPricing::Prepare(const Solution& solution, const Removal& removal, size_t b,
                                          const PenaltyWeights& weights) const {
  const size_t a = removal.a, i = removal.i, last = removal.i + removal.count - 1;
  const EngineRoute& ra = solution.Route(a);
  const EngineRoute& rb = solution.Route(b);
  Insertion insertion;
  insertion.b = b;
  insertion.first = ra.nodes[i];
  insertion.last = ra.nodes[last];
  for (const bool reversed : {false, true}) {
    const bool same_travel = rules_.Agent(a).type == rules_.Agent(b).type &&
                             (!reversed || segments_.ReversalKeepsCost(a));
    bool blocked = false;
    insertion.inner[reversed ? 1 : 0] = same_travel ? Stored(ra, i, last) : Inner(b, ra.nodes, i, last, reversed, blocked);
    insertion.inner_blocked[reversed ? 1 : 0] = blocked;
  }
  insertion.change = removal.change;
  insertion.duration = rb.walk.duration;
  // Cost of a route of no travel with that load: the overload term of
  // ArcRouteCost (0 within the capacity, +inf beyond it without weights).
  insertion.load_cost = ArcRouteCost(rules_, b, 0.0, rb.walk.load + removal.load, false, weights);
  insertion.cost = rb.cost;
  return insertion;
}

double ArcPricing::Swap(const Solution& solution, size_t a, size_t i, size_t b, size_t j,
                        const PenaltyWeights& weights, double* change_a) const {
  const EngineRoute& ra = solution.Route(a);
  const EngineRoute& rb = solution.Route(b);
  const std::vector<size_t>& na = ra.nodes;
  const std::vector<size_t>& nb = rb.nodes;
  const size_t u = na[i];
  const size_t v = nb[j];
  bool blocked = false;
  const double a_duration = ra.walk.duration - Stored(ra, i - 1, i + 1) + Arc(a, na[i - 1], v, blocked) +
                            Arc(a, v, na[i + 1], blocked);
  const double b_duration = rb.walk.duration - Stored(rb, j - 1, j + 1) + Arc(b, nb[j - 1], u, blocked) +
                            Arc(b, u, nb[j + 1], blocked);
  const double exchanged = rules_.NodeSeg(v).load - rules_.NodeSeg(u).load;
  const double a_change = Cost(a, a_duration, ra.walk.load + exchanged, blocked, weights) - ra.cost;
  if (change_a != nullptr) *change_a = a_change;
  return a_change + Cost(b, b_duration, rb.walk.load - exchanged, blocked, weights) - rb.cost;
}

double ArcPricing::Tails(const Solution& solution, size_t a, size_t i, size_t b, size_t j,
                         const PenaltyWeights& weights, double* change_a) const {
  if (rules_.Agent(a).type != rules_.Agent(b).type) return kUnpriced;
  const EngineRoute& ra = solution.Route(a);
  const EngineRoute& rb = solution.Route(b);
  const size_t last_a = ra.nodes.size() - 2;
  const size_t last_b = rb.nodes.size() - 2;
  if (i > last_a || j > last_b) return kUnpriced;
  bool blocked = false;
  // The head of route `k` up to position `keep`, then the targets of route
  // `other` after position `from`, then k's end.
  const auto joined = [&](size_t k, const EngineRoute& own, size_t keep, const EngineRoute& other, size_t from,
                          size_t other_last) {
    const std::vector<size_t>& nodes = own.nodes;
    double duration = own.prefix[keep].duration;
    if (from + 1 <= other_last) {
      duration += Arc(k, nodes[keep], other.nodes[from + 1], blocked) + other.prefix[other_last].duration -
                  other.prefix[from + 1].duration + Arc(k, other.nodes[other_last], nodes.back(), blocked);
    } else {
      duration += Arc(k, nodes[keep], nodes.back(), blocked);
    }
    return duration;
  };
  const double a_duration = joined(a, ra, i, rb, j, last_b);
  const double b_duration = joined(b, rb, j, ra, i, last_a);
  const double a_load = ra.prefix[i].load + rb.walk.load - rb.prefix[j].load;
  const double b_load = rb.prefix[j].load + ra.walk.load - ra.prefix[i].load;
  const double a_change = Cost(a, a_duration, a_load, blocked, weights) - ra.cost;
  if (change_a != nullptr) *change_a = a_change;
  return a_change + Cost(b, b_duration, b_load, blocked, weights) - rb.cost;
}

double ArcPricing::RemoveWithin(const Solution& solution, size_t k, size_t i, size_t count) const {
  const EngineRoute& route = solution.Route(k);
  const std::vector<size_t>& nodes = route.nodes;
  const size_t last = i + count - 1;
  bool blocked = false;
  const double change =
      Arc(k, nodes[i - 1], nodes[last + 1], blocked) - Stored(route, i - 1, i) - Stored(route, last, last + 1);
  return blocked ? RouteRules::kInfeasible : change;
}

double ArcPricing::InsertWithin(const Solution& solution, size_t k, size_t i, size_t count, size_t after,
                                bool reversed, double removed) const {
  if (!(removed < RouteRules::kInfeasible)) return RouteRules::kInfeasible;
  const EngineRoute& route = solution.Route(k);
  const std::vector<size_t>& nodes = route.nodes;
  const size_t last = i + count - 1;
  bool blocked = false;
  const size_t first_moved = reversed ? nodes[last] : nodes[i];
  const size_t last_moved = reversed ? nodes[i] : nodes[last];
  double change = removed - Stored(route, after, after + 1) + Arc(k, nodes[after], first_moved, blocked) +
                  Arc(k, last_moved, nodes[after + 1], blocked);
  if (reversed && !segments_.ReversalKeepsCost(k)) {
    change += Inner(k, nodes, i, last, true, blocked) - Stored(route, i, last);
  }
  return blocked ? RouteRules::kInfeasible : change;
}

double ArcPricing::SwapWithin(const Solution& solution, size_t k, size_t i, size_t j) const {
  const EngineRoute& route = solution.Route(k);
  const std::vector<size_t>& nodes = route.nodes;
  const size_t u = nodes[i];
  const size_t v = nodes[j];
  bool blocked = false;
  double change;
  if (j == i + 1) {
    change = Arc(k, nodes[i - 1], v, blocked) + Arc(k, v, u, blocked) + Arc(k, u, nodes[j + 1], blocked) -
             Stored(route, i - 1, j + 1);
  } else {
    change = Arc(k, nodes[i - 1], v, blocked) + Arc(k, v, nodes[i + 1], blocked) + Arc(k, nodes[j - 1], u, blocked) +
             Arc(k, u, nodes[j + 1], blocked) - Stored(route, i - 1, i + 1) - Stored(route, j - 1, j + 1);
  }
  return blocked ? RouteRules::kInfeasible : change;
}

double ArcPricing::ReverseWithin(const Solution& solution, size_t k, size_t first, size_t last) const {
  if (!segments_.ReversalKeepsCost(k)) return kUnpriced;
  const std::vector<size_t>& nodes = solution.Route(k).nodes;
  bool blocked = false;
  const EngineRoute& route = solution.Route(k);
  const double change = Arc(k, nodes[first], nodes[last], blocked) +
                        Arc(k, nodes[first + 1], nodes[last + 1], blocked) - Stored(route, first, first + 1) -
                        Stored(route, last, last + 1);
  return blocked ? RouteRules::kInfeasible : change;
}

}  // namespace tarsel
