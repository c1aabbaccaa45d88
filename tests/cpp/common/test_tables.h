#pragma once

#include <cstddef>
#include <vector>

#include "graph/sparse_graph.h"
#include "common/node_info.h"

namespace tarsel::test_common {

// Complete directed graph whose arc i -> j costs per_type[t][i][j] in
// dimension t; no arc from a node to itself.
inline SparseGraph MatrixGraph(const std::vector<std::vector<std::vector<double>>>& per_type) {
  SparseGraph graph;
  const size_t n = per_type.at(0).size();
  for (size_t i = 0; i < n; ++i) graph.AddVertex(i);
  for (size_t i = 0; i < n; ++i) {
    for (size_t j = 0; j < n; ++j) {
      if (i == j) continue;
      std::vector<double> cost;
      for (const auto& matrix : per_type) cost.push_back(matrix[i][j]);
      graph.AddArc(i, j, cost);
    }
  }
  return graph;
}

// Node table with node i allowing allowed_types[i]; ids equal indices.
inline std::vector<NodeInfo> MakeNodes(const std::vector<std::vector<size_t>>& allowed_types) {
  std::vector<NodeInfo> nodes(allowed_types.size());
  for (size_t i = 0; i < nodes.size(); ++i) {
    nodes[i].id = i;
    nodes[i].allowed_types = allowed_types[i];
  }
  return nodes;
}

}  // namespace tarsel::test_common
