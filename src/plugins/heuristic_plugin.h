#pragma once

#include <vector>

#include "graph/planner_graph.h"
#include "plugins/plugin_base.h"
#include "common/agent_info.h"
#include "common/label.h"
#include "common/node_info.h"

namespace tarsel {

// Lower bound h of the cost still needed to complete a label.
class HeuristicPlugin : public PluginBase {
 public:
  virtual void Initialize(const PlannerGraph* graph, const std::vector<NodeInfo>& nodes,
                          const std::vector<AgentInfo>& agents) = 0;
  virtual double Estimate(const Label& label) const = 0;
};

}  // namespace tarsel
