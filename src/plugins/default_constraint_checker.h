#pragma once

#include <cstddef>
#include <string>
#include <vector>

#include "plugins/constraint_checker_plugin.h"
#include "tables/tables_reader.h"

namespace tarsel {

// Assignment constraints (allowed agent types per node) and the type-0
// dead-end rule.
class DefaultConstraintChecker : public ConstraintCheckerPlugin {
 public:
  std::string Name() const override { return "DefaultConstraintChecker"; }
  void Initialize(const PlannerGraph* graph, const std::vector<NodeInfo>& nodes,
                  const std::vector<AgentInfo>& agents) override;
  void AttachTables(const InstanceTables& tables) override { reader.Attach(tables); }
  bool IsForbidden(size_t agent, size_t node) const override;
  bool IsDeadEnd(const Label& child) const override;

  void SetGoals(const std::vector<size_t>& goals) { reader.OwnTables().SetGoals(goals); }

  // Whether an agent of type index `type` may visit `node` (false for type -1
  // and for nodes outside the table).
  bool TypeAllowed(int64_t type, size_t node) const {
    return reader.Tables().TypeAllowed(type, node);
  }
  const std::vector<NodeInfo>& Nodes() const { return reader.Tables().Nodes(); }
  const std::vector<AgentInfo>& Agents() const { return reader.Tables().Agents(); }

 private:
  TablesReader reader;
};

}  // namespace tarsel
