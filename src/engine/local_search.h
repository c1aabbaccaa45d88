#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <utility>
#include <vector>

#include "engine/arc_pricing.h"
#include "engine/granular_neighbours.h"
#include "engine/move_value.h"
#include "engine/random.h"
#include "engine/relocate_pair.h"
#include "engine/relocate_segment.h"
#include "engine/relocate_within.h"
#include "engine/reverse_chain.h"
#include "engine/reverse_within.h"
#include "engine/route_operator.h"
#include "engine/route_sectors.h"
#include "engine/route_segments.h"
#include "engine/segment_joiner.h"
#include "engine/solution.h"
#include "engine/swap_pairs.h"
#include "engine/swap_star.h"
#include "engine/swap_tails.h"
#include "engine/swap_targets.h"
#include "engine/swap_within.h"
#include "engine/tour_candidates.h"

namespace tarsel {

// First-improvement local search on granular neighbourhoods. For each
// target u (in a random order; under min-max the targets of the longest
// route first) and each neighbour v of u in the matrix of v's route, and the
// start of every other route:
// - between routes: relocate a segment of 1 to 3 targets starting at u after or
//   before v (also reversed), swap u and v, 2-opt* (exchange the tails
//   after u and before v, or after v and before u);
// - within a route: relocate such a segment after or before v, swap u and v,
//   2-opt between them;
// - with "same" precedence pairs (pickup and delivery): when u is a pickup,
//   the pair moved together next to the neighbours of its two nodes in any
//   route, its own included (`pair_pass.cpp`).
// When no such move improves: under min-max, the longest route hands segments
// to the best place anywhere else (on a long route: next to the neighbours
// of the segment's ends, or at another route's ends) and gets every relocation and 2-opt
// within itself tried; then SWAP* between every pair of routes changed
// since it was last examined; with "same" pairs, last, every two pairs of
// two routes exchanged, each at its cheapest places in the other route.
// Routes of more than kLongRouteTargets targets
// get the tour pass (2-opt and Or-opt over neighbour lists with don't-look
// bits, Or-3opt, chains of 2-opt steps) instead of the all-pairs pass when longest, and on every
// such route before SWAP*. Every move is priced in O(1) from stored
// segments (2-opt within a route in full where reversal changes the cost)
// and taken when it improves the objective (min-max: longest route, then
// total; min-sum: total) and keeps every window end, length limit and
// connection. Each move kind is an operator (`route_operator.h`) that prices
// and applies it; the search chooses the moves to try, takes them and
// refreshes the stored segments. Under min-sum with capacities on instances
// without windows and limits, a move is first priced from its arcs
// (`ArcPricing`) and only priced from the segments when that says it may
// improve; SWAP* is then tried between routes whose sectors overlap
// (`RouteSectors`). Buffers are sized once; the loop does not allocate.
class LocalSearch {
 public:
  LocalSearch(const RouteRules& rules, const GranularNeighbours& neighbours);

  // Improves a complete `solution`, its routes priced under `weights`,
  // until no move improves it or `stop` answers true (asked once per
  // target). Returns the number of moves taken.
  size_t Run(Solution& solution, const PenaltyWeights& weights, Random& random,
             const std::function<bool()>& stop);
  // Improves route k of a complete `solution` as a tour (tour_pass.cpp):
  // 2-opt, Or-opt and swap between each target and its neighbours,
  // Or-3opt and chains of 2-opt steps, with don't-look bits, until a pass over all its targets finds
  // nothing or `stop` answers true. Returns the number of moves taken.
  size_t ImproveTour(Solution& solution, const PenaltyWeights& weights, size_t k,
                     const std::function<bool()>& stop);
  // Iterated local search on the long routes of a complete `solution`:
  // `kicks` times, a route (under min-max the longest half of the time)
  // gets two neighbouring segments of up to 30 targets exchanged, then the
  // tour pass from the targets at the changed joins; the route is kept when
  // the objective improved and restored otherwise. Returns the kicks kept.
  size_t KickTours(Solution& solution, const PenaltyWeights& weights, Random& random, size_t kicks,
                   const std::function<bool()>& stop);
  // The most 2-opt steps a chain of the tour pass takes (at most
  // ChainTour::kMaxReversals, the default; 0: no chains).
  void SetChainSteps(size_t steps) { chain_steps_ = std::min(steps, ChainTour::kMaxReversals); }
  // The lists the tour pass's Or-3opt and chains draw their targets from
  // (null, the default: the nearest neighbours). `candidates` must outlive
  // the search.
  void SetTourCandidates(const TourCandidates* candidates) { candidates_ = candidates; }

