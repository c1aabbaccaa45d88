#pragma once

#include <cstddef>
#include <string>
#include <vector>

#include "plugins/post_optimizer_plugin.h"
#include "postopt/route_evaluator.h"
#include "common/special_values.h"

namespace tarsel {

// Cheapest feasible place for one node: insert before `position` of the
// route of `agent`, which then costs `cost`.
struct InsertionChoice {
  bool found = false;
  size_t position = 0;
  size_t agent = kNoIndex;
  double cost = 0;
};

// Dissolves short routes into the others without exceeding the longest
// route at entry, then shortens every route by 2-opt.
class RouteMergingPostOptimizer : public PostOptimizerPlugin {
 public:
  std::string Name() const override { return "RouteMergingPostOptimizer"; }
  void Optimize(const PlannerGraph* graph, const std::vector<NodeInfo>& nodes,
                const std::vector<AgentInfo>& agents, Result& result) override;
  void AttachTables(const InstanceTables& tables) override { evaluator.Attach(tables); }
  void AttachInterruptCheck(InterruptCheck* check) override { evaluator.SetInterruptCheck(check); }
  void SetReturnToEnd(bool return_to_end) override;
  void SetStarts(const std::vector<size_t>& starts) override;
  void SetGoals(const std::vector<size_t>& goals) override;
  void SetTimeWindows(const TimeWindowTable& time_windows) override;

 private:
  friend struct RouteMergingPostOptimizerTestAccess;

  void LoadRoutes(Result& result);
  // Moves every inner node of route `agent` elsewhere, or nothing when one
  // of them has no place within `bound`.
  void DissolveRoute(size_t agent, double bound);

  bool CanVisit(size_t agent, size_t node) const;
  // Cheapest place for `node` in the route of any agent but `excluded` whose
  // resulting cost stays within `bound` (plus 1e-9).
  InsertionChoice FindBestInsertion(size_t node, size_t excluded, double bound) const;

  RouteEvaluator evaluator;  // configuration, tables of the call, route rules
  std::vector<std::vector<size_t>> routes;  // index = agent index
  std::vector<double> route_costs;  // 0 for an invalid or empty route
  std::vector<size_t> inner_nodes;  // nodes of the route being dissolved
};

}  // namespace tarsel
