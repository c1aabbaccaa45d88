#pragma once

#include <cstddef>
#include <vector>

#include "engine/objective_value.h"
#include "engine/route_rules.h"
#include "routes/segment.h"

namespace tarsel {

// One route per agent: start, targets, end node, with the segments of
// every prefix and suffix (refreshed only for routes a change touched) and
// the route's exact cost.
struct EngineRoute {
  std::vector<size_t> nodes;      // start, targets..., end
  std::vector<Segment> prefix;    // prefix[i]: nodes[0..i] from the clock at 0
  std::vector<Segment> suffix;    // suffix[i]: nodes[i..end]
  double cost = 0;                // exact cost under the weights of the last refresh; +inf when infeasible
  RouteWalk walk;                 // duration, time warp, excess and real feasibility
  size_t Targets() const { return nodes.size() - 2; }
};

// A solution of the engine: every agent's route, where each target is, and
// the objective value. Capacities are reserved up front, so that changing
// routes does not allocate.
class Solution {
 public:
  explicit Solution(const RouteRules& rules);

  const RouteRules& Rules() const { return *rules_; }
  size_t NumRoutes() const { return routes_.size(); }
  const EngineRoute& Route(size_t k) const { return routes_[k]; }
  // Route and position of target `node`; kNoIndex route when unplaced.
  size_t RouteOf(size_t node) const { return route_of_[node]; }
  size_t PositionOf(size_t node) const { return position_of_[node]; }

  // Empties every route (each then costs its start-to-end trip under `weights`).
  void Clear(const PenaltyWeights& weights);
  // Inserts target `node` into route k before position `position` (1..len-1).
  void Insert(size_t k, size_t position, size_t node);
  // Removes the target at `position` of route k.
  void Erase(size_t k, size_t position);
  // Replaces the targets of route k.
  void SetTargets(size_t k, const size_t* targets, size_t count);
  // Recomputes segments, positions and the exact cost under `weights` of
  // route k (after Insert/Erase/SetTargets or direct edits of MutableNodes).
  void Refresh(size_t k, const PenaltyWeights& weights);
  std::vector<size_t>& MutableNodes(size_t k) { return routes_[k].nodes; }
  // Replaces route k's walk (and its cost under `weights`) by one walked
  // elsewhere over the same nodes: the schedule of the whole solution,
  // whose waits for other routes a route's own walk does not see. The next
  // Refresh of the route walks it alone again.
  void SetWalk(size_t k, const RouteWalk& walk, const PenaltyWeights& weights);

  // Whether every target is placed and every route has a finite cost (with
  // penalties on, routes may still break windows or limits).
  bool Complete() const;
  // Whether every target is placed and every route keeps every rule.
  bool Feasible() const;
  // Whether no route arrives late / no route exceeds its length limit.
  bool WithoutWarp() const;
  bool WithinLimits() const;
  // Whether no route carries more than its agent's capacity.
  bool WithinCapacity() const;
  // Recomputes every route's cost under `weights` (from its stored walk).
  void Recost(const PenaltyWeights& weights);
  size_t Unplaced() const { return unplaced_; }
  // The objective value, kept up to date whenever a route's cost changes.
  const ObjectiveValue& Value() const { return value_; }
  // Longest cost among routes other than a and b (pass the same twice for one).
  double LongestExcept(size_t a, size_t b) const;

  // Segment of nodes[from..to] of route k (inclusive, from <= to), priced for agent `agent`.
  Segment SegmentFor(size_t k, size_t from, size_t to, size_t agent) const;

  // The giant tour: targets of routes 0..m-1 in order.
  void GiantTour(std::vector<size_t>& out) const;
  // Bytes the solution holds (its vectors' capacities).
  size_t MemoryBytes() const;
  // Bytes of a copy of a solution with `targets` targets on `agents`
  // routes over `nodes` nodes (a copy holds no spare capacity).
  static size_t CopyBytes(size_t nodes, size_t agents, size_t targets);
  // True when both solutions have the same routes.
  bool SameRoutes(const Solution& other) const;

 private:
  void RefreshTop();

  const RouteRules* rules_;
  std::vector<EngineRoute> routes_;
  std::vector<size_t> route_of_;
  std::vector<size_t> position_of_;
  size_t unplaced_ = 0;
  size_t top_[3];  // indices of the three costliest routes
  ObjectiveValue value_;  // longest and total of the routes' costs
};

}  // namespace tarsel
