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
  RebuildDerived();
}

void TimeWindowConstraintChecker::AttachTables(const InstanceTables& tables) {
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
  // Only the route rules hold windows.
  inner.AttachTables(reader.Tables());
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

bool TimeWindowConstraintChecker::HasCosts(size_t agent) const {
  const RouteCosts& costs = inner.Costs();
  return reader.Tables().Graph() != nullptr && agent < costs.NumAgents() && costs.Agent(agent).typed;
}

double TimeWindowConstraintChecker::TravelTime(size_t agent, size_t x, size_t y) const {
  if (!HasCosts(agent)) return 0;
  bool blocked = false;
  const double travel = inner.Costs().Travel(agent, x, y, blocked);
  // No arc: nothing is reached over it in any time.
  return blocked ? std::numeric_limits<double>::infinity() : travel;
}

double TimeWindowConstraintChecker::ShortestTime(size_t agent, size_t x, size_t y) const {
  const RouteCosts& costs = inner.Costs();
  if (!HasCosts(agent) || costs.FreeLeg(agent, x, y)) return 0;
  const size_t type = costs.Agent(agent).type;
  const size_t n = reader.Tables().NumNodes();
  if (type >= shortest.size() || x >= n || y >= n) return TravelTime(agent, x, y);
  return shortest[type][x * n + y];
}

bool TimeWindowConstraintChecker::CanServe(size_t agent, size_t node) const {
  const RouteCosts& costs = inner.Costs();
  return agent < costs.NumAgents() && costs.MayVisit(agent, node);
}

void TimeWindowConstraintChecker::RebuildDerived() {
  // The assignment and route rules read the same tables, afresh.
  inner.AttachTables(reader.Tables());
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
  const RouteCosts& costs = inner.Costs();
  const size_t num_nodes = tables.NumNodes();
  const size_t num_agents = tables.NumAgents();
  const double t = child.costs[a];  // arrival at v before waiting

  // Arrival with waiting; a late arrival breaks v's window.
  WalkState at_v;
  at_v.clock = t;
  if (!costs.Arrive(v, at_v)) return infeasible;
  const double c = at_v.clock;

  if (tables.Graph() != nullptr) {
    const size_t n = std::min(num_nodes, VisitedSet::kBits);

    // Ordering: reject the move when visiting some w on the way would reach v
    // no later and still finish w earlier than going v first; the search
    // reaches that order through w. Every completion of the move maps onto
    // one of that order that costs no more only when w can be left out of
    // the rest of the routes at no cost: w must be skippable. The times are
    // the route walk's own steps from u, left at `depart`, and from v, left
    // at c; a missing arc reaches nothing.
    if (a < num_agents) {
      const uint8_t* serve_a = &can_serve[a * num_nodes];
      const RouteAgent& route_agent = costs.Agent(a);
      const double depart = t - TravelTime(a, u, v);
      for (size_t w = 0; w < n; ++w) {
        if (w == v || w == u || child.visited.Test(w) || !serve_a[w] || !skippable.Test(w)) {
          continue;
        }
        // Its own start never comes again, and reaching its own end node
        // ends the route: that order serves nothing after it, whatever the
        // routes' kind.
        if (w == route_agent.start || w == route_agent.goal) continue;
        WalkState via_w;
        via_w.clock = depart;
        if (!costs.Extend(a, u, w, via_w) || via_w.blocked) continue;
        if (!costs.Extend(a, w, v, via_w) || via_w.blocked) continue;
        if (via_w.clock <= c) {
          WalkState after_v;
          after_v.clock = c;
          // w fits before v only.
          if (!costs.Extend(a, v, w, after_v) || after_v.blocked) return infeasible;
          if (via_w.clock < after_v.clock) return infeasible;
        }
      }
    }

    // Coverage: every unvisited node must remain reachable within its window
    // by some agent that may serve it, over the quickest chain of arcs (a
    // missing or costly direct arc may have a quicker detour): the earliest
    // arrival there must not be late.
    // Nodes of the label beyond the node table cannot be served by anyone.
    const bool skip_finished = !tables.Goals().empty();
    const size_t label_nodes = child.num_nodes > 0 ? static_cast<size_t>(child.num_nodes) : 0;
    const size_t n_cover = std::min(std::max(num_nodes, label_nodes), VisitedSet::kBits);
    for (size_t i = 0; i < n_cover; ++i) {
      if (child.visited.Test(i)) continue;
      if (i >= num_nodes) return infeasible;
      bool covered = false;
      for (size_t j = 0; j < num_agents && !covered; ++j) {
        if (skip_finished && child.finished[j] != 0) continue;
        if (!can_serve[j * num_nodes + i]) continue;
        const size_t p = j == a ? v : child.current_nodes[j];
        WalkState earliest;
        earliest.clock = (j == a ? c : child.costs[j]) + ShortestTime(j, p, i);
        covered = costs.Arrive(i, earliest);
      }
      if (!covered) return infeasible;
    }
  }

  if (c != t) return MoveCheck{true, c};
  return MoveCheck{true, std::nullopt};
}

}  // namespace tarsel
