#include "postopt/route_evaluator.h"

#include <algorithm>
#include <cmath>
#include <ctime>

#include "postopt/path_views.h"
#include "common/special_values.h"

namespace tarsel {

namespace {

// Relative safety margin of the cost filters. The rounding error of a sum of
// a few hundred terms is below 1e-13 of their magnitude, so a filter using
// this margin never skips a candidate that the exact evaluation would accept.
constexpr double kFilterMargin = 1e-9;

// A move must shorten a route by more than this to be taken.
constexpr double kImprovement = 1e-9;

}  // namespace

void RouteEvaluator::Attach(const InstanceTables& tables) {
  reader.Attach(tables);
  Reload();
}

void RouteEvaluator::SetReturnToEnd(bool return_to_end_value) {
  reader.OwnTables().SetReturnToEnd(return_to_end_value);
  Reload();
}

void RouteEvaluator::SetStarts(const std::vector<size_t>& starts_value) {
  reader.OwnTables().SetStarts(starts_value);
  Reload();
}

void RouteEvaluator::SetGoals(const std::vector<size_t>& goals_value) {
  reader.OwnTables().SetGoals(goals_value);
  Reload();
}

void RouteEvaluator::SetTimeWindows(const TimeWindowTable& time_windows_value) {
  reader.OwnTables().SetTimeWindows(time_windows_value);
  Reload();
}

void RouteEvaluator::Begin(const PlannerGraph* graph_value,
                           const std::vector<NodeInfo>& nodes_value,
                           const std::vector<AgentInfo>& agents_value) {
  if (!reader.Attached()) {
    InstanceTables& own = reader.OwnTables();
    own.SetGraph(graph_value);
    own.SetNodes(nodes_value);
    own.SetAgents(agents_value);
  }
  Reload();
}

bool RouteEvaluator::StopRequested() const {
  if (interrupt == nullptr || !interrupt->Active()) return false;
  return interrupt->Poll(static_cast<double>(std::clock()) / CLOCKS_PER_SEC);
}

bool RouteEvaluator::AllowsType(size_t node, size_t type) const {
  return type != kNoIndex && reader.Tables().TypeAllowed(static_cast<int64_t>(type), node);
}

bool RouteEvaluator::CanVisit(size_t k, size_t node) const {
  const RouteAgent& agent = costs->Agent(k);
  if (!agent.typed || !AllowsType(node, agent.type)) return false;
  const InstanceTables& tables = reader.Tables();
  if (tables.IsStart(node) && node != agent.start) return false;
  if (tables.IsGoal(node) && node != agent.goal) return false;
  return true;
}

template <class Path>
RouteEvaluation RouteEvaluator::EvaluateRoute(const Path& path, size_t k) const {
  constexpr RouteEvaluation kInvalid{false, 0.0};
  const size_t length = path.size();
  if (length == 0) return RouteEvaluation{true, 0.0};
  const RouteAgent& agent = costs->Agent(k);
  const InstanceTables& tables = reader.Tables();
  const bool has_starts = !tables.Starts().empty();
  const size_t num_nodes = tables.NumNodes();
  if (has_starts && path[0] != agent.start) return kInvalid;
  const size_t last = path[length - 1];
  const bool ends_at_goal = !tables.Goals().empty() && last == agent.goal;
  const bool ends_at_start = !tables.ReturnToEnd() && has_starts && last == agent.start;
  if (!ends_at_goal && !ends_at_start) return kInvalid;
  if (!agent.typed) return kInvalid;  // no node allows a missing type

  const RouteWalk walk = costs->WalkUntilBroken(k, path, [&](size_t i, size_t node) {
    if (node >= num_nodes) return false;
    // The own start may appear only first and last.
    if (i > 0 && i + 1 < length && has_starts && node == agent.start) return false;
    if (!tables.TypeAllowed(static_cast<int64_t>(agent.type), node)) return false;
    // No other agent's start or goal, except where that node is this
    // agent's own start or goal (one agent may start where another ends).
    const bool own_depot = node == agent.start || node == agent.goal;
    return own_depot || !(tables.IsStart(node) || tables.IsGoal(node));
  });
  return walk.feasible ? RouteEvaluation{true, walk.duration} : kInvalid;
}

CostEstimate RouteEvaluator::PlainCost(const std::vector<size_t>& path, size_t k) const {
  CostEstimate sum;
  for (size_t i = 1; i < path.size(); ++i) {
    const double step = StepCost(path[i - 1], path[i], k);
    sum.cost += step;
    sum.magnitude += std::fabs(step);
  }
  return sum;
}

CostEstimate RouteEvaluator::RemovalEstimate(const std::vector<size_t>& path,
                                             const CostEstimate& whole, size_t removed,
                                             size_t k) const {
  const size_t before = path[removed - 1];
  const size_t node = path[removed];
  const size_t after = path[removed + 1];
  const double bridge = StepCost(before, after, k);
  return CostEstimate{
      whole.cost - StepCost(before, node, k) - StepCost(node, after, k) + bridge,
      whole.magnitude + std::fabs(bridge)};
}

CostEstimate RouteEvaluator::InsertionEstimate(const std::vector<size_t>& path,
                                               const CostEstimate& whole, size_t node,
                                               size_t position, size_t k) const {
  const size_t before = path[position - 1];
  const size_t after = path[position];
  const double in = StepCost(before, node, k);
  const double out = StepCost(node, after, k);
  return CostEstimate{whole.cost - StepCost(before, after, k) + in + out,
                      whole.magnitude + std::fabs(in) + std::fabs(out)};
}

bool RouteEvaluator::CertainlyAbove(const CostEstimate& estimate, double bound,
                                    double bound_magnitude) {
  const double slack = kFilterMargin * (estimate.magnitude + bound_magnitude);
  // NaN or infinite values compare false and leave the decision to the
  // exact evaluation.
  return estimate.cost - slack > bound;
}

double RouteEvaluator::FillPrefixSums(const std::vector<size_t>& path, size_t k) {
  const size_t n = path.size();
  forward_prefix.resize(n);
  backward_prefix.resize(n);
  forward_prefix[0] = 0.0;
  backward_prefix[0] = 0.0;
  double magnitude = 0.0;
  for (size_t i = 1; i < n; ++i) {
    const double forward = StepCost(path[i - 1], path[i], k);
    const double backward = StepCost(path[i], path[i - 1], k);
    forward_prefix[i] = forward_prefix[i - 1] + forward;
    backward_prefix[i] = backward_prefix[i - 1] + backward;
    magnitude += std::fabs(forward) + std::fabs(backward);
  }
  return magnitude;
}

void RouteEvaluator::ImproveRouteTwoOpt(std::vector<size_t>& path, double& cost, size_t k) {
  const size_t n = path.size();
  if (n < 4) return;
  bool improved = true;
  while (improved && !StopRequested()) {
    improved = false;
    const double magnitude = FillPrefixSums(path, k);
    const double total = forward_prefix[n - 1];
    for (size_t i = 1; i + 2 < n && !improved; ++i) {
      for (size_t j = i + 1; j + 1 < n; ++j) {
        // Reversing i..j replaces the arcs (i-1, i) and (j, j+1) by
        // (i-1, j) and (i, j+1) and runs the segment's arcs backwards.
        const double entry = StepCost(path[i - 1], path[j], k);
        const double exit = StepCost(path[i], path[j + 1], k);
        const CostEstimate estimate{forward_prefix[i - 1] + entry +
                                        (backward_prefix[j] - backward_prefix[i]) + exit +
                                        (total - forward_prefix[j + 1]),
                                    magnitude + std::fabs(entry) + std::fabs(exit)};
        if (CertainlyAbove(estimate, cost - kImprovement, std::fabs(cost) + kImprovement)) {
          continue;
        }
        const RouteEvaluation reversed = EvaluateRoute(ReversedSegmentView(path, i, j), k);
        if (reversed.valid && reversed.cost + kImprovement < cost) {
          std::reverse(path.begin() + static_cast<std::ptrdiff_t>(i),
                       path.begin() + static_cast<std::ptrdiff_t>(j) + 1);
          cost = reversed.cost;
          improved = true;  // restart the scan on the new path
          break;
        }
      }
    }
  }
}

template RouteEvaluation RouteEvaluator::EvaluateRoute(const std::vector<size_t>&, size_t) const;
template RouteEvaluation RouteEvaluator::EvaluateRoute(const ReversedSegmentView&, size_t) const;
template RouteEvaluation RouteEvaluator::EvaluateRoute(const RemovedNodeView&, size_t) const;
template RouteEvaluation RouteEvaluator::EvaluateRoute(const InsertedNodeView&, size_t) const;

}  // namespace tarsel
