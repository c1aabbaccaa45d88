#pragma once

#include <cstddef>
#include <vector>

#include "common/test_tables.h"
#include "graph/sparse_graph.h"
#include "common/agent_info.h"
#include "common/label.h"
#include "common/node_info.h"

namespace tarsel::testing {

// A label over `num_nodes` nodes with nothing visited yet (bits from
// num_nodes up are set, as in the search), every agent active at node 0 with
// cost 0.
inline Label MakeLabel(int32_t num_nodes, size_t num_agents) {
  Label label;
  label.num_nodes = num_nodes;
  label.visited.SetFrom(static_cast<size_t>(num_nodes));
  label.current_nodes.assign(num_agents, 0);
  label.costs.assign(num_agents, 0.0);
  label.finished.assign(num_agents, 0);
  label.active_agents = static_cast<int64_t>(num_agents);
  return label;
}

// Complete directed graph whose arc i -> j costs per_type[t][i][j] in
// dimension t; no arc from a node to itself.
inline SparseGraph MakeGraph(const std::vector<std::vector<std::vector<double>>>& per_type) {
  return test_common::MatrixGraph(per_type);
}

using test_common::MakeNodes;

inline std::vector<AgentInfo> MakeAgents(const std::vector<int64_t>& types,
                                         const std::vector<double>& time_limits = {}) {
  std::vector<AgentInfo> agents(types.size());
  for (size_t k = 0; k < agents.size(); ++k) {
    agents[k].id = k;
    agents[k].type = types[k];
    agents[k].time_limit = k < time_limits.size() ? time_limits[k] : 0.0;
  }
  return agents;
}

}  // namespace tarsel::testing
