#pragma once

#include <memory>
#include <vector>

#include "common/interrupt_check.h"
#include "common/mst_edge.h"
#include "model/options.h"
#include "plugins/constraint_checker_plugin.h"
#include "plugins/expansion_plugin.h"
#include "plugins/focal_comparator_plugin.h"
#include "plugins/heuristic_plugin.h"
#include "plugins/objective_plugin.h"
#include "plugins/post_optimizer_plugin.h"
#include "tables/instance_tables.h"

namespace tarsel {

// One plugin of each family, as a Solver holds them.
struct SearchPlugins {
  std::unique_ptr<FocalComparatorPlugin> focal_comparator;
  std::unique_ptr<HeuristicPlugin> heuristic;
  std::unique_ptr<PostOptimizerPlugin> post_optimizer;
  std::unique_ptr<ConstraintCheckerPlugin> constraint_checker;
  std::unique_ptr<ExpansionPlugin> expansion;
  std::unique_ptr<ObjectivePlugin> objective;
};

// The default of every family, and the post-optimiser chain (2-opt,
// relocation and balancing, then route merging).
SearchPlugins DefaultSearchPlugins();

// Replaces what an instance needs otherwise: the min-sum objective, and a
// checker composite adding time windows and route-length limits to the
// default rules when the instance has them.
void ChooseInstancePlugins(SearchPlugins& plugins, const InstanceTables& tables,
                           const Options& options);

// Hands the shared tables of one solve to every plugin, the sorted
// candidate edges to the spanning-forest heuristic, and the solve's
// interrupt check to the post-optimisers.
void HandOverTables(SearchPlugins& plugins, const InstanceTables& tables,
                    const std::vector<MstEdge>& mst_edges, InterruptCheck* interrupt);

}  // namespace tarsel
