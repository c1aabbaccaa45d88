#include "engine/decomposition.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <utility>

#include "common/special_values.h"

namespace tarsel {

void ExtractSubproblem(const InstanceTables& whole, const std::vector<std::vector<size_t>>& routes,
                       const std::vector<size_t>& agents, Subproblem& sub) {
  sub.agents = agents;
  sub.nodes.clear();
  std::vector<size_t> index(whole.NumNodes(), kNoIndex);
  const auto add = [&](size_t node) {
    if (index[node] != kNoIndex) return;
    index[node] = sub.nodes.size();
    sub.nodes.push_back(node);
  };
  for (const size_t k : agents) {
    add(whole.Starts()[k]);
    add(whole.Goals()[k]);
  }
  for (const size_t k : agents) {
    for (size_t i = 1; i + 1 < routes[k].size(); ++i) add(routes[k][i]);
  }
  const size_t n = sub.nodes.size();
  std::vector<std::vector<double>> matrices(whole.NumTypes(), std::vector<double>(n * n));
  for (size_t t = 0; t < whole.NumTypes(); ++t) {
    for (size_t i = 0; i < n; ++i) {
      for (size_t j = 0; j < n; ++j) matrices[t][i * n + j] = whole.Cost(t, sub.nodes[i], sub.nodes[j]);
    }
  }
  sub.tables = InstanceTables();
  sub.tables.SetCostMatrices(std::move(matrices), n, nullptr);
  std::vector<NodeInfo> nodes(n);
  TimeWindowTable windows;
  std::vector<double> demands;
  for (size_t i = 0; i < n; ++i) {
    nodes[i] = whole.Nodes()[sub.nodes[i]];
    const auto window = whole.TimeWindows().find(sub.nodes[i]);
    if (window != whole.TimeWindows().end()) windows[i] = window->second;
    if (whole.HasDemands()) demands.push_back(whole.Demand(sub.nodes[i]));
  }
  sub.tables.SetNodes(nodes);
  std::vector<AgentInfo> agent_infos;
  std::vector<size_t> starts, goals;
  for (const size_t k : agents) {
    agent_infos.push_back(whole.Agents()[k]);
    starts.push_back(index[whole.Starts()[k]]);
    goals.push_back(index[whole.Goals()[k]]);
  }
  sub.tables.SetAgents(agent_infos);
  sub.tables.SetStarts(starts);
  sub.tables.SetGoals(goals);
  sub.tables.SetTimeWindows(windows);
  if (whole.HasDemands()) sub.tables.SetDemands(std::move(demands));
  sub.tables.SetReturnToEnd(whole.ReturnToEnd());
  sub.tables.SetMissingCost(whole.MissingCost());
  sub.start = Result();
  for (size_t i = 0; i < agents.size(); ++i) {
    std::vector<uint64_t>& path = sub.start.paths[i];
    for (const size_t node : routes[agents[i]]) path.push_back(index[node]);
  }
}

bool PutBack(const Subproblem& sub, const Result& solved, std::vector<std::vector<size_t>>& routes) {
  for (size_t i = 0; i < sub.agents.size(); ++i) {
    if (solved.paths.find(i) == solved.paths.end()) return false;
  }
  for (size_t i = 0; i < sub.agents.size(); ++i) {
    std::vector<size_t>& route = routes[sub.agents[i]];
    route.clear();
    for (const uint64_t node : solved.paths.at(i)) route.push_back(sub.nodes[static_cast<size_t>(node)]);
  }
  return true;
}

std::vector<size_t> NeighbouringRoutes(const InstanceTables& tables, const std::vector<std::vector<size_t>>& routes,
                                       size_t count, Random& random) {
  std::vector<size_t> candidates;
  for (size_t k = 0; k < routes.size(); ++k) {
    if (routes[k].size() > 2) candidates.push_back(k);
  }
  std::vector<size_t> chosen;
  if (candidates.empty() || count == 0) return chosen;
  count = std::min(count, candidates.size());
  const std::vector<NodeInfo>& nodes = tables.Nodes();
  bool placed = false;
  for (const NodeInfo& node : nodes) placed = placed || node.x != nodes[0].x || node.y != nodes[0].y;
  // Each route's key: its barycentre's angle, or how near it comes to the
  // seed route.
  std::vector<std::pair<double, size_t>> keyed;
  const size_t seed = candidates[random.Below(candidates.size())];
  if (placed) {
    const NodeInfo& depot = nodes[tables.Starts()[0]];
    for (const size_t k : candidates) {
      double x = 0, y = 0;
      for (size_t i = 1; i + 1 < routes[k].size(); ++i) {
        x += static_cast<double>(nodes[routes[k][i]].x - depot.x);
        y += static_cast<double>(nodes[routes[k][i]].y - depot.y);
      }
      keyed.emplace_back(std::atan2(y, x), k);
    }
    std::sort(keyed.begin(), keyed.end());
    size_t from = 0;
    while (keyed[from].second != seed) ++from;
    for (size_t step = 0; step < count; ++step) chosen.push_back(keyed[(from + step) % keyed.size()].second);
  } else {
    const size_t type = static_cast<size_t>(std::max<int64_t>(0, tables.Agents()[0].type));
    const std::vector<size_t>& own = routes[seed];
    const size_t samples = std::min<size_t>(10, own.size() - 2);
    for (const size_t k : candidates) {
      double nearest = k == seed ? -1.0 : std::numeric_limits<double>::infinity();
      for (size_t s = 0; s < samples && k != seed; ++s) {
        const size_t u = own[1 + s * (own.size() - 2) / samples];
        for (size_t i = 1; i + 1 < routes[k].size(); ++i) {
          nearest = std::min(nearest, tables.Cost(type, u, routes[k][i]) + tables.Cost(type, routes[k][i], u));
        }
      }
      keyed.emplace_back(nearest, k);
    }
    std::sort(keyed.begin(), keyed.end());
    for (size_t step = 0; step < count; ++step) chosen.push_back(keyed[step].second);
  }
  std::sort(chosen.begin(), chosen.end());
  return chosen;
}

}  // namespace tarsel
