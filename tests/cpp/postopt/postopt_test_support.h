#pragma once

#include <cmath>
#include <cstddef>
#include <cstdint>
#include <vector>

#include "common/test_tables.h"
#include "graph/sparse_graph.h"
#include "plugins/post_optimizer_plugin.h"
#include "common/agent_info.h"
#include "common/node_info.h"
#include "common/result.h"
#include "common/time_window_table.h"

namespace tarsel::postopt_testing {

using test_common::MatrixGraph;

// Nodes on a line at positions xs; every type pays the distance.
inline SparseGraph LineGraph(const std::vector<double>& xs, size_t num_types = 1) {
  std::vector<std::vector<double>> matrix(xs.size(), std::vector<double>(xs.size()));
  for (size_t i = 0; i < xs.size(); ++i) {
    for (size_t j = 0; j < xs.size(); ++j) matrix[i][j] = std::fabs(xs[i] - xs[j]);
  }
  return MatrixGraph(std::vector<std::vector<std::vector<double>>>(num_types, matrix));
}

using test_common::MakeNodes;

// `count` nodes that allow every type in `types`.
inline std::vector<NodeInfo> OpenNodes(size_t count, const std::vector<size_t>& types = {0}) {
  return MakeNodes(std::vector<std::vector<size_t>>(count, types));
}

inline std::vector<AgentInfo> MakeAgents(const std::vector<int64_t>& types,
                                         const std::vector<double>& time_limits = {}) {
  std::vector<AgentInfo> agents(types.size());
  for (size_t k = 0; k < agents.size(); ++k) {
    agents[k].id = 100 + k;
    agents[k].type = types[k];
    agents[k].time_limit = k < time_limits.size() ? time_limits[k] : 0.0;
  }
  return agents;
}

// What the Solver hands to every post-optimiser before the search.
struct RouteRules {
  bool return_to_end = true;
  std::vector<size_t> starts;
  std::vector<size_t> goals;
  TimeWindowTable time_windows;
};

inline void Configure(PostOptimizerPlugin& optimizer, const RouteRules& rules) {
  optimizer.SetReturnToEnd(rules.return_to_end);
  optimizer.SetStarts(rules.starts);
  optimizer.SetGoals(rules.goals);
  optimizer.SetTimeWindows(rules.time_windows);
}

// Every agent starts and ends at depot 0.
inline RouteRules DepotRules(size_t num_agents, bool return_to_end = true) {
  RouteRules rules;
  rules.return_to_end = return_to_end;
  rules.starts.assign(num_agents, 0);
  rules.goals.assign(num_agents, 0);
  return rules;
}

inline Result ResultWithPaths(const std::vector<std::vector<uint64_t>>& paths) {
  Result result;
  for (size_t k = 0; k < paths.size(); ++k) result.paths[k] = paths[k];
  return result;
}

}  // namespace tarsel::postopt_testing
