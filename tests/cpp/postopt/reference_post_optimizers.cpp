#include "reference_post_optimizers.h"

#include <algorithm>
#include <cmath>
#include <iostream>
#include <limits>

#include "common/console.h"

namespace tarsel::postopt_testing {

namespace {
constexpr double kMax = std::numeric_limits<double>::max();
}  // namespace

ReferencePostOptimizers::ReferencePostOptimizers(const RouteRules& rules_value,
                                                 const PlannerGraph* graph_value,
                                                 const std::vector<NodeInfo>& nodes_value,
                                                 const std::vector<AgentInfo>& agents_value)
    : rules(rules_value),
      start_set(rules_value.starts.begin(), rules_value.starts.end()),
      goal_set(rules_value.goals.begin(), rules_value.goals.end()),
      graph(graph_value),
      nodes(nodes_value),
      agents(agents_value) {}

std::pair<bool, double> ReferencePostOptimizers::Evaluate(const Path& path, size_t k) const {
  if (path.empty()) return {true, 0.0};
  const size_t t = static_cast<size_t>(agents[k].type);
  const double limit = agents[k].time_limit;
  const auto& starts = rules.starts;
  const auto& goals = rules.goals;
  if (!starts.empty() && path[0] != starts[k]) return {false, 0.0};
  const size_t last = path.back();
  bool end_ok = !goals.empty() && last == goals[k];
  if (!rules.return_to_end && !starts.empty() && last == starts[k]) end_ok = true;
  if (!end_ok) return {false, 0.0};
  double c = 0.0;
  for (size_t i = 0; i < path.size(); ++i) {
    const size_t n = path[i];
    if (!starts.empty() && i > 0 && n == starts[k] && i != path.size() - 1) return {false, 0.0};
    const auto& allowed = nodes[n].allowed_types;
    if (std::find(allowed.begin(), allowed.end(), t) == allowed.end()) return {false, 0.0};
    const bool own_start = !starts.empty() && n == starts[k];
    const bool own_goal = !goals.empty() && n == goals[k];
    if (!own_start && !own_goal && (start_set.count(n) || goal_set.count(n))) return {false, 0.0};
    if (i > 0) {
      const size_t p = path[i - 1];
      const bool own_end = (!starts.empty() && n == starts[k]) || (!goals.empty() && n == goals[k]);
      double step = 0.0;
      if (!(n == p || graph == nullptr || (!rules.return_to_end && own_end))) {
        const std::vector<double> cost = graph->GetArcCost(p, n);
        step = cost.empty() ? 0.0 : cost[t];
      }
      c += step;
    }
    const auto window = rules.time_windows.find(n);
    if (window != rules.time_windows.end()) {
      if (c > window->second.second) return {false, 0.0};
      c = std::max(c, window->second.first);
    }
    if (i > 0 && limit > 0 && c > limit) return {false, 0.0};
  }
  return {true, c};
}

void ReferencePostOptimizers::TwoOpt(Path& path, double& cost, size_t k) const {
  if (path.size() < 4) return;
  bool improved = true;
  while (improved) {
    improved = false;
    for (size_t i = 1; i + 2 < path.size() && !improved; ++i) {
      for (size_t j = i + 1; j + 1 < path.size() && !improved; ++j) {
        Path candidate = path;
        std::reverse(candidate.begin() + i, candidate.begin() + j + 1);
        const auto [valid, candidate_cost] = Evaluate(candidate, k);
        if (valid && candidate_cost + 1e-9 < cost) {
          path = candidate;
          cost = candidate_cost;
          improved = true;
        }
      }
    }
  }
}

void ReferencePostOptimizers::UpdateExtremes(size_t type) {
  Group& group = groups.at(type);
  double hi = -1.0;
  double lo = kMax;
  for (size_t m : group.members) {
    if (routes[m].cost > hi) {
      hi = routes[m].cost;
      group.max_agent = m;
    }
    if (routes[m].cost < lo) {
      lo = routes[m].cost;
      group.min_agent = m;
    }
  }
}

ReferencePostOptimizers::Move ReferencePostOptimizers::BestRelocation(size_t a, size_t b) const {
  Move best;
  const size_t c = groups.at(a).max_agent;
  const size_t f = groups.at(b).min_agent;
  if (c == f || routes[c].path.size() < 3 || routes[f].path.size() < 2) return best;
  const Path& donor = routes[c].path;
  const Path& receiver = routes[f].path;
  for (size_t i = 1; i + 1 < donor.size(); ++i) {
    const size_t v = donor[i];
    const auto& allowed = nodes[v].allowed_types;
    if (a != b && std::find(allowed.begin(), allowed.end(), b) == allowed.end()) continue;
    for (size_t j = 1; j < receiver.size(); ++j) {
      Path new_donor = donor;
      new_donor.erase(new_donor.begin() + i);
      Path new_receiver = receiver;
      new_receiver.insert(new_receiver.begin() + j, v);
      const auto d = Evaluate(new_donor, c);
      const auto r = Evaluate(new_receiver, f);
      if (!d.first || !r.first) continue;
      const double gain = routes[c].cost - std::max(d.second, r.second);
      if (gain > best.gain) best = Move{static_cast<long>(i), static_cast<long>(j), gain};
    }
  }
  return best;
}

void ReferencePostOptimizers::Relocate(Route& donor, Route& receiver, long i, long j) {
  Path new_receiver = receiver.path;
  new_receiver.insert(new_receiver.begin() + j, donor.path[i]);
  Path new_donor = donor.path;
  new_donor.erase(new_donor.begin() + i);
  const auto r = Evaluate(new_receiver, receiver.agent);
  const auto d = Evaluate(new_donor, donor.agent);
  if (!r.first || !d.first) return;
  receiver.path = new_receiver;
  receiver.cost = r.second;
  donor.path = new_donor;
  donor.cost = d.second;
}

void ReferencePostOptimizers::OptimizeDefault(Result& result) {
  routes.clear();
  groups.clear();
  group_order.clear();
  for (size_t i = 0; i < agents.size(); ++i) {
    const Path path = result.paths[i];
    auto [valid, cost] = Evaluate(path, i);
    if (!valid) {
      ConsoleLine(ConsoleStream::kErr, ConsoleKind::kError, "[post-opt] invalid path for agent ", i, ", skip optimize");
      cost = 0.0;
    }
    routes.push_back(Route{i, cost, path});
    const size_t t = static_cast<size_t>(agents[i].type);
    if (!groups.count(t)) {
      groups[t] = Group{i, i, {i}};
      group_order.push_back(t);
    } else {
      Group& group = groups[t];
      group.members.push_back(i);
      if (cost > routes[group.max_agent].cost) {
        group.max_agent = i;
      } else if (cost < routes[group.min_agent].cost) {
        group.min_agent = i;
      }
    }
  }
  for (size_t t : group_order) {
    for (size_t m : groups[t].members) {
      auto [valid, cost] = Evaluate(routes[m].path, m);
      if (!valid) {
        ConsoleLine(ConsoleStream::kErr, ConsoleKind::kError, "[post-opt] invalid path for agent ", m, ", skip optimize");
        cost = 0.0;
      }
      if (std::isfinite(cost)) {
        routes[m].cost = cost;
        TwoOpt(routes[m].path, routes[m].cost, m);
      }
      const double limit = agents[m].time_limit;
      if (!std::isfinite(routes[m].cost) || (limit > 0 && routes[m].cost > limit)) {
        ConsoleLine(ConsoleStream::kErr, ConsoleKind::kError, "[post-opt] path invalid or over capacity, skip agent ", m);
      }
    }
    UpdateExtremes(t);
    const Move move = BestRelocation(t, t);
    if (move.gain > 0) {
      Relocate(routes[groups[t].max_agent], routes[groups[t].min_agent], move.remove_pos,
               move.insert_pos);
      UpdateExtremes(t);
    }
  }
  while (true) {
    size_t c = 0, w = 0;
    bool has_c = false, has_w = false;
    double hi = -1.0, lo = kMax;
    for (size_t t : group_order) {
      const double cost = routes[groups[t].max_agent].cost;
      if (cost > hi) hi = cost, c = t, has_c = true;
      if (cost < lo) lo = cost, w = t, has_w = true;
    }
    if (!has_c || !has_w || c == w) break;
    const Move move = BestRelocation(c, w);
    if (move.gain <= 0) break;
    Relocate(routes[groups[c].max_agent], routes[groups[w].min_agent], move.remove_pos,
             move.insert_pos);
    UpdateExtremes(c);
    UpdateExtremes(w);
  }
  Result fresh;
  for (size_t i = 0; i < routes.size(); ++i) {
    fresh.paths[i] = routes[i].path;
    fresh.times[i] = routes[i].cost;
  }
  result = fresh;
}

bool ReferencePostOptimizers::CanVisit(size_t k, size_t v) const {
  const auto& allowed = nodes[v].allowed_types;
  if (std::find(allowed.begin(), allowed.end(), static_cast<size_t>(agents[k].type)) ==
      allowed.end()) {
    return false;
  }
  if (!rules.starts.empty() && start_set.count(v) && v != rules.starts[k]) return false;
  if (!rules.goals.empty() && goal_set.count(v) && v != rules.goals[k]) return false;
  return true;
}

std::pair<bool, std::pair<size_t, size_t>> ReferencePostOptimizers::BestInsertion(
    size_t v, size_t u, double g) const {
  bool found = false;
  size_t best_agent = 0, best_pos = 0;
  double best_cost = kMax;
  for (size_t i = 0; i < merge_routes.size(); ++i) {
    if (i == u || !CanVisit(i, v) || merge_routes[i].size() < 2) continue;
    for (size_t j = 1; j < merge_routes[i].size(); ++j) {
      Path candidate = merge_routes[i];
      candidate.insert(candidate.begin() + j, v);
      const auto [valid, e] = Evaluate(candidate, i);
      if (!valid || !(e <= g + 1e-9)) continue;
      const bool take =
          e < best_cost || (found && std::fabs(e - best_cost) <= 1e-9 &&
                            e - merge_costs[i] < best_cost - merge_costs[best_agent]);
      if (take) {
        found = true;
        best_agent = i;
        best_pos = j;
        best_cost = e;
      }
    }
  }
  return {found, {best_agent, best_pos}};
}

void ReferencePostOptimizers::OptimizeMerging(Result& result) {
  merge_routes.assign(agents.size(), {});
  merge_costs.assign(agents.size(), 0.0);
  for (size_t j = 0; j < agents.size(); ++j) {
    merge_routes[j] = result.paths[j];
    const auto [valid, cost] = Evaluate(merge_routes[j], j);
    if (valid) merge_costs[j] = cost;
  }
  double g = 0.0;
  for (double cost : merge_costs) g = std::max(g, cost);
  if (g <= 0) return;
  std::vector<std::pair<double, size_t>> order;
  for (size_t k = 0; k < agents.size(); ++k) order.push_back({merge_costs[k], k});
  std::sort(order.begin(), order.end());
  for (const auto& [t, u] : order) {
    if (!(t > 0 && t < g - 1e-9) || merge_routes[u].size() < 3) continue;
    const Path inner(merge_routes[u].begin() + 1, merge_routes[u].end() - 1);
    bool all_placed = true;
    for (size_t v : inner) all_placed = all_placed && BestInsertion(v, u, g).first;
    if (!all_placed) continue;
    for (size_t v : inner) {
      const auto [found, place] = BestInsertion(v, u, g);
      if (!found) continue;
      Path& receiver = merge_routes[place.first];
      receiver.insert(receiver.begin() + place.second, v);
      const auto [valid, cost] = Evaluate(receiver, place.first);
      if (valid) merge_costs[place.first] = cost;
      Path& dissolved = merge_routes[u];
      dissolved.erase(std::find(dissolved.begin(), dissolved.end(), v));
    }
    const auto [valid, cost] = Evaluate(merge_routes[u], u);
    merge_costs[u] = valid ? cost : 0.0;
  }
  for (size_t l = 0; l < agents.size(); ++l) {
    if (merge_costs[l] > 0) TwoOpt(merge_routes[l], merge_costs[l], l);
  }
  for (size_t i = 0; i < agents.size(); ++i) {
    result.paths[i] = merge_routes[i];
    result.times[i] = merge_costs[i];
  }
}

}  // namespace tarsel::postopt_testing
