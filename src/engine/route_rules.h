#pragma once

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <limits>
#include <vector>

#include "engine/penalty_weights.h"
#include "engine/segment.h"
#include "tables/instance_tables.h"

namespace tarsel {

// The engine's view of the route rules: what each agent is, which targets it
// may serve, what its arcs cost, and the segments of single nodes. Routes
// are start, targets, end; the end is always the agent's end node.
class RouteRules {
 public:
  // A whole route walked node by node: its duration (travel and waiting;
  // a late arrival is counted as time warp and the clock set back to the
  // window end), total time warp, duration over the limit, whether it uses
  // a missing arc, and whether it keeps every rule exactly.
  struct RouteWalk {
    double duration = 0;
    double warp = 0;
    double excess = 0;
    bool blocked = false;
    bool feasible = true;
  };

  struct AgentRoute {
    size_t start = 0;
    size_t goal = 0;
    size_t type = 0;
    double limit = 0;     // route-length limit; 0 or less: none
    bool usable = false;  // has a type that may stand on its own start and end
  };

  explicit RouteRules(const InstanceTables& tables);

  const InstanceTables& Tables() const { return tables_; }
  size_t NumAgents() const { return agents_.size(); }
  size_t NumNodes() const { return tables_.NumNodes(); }
  const AgentRoute& Agent(size_t k) const { return agents_[k]; }
  bool MinMax() const { return min_max_; }
  void SetMinMax(bool min_max) { min_max_ = min_max; }
  // Penalty mode of RouteCost and ExactCost (see PenaltyWeights).
  const PenaltyWeights& Penalty() const { return penalty_; }
  void SetPenalty(const PenaltyWeights& penalty) { penalty_ = penalty; }
  // Whether any route can break a window end or a length limit; without
  // either, penalties never apply.
  bool HasSoftRules() const { return has_soft_rules_; }
  // Nodes every solution serves: neither a start nor an end of any agent.
  const std::vector<size_t>& Targets() const { return targets_; }
  bool IsTarget(size_t node) const { return node < is_target_.size() && is_target_[node] != 0; }
  // Whether every agent can drive some route (else the engine cannot help).
  bool AllAgentsUsable() const;
  // Whether agent `k` may serve target `node` (its type is allowed there).
  bool CanServe(size_t k, size_t node) const {
    return agents_[k].usable && tables_.TypeAllowed(static_cast<int64_t>(agents_[k].type), node);
  }

  // Arc u -> v of agent k: free from a node to itself and, on open routes,
  // into the own start or end; `blocked` when the arc does not exist.
  double Travel(size_t k, size_t u, size_t v, bool& blocked) const {
    blocked = false;
    if (u == v) return 0.0;
    const AgentRoute& agent = agents_[k];
    if (!tables_.ReturnToEnd() && (v == agent.start || v == agent.goal)) return 0.0;
    const double cost = tables_.Cost(agent.type, u, v);
    blocked = !(cost < missing_);
    return cost;
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
  // Cost of a whole route of agent k summarised by `segment`: +inf when it
  // uses a missing arc; otherwise, without penalties, +inf when it breaks a
  // window end or the length limit and its duration when not; with
  // penalties, its penalised cost.
  double RouteCost(size_t k, const Segment& segment) const {
    const double duration = segment.duration;
    if (segment.blocked) return kInfeasible;
    if (penalty_.active) return PenalisedCost(k, duration, segment.warp);
    if (segment.warp > ImprecisionOf(duration)) return kInfeasible;
    const double limit = agents_[k].limit;
    if (limit > 0 && duration > limit + ImprecisionOf(limit)) return kInfeasible;
    return duration;
  }
  // Duration plus the weighted time warp and excess over agent k's limit.
  double PenalisedCost(size_t k, double duration, double warp) const {
    const double limit = agents_[k].limit;
    const double excess = limit > 0 ? std::max(0.0, duration - limit) : 0.0;
    return duration + penalty_.warp * warp + penalty_.excess * excess;
  }
  // The route `nodes` (start .. end) of agent k walked in route order, as
  // the post-optimisers' route evaluation sums it.
  RouteWalk Walk(size_t k, const size_t* nodes, size_t count) const;
  // Cost of a walked route in the current penalty mode.
  double CostOf(const RouteWalk& walk) const {
    if (walk.blocked) return kInfeasible;
    if (penalty_.active) return walk.duration + penalty_.warp * walk.warp + penalty_.excess * walk.excess;
    return walk.feasible ? walk.duration : kInfeasible;
  }
  // Exact cost of the route `nodes` (start .. end) of agent k, summed in
  // route order as the post-optimisers' route evaluation does: +inf when it
  // breaks a rule (penalties off) or uses a missing arc, else the cost
  // CostOf gives its walk.
  double ExactCost(size_t k, const size_t* nodes, size_t count) const {
    return CostOf(Walk(k, nodes, count));
  }

  static constexpr double kInfeasible = std::numeric_limits<double>::infinity();

 private:
  static double ImprecisionOf(double value) { return 1e-9 * std::max(1.0, std::fabs(value)); }

  const InstanceTables& tables_;
  double missing_;
  bool min_max_ = true;
  bool has_soft_rules_ = false;
  PenaltyWeights penalty_;
  std::vector<AgentRoute> agents_;
  std::vector<size_t> targets_;
  std::vector<char> is_target_;
  std::vector<Segment> node_segments_;
  std::vector<Segment> start_segments_;
};

}  // namespace tarsel
