#include "tables/problem_tables.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <limits>
#include <string>
#include <unordered_map>
#include <utility>
#include <vector>

#include "common/console.h"
#include "common/lookup.h"
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

std::vector<NodeInfo> NodeTable(const Problem& problem,
                                std::unordered_map<size_t, size_t>& node_index) {
  std::vector<NodeInfo> nodes;
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
  return nodes;
}

// Position of the node `id` that agent `position` starts or ends at.
size_t AgentNode(const std::unordered_map<size_t, size_t>& node_index, const Agent& agent,
                 size_t position, uint64_t id, const char* verb) {
  return LookupOrThrow(node_index, id, [&] {
    return "agent " + std::to_string(agent.id) + " (agents[" + std::to_string(position) + "]) " +
           verb + " at node " + std::to_string(id) + ", but no node has the id " +
           std::to_string(id);
  });
}

void AgentTable(const Problem& problem, const std::unordered_map<size_t, size_t>& node_index,
                std::vector<AgentInfo>& agents, std::vector<size_t>& starts,
                std::vector<size_t>& goals) {
  for (size_t k = 0; k < problem.agents_ordered.size(); ++k) {
    const Agent& agent = problem.agents_ordered[k];
    const auto type_entry = problem.agent_type_ids.find(agent.id);
    const int64_t type =
        type_entry == problem.agent_type_ids.end() ? -1 : static_cast<int64_t>(type_entry->second);
    agents.push_back(AgentInfo{agent.id, type, agent.capacity_limit, agent.time_limit});
    starts.push_back(AgentNode(node_index, agent, k, agent.start_node, "starts"));
    goals.push_back(AgentNode(node_index, agent, k, agent.end_node, "ends"));
  }
}

// Allowed types per node; nodes without an entry allow every type.
void FillAllowedTypes(const Problem& problem, std::vector<NodeInfo>& nodes) {
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
      ConsoleWarning(console_code::kNoAssignment, {{"node", uint64_t{info.id}}, {"nodes", uint64_t{nodes.size()}}},
                     "[warning] node ", info.id, " has no assignment constraint; allowing all types");
      for (const auto& [name, index] : problem.type_ids) types.push_back(index);
    }
    std::sort(types.begin(), types.end());
    types.erase(std::unique(types.begin(), types.end()), types.end());
    info.allowed_types = std::move(types);
  }
}

// Constraints naming a node id that no node has, or an agent type that no
// agent has, would otherwise lose that part silently (time windows have
// their own message in WindowTable). Ids ascending, names in the order of
// first appearance, each once.
void WarnAboutUnknownReferences(const Problem& problem,
                                const std::unordered_map<size_t, size_t>& node_index) {
  const auto& allowed = problem.assignment_constraint.allowed_types;
  std::vector<uint64_t> assigned_ids;
  for (const auto& entry : allowed) assigned_ids.push_back(entry.first);
  std::sort(assigned_ids.begin(), assigned_ids.end());
  std::vector<std::string> unknown_types;
  for (const uint64_t id : assigned_ids) {
    if (node_index.count(id) == 0) {
      ConsoleWarning(console_code::kUnknownAssignmentNode, {{"node", id}}, "[warning] assignment node id ", id,
                     " not found in nodes");
    }
    for (const std::string& name : allowed.at(id)) {
      if (problem.type_ids.count(name) == 0 &&
          std::find(unknown_types.begin(), unknown_types.end(), name) == unknown_types.end()) {
        unknown_types.push_back(name);
      }
    }
  }
  for (const std::string& name : unknown_types) {
    ConsoleWarning(console_code::kUnknownAssignmentType, {{"type", name}}, "[warning] assignment type \"", name,
                   "\" is not the type of any agent");
  }

  std::vector<uint64_t> sequence_ids;
  for (const PrecedencePairs* pairs :
       {&problem.precedence, &problem.precedence_same, &problem.precedence_diff}) {
    for (const auto& [before, after] : *pairs) {
      for (const uint64_t id : {before, after}) {
        if (node_index.count(id) == 0) sequence_ids.push_back(id);
      }
    }
  }
  std::sort(sequence_ids.begin(), sequence_ids.end());
  sequence_ids.erase(std::unique(sequence_ids.begin(), sequence_ids.end()), sequence_ids.end());
  for (const uint64_t id : sequence_ids) {
    ConsoleWarning(console_code::kUnknownSequenceNode, {{"node", id}}, "[warning] sequence node id ", id,
                   " not found in nodes");
  }
}

