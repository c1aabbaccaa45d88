#include "engine/local_search.h"

#include <algorithm>

#include "common/special_values.h"

namespace tarsel {

namespace {

// Passes over all targets after which the search stops even if moves
// still improve (by amounts near the rounding of costs).
constexpr size_t kMaxPasses = 1000;

}  // namespace

LocalSearch::LocalSearch(const RouteRules& rules, const GranularNeighbours& neighbours)
    : rules_(rules), neighbours_(neighbours), order_(rules.Targets()) {
  const size_t n = rules.NumNodes() + 2;
  scratch_a_.reserve(n);
  scratch_b_.reserve(n);
  saved_a_.reserve(n);
  saved_b_.reserve(n);
}

bool LocalSearch::Better(const Solution& solution, size_t a, double cost_a, size_t b,
                         double cost_b) const {
  if (!(cost_a < RouteRules::kInfeasible) || !(cost_b < RouteRules::kInfeasible)) return false;
  const ObjectiveValue current = solution.Value();
  ObjectiveValue candidate;
  if (a == b) {
    candidate.total = current.total - solution.Route(a).cost + cost_a;
    candidate.longest = std::max(cost_a, solution.LongestExcept(a, a));
  } else {
    candidate.total = current.total - solution.Route(a).cost - solution.Route(b).cost + cost_a + cost_b;
    candidate.longest = std::max({cost_a, cost_b, solution.LongestExcept(a, b)});
  }
  return Improves(candidate, current, rules_.MinMax());
}

bool LocalSearch::Commit(Solution& solution, size_t a, size_t b) {
  const ObjectiveValue before = solution.Value();
  saved_a_ = solution.Route(a).nodes;
  solution.MutableNodes(a) = scratch_a_;
  if (b != a) {
    saved_b_ = solution.Route(b).nodes;
    solution.MutableNodes(b) = scratch_b_;
    solution.Refresh(b);
  }
  solution.Refresh(a);
  const bool feasible = solution.Route(a).cost < RouteRules::kInfeasible &&
                        solution.Route(b).cost < RouteRules::kInfeasible;
  if (feasible && Improves(solution.Value(), before, rules_.MinMax())) return true;
  solution.MutableNodes(a) = saved_a_;
  if (b != a) {
    solution.MutableNodes(b) = saved_b_;
    solution.Refresh(b);
  }
  solution.Refresh(a);
  return false;
}

size_t LocalSearch::Run(Solution& solution, Random& random, const std::function<bool()>& stop) {
  size_t moves = 0;
  const size_t m = solution.NumRoutes();
  const std::vector<size_t>& types = neighbours_.Types();
  for (size_t pass = 0; pass < kMaxPasses; ++pass) {
    bool improved = false;
    random.Shuffle(order_);
    for (size_t u : order_) {
      if (stop && stop()) return moves;
      for (size_t slot = 0; slot < types.size(); ++slot) {
        const size_t* list = neighbours_.Begin(slot, u);
        for (size_t index = 0; index < neighbours_.Count(); ++index) {
          const size_t v = list[index];
          const size_t b = solution.RouteOf(v);
          if (b == kNoIndex || rules_.Agent(b).type != types[slot]) continue;
          if (TryPair(solution, u, b, solution.PositionOf(v))) {
            ++moves;
            improved = true;
          }
        }
      }
      for (size_t b = 0; b < m; ++b) {
        if (b != solution.RouteOf(u) && TryBetween(solution, u, b, 0, false)) {
          ++moves;
          improved = true;
        }
      }
    }
    if (!improved) break;
  }
  return moves;
}

bool LocalSearch::TryPair(Solution& solution, size_t u, size_t b, size_t j) {
  if (solution.RouteOf(u) == b) return TryWithin(solution, u, j);
  return TryBetween(solution, u, b, j, true);
}

// Moves of target u (route a, position i) against position j of another
// route b: relocate after j, relocate before j, swap (the last two only
// when j holds a target).
bool LocalSearch::TryBetween(Solution& solution, size_t u, size_t b, size_t j, bool is_target) {
  const size_t a = solution.RouteOf(u);
  const size_t i = solution.PositionOf(u);
  const EngineRoute& ra = solution.Route(a);
  const EngineRoute& rb = solution.Route(b);
  const Segment seg_u = rules_.NodeSeg(u);
  const bool b_takes_u = rules_.CanServe(b, u);
  // Route a without u.
  const double a_without =
      rules_.RouteCost(a, rules_.Join(a, ra.prefix[i - 1], ra.nodes[i - 1], ra.nodes[i + 1], ra.suffix[i + 1]));
  if (b_takes_u && a_without < RouteRules::kInfeasible) {
    // u after position j of b, then u before position j.
    for (size_t at : {j + 1, j}) {
      if (at == 0 || (at == j && !is_target)) continue;
      const Segment head = rules_.Join(b, rb.prefix[at - 1], rb.nodes[at - 1], u, seg_u);
      const double b_with = rules_.RouteCost(b, rules_.Join(b, head, u, rb.nodes[at], rb.suffix[at]));
      if (Better(solution, a, a_without, b, b_with)) {
        scratch_a_ = ra.nodes;
        scratch_a_.erase(scratch_a_.begin() + static_cast<std::ptrdiff_t>(i));
        scratch_b_ = rb.nodes;
        scratch_b_.insert(scratch_b_.begin() + static_cast<std::ptrdiff_t>(at), u);
        if (Commit(solution, a, b)) return true;
      }
    }
  }
  if (!is_target || !b_takes_u) return false;
  const size_t v = rb.nodes[j];
  if (!rules_.CanServe(a, v)) return false;
  const Segment seg_v = rules_.NodeSeg(v);
  const Segment a_head = rules_.Join(a, ra.prefix[i - 1], ra.nodes[i - 1], v, seg_v);
  const double a_swapped = rules_.RouteCost(a, rules_.Join(a, a_head, v, ra.nodes[i + 1], ra.suffix[i + 1]));
  if (!(a_swapped < RouteRules::kInfeasible)) return false;
  const Segment b_head = rules_.Join(b, rb.prefix[j - 1], rb.nodes[j - 1], u, seg_u);
  const double b_swapped = rules_.RouteCost(b, rules_.Join(b, b_head, u, rb.nodes[j + 1], rb.suffix[j + 1]));
  if (!Better(solution, a, a_swapped, b, b_swapped)) return false;
  scratch_a_ = ra.nodes;
  scratch_a_[i] = v;
  scratch_b_ = rb.nodes;
  scratch_b_[j] = u;
  return Commit(solution, a, b);
}

// Moves of target u (position i) against target at position j of its own
// route: relocate after j, swap, reverse the stretch between them.
bool LocalSearch::TryWithin(Solution& solution, size_t u, size_t j) {
  const size_t a = solution.RouteOf(u);
  const size_t i = solution.PositionOf(u);
  if (i == j) return false;
  const std::vector<size_t>& nodes = solution.Route(a).nodes;
  for (int kind = 0; kind < 3; ++kind) {
    scratch_a_ = nodes;
    if (kind == 0) {  // relocate u right after the node at j
      if (j + 1 == i) continue;
      scratch_a_.erase(scratch_a_.begin() + static_cast<std::ptrdiff_t>(i));
      const size_t at = j < i ? j + 1 : j;
      scratch_a_.insert(scratch_a_.begin() + static_cast<std::ptrdiff_t>(at), u);
    } else if (kind == 1) {  // swap
      std::swap(scratch_a_[i], scratch_a_[j]);
    } else {  // 2-opt: arcs (first, last) and (first+1, last+1) replace the old ones
      const size_t first = std::min(i, j);
      const size_t last = std::max(i, j);
      if (last == first + 1) continue;
      std::reverse(scratch_a_.begin() + static_cast<std::ptrdiff_t>(first) + 1,
                   scratch_a_.begin() + static_cast<std::ptrdiff_t>(last) + 1);
    }
    const double cost = rules_.ExactCost(a, scratch_a_.data(), scratch_a_.size());
    if (Better(solution, a, cost, a, cost) && Commit(solution, a, a)) return true;
  }
  return false;
}

}  // namespace tarsel
