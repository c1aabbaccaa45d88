#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <unordered_map>
#include <vector>

#include "plugins/post_optimizer_plugin.h"
#include "postopt/route_evaluator.h"

namespace tarsel {

// The agents sharing one agent type.
struct AgentGroup {
  size_t member_count = 0;
  size_t type = 0;
  size_t max_agent = 0;  // member with the largest route cost
  size_t min_agent = 0;  // member with the smallest route cost
  std::vector<size_t> members;  // agent indices in agent order
};

// Current route of one agent and the cost its last evaluation accepted.
struct AgentRoute {
  size_t agent = 0;
  double cost = 0;
  std::vector<size_t> path;
};

// Moving the donor's node at remove_pos before the receiver's position
// insert_pos; positions are -1 and gain 0 for "no move".
struct RelocationMove {
  int64_t remove_pos = -1;
  int64_t insert_pos = -1;
  size_t from_group = 0;
  size_t to_group = 0;
  double gain = 0;
};

// 2-opt per route, one relocation inside each agent type, then node moves
// from the type with the longest route to the type with the shortest.
class DefaultPostOptimizer : public PostOptimizerPlugin {
 public:
  std::string Name() const override { return "DefaultPostOptimizer"; }
  void Optimize(const PlannerGraph* graph, const std::vector<NodeInfo>& nodes,
                const std::vector<AgentInfo>& agents, Result& result) override;
  void AttachTables(const InstanceTables& tables) override { evaluator.Attach(tables); }
  void AttachInterruptCheck(InterruptCheck* check) override { evaluator.SetInterruptCheck(check); }
  void SetReturnToEnd(bool return_to_end) override;
  void SetStarts(const std::vector<size_t>& starts) override;
  void SetGoals(const std::vector<size_t>& goals) override;
  void SetTimeWindows(const TimeWindowTable& time_windows) override;

 private:
  friend struct DefaultPostOptimizerTestAccess;

  // Steps of Optimize.
  void LoadRoutes(Result& result);
  void ImproveGroup(size_t type);
  void BalanceGroups();
  Result RoutesAsResult() const;

  void UpdateGroupExtremes(size_t type);
  // Best move of one node from the longest route of group `donor_type` to
  // the shortest route of group `receiver_type`.
  RelocationMove FindBestRelocation(size_t donor_type, size_t receiver_type) const;
  void ApplyRelocation(AgentRoute& donor, AgentRoute& receiver, int64_t remove_pos,
                       int64_t insert_pos);

  RouteEvaluator evaluator;  // configuration, tables of the call, route rules
  std::vector<size_t> group_order;  // type indices in order of first appearance
  std::unordered_map<size_t, AgentGroup> groups;
  std::vector<AgentRoute> routes;  // index = agent index
};

}  // namespace tarsel
