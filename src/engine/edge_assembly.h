#pragma once

#include <cstddef>
#include <utility>
#include <vector>

#include "engine/granular_neighbours.h"
#include "engine/random.h"
#include "engine/route_rules.h"
#include "engine/solution.h"

namespace tarsel {

// Edge-assembly crossover of two solutions with several routes. Each parent
// is read as one closed tour over the targets and one copy of the depot per
// agent: copy k stands between route k - 1 and route k (its edge into the
// targets is agent k's start, its edge from them agent k - 1's end), so the
// copies carry the agent of each route. The union of both parents' edges
// is split into AB-cycles (edges of the first and of the second parent in
// turn, the edges both share left out); a few AB-cycles applied to the
// first parent (its edges of the cycle removed, the second's added) leave
// subtours, which are joined, smallest first, by the cheapest exchange of
// two edges (one in the subtour, one outside; near neighbours first). Of a
// few such children the shortest tour is kept; it is handed back as a giant
// tour of targets and the agents in the order their depot copies appear,
// for the split to cut into routes.
//
// With a symmetric matrix and one depot node for every route the edges are
// undirected; otherwise they are directed (an AB-cycle follows an edge of
// the first parent forwards and one of the second backwards). Edges are
// priced by the one agent type all agents share: the crossover applies only
// when there is one (Applicable).
class EdgeAssembly {
 public:
  EdgeAssembly(const RouteRules& rules, const GranularNeighbours& neighbours);

  // Whether every agent has the same type, so that an edge costs the same
  // for every route that may hold it.
  bool Applicable() const { return applicable_; }
  bool Undirected() const { return undirected_; }

  // A child of `first` and `second` (both with every target placed): its
  // giant tour and agent order. False when the parents share every edge.
  bool Cross(const Solution& first, const Solution& second, Random& random, std::vector<size_t>& tour,
             std::vector<size_t>& order);

  // The child of the last successful Cross as a closed tour: the successor
  // of each vertex (a target's node index, or NumNodes() + k for agent k's
  // depot copy; kNoIndex for nodes that are no vertex), and the edges its
  // joining of subtours added (a superset of those the child keeps).
  const std::vector<size_t>& ChildSuccessors() const { return best_succ_; }
  const std::vector<std::pair<size_t, size_t>>& JoiningEdges() const { return best_joins_; }
  // Each parent's closed tour, read as Cross reads it.
  void ParentSuccessors(const Solution& parent, std::vector<size_t>& succ) const;

 private:
  static constexpr size_t kChildren = 6;

  double Arc(size_t from, size_t to) const;
  void FindCycles(Random& random);
  void FindDirectedCycles();
  void FindUndirectedCycles(Random& random);
  // Applies the AB-cycles in `chosen` to the first parent into succ_/pred_.
  void Apply(const std::vector<size_t>& chosen);
  // Joins the subtours of succ_/pred_ into one tour; returns the added cost.
  double JoinSubtours();
  bool Joined(size_t u, size_t v, bool reversed, size_t cycle, double& best_delta, size_t& best_u,
              size_t& best_v, bool& best_reversed) const;
  // Cost of the tour in succ_.
  double TourCost() const;

  const RouteRules& rules_;
  const GranularNeighbours& neighbours_;
  size_t nodes_ = 0;
  bool applicable_ = false;
  bool undirected_ = false;
  std::vector<size_t> vertices_;  // every vertex: targets, then depot copies
  std::vector<size_t> succ_a_, pred_a_, succ_b_, pred_b_;
  // AB-cycles, flat: cycle c is cycles_[begin_[c] .. begin_[c + 1]), an
  // edge of the first parent from each even position to the next.
  std::vector<size_t> cycles_;
  std::vector<size_t> begin_;
  // Work of the undirected search for AB-cycles.
  std::vector<size_t> path_;
  std::vector<size_t> at_even_, at_odd_;
  std::vector<size_t> left_a_, left_b_;  // two slots per vertex: edges not yet walked
  // The child being built.
  std::vector<size_t> succ_, pred_, adjacent_;
  std::vector<size_t> cycle_of_, cycle_size_;
  std::vector<std::pair<size_t, size_t>> joins_;
  std::vector<size_t> best_succ_;
  std::vector<std::pair<size_t, size_t>> best_joins_;
  std::vector<size_t> representative_;  // a vertex of each subtour
  std::vector<size_t> chosen_;          // the AB-cycles applied
  std::vector<size_t> shuffled_;        // AB-cycles in random order
};

}  // namespace tarsel
