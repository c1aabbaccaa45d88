#include "plugins/time_window_constraint_checker.h"

#include <algorithm>

namespace tarsel {

void TimeWindowConstraintChecker::Initialize(const PlannerGraph* graph,
                                             const std::vector<NodeInfo>& nodes,
                                             const std::vector<AgentInfo>& agents) {
  inner.Initialize(graph, nodes, agents);
  this->graph = graph;
  this->nodes = nodes;
  this->agents = agents;
  num_agents = agents.size();
  has_time_limit = std::any_of(agents.begin(), agents.end(),
                               [](const AgentInfo& agent) { return agent.time_limit > 0; });
  RebuildWindowArray();
  RebuildServeTable();
}

namespace {

// The values of `list` as a hash set and, for indices below 256, a bit set.
void FillNodeSets(const std::vector<size_t>& list, std::unordered_set<size_t>& set,
                  VisitedSet& bits) {
  set.clear();
  set.insert(list.begin(), list.end());
  bits.Clear();
  for (const size_t node : list) {
    if (node < VisitedSet::kBits) bits.Set(node);
  }
}

}  // namespace

void TimeWindowConstraintChecker::SetGoals(const std::vector<size_t>& goals) {
  this->goals = goals;
  FillNodeSets(goals, goal_set, goal_bits);
  RebuildServeTable();
}

void TimeWindowConstraintChecker::SetStarts(const std::vector<size_t>& starts) {
  this->starts = starts;
  FillNodeSets(starts, start_set, start_bits);
  RebuildServeTable();
}

void TimeWindowConstraintChecker::SetTimeWindows(const TimeWindowTable& time_windows) {
  this->time_windows = time_windows;
  RebuildWindowArray();
}

void TimeWindowConstraintChecker::RebuildWindowArray() {
  window_of.assign(nodes.size(), {0.0, 0.0});
  has_window.assign(nodes.size(), 0);
  for (const auto& [node, window] : time_windows) {
    if (node < nodes.size()) {
      window_of[node] = window;
      has_window[node] = 1;
    }
  }
}

const std::pair<double, double>* TimeWindowConstraintChecker::Window(size_t node) const {
  if (node < has_window.size()) return has_window[node] ? &window_of[node] : nullptr;
  const auto it = time_windows.find(node);
  return it == time_windows.end() ? nullptr : &it->second;
}

bool TimeWindowConstraintChecker::IsGoal(size_t node) const {
  return node < VisitedSet::kBits ? goal_bits.Test(node) : goal_set.count(node) > 0;
}

bool TimeWindowConstraintChecker::IsStart(size_t node) const {
  return node < VisitedSet::kBits ? start_bits.Test(node) : start_set.count(node) > 0;
}

bool TimeWindowConstraintChecker::IsForbidden(size_t agent, size_t node) const {
  return inner.IsForbidden(agent, node);
}

bool TimeWindowConstraintChecker::IsDeadEnd(const Label& child) const {
  return inner.IsDeadEnd(child);
}

double TimeWindowConstraintChecker::TravelTime(size_t agent, size_t x, size_t y) const {
  if (x == y) return 0;
  if (!starts.empty() && agent < starts.size() && y == starts[agent]) return 0;
  // With open routes the final leg to the end node is free.
  if (!return_to_end && !goals.empty() && agent < goals.size() && y == goals[agent]) return 0;
  if (graph == nullptr || agent >= agents.size() || agents[agent].type < 0) return 0;
  return graph->ArcCost(x, y, static_cast<size_t>(agents[agent].type));
}

bool TimeWindowConstraintChecker::CanServe(size_t agent, size_t node) const {
  if (agent >= agents.size() || !inner.TypeAllowed(agents[agent].type, node)) return false;
  // Another agent's end or start node is never served by this one.
  if (!goals.empty() && IsGoal(node) && (agent >= goals.size() || node != goals[agent])) {
    return false;
  }
  if (!starts.empty() && IsStart(node) && (agent >= starts.size() || node != starts[agent])) {
    return false;
  }
  return true;
}

void TimeWindowConstraintChecker::RebuildServeTable() {
  const size_t n = nodes.size();
  can_serve.assign(num_agents * n, 0);
  for (size_t a = 0; a < num_agents; ++a) {
    for (size_t i = 0; i < n; ++i) can_serve[a * n + i] = CanServe(a, i) ? 1 : 0;
  }
}

MoveCheck TimeWindowConstraintChecker::ApplyMove(const Label& child, size_t agent,
                                                 size_t node) const {
  const MoveCheck infeasible{false, std::nullopt};
  const size_t a = agent;
  const size_t v = node;
  const size_t u = child.current_nodes[a];
  const double t = child.costs[a];  // arrival at v before waiting

  // Arrival with waiting.
  const std::pair<double, double>* window_v = Window(v);
  if (window_v != nullptr && t > window_v->second) return infeasible;
  const double c = window_v != nullptr ? std::max(t, window_v->first) : t;

  if (graph != nullptr) {
    const size_t n = std::min(nodes.size(), VisitedSet::kBits);
    const bool has_start = !starts.empty() && a < starts.size();
    const bool free_goal = !return_to_end && !goals.empty() && a < goals.size();
    const uint8_t* serve_a = a < num_agents ? &can_serve[a * nodes.size()] : nullptr;

    // Ordering: reject the move when visiting some w on the way would reach v
    // no later and still finish w earlier than going v first; the search
    // reaches that order through w.
    const double depart = t - TravelTime(a, u, v);
    for (size_t w = 0; w < n && serve_a != nullptr; ++w) {
      if (w == v || w == u || child.visited.Test(w) || !serve_a[w]) continue;
      if (has_start && w == starts[a]) continue;
      if (free_goal && w == goals[a]) continue;
      const std::pair<double, double>* window_w = Window(w);
      double t_w = depart + TravelTime(a, u, w);
      if (window_w != nullptr) {
        if (t_w > window_w->second) continue;
        t_w = std::max(t_w, window_w->first);
      }
      double t_wv = t_w + TravelTime(a, w, v);
      if (window_v != nullptr) {
        if (t_wv > window_v->second) continue;
        t_wv = std::max(t_wv, window_v->first);
      }
      if (t_wv <= c) {
        double t_vw = c + TravelTime(a, v, w);
        if (window_w != nullptr) {
          if (t_vw > window_w->second) return infeasible;  // w fits before v only
          t_vw = std::max(t_vw, window_w->first);
        }
        if (t_wv < t_vw) return infeasible;
      }
    }

    // Coverage: every unvisited node must remain reachable within its window
    // by some agent that may serve it.
    // Nodes of the label beyond the node table cannot be served by anyone.
    const bool skip_finished = !goals.empty();
    const size_t label_nodes = child.num_nodes > 0 ? static_cast<size_t>(child.num_nodes) : 0;
    const size_t n_cover = std::min(std::max(nodes.size(), label_nodes), VisitedSet::kBits);
    for (size_t i = 0; i < n_cover; ++i) {
      if (child.visited.Test(i)) continue;
      if (i >= nodes.size()) return infeasible;
      const std::pair<double, double>* window_i = Window(i);
      bool covered = false;
      for (size_t j = 0; j < num_agents && !covered; ++j) {
        if (skip_finished && child.finished[j] != 0) continue;
        if (!can_serve[j * nodes.size() + i]) continue;
        if (window_i == nullptr) {
          covered = true;
          break;
        }
        const size_t p = j == a ? v : child.current_nodes[j];
        const double time = j == a ? c : child.costs[j];
        covered = time + TravelTime(j, p, i) <= window_i->second;
      }
      if (!covered) return infeasible;
    }
  }

  if (c != t) return MoveCheck{true, c};
  return MoveCheck{true, std::nullopt};
}

}  // namespace tarsel
