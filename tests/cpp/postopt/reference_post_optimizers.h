#pragma once

#include <cstddef>
#include <map>
#include <unordered_set>
#include <utility>
#include <vector>

#include "graph/planner_graph.h"
#include "postopt_test_support.h"
#include "common/agent_info.h"
#include "common/node_info.h"
#include "common/result.h"

namespace tarsel::postopt_testing {

// The two post-optimisers written the plain way, as an oracle for the
// filtered implementation: every candidate is built as a full path and
// evaluated from scratch with cost vectors copied out of GetArcCost.
class ReferencePostOptimizers {
 public:
  ReferencePostOptimizers(const RouteRules& rules, const PlannerGraph* graph,
                          const std::vector<NodeInfo>& nodes, const std::vector<AgentInfo>& agents);

  void OptimizeDefault(Result& result);
  void OptimizeMerging(Result& result);

 private:
  using Path = std::vector<size_t>;
  struct Route {
    size_t agent;
    double cost;
    Path path;
  };
  struct Group {
    size_t max_agent;
    size_t min_agent;
    std::vector<size_t> members;
  };
  struct Move {
    long remove_pos = -1;
    long insert_pos = -1;
    double gain = 0;
  };

  std::pair<bool, double> Evaluate(const Path& path, size_t k) const;
  void TwoOpt(Path& path, double& cost, size_t k) const;
  void UpdateExtremes(size_t type);
  Move BestRelocation(size_t a, size_t b) const;
  void Relocate(Route& donor, Route& receiver, long i, long j);
  bool CanVisit(size_t k, size_t v) const;
  // (found, agent, position)
  std::pair<bool, std::pair<size_t, size_t>> BestInsertion(size_t v, size_t u, double g) const;

  RouteRules rules;
  std::unordered_set<size_t> start_set;
  std::unordered_set<size_t> goal_set;
  const PlannerGraph* graph;
  std::vector<NodeInfo> nodes;
  std::vector<AgentInfo> agents;

  std::vector<Route> routes;
  std::map<size_t, Group> groups;
  std::vector<size_t> group_order;
  std::vector<Path> merge_routes;
  std::vector<double> merge_costs;
};

}  // namespace tarsel::postopt_testing
