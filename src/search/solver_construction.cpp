#include <algorithm>
#include <cmath>
#include <cstddef>
#include <cstdlib>
#include <iostream>
#include <limits>

#include "plugins/composite_constraint_checker.h"
#include "plugins/default_constraint_checker.h"
#include "plugins/default_expansion.h"
#include "plugins/default_focal_comparator.h"
#include "plugins/default_heuristic.h"
#include "plugins/default_objective.h"
#include "plugins/min_sum_objective.h"
#include "plugins/time_limit_constraint_checker.h"
#include "plugins/time_window_constraint_checker.h"
#include "postopt/composite_post_optimizer.h"
#include "postopt/default_post_optimizer.h"
#include "postopt/route_merging_post_optimizer.h"
#include "common/lookup.h"
#include "search/solver.h"
#include "common/special_values.h"

namespace tarsel {

namespace {

// Truncation toward zero that stays defined for NaN and huge coordinates.
int64_t TruncateCoordinate(double value) {
  if (std::isnan(value)) return 0;
  if (value >= 9.2e18) return std::numeric_limits<int64_t>::max();
  if (value <= -9.2e18) return std::numeric_limits<int64_t>::min();
  return static_cast<int64_t>(value);
}

}  // namespace

Solver::Solver(Problem problem, Options options)
    : focal_comparator(std::make_unique<DefaultFocalComparator>()),
      heuristic(std::make_unique<DefaultHeuristic>()),
      post_optimizer(std::make_unique<DefaultPostOptimizer>()),
      constraint_checker(std::make_unique<DefaultConstraintChecker>()),
      expansion(std::make_unique<DefaultExpansion>()),
      objective(std::make_unique<DefaultObjective>()),
      focal_list(FocalOrder{focal_comparator.get()}) {
  // Fail before any table is built: the search cannot take more nodes, and
  // the tables below grow with the square of the node count.
  if (problem.nodes.size() > kMaxSearchNodes) ThrowTooManyNodes(problem.nodes.size());

  // Types.
  type_ids.clear();
  for (const auto& [name, index] : problem.type_ids) type_ids.emplace(name, index);
  type_name_map.clear();
  for (const auto& [name, index] : type_ids) type_name_map[index] = name;
  num_types = type_ids.size();

  // Nodes.
  nodes.clear();
  node_index.clear();
  for (size_t i = 0; i < problem.nodes.size(); ++i) {
    const Node& node = problem.nodes[i];
    node_index[node.id] = i;
    NodeInfo info;
    info.x = TruncateCoordinate(node.position.x);
    info.y = TruncateCoordinate(node.position.y);
    info.z = TruncateCoordinate(node.position.z);
    info.id = node.id;
    nodes.push_back(std::move(info));
  }

  // Agents.
  agents.clear();
  starts.clear();
  goals.clear();
  start_set.clear();
  goal_set.clear();
  agent_index.clear();
  agent_type_index.clear();
  for (size_t k = 0; k < problem.agents_ordered.size(); ++k) {
    const Agent& agent = problem.agents_ordered[k];
    const auto type_entry = problem.agent_type_ids.find(agent.id);
    const int64_t type =
        type_entry == problem.agent_type_ids.end() ? -1 : static_cast<int64_t>(type_entry->second);
    agent_index[agent.id] = k;
    agent_type_index[agent.id] = type;
    agents.push_back(AgentInfo{agent.id, type, agent.capacity_limit, agent.time_limit});
    starts.push_back(LookupOrThrow(node_index, agent.start_node));
    goals.push_back(LookupOrThrow(node_index, agent.end_node));
  }
  num_agents = static_cast<int32_t>(agents.size());
  start_set.insert(starts.begin(), starts.end());
  goal_set.insert(goals.begin(), goals.end());

  // Allowed types per node; nodes without an entry allow every type.
  const auto& allowed = problem.assignment_constraint.allowed_types;
  for (NodeInfo& info : nodes) {
    std::vector<size_t> types;
    const auto entry = allowed.find(info.id);
    if (entry != allowed.end()) {
      for (const std::string& name : entry->second) {
        const auto type = problem.type_ids.find(name);
        if (type != problem.type_ids.end()) types.push_back(type->second);
      }
    } else {
      std::cerr << "[warning] node " << info.id
                << " has no assignment constraint; allowing all types\n"
                << std::flush;
      for (const auto& [name, index] : problem.type_ids) types.push_back(index);
    }
    std::sort(types.begin(), types.end());
    types.erase(std::unique(types.begin(), types.end()), types.end());
    info.allowed_types = std::move(types);
  }

  // Time windows by node index.
  time_windows.clear();
  for (const auto& [id, window] : problem.timewindow_constraint.windows) {
    const auto index = node_index.find(id);
    if (index != node_index.end()) {
      time_windows[index->second] = window;
    } else {
      std::cerr << "[warning] time window node id " << id << " not found in nodes\n" << std::flush;
    }
  }

  // Complete graph with one cost dimension per agent type; entries no matrix
  // gives stay "no connection". Matrix entries beyond the node count are
  // ignored.
  const size_t n = problem.nodes.size();
  const size_t dims = num_types;
  sparse_graph = std::make_unique<SparseGraph>();
  sparse_graph->ChangeCostDim(dims, kNoConnection);
  for (size_t i = 0; i < n; ++i) sparse_graph->AddVertex(i);
  std::vector<double> table(n * n * dims, kNoConnection);
  for (const auto& [name, matrix] : problem.cost_matrices) {
    const size_t t = LookupOrThrow(type_ids, name);
    for (size_t r = 0; r < matrix.size() && r < n; ++r) {
      for (size_t c = 0; c < matrix[r].size() && c < n; ++c) {
        table[(r * n + c) * dims + t] = matrix[r][c];
      }
    }
  }
  std::vector<double> cost(dims);
  for (size_t i = 0; i < n; ++i) {
    for (size_t j = 0; j < n; ++j) {
      if (i == j) continue;
      // Iterator arithmetic stays defined when there are no types (empty table).
      std::copy_n(table.begin() + static_cast<std::ptrdiff_t>((i * n + j) * dims), dims, cost.begin());
      sparse_graph->AddArc(i, j, cost);
    }
  }

  if (options.objective == ObjectiveType::MinSum) objective = std::make_unique<MinSumObjective>();

  const bool has_windows = !time_windows.empty();
  const bool has_route_limits = std::any_of(agents.begin(), agents.end(),
                                            [](const AgentInfo& a) { return a.time_limit > 0; });
  if (has_windows || has_route_limits) {
    auto composite = std::make_unique<CompositeConstraintChecker>();
    composite->Add(std::make_unique<DefaultConstraintChecker>());
    if (has_windows) composite->Add(std::make_unique<TimeWindowConstraintChecker>());
    if (has_route_limits) composite->Add(std::make_unique<TimeLimitConstraintChecker>());
    constraint_checker = std::move(composite);
  }

  auto chain = std::make_unique<CompositePostOptimizer>();
  chain->Add(std::make_unique<DefaultPostOptimizer>());
  chain->Add(std::make_unique<RouteMergingPostOptimizer>());
  post_optimizer = std::move(chain);

  graph = sparse_graph.get();
  time_limit = options.time_limit;
  return_to_end = options.return_to_end;

  Prepare();
}

Solver::~Solver() {
  frontiers.clear();
}

namespace {

// Hands the Solver's tables to one checker according to its class.
void GiveGoals(ConstraintCheckerPlugin& checker, const std::vector<size_t>& goals) {
  if (auto* plain = dynamic_cast<DefaultConstraintChecker*>(&checker)) {
    plain->SetGoals(goals);
  } else if (auto* windows = dynamic_cast<TimeWindowConstraintChecker*>(&checker)) {
    windows->SetGoals(goals);
  } else if (auto* limits = dynamic_cast<TimeLimitConstraintChecker*>(&checker)) {
    limits->SetGoals(goals);
  }
}

void GiveWindowData(ConstraintCheckerPlugin& checker, const TimeWindowTable& time_windows,
                    const std::vector<size_t>& starts, bool return_to_end) {
  if (auto* windows = dynamic_cast<TimeWindowConstraintChecker*>(&checker)) {
    windows->SetTimeWindows(time_windows);
    windows->SetStarts(starts);
    windows->SetReturnToEnd(return_to_end);
  }
}

}  // namespace

void Solver::Prepare() {
  BuildTimeWindowEdges();
  CheckReachability();

  heuristic->Initialize(graph, nodes, agents);
  if (auto* forest = dynamic_cast<DefaultHeuristic*>(heuristic.get())) {
    forest->SetGoals(goals);
    forest->SetMstEdges(mst_edges);
  }

  constraint_checker->Initialize(graph, nodes, agents);
  if (auto* composite = dynamic_cast<CompositeConstraintChecker*>(constraint_checker.get())) {
    for (const auto& child : composite->Children()) GiveGoals(*child, goals);
    for (const auto& child : composite->Children()) {
      GiveWindowData(*child, time_windows, starts, return_to_end);
    }
  } else {
    GiveGoals(*constraint_checker, goals);
    GiveWindowData(*constraint_checker, time_windows, starts, return_to_end);
  }

  expansion->SetGoals(goals);
  objective->SetGoals(goals);

  post_optimizer->SetReturnToEnd(return_to_end);
  post_optimizer->SetStarts(starts);
  post_optimizer->SetGoals(goals);
  post_optimizer->SetTimeWindows(time_windows);
}

double Solver::TimeWindowEdgeCost(size_t a, size_t b) const {
  const double infinity = std::numeric_limits<double>::infinity();
  double start_a = 0;
  double end_a = infinity;
  const auto window_a = time_windows.find(a);
  if (window_a != time_windows.end()) {
    start_a = window_a->second.first;
    end_a = window_a->second.second;
  }
  const auto window_b = time_windows.find(b);
  const bool has_b = window_b != time_windows.end();
  const double start_b = has_b ? window_b->second.first : 0;
  const double end_b = has_b ? window_b->second.second : infinity;

  double best = kMaxDouble;
  for (size_t t = 0; t < num_types; ++t) {
    const double c = graph->ArcCost(a, b, t);
    if (c >= kNoConnection) continue;
    // Even leaving a at its window start, b's window has closed.
    if (has_b && start_a + c > end_b) continue;
    // Waiting that remains even when leaving a as late as its window allows.
    double wait = 0;
    if (has_b && std::isfinite(end_a)) {
      const double gap = start_b - (end_a + c);
      if (gap > 0) wait = gap;
    }
    best = std::min(best, c + wait);
  }
  return best;
}

void Solver::BuildTimeWindowEdges() {
  mst_edges.clear();
  const size_t n = graph->NumVertex();
  const bool list_blocked = std::getenv("MTSP_DEBUG_TW_EDGES") != nullptr;
  size_t blocked = 0;
  for (size_t j = 0; j < n; ++j) {
    for (size_t k = 0; k < j; ++k) {
      const double w = std::min(TimeWindowEdgeCost(j, k), TimeWindowEdgeCost(k, j));
      if (w == kMaxDouble) {
        ++blocked;
        if (list_blocked) std::cout << "edge: " << j << "->" << k << " cost: " << w << "\n";
      } else {
        mst_edges.push_back(MstEdge{j, k, w});
      }
    }
  }
  if (blocked > 0) {
    std::cout << "[TW-MST] blocked edges: " << blocked << " / " << n * (n - 1) / 2
              << " (set MTSP_DEBUG_TW_EDGES=1 for details)" << std::endl;
  }
  // Stable, so that equal weights keep their generation order and every run
  // sees the same list.
  std::stable_sort(mst_edges.begin(), mst_edges.end(),
                   [](const MstEdge& a, const MstEdge& b) { return a.w < b.w; });
}

void Solver::CheckReachability() {
  unreachable_nodes.clear();
  const size_t n = graph->NumVertex();
  for (size_t i = 0; i < n; ++i) {
    if (start_set.count(i) == 0 && goal_set.count(i) == 0) continue;
    double cheapest = kMaxDouble;
    for (size_t j = 0; j < n; ++j) {
      if (j != i) cheapest = std::min(cheapest, graph->ArcCost(i, j, 0));
    }
    if (cheapest == kNoConnection) {
      std::cerr << "point: " << i << " can't be reached" << std::endl;
      unreachable_nodes.push_back(i);
    }
  }
}

}  // namespace tarsel
