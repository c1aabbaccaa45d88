#include "graph/sparse_graph.h"
#include "common/console.h"

#include <iostream>
#include <stdexcept>

namespace tarsel {

namespace {

[[noreturn]] void Fail(const std::string& line, const std::string& message) {
  ConsoleLine(ConsoleStream::kOut, ConsoleKind::kError, line);
  throw std::runtime_error(message);
}

// Dense cost tables larger than this many doubles are not built; lookups then
// scan the adjacency list.
constexpr size_t kMaxDenseEntries = size_t{1} << 24;

}  // namespace

bool SparseGraph::HasVertex(size_t v) const { return v < out_neighbors.size(); }

long SparseGraph::FindOut(size_t u, size_t v) const {
  if (u >= out_neighbors.size()) return -1;
  const std::vector<size_t>& succs = out_neighbors[u];
  for (size_t i = 0; i < succs.size(); ++i) {
    if (succs[i] == v) return static_cast<long>(i);
  }
  return -1;
}

bool SparseGraph::HasArc(size_t u, size_t v) const { return FindOut(u, v) >= 0; }

std::vector<size_t> SparseGraph::GetSuccs(size_t v) const {
  return HasVertex(v) ? out_neighbors[v] : std::vector<size_t>{};
}

std::vector<size_t> SparseGraph::GetPreds(size_t v) const {
  return HasVertex(v) ? in_neighbors[v] : std::vector<size_t>{};
}

std::vector<double> SparseGraph::GetArcCost(size_t u, size_t v) const {
  const long pos = FindOut(u, v);
  return pos >= 0 ? out_costs[u][static_cast<size_t>(pos)] : std::vector<double>{};
}

std::vector<std::vector<double>> SparseGraph::GetSuccCosts(size_t v) const {
  return HasVertex(v) ? out_costs[v] : std::vector<std::vector<double>>{};
}

std::vector<std::vector<double>> SparseGraph::GetPredCosts(size_t v) const {
  return HasVertex(v) ? in_costs[v] : std::vector<std::vector<double>>{};
}

size_t SparseGraph::NumVertex() const { return out_neighbors.size(); }

size_t SparseGraph::NumArc() const { return arc_count; }

size_t SparseGraph::NumEdge() const {
  if (arc_count % 2 != 0) {
    const std::string text = "[ERROR] SparseGraph::NumEdge is not an integer but a fraction";
    Fail(text, text);
  }
  return arc_count / 2;
}

size_t SparseGraph::GetCostDim() const { return cdim; }

std::vector<size_t> SparseGraph::GetAllVertices() const {
  std::vector<size_t> all(NumVertex());
  for (size_t i = 0; i < all.size(); ++i) all[i] = i;
  return all;
}

void SparseGraph::AddVertex(size_t v) {
  if (HasVertex(v)) return;
  dense_valid_ = false;
  out_neighbors.resize(v + 1);
  out_costs.resize(v + 1);
  in_neighbors.resize(v + 1);
  in_costs.resize(v + 1);
}

void SparseGraph::AddEdge(size_t u, size_t v, std::vector<double> cost) {
  AddArc(u, v, cost);
  AddArc(v, u, std::move(cost));
}

void SparseGraph::AddArc(size_t u, size_t v, std::vector<double> cost) {
  AddVertex(u);
  AddVertex(v);
  if (cdim == 0) {
    cdim = cost.size();
  } else if (cost.size() != cdim) {
    Fail("[ERROR] SparseGraph::AddArc cdim does not match: " + std::to_string(cdim) + " != " +
             std::to_string(cost.size()),
         "[ERROR] SparseGraph::AddArc cdim does not match");
  }
  dense_valid_ = false;
  const long out_pos = FindOut(u, v);
  if (out_pos >= 0) {
    out_costs[u][static_cast<size_t>(out_pos)] = cost;
  } else {
    out_neighbors[u].push_back(v);
    out_costs[u].push_back(cost);
    ++arc_count;
  }
  std::vector<size_t>& preds = in_neighbors[v];
  for (size_t j = 0; j < preds.size(); ++j) {
    if (preds[j] == u) {
      in_costs[v][j] = std::move(cost);
      return;
    }
  }
  preds.push_back(u);
  in_costs[v].push_back(std::move(cost));
  ++arc_count;
}

void SparseGraph::CreateFromLists(const std::vector<size_t>& srcs, const std::vector<size_t>& tgts,
                                  const std::vector<std::vector<double>>& costs,
                                  bool both_directions) {
  // Only entries present in all three lists are used.
  size_t count = srcs.size();
  if (tgts.size() < count) count = tgts.size();
  if (costs.size() < count) count = costs.size();

  out_neighbors.clear();
  out_costs.clear();
  in_neighbors.clear();
  in_costs.clear();
  dense_valid_ = false;
  size_t largest = 0;
  for (size_t i = 0; i < count; ++i) {
    if (srcs[i] > largest) largest = srcs[i];
    if (tgts[i] > largest) largest = tgts[i];
  }
  out_neighbors.resize(largest + 1);
  out_costs.resize(largest + 1);
  in_neighbors.resize(largest + 1);
  in_costs.resize(largest + 1);
  for (size_t i = 0; i < count; ++i) {
    const size_t s = srcs[i];
    const size_t t = tgts[i];
    out_neighbors[s].push_back(t);
    out_costs[s].push_back(costs[i]);
    in_neighbors[t].push_back(s);
    in_costs[t].push_back(costs[i]);
    if (both_directions) {
      out_neighbors[t].push_back(s);
      out_costs[t].push_back(costs[i]);
      in_neighbors[s].push_back(t);
      in_costs[s].push_back(costs[i]);
    }
  }
}

void SparseGraph::CreateFromEdges(const std::vector<size_t>& srcs, const std::vector<size_t>& tgts,
                                  const std::vector<std::vector<double>>& costs) {
  CreateFromLists(srcs, tgts, costs, true);
}

void SparseGraph::CreateFromArcs(const std::vector<size_t>& srcs, const std::vector<size_t>& tgts,
                                 const std::vector<std::vector<double>>& costs) {
  CreateFromLists(srcs, tgts, costs, false);
}

void SparseGraph::ChangeCostDim(size_t d, double fill) {
  for (auto& per_vertex : out_costs) {
    for (auto& cost : per_vertex) cost.resize(d, fill);
  }
  for (auto& per_vertex : in_costs) {
    for (auto& cost : per_vertex) cost.resize(d, fill);
  }
  cdim = d;
  dense_valid_ = false;
}

bool SparseGraph::SetArcCost(size_t u, size_t v, std::vector<double> cost) {
  if (cost.size() != cdim) {
    const std::string text =
        "[ERROR] SparseGraph::SetArcCost new edge cost dimension does not match! Maybe call "
        "ChangeCostDim() at first.";
    Fail(text, text);
  }
  if (!HasVertex(u) || !HasVertex(v)) {
    const std::string text = "[ERROR] SparseGraph::SetArcCost vertex does not exist!";
    Fail(text, text);
  }
  const std::string missing = "[ERROR] SparseGraph::SetArcCost arc does not exist!";
  const long out_pos = FindOut(u, v);
  if (out_pos < 0) Fail(missing, missing);
  std::vector<size_t>& preds = in_neighbors[v];
  size_t in_pos = preds.size();
  for (size_t j = 0; j < preds.size(); ++j) {
    if (preds[j] == u) {
      in_pos = j;
      break;
    }
  }
  out_costs[u][static_cast<size_t>(out_pos)] = cost;
  dense_valid_ = false;
  if (in_pos == preds.size()) Fail(missing, missing);
  in_costs[v][in_pos] = std::move(cost);
  return true;
}

namespace {

void AppendBlock(std::string& text, const std::vector<std::vector<size_t>>& neighbors,
                 const std::vector<std::vector<std::vector<double>>>& costs) {
  for (size_t i = 0; i < neighbors.size(); ++i) {
    text += " -- " + std::to_string(i) + ":[";
    for (size_t k = 0; k < neighbors[i].size(); ++k) {
      text += std::to_string(neighbors[i][k]) + "([";
      const std::vector<double>& cost = costs[i][k];
      for (size_t c = 0; c < cost.size(); ++c) {
        if (c > 0) text += ",";
        text += std::to_string(cost[c]);
      }
      text += "]),";
    }
    text += "]\n";
  }
}

}  // namespace

std::string SparseGraph::ToStr() const {
  std::string text = "=== SparseGraph Begin ===\n |V| = " + std::to_string(NumVertex()) +
                     " outgoing edges \n";
  AppendBlock(text, out_neighbors, out_costs);
  text += " incoming edges \n";
  AppendBlock(text, in_neighbors, in_costs);
  text += "=== SparseGraph End ===";
  return text;
}

void SparseGraph::BuildDenseCosts() const {
  dense_costs_.clear();
  const size_t n = NumVertex();
  if (cdim == 0 || n == 0 || n > kMaxDenseEntries / n / cdim) return;
  // Graphs built by the bulk builders may hold vectors of another length;
  // those are served by the scan.
  for (const auto& per_vertex : out_costs) {
    for (const auto& cost : per_vertex) {
      if (cost.size() != cdim) return;
    }
  }
  dense_costs_.assign(n * n * cdim, 0.0);
  for (size_t u = 0; u < n; ++u) {
    // Walk backwards so that the first occurrence of a repeated head wins,
    // as in GetArcCost.
    for (size_t k = out_neighbors[u].size(); k-- > 0;) {
      const size_t v = out_neighbors[u][k];
      const std::vector<double>& cost = out_costs[u][k];
      double* slot = &dense_costs_[(u * n + v) * cdim];
      for (size_t t = 0; t < cdim; ++t) slot[t] = cost[t];
    }
  }
}

double SparseGraph::ArcCost(size_t u, size_t v, size_t dim) const {
  if (!dense_valid_) {
    BuildDenseCosts();
    dense_valid_ = true;
  }
  const size_t n = NumVertex();
  if (!dense_costs_.empty()) {
    if (u >= n || v >= n || dim >= cdim) return 0.0;
    return dense_costs_[(u * n + v) * cdim + dim];
  }
  const long pos = FindOut(u, v);
  if (pos < 0) return 0.0;
  const std::vector<double>& cost = out_costs[u][static_cast<size_t>(pos)];
  return dim < cost.size() ? cost[dim] : 0.0;
}

}  // namespace tarsel
