#include "engine/granular_insertion.h"

#include <algorithm>
#include <limits>

#include "common/special_values.h"

namespace tarsel {

namespace {

// The farthest apart (in positions of the route) that a "same" pair's two
// nodes are first placed: pairs are mostly served close together, and the
// local search moves them further apart where that pays.
constexpr size_t kJointGap = 16;

}  // namespace

GranularInsertion::GranularInsertion(const RouteRules& rules, const GranularNeighbours& neighbours)
    : rules_(rules), neighbours_(neighbours), pairs_(rules) {
  const double infinity = std::numeric_limits<double>::infinity();
  start_distance_.assign(rules.NumNodes(), infinity);
  for (size_t node : rules.Targets()) {
    for (size_t k = 0; k < rules.NumAgents(); ++k) {
      bool blocked = false;
      const double cost = rules.Travel(k, rules.Agent(k).start, node, blocked);
      if (!blocked) start_distance_[node] = std::min(start_distance_[node], cost);
    }
  }
  pending_.reserve(rules.Targets().size());
  candidate_.assign(rules.NumAgents(), 0);
}

void GranularInsertion::Consider(const Solution& solution, const PenaltyWeights& weights, size_t node,
                                 size_t k, size_t position,
                                 double factor, double longest, size_t low, size_t high, Place& best) const {
  const EngineRoute& route = solution.Route(k);
  if (position == 0 || position >= route.nodes.size() || position < low || position > high) return;
  const Segment head = rules_.Join(k, route.prefix[position - 1], route.nodes[position - 1], node,
                                   rules_.NodeSeg(node));
  const Segment whole = rules_.Join(k, head, node, route.nodes[position], route.suffix[position]);
  const double cost = rules_.Cost(k, whole, weights);
  if (!(cost < RouteRules::kInfeasible)) return;
  const double added = (cost - route.cost) * factor;
  // The objective value after the insertion: (new longest, added cost)
  // under min-max, the added cost under min-sum (the total before is the
  // same for every place).
  const bool min_max = rules_.MinMax();
  const ObjectiveValue judged{min_max ? std::max(longest, cost * factor) : 0.0, added};
  if (best.found && !RanksBefore(judged, best.judged, min_max)) return;
  best = Place{k, position, judged, true};
}

GranularInsertion::Place GranularInsertion::BestPlace(const Solution& solution, const PenaltyWeights& weights,
                                                      size_t node,
                                                      Random& random, double noise,
                                                      bool everywhere, bool relaxed) const {
  const double factor = noise > 0 ? 1.0 + noise * (2.0 * random.Unit() - 1.0) : 1.0;
  const double longest = solution.Value().longest;
  Place best;
  const size_t m = solution.NumRoutes();
  // The places of route k the pairs of `node` allow.
  size_t low = 1, high = 0;
  auto allowed = [&](size_t k) {
    low = 1;
    high = solution.Route(k).nodes.size() - 1;
    return rules_.CanServe(k, node) && (relaxed || pairs_.Places(solution, node, k, low, high));
  };
  if (everywhere) {
    for (size_t k = 0; k < m; ++k) {
      if (!allowed(k)) continue;
      for (size_t p = low; p <= high; ++p) {
        Consider(solution, weights, node, k, p, factor, longest, low, high, best);
      }
    }
    return best;
  }
  // Next to the neighbours already placed in a route of the list's type.
  neighbours_.ForEachPlaced(solution, node, [&](size_t k, size_t j) {
    if (!allowed(k)) return;
    Consider(solution, weights, node, k, j, factor, longest, low, high, best);
    Consider(solution, weights, node, k, j + 1, factor, longest, low, high, best);
  });
  // Right after the start and right before the end of every route (an empty
  // route has one place); with pairs, the ends of the places they allow.
  for (size_t k = 0; k < m; ++k) {
    if (!allowed(k)) continue;
    const size_t last = solution.Route(k).nodes.size() - 1;
    const size_t first = std::max<size_t>(low, 1);
    Consider(solution, weights, node, k, first, factor, longest, low, high, best);
    const size_t end = std::min(high, last);
    if (end > first) Consider(solution, weights, node, k, end, factor, longest, low, high, best);
  }
  return best;
}

bool GranularInsertion::Fill(Solution& solution, const PenaltyWeights& weights, Random& random, double noise) {
  pending_.clear();
  for (size_t node : rules_.Targets()) {
    if (solution.RouteOf(node) == kNoIndex) pending_.push_back(node);
  }
  if (noise > 0) {
    random.Shuffle(pending_);
  } else {
    // Farthest first; ties by node index, so the order never depends on the sort.
    std::sort(pending_.begin(), pending_.end(), [this](size_t a, size_t b) {
      return start_distance_[a] > start_distance_[b] ||
             (start_distance_[a] == start_distance_[b] && a < b);
    });
  }
  bool all_placed = true;
  // The second node of a "same" pair waits, once, behind the rest, so that
  // it follows its first node.
  const size_t listed = pending_.size();
  for (size_t index = 0; index < pending_.size(); ++index) {
    const size_t node = pending_[index];
    if (solution.RouteOf(node) != kNoIndex) continue;  // went in with the first node of its pair
    if (index < listed && pairs_.Waits(solution, node)) {
      pending_.push_back(node);
      continue;
    }
    const size_t companion = pairs_.Companion(solution, node);
    if (companion != kNoIndex && PlaceJoint(solution, weights, node, companion, random, noise)) continue;
    Place place = BestPlace(solution, weights, node, random, noise, false, false);
    if (!place.found) place = BestPlace(solution, weights, node, random, noise, true, false);
    if (!place.found && pairs_.Any()) place = BestPlace(solution, weights, node, random, noise, true, true);
    if (!place.found) {
      all_placed = false;
      continue;
    }
    solution.Insert(place.route, place.position, node);
    solution.Refresh(place.route, weights);
    if (!(solution.Route(place.route).cost < RouteRules::kInfeasible)) {
      // The exact evaluation disagrees with the segments at a boundary: undo.
      solution.Erase(place.route, place.position);
      solution.Refresh(place.route, weights);
      all_placed = false;
    }
  }
  return all_placed;
}

bool GranularInsertion::PlaceJoint(Solution& solution, const PenaltyWeights& weights, size_t node,
                                   size_t companion, Random& random, double noise) {
  const double factor = noise > 0 ? 1.0 + noise * (2.0 * random.Unit() - 1.0) : 1.0;
  const double longest = solution.Value().longest;
  const bool min_max = rules_.MinMax();
  const size_t m = solution.NumRoutes();
  std::fill(candidate_.begin(), candidate_.end(), 0);
  for (const size_t placed : {node, companion}) {
    neighbours_.ForEachPlaced(solution, placed, [&](size_t k, size_t) { candidate_[k] = 1; });
  }
  for (size_t k = 0; k < m; ++k) {
    if (solution.Route(k).Targets() == 0) candidate_[k] = 1;
  }
  size_t best_route = kNoIndex;
  InsertionPairs::JointPlace best_place;
  ObjectiveValue best_judged;
  for (const bool everywhere : {false, true}) {
    for (size_t k = 0; k < m; ++k) {
      if ((candidate_[k] != 0) == everywhere) continue;
      InsertionPairs::JointPlace place;
      if (!pairs_.BestJoint(solution, weights, node, companion, k, kJointGap, place)) continue;
      const ObjectiveValue judged{min_max ? std::max(longest, place.cost * factor) : 0.0,
                                  (place.cost - solution.Route(k).cost) * factor};
      if (best_route != kNoIndex && !RanksBefore(judged, best_judged, min_max)) continue;
      best_route = k;
      best_place = place;
      best_judged = judged;
    }
    if (best_route != kNoIndex) break;
  }
  if (best_route == kNoIndex) return false;
  InsertionPairs::InsertJoint(solution, weights, best_route, node, companion, best_place);
  if (solution.Route(best_route).cost < RouteRules::kInfeasible) return true;
  // The exact evaluation disagrees with the segments at a boundary: undo.
  solution.Erase(best_route, best_place.second + 1);
  solution.Erase(best_route, best_place.first);
  solution.Refresh(best_route, weights);
  return false;
}

}  // namespace tarsel
