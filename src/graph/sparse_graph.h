#pragma once

#include <cstddef>
#include <string>
#include <vector>

#include "graph/planner_graph.h"

namespace tarsel {

// Adjacency-list graph keeping outgoing and incoming lists side by side.
// Lookups scan the tail's outgoing list; ArcCost() reads a dense table that
// is rebuilt on first use after any change, for graphs small enough to hold
// one (the search supports at most 256 nodes).
class SparseGraph : public PlannerGraph {
 public:
  bool HasVertex(size_t v) const override;
  bool HasArc(size_t u, size_t v) const override;
  std::vector<size_t> GetSuccs(size_t v) const override;
  std::vector<size_t> GetPreds(size_t v) const override;
  std::vector<double> GetArcCost(size_t u, size_t v) const override;
  std::vector<std::vector<double>> GetSuccCosts(size_t v) const override;
  std::vector<std::vector<double>> GetPredCosts(size_t v) const override;
  size_t NumVertex() const override;
  size_t NumArc() const override;
  size_t NumEdge() const override;
  size_t GetCostDim() const override;
  std::vector<size_t> GetAllVertices() const override;
  void AddVertex(size_t v) override;
  void AddEdge(size_t u, size_t v, std::vector<double> cost) override;
  void AddArc(size_t u, size_t v, std::vector<double> cost) override;
  void CreateFromEdges(const std::vector<size_t>& srcs, const std::vector<size_t>& tgts,
                       const std::vector<std::vector<double>>& costs) override;
  void CreateFromArcs(const std::vector<size_t>& srcs, const std::vector<size_t>& tgts,
                      const std::vector<std::vector<double>>& costs) override;
  void ChangeCostDim(size_t d, double fill) override;
  bool SetArcCost(size_t u, size_t v, std::vector<double> cost) override;
  std::string ToStr() const override;
  double ArcCost(size_t u, size_t v, size_t dim) const override;

 private:
  void CreateFromLists(const std::vector<size_t>& srcs, const std::vector<size_t>& tgts,
                       const std::vector<std::vector<double>>& costs, bool both_directions);
  // Position of `v` in out_neighbors[u], or -1.
  long FindOut(size_t u, size_t v) const;
  void BuildDenseCosts() const;

  std::vector<std::vector<size_t>> out_neighbors;
  std::vector<std::vector<std::vector<double>>> out_costs;
  std::vector<std::vector<size_t>> in_neighbors;
  std::vector<std::vector<std::vector<double>>> in_costs;
  size_t arc_count = 0;
  size_t cdim = 0;

  // Dense copy of the arc costs, (u * n + v) * cdim + t, missing arcs as 0.
  mutable std::vector<double> dense_costs_;
  mutable bool dense_valid_ = false;
};

}  // namespace tarsel
