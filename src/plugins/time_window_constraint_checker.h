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
// are rejected. Travel, waiting and lateness are the route rules' steps
// (routes/), read through the inner checker.
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

  // Travel time T_a(x, y) of agent a over the arc x -> y; infinite when the
  // arc does not exist for a's type. With open routes the last leg, into
  // a's own start or end node, takes no time; an agent without a type has
  // no costs.
  double TravelTime(size_t agent, size_t x, size_t y) const;
  // The least time in which agent a gets from x to y over any chain of arcs
  // (the same free last leg): no later arrival is possible.
  double ShortestTime(size_t agent, size_t x, size_t y) const;
  // Whether agent a may serve `node`: its type may visit it, and it is no
  // other agent's start or end.
  bool CanServe(size_t agent, size_t node) const;

 private:
  // Re-reads the route rules and recomputes what the checks derive from
  // the tables: can_serve, skippable and shortest.
  void RebuildDerived();
  // Whether agent a's legs cost anything: the checker knows a graph and the
  // agent has a type.
  bool HasCosts(size_t agent) const;

  DefaultConstraintChecker inner;
  TablesReader reader;
  std::vector<uint8_t> can_serve;  // CanServe(agent, node) at agent * nodes + node
  // Nodes a route can leave out at no extra cost: only they may justify
  // rejecting a move by the order that visits them first.
  VisitedSet skippable;
  std::vector<std::vector<double>> shortest;  // per type, ShortestCosts
};

}  // namespace tarsel
