#include "routes/route_costs.h"

namespace tarsel {

namespace {

// A node's window as a segment: from -inf to +inf without one.
Segment WindowSegment(const WindowSlot* window) {
  const double infinity = std::numeric_limits<double>::infinity();
  return window != nullptr ? NodeSegment(window->start, window->end) : NodeSegment(-infinity, infinity);
}

}  // namespace

RouteCosts::RouteCosts(const InstanceTables& tables) : tables_(&tables) {
  const size_t n = tables.NumNodes();
  node_segments_.resize(n);
  bool has_demands = false;
  for (size_t v = 0; v < n; ++v) {
    const WindowSlot* window = tables.Window(v);
    node_segments_[v] = WindowSegment(window);
    // Only targets carry load: a start or end is no delivery.
    const double demand = tables.IsStart(v) || tables.IsGoal(v) ? 0.0 : tables.Demand(v);
    node_segments_[v].load = demand;
    if (window != nullptr) has_soft_rules_ = true;
    if (demand > 0) has_demands = true;
  }
  const size_t m = tables.NumAgents();
  const std::vector<size_t>& starts = tables.Starts();
  const std::vector<size_t>& goals = tables.Goals();
  agents_.resize(m);
  start_segments_.resize(m);
  for (size_t k = 0; k < m; ++k) {
    RouteAgent& agent = agents_[k];
    agent.start = k < starts.size() ? starts[k] : kNoIndex;
    agent.goal = k < goals.size() ? goals[k] : kNoIndex;
    const int64_t type = tables.Agents()[k].type;
    agent.limit = tables.Agents()[k].time_limit;
    agent.capacity = tables.Agents()[k].capacity_limit;
    agent.typed = type >= 0;
    agent.usable = type >= 0 && static_cast<size_t>(type) < tables.NumTypes() && agent.start < n &&
                   agent.goal < n && tables.TypeAllowed(type, agent.start) &&
                   tables.TypeAllowed(type, agent.goal);
    agent.type = type >= 0 ? static_cast<size_t>(type) : 0;
    if (agent.start < n) start_segments_[k] = Concat(ClockSegment(), 0.0, false, node_segments_[agent.start]);
    if (agent.limit > 0) has_soft_rules_ = true;
    if (agent.capacity > 0 && has_demands) has_loads_ = true;
  }
  if (has_loads_) has_soft_rules_ = true;
}

Segment RouteCosts::OutsideWindow(size_t node) const { return WindowSegment(tables_->Window(node)); }

bool RouteCosts::AllAgentsUsable() const {
  if (agents_.empty()) return false;
  for (const RouteAgent& agent : agents_) {
    if (!agent.usable) return false;
  }
  return true;
}

}  // namespace tarsel