 private:
  // Longest segment of targets relocated as one.
  static constexpr size_t kMaxSegment = 3;

  // Each returns whether a move was taken; the passes, how many.
  bool TryNode(Solution& solution, const PenaltyWeights& weights, size_t u);
  bool TryPair(Solution& solution, const PenaltyWeights& weights, size_t u, size_t route_of_v,
               size_t position_of_v);
  bool TryBetween(Solution& solution, const PenaltyWeights& weights, size_t u, size_t b, size_t j,
                  bool is_target);
  bool TryRelocateSegments(Solution& solution, const PenaltyWeights& weights, size_t u, size_t b, size_t j,
                       bool is_target);
  bool TrySwap(Solution& solution, const PenaltyWeights& weights, size_t u, size_t b, size_t j);
  // 2-opt*: route a keeps nodes 0..i, route b nodes 0..j; they exchange the rest.
  bool TryTailExchange(Solution& solution, const PenaltyWeights& weights, size_t a, size_t i, size_t b,
                       size_t j);
  bool TryWithin(Solution& solution, const PenaltyWeights& weights, size_t u, size_t j);
  // The "same" pairs whose first node is u, each relocated as a whole.
  bool TryRelocatePairs(Solution& solution, const PenaltyWeights& weights, size_t u);
  // Places next to the neighbours of `node` (and, with `route_starts`, right
  // after every route's start) for a pair leaving positions i and j of route a.
  void PairPlaces(const Solution& solution, size_t node, size_t a, size_t i, size_t j, bool route_starts,
                  std::vector<std::pair<size_t, size_t>>& places) const;
  size_t SwapStarPass(Solution& solution, const PenaltyWeights& weights, const std::function<bool()>& stop);
  // Every two "same" pairs of two routes exchanged, each at its cheapest
  // places in the other route (pair_pass.cpp).
  size_t SwapPairsPass(Solution& solution, const PenaltyWeights& weights, const std::function<bool()>& stop);
  // Route and positions of a "same" pair held in order on one route.
  bool SamePairPlaced(const Solution& solution, const PrecedencePair& pair, size_t& k, size_t& i, size_t& j) const;
  // Min-max passes on the longest route (longest_route_pass.cpp).
  size_t LongestRoutePass(Solution& solution, const PenaltyWeights& weights, const std::function<bool()>& stop);
  bool MoveOffLongest(Solution& solution, const PenaltyWeights& weights, size_t longest);
  // The tour pass on every route of more than kLongRouteTargets targets
  // that changed since its last pass (tour_pass.cpp).
  size_t TourPasses(Solution& solution, const PenaltyWeights& weights, const std::function<bool()>& stop);
  bool TryTourAt(Solution& solution, const PenaltyWeights& weights, size_t u);
  bool TryOr3opt(Solution& solution, const PenaltyWeights& weights, size_t u);
  // A chain of 2-opt steps from u (Lin-Kernighan style, tour_pass.cpp):
  // each step removes an arc at t1's end, joins its other node t2 to a
  // neighbour t3 and breaks an arc at t3, kept while the running gain of
  // removed over added arcs stays positive; taken at the first step whose
  // closed tour is cheaper when priced exactly.
  bool TryChain(Solution& solution, const PenaltyWeights& weights, size_t u);
  bool ChainStep(Solution& solution, const PenaltyWeights& weights, size_t t1, size_t t2, bool forward, double gain,
                 size_t depth);
  // The first at most `limit` of u's tour candidates for route slot `slot`
  // (the nearest neighbours without SetTourCandidates); their number in `count`.
  const size_t* TourList(size_t slot, size_t u, size_t limit, size_t& count) const {
    if (candidates_ != nullptr) {
      count = std::min(limit, candidates_->Count());
      return candidates_->Begin(slot, u);
    }
    count = std::min(limit, neighbours_.Count());
    return neighbours_.Begin(slot, u);
  }
  void Wake(size_t node);
  // The tour pass on route k from the awake targets in the queue until none
  // is left; sets `stopped` when `stop` answers true. Returns moves taken.
  size_t DrainTour(Solution& solution, const PenaltyWeights& weights, size_t k, const std::function<bool()>& stop,
                   bool& stopped);
  // After a move within route k: wakes the targets whose neighbours in
  // the tour (either direction) changed.
  void WakeChanged(const Solution& solution, size_t k);
  size_t ImproveWithin(Solution& solution, const PenaltyWeights& weights, size_t k,
                       const std::function<bool()>& stop);
  // Whether every move of u against route b (a: u's route) was already
  // found not to improve: neither route changed since u's last test began
  // (`last`: the count of moves taken then; negative: never tested).
  bool Unchanged(int64_t last, size_t a, size_t b) const {
    return skip_unchanged_ && last >= 0 && modified_at_[a] <= last && modified_at_[b] <= last;
  }
  // Whether a move whose arcs change the routes' total by `change`
  // (ArcPricing) cannot improve the objective, so that pricing it with the
  // segments is skipped (asked only where `arc_priced_`). Half the margin
  // leaves room for the rounding of the arcs' sums.
  static bool Hopeless(const Solution& solution, double change) {
    return change >= -0.5 * ImprovementMargin(solution.Value().total);
  }
  // The same for a move within one route, which changes neither the
  // route's load nor any other route: its route's cost changes by exactly
  // the arcs' change, so the objective improves only when that is below
  // the margin (under min-max the longest route's, the smaller one).
  // Asked only where `moves_arc_priced_`, under either objective.
  bool HopelessWithin(const Solution& solution, double change) const {
    const ObjectiveValue& value = solution.Value();
    return change >= -0.5 * ImprovementMargin(rules_.MinMax() ? value.longest : value.total);
  }
  // The same for a move between routes a and b whose arcs change the
  // routes' total by `change`, `change_a` of it route a's (ArcPricing;
  // -inf: not priced so). Under min-max each route's new cost follows, and
  // so the longest route after the move; the move is dropped when neither
  // the longest route nor the total can come down by the margin, with half
  // a margin's room for the rounding of the arcs' sums either way.
  bool HopelessBetween(const Solution& solution, size_t a, double change_a, size_t b, double change) const {
    if (!(change < RouteRules::kInfeasible)) return true;
    if (!rules_.MinMax()) return Hopeless(solution, change);
    if (!(change > -RouteRules::kInfeasible)) return false;
    const ObjectiveValue after = ValueAfter(solution, a, solution.Route(a).cost + change_a, b,
                                            solution.Route(b).cost + (change - change_a));
    const ObjectiveValue& now = solution.Value();
    const double margin = ImprovementMargin(now.longest);
    if (after.longest >= now.longest + 1.5 * margin) return true;
    return after.longest >= now.longest - 0.5 * margin &&
           after.total >= now.total - 0.5 * ImprovementMargin(now.total);
  }
  // Under min-max, whether target u's surroundings are as they were at
  // its last test: the arcs at u, at the targets after it that its segments
  // take along and at each of its neighbours unchanged since then.
  bool Quiet(const Solution& solution, size_t u) const;
  // After a move on routes a and b (saved_a_, saved_b_: their nodes
  // before): stamps every node whose predecessor or successor changed.
  void StampChanged(const Solution& solution, size_t a, size_t b);
  // Judges the new costs of a move's routes.
  bool Better(const Solution& solution, const MoveCosts& costs) const;
  // Takes the move when its priced costs improve the objective and the
  // exact evaluation of the applied routes confirms it.
  template <typename Operator>
  bool Take(Solution& solution, const PenaltyWeights& weights, Operator& op, const typename Operator::Move& move,
            const MoveCosts& costs) {
    return Better(solution, costs) && Commit(solution, weights, op, move, costs.a, costs.b);
  }
  // Applies the move to routes a and b (a == b for one route) and keeps it
  // only when the exact evaluation confirms the improvement; then refreshes
  // the stored segments of the changed routes.
  template <typename Operator>
  bool Commit(Solution& solution, const PenaltyWeights& weights, Operator& op, const typename Operator::Move& move,
              size_t a, size_t b) {
    const ObjectiveValue before = solution.Value();
    const size_t broken_before = BrokenPrecedencePairs(solution, a, b);
    saved_a_ = solution.Route(a).nodes;
    if (b != a) saved_b_ = solution.Route(b).nodes;
    op.Apply(solution, move);
    return Settle(solution, weights, before, broken_before, a, b);
  }
  // The second half of Commit, after the move was applied: a move that
  // breaks more precedence pairs on routes a and b than before is undone
  // like one that does not improve.
  bool Settle(Solution& solution, const PenaltyWeights& weights, const ObjectiveValue& before,
              size_t broken_before, size_t a, size_t b);
  // Precedence pairs with a node on route a or b that the routes' order
  // breaks ("same" split or out of order, plain out of order, "diff" on one
  // route); 0 without pairs.
  size_t BrokenPrecedencePairs(const Solution& solution, size_t a, size_t b) const;

