#include "plugins/composite_constraint_checker.h"

namespace tarsel {

CompositeConstraintChecker::~CompositeConstraintChecker() {
  // Children go from the last added to the first.
  while (!children.empty()) children.pop_back();
}

void CompositeConstraintChecker::Add(std::unique_ptr<ConstraintCheckerPlugin> child) {
  children.push_back(std::move(child));
}

void CompositeConstraintChecker::Initialize(const PlannerGraph* graph,
                                            const std::vector<NodeInfo>& nodes,
                                            const std::vector<AgentInfo>& agents) {
  for (const auto& child : children) child->Initialize(graph, nodes, agents);
}

bool CompositeConstraintChecker::IsForbidden(size_t agent, size_t node) const {
  for (const auto& child : children) {
    if (child->IsForbidden(agent, node)) return true;
  }
  return false;
}

// Each child sees the cost set by the children before it; the last cost set
// is handed back.
MoveCheck CompositeConstraintChecker::ApplyMove(const Label& child, size_t agent,
                                                size_t node) const {
  if (children.empty()) return MoveCheck{true, std::nullopt};
  scratch = child;
  bool cost_set = false;
  for (const auto& checker : children) {
    MoveCheck answer = checker->ApplyMove(scratch, agent, node);
    if (!answer.feasible) return answer;
    if (answer.new_cost && agent < scratch.costs.size()) {
      scratch.costs[agent] = *answer.new_cost;
      cost_set = true;
    }
  }
  if (cost_set) return MoveCheck{true, scratch.costs[agent]};
  return MoveCheck{true, std::nullopt};
}

void CompositeConstraintChecker::AttachTables(const InstanceTables& tables) {
  for (const auto& child : children) child->AttachTables(tables);
}

bool CompositeConstraintChecker::IsAgentFeasible(const Label& child, size_t agent) const {
  for (const auto& checker : children) {
    if (!checker->IsAgentFeasible(child, agent)) return false;
  }
  return true;
}

bool CompositeConstraintChecker::IsDeadEnd(const Label& child) const {
  for (const auto& checker : children) {
    if (checker->IsDeadEnd(child)) return true;
  }
  return false;
}

}  // namespace tarsel
