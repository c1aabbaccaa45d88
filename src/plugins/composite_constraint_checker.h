#pragma once

#include <memory>
#include <string>
#include <vector>

#include "plugins/constraint_checker_plugin.h"

namespace tarsel {

// Asks its children in the order they were added.
class CompositeConstraintChecker : public ConstraintCheckerPlugin {
 public:
  ~CompositeConstraintChecker() override;
  std::string Name() const override { return "CompositeConstraintChecker"; }
  void Initialize(const PlannerGraph* graph, const std::vector<NodeInfo>& nodes,
                  const std::vector<AgentInfo>& agents) override;
  void AttachTables(const InstanceTables& tables) override;
  bool IsForbidden(size_t agent, size_t node) const override;
  MoveCheck ApplyMove(const Label& child, size_t agent, size_t node) const override;
  bool IsAgentFeasible(const Label& child, size_t agent) const override;
  bool IsDeadEnd(const Label& child) const override;

  void Add(std::unique_ptr<ConstraintCheckerPlugin> child);
  const std::vector<std::unique_ptr<ConstraintCheckerPlugin>>& Children() const {
    return children;
  }

 private:
  std::vector<std::unique_ptr<ConstraintCheckerPlugin>> children;
  mutable Label scratch;  // reused by ApplyMove so that no call allocates
};

}  // namespace tarsel
