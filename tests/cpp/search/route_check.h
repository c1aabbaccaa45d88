#pragma once

#include <algorithm>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "model/problem.h"
#include "common/result.h"

namespace tarsel::testing {

// Independent recomputation of a route's cost from the Problem: start and
// end nodes, allowed types, arcs that exist (given and below `missing_cost`),
// windows with waiting (at the start node too), route-length limit. Node
// positions are indices into problem.nodes. Returns nullopt when infeasible.
inline std::optional<double> CheckedRouteCost(const Problem& problem, bool return_to_end,
                                              size_t agent_index,
                                              const std::vector<uint64_t>& path,
                                              double missing_cost = 9999.0) {
  const Agent& agent = problem.agents_ordered[agent_index];
  auto position_of = [&](uint64_t id) {
    for (size_t i = 0; i < problem.nodes.size(); ++i) {
      if (problem.nodes[i].id == id) return i;
    }
    return problem.nodes.size();
  };
  const size_t start = position_of(agent.start_node);
  const size_t end = position_of(agent.end_node);
  if (path.empty() || path.front() != start) return std::nullopt;
  const size_t last = path.back();
  if (last != end && !(!return_to_end && last == start)) return std::nullopt;
  const CostMatrix& matrix = problem.cost_matrices.at(agent.type);
  double time = 0;
  for (size_t k = 0; k < path.size(); ++k) {
    const size_t node = path[k];
    const uint64_t id = problem.nodes[node].id;
    const auto allowed = problem.assignment_constraint.allowed_types.find(id);
    if (allowed != problem.assignment_constraint.allowed_types.end() &&
        std::find(allowed->second.begin(), allowed->second.end(), agent.type) ==
            allowed->second.end()) {
      return std::nullopt;
    }
    if (k > 0 && node != path[k - 1]) {
      const bool free_closing = !return_to_end && k + 1 == path.size();
      if (!free_closing) {
        const size_t from = path[k - 1];
        if (from >= matrix.size() || node >= matrix[from].size()) return std::nullopt;
        if (matrix[from][node] >= missing_cost) return std::nullopt;
        time += matrix[from][node];
      }
    }
    const auto window = problem.timewindow_constraint.windows.find(id);
    if (window != problem.timewindow_constraint.windows.end()) {
      if (time > window->second.second) return std::nullopt;
      time = std::max(time, window->second.first);
    }
  }
  if (agent.time_limit > 0 && time > agent.time_limit + 1e-9) return std::nullopt;
  return time;
}

// Checks a whole solution: every route feasible with the reported cost, and
// every node that is nobody's start or end visited exactly once; with
// problem.options.enforce_capacity, every route's demand (of the nodes that
// are nobody's start or end) within its agent's positive capacity and equal
// to the reported load. Returns an empty string when the solution is sound,
// otherwise what is wrong.
inline std::string CheckSolution(const Problem& problem, bool return_to_end, const Result& result,
                                 double missing_cost = 9999.0) {
  std::set<size_t> depots;
  for (const Agent& agent : problem.agents_ordered) {
    for (size_t i = 0; i < problem.nodes.size(); ++i) {
      if (problem.nodes[i].id == agent.start_node || problem.nodes[i].id == agent.end_node) {
        depots.insert(i);
      }
    }
  }
  std::vector<int> visits(problem.nodes.size(), 0);
  for (size_t a = 0; a < problem.agents_ordered.size(); ++a) {
    const auto path = result.paths.find(a);
    const auto cost = result.times.find(a);
    if (path == result.paths.end() || cost == result.times.end()) {
      return "agent " + std::to_string(a) + " has no route";
    }
    const auto checked = CheckedRouteCost(problem, return_to_end, a, path->second, missing_cost);
    if (!checked) return "route of agent " + std::to_string(a) + " is infeasible";
    if (std::abs(*checked - cost->second) > 1e-6) {
      return "agent " + std::to_string(a) + " reports " + std::to_string(cost->second) +
             " but its route costs " + std::to_string(*checked);
    }
    double load = 0;
    for (uint64_t node : path->second) {
      if (depots.count(node) == 0) {
        visits[node] += 1;
        load += problem.nodes[node].demand;
      }
    }
    if (problem.options.enforce_capacity) {
      const double capacity = problem.agents_ordered[a].capacity_limit;
      if (capacity > 0 && load > capacity + 1e-9) {
        return "agent " + std::to_string(a) + " carries " + std::to_string(load) + " over its capacity " +
               std::to_string(capacity);
      }
      const auto reported = result.loads.find(a);
      if (reported == result.loads.end() || std::abs(reported->second - load) > 1e-9) {
        return "agent " + std::to_string(a) + " has no reported load of " + std::to_string(load);
      }
    }
  }
  for (size_t i = 0; i < visits.size(); ++i) {
    if (depots.count(i) == 0 && visits[i] != 1) {
      return "node " + std::to_string(i) + " visited " + std::to_string(visits[i]) + " times";
    }
  }
  return "";
}

}  // namespace tarsel::testing
