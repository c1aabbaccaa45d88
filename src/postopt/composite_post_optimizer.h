#pragma once

#include <memory>
#include <string>
#include <vector>

#include "plugins/post_optimizer_plugin.h"

namespace tarsel {

// Forwards every operation to its children in the order they were added.
class CompositePostOptimizer : public PostOptimizerPlugin {
 public:
  ~CompositePostOptimizer() override;
  std::string Name() const override { return "CompositePostOptimizer"; }
  void Optimize(const PlannerGraph* graph, const std::vector<NodeInfo>& nodes,
                const std::vector<AgentInfo>& agents, Result& result) override;
  void AttachTables(const InstanceTables& tables) override;
  void AttachInterruptCheck(InterruptCheck* check) override;
  void SetReturnToEnd(bool return_to_end) override;
  void SetStarts(const std::vector<size_t>& starts) override;
  void SetGoals(const std::vector<size_t>& goals) override;
  void SetTimeWindows(const TimeWindowTable& time_windows) override;

  void Add(std::unique_ptr<PostOptimizerPlugin> child);
  const std::vector<std::unique_ptr<PostOptimizerPlugin>>& Children() const { return children; }

 private:
  std::vector<std::unique_ptr<PostOptimizerPlugin>> children;
};

}  // namespace tarsel
