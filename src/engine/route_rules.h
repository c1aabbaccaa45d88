#pragma once

#include <cstddef>
#include <vector>

#include "routes/route_costs.h"
#include "tables/instance_tables.h"

namespace tarsel {

// The engine's view of the route rules: the route-cost core (agents, arcs,
// segments, the walk of a route, costs under given penalty weights) plus
// what the engine adds: the targets every solution serves and whether the
// objective is min-max. Routes are start, targets, end; the end is always
// the agent's end node.
class RouteRules : public RouteCosts {
 public:
  explicit RouteRules(const InstanceTables& tables);

  bool MinMax() const { return min_max_; }
  void SetMinMax(bool min_max) { min_max_ = min_max; }
  // Nodes every solution serves: neither a start nor an end of any agent.
  const std::vector<size_t>& Targets() const { return targets_; }
  bool IsTarget(size_t node) const { return node < is_target_.size() && is_target_[node] != 0; }

 private:
  bool min_max_ = true;
  std::vector<size_t> targets_;
  std::vector<char> is_target_;
};

}  // namespace tarsel
