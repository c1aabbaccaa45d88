#include <stdexcept>
#include <string>

#include "search/solver.h"

namespace tarsel {

void ThrowTooManyNodes(size_t num_nodes) {
  throw std::length_error("instance has " + std::to_string(num_nodes) +
                          " nodes, but the solver supports at most " +
                          std::to_string(kMaxSearchNodes));
}

int64_t Solver::NewLabel() {
  const int64_t id = label_count++;
  if (label_capacity < static_cast<size_t>(id) + 1) {
    label_capacity += label_chunk;
    label_store.Resize(label_capacity);
    if (label_chunk < max_label_chunk) label_chunk *= 2;
  }
  return id;
}

void Solver::StoreLabel(const Label& label, int64_t parent) {
  label_store.Put(label, parent);
}

int64_t Solver::CountVisited(const Label& label) const {
  return label.visited.CountBelow(label.num_nodes);
}

double Solver::TotalCost(const Label& label) const {
  double total = 0;
  for (int32_t k = 0; k < num_agents && static_cast<size_t>(k) < label.costs.size(); ++k) {
    total += label.costs[static_cast<size_t>(k)];
  }
  return total;
}

bool Solver::IsGoal(const Label& label) const {
  if (label.num_nodes > 0 && !label.visited.AllBelow(label.num_nodes)) return false;
  return label.active_agents == 0;
}

bool Solver::IsDominated(const Label& label) {
  const auto found = frontier_index.find(label.current_nodes);
  if (found != frontier_index.end()) return frontiers[found->second]->IsDominated(label);
  // First label of this configuration: open an empty frontier for it.
  frontier_index.emplace(label.current_nodes, frontier_count);
  if (frontiers.size() <= frontier_count) frontiers.resize(frontier_count + 1);
  frontiers[frontier_count] = std::make_unique<Frontier>();
  ++frontier_count;
  return false;
}

void Solver::AddToFrontier(const Label& label) {
  const auto found = frontier_index.find(label.current_nodes);
  if (found == frontier_index.end()) return;  // IsDominated registers every key first
  frontiers[found->second]->Insert(label);
}

void Solver::ResetFrontiers() {
  frontier_index.clear();
  frontiers.clear();
  frontier_count = 0;
}

}  // namespace tarsel
