#include "plugins/time_window_constraint_checker.h"

#include <algorithm>
#include <limits>

#include "tables/shortcuts.h"

namespace tarsel {

void TimeWindowConstraintChecker::Initialize(const PlannerGraph* graph,
                                             const std::vector<NodeInfo>& nodes,
                                             const std::vector<AgentInfo>& agents) {
  InstanceTables& own = reader.OwnTables();
  own.SetGraph(graph);
  own.SetNodes(nodes);
  own.SetAgents(agents);
  // The assignment rules read the same copy.
  inner.AttachTables(own);
  RebuildDerived();
}

void TimeWindowConstraintChecker::AttachTables(const InstanceTables& tables) {
  inner.AttachTables(tables);
  reader.Attach(tables);
  RebuildDerived();
}

void TimeWindowConstraintChecker::SetGoals(const std::vector<size_t>& goals) {
  reader.OwnTables().SetGoals(goals);
  RebuildDerived();
}

void TimeWindowConstraintChecker::SetStarts(const std::vector<size_t>& starts) {
  reader.OwnTables().SetStarts(starts);
  RebuildDerived();
}

void TimeWindowConstraintChecker::SetTimeWindows(const TimeWindowTable& time_windows) {
  reader.OwnTables().SetTimeWindows(time_windows);
}

void TimeWindowConstraintChecker::SetReturnToEnd(bool return_to_end) {
  reader.OwnTables().SetReturnToEnd(return_to_end);
  RebuildDerived();
}

bool TimeWindowConstraintChecker::IsForbidden(size_t agent, size_t node) const {
  return inner.IsForbidden(agent, node);
}

bool TimeWindowConstraintChecker::IsDeadEnd(const Label& child) const {
  return inner.IsDeadEnd(child);
}

int TimeWindowConstraintChecker::LegKind(size_t agent, size_t x, size_t y) const {
  if (x == y) return 0;
  const InstanceTables& tables = reader.Tables();
  const std::vector<size_t>& starts = tables.Starts();
  const std::vector<size_t>& goals = tables.Goals();
  const std::vector<AgentInfo>& agents = tables.Agents();
  // With open routes the final leg to the own start or end node is free.
  if (!tables.ReturnToEnd()) {
    if (agent < starts.size() && y == starts[agent]) return 0;
    if (agent < goals.size() && y == goals[agent]) return 0;
  }
  if (tables.Graph() == nullptr || agent >= agents.size() || agents[agent].type < 0) return -1;
  return 1;
}

double TimeWindowConstraintChecker::TravelTime(size_t agent, size_t x, size_t y) const {
  if (LegKind(agent, x, y) != 1) return 0;
  const InstanceTables& tables = reader.Tables();
  const double cost = tables.Cost(static_cast<size_t>(tables.Agents()[agent].type), x, y);
  // No arc: nothing is reached over it in any time.
  return tables.Connected(cost) ? cost : std::numeric_limits<double>::infinity();
}

double TimeWindowConstraintChecker::ShortestTime(size_t agent, size_t x, size_t y) const {
  if (LegKind(agent, x, y) != 1) return 0;
  const InstanceTables& tables = reader.Tables();
  const size_t type = static_cast<size_t>(tables.Agents()[agent].type);
  const size_t n = tables.NumNodes();
  if (type >= shortest.size() || x >= n || y >= n) return TravelTime(agent, x, y);
  return shortest[type][x * n + y];
}

bool TimeWindowConstraintChecker::CanServe(size_t agent, size_t node) const {
  const InstanceTables& tables = reader.Tables();
  const std::vector<size_t>& starts = tables.Starts();
  const std::vector<size_t>& goals = tables.Goals();
  const std::vector<AgentInfo>& agents = tables.Agents();
  if (agent >= agents.size() || !inner.TypeAllowed(agents[agent].type, node)) return false;
  // Another agent's end or start node is never served by this one.
  if (!goals.empty() && tables.IsGoal(node) && (agent >= goals.size() || node != goals[agent])) {
    return false;
  }
  if (!starts.empty() && tables.IsStart(node) &&
      (agent >= starts.size() || node != starts[agent])) {
    return false;
  }
  return true;
}

void TimeWindowConstraintChecker::RebuildDerived() {
  const size_t n = reader.Tables().NumNodes();
  const size_t num_agents = reader.Tables().NumAgents();
  can_serve.assign(num_agents * n, 0);
  for (size_t a = 0; a < num_agents; ++a) {
    for (size_t i = 0; i < n; ++i) can_serve[a * n + i] = CanServe(a, i) ? 1 : 0;
  }
  shortest.clear();
  skippable.Clear();
  if (reader.Tables().Graph() == nullptr) return;
  skippable = SkippableNodes(reader.Tables());
  for (size_t t = 0; t < reader.Tables().NumTypes(); ++t) {
    shortest.push_back(ShortestCosts(reader.Tables(), t));
  }
}

MoveCheck TimeWindowConstraintChecker::ApplyMove(const Label& child, size_t agent,
                                                 size_t node) const {
  const MoveCheck infeasible{false, std::nullopt};
  const size_t a = agent;
  const size_t v = node;
  const size_t u = child.current_nodes[a];
  const InstanceTables& tables = reader.Tables();
  const std::vector<size_t>& starts = tables.Starts();
  const std::vector<size_t>& goals = tables.Goals();
  const size_t num_nodes = tables.NumNodes();
  const size_t num_agents = tables.NumAgents();
  const double t = child.costs[a];  // arrival at v before waiting

  // Arrival with waiting.
  const WindowSlot* window_v = tables.Window(v);
  if (window_v != nullptr && t > window_v->end) return infeasible;
  const double c = window_v != nullptr ? std::max(t, window_v->start) : t;

  if (tables.Graph() != nullptr) {
    const size_t n = std::min(num_nodes, VisitedSet::kBits);
    const bool has_start = !starts.empty() && a < starts.size();
    const uint8_t* serve_a = a < num_agents ? &can_serve[a * num_nodes] : nullptr;

    // Ordering: reject the move when visiting some w on the way would reach v
    // no later and still finish w earlier than going v first; the search
    // reaches that order through w. Every completion of the move maps onto
    // one of that order that costs no more only when w can be left out of
    // the rest of the routes at no cost: w must be skippable.
    const double depart = t - TravelTime(a, u, v);
    for (size_t w = 0; w < n && serve_a != nullptr; ++w) {
      if (w == v || w == u || child.visited.Test(w) || !serve_a[w] || !skippable.Test(w)) {
        continue;
      }
      if (has_start && w == starts[a]) continue;
      // Reaching its own end node first ends the agent's route: that order
      // serves nothing after it, whatever the routes' kind.
      if (a < goals.size() && w == goals[a]) continue;
      const WindowSlot* window_w = tables.Window(w);
      double t_w = depart + TravelTime(a, u, w);
      if (window_w != nullptr) {
        if (t_w > window_w->end) continue;
        t_w = std::max(t_w, window_w->start);
      }
      double t_wv = t_w + TravelTime(a, w, v);
      if (window_v != nullptr) {
        if (t_wv > window_v->end) continue;
        t_wv = std::max(t_wv, window_v->start);
      }
      if (t_wv <= c) {
        double t_vw = c + TravelTime(a, v, w);
        if (window_w != nullptr) {
          if (t_vw > window_w->end) return infeasible;  // w fits before v only
          t_vw = std::max(t_vw, window_w->start);
        }
        if (t_wv < t_vw) return infeasible;
      }
    }

    // Coverage: every unvisited node must remain reachable within its window
    // by some agent that may serve it, over the quickest chain of arcs (a
    // missing or costly direct arc may have a quicker detour).
    // Nodes of the label beyond the node table cannot be served by anyone.
    const bool skip_finished = !goals.empty();
    const size_t label_nodes = child.num_nodes > 0 ? static_cast<size_t>(child.num_nodes) : 0;
    const size_t n_cover = std::min(std::max(num_nodes, label_nodes), VisitedSet::kBits);
    for (size_t i = 0; i < n_cover; ++i) {
      if (child.visited.Test(i)) continue;
      if (i >= num_nodes) return infeasible;
      const WindowSlot* window_i = tables.Window(i);
      bool covered = false;
      for (size_t j = 0; j < num_agents && !covered; ++j) {
        if (skip_finished && child.finished[j] != 0) continue;
        if (!can_serve[j * num_nodes + i]) continue;
        if (window_i == nullptr) {
          covered = true;
          break;
        }
        const size_t p = j == a ? v : child.current_nodes[j];
        const double time = j == a ? c : child.costs[j];
        covered = time + ShortestTime(j, p, i) <= window_i->end;
      }
      if (!covered) return infeasible;
    }
  }

  if (c != t) return MoveCheck{true, c};
  return MoveCheck{true, std::nullopt};
}

}  // namespace tarsel
