#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "plugins/heuristic_plugin.h"
#include "search/mst_edge.h"

namespace tarsel {

// Minimum spanning forest over the unvisited nodes, grown from the agents'
// current positions over the pre-sorted candidate edges.
class DefaultHeuristic : public HeuristicPlugin {
 public:
  std::string Name() const override { return "DefaultHeuristic"; }
  void Initialize(const PlannerGraph* graph, const std::vector<NodeInfo>& nodes,
                  const std::vector<AgentInfo>& agents) override;
  double Estimate(const Label& label) const override;

  void SetGoals(const std::vector<size_t>& goals) { this->goals = goals; }
  // Edges ascending by weight.
  void SetMstEdges(const std::vector<MstEdge>& edges);

 private:
  const PlannerGraph* graph = nullptr;
  std::vector<NodeInfo> nodes;
  std::vector<AgentInfo> agents;
  std::vector<size_t> goals;
  size_t num_agents = 0;
  int64_t num_types = 2;
  std::vector<MstEdge> mst_edges;

  // Per node (< 256), the indices into mst_edges of its usable edges
  // (w < kNoConnection), ascending: incident_edges[incident_begin[x] ..
  // incident_begin[x + 1]).
  std::vector<uint32_t> incident_begin;
  std::vector<uint32_t> incident_edges;
  // Min-heap of edge indices for Estimate; capacity reserved by SetMstEdges
  // so that Estimate never allocates.
  mutable std::vector<uint32_t> heap;
};

}  // namespace tarsel