// The precedence pairs by node index when they are enforced; otherwise
// none, with one line saying that the document's pairs have no effect.
std::vector<PrecedencePair> PairTable(const Problem& problem, const Options& options,
                                      const std::unordered_map<size_t, size_t>& node_index) {
  std::vector<PrecedencePair> pairs;
  const size_t count =
      problem.precedence.size() + problem.precedence_same.size() + problem.precedence_diff.size();
  if (count == 0) return pairs;
  if (!options.enforce_precedence) {
    ConsoleWarning(console_code::kNotEnforced, {{"option", std::string("enforce_precedence")}},
                   "[warning] the instance carries ", count,
                   count == 1 ? " precedence pair that is" : " precedence pairs that are",
                   " not enforced; set the option \"enforce_precedence\" to true to "
                   "honour them");
    return pairs;
  }
  auto index_of = [&](uint64_t id) {
    const auto found = node_index.find(id);
    return found == node_index.end() ? kNoIndex : found->second;
  };
  const std::pair<const PrecedencePairs*, PairKind> kinds[] = {
      {&problem.precedence, PairKind::kPlain},
      {&problem.precedence_same, PairKind::kSame},
      {&problem.precedence_diff, PairKind::kDiff}};
  for (const auto& [list, kind] : kinds) {
    for (const auto& [before, after] : *list) {
      pairs.push_back(PrecedencePair{index_of(before), index_of(after), before, after, kind});
    }
  }
  return pairs;
}

TimeWindowTable WindowTable(const Problem& problem,
                            const std::unordered_map<size_t, size_t>& node_index) {
  TimeWindowTable windows;
  for (const auto& [id, window] : problem.timewindow_constraint.windows) {
    const auto index = node_index.find(id);
    if (index != node_index.end()) {
      windows[index->second] = window;
    } else {
      ConsoleWarning(console_code::kUnknownTimeWindowNode, {{"node", id}}, "[warning] time window node id ", id,
                     " not found in nodes");
    }
  }
  return windows;
}

// One n*n matrix per type; the diagonal is 0 (there is no arc from a node to
// itself), entries no matrix gives are "no connection" (`missing_cost`), and
// matrix entries beyond the node count are ignored.
std::vector<std::vector<double>> CostMatrices(const Problem& problem, size_t n,
                                              double missing_cost) {
  std::vector<std::vector<double>> matrices(problem.type_ids.size(),
                                            std::vector<double>(n * n, missing_cost));
  for (const auto& [name, matrix] : problem.cost_matrices) {
    const size_t type = LookupOrThrow(problem.type_ids, name, [&] {
      return "a cost matrix is given for the type \"" + name + "\", but no agent has that type";
    });
    std::vector<double>& dense = matrices[type];
    for (size_t r = 0; r < matrix.size() && r < n; ++r) {
      for (size_t c = 0; c < matrix[r].size() && c < n; ++c) dense[r * n + c] = matrix[r][c];
    }
  }
  for (std::vector<double>& dense : matrices) {
    for (size_t i = 0; i < n; ++i) dense[i * n + i] = 0.0;
  }
  return matrices;
}

// Costs above the threshold are most likely real costs in large units
// (metres, seconds) that the search would silently treat as missing arcs;
// the threshold itself is the usual mark of a missing arc and passes.
void WarnAboutCostsAboveThreshold(const Problem& problem,
                                  const std::vector<std::vector<double>>& matrices,
                                  double missing_cost) {
  for (size_t t = 0; t < problem.type_names.size() && t < matrices.size(); ++t) {
    const std::vector<double>& dense = matrices[t];
    const bool above = std::any_of(dense.begin(), dense.end(),
                                   [missing_cost](double c) { return c > missing_cost; });
    if (above) {
      ConsoleWarning(console_code::kCostsAboveMissing, {{"type", problem.type_names[t]}},
                     "[warning] cost matrix of type ", problem.type_names[t], " has entries above ", missing_cost,
                     ", which count as no connection; raise the option \"missing_cost\" above them to use them");
    }
  }
}

