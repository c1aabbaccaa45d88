#include "postopt/composite_post_optimizer.h"

namespace tarsel {

CompositePostOptimizer::~CompositePostOptimizer() {
  // Last added first.
  while (!children.empty()) children.pop_back();
}

void CompositePostOptimizer::Optimize(const PlannerGraph* graph, const std::vector<NodeInfo>& nodes,
                                      const std::vector<AgentInfo>& agents, Result& result) {
  for (auto& child : children) child->Optimize(graph, nodes, agents, result);
}

void CompositePostOptimizer::SetReturnToEnd(bool return_to_end) {
  for (auto& child : children) child->SetReturnToEnd(return_to_end);
}

void CompositePostOptimizer::SetStarts(const std::vector<size_t>& starts) {
  for (auto& child : children) child->SetStarts(starts);
}

void CompositePostOptimizer::SetGoals(const std::vector<size_t>& goals) {
  for (auto& child : children) child->SetGoals(goals);
}

void CompositePostOptimizer::AttachTables(const InstanceTables& tables) {
  for (auto& child : children) child->AttachTables(tables);
}

void CompositePostOptimizer::AttachInterruptCheck(InterruptCheck* check) {
  for (auto& child : children) child->AttachInterruptCheck(check);
}

void CompositePostOptimizer::SetTimeWindows(const TimeWindowTable& time_windows) {
  for (auto& child : children) child->SetTimeWindows(time_windows);
}

void CompositePostOptimizer::Add(std::unique_ptr<PostOptimizerPlugin> child) {
  children.push_back(std::move(child));
}

}  // namespace tarsel
