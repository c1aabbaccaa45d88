#include "postopt/default_post_optimizer.h"
#include "common/console.h"

#include <algorithm>
#include <cmath>
#include <iostream>

#include "postopt/path_views.h"
#include "common/special_values.h"

namespace tarsel {

namespace {

void ReportInvalidPath(size_t agent) {
  ConsoleLine(ConsoleStream::kErr, ConsoleKind::kError, "[post-opt] invalid path for agent ", agent,
              ", skip optimize");
}

}  // namespace

void DefaultPostOptimizer::SetReturnToEnd(bool return_to_end) {
  evaluator.SetReturnToEnd(return_to_end);
}

void DefaultPostOptimizer::SetStarts(const std::vector<size_t>& starts) {
  evaluator.SetStarts(starts);
}

void DefaultPostOptimizer::SetGoals(const std::vector<size_t>& goals) { evaluator.SetGoals(goals); }

void DefaultPostOptimizer::SetTimeWindows(const TimeWindowTable& time_windows) {
  evaluator.SetTimeWindows(time_windows);
}

void DefaultPostOptimizer::Optimize(const PlannerGraph* graph, const std::vector<NodeInfo>& nodes,
                                    const std::vector<AgentInfo>& agents, Result& result) {
  groups.clear();
  group_order.clear();
  evaluator.Begin(graph, nodes, agents);
  routes.assign(agents.size(), AgentRoute{});

  LoadRoutes(result);
  for (size_t type : group_order) ImproveGroup(type);
  BalanceGroups();
  // The counters of the search are not carried over.
  result = RoutesAsResult();
}

void DefaultPostOptimizer::LoadRoutes(Result& result) {
  for (size_t i = 0; i < routes.size(); ++i) {
    const std::vector<size_t>& path = result.paths[i];  // inserts a missing entry
    RouteEvaluation evaluation = evaluator.EvaluateRoute(path, i);
    if (!evaluation.valid) {
      ReportInvalidPath(i);
      evaluation.cost = 0.0;
    }
    routes[i] = AgentRoute{i, evaluation.cost, path};

    const size_t type = static_cast<size_t>(evaluator.AgentOf(i).type);
    auto found = groups.find(type);
    if (found == groups.end()) {
      groups.emplace(type, AgentGroup{1, type, i, i, {i}});
      group_order.push_back(type);
      continue;
    }
    AgentGroup& group = found->second;
    group.members.push_back(i);
    if (evaluation.cost > routes[group.max_agent].cost) {
      group.max_agent = i;
    } else if (evaluation.cost < routes[group.min_agent].cost) {
      group.min_agent = i;
    }
    ++group.member_count;
  }
}

void DefaultPostOptimizer::ImproveGroup(size_t type) {
  AgentGroup& group = groups.at(type);
  for (size_t m : group.members) {
    AgentRoute& route = routes[m];
    RouteEvaluation evaluation = evaluator.EvaluateRoute(route.path, m);
    if (!evaluation.valid) {
      ReportInvalidPath(m);
      evaluation.cost = 0.0;
    }
    if (std::isfinite(evaluation.cost)) {
      route.cost = evaluation.cost;
      evaluator.ImproveRouteTwoOpt(route.path, route.cost, m);
    }
    const double time_limit = evaluator.AgentOf(m).time_limit;
    if (!std::isfinite(route.cost) || (time_limit > 0 && route.cost > time_limit)) {
      ConsoleLine(ConsoleStream::kErr, ConsoleKind::kError, "[post-opt] path invalid or over capacity, skip agent ",
                  m);
    }
  }
  UpdateGroupExtremes(type);

  // At most one relocation inside the group.
  const RelocationMove move = FindBestRelocation(type, type);
  if (move.gain > 0) {
    ApplyRelocation(routes[group.max_agent], routes[group.min_agent], move.remove_pos,
                    move.insert_pos);
    UpdateGroupExtremes(type);
  }
}

void DefaultPostOptimizer::BalanceGroups() {
  // Every accepted move leaves both touched routes strictly shorter than the
  // longest route was, so the loop ends.
  while (!evaluator.StopRequested()) {
    size_t longest_type = kNoIndex;
    size_t shortest_type = kNoIndex;
    double longest = -1.0;
    double shortest = kMaxDouble;
    for (size_t type : group_order) {
      const double cost = routes[groups.at(type).max_agent].cost;
      if (cost > longest) {
        longest = cost;
        longest_type = type;
      }
      if (cost < shortest) {
        shortest = cost;
        shortest_type = type;
      }
    }
    if (longest_type == shortest_type || longest_type == kNoIndex || shortest_type == kNoIndex) {
      return;
    }
    const RelocationMove move = FindBestRelocation(longest_type, shortest_type);
    if (move.gain <= 0) return;
    ApplyRelocation(routes[groups.at(longest_type).max_agent],
                    routes[groups.at(shortest_type).min_agent], move.remove_pos,
                    move.insert_pos);
    UpdateGroupExtremes(longest_type);
    UpdateGroupExtremes(shortest_type);
  }
}

Result DefaultPostOptimizer::RoutesAsResult() const {
  Result fresh;
  for (size_t i = 0; i < routes.size(); ++i) {
    fresh.paths[i] = routes[i].path;
    fresh.times[i] = routes[i].cost;
  }
  return fresh;
}

void DefaultPostOptimizer::UpdateGroupExtremes(size_t type) {
  AgentGroup& group = groups.at(type);
  double largest = -1.0;
  double smallest = kMaxDouble;
  for (size_t m : group.members) {
    const double cost = routes[m].cost;
    if (cost > largest) {
      largest = cost;
      group.max_agent = m;
    }
    if (cost < smallest) {
      smallest = cost;
      group.min_agent = m;
    }
  }
}

RelocationMove DefaultPostOptimizer::FindBestRelocation(size_t donor_type,
                                                        size_t receiver_type) const {
  RelocationMove best;
  const size_t donor_agent = groups.at(donor_type).max_agent;
  const size_t receiver_agent = groups.at(receiver_type).min_agent;
  if (donor_agent == receiver_agent) return best;
  const std::vector<size_t>& donor = routes[donor_agent].path;
  const std::vector<size_t>& receiver = routes[receiver_agent].path;
  if (donor.size() < 3 || receiver.size() < 2) return best;

  const double donor_cost = routes[donor_agent].cost;
  const CostEstimate donor_whole = evaluator.PlainCost(donor, donor_agent);
  const CostEstimate receiver_whole = evaluator.PlainCost(receiver, receiver_agent);
  double best_gain = 0.0;
  for (size_t i = 1; i + 1 < donor.size(); ++i) {
    const size_t node = donor[i];
    if (donor_type != receiver_type && !evaluator.AllowsType(node, receiver_type)) continue;
    // A gain above best_gain needs both new routes below donor_cost - best_gain.
    if (RouteEvaluator::CertainlyAbove(
            evaluator.RemovalEstimate(donor, donor_whole, i, donor_agent),
            donor_cost - best_gain, std::fabs(donor_cost) + std::fabs(best_gain))) {
      continue;
    }
    // The shortened donor is the same for every insertion position.
    const RouteEvaluation new_donor =
        evaluator.EvaluateRoute(RemovedNodeView(donor, i), donor_agent);
    if (!new_donor.valid || !(donor_cost - new_donor.cost > best_gain)) continue;

    for (size_t j = 1; j < receiver.size(); ++j) {
      if (RouteEvaluator::CertainlyAbove(
              evaluator.InsertionEstimate(receiver, receiver_whole, node, j, receiver_agent),
              donor_cost - best_gain, std::fabs(donor_cost) + std::fabs(best_gain))) {
        continue;
      }
      const RouteEvaluation new_receiver =
          evaluator.EvaluateRoute(InsertedNodeView(receiver, node, j), receiver_agent);
      if (!new_receiver.valid) continue;
      const double gain = donor_cost - std::max(new_donor.cost, new_receiver.cost);
      if (gain > best_gain) {
        best_gain = gain;
        best = RelocationMove{static_cast<int64_t>(i), static_cast<int64_t>(j), donor_type,
                              receiver_type, gain};
      }
    }
  }
  return best;
}

void DefaultPostOptimizer::ApplyRelocation(AgentRoute& donor, AgentRoute& receiver,
                                           int64_t remove_pos, int64_t insert_pos) {
  if (donor.path.size() < 2 || receiver.path.size() < 2) return;
  const int64_t donor_length = static_cast<int64_t>(donor.path.size());
  const int64_t receiver_length = static_cast<int64_t>(receiver.path.size());
  if (remove_pos < 1 || remove_pos > donor_length - 2 || insert_pos < 1 ||
      insert_pos > receiver_length - 1) {
    ConsoleLine(ConsoleStream::kErr, ConsoleKind::kError, "Invalid indices.");
    return;
  }
  const size_t i = static_cast<size_t>(remove_pos);
  const size_t j = static_cast<size_t>(insert_pos);
  const size_t node = donor.path[i];
  const RouteEvaluation new_receiver =
      evaluator.EvaluateRoute(InsertedNodeView(receiver.path, node, j), receiver.agent);
  const RouteEvaluation new_donor =
      evaluator.EvaluateRoute(RemovedNodeView(donor.path, i), donor.agent);
  if (!new_receiver.valid || !new_donor.valid) return;
  receiver.path.insert(receiver.path.begin() + insert_pos, node);
  donor.path.erase(donor.path.begin() + remove_pos);
  receiver.cost = new_receiver.cost;
  donor.cost = new_donor.cost;
}

}  // namespace tarsel
