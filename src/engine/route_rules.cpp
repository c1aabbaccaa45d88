#include "engine/route_rules.h"

#include <cmath>

#include "common/special_values.h"

namespace tarsel {


RouteRules::RouteRules(const InstanceTables& tables) : tables_(tables), missing_(tables.MissingCost()) {
  const size_t n = tables.NumNodes();
  const double infinity = std::numeric_limits<double>::infinity();
  node_segments_.resize(n);
  for (size_t v = 0; v < n; ++v) {
    const WindowSlot* window = tables.Window(v);
    node_segments_[v] =
        window != nullptr ? NodeSegment(window->start, window->end) : NodeSegment(-infinity, infinity);
  }
  is_target_.assign(n, 0);
  for (size_t v = 0; v < n; ++v) {
    if (!tables.IsStart(v) && !tables.IsGoal(v)) {
      is_target_[v] = 1;
      targets_.push_back(v);
    }
  }
  const size_t m = std::min(tables.NumAgents(), std::min(tables.Starts().size(), tables.Goals().size()));
  agents_.resize(m);
  start_segments_.resize(m);
  for (size_t k = 0; k < m; ++k) {
    AgentRoute& agent = agents_[k];
    agent.start = tables.Starts()[k];
    agent.goal = tables.Goals()[k];
    const int64_t type = tables.Agents()[k].type;
    agent.limit = tables.Agents()[k].time_limit;
    agent.usable = type >= 0 && static_cast<size_t>(type) < tables.NumTypes() && agent.start < n &&
                   agent.goal < n && tables.TypeAllowed(type, agent.start) &&
                   tables.TypeAllowed(type, agent.goal);
    agent.type = type >= 0 ? static_cast<size_t>(type) : 0;
    if (agent.start < n) start_segments_[k] = Concat(ClockSegment(), 0.0, false, node_segments_[agent.start]);
    if (agent.limit > 0) has_soft_rules_ = true;
  }
  for (size_t v = 0; v < n; ++v) {
    if (tables.Window(v) != nullptr) has_soft_rules_ = true;
  }
}

bool RouteRules::AllAgentsUsable() const {
  if (agents_.empty() || agents_.size() != tables_.NumAgents()) return false;
  for (const AgentRoute& agent : agents_) {
    if (!agent.usable) return false;
  }
  return true;
}

RouteRules::RouteWalk RouteRules::Walk(size_t k, const size_t* nodes, size_t count) const {
  const AgentRoute& agent = agents_[k];
  RouteWalk walk;
  double clock = 0.0;
  for (size_t i = 0; i < count; ++i) {
    const size_t node = nodes[i];
    if (i > 0) {
      bool blocked = false;
      clock += Travel(k, nodes[i - 1], node, blocked);
      if (blocked) walk.blocked = true;
    }
    // The node's window as its segment holds it (-inf, +inf without one).
    const Segment& window = node_segments_[node];
    if (clock > window.latest) {
      // Late: the arrival is moved back to the window end and the
      // difference counted as time warp.
      walk.feasible = false;
      walk.warp += clock - window.latest;
      clock = window.latest;
    }
    if (clock < window.earliest) clock = window.earliest;
  }
  // Without time warp the clock never goes back, so the limit holds at
  // every node when it holds at the end.
  walk.duration = clock + walk.warp;
  if (agent.limit > 0 && walk.duration > agent.limit) {
    walk.excess = walk.duration - agent.limit;
    if (count > 1) walk.feasible = false;
  }
  if (walk.blocked) walk.feasible = false;
  return walk;
}

}  // namespace tarsel
