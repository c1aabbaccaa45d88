#include <algorithm>
#include <iostream>
#include <stdexcept>

#include "search/focal_weight.h"
#include "search/solver.h"
#include "common/special_values.h"

namespace tarsel {

void Solver::SetGraph(PlannerGraph* new_graph) { graph = new_graph; }

void Solver::SetNodes(const std::vector<NodeInfo>& new_nodes) {
  // Checked before copying so that a rejected table leaves the Solver as it was.
  for (const NodeInfo& node : new_nodes) {
    const std::vector<size_t>& types = node.allowed_types;
    const bool only_zero = types.size() == 1 && types[0] == 0;
    const bool zero_and_one = types.size() == 2 && types[0] == 0 && types[1] == 1;
    if (!only_zero && !zero_and_one) throw std::invalid_argument("Wrong Point type");
  }
  nodes = new_nodes;
}

void Solver::SetAgents(const std::vector<AgentInfo>& new_agents) { agents = new_agents; }

int Solver::SetupAndSolve(PlannerGraph* new_graph, const std::vector<NodeInfo>& new_nodes,
                          const std::vector<AgentInfo>& new_agents,
                          const std::vector<size_t>& new_starts,
                          const std::vector<size_t>& new_goals, const std::string& new_dump_name,
                          double new_time_limit) {
  dump_name = new_dump_name;
  SetGraph(new_graph);
  SetNodes(new_nodes);
  SetAgents(new_agents);
  num_types = graph->GetCostDim();
  // The sets describe the caller's agents only, not those of the Problem
  // the Solver was built from.
  starts = new_starts;
  start_set.clear();
  start_set.insert(starts.begin(), starts.end());
  num_agents = static_cast<int32_t>(starts.size());
  goals = new_goals;
  goal_set.clear();
  goal_set.insert(goals.begin(), goals.end());
  return_to_end = false;
  Prepare();
  time_limit = new_time_limit;
  return Solve();
}

void Solver::ResetSearchState() {
  label_store.Reset(static_cast<size_t>(num_agents < 0 ? 0 : num_agents));
  label_count = 0;
  label_capacity = 0;
  label_chunk = 1024;
  open_list.clear();
  focal_list.clear();
  ResetFrontiers();
  weights.assign(1, 100.0);
  focal_bound = 0;
  incumbent = -1;
  solution_found = 0;
  max_path_length = -1;
  last_update_time = 0;
  result = Result();
  summary = SolveSummary();
  anytime_log.clear();
}

int Solver::Solve() {
  ResetSearchState();
  timer.Start();

  const size_t n = graph->NumVertex();
  if (n > kMaxSearchNodes || nodes.size() > kMaxSearchNodes) {
    ThrowTooManyNodes(std::max(n, nodes.size()));
  }
  const size_t agent_count = static_cast<size_t>(num_agents);
  if (starts.size() < agent_count || goals.size() < agent_count || agents.size() < agent_count) {
    throw std::invalid_argument("every agent needs a start node, an end node and an agent record");
  }
  const size_t node_limit = std::max(n, nodes.size());
  for (size_t k = 0; k < agent_count; ++k) {
    if (starts[k] >= node_limit || goals[k] >= node_limit) {
      throw std::invalid_argument("start and end nodes must be node indices below the node count");
    }
  }
  start_bits.Clear();
  goal_bits.Clear();
  for (size_t node : start_set) {
    if (node < VisitedSet::kBits) start_bits.Set(node);
  }
  for (size_t node : goal_set) {
    if (node < VisitedSet::kBits) goal_bits.Set(node);
  }

  Label root;
  root.current_nodes = starts;
  root.current_nodes.resize(agent_count);
  root.costs.assign(agent_count, 0.0);
  root.finished.assign(agent_count, 0);
  root.visited.Clear();
  root.visited.SetFrom(n);
  for (size_t node : unreachable_nodes) {
    if (node < VisitedSet::kBits) root.visited.Set(node);
  }
  // An agent that ends elsewhere leaves its start behind for good: nobody
  // else may enter it, so it counts as visited from the start.
  for (size_t k = 0; k < agent_count; ++k) {
    if (starts[k] != goals[k] && starts[k] < VisitedSet::kBits) root.visited.Set(starts[k]);
  }
  root.num_nodes = static_cast<int32_t>(n);
  root.id = NewLabel();
  root.g = objective->Aggregate(root.costs);
  root.h = heuristic->Estimate(root);
  root.active_agents = num_agents;
  root.last_agent = 0;
  root.f = objective->Evaluate(root, agent_count, root.h);
  StoreLabel(root, -1);
  result.n_generated += 1;

  focal_bound = root.f * weights[0];
  InsertOpen(root.f, root.id);
  InsertFocal(FocalEntry{root.id, CountVisited(root), num_agents, root.f, TotalCost(root)});

  bool found_solution = false;
  size_t phase = 0;
  Label selected;
  while (max_phases > 0) {
    if (result.timeout) break;
    bool stop = false;
    while (!focal_list.empty() || RefillFocalList(phase)) {
      if (timer.Elapsed() > time_limit) {
        result.timeout = true;
        stop = true;
        break;
      }
      const FocalEntry first = *focal_list.begin();
      focal_list.erase(focal_list.begin());
      label_store.Get(first.label_id, selected);
      open_list.erase({selected.f, selected.id});

      if (IsDominated(selected) || (incumbent != -1 && selected.f >= incumbent)) continue;
      if (!open_list.empty()) {
        const double bound = open_list.begin()->first * weights[phase];
        if (bound != focal_bound) UpdateFocalBound(focal_bound, bound);
      }
      AddToFrontier(selected);
      if (IsGoal(selected)) {
        found_solution = true;
        HandleSolution(selected.id);
        break;
      }
      result.n_expanded += 1;
      const size_t agent = expansion->SelectAgent(selected);
      if (agent == kNoIndex) {
        std::cerr << "can't find next expanded agent" << std::endl;
        break;
      }
      GenerateSuccessors(selected, agent);
      if (!open_list.empty()) {
        const double bound = open_list.begin()->first * weights[phase];
        if (bound != focal_bound) UpdateFocalBound(focal_bound, bound);
      }
    }
    if (stop || result.timeout || open_list.empty()) break;

    const FocalWeightStep step = NextFocalWeight(incumbent, open_list.begin()->first);
    weights.push_back(step.weight);
    if (step.reached_one) {
      std::cout << "w = 1" << std::endl;
    } else {
      summary.bound_ratio = step.ratio;
    }
    ++phase;
    if (phase >= static_cast<size_t>(max_phases)) break;
  }

  result.cpu_seconds = timer.Elapsed();
  if (!found_solution) return 0;
  if (!dump_name.empty()) WriteDebugDump();
  return 1;
}

void Solver::HandleSolution(int64_t label_id) {
  solution_found = 1;
  BuildSolution(label_id);
  double t = timer.Elapsed();
  anytime_log.emplace_back(t, result);
  last_update_time = t;

  post_optimizer->Optimize(graph, nodes, agents, result);
  t = timer.Elapsed();
  anytime_log.emplace_back(t, result);
  last_update_time = t;

  double longest = 0;
  for (const auto& [agent, cost] : result.times) longest = std::max(longest, cost);
  max_path_length = longest;
  FillSummary();
  PruneByIncumbent(longest);
}

void Solver::GenerateSuccessors(const Label& parent, size_t a) {
  const size_t start = starts[a];
  const size_t goal = goals[a];
  const int64_t type = agents[a].type;
  const size_t node_count = nodes.size();
  Label& child = child_scratch;

  for (size_t i = 0; i < node_count; ++i) {
    if (parent.visited.Test(i) && i != start && i != goal) continue;
    if (constraint_checker->IsForbidden(a, i)) continue;
    const bool is_goal = i == goal;
    const bool is_start = i == start;
    if (return_to_end) {
      if (is_start && !is_goal) continue;
      if (!is_goal && goal_bits.Test(i)) continue;
    } else {
      if (!is_start && start_bits.Test(i)) continue;
      if (!is_goal && goal_bits.Test(i)) continue;
    }

    child = parent;
    child.visited.Set(i);
    child.last_agent = static_cast<int64_t>(a);

    if (is_goal || (!return_to_end && is_start)) {
      bool final_move;
      if (child.finished[a] == 0) {
        child.finished[a] = 1;
        child.active_agents -= 1;
        final_move = child.active_agents == 0;
      } else {
        final_move = child.active_agents == 0;
      }
      if (final_move && child.num_nodes > 0 && !child.visited.AllBelow(child.num_nodes)) continue;
      if (constraint_checker->IsDeadEnd(child)) continue;
    }

    const size_t from = child.current_nodes[a];
    if (i != from && (return_to_end || (!is_start && !is_goal))) {
      child.costs[a] += type >= 0 ? graph->ArcCost(from, i, static_cast<size_t>(type)) : 0.0;
    }

    const MoveCheck check = constraint_checker->ApplyMove(child, a, i);
    if (!check.feasible) continue;
    if (check.new_cost) child.costs[a] = *check.new_cost;
    if (!constraint_checker->IsAgentFeasible(child, a)) continue;

    child.current_nodes[a] = i;
    if (IsDominated(child)) continue;

    child.g = objective->Aggregate(child.costs);
    double f;
    if (child.active_agents < 1) {
      child.h = 0;
      f = child.g;
    } else {
      child.h = heuristic->Estimate(child);
      f = objective->Evaluate(child, static_cast<size_t>(child.active_agents), child.h);
    }
    child.f = f;
    if (incumbent != -1 && f >= incumbent) continue;

    child.id = NewLabel();
    StoreLabel(child, parent.id);
    result.n_generated += 1;
    InsertOpen(f, child.id);
    if (f <= focal_bound) {
      InsertFocal(FocalEntry{child.id, CountVisited(child), child.active_agents, f, TotalCost(child)});
    }
  }
}

FocalEntry Solver::StoredFocalEntry(double f, int64_t label_id) const {
  const int64_t visited = label_store.Visited(label_id).CountBelow(label_store.NumNodes(label_id));
  return FocalEntry{label_id, visited, label_store.ActiveAgents(label_id), f, 0.0};
}

bool Solver::RefillFocalList(size_t phase) {
  if (open_list.empty()) return false;
  const double bound = open_list.begin()->first * weights[phase];
  if (bound != focal_bound) UpdateFocalBound(focal_bound, bound);
  // Labels the focal list turned away as equivalent to an entry that has
  // since been selected are still open; without them the search would stall
  // with an empty focal list.
  for (const auto& [f, id] : open_list) {
    if (f > focal_bound) break;
    InsertFocal(StoredFocalEntry(f, id));
  }
  return !focal_list.empty();
}

void Solver::UpdateFocalBound(double old_bound, double new_bound) {
  if (old_bound < new_bound) {
    for (auto it = open_list.upper_bound({old_bound, INT64_MAX}); it != open_list.end(); ++it) {
      if (it->first > new_bound) break;
      if (!(it->first > old_bound)) continue;
      InsertFocal(StoredFocalEntry(it->first, it->second));
    }
  } else {
    for (auto it = focal_list.begin(); it != focal_list.end();) {
      it = it->f > new_bound ? focal_list.erase(it) : std::next(it);
    }
  }
  focal_bound = new_bound;
}

void Solver::PruneByIncumbent(double cost) {
  for (auto it = focal_list.begin(); it != focal_list.end();) {
    it = it->f > cost ? focal_list.erase(it) : std::next(it);
  }
  open_list.erase(open_list.upper_bound({cost + 0.2, INT64_MAX}), open_list.end());
  incumbent = cost;
}

}  // namespace tarsel