  const RouteRules& rules_;
  const GranularNeighbours& neighbours_;
  const TourCandidates* candidates_ = nullptr;
  RouteSegments segments_;
  SegmentJoiner joiner_;
  ArcPricing arc_pricing_;
  RouteSectors sectors_;  // with arc pricing: SWAP* only between overlapping routes
  RelocateSegment relocate_;
  SwapTargets swap_;
  SwapTails swap_tails_;
  RelocateWithin relocate_within_;
  SwapWithin swap_within_;
  ReverseWithin reverse_within_;
  SwapStar swap_star_;
  RelocatePair relocate_pair_;
  SwapPairs swap_pairs_;
  std::vector<size_t> same_pairs_;  // indices of the "same" precedence pairs
  ReverseChain reverse_chain_;
  ReverseChainMove chain_;  // the chain under construction
  size_t chain_steps_ = ChainTour::kMaxReversals;
  std::vector<size_t> order_;
  std::vector<size_t> inner_order_;  // targets of one route for the passes over all its pairs
  std::vector<size_t> saved_a_;  // the routes before a move, restored when it does not improve
  std::vector<size_t> saved_b_;
  std::vector<std::vector<size_t>> pairs_of_;  // per node: the precedence pairs naming it
  // (route, place) candidates of a pair's first and second node.
  std::vector<std::pair<size_t, size_t>> first_places_;
  std::vector<std::pair<size_t, size_t>> second_places_;
  // The tour pass: don't-look bits (awake targets, in the order woken),
  // the neighbours each target had before a move, and per route whether a
  // pass found nothing since it last changed.
  std::vector<char> awake_;
  std::vector<size_t> queue_;
  std::vector<size_t> old_prev_;
  std::vector<size_t> old_next_;
  std::vector<char> tour_clean_;
  std::vector<size_t> kick_saved_;  // a route before a kick, restored when the kick does not pay
  // Under min-sum with capacities, a move's value depends on its two routes
  // alone: u is tested against a route again only when it or u's route
  // changed since u's last test. Counted in moves taken during one run.
  bool skip_unchanged_ = false;
  int64_t taken_ = 0;
  std::vector<int64_t> tested_at_;    // per node: moves taken when its last test began (-1: none)
  std::vector<int64_t> modified_at_;  // per route: moves taken when it last changed
  // Under the same conditions, on instances without windows and length
  // limits: moves are first priced from their arcs and dropped when they
  // cannot improve (`Hopeless`).
  bool arc_priced_ = false;
  // On every instance without windows and length limits the moves within
  // a route and the relocations, swaps and 2-opt* between routes are
  // first priced from their arcs (`HopelessWithin`, `HopelessBetween`).
  bool moves_arc_priced_ = false;
  // Under min-max (without precedence pairs) a pass over the targets skips
  // those that are `Quiet`: most of a pass after the first finds nothing,
  // and with two or three routes nearly every move changes the routes
  // every target is tested against, so routes cannot tell which tests to
  // skip where the arcs can. A move's value there still depends on routes'
  // costs elsewhere, so the search ends only after a full pass, one that
  // skips nothing, has found nothing either.
  bool skip_quiet_ = false;
  std::vector<int64_t> changed_at_;  // per node: moves taken when an arc at it last changed
};

}  // namespace tarsel
