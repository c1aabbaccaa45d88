#pragma once

#include <string>
#include <vector>

#include "plugins/post_optimizer_plugin.h"

namespace tarsel {

// Dissolves short routes into the others without exceeding the longest
// route at entry, then shortens every route by 2-opt.
class RouteMergingPostOptimizer : public PostOptimizerPlugin {
 public:
  std::string Name() const override { return "RouteMergingPostOptimizer"; }
  void Optimize(const PlannerGraph* graph, const std::vector<NodeInfo>& nodes,
                const std::vector<AgentInfo>& agents, Result& result) override;
  void SetReturnToEnd(bool return_to_end) override;
  void SetStarts(const std::vector<size_t>& starts) override;
  void SetGoals(const std::vector<size_t>& goals) override;
  void SetTimeWindows(const TimeWindowTable& time_windows) override;
};

}  // namespace tarsel
