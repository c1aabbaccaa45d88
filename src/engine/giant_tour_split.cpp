#include "engine/giant_tour_split.h"

#include <algorithm>
#include <limits>

#include "engine/arc_pricing.h"

namespace tarsel {

GiantTourSplit::GiantTourSplit(const RouteRules& rules)
    : rules_(rules),
      arcs_(rules),
      same_pairs_(rules),
      by_arcs_(arcs_.Flat() && WithoutWindowsAndLimits(rules) && rules.HasLoads() &&
               !rules.Tables().HasPrecedence()) {
  const size_t cells = (rules.NumAgents() + 1) * (rules.Targets().size() + 1);
  value_.resize(cells);
  cut_.resize(cells);
}

size_t GiantTourSplit::RouteBound(size_t targets, size_t agents) {
  if (agents == 0) return targets;
  const double unbounded = static_cast<double>(agents) * static_cast<double>(targets) * targets;
  if (unbounded <= kSplitWork) return targets;
  const size_t within = static_cast<size_t>(kSplitWork / (static_cast<double>(agents) * targets));
  const size_t share = 2 * ((targets + agents - 1) / agents);
  return std::min(targets, std::max(within, share));
}

bool GiantTourSplit::Split(const std::vector<size_t>& tour, const std::vector<size_t>& order,
                           const PenaltyWeights& weights, Solution& solution) {
  if ((order.size() + 1) * (tour.size() + 1) > value_.size()) return false;
  bool solved = false;
  if (same_pairs_.Any()) {
    same_pairs_.CleanCuts(tour, clean_);
    solved = SolveBounded(tour, order, weights, true);
  }
  if (!solved && !SolveBounded(tour, order, weights, false)) return false;
  const size_t n = tour.size();
  const size_t width = n + 1;
  size_t to = n;
  for (size_t used = order.size(); used >= 1; --used) {
    const size_t from = cut_[used * width + to];
    solution.SetTargets(order[used - 1], tour.data() + from, to - from);
    to = from;
  }
  for (size_t k = 0; k < solution.NumRoutes(); ++k) solution.Refresh(k, weights);
  return true;
}

bool GiantTourSplit::SolveBounded(const std::vector<size_t>& tour, const std::vector<size_t>& order,
                                  const PenaltyWeights& weights, bool clean_only) {
  const bool load_bound = weights.active && rules_.HasLoads();
  return (load_bound && Solve(tour, order, weights, clean_only, true)) ||
         Solve(tour, order, weights, clean_only, false);
}

bool GiantTourSplit::Solve(const std::vector<size_t>& tour, const std::vector<size_t>& order,
                           const PenaltyWeights& weights, bool clean_only, bool load_bound) {
  if (by_arcs_ && !rules_.MinMax()) return SolveWith<true>(tour, order, weights, clean_only, load_bound);
  return SolveWith<false>(tour, order, weights, clean_only, load_bound);
}

template <bool kByArcs>
bool GiantTourSplit::SolveWith(const std::vector<size_t>& tour, const std::vector<size_t>& order,
                               const PenaltyWeights& weights, bool clean_only, bool load_bound) {
  const size_t n = tour.size();
  const size_t m = order.size();
  const size_t width = n + 1;
  const double infinity = std::numeric_limits<double>::infinity();
  const bool min_max = rules_.MinMax();
  const size_t bound = RouteBound(n, m);
  for (size_t cell = 0; cell < (m + 1) * width; ++cell) value_[cell] = ObjectiveValue{infinity, infinity};
  value_[0] = ObjectiveValue{0, 0};
  for (size_t used = 1; used <= m; ++used) {
    const size_t agent = order[used - 1];
    const size_t goal = rules_.Agent(agent).goal;
    const Segment goal_segment = rules_.NodeSeg(goal);
    const double capacity = rules_.Agent(agent).capacity;
    const double most_load = load_bound && capacity > 0 ? kLoadBound * capacity : infinity;
    for (size_t from = 0; from <= n; ++from) {
      const ObjectiveValue before = value_[(used - 1) * width + from];
      if (!(before.total < infinity) || (clean_only && clean_[from] == 0)) continue;
      Segment route = rules_.StartSeg(agent);
      size_t last = rules_.Agent(agent).start;
      for (size_t to = from;; ++to) {
        double cost;
        if constexpr (kByArcs) {
          // Without windows the join adds the arc's travel and the load,
          // no waiting and no warp: the same sums from the flat matrix.
          bool back_blocked = false;
          const double back = arcs_.Travel(agent, last, goal, back_blocked);
          cost = ArcRouteCost(rules_, agent, route.duration + back, route.load + goal_segment.load,
                              route.blocked || back_blocked, weights);
        } else {
          cost = rules_.Cost(agent, rules_.Join(agent, route, last, goal, goal_segment), weights);
        }
        if (cost < infinity && (!clean_only || clean_[to] != 0)) {
          const ObjectiveValue candidate{std::max(before.longest, cost), before.total + cost};
          ObjectiveValue& cell = value_[used * width + to];
          if (RanksBefore(candidate, cell, min_max)) {
            cell = candidate;
            cut_[used * width + to] = from;
          }
        }
        if (to == n || to - from == bound) break;
        const size_t next = tour[to];
        if (!rules_.CanServe(agent, next)) break;
        if constexpr (kByArcs) {
          bool step_blocked = false;
          route.duration = route.duration + arcs_.Travel(agent, last, next, step_blocked);
          route.load = route.load + rules_.NodeSeg(next).load;
          route.blocked = route.blocked || step_blocked;
        } else {
          route = rules_.Join(agent, route, last, next, rules_.NodeSeg(next));
        }
        last = next;
        // Waiting, lateness, length and missing arcs only grow along a route.
        const double so_far = kByArcs ? ArcRouteCost(rules_, agent, route.duration, route.load, route.blocked, weights)
                                      : rules_.Cost(agent, route, weights);
        if (!(so_far < infinity) || route.load > most_load) break;
      }
    }
  }
  return value_[m * width + n].total < infinity;
}

}  // namespace tarsel
