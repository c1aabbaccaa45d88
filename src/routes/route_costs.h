#pragma once

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <limits>
#include <vector>

#include "common/special_values.h"
#include "routes/penalty_weights.h"
#include "routes/segment.h"
#include "tables/instance_tables.h"

namespace tarsel {

// One agent as the route rules see it.
struct RouteAgent {
  size_t start = kNoIndex;  // kNoIndex when the tables name no start for it
  size_t goal = kNoIndex;   // kNoIndex when the tables name no end for it
  size_t type = 0;          // its cost matrix; 0 when it has no type (`typed` false)
  double limit = 0;         // route-length limit; 0 or less: none
  double capacity = 0;      // most load its targets may add up to; 0 or less: none
  bool typed = false;       // has a type index (none of its routes is valid without one)
  bool usable = false;      // a known type that may stand on its own start and end
};

// A whole route walked node by node: its duration (travel and waiting; a
// late arrival is counted as time warp and the clock set back to the window
// end), total time warp, duration over the limit, the demand of its targets
// and how far that is over the capacity, whether it uses a missing arc, and
// whether it keeps every rule exactly.
struct RouteWalk {
  double duration = 0;
  double warp = 0;
  double excess = 0;
  double load = 0;
  double overload = 0;
  bool blocked = false;
  bool feasible = true;
};

// A walk in progress, standing at the node it reached last: the clock there
// (travel and waiting; a late arrival set back to the window end), the time
// warp so far and whether an arc on the way is missing. `RouteCosts::Arrive`
// and `RouteCosts::Extend` add one node in O(1); the whole walk of a route
// and the focal search's checkers, which extend a label one node at a time,
// take the same step.
struct WalkState {
  double clock = 0;
  double warp = 0;
  bool blocked = false;
};

// The route rules and route costs of one solve, read from the instance
// tables: each agent's record, the arc an agent of a type travels (free from
// a node to itself and, on open routes, into the own start or end; missing
// at or above the tables' missing-cost threshold), the segment of each node
// (its window and, for a target, its demand; starts and ends carry no load)
// and of each agent's start, and the one walk of a route that
// every exact route cost comes from. Penalty weights are an argument of each
// cost, never state of this object: the same rules price a route under
// different weights at the same time.
//
// Built once from the tables it reads; build it again after the tables'
// nodes, agents, starts, goals, windows or demands change (the open-route switch and
// the missing-cost threshold are read from the tables on each use).
class RouteCosts {
 public:
  explicit RouteCosts(const InstanceTables& tables);

  const InstanceTables& Tables() const { return *tables_; }
  size_t NumAgents() const { return agents_.size(); }
  size_t NumNodes() const { return node_segments_.size(); }
  const RouteAgent& Agent(size_t k) const { return agents_[k]; }
  // Whether any route can break a window end, a length limit or a
  // capacity; without any of them, penalties never apply.
  bool HasSoftRules() const { return has_soft_rules_; }
  // Whether some target has a demand and some agent a capacity (loads can
  // matter; whether they can exceed a capacity is CapacitiesBind's question).
  bool HasLoads() const { return has_loads_; }
  // Whether every agent can drive some route.
  bool AllAgentsUsable() const;
  // Whether agent `k` may serve `node` (its type is allowed there).
  bool CanServe(size_t k, size_t node) const {
    return agents_[k].usable && tables_->TypeAllowed(static_cast<int64_t>(agents_[k].type), node);
  }

  // Arc u -> v of agent k: free from a node to itself and, on open routes,
  // into the own start or end; `blocked` when the arc does not exist.
  double Travel(size_t k, size_t u, size_t v, bool& blocked) const {
    blocked = false;
    if (FreeLeg(k, u, v)) return 0.0;
    const double cost = tables_->Cost(agents_[k].type, u, v);
    blocked = !tables_->Connected(cost);
    return cost;
  }
  // Whether agent k's leg u -> v is free whatever the arcs: it stays on its
  // node, or, on open routes, it goes into its own start or end node.
  bool FreeLeg(size_t k, size_t u, size_t v) const {
    if (u == v) return true;
    const RouteAgent& agent = agents_[k];
    return !tables_->ReturnToEnd() && (v == agent.start || v == agent.goal);
  }
  // Whether agent k's type may visit `node` (false without a type).
  bool TypeAllows(size_t k, size_t node) const {
    const RouteAgent& agent = agents_[k];
    return agent.typed && tables_->TypeAllowed(static_cast<int64_t>(agent.type), node);
  }
  // Whether agent k may visit `node` on its route: its type may, and the
  // node is no other agent's start or end.
  bool MayVisit(size_t k, size_t node) const {
    if (!TypeAllows(k, node)) return false;
    const RouteAgent& agent = agents_[k];
    if (tables_->IsGoal(node) && node != agent.goal) return false;
    return !tables_->IsStart(node) || node == agent.start;
  }

