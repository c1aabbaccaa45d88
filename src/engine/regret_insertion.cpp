#include "engine/regret_insertion.h"

#include <algorithm>
#include <limits>

#include "common/special_values.h"

namespace tarsel {

namespace {

// A judged insertion: compared lexicographically.
struct Judged {
  double first = std::numeric_limits<double>::infinity();
  double second = std::numeric_limits<double>::infinity();
  bool operator<(const Judged& other) const {
    return first < other.first || (first == other.first && second < other.second);
  }
};

}  // namespace

RegretInsertion::RegretInsertion(const RouteRules& rules) : rules_(rules) {
  options_.resize(rules.NumNodes() * rules.NumAgents());
  pending_.reserve(rules.Targets().size());
}

void RegretInsertion::Recompute(const Solution& solution, const PenaltyWeights& weights, size_t k,
                                Random& random, double noise) {
  const EngineRoute& route = solution.Route(k);
  const size_t m = rules_.NumAgents();
  for (size_t node : pending_) {
    Option best;
    if (rules_.CanServe(k, node)) {
      const Segment single = rules_.NodeSeg(node);
      for (size_t p = 1; p < route.nodes.size(); ++p) {
        const Segment head = rules_.Join(k, route.prefix[p - 1], route.nodes[p - 1], node, single);
        const Segment whole = rules_.Join(k, head, node, route.nodes[p], route.suffix[p]);
        const double cost = rules_.Cost(k, whole, weights);
        if (cost < best.cost) {
          best.cost = cost;
          best.position = p;
        }
      }
    }
    best.factor = noise > 0 ? 1.0 + noise * (2.0 * random.Unit() - 1.0) : 1.0;
    options_[node * m + k] = best;
  }
}

bool RegretInsertion::Fill(Solution& solution, const PenaltyWeights& weights, Random& random, double noise) {
  const size_t m = rules_.NumAgents();
  pending_.clear();
  for (size_t node : rules_.Targets()) {
    if (solution.RouteOf(node) == kNoIndex) pending_.push_back(node);
  }
  for (size_t k = 0; k < m; ++k) Recompute(solution, weights, k, random, noise);
  const bool min_max = rules_.MinMax();
  while (!pending_.empty()) {
    const double longest = solution.Value().longest;
    size_t chosen = kNoIndex;
    size_t chosen_route = kNoIndex;
    Judged chosen_regret{-1, -1};
    Judged chosen_best;
    for (size_t index = 0; index < pending_.size(); ++index) {
      const size_t node = pending_[index];
      Judged best;
      Judged second;
      size_t best_route = kNoIndex;
      for (size_t k = 0; k < m; ++k) {
        const Option& option = options_[node * m + k];
        if (!(option.cost < RouteRules::kInfeasible)) continue;
        const double added = (option.cost - solution.Route(k).cost) * option.factor;
        const Judged judged = min_max ? Judged{std::max(longest, option.cost * option.factor), added}
                                      : Judged{added, 0.0};
        if (judged < best) {
          second = best;
          best = judged;
          best_route = k;
        } else if (judged < second) {
          second = judged;
        }
      }
      if (best_route == kNoIndex) continue;
      const double infinity = std::numeric_limits<double>::infinity();
      const Judged regret = second.first == infinity
                                ? Judged{infinity, infinity}
                                : Judged{second.first - best.first, second.second - best.second};
      if (chosen == kNoIndex || chosen_regret < regret ||
          (!(regret < chosen_regret) && best < chosen_best)) {
        chosen = index;
        chosen_route = best_route;
        chosen_regret = regret;
        chosen_best = best;
      }
    }
    if (chosen == kNoIndex) return false;
    const size_t node = pending_[chosen];
    pending_.erase(pending_.begin() + static_cast<std::ptrdiff_t>(chosen));
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
  }
  return true;
}

}  // namespace tarsel
