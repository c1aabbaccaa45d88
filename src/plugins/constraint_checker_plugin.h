#pragma once

#include <cstddef>
#include <vector>

#include "graph/planner_graph.h"
#include "plugins/plugin_base.h"
#include "common/agent_info.h"
#include "common/label.h"
#include "common/move_check.h"
#include "common/node_info.h"

namespace tarsel {

// Feasibility of candidate moves, asked by the search in the order of the
// operations below for a move of `agent` to `node`.
class ConstraintCheckerPlugin : public PluginBase {
 public:
  virtual void Initialize(const PlannerGraph* graph, const std::vector<NodeInfo>& nodes,
                          const std::vector<AgentInfo>& agents) = 0;
  // Asked before a child label is built; true skips the node.
  virtual bool IsForbidden(size_t agent, size_t node) const = 0;
  // Asked on the child after the travel cost was added; the agent's entry of
  // current_nodes still holds the node it comes from.
  virtual MoveCheck ApplyMove(const Label& child, size_t agent, size_t node) const {
    (void)child;
    (void)agent;
    (void)node;
    return MoveCheck{true, std::nullopt};
  }
  virtual bool IsAgentFeasible(const Label& child, size_t agent) const {
    (void)child;
    (void)agent;
    return true;
  }
  // Asked only when the move ends the agent's route.
  virtual bool IsDeadEnd(const Label& child) const = 0;
};

}  // namespace tarsel