// Complete graph whose arc i -> j carries every type's cost of (i, j).
std::unique_ptr<SparseGraph> CompleteGraph(const std::vector<std::vector<double>>& matrices,
                                           size_t n, double missing_cost, GraphArcs arcs) {
  const size_t dims = matrices.size();
  auto graph = std::make_unique<SparseGraph>();
  graph->ChangeCostDim(dims, missing_cost);
  for (size_t i = 0; i < n; ++i) graph->AddVertex(i);
  if (arcs == GraphArcs::kNone) return graph;
  std::vector<double> cost(dims);
  for (size_t i = 0; i < n; ++i) {
    for (size_t j = 0; j < n; ++j) {
      if (i == j) continue;
      for (size_t t = 0; t < dims; ++t) cost[t] = matrices[t][i * n + j];
      graph->AddArc(i, j, cost);
    }
  }
  return graph;
}

// Demands and capacities that no route is held to would pass without a
// word: a converted CVRP file would come back with trucks over capacity.
void WarnAboutUnenforcedCapacity(const Problem& problem, const Options& options) {
  if (options.enforce_capacity) return;
  const bool demands = std::any_of(problem.nodes.begin(), problem.nodes.end(),
                                   [](const Node& node) { return node.demand > 0; });
  const bool capacities =
      std::any_of(problem.agents_ordered.begin(), problem.agents_ordered.end(),
                  [](const Agent& agent) { return agent.capacity_limit > 0; });
  if (demands && capacities) {
    ConsoleWarning(console_code::kNotEnforced, {{"option", std::string("enforce_capacity")}},
                   "[warning] demands and capacities are carried but not enforced; set the option "
                   "\"enforce_capacity\" to true to keep every route within its agent's capacity");
  }
}

}  // namespace

size_t TablesMemoryBytes(size_t nodes, size_t types, GraphArcs arcs) {
  const size_t n = nodes;
  const size_t matrices = types * n * n * sizeof(double);
  // Per node: its records, allowed types and window.
  const size_t per_node = sizeof(NodeInfo) + types + sizeof(WindowSlot) + 2 * sizeof(size_t);
  size_t graph = 0;
  if (arcs == GraphArcs::kComplete) {
    // Each arc in the successor and predecessor lists: the neighbour's
    // index and a cost vector (its header and a heap block of `types`
    // doubles with the allocator's overhead).
    const size_t per_arc = 2 * (sizeof(size_t) + sizeof(std::vector<double>) + types * sizeof(double) + 16);
    graph = n * (n > 0 ? n - 1 : 0) * per_arc;
  }
  return matrices + n * per_node + graph;
}

ProblemTables BuildProblemTables(const Problem& problem, const Options& options, GraphArcs arcs) {
  std::unordered_map<size_t, size_t> node_index;
  std::vector<NodeInfo> nodes = NodeTable(problem, node_index);
  std::vector<AgentInfo> agents;
  std::vector<size_t> starts;
  std::vector<size_t> goals;
  AgentTable(problem, node_index, agents, starts, goals);
  FillAllowedTypes(problem, nodes);
  WarnAboutUnknownReferences(problem, node_index);
  const TimeWindowTable windows = WindowTable(problem, node_index);
  std::vector<PrecedencePair> pairs = PairTable(problem, options, node_index);

  const size_t n = problem.nodes.size();
  std::vector<std::vector<double>> matrices = CostMatrices(problem, n, options.missing_cost);
  WarnAboutCostsAboveThreshold(problem, matrices, options.missing_cost);
  WarnAboutUnenforcedCapacity(problem, options);
  ProblemTables built;
  built.graph = CompleteGraph(matrices, n, options.missing_cost, arcs);
  InstanceTables& tables = built.tables;
  tables.SetCostMatrices(std::move(matrices), n, built.graph.get());
  tables.SetNodes(nodes);
  tables.SetAgents(agents);
  tables.SetStarts(starts);
  tables.SetGoals(goals);
  tables.SetTimeWindows(windows);
  if (options.enforce_capacity) {
    std::vector<double> demands(n);
    for (size_t i = 0; i < n; ++i) demands[i] = problem.nodes[i].demand;
    tables.SetDemands(std::move(demands));
  }
  tables.SetReturnToEnd(options.return_to_end);
  tables.SetMissingCost(options.missing_cost);
  tables.SetPrecedencePairs(std::move(pairs));
  return built;
}

}  // namespace tarsel
