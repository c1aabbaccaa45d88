#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <vector>

#include "plugins/constraint_checker_plugin.h"
#include "routes/route_costs.h"
#include "tables/tables_reader.h"

namespace tarsel {

// Assignment constraints (allowed agent types per node) and the type-0
// dead-end rule. Holds the route rules of the tables it reads, which the
// time-window and route-length checkers built around it read as well.
class DefaultConstraintChecker : public ConstraintCheckerPlugin {
 public:
  DefaultConstraintChecker() { Reload(); }
  // The route rules point at this checker's own tables, so a copy would
  // read the original's.
  DefaultConstraintChecker(const DefaultConstraintChecker&) = delete;
  DefaultConstraintChecker& operator=(const DefaultConstraintChecker&) = delete;

  std::string Name() const override { return "DefaultConstraintChecker"; }
  void Initialize(const PlannerGraph* graph, const std::vector<NodeInfo>& nodes,
                  const std::vector<AgentInfo>& agents) override;
  void AttachTables(const InstanceTables& tables) override {
    reader.Attach(tables);
    Reload();
  }
  bool IsForbidden(size_t agent, size_t node) const override {
    return agent >= costs->NumAgents() || !costs->TypeAllows(agent, node);
  }
  bool IsDeadEnd(const Label& child) const override;

  void SetGoals(const std::vector<size_t>& goals) {
    reader.OwnTables().SetGoals(goals);
    Reload();
  }

  // Whether an agent of type index `type` may visit `node` (false for type -1
  // and for nodes outside the table).
  bool TypeAllowed(int64_t type, size_t node) const {
    return reader.Tables().TypeAllowed(type, node);
  }
  // The route rules (agents, travel, windows, limits) of the tables read.
  const RouteCosts& Costs() const { return *costs; }

 private:
  // Reads the route rules from the current tables.
  void Reload() { costs.emplace(reader.Tables()); }

  TablesReader reader;
  std::optional<RouteCosts> costs;
};

}  // namespace tarsel
