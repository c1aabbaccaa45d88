#include "routes/pair_repair.h"

#include <algorithm>
#include <cstddef>
#include <limits>
#include <utility>

namespace tarsel {

namespace {

// Where to put a node: a route and the position it takes there.
struct Place {
  size_t route = kNoIndex;
  size_t position = 0;
  bool feasible = false;
  double cost = std::numeric_limits<double>::infinity();

  bool Beats(const Place& other) const {
    if (feasible != other.feasible) return feasible;
    return cost < other.cost;
  }
};

// Weights that let a route breaking a window or limit still be compared.
constexpr PenaltyWeights kCompare{true, 1000.0, 1000.0};

size_t Find(const std::vector<size_t>& route, size_t node) {
  const auto at = std::find(route.begin(), route.end(), node);
  return at == route.end() ? kNoIndex : static_cast<size_t>(at - route.begin());
}

// The best place for `node` on route k among positions first .. last
// (inserted before the node now there; the route's start and end stay).
Place BestPlace(const RouteCosts& rules, std::vector<size_t>& route, size_t k, size_t node,
                size_t first, size_t last) {
  Place best;
  if (route.size() < 2 || !rules.CanServe(k, node)) return best;
  first = std::max<size_t>(first, 1);
  last = std::min(last, route.size() - 1);
  for (size_t position = first; position <= last; ++position) {
    route.insert(route.begin() + static_cast<std::ptrdiff_t>(position), node);
    const RouteWalk walk = rules.Walk(k, route);
    route.erase(route.begin() + static_cast<std::ptrdiff_t>(position));
    Place place{k, position, walk.feasible, RouteCosts::CostOf(walk, kCompare)};
    if (place.Beats(best)) best = place;
  }
  return best;
}

void Remove(std::vector<size_t>& route, size_t node) {
  route.erase(route.begin() + static_cast<std::ptrdiff_t>(Find(route, node)));
}

void Put(std::vector<std::vector<size_t>>& routes, const Place& place, size_t node) {
  std::vector<size_t>& route = routes[place.route];
  route.insert(route.begin() + static_cast<std::ptrdiff_t>(place.position), node);
}

size_t RouteOf(const std::vector<std::vector<size_t>>& routes, size_t node) {
  for (size_t k = 0; k < routes.size(); ++k) {
    if (Find(routes[k], node) != kNoIndex) return k;
  }
  return kNoIndex;
}

// Moves `node` onto route k (off its own route) behind `anchor` (`behind`)
// or ahead of it; false when agent k may not serve it.
bool MoveBeside(const RouteCosts& rules, std::vector<std::vector<size_t>>& routes, size_t node,
                size_t k, size_t anchor, bool behind) {
  if (!rules.CanServe(k, node)) return false;
  Remove(routes[RouteOf(routes, node)], node);
  const size_t at = Find(routes[k], anchor);
  const size_t last = routes[k].size() - 1;
  const Place place = behind ? BestPlace(rules, routes[k], k, node, at + 1, last)
                             : BestPlace(rules, routes[k], k, node, 1, at);
  if (place.route == kNoIndex) return false;
  Put(routes, place, node);
  return true;
}

// How good a whole set of routes is for the repair: routes within their
// rules first, then the total penalised cost.
struct Score {
  size_t broken = 0;
  double cost = 0;

  bool Beats(const Score& other) const {
    if (broken != other.broken) return broken < other.broken;
    return cost < other.cost;
  }
};

Score ScoreOf(const RouteCosts& rules, const std::vector<std::vector<size_t>>& routes) {
  Score score;
  for (size_t k = 0; k < routes.size(); ++k) {
    const RouteWalk walk = rules.Walk(k, routes[k]);
    if (!walk.feasible) ++score.broken;
    score.cost += RouteCosts::CostOf(walk, kCompare);
  }
  return score;
}

// Moves `node` to its cheapest place on any route but `other_than`; false
// when no agent there may serve it.
bool MoveAway(const RouteCosts& rules, std::vector<std::vector<size_t>>& routes, size_t node,
              size_t other_than) {
  Place best;
  for (size_t k = 0; k < routes.size(); ++k) {
    if (k == other_than) continue;
    const Place place = BestPlace(rules, routes[k], k, node, 1, routes[k].size());
    if (place.route != kNoIndex && place.Beats(best)) best = place;
  }
  if (best.route == kNoIndex) return false;
  Remove(routes[RouteOf(routes, node)], node);
  Put(routes, best, node);
  return true;
}

// Mends one broken pair by the better of its two moves: for a "diff" pair
// one of its nodes to another route; otherwise `after` behind `before` or
// `before` ahead of `after`.
bool Mend(const RouteCosts& rules, std::vector<std::vector<size_t>>& routes,
          const PrecedencePair& pair, PairBreak what) {
  const size_t before_route = RouteOf(routes, pair.before);
  const size_t after_route = RouteOf(routes, pair.after);
  if (before_route == kNoIndex || after_route == kNoIndex) return false;
  std::vector<std::vector<size_t>> best;
  Score best_score;
  for (int option = 0; option < 2; ++option) {
    std::vector<std::vector<size_t>> trial = routes;
    bool moved = false;
    if (what == PairBreak::kJoined) {
      moved = option == 0 ? MoveAway(rules, trial, pair.after, before_route)
                          : MoveAway(rules, trial, pair.before, before_route);
    } else {
      moved = option == 0 ? MoveBeside(rules, trial, pair.after, before_route, pair.before, true)
                          : MoveBeside(rules, trial, pair.before, after_route, pair.after, false);
    }
    if (!moved) continue;
    const Score score = ScoreOf(rules, trial);
    if (best.empty() || score.Beats(best_score)) {
      best = std::move(trial);
      best_score = score;
    }
  }
  if (best.empty()) return false;
  routes = std::move(best);
  return true;
}

}  // namespace

bool RepairPairs(const RouteCosts& rules, std::vector<std::vector<size_t>>& routes,
                 PairSchedule& schedule) {
  const std::vector<PrecedencePair>& pairs = rules.Tables().PrecedencePairs();
  const size_t rounds = 4 * pairs.size() + 4;
  for (size_t round = 0;; ++round) {
    SchedulePairs(rules, routes, schedule);
    if (schedule.violations.empty()) return !schedule.cyclic;
    if (round == rounds) return false;
    const PairViolation& violation = schedule.violations.front();
    if (violation.what == PairBreak::kUnserved) return false;
    if (!Mend(rules, routes, pairs[violation.pair], violation.what)) return false;
  }
}

}  // namespace tarsel
