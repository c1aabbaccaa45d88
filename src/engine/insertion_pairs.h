#pragma once

#include <cstddef>
#include <vector>

#include "engine/route_rules.h"
#include "engine/solution.h"

namespace tarsel {

// Where a construction may insert a target so that the precedence pairs
// naming it stay kept by the routes' order, given where their other nodes
// already are: a "same" pair's nodes on one route, `before` earlier; a
// plain pair in order when both are on one route; a "diff" pair's nodes on
// two routes. The second node of a "same" pair waits until its first is
// placed, so that the pair goes in together. Without pairs every place is
// allowed and nothing waits.
class InsertionPairs {
 public:
  explicit InsertionPairs(const RouteRules& rules);

  bool Any() const { return !pairs_of_.empty(); }
  // Whether `node` is the second node of a "same" pair whose first node is unplaced.
  bool Waits(const Solution& solution, size_t node) const;
  // The places of route k (insert before position p, `low` <= p <= `high`)
  // that keep the pairs of `node`; false when there are none.
  bool Places(const Solution& solution, size_t node, size_t k, size_t& low, size_t& high) const;
  // The `after` node of a "same" pair whose `before` is `node`, when that
  // node is an unplaced target, so that the two go in together; kNoIndex
  // otherwise (the first such pair when `node` opens several).
  size_t Companion(const Solution& solution, size_t node) const;
  // The cheapest way to insert `first` and then its companion `second`
  // together into route k: `first` before position p and `second` before
  // position q >= p of the route as it is (q == p: right behind `first`),
  // each within the places its pairs allow and at most `max_gap` apart
  // (q - p); every (p, q) is priced in O(1) from the route's stored
  // segments, O(length x min(length, max_gap)) in all. False when no pair
  // of places keeps the pairs or has a finite cost under `weights`.
  struct JointPlace {
    double cost = RouteRules::kInfeasible;  // the route's new cost
    size_t first = 0;                       // p
    size_t second = 0;                      // q
  };
  bool BestJoint(const Solution& solution, const PenaltyWeights& weights, size_t first, size_t second, size_t k,
                 size_t max_gap, JointPlace& best) const;
  // Inserts `first` and `second` at `place` into route k and refreshes it.
  static void InsertJoint(Solution& solution, const PenaltyWeights& weights, size_t k, size_t first,
                          size_t second, const JointPlace& place);
  // Calls visit(other) for every node that shares a pair with `node`.
  template <class Visit>
  void ForEachPartner(size_t node, Visit&& visit) const {
    if (node >= pairs_of_.size()) return;
    const std::vector<PrecedencePair>& pairs = rules_.Tables().PrecedencePairs();
    for (const size_t p : pairs_of_[node]) visit(pairs[p].before == node ? pairs[p].after : pairs[p].before);
  }

 private:
  const RouteRules& rules_;
  std::vector<std::vector<size_t>> pairs_of_;  // per node: the pairs naming it; empty without pairs
};

}  // namespace tarsel
