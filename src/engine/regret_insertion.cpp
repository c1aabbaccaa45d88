#include "engine/regret_insertion.h"

#include <algorithm>
#include <limits>

#include "common/special_values.h"
#include "engine/arc_pricing.h"
#include "engine/objective_value.h"

namespace tarsel {

RegretInsertion::RegretInsertion(const RouteRules& rules)
    : rules_(rules), arcs_(rules), pairs_(rules), without_windows_and_limits_(WithoutWindowsAndLimits(rules)) {
  options_.resize(rules.NumNodes() * rules.NumAgents());
  pending_.reserve(rules.Targets().size());
}

void RegretInsertion::Price(const Solution& solution, const PenaltyWeights& weights, size_t node, size_t k,
                            Random& random, double noise) {
  const EngineRoute& route = solution.Route(k);
  Option best;
  size_t low = 1;
  size_t high = route.nodes.size() - 1;
  const size_t companion = relaxed_ ? kNoIndex : pairs_.Companion(solution, node);
  if (companion != kNoIndex) {
    InsertionPairs::JointPlace joint;
    if (!pairs_.Waits(solution, node) && pairs_.BestJoint(solution, weights, node, companion, k, kNoIndex, joint)) {
      best.cost = joint.cost;
      best.position = joint.first;
      best.companion = companion;
      best.companion_position = joint.second;
    }
  } else if ((relaxed_ || (!pairs_.Waits(solution, node) && pairs_.Places(solution, node, k, low, high))) &&
             rules_.CanServe(k, node)) {
    if (arc_priced_) {
      best.cost = CheapestInsertionByArcs(arcs_, route, k, node, low, high, weights, best.position);
    } else {
      const Segment single = rules_.NodeSeg(node);
      for (size_t p = low; p <= high; ++p) {
        const Segment head = rules_.Join(k, route.prefix[p - 1], route.nodes[p - 1], node, single);
        const Segment whole = rules_.Join(k, head, node, route.nodes[p], route.suffix[p]);
        const double cost = rules_.Cost(k, whole, weights);
        if (cost < best.cost) {
          best.cost = cost;
          best.position = p;
        }
      }
    }
  }
  best.factor = noise > 0 ? 1.0 + noise * (2.0 * random.Unit() - 1.0) : 1.0;
  options_[node * rules_.NumAgents() + k] = best;
}

void RegretInsertion::Recompute(const Solution& solution, const PenaltyWeights& weights, size_t k,
                                Random& random, double noise) {
  for (size_t node : pending_) Price(solution, weights, node, k, random, noise);
}

bool RegretInsertion::Fill(Solution& solution, const PenaltyWeights& weights, Random& random, double noise) {
  const size_t m = rules_.NumAgents();
  pending_.clear();
  for (size_t node : rules_.Targets()) {
    if (solution.RouteOf(node) == kNoIndex) pending_.push_back(node);
  }
  relaxed_ = false;
  arc_priced_ = without_windows_and_limits_ && rules_.HasLoads() && !rules_.MinMax() &&
                !rules_.Tables().HasPrecedence();
  for (size_t k = 0; k < m; ++k) Recompute(solution, weights, k, random, noise);
  const bool min_max = rules_.MinMax();
  while (!pending_.empty()) {
    const double longest = solution.Value().longest;
    size_t chosen = kNoIndex;
    size_t chosen_route = kNoIndex;
    // An insertion is judged by the objective value it leads to: (new
    // longest, added cost) under min-max, the added cost under min-sum (the
    // total before is the same for every insertion). Regrets are the
    // differences of such values, in the same order.
    const double infinity = std::numeric_limits<double>::infinity();
    ObjectiveValue chosen_regret{-1, -1};
    ObjectiveValue chosen_best{infinity, infinity};
    for (size_t index = 0; index < pending_.size(); ++index) {
      const size_t node = pending_[index];
      ObjectiveValue best{infinity, infinity};
      ObjectiveValue second{infinity, infinity};
      size_t best_route = kNoIndex;
      for (size_t k = 0; k < m; ++k) {
        const Option& option = options_[node * m + k];
        if (!(option.cost < RouteRules::kInfeasible)) continue;
        const double added = (option.cost - solution.Route(k).cost) * option.factor;
        const ObjectiveValue judged{min_max ? std::max(longest, option.cost * option.factor) : 0.0, added};
        if (RanksBefore(judged, best, min_max)) {
          second = best;
          best = judged;
          best_route = k;
        } else if (RanksBefore(judged, second, min_max)) {
          second = judged;
        }
      }
      if (best_route == kNoIndex) continue;
      const bool no_second = (min_max ? second.longest : second.total) == infinity;
      const ObjectiveValue regret = no_second
                                        ? ObjectiveValue{infinity, infinity}
                                        : ObjectiveValue{second.longest - best.longest, second.total - best.total};
      if (chosen == kNoIndex || RanksBefore(chosen_regret, regret, min_max) ||
          (!RanksBefore(regret, chosen_regret, min_max) && RanksBefore(best, chosen_best, min_max))) {
        chosen = index;
        chosen_route = best_route;
        chosen_regret = regret;
        chosen_best = best;
      }
    }
    if (chosen == kNoIndex) {
      if (relaxed_ || !pairs_.Any()) return false;
      relaxed_ = true;
      for (size_t k = 0; k < m; ++k) Recompute(solution, weights, k, random, noise);
      continue;
    }
    const size_t node = pending_[chosen];
    pending_.erase(pending_.begin() + static_cast<std::ptrdiff_t>(chosen));
    const size_t companion = options_[node * m + chosen_route].companion;
    if (companion != kNoIndex) {
      if (PlaceJoint(solution, weights, node, chosen_route)) {
        Recompute(solution, weights, chosen_route, random, noise);
        for (const size_t placed : {node, companion}) {
          RepricePartners(solution, weights, placed, chosen_route, random, noise);
        }
      }
      continue;
    }
    solution.Insert(chosen_route, options_[node * m + chosen_route].position, node);
    solution.Refresh(chosen_route, weights);
    if (!(solution.Route(chosen_route).cost < RouteRules::kInfeasible)) {
      // The exact evaluation disagrees with the segments at a boundary: undo.
      solution.Erase(chosen_route, options_[node * m + chosen_route].position);
      solution.Refresh(chosen_route, weights);
      options_[node * m + chosen_route].cost = RouteRules::kInfeasible;
      pending_.push_back(node);
      continue;
    }
    Recompute(solution, weights, chosen_route, random, noise);
    RepricePartners(solution, weights, node, chosen_route, random, noise);
  }
  return true;
}

// The places of the targets that share a pair with `node` changed in every route.
void RegretInsertion::RepricePartners(const Solution& solution, const PenaltyWeights& weights, size_t node,
                                      size_t route, Random& random, double noise) {
  pairs_.ForEachPartner(node, [&](size_t other) {
    if (solution.RouteOf(other) != kNoIndex) return;
    for (size_t k = 0; k < rules_.NumAgents(); ++k) {
      if (k != route) Price(solution, weights, other, k, random, noise);
    }
  });
}

// Inserts `node` and its companion at their priced places in route k;
// when the exact evaluation disagrees, undoes it, marks the option
// infeasible and puts `node` back among the pending targets.
bool RegretInsertion::PlaceJoint(Solution& solution, const PenaltyWeights& weights, size_t node, size_t k) {
  Option& option = options_[node * rules_.NumAgents() + k];
  const InsertionPairs::JointPlace place{option.cost, option.position, option.companion_position};
  InsertionPairs::InsertJoint(solution, weights, k, node, option.companion, place);
  if (solution.Route(k).cost < RouteRules::kInfeasible) {
    pending_.erase(std::find(pending_.begin(), pending_.end(), option.companion));
    return true;
  }
  solution.Erase(k, place.second + 1);
  solution.Erase(k, place.first);
  solution.Refresh(k, weights);
  option.cost = RouteRules::kInfeasible;
  pending_.push_back(node);
  return false;
}

}  // namespace tarsel
