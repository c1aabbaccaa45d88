#include "wiring/search_plugins.h"

#include <algorithm>

#include "plugins/composite_constraint_checker.h"
#include "plugins/default_constraint_checker.h"
#include "plugins/default_expansion.h"
#include "plugins/default_focal_comparator.h"
#include "plugins/default_heuristic.h"
#include "plugins/default_objective.h"
#include "plugins/min_sum_objective.h"
#include "plugins/time_limit_constraint_checker.h"
#include "plugins/time_window_constraint_checker.h"
#include "postopt/composite_post_optimizer.h"
#include "postopt/default_post_optimizer.h"
#include "postopt/route_merging_post_optimizer.h"

namespace tarsel {

SearchPlugins DefaultSearchPlugins() {
  SearchPlugins plugins;
  plugins.focal_comparator = std::make_unique<DefaultFocalComparator>();
  plugins.heuristic = std::make_unique<DefaultHeuristic>();
  auto chain = std::make_unique<CompositePostOptimizer>();
  chain->Add(std::make_unique<DefaultPostOptimizer>());
  chain->Add(std::make_unique<RouteMergingPostOptimizer>());
  plugins.post_optimizer = std::move(chain);
  plugins.constraint_checker = std::make_unique<DefaultConstraintChecker>();
  plugins.expansion = std::make_unique<DefaultExpansion>();
  plugins.objective = std::make_unique<DefaultObjective>();
  return plugins;
}

void ChooseInstancePlugins(SearchPlugins& plugins, const InstanceTables& tables,
                           const Options& options) {
  if (options.objective == ObjectiveType::MinSum) {
    plugins.objective = std::make_unique<MinSumObjective>();
  }
  const bool has_windows = tables.HasTimeWindows();
  const std::vector<AgentInfo>& agents = tables.Agents();
  const bool has_route_limits = std::any_of(agents.begin(), agents.end(),
                                            [](const AgentInfo& a) { return a.time_limit > 0; });
  if (has_windows || has_route_limits) {
    auto composite = std::make_unique<CompositeConstraintChecker>();
    composite->Add(std::make_unique<DefaultConstraintChecker>());
    if (has_windows) composite->Add(std::make_unique<TimeWindowConstraintChecker>());
    if (has_route_limits) composite->Add(std::make_unique<TimeLimitConstraintChecker>());
    plugins.constraint_checker = std::move(composite);
  }
}

void HandOverTables(SearchPlugins& plugins, const InstanceTables& tables,
                    const std::vector<MstEdge>& mst_edges, InterruptCheck* interrupt) {
  plugins.heuristic->AttachTables(tables);
  if (auto* forest = dynamic_cast<DefaultHeuristic*>(plugins.heuristic.get())) {
    forest->SetMstEdges(mst_edges);
  }
  plugins.constraint_checker->AttachTables(tables);
  plugins.expansion->SetGoals(tables.Goals());
  plugins.objective->SetGoals(tables.Goals());
  plugins.post_optimizer->AttachTables(tables);
  plugins.post_optimizer->AttachInterruptCheck(interrupt);
}

}  // namespace tarsel
