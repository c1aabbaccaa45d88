#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

#include "graph/planner_graph.h"
#include "common/interrupt_check.h"
#include "tables/tables_reader.h"
#include "common/agent_info.h"
#include "common/node_info.h"
#include "common/time_window_table.h"
#include "routes/route_costs.h"

namespace tarsel {

// Outcome of checking one route for one agent.
struct RouteEvaluation {
  bool valid = false;
  double cost = 0;  // accumulated travel cost including waiting
};

// Travel cost of a (possibly changed) route summed without waiting, and the
// sum of the absolute values of the terms it came from, which bounds the
// rounding error of the sum.
struct CostEstimate {
  double cost = 0;
  double magnitude = 0;
};

// The post-optimisers' use of the route rules: which node sequences an
// agent may drive (its own start first, its own end or, on open routes, its
// start last, only nodes its type may visit and no other agent's start or
// end), what they cost (the route-cost core's walk: arcs of the agent's
// type, waiting for time windows, free arcs into the own start or goal on
// open routes; a missing arc, a late arrival or a route over its limit make
// the route invalid), cheap cost estimates, and 2-opt.
//
// Everything is read from the instance tables: the Solver's shared ones
// (Attach), or, for a standalone evaluator, a private copy filled by the
// setters and by Begin(), which takes the graph, node and agent tables of
// one optimisation call.
class RouteEvaluator {
 public:
  RouteEvaluator() { Reload(); }
  // A copy reads its own tables (or the shared ones), not the original's.
  RouteEvaluator(const RouteEvaluator& other) : reader(other.reader), interrupt(other.interrupt) { Reload(); }
  RouteEvaluator& operator=(const RouteEvaluator& other) {
    reader = other.reader;
    interrupt = other.interrupt;
    Reload();
    return *this;
  }

  void Attach(const InstanceTables& tables);
  // The route-cost core the evaluation walks with (after Attach).
  const RouteCosts& Costs() const { return *costs; }
  // The solve's interrupt check, polled by long loops (may be null).
  void SetInterruptCheck(InterruptCheck* check) { interrupt = check; }
  // True when the solve is to stop: the optimisation then ends with what it has.
  bool StopRequested() const;
  void SetReturnToEnd(bool return_to_end_value);
  void SetStarts(const std::vector<size_t>& starts_value);
  void SetGoals(const std::vector<size_t>& goals_value);
  void SetTimeWindows(const TimeWindowTable& time_windows_value);

  // Takes the call's tables unless shared tables are attached (they are the
  // same then), and reads the route rules from the tables afresh.
  void Begin(const PlannerGraph* graph_value, const std::vector<NodeInfo>& nodes_value,
             const std::vector<AgentInfo>& agents_value);

  size_t NumAgents() const { return reader.Tables().NumAgents(); }
  const AgentInfo& AgentOf(size_t k) const { return reader.Tables().Agents()[k]; }

  // True when node `node` lists type `type` as allowed.
  bool AllowsType(size_t node, size_t type) const;
  // True when agent `k` may visit `node`: its type is allowed there and the
  // node is no other agent's start or goal.
  bool CanVisit(size_t k, size_t node) const;

  // Checks `path` for agent `k` and returns its cost. `Path` is a
  // std::vector<size_t> or one of the views of path_views.h.
  template <class Path>
  RouteEvaluation EvaluateRoute(const Path& path, size_t k) const;

  // First-improvement 2-opt on `path` of agent `k` whose current cost is
  // `cost`: the first and last node stay, and a reversal is taken when the
  // reversed route is valid and cheaper by more than 1e-9.
  void ImproveRouteTwoOpt(std::vector<size_t>& path, double& cost, size_t k);

  // Cheap estimates used to skip candidates before evaluating them fully.
  // Without time windows the exact cost differs from the estimate only by
  // rounding; waiting only adds to the cost, so with time windows the
  // estimate stays a lower bound.
  CostEstimate PlainCost(const std::vector<size_t>& path, size_t k) const;
  // `path` (of plain cost `whole`) without position `removed`, 0 < removed < len-1.
  CostEstimate RemovalEstimate(const std::vector<size_t>& path, const CostEstimate& whole,
                               size_t removed, size_t k) const;
  // `path` with `node` inserted before `position`, 0 < position < len.
  CostEstimate InsertionEstimate(const std::vector<size_t>& path, const CostEstimate& whole,
                                 size_t node, size_t position, size_t k) const;
  // True when a route with this estimate certainly costs more than `bound`,
  // with a safety margin far above the rounding of the estimate, of the
  // exact evaluation and of `bound` (whose operands sum to
  // `bound_magnitude` in absolute value).
  static bool CertainlyAbove(const CostEstimate& estimate, double bound, double bound_magnitude);

 private:
  // Reads the route rules from the current tables.
  void Reload() { costs = std::make_unique<RouteCosts>(reader.Tables()); }
  // Cost of agent k's step from `from` to `to` without waiting.
  double StepCost(size_t from, size_t to, size_t k) const {
    bool blocked = false;
    return costs->Travel(k, from, to, blocked);
  }
  // Fills the prefix sums of `path` used by 2-opt; returns the magnitude.
  double FillPrefixSums(const std::vector<size_t>& path, size_t k);

  TablesReader reader;
  // On reader.Tables(), renewed when they change; held by pointer so that the
  // evaluator stays small inside the Solver.
  std::unique_ptr<RouteCosts> costs;
  InterruptCheck* interrupt = nullptr;

  // 2-opt buffers, reused between calls: sums of the forward arcs and of the
  // reversed arcs up to each position.
  std::vector<double> forward_prefix;
  std::vector<double> backward_prefix;
};

}  // namespace tarsel
