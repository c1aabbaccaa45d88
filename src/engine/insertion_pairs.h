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
