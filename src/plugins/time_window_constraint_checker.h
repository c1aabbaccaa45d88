#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "plugins/default_constraint_checker.h"
#include "common/time_window_table.h"
#include "common/visited_set.h"
#include "tables/tables_reader.h"

namespace tarsel {

// Time windows with waiting: arrival after waiting becomes the agent's cost;
// moves that strand a window or that another visiting order would dominate
// are rejected.
class TimeWindowConstraintChecker : public ConstraintCheckerPlugin {
 public:
  TimeWindowConstraintChecker() = default;
  // The inner checker reads this checker's own tables, so a copy would
  // read the original's.
  TimeWindowConstraintChecker(const TimeWindowConstraintChecker&) = delete;
  TimeWindowConstraintChecker& operator=(const TimeWindowConstraintChecker&) = delete;
  std::string Name() const override { return "TimeConstraintChecker"; }
  void Initialize(const PlannerGraph* graph, const std::vector<NodeInfo>& nodes,
                  const std::vector<AgentInfo>& agents) override;
  void AttachTables(const InstanceTables& tables) override;
  bool IsForbidden(size_t agent, size_t node) const override;
  MoveCheck ApplyMove(const Label& child, size_t agent, size_t node) const override;
  bool IsDeadEnd(const Label& child) const override;

  void SetGoals(const std::vector<size_t>& goals);
  void SetStarts(const std::vector<size_t>& starts);
  void SetTimeWindows(const TimeWindowTable& time_windows);
  void SetReturnToEnd(bool return_to_end);

  // Travel time T_a(x, y) of agent a; infinite when the arc does not exist
  // for a's type.
  double TravelTime(size_t agent, size_t x, size_t y) const;
  bool CanServe(size_t agent, size_t node) const;

 private:
  // Recomputes can_serve from the tables.
  void RebuildServeTable();

  DefaultConstraintChecker inner;
  TablesReader reader;
  std::vector<uint8_t> can_serve;  // CanServe(agent, node) at agent * nodes + node
};

}  // namespace tarsel