  // One node of a walk, in O(1): `state` reaches `node` at state.clock
  // (travel included) and takes its window: the clock waits for the window
  // to open; past its end, it is set back to the end, the difference added
  // to the time warp, and false returned (the window rule is broken).
  // Indices beyond the node table take the window the tables hold for them.
  // The walk `walk` with its clock held apart (`clock`, at the node's
  // arrival) served at `node`: its window (see Arrive) and its load. For a
  // caller that sets the arrival itself, as the schedule of a whole solution
  // does when a node waits for another route.
  bool Serve(size_t node, double& clock, RouteWalk& walk) const {
    WalkState state{clock, walk.warp, walk.blocked};
    const bool on_time = Arrive(node, state);
    clock = state.clock;
    walk.warp = state.warp;
    if (!on_time) walk.feasible = false;
    if (node < node_segments_.size()) walk.load += node_segments_[node].load;
    return on_time;
  }
  // Ends the walk of `count` nodes of agent k whose last node was served at
  // `clock`: its duration, length excess and overload. Without time warp the
  // clock never goes back, so the limit holds at every node when it holds at
  // the end.
  void Finish(size_t k, size_t count, double clock, RouteWalk& walk) const {
    walk.duration = clock + walk.warp;
    if (!WithinLimit(k, walk.duration)) {
      walk.excess = walk.duration - agents_[k].limit;
      if (count > 1) walk.feasible = false;
    }
    walk.overload = Overload(k, walk.load);
    if (Overloaded(k, walk.load)) walk.feasible = false;
    if (walk.blocked) walk.feasible = false;
  }
  bool Arrive(size_t node, WalkState& state) const {
    const Segment window = Window(node);
    bool on_time = true;
    if (state.clock > window.latest) {
      on_time = false;
      state.warp += state.clock - window.latest;
      state.clock = window.latest;
    }
    if (state.clock < window.earliest) state.clock = window.earliest;
    return on_time;
  }
  // Agent k's walk `state`, standing at `from`, extended by `to`: the
  // travel (Travel; a missing arc sets `blocked` and adds its table cost),
  // then Arrive, whose answer it returns.
  bool Extend(size_t k, size_t from, size_t to, WalkState& state) const {
    bool blocked = false;
    state.clock += Travel(k, from, to, blocked);
    if (blocked) state.blocked = true;
    return Arrive(to, state);
  }
  // Whether a clock of `clock` at a node after agent k's start keeps its
  // route-length limit (always without one).
  bool WithinLimit(size_t k, double clock) const {
    const double limit = agents_[k].limit;
    return limit <= 0 || clock <= limit;
  }
  Segment NodeSeg(size_t node) const { return node_segments_[node]; }
  // The clock at 0 followed by agent k's start node.
  Segment StartSeg(size_t k) const { return start_segments_[k]; }
  // `first` followed by `second` whose ends are `last_of_first` and
  // `first_of_second`, for agent k.
  Segment Join(size_t k, const Segment& first, size_t last_of_first, size_t first_of_second,
               const Segment& second) const {
    bool blocked = false;
    const double travel = Travel(k, last_of_first, first_of_second, blocked);
    return Concat(first, travel, blocked, second);
  }

  // Cost under `weights` of a whole route of agent k summarised by
  // `segment`: +inf when it uses a missing arc; otherwise, with inactive
  // weights, +inf when it breaks a window end, the length limit or the
  // capacity and its duration when not; with active weights, its penalised
  // cost.
  double Cost(size_t k, const Segment& segment, const PenaltyWeights& weights) const {
    const double duration = segment.duration;
    if (segment.blocked) return kInfeasible;
    if (weights.active) return PenalisedCost(k, duration, segment.warp, segment.load, weights);
    if (segment.warp > ImprecisionOf(duration)) return kInfeasible;
    const double limit = agents_[k].limit;
    if (limit > 0 && duration > limit + ImprecisionOf(limit)) return kInfeasible;
    if (Overloaded(k, segment.load)) return kInfeasible;
    return duration;
  }
  // Duration plus the weighted time warp, excess over agent k's limit and
  // load over its capacity.
  double PenalisedCost(size_t k, double duration, double warp, double load,
                       const PenaltyWeights& weights) const {
    const double limit = agents_[k].limit;
    const double excess = limit > 0 ? std::max(0.0, duration - limit) : 0.0;
    return duration + weights.warp * warp + weights.excess * excess +
           weights.overload * Overload(k, load);
  }
  // Load over agent k's capacity (0 without one).
  double Overload(size_t k, double load) const {
    const double capacity = agents_[k].capacity;
    return capacity > 0 ? std::max(0.0, load - capacity) : 0.0;
  }
  // Whether `load` breaks agent k's capacity (beyond rounding).
  bool Overloaded(size_t k, double load) const {
    const double capacity = agents_[k].capacity;
    return capacity > 0 && load > capacity + ImprecisionOf(capacity);
  }
  // Demand of the targets of `path` (starts and ends carry none).
  template <class Path>
  double Load(const Path& path) const {
    double load = 0;
    for (size_t i = 0; i < path.size(); ++i) {
      if (path[i] < node_segments_.size()) load += node_segments_[path[i]].load;
    }
    return load;
  }

