#pragma once

#include <cstddef>
#include <string>
#include <vector>

#include "plugins/constraint_checker_plugin.h"
#include "common/visited_set.h"

namespace tarsel {

// Assignment constraints (allowed agent types per node) and the type-0
// dead-end rule.
class DefaultConstraintChecker : public ConstraintCheckerPlugin {
 public:
  std::string Name() const override { return "DefaultConstraintChecker"; }
  void Initialize(const PlannerGraph* graph, const std::vector<NodeInfo>& nodes,
                  const std::vector<AgentInfo>& agents) override;
  bool IsForbidden(size_t agent, size_t node) const override;
  bool IsDeadEnd(const Label& child) const override;

  void SetGoals(const std::vector<size_t>& goals) { this->goals = goals; }

  // Whether an agent of type index `type` may visit `node` (false for type -1
  // and for nodes outside the table).
  bool TypeAllowed(int64_t type, size_t node) const;
  const std::vector<NodeInfo>& Nodes() const { return nodes; }
  const std::vector<AgentInfo>& Agents() const { return agents; }

 private:
  const PlannerGraph* graph = nullptr;
  std::vector<NodeInfo> nodes;
  std::vector<AgentInfo> agents;
  std::vector<size_t> goals;
  size_t num_agents = 0;

  // Nodes whose allowed_types is exactly [0], for the dead-end rule.
  VisitedSet type0_only;
};

}  // namespace tarsel
