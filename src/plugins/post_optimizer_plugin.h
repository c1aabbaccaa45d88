#pragma once

#include <cstddef>
#include <vector>

#include "graph/planner_graph.h"
#include "plugins/plugin_base.h"
#include "common/agent_info.h"
#include "common/node_info.h"
#include "common/result.h"
#include "common/time_window_table.h"

namespace tarsel {

// Improves a complete solution in place.
class PostOptimizerPlugin : public PluginBase {
 public:
  virtual void Optimize(const PlannerGraph* graph, const std::vector<NodeInfo>& nodes,
                        const std::vector<AgentInfo>& agents, Result& result) = 0;
  virtual void SetReturnToEnd(bool return_to_end) = 0;
  virtual void SetStarts(const std::vector<size_t>& starts) = 0;
  virtual void SetGoals(const std::vector<size_t>& goals) = 0;
  virtual void SetTimeWindows(const TimeWindowTable& time_windows) = 0;
};

}  // namespace tarsel
