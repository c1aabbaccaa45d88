#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "plugins/heuristic_plugin.h"
#include "common/mst_edge.h"
#include "common/special_values.h"
#include "common/visited_set.h"

namespace tarsel {

// Minimum spanning forest over the unvisited nodes, grown from the agents'
// current positions over the pre-sorted candidate edges.
class DefaultHeuristic : public HeuristicPlugin {
 public:
  std::string Name() const override { return "DefaultHeuristic"; }
  void Initialize(const PlannerGraph* graph, const std::vector<NodeInfo>& nodes,
                  const std::vector<AgentInfo>& agents) override;
  void AttachTables(const InstanceTables& tables) override;
  double Estimate(const Label& label) const override;

  // The forest does not depend on the agents' goals.
  void SetGoals(const std::vector<size_t>& goals) { (void)goals; }
  // Edges ascending by weight.
  void SetMstEdges(const std::vector<MstEdge>& edges);

 private:
  size_t num_agents = 0;
  double missing_cost = kNoConnection;  // edges at or above it are no edges
  // With open routes the last leg, into the agent's own start or end node,
  // is free: the forest neither attaches these nodes nor grows from them
  // (but from an active agent standing on one). Empty with closed routes.
  VisitedSet free_ends;
  std::vector<MstEdge> mst_edges;

  // Estimate over a rank table with entries of type Rank.
  template <typename Rank>
  double EstimateWith(const std::vector<Rank>& ranks, const Label& label) const;

  // rank[u * stride + v]: index into mst_edges of the usable edge
  // (w < missing_cost) between u and v, the type's largest value when there
  // is none. The index is the edge's rank in the sorted list, which is what
  // decides which edge the forest takes next. Nodes from `stride` up have no
  // usable edge. The table is one of the two: 16-bit ranks while they fit
  // (up to about a hundred nodes the whole table then fits the nearest
  // cache), 32-bit ones otherwise.
  size_t stride = 0;
  bool has_table = false;  // SetMstEdges was called
  std::vector<uint16_t> rank16;
  std::vector<uint32_t> rank32;
};

}  // namespace tarsel
