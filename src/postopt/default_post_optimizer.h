#pragma once

#include <string>
#include <vector>

#include "plugins/post_optimizer_plugin.h"

namespace tarsel {

// 2-opt per route, one relocation inside each agent type, then node moves
// from the type with the longest route to the type with the shortest.
class DefaultPostOptimizer : public PostOptimizerPlugin {
 public:
  std::string Name() const override { return "DefaultPostOptimizer"; }
  void Optimize(const PlannerGraph* graph, const std::vector<NodeInfo>& nodes,
                const std::vector<AgentInfo>& agents, Result& result) override;
  void SetReturnToEnd(bool return_to_end) override;
  void SetStarts(const std::vector<size_t>& starts) override;
  void SetGoals(const std::vector<size_t>& goals) override;
  void SetTimeWindows(const TimeWindowTable& time_windows) override;
};

}  // namespace tarsel
