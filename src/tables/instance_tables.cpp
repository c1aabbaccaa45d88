#include "tables/instance_tables.h"

#include <algorithm>
#include <utility>

namespace tarsel {

void InstanceTables::SetGraph(const PlannerGraph* graph) {
  graph_ = graph;
  matrices_.clear();
  size_ = 0;
  if (graph == nullptr) return;
  const size_t n = graph->NumVertex();
  const size_t dims = graph->GetCostDim();
  matrices_.assign(dims, std::vector<double>(n * n, 0.0));
  for (size_t t = 0; t < dims; ++t) {
    double* row = matrices_[t].data();
    for (size_t u = 0; u < n; ++u, row += n) {
      for (size_t v = 0; v < n; ++v) row[v] = graph->ArcCost(u, v, t);
    }
  }
  size_ = n;
}

void InstanceTables::SetCostMatrices(std::vector<std::vector<double>> matrices, size_t size,
                                     const PlannerGraph* graph) {
  matrices_ = std::move(matrices);
  size_ = size;
  graph_ = graph;
}

void InstanceTables::SetNodes(const std::vector<NodeInfo>& nodes) {
  nodes_ = nodes;
  RebuildAllowed();
  RebuildWindows();
}

void InstanceTables::SetAgents(const std::vector<AgentInfo>& agents) { agents_ = agents; }

namespace {

void FillBits(const std::vector<size_t>& list, VisitedSet& bits) {
  bits.Clear();
  for (const size_t node : list) {
    if (node < VisitedSet::kBits) bits.Set(node);
  }
}

}  // namespace

void InstanceTables::SetStarts(const std::vector<size_t>& starts) {
  starts_ = starts;
  FillBits(starts_, start_bits_);
}

void InstanceTables::SetGoals(const std::vector<size_t>& goals) {
  goals_ = goals;
  FillBits(goals_, goal_bits_);
}

void InstanceTables::SetTimeWindows(const TimeWindowTable& time_windows) {
  time_windows_ = time_windows;
  RebuildWindows();
}

bool InstanceTables::IsListed(const std::vector<size_t>& list, size_t node) {
  return std::find(list.begin(), list.end(), node) != list.end();
}

void InstanceTables::RebuildAllowed() {
  allowed_width_ = 0;
  for (const NodeInfo& node : nodes_) {
    for (const size_t type : node.allowed_types) allowed_width_ = std::max(allowed_width_, type + 1);
  }
  allowed_.assign(nodes_.size() * allowed_width_, 0);
  type0_only_.Clear();
  for (size_t i = 0; i < nodes_.size(); ++i) {
    const std::vector<size_t>& types = nodes_[i].allowed_types;
    for (const size_t type : types) allowed_[i * allowed_width_ + type] = 1;
    if (i < VisitedSet::kBits && types.size() == 1 && types[0] == 0) type0_only_.Set(i);
  }
}

void InstanceTables::RebuildWindows() {
  windows_.assign(nodes_.size(), WindowSlot{});
  windows_beyond_.clear();
  for (const auto& [node, window] : time_windows_) {
    const WindowSlot slot{true, window.first, window.second};
    if (node < nodes_.size()) {
      windows_[node] = slot;
    } else {
      windows_beyond_[node] = slot;
    }
  }
}

const WindowSlot* InstanceTables::Window(size_t node) const {
  if (node < windows_.size()) return windows_[node].present ? &windows_[node] : nullptr;
  const auto it = windows_beyond_.find(node);
  return it == windows_beyond_.end() ? nullptr : &it->second;
}

}  // namespace tarsel
