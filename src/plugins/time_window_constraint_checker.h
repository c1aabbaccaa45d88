#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <unordered_set>
#include <utility>
#include <vector>

#include "plugins/default_constraint_checker.h"
#include "common/time_window_table.h"
#include "common/visited_set.h"

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

  // Dense copies of the lookups made for every node inside ApplyMove, so
  // that its loops do not hash. Nodes outside the dense ranges fall back to
  // the hash containers above.
  void RebuildWindowArray();
  void RebuildServeTable();
  // Window of `node`, or nullptr when it has none.
  const std::pair<double, double>* Window(size_t node) const;
  bool IsGoal(size_t node) const;
  bool IsStart(size_t node) const;

  std::vector<std::pair<double, double>> window_of;  // per node of `nodes`
  std::vector<uint8_t> has_window;                   // per node of `nodes`
  VisitedSet goal_bits;                              // goal_set below 256
  VisitedSet start_bits;                             // start_set below 256
  std::vector<uint8_t> can_serve;  // CanServe(agent, node) at agent * nodes.size() + node
};

}  // namespace tarsel
