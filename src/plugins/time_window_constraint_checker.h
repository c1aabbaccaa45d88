#pragma once

#include <cstddef>
#include <string>
#include <unordered_set>
#include <vector>

#include "plugins/default_constraint_checker.h"
#include "search/time_window_table.h"

namespace tarsel {

// Time windows with waiting: arrival after waiting becomes the agent's cost;
// moves that strand a window or that another visiting order would dominate
// are rejected.
class TimeWindowConstraintChecker : public ConstraintCheckerPlugin {
 public:
  std::string Name() const override { return "TimeConstraintChecker"; }
  void Initialize(const PlannerGraph* graph, const std::vector<NodeInfo>& nodes,
                  const std::vector<AgentInfo>& agents) override;
  bool IsForbidden(size_t agent, size_t node) const override;
  MoveCheck ApplyMove(const Label& child, size_t agent, size_t node) const override;
  bool IsDeadEnd(const Label& child) const override;

  void SetGoals(const std::vector<size_t>& goals);
  void SetStarts(const std::vector<size_t>& starts);
  void SetTimeWindows(const TimeWindowTable& time_windows);
  void SetReturnToEnd(bool return_to_end) { this->return_to_end = return_to_end; }

  // Travel time T_a(x, y) of agent a.
  double TravelTime(size_t agent, size_t x, size_t y) const;
  bool CanServe(size_t agent, size_t node) const;

 private:
  DefaultConstraintChecker inner;
  TimeWindowTable time_windows;
  const PlannerGraph* graph = nullptr;
  std::vector<NodeInfo> nodes;
  std::vector<AgentInfo> agents;
  std::vector<size_t> goals;
  std::vector<size_t> starts;
  std::unordered_set<size_t> goal_set;
  std::unordered_set<size_t> start_set;
  bool return_to_end = true;
  size_t num_agents = 0;
  bool has_time_limit = false;
};

}  // namespace tarsel
