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
  const RouteCosts& costs = inner.Costs();
  if (agent >= costs.NumAgents() || agent >= child.costs.size()) return true;
  return costs.WithinLimit(agent, child.costs[agent]);
}

bool TimeLimitConstraintChecker::IsDeadEnd(const Label& child) const {
  return inner.IsDeadEnd(child);
}

}  // namespace tarsel
