#include "plugins/time_limit_constraint_checker.h"

namespace tarsel {

void TimeLimitConstraintChecker::Initialize(const PlannerGraph* graph,
                                            const std::vector<NodeInfo>& nodes,
                                            const std::vector<AgentInfo>& agents) {
  inner.Initialize(graph, nodes, agents);
}

void TimeLimitConstraintChecker::AttachTables(const InstanceTables& tables) {
  inner.AttachTables(tables);
}

bool TimeLimitConstraintChecker::IsForbidden(size_t agent, size_t node) const {
  return inner.IsForbidden(agent, node);
}

// The cost already includes any waiting for time windows.
bool TimeLimitConstraintChecker::IsAgentFeasible(const Label& child, size_t agent) const {
  const std::vector<AgentInfo>& agents = inner.Agents();
  if (agent >= agents.size() || agent >= child.costs.size()) return true;
  const double limit = agents[agent].time_limit;
  if (limit <= 0) return true;
  return child.costs[agent] <= limit;
}

bool TimeLimitConstraintChecker::IsDeadEnd(const Label& child) const {
  return inner.IsDeadEnd(child);
}

}  // namespace tarsel
