#include <algorithm>
#include <stdexcept>
#include <utility>

#include "common/console.h"
#include "common/special_values.h"
#include "model/anytime_points.h"
#include "search/focal_weight.h"
#include "search/solver.h"
#include "tables/reachability.h"

namespace tarsel {

namespace {

// Share of the time limit the focal search may spend on its first solution
// when the improvement engine is on.
constexpr double kFocalShare = 0.1;

}  // namespace

void Solver::SetGraph(PlannerGraph* new_graph) {
  graph = new_graph;
  tables.SetGraph(new_graph);
}

void Solver::SetNodes(const std::vector<NodeInfo>& new_nodes) {
  // Checked before copying so that a rejected table leaves the Solver as it was.
  for (const NodeInfo& node : new_nodes) {
    const std::vector<size_t>& types = node.allowed_types;
    const bool only_zero = types.size() == 1 && types[0] == 0;
    const bool zero_and_one = types.size() == 2 && types[0] == 0 && types[1] == 1;
    if (!only_zero && !zero_and_one) throw std::invalid_argument("Wrong Point type");
  }
  tables.SetNodes(new_nodes);
}

void Solver::SetAgents(const std::vector<AgentInfo>& new_agents) { tables.SetAgents(new_agents); }

int Solver::SetupAndSolve(PlannerGraph* new_graph, const std::vector<NodeInfo>& new_nodes,
                          const std::vector<AgentInfo>& new_agents,
                          const std::vector<size_t>& new_starts,
                          const std::vector<size_t>& new_goals, const std::string& new_dump_name,
                          double new_time_limit) {
  dump_name = new_dump_name;
  SetGraph(new_graph);
  SetNodes(new_nodes);
  SetAgents(new_agents);
  // The start and goal lists describe the caller's agents only, not those
  // of the Problem the Solver was built from.
  tables.SetStarts(new_starts);
  tables.SetGoals(new_goals);
  tables.SetReturnToEnd(false);
  Prepare();
  options.time_limit = new_time_limit;
  return Solve();
}

void Solver::ResetSearchState() {
  if (!engine_only) {
    label_store.Reset(NumAgents(), static_cast<int32_t>(graph->NumVertex()));
    lists.Clear();
    ResetFrontiers();
  }
  weights.assign(1, 100.0);
  interrupt.Reset();
  memory_limit_reached = false;
  incumbent.reset();
  result = Result();
  record.Start(options.objective, route_rules, NumAgents());
  summary = SolveSummary();
}

void Solver::ValidateSearch() const {
  const size_t n = graph->NumVertex();
  const size_t num_nodes = tables.NumNodes();
  // The generic entry (SetupAndSolve) has no engine to fall back on.
  if (n > kMaxSearchNodes || num_nodes > kMaxSearchNodes) {
    ThrowTooManyNodes(std::max(n, num_nodes), false);
  }
  const size_t agent_count = NumAgents();
  if (tables.Goals().size() < agent_count || tables.NumAgents() < agent_count) {
    throw std::invalid_argument("every agent needs a start node, an end node and an agent record");
  }
  const size_t node_limit = std::max(n, num_nodes);
  for (size_t k = 0; k < agent_count; ++k) {
    if (tables.Starts()[k] >= node_limit || tables.Goals()[k] >= node_limit) {
      throw std::invalid_argument("start and end nodes must be node indices below the node count");
    }
  }
}

Label Solver::RootLabel() {
  const size_t n = graph->NumVertex();
  const size_t agent_count = NumAgents();
  const std::vector<size_t>& starts = tables.Starts();
  const std::vector<size_t>& goals = tables.Goals();
  Label root;
  root.current_nodes = starts;
  root.costs.assign(agent_count, 0.0);
  // An agent whose start node opens later waits there first.
  for (size_t k = 0; k < agent_count; ++k) root.costs[k] = StartTime(tables, starts[k]);
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
  // An open route closes at its start or at its end node, whichever it
  // likes: neither has to be visited.
  if (!tables.ReturnToEnd()) {
    for (size_t k = 0; k < agent_count; ++k) {
      if (goals[k] < VisitedSet::kBits) root.visited.Set(goals[k]);
      if (starts[k] < VisitedSet::kBits) root.visited.Set(starts[k]);
    }
  }
  root.num_nodes = static_cast<int32_t>(n);
  root.id = NewLabel();
  root.g = plugins.objective->Aggregate(root.costs);
  root.h = plugins.heuristic->Estimate(root);
  root.active_agents = static_cast<int64_t>(agent_count);
  root.last_agent = 0;
  root.f = plugins.objective->Evaluate(root, agent_count, root.h);
  return root;
}

int Solver::Solve() {
  if (engine_only) return SolveWithEngineOnly();
  ResetSearchState();
  timer.Start();
  progress.Start(options.objective == ObjectiveType::MinMax);
  ValidateSearch();
  if (unsolvable) {
    result.cpu_seconds = timer.Elapsed();
    return 0;
  }

  const Label root = RootLabel();
  StoreLabel(root, -1);
  result.n_generated += 1;
  lists.SetFocalBound(root.f * weights[0]);
  lists.InsertOpen(root.f, root.id);
  lists.InsertFocal(FocalEntry{root.id, CountVisited(root), root.active_agents, root.f,
                               TotalCost(root)});

  size_t phase = 0;
  uint64_t selections = 0;
  Label selected;
  // Set when the open list runs empty by itself (no time limit, interrupt
  // or memory budget stopped the search): every label was expanded or pruned.
  bool exhausted = false;
  while (max_phases > 0) {
    if (result.timeout) break;
    bool stop = false;
    while (!lists.FocalEmpty() || RefillFocalList(weights[phase])) {
      // Reading the processor clock is a system call; every 16th selection
      // is often enough for limits given in seconds.
      if ((selections++ & 15) == 0 && MustStop()) {
        result.timeout = true;
        stop = true;
        break;
      }
      const FocalEntry first = lists.PopFocal();
      // The label's record is fetched while the open list lets it go.
      label_store.Prefetch(first.label_id);
      lists.EraseOpen(first.f, first.label_id);
      label_store.Get(first.label_id, selected);
      selected.g = plugins.objective->Aggregate(selected.costs);
      selected.f = first.f;

      if ((incumbent && selected.f >= *incumbent) || IsDominated(selected)) continue;
      RefocusOn(weights[phase]);
      AddToFrontier(selected);
      if (IsGoal(selected)) {
        HandleSolution(selected.id);
        break;
      }
      result.n_expanded += 1;
      const size_t agent = plugins.expansion->SelectAgent(selected);
      if (agent == kNoIndex) {
        ConsoleLine(ConsoleStream::kErr, ConsoleKind::kError, "can't find next expanded agent");
        break;
      }
      GenerateSuccessors(selected, agent);
      RefocusOn(weights[phase]);
    }
    exhausted = !stop && !result.timeout && lists.OpenEmpty();
    if (stop || result.timeout || lists.OpenEmpty()) break;
    // With the engine on, the focal search's task ends with its first solution.
    if (options.improve && record.Found()) break;

    const FocalWeightStep step = NextFocalWeight(incumbent, lists.MinOpenF());
    weights.push_back(step.weight);
    if (step.reached_one) {
      ConsoleLine(ConsoleStream::kOut, ConsoleKind::kProgress, "w = 1");
    } else {
      summary.bound_ratio = step.ratio;
    }
    ++phase;
    if (phase >= static_cast<size_t>(max_phases)) break;
  }

  if (options.improve) {
    if (exhausted && !record.Found()) {
      // The whole search space holds no solution: the engine, which
      // searches a part of that space, cannot find one either.
      ConsoleCodedLine(ConsoleStream::kErr, ConsoleKind::kInfo, console_code::kSearchExhausted, {},
                       "[improve] the focal search has exhausted its search space without a solution: "
                       "no routes serve every target within the constraints; the improvement engine "
                       "is not started");
    } else {
      RunImprovement(record.Found());
    }
  }
  result.cpu_seconds = timer.Elapsed();
  if (!record.Found()) return 0;
  if (!dump_name.empty()) WriteDebugDump();
  return 1;
}

bool Solver::MustStop() {
  const double now = timer.Elapsed();
  // With the engine on, the focal search may take a tenth of the budget for
  // its first solution; the engine uses the rest.
  const double share = options.improve ? kFocalShare : 1.0;
  if (now > share * options.time_limit) return true;
  if (options.wall_time_limit > 0 && timer.WallElapsed() > share * options.wall_time_limit) return true;
  if (interrupt.Poll(now)) return true;
  // The next block of labels must still fit, with what the lists and the
  // frontiers hold.
  if (tables_memory_bytes + static_cast<double>(SearchMemoryBytes() + label_store.BlockBytes()) >
      MemoryLimitBytes()) {
    memory_limit_reached = true;
    ConsoleCodedLine(ConsoleStream::kErr, ConsoleKind::kStop, console_code::kMemoryStop,
                     {{"memory_limit_mb", options.memory_limit_mb}}, "[memory] memory limit of ",
                     options.memory_limit_mb, " MB reached with ", label_store.Count(),
                     " labels stored; the search stops with the best solution found");
    return true;
  }
  return false;
}

void Solver::SetProgressSink(ProgressSink sink) {
  if (sink) {
    interrupt.SetPollHook([this] { progress.Tick(timer.Elapsed()); });
  } else {
    interrupt.SetPollHook({});
  }
  progress.SetSink(std::move(sink));
}

size_t Solver::SearchMemoryBytes() const {
  return label_store.MemoryBytes() + lists.MemoryBytes() + frontiers.MemoryBytes();
}

void Solver::RefocusOn(double weight) {
  if (lists.OpenEmpty()) return;
  const double bound = lists.MinOpenF() * weight;
  if (bound != lists.FocalBound()) UpdateFocalBound(lists.FocalBound(), bound);
}

void Solver::HandleSolution(int64_t label_id) {
  BuildSolution(label_id);
  OfferSolution(timer.Elapsed(), result);
  plugins.post_optimizer->Optimize(graph, tables.Nodes(), tables.Agents(), result);
  OfferSolution(timer.Elapsed(), result);
  if (!record.Found()) return;
  FillSummary();
  PruneByIncumbent(*record.Value());
}

void Solver::OfferSolution(double time, Result snapshot, IncumbentRecord::Judge judge) {
  snapshot.wall_seconds = timer.WallElapsed();
  if (record.Offer(time, std::move(snapshot), judge) != IncumbentRecord::Outcome::kKept) return;
  // Every entry the anytime filter keeps is a better solution here, so the
  // report comes once the solution is the record's best.
  const CostTotals& totals = record.BestTotals();
  progress.Solution(time, totals.max_cost, totals.sum_cost);
}

void Solver::GenerateSuccessors(const Label& parent, size_t a) {
  const size_t start = tables.Starts()[a];
  const size_t goal = tables.Goals()[a];
  const int64_t type = tables.Agents()[a].type;
  const bool return_to_end = tables.ReturnToEnd();
  const VisitedSet& start_bits = tables.StartBits();
  const VisitedSet& goal_bits = tables.GoalBits();
  const ConstraintCheckerPlugin& checker = *plugins.constraint_checker;
  const size_t node_count = tables.NumNodes();
  Label& child = child_scratch;
  std::vector<Move>& moves = moves_scratch;
  moves.clear();

  // The nodes a move may go to, ascending: the unvisited ones and the
  // agent's own start and end.
  VisitedSet open_nodes;
  for (size_t w = 0; w < 4; ++w) open_nodes.words[w] = ~parent.visited.words[w];
  if (start < VisitedSet::kBits) open_nodes.Set(start);
  if (goal < VisitedSet::kBits) open_nodes.Set(goal);

  // First the moves the constraints allow, then their labels in the same
  // order: dominance, estimate, storing.
  for (size_t i = open_nodes.NextSet(0); i < node_count; i = open_nodes.NextSet(i + 1)) {
    if (checker.IsForbidden(a, i)) continue;
    const bool is_goal = i == goal;
    const bool is_start = i == start;
    if (return_to_end) {
      if (is_start && !is_goal) continue;
      if (!is_goal && goal_bits.Test(i)) continue;
    } else if (!is_start && !is_goal && (start_bits.Test(i) || goal_bits.Test(i))) {
      // An open route may close at its own start or end node even where
      // that is another agent's depot: the last leg is free and nothing is
      // served there.
      continue;
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
      if (checker.IsDeadEnd(child)) continue;
    }

    const size_t from = child.current_nodes[a];
    if (i != from && (return_to_end || (!is_start && !is_goal)) && type >= 0) {
      const double step = tables.Cost(static_cast<size_t>(type), from, i);
      if (!tables.Connected(step)) continue;  // no arc for this agent's type
      child.costs[a] += step;
    }

    const MoveCheck check = checker.ApplyMove(child, a, i);
    if (!check.feasible) continue;
    if (check.new_cost) child.costs[a] = *check.new_cost;
    if (!checker.IsAgentFeasible(child, a)) continue;

    child.current_nodes[a] = i;
    const uint64_t key_hash = frontiers.KeyHash(child);
    moves.push_back(Move{i, key_hash, child.costs[a], child.active_agents, child.finished[a]});
    frontiers.PrefetchSlot(key_hash);
  }

  // An open route that may close at its start or at its distinct end node
  // at the same cost closes at its end node: the routes end where the agent
  // is meant to, and the other closing would only double the labels.
  if (!return_to_end && start != goal && moves.size() >= 2) {
    const auto at = [&moves](size_t node) {
      return std::find_if(moves.begin(), moves.end(),
                          [node](const Move& move) { return move.node == node; });
    };
    const auto to_start = at(start);
    const auto to_goal = at(goal);
    if (to_start != moves.end() && to_goal != moves.end() && to_goal->cost <= to_start->cost) {
      moves.erase(to_start);
    }
  }

  // The frontier lookups of the moves go in steps over all of them, so
  // that their cache misses overlap; the dominance tests then find what
  // they read in the cache.
  for (const Move& move : moves) frontiers.PrefetchFrontier(move.key_hash);
  for (const Move& move : moves) {
    child.current_nodes[a] = move.node;
    frontiers.PrefetchEntries(child, move.key_hash);
  }

  for (const Move& move : moves) {
    child = parent;
    child.visited.Set(move.node);
    child.last_agent = static_cast<int64_t>(a);
    child.finished[a] = move.finished;
    child.active_agents = move.active_agents;
    child.costs[a] = move.cost;
    child.current_nodes[a] = move.node;
    if (IsDominated(child)) continue;

    child.g = plugins.objective->Aggregate(child.costs);
    double f;
    if (child.active_agents < 1) {
      child.h = 0;
      f = child.g;
    } else {
      child.h = plugins.heuristic->Estimate(child);
      f = plugins.objective->Evaluate(child, static_cast<size_t>(child.active_agents), child.h);
    }
    child.f = f;
    if (incumbent && f >= *incumbent) continue;

    child.id = NewLabel();
    StoreLabel(child, parent.id);
    result.n_generated += 1;
    lists.InsertOpen(f, child.id);
    if (f <= lists.FocalBound()) {
      lists.InsertFocal(
          FocalEntry{child.id, CountVisited(child), child.active_agents, f, TotalCost(child)});
    }
  }
}

bool Solver::RefillFocalList(double weight) {
  if (lists.OpenEmpty()) return false;
  RefocusOn(weight);
  // Labels the focal list turned away as equivalent to an entry that has
  // since been selected are still open; without them the search would stall
  // with an empty focal list.
  return lists.RefillFocal(label_store);
}

void Solver::UpdateFocalBound(double old_bound, double new_bound) {
  lists.UpdateFocalBound(old_bound, new_bound, label_store);
}

void Solver::PruneByIncumbent(double cost) {
  lists.PruneAbove(cost);
  incumbent = cost;
}

}  // namespace tarsel
