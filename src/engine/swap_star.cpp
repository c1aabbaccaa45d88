#include "engine/swap_star.h"

#include "engine/arc_pricing.h"
#include "engine/move_value.h"

namespace tarsel {

SwapStar::SwapStar(const RouteRules& rules, const SegmentJoiner& joiner)
    : rules_(rules),
      joiner_(joiner),
      arcs_(rules),
      nodes_(rules.NumNodes()),
      version_(rules.NumAgents(), 1),
      place_version_(rules.NumAgents() * rules.NumNodes(), 0),
      places_(rules.NumAgents() * rules.NumNodes() * kPlaces),
      examined_(rules.NumAgents() * rules.NumAgents(), {0, 0}) {
  removal_a_.reserve(rules.NumNodes() + 2);
  removal_b_.reserve(rules.NumNodes() + 2);
  in_place_a_.reserve(rules.NumNodes() + 2);
  in_place_b_.reserve(rules.NumNodes() + 2);
  places_in_a_.reserve(rules.NumNodes() + 2);
}

void SwapStar::Forget() {
  for (uint64_t& version : version_) ++version;
}

bool SwapStar::Changed(size_t a, size_t b) const {
  return examined_[a * version_.size() + b] != std::make_pair(version_[a], version_[b]);
}

const SwapStar::Place* SwapStar::Places(const Solution& solution, const PenaltyWeights& weights, size_t k,
                                        size_t node) {
  Place* places = &places_[(k * nodes_ + node) * kPlaces];
  uint64_t& stamp = place_version_[k * nodes_ + node];
  if (stamp == version_[k]) return places;
  stamp = version_[k];
  for (size_t slot = 0; slot < kPlaces; ++slot) places[slot] = {RouteRules::kInfeasible, 0};
  const EngineRoute& route = solution.Route(k);
  const size_t len = route.nodes.size();
  // With arc pricing the places are ranked by the travel they add, and the
  // route's overload with the node, the same at every place, is added once.
  double overload_cost = 0;
  if (arc_priced_) {
    Segment loaded;
    loaded.load = route.walk.load + rules_.NodeSeg(node).load;
    overload_cost = rules_.Cost(k, loaded, weights);
    if (!(overload_cost < RouteRules::kInfeasible)) return places;
  }
  for (size_t p = 1; p < len; ++p) {
    double cost;
    if (arc_priced_) {
      bool blocked = false;
      cost = TravelWithNode(arcs_, route, k, node, p, route.walk.duration, blocked) + overload_cost;
      if (blocked) continue;
    } else {
      cost = joiner_.WithNode(solution, k, p, node, weights);
    }
    if (!(cost < places[kPlaces - 1].cost)) continue;
    size_t slot = kPlaces - 1;
    while (slot > 0 && cost < places[slot - 1].cost) {
      places[slot] = places[slot - 1];
      --slot;
    }
    places[slot] = {cost, p};
  }
  return places;
}

double SwapStar::BestElsewhere(const Place* places, size_t j, double removal_delta, double best, size_t& place) {
  for (size_t slot = 0; slot < kPlaces; ++slot) {
    const Place& option = places[slot];
    if (!(option.cost < RouteRules::kInfeasible)) break;
    if (option.position == j || option.position == j + 1) continue;
    const double estimate = option.cost + removal_delta;
    if (estimate < best) {
      best = estimate;
      place = option.position;
    }
  }
  return best;
}

double SwapStar::ReplaceEstimate(const Solution& solution, const PenaltyWeights& weights, size_t k, size_t j,
                                 size_t node, double removal_delta,
                                 size_t& place) {
  // In the removed target's place: exact.
  double best = joiner_.Replace(solution, k, j, node, j, weights);
  place = j;
  // Elsewhere: the insertion into the route as it stands plus the change of
  // removing the target (exact when the two do not interact, as for plain
  // travel costs).
  return BestElsewhere(Places(solution, weights, k, node), j, removal_delta, best, place);
}

bool SwapStar::Best(const Solution& solution, const PenaltyWeights& weights, size_t a, size_t b,
                    Exchange& exchange) {
  examined_[a * version_.size() + b] = {version_[a], version_[b]};
  const std::vector<size_t>& nodes_a = solution.Route(a).nodes;
  const std::vector<size_t>& nodes_b = solution.Route(b).nodes;
  if (nodes_a.size() < 3 || nodes_b.size() < 3) return false;
  const double cost_a = solution.Route(a).cost;
  const double cost_b = solution.Route(b).cost;
  removal_a_.assign(nodes_a.size(), RouteRules::kInfeasible);
  removal_b_.assign(nodes_b.size(), RouteRules::kInfeasible);
  for (size_t i = 1; i + 1 < nodes_a.size(); ++i) removal_a_[i] = joiner_.Without(solution, a, i, 1, weights) - cost_a;
  for (size_t j = 1; j + 1 < nodes_b.size(); ++j) removal_b_[j] = joiner_.Without(solution, b, j, 1, weights) - cost_b;
  const bool min_max = rules_.MinMax();
  if (arc_priced_ && !min_max) return BestByArcs(solution, weights, a, b, exchange);
  const ObjectiveValue current = solution.Value();
  ObjectiveValue best_value = current;
  bool found = false;
  for (size_t i = 1; i + 1 < nodes_a.size(); ++i) {
    const size_t u = nodes_a[i];
    if (!rules_.CanServe(b, u)) continue;
    for (size_t j = 1; j + 1 < nodes_b.size(); ++j) {
      const size_t v = nodes_b[j];
      if (!rules_.CanServe(a, v)) continue;
      size_t place_u = 0;
      const double new_b = ReplaceEstimate(solution, weights, b, j, u, removal_b_[j], place_u);
      if (!(new_b < RouteRules::kInfeasible)) continue;
      size_t place_v = 0;
      const double new_a = ReplaceEstimate(solution, weights, a, i, v, removal_a_[i], place_v);
      if (!(new_a < RouteRules::kInfeasible)) continue;
      const ObjectiveValue value = ValueAfter(solution, a, new_a, b, new_b);
      if (!RanksBefore(value, best_value, min_max)) continue;
      best_value = value;
      exchange = {a, b, u, v, place_v, place_u};
      found = true;
    }
  }
  return found && Improves(best_value, current, min_max);
}

void SwapStar::PrepareInPlace(const Solution& solution, size_t k, std::vector<InPlace>& in_place) const {
  const EngineRoute& route = solution.Route(k);
  in_place.resize(route.nodes.size());
  for (size_t j = 1; j + 1 < route.nodes.size(); ++j) {
    in_place[j].travel = route.walk.duration - (route.prefix[j + 1].duration - route.prefix[j - 1].duration);
    in_place[j].load = route.walk.load - rules_.NodeSeg(route.nodes[j]).load;
  }
}

double SwapStar::EstimateByArcs(const Solution& solution, const PenaltyWeights& weights, size_t k, size_t j,
                                size_t node, const InPlace& in_place, double removal_delta, const Place* places,
                                size_t& place) const {
  // In the removed target's place: exact, from the two arcs at it.
  const std::vector<size_t>& nodes = solution.Route(k).nodes;
  bool in_blocked = false;
  bool out_blocked = false;
  const double duration = in_place.travel + arcs_.Travel(k, nodes[j - 1], node, in_blocked) +
                          arcs_.Travel(k, node, nodes[j + 1], out_blocked);
  double best = ArcRouteCost(rules_, k, duration, in_place.load + rules_.NodeSeg(node).load,
                             in_blocked || out_blocked, weights);
  place = j;
  return BestElsewhere(places, j, removal_delta, best, place);
}

bool SwapStar::BestByArcs(const Solution& solution, const PenaltyWeights& weights, size_t a, size_t b,
                          Exchange& exchange) {
  const std::vector<size_t>& nodes_a = solution.Route(a).nodes;
  const std::vector<size_t>& nodes_b = solution.Route(b).nodes;
  const double cost_a = solution.Route(a).cost;
  const double cost_b = solution.Route(b).cost;
  PrepareInPlace(solution, a, in_place_a_);
  PrepareInPlace(solution, b, in_place_b_);
  // Each target of b's places in a, once for all targets of a (nullptr:
  // a may not serve it).
  places_in_a_.assign(nodes_b.size(), nullptr);
  for (size_t j = 1; j + 1 < nodes_b.size(); ++j) {
    if (rules_.CanServe(a, nodes_b[j])) places_in_a_[j] = Places(solution, weights, a, nodes_b[j]);
  }
  const ObjectiveValue current = solution.Value();
  double best_total = current.total;
  bool found = false;
  for (size_t i = 1; i + 1 < nodes_a.size(); ++i) {
    const size_t u = nodes_a[i];
    if (!rules_.CanServe(b, u)) continue;
    const Place* places_in_b = Places(solution, weights, b, u);
    for (size_t j = 1; j + 1 < nodes_b.size(); ++j) {
      if (places_in_a_[j] == nullptr) continue;
      size_t place_u = 0;
      const double new_b =
          EstimateByArcs(solution, weights, b, j, u, in_place_b_[j], removal_b_[j], places_in_b, place_u);
      if (!(new_b < RouteRules::kInfeasible)) continue;
      const size_t v = nodes_b[j];
      size_t place_v = 0;
      const double new_a =
          EstimateByArcs(solution, weights, a, i, v, in_place_a_[i], removal_a_[i], places_in_a_[j], place_v);
      if (!(new_a < RouteRules::kInfeasible)) continue;
      // ValueAfter's total, summed in its order.
      const double total = current.total - cost_a - cost_b + new_a + new_b;
      if (!(total < best_total)) continue;
      best_total = total;
      exchange = {a, b, u, v, place_v, place_u};
      found = true;
    }
  }
  ObjectiveValue best_value = current;
  best_value.total = best_total;
  return found && Improves(best_value, current, false);
}

MoveCosts SwapStar::Evaluate(const Solution& solution, const Move& move, const PenaltyWeights& weights) const {
  const size_t i = solution.PositionOf(move.u);
  const size_t j = solution.PositionOf(move.v);
  return {move.a, joiner_.Replace(solution, move.a, i, move.v, move.place_v, weights), move.b,
          joiner_.Replace(solution, move.b, j, move.u, move.place_u, weights)};
}

namespace {

// The target at j leaves `nodes`; `node` goes before position p of the
// nodes as they were.
void ReplaceNodes(std::vector<size_t>& nodes, size_t j, size_t node, size_t p) {
  nodes.erase(nodes.begin() + static_cast<std::ptrdiff_t>(j));
  const size_t at = p <= j ? p : p - 1;
  nodes.insert(nodes.begin() + static_cast<std::ptrdiff_t>(at), node);
}

}  // namespace

void SwapStar::Apply(Solution& solution, const Move& move) {
  ReplaceNodes(solution.MutableNodes(move.a), solution.PositionOf(move.u), move.v, move.place_v);
  ReplaceNodes(solution.MutableNodes(move.b), solution.PositionOf(move.v), move.u, move.place_u);
}

}  // namespace tarsel