  // The route `path` (start .. end; a std::vector<size_t> or any view with
  // size() and operator[]) of agent k walked in route order: travel added
  // node by node, then the wait for a window to open. The node sequence
  // itself (which nodes, where the route starts and ends) is the caller's.
  template <class Path>
  RouteWalk Walk(size_t k, const Path& path) const {
    return WalkWith<false>(k, path, [](size_t, size_t) { return true; });
  }
  // The same walk, ended at the first broken rule (`feasible` false, the
  // other values then partial) or at the first node `node_ok(position,
  // node)` rejects, which it sees before the walk reads the node: for
  // callers that only need whether a route is valid and, when it is, its
  // duration.
  template <class Path, class NodeOk>
  RouteWalk WalkUntilBroken(size_t k, const Path& path, NodeOk&& node_ok) const {
    return WalkWith<true>(k, path, node_ok);
  }
  // Cost of a walked route under `weights` (see Cost).
  static double CostOf(const RouteWalk& walk, const PenaltyWeights& weights) {
    if (walk.blocked) return kInfeasible;
    if (weights.active) {
      return walk.duration + weights.warp * walk.warp + weights.excess * walk.excess +
             weights.overload * walk.overload;
    }
    return walk.feasible ? walk.duration : kInfeasible;
  }
  // Exact cost under `weights` of the route `path` of agent k.
  template <class Path>
  double ExactCost(size_t k, const Path& path, const PenaltyWeights& weights) const {
    return CostOf(Walk(k, path), weights);
  }

  static constexpr double kInfeasible = std::numeric_limits<double>::infinity();

 private:
  static double ImprecisionOf(double value) { return 1e-9 * std::max(1.0, std::fabs(value)); }
  // The window of `node` as a segment (-inf, +inf without one).
  Segment Window(size_t node) const {
    if (node < node_segments_.size()) return node_segments_[node];
    return OutsideWindow(node);
  }
  Segment OutsideWindow(size_t node) const;

  template <bool kStopAtBreak, class Path, class NodeOk>
  RouteWalk WalkWith(size_t k, const Path& path, const NodeOk& node_ok) const;

  const InstanceTables* tables_;
  bool has_soft_rules_ = false;
  bool has_loads_ = false;
  std::vector<RouteAgent> agents_;
  std::vector<Segment> node_segments_;
  std::vector<Segment> start_segments_;
};

template <bool kStopAtBreak, class Path, class NodeOk>
RouteWalk RouteCosts::WalkWith(size_t k, const Path& path, const NodeOk& node_ok) const {
  const size_t count = path.size();
  RouteWalk walk;
  WalkState state;
  for (size_t i = 0; i < count; ++i) {
    const size_t node = path[i];
    if constexpr (kStopAtBreak) {
      if (!node_ok(i, node)) {
        walk.feasible = false;
        return walk;
      }
    }
    const bool on_time = i == 0 ? Arrive(node, state) : Extend(k, path[i - 1], node, state);
    if (node < node_segments_.size()) walk.load += node_segments_[node].load;
    if constexpr (kStopAtBreak) {
      if (state.blocked || !on_time || (i > 0 && !WithinLimit(k, state.clock))) {
        walk.feasible = false;
        return walk;
      }
      // Demands are never negative: a load over the capacity stays over it.
      if (Overloaded(k, walk.load)) {
        walk.feasible = false;
        return walk;
      }
    }
    if (!on_time) walk.feasible = false;
  }
  walk.warp = state.warp;
  walk.blocked = state.blocked;
  Finish(k, count, state.clock, walk);
  return walk;
}

}  // namespace tarsel
