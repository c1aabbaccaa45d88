#include "engine/local_search.h"

#include <algorithm>

#include "common/special_values.h"
#include "engine/move_value.h"

namespace tarsel {

namespace {

// Passes over all targets after which the search stops even if moves
// still improve (by amounts near the rounding of costs).
constexpr size_t kMaxPasses = 1000;

}  // namespace

LocalSearch::LocalSearch(const RouteRules& rules, const GranularNeighbours& neighbours)
    : rules_(rules),
      neighbours_(neighbours),
      segments_(rules, neighbours.Types()),
      joiner_(rules, segments_),
      arc_pricing_(rules, segments_),
      sectors_(rules),
      relocate_(joiner_),
      swap_(joiner_),
      swap_tails_(joiner_, rules.NumNodes()),
      relocate_within_(joiner_),
      swap_within_(joiner_),
      reverse_within_(joiner_, rules.NumNodes()),
      swap_star_(rules, joiner_),
      relocate_pair_(joiner_),
      swap_pairs_(joiner_),
      reverse_chain_(joiner_, rules.NumNodes()),
      order_(rules.Targets()),
      moves_arc_priced_(arc_pricing_.Applicable()) {
  const size_t n = rules.NumNodes() + 2;
  saved_a_.reserve(n);
  saved_b_.reserve(n);
  kick_saved_.reserve(n);
  const std::vector<PrecedencePair>& pairs = rules.Tables().PrecedencePairs();
  if (!pairs.empty()) pairs_of_.resize(rules.NumNodes());
  for (size_t p = 0; p < pairs.size(); ++p) {
    if (pairs[p].kind == PairKind::kSame) same_pairs_.push_back(p);
    for (const size_t node : {pairs[p].before, pairs[p].after}) {
      if (node < pairs_of_.size()) pairs_of_[node].push_back(p);
    }
  }
  inner_order_.reserve(n);
  awake_.assign(rules.NumNodes(), 0);
  queue_.reserve(4 * n);
  old_prev_.assign(rules.NumNodes(), 0);
  old_next_.assign(rules.NumNodes(), 0);
  tour_clean_.assign(rules.NumAgents(), 0);
  tested_at_.assign(rules.NumNodes(), -1);
  modified_at_.assign(rules.NumAgents(), 0);
  changed_at_.assign(rules.NumNodes(), 0);
}

bool LocalSearch::Better(const Solution& solution, const MoveCosts& costs) const {
  if (!(costs.cost_a < RouteRules::kInfeasible) || !(costs.cost_b < RouteRules::kInfeasible)) return false;
  return Improves(ValueAfter(solution, costs.a, costs.cost_a, costs.b, costs.cost_b), solution.Value(),
                  rules_.MinMax());
}

size_t LocalSearch::BrokenPrecedencePairs(const Solution& solution, size_t a, size_t b) const {
  if (pairs_of_.empty()) return 0;
  const std::vector<PrecedencePair>& pairs = rules_.Tables().PrecedencePairs();
  size_t broken = 0;
  for (const size_t k : {a, b}) {
    for (const size_t node : solution.Route(k).nodes) {
      if (node >= pairs_of_.size()) continue;
      for (const size_t p : pairs_of_[node]) {
        const PrecedencePair& pair = pairs[p];
        const size_t route_before = solution.RouteOf(pair.before);
        const size_t route_after = solution.RouteOf(pair.after);
        if (route_before == kNoIndex || route_after == kNoIndex) continue;
        // Each pair once: at its `before` node, or at its `after` node when
        // `before` lies on neither route.
        const bool counted_at_before = route_before == a || route_before == b;
        if (node == pair.after && counted_at_before) continue;
        const bool in_order = solution.PositionOf(pair.before) < solution.PositionOf(pair.after);
        if (!PairOrderKept(pair.kind, route_before == route_after, in_order)) ++broken;
      }
    }
    if (b == a) break;
  }
  return broken;
}

bool LocalSearch::Settle(Solution& solution, const PenaltyWeights& weights, const ObjectiveValue& before,
                         size_t broken_before, size_t a, size_t b) {
  if (b != a) solution.Refresh(b, weights);
  solution.Refresh(a, weights);
  const bool feasible = solution.Route(a).cost < RouteRules::kInfeasible &&
                        solution.Route(b).cost < RouteRules::kInfeasible;
  if (feasible && BrokenPrecedencePairs(solution, a, b) <= broken_before &&
      Improves(solution.Value(), before, rules_.MinMax())) {
    ++taken_;
    modified_at_[a] = modified_at_[b] = taken_;
    if (skip_quiet_) StampChanged(solution, a, b);
    segments_.Refresh(solution, a);
    swap_star_.Touch(a);
    tour_clean_[a] = 0;
    if (b != a) {
      segments_.Refresh(solution, b);
      swap_star_.Touch(b);
      tour_clean_[b] = 0;
    }
    return true;
  }
  solution.MutableNodes(a) = saved_a_;
  if (b != a) {
    solution.MutableNodes(b) = saved_b_;
    solution.Refresh(b, weights);
  }
  solution.Refresh(a, weights);
  return false;
}

size_t LocalSearch::Run(Solution& solution, const PenaltyWeights& weights, Random& random,
                        const std::function<bool()>& stop) {
  size_t moves = 0;
  segments_.RefreshAll(solution);
  swap_star_.Forget();
  std::fill(tour_clean_.begin(), tour_clean_.end(), 0);
  const bool min_max = rules_.MinMax();
  // Elsewhere a move's value may also depend on other routes (the longest
  // route under min-max, precedence pairs), or the search keeps testing as
  // it always has (no binding capacity).
  skip_unchanged_ = rules_.HasLoads() && !min_max && pairs_of_.empty();
  arc_priced_ = skip_unchanged_ && arc_pricing_.Applicable();
  swap_star_.SetArcPriced(arc_priced_);
  skip_quiet_ = min_max && pairs_of_.empty();
  if (skip_unchanged_ || skip_quiet_) {
    taken_ = 0;
    std::fill(tested_at_.begin(), tested_at_.end(), -1);
    std::fill(modified_at_.begin(), modified_at_.end(), 0);
    std::fill(changed_at_.begin(), changed_at_.end(), 0);
  }
  // Whether this pass tests every target (the first does: none is tested
  // yet), and whether the passes after it found nothing in the solution
  // as it stands (then a full pass that finds nothing either ends the run).
  bool full = true;
  bool rest_found_nothing = false;
  for (size_t pass = 0; pass < kMaxPasses; ++pass) {
    bool improved = false;
    if (pass == 0) order_ = rules_.Targets();  // a run depends on the solution and the generator only
    random.Shuffle(order_);
    // Under min-max the targets of the longest route go first: only moves
    // that take work off it lower the objective's first part.
    const size_t longest = LongestRoute(solution);
    for (int round = 0; round < (min_max ? 2 : 1); ++round) {
      for (size_t u : order_) {
        if (min_max && (solution.RouteOf(u) == longest) != (round == 0)) continue;
        if (!full && Quiet(solution, u)) continue;
        if (stop && stop()) return moves;
        if (TryNode(solution, weights, u)) {
          ++moves;
          improved = true;
        }
      }
    }
    if (!improved && rest_found_nothing) break;
    rest_found_nothing = false;
    if (!improved && min_max) {
      const size_t taken = LongestRoutePass(solution, weights, stop);
      moves += taken;
      improved = taken > 0;
    }
    if (!improved) {
      const size_t taken = TourPasses(solution, weights, stop);
      moves += taken;
      improved = taken > 0;
    }
    if (!improved) {
      const size_t taken = SwapStarPass(solution, weights, stop);
      moves += taken;
      improved = taken > 0;
    }
    if (!improved && !same_pairs_.empty()) {
      const size_t taken = SwapPairsPass(solution, weights, stop);
      moves += taken;
      improved = taken > 0;
    }
    if (!improved && !full) {
      // Nothing found while skipping quiet targets: one full pass decides.
      full = true;
      rest_found_nothing = true;
      continue;
    }
    if (!improved) break;
    full = !skip_quiet_;
  }
  return moves;
}

bool LocalSearch::Quiet(const Solution& solution, size_t u) const {
  const int64_t last = tested_at_[u];
  if (last < 0) return false;
  const std::vector<size_t>& nodes = solution.Route(solution.RouteOf(u)).nodes;
  const size_t i = solution.PositionOf(u);
  for (size_t q = i; q < i + kMaxSegment && q + 1 < nodes.size(); ++q) {
    if (changed_at_[nodes[q]] > last) return false;
  }
  for (size_t slot = 0; slot < neighbours_.Types().size(); ++slot) {
    const size_t* list = neighbours_.Begin(slot, u);
    for (size_t index = 0; index < neighbours_.Count(); ++index) {
      if (changed_at_[list[index]] > last) return false;
    }
  }
  return true;
}

void LocalSearch::StampChanged(const Solution& solution, size_t a, size_t b) {
  for (const std::vector<size_t>* before : {&saved_a_, &saved_b_}) {
    for (size_t p = 1; p + 1 < before->size(); ++p) {
      old_prev_[(*before)[p]] = (*before)[p - 1];
      old_next_[(*before)[p]] = (*before)[p + 1];
    }
    if (b == a) break;
  }
  for (const size_t k : {a, b}) {
    const std::vector<size_t>& nodes = solution.Route(k).nodes;
    for (size_t p = 1; p + 1 < nodes.size(); ++p) {
      const size_t x = nodes[p];
      if (nodes[p - 1] != old_prev_[x] || nodes[p + 1] != old_next_[x]) changed_at_[x] = taken_;
    }
    if (b == a) break;
  }
}

bool LocalSearch::TryNode(Solution& solution, const PenaltyWeights& weights, size_t u) {
  bool moved = false;
  const int64_t last = tested_at_[u];
  tested_at_[u] = taken_;
  neighbours_.ForEachPlaced(solution, u, [&](size_t b, size_t j) {
    if (Unchanged(last, solution.RouteOf(u), b)) return;
    if (TryPair(solution, weights, u, b, j)) moved = true;
  });
  for (size_t b = 0; b < solution.NumRoutes(); ++b) {
    if (b == solution.RouteOf(u) || Unchanged(last, solution.RouteOf(u), b)) continue;
    // Where the value depends on two routes alone, the start of a route
    // with targets is already tried from its first target (before it, and
    // 2-opt* there) when that target is u's neighbour; empty routes remain.
    if (skip_unchanged_ && solution.Route(b).Targets() > 0) continue;
    if (TryBetween(solution, weights, u, b, 0, false)) moved = true;
  }
  if (!pairs_of_.empty() && TryRelocatePairs(solution, weights, u)) moved = true;
  return moved;
}

bool LocalSearch::TryPair(Solution& solution, const PenaltyWeights& weights, size_t u, size_t b, size_t j) {
  if (solution.RouteOf(u) == b) return TryWithin(solution, weights, u, j);
  return TryBetween(solution, weights, u, b, j, true);
}

// Moves of target u (route a, position i) against position j of another
// route b (j == 0 and !is_target: b's start).
bool LocalSearch::TryBetween(Solution& solution, const PenaltyWeights& weights, size_t u, size_t b, size_t j,
                             bool is_target) {
  if (TryRelocateSegments(solution, weights, u, b, j, is_target)) return true;
  if (is_target && TrySwap(solution, weights, u, b, j)) return true;
  const size_t a = solution.RouteOf(u);
  const size_t i = solution.PositionOf(u);
  // 2-opt*: u followed by v's tail (u -> v), or v's head followed by u.
  if (TryTailExchange(solution, weights, a, i, b, is_target ? j - 1 : 0)) return true;
  return TryTailExchange(solution, weights, a, i - 1, b, j);
}

// Segments of 1..kMaxSegment targets starting at u moved after or before position
// j of route b, in their order and reversed.
bool LocalSearch::TryRelocateSegments(Solution& solution, const PenaltyWeights& weights, size_t u, size_t b,
                                      size_t j, bool is_target) {
  const size_t a = solution.RouteOf(u);
  const size_t i = solution.PositionOf(u);
  const EngineRoute& ra = solution.Route(a);
  const size_t last_a = ra.nodes.size() - 2;
  for (size_t count = 1; count <= kMaxSegment && i + count - 1 <= last_a; ++count) {
    if (!rules_.CanServe(b, ra.nodes[i + count - 1])) break;
    // Route a without the segment, priced once the first of its moves is
    // not dropped by its arcs.
    double a_without = 0;
    bool a_priced = false;
    const ArcPricing::Insertion insertion =
        moves_arc_priced_
            ? arc_pricing_.Prepare(solution, arc_pricing_.Remove(solution, a, i, count, weights), b, weights)
            : ArcPricing::Insertion{};
    for (size_t at : {j + 1, j}) {
      if (at == 0 || (at == j && !is_target)) continue;
      for (bool reversed : {false, true}) {
        if (reversed && count == 1) continue;
        if (moves_arc_priced_ && HopelessBetween(solution, a, insertion.change, b,
                                                 arc_pricing_.InsertPrepared(solution, insertion, at, reversed))) {
          continue;
        }
        if (!a_priced) {
          a_without = relocate_.Removed(solution, a, i, count, weights);
          a_priced = true;
        }
        if (!(a_without < RouteRules::kInfeasible)) break;
        const RelocateSegment::Move move{a, i, count, b, at, reversed};
        const double b_with = relocate_.Inserted(solution, move, weights);
        if (Take(solution, weights, relocate_, move, {a, a_without, b, b_with})) return true;
      }
      if (!(a_without < RouteRules::kInfeasible)) break;
    }
  }
  return false;
}

bool LocalSearch::TrySwap(Solution& solution, const PenaltyWeights& weights, size_t u, size_t b, size_t j) {
  const SwapTargets::Move move{solution.RouteOf(u), solution.PositionOf(u), b, j};
  if (moves_arc_priced_) {
    double change_a = 0;
    const double change = arc_pricing_.Swap(solution, move.a, move.i, b, j, weights, &change_a);
    if (HopelessBetween(solution, move.a, change_a, b, change)) return false;
  }
  return Take(solution, weights, swap_, move, swap_.Evaluate(solution, move, weights));
}

bool LocalSearch::TryTailExchange(Solution& solution, const PenaltyWeights& weights, size_t a, size_t i,
                                  size_t b, size_t j) {
  const SwapTails::Move move{a, i, b, j};
  if (moves_arc_priced_) {
    double change_a = 0;
    const double change = arc_pricing_.Tails(solution, a, i, b, j, weights, &change_a);
    if (HopelessBetween(solution, a, change_a, b, change)) return false;
  }
  return Take(solution, weights, swap_tails_, move, swap_tails_.Evaluate(solution, move, weights));
}

// Moves of target u (position i) against the target at position j of its
// own route: a segment starting at u relocated after or before j (in order and
// reversed), swap, and the two 2-opt moves that join u and the target at j.
bool LocalSearch::TryWithin(Solution& solution, const PenaltyWeights& weights, size_t u, size_t j) {
  const size_t a = solution.RouteOf(u);
  const size_t i = solution.PositionOf(u);
  if (i == j) return false;
  const size_t last = solution.Route(a).nodes.size() - 2;
  for (size_t count = 1; count <= kMaxSegment && i + count - 1 <= last; ++count) {
    const double removed = moves_arc_priced_ ? arc_pricing_.RemoveWithin(solution, a, i, count) : 0.0;
    for (size_t after : {j, j - 1}) {
      if (after + 1 >= i && after <= i + count - 1) continue;  // the segment itself or in place
      for (bool reversed : {false, true}) {
        if (reversed && count == 1) continue;
        const RelocateWithin::Move move{a, i, count, after, reversed};
        if (moves_arc_priced_ &&
            HopelessWithin(solution, arc_pricing_.InsertWithin(solution, a, i, count, after, reversed, removed))) {
          continue;
        }
        if (Take(solution, weights, relocate_within_, move, relocate_within_.Evaluate(solution, move, weights))) {
          return true;
        }
      }
    }
  }
  const size_t low = std::min(i, j);
  const size_t high = std::max(i, j);
  const SwapWithin::Move swap{a, low, high};
  if (!(moves_arc_priced_ && HopelessWithin(solution, arc_pricing_.SwapWithin(solution, a, low, high))) &&
      Take(solution, weights, swap_within_, swap, swap_within_.Evaluate(solution, swap, weights))) return true;
  // 2-opt: reversing low+1..high joins the node at low to the one at high;
  // reversing low..high-1 joins the nodes after them.
  for (size_t first : {low, low - 1}) {
    const size_t end = first + (high - low);
    if (end < first + 2) continue;
    const ReverseWithin::Move move{a, first, end};
    if (moves_arc_priced_ && HopelessWithin(solution, arc_pricing_.ReverseWithin(solution, a, first, end))) continue;
    if (Take(solution, weights, reverse_within_, move, reverse_within_.Evaluate(solution, move, weights))) {
      return true;
    }
  }
  return false;
}

size_t LocalSearch::SwapStarPass(Solution& solution, const PenaltyWeights& weights,
                                 const std::function<bool()>& stop) {
  size_t taken = 0;
  const size_t m = solution.NumRoutes();
  const bool sectors = arc_priced_ && sectors_.Applicable();
  if (sectors) {
    for (size_t k = 0; k < m; ++k) sectors_.Update(solution, k);
  }
  for (size_t a = 0; a < m; ++a) {
    for (size_t b = a + 1; b < m; ++b) {
      if (!swap_star_.Changed(a, b)) continue;
      if (sectors && !sectors_.Overlap(a, b)) continue;
      if (stop && stop()) return taken;
      SwapStar::Exchange exchange;
      if (!swap_star_.Best(solution, weights, a, b, exchange)) continue;
      if (Take(solution, weights, swap_star_, exchange, swap_star_.Evaluate(solution, exchange, weights))) {
        ++taken;
        if (sectors) {
          sectors_.Update(solution, a);
          sectors_.Update(solution, b);
        }
      }
    }
  }
  return taken;
}

}  // namespace tarsel
