#include "postopt/route_merging_post_optimizer.h"

#include <algorithm>
#include <cmath>
#include <utility>

#include "postopt/path_views.h"

namespace tarsel {

namespace {

// Tolerance of the bound and of near-equal insertion costs.
constexpr double kTolerance = 1e-9;

}  // namespace

void RouteMergingPostOptimizer::SetReturnToEnd(bool return_to_end) {
  evaluator.SetReturnToEnd(return_to_end);
}

void RouteMergingPostOptimizer::SetStarts(const std::vector<size_t>& starts) {
  evaluator.SetStarts(starts);
}

void RouteMergingPostOptimizer::SetGoals(const std::vector<size_t>& goals) {
  evaluator.SetGoals(goals);
}

void RouteMergingPostOptimizer::SetTimeWindows(const TimeWindowTable& time_windows) {
  evaluator.SetTimeWindows(time_windows);
}

void RouteMergingPostOptimizer::Optimize(const PlannerGraph* graph,
                                         const std::vector<NodeInfo>& nodes,
                                         const std::vector<AgentInfo>& agents, Result& result) {
  evaluator.Begin(graph, nodes, agents);
  LoadRoutes(result);

  // No route may grow beyond the longest route at entry.
  const double bound =
      route_costs.empty() ? 0.0 : *std::max_element(route_costs.begin(), route_costs.end());
  if (bound <= 0) return;

  // Cheapest routes first; the order uses the costs at entry.
  std::vector<std::pair<double, size_t>> order;
  order.reserve(route_costs.size());
  for (size_t k = 0; k < route_costs.size(); ++k) order.emplace_back(route_costs[k], k);
  std::sort(order.begin(), order.end());
  for (const auto& [cost, agent] : order) {
    // Invalid, empty and emptied routes and the longest ones stay.
    if (!(cost > 0 && cost < bound - kTolerance)) continue;
    if (routes[agent].size() < 3) continue;
    DissolveRoute(agent, bound);
  }

  for (size_t l = 0; l < routes.size(); ++l) {
    if (route_costs[l] > 0) evaluator.ImproveRouteTwoOpt(routes[l], route_costs[l], l);
  }
  for (size_t i = 0; i < routes.size(); ++i) {
    result.paths[i] = routes[i];
    result.times[i] = route_costs[i];
  }
}

void RouteMergingPostOptimizer::LoadRoutes(Result& result) {
  const size_t count = evaluator.NumAgents();
  routes.assign(count, {});
  route_costs.assign(count, 0.0);
  for (size_t j = 0; j < count; ++j) {
    routes[j] = result.paths[j];  // inserts a missing entry
    const RouteEvaluation evaluation = evaluator.EvaluateRoute(routes[j], j);
    if (evaluation.valid) route_costs[j] = evaluation.cost;
  }
}

void RouteMergingPostOptimizer::DissolveRoute(size_t agent, double bound) {
  inner_nodes.assign(routes[agent].begin() + 1, routes[agent].end() - 1);
  for (size_t node : inner_nodes) {
    if (!FindBestInsertion(node, agent, bound).found) return;
  }
  // What is left must still be a route of the agent (its direct trip may be
  // over the limit or have no arc); otherwise nothing changes.
  const std::vector<std::vector<size_t>> routes_before = routes;
  const std::vector<double> costs_before = route_costs;
  std::vector<size_t>& dissolved = routes[agent];
  // Earlier insertions change the routes, so every place is searched again;
  // a node that no longer fits stays where it is.
  for (size_t node : inner_nodes) {
    const InsertionChoice choice = FindBestInsertion(node, agent, bound);
    if (!choice.found) continue;
    std::vector<size_t>& receiver = routes[choice.agent];
    receiver.insert(receiver.begin() + static_cast<std::ptrdiff_t>(choice.position), node);
    const RouteEvaluation evaluation = evaluator.EvaluateRoute(receiver, choice.agent);
    if (evaluation.valid) route_costs[choice.agent] = evaluation.cost;
    dissolved.erase(std::find(dissolved.begin(), dissolved.end(), node));
  }
  // What is left (at least the first and last node) keeps its real cost.
  const RouteEvaluation rest = evaluator.EvaluateRoute(dissolved, agent);
  if (!rest.valid) {
    routes = routes_before;
    route_costs = costs_before;
    return;
  }
  route_costs[agent] = rest.cost;
}

bool RouteMergingPostOptimizer::CanVisit(size_t agent, size_t node) const {
  return evaluator.CanVisit(agent, node);
}

InsertionChoice RouteMergingPostOptimizer::FindBestInsertion(size_t node, size_t excluded,
                                                             double bound) const {
  InsertionChoice best;
  double best_cost = kMaxDouble;
  double best_increase = kMaxDouble;
  for (size_t i = 0; i < routes.size(); ++i) {
    if (i == excluded || !CanVisit(i, node) || routes[i].size() < 2) continue;
    const std::vector<size_t>& route = routes[i];
    const CostEstimate whole = evaluator.PlainCost(route, i);
    for (size_t j = 1; j < route.size(); ++j) {
      // Only a cost within both the bound and the best so far (plus the
      // tolerance) can be taken.
      const double limit = std::min(bound, best_cost);
      if (RouteEvaluator::CertainlyAbove(evaluator.InsertionEstimate(route, whole, node, j, i),
                                         limit + kTolerance, std::fabs(limit) + kTolerance)) {
        continue;
      }
      const RouteEvaluation candidate =
          evaluator.EvaluateRoute(InsertedNodeView(route, node, j), i);
      if (!candidate.valid || !(candidate.cost <= bound + kTolerance)) continue;
      const double increase = candidate.cost - route_costs[i];
      const bool cheaper = candidate.cost < best_cost;
      const bool near_tie_smaller_increase =
          std::fabs(candidate.cost - best_cost) <= kTolerance && increase < best_increase;
      if (cheaper || near_tie_smaller_increase) {
        best = InsertionChoice{true, j, i, candidate.cost};
        best_cost = candidate.cost;
        best_increase = increase;
      }
    }
  }
  return best;
}

}  // namespace tarsel
