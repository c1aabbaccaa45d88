#pragma once

#include <cstddef>
#include <string>
#include <vector>

#include "plugins/default_constraint_checker.h"

namespace tarsel {

// Adds the per-agent maximum route length to the default rules.
class TimeLimitConstraintChecker : public ConstraintCheckerPlugin {
 public:
  std::string Name() const override { return "TimeLimitConstraintChecker"; }
  void Initialize(const PlannerGraph* graph, const std::vector<NodeInfo>& nodes,
                  const std::vector<AgentInfo>& agents) override;
  void AttachTables(const InstanceTables& tables) override;
  bool IsForbidden(size_t agent, size_t node) const override;
  bool IsAgentFeasible(const Label& child, size_t agent) const override;
  bool IsDeadEnd(const Label& child) const override;

  void SetGoals(const std::vector<size_t>& goals) { inner.SetGoals(goals); }

 private:
  DefaultConstraintChecker inner;
};

}  // namespace tarsel
