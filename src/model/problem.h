#pragma once

#include <cstddef>
#include <cstdint>
#include <deque>
#include <string>
#include <unordered_map>
#include <utility>
#include <vector>

#include "model/agent.h"
#include "model/constraints.h"
#include "model/node.h"
#include "model/options.h"

namespace tarsel {

using CostMatrix = std::vector<std::vector<double>>;
using PrecedencePairs = std::vector<std::pair<uint64_t, uint64_t>>;

// One MTSP instance as plain data. Apart from the cost entries that
// set_cost_matrix checks, nothing is validated here; the Solver checks
// consistency when it is built (model/problem_checks.h and the tables). Nodes and agents live in deques so
// that references handed out to them (the Python accessors give such
// references) stay valid when more are added.
struct Problem {
  std::deque<Node> nodes;
  std::unordered_map<uint64_t, Agent> agents_by_id;
  uint64_t num_agents = 0;
  uint64_t num_nodes = 0;
  std::unordered_map<std::string, CostMatrix> cost_matrices;
  AssignmentConstraint assignment_constraint;
  TimeWindowConstraint timewindow_constraint;
  PrecedencePairs precedence;
  PrecedencePairs precedence_same;
  PrecedencePairs precedence_diff;
  Options options;
  std::deque<Agent> agents_ordered;
  std::unordered_map<uint64_t, size_t> agent_order;
  std::unordered_map<std::string, size_t> type_ids;
  std::vector<std::string> type_names;
  std::unordered_map<uint64_t, size_t> agent_type_ids;

  void add_node(const Node& node);
  // Registers `agent` under `id`, which need not equal agent.id.
  void add_agent(const Agent& agent, uint64_t id);
  // Throws std::invalid_argument for a negative, NaN or infinite entry
  // (CheckCostMatrix); the matrix is not stored then.
  void set_cost_matrix(const std::string& agent_type, const CostMatrix& matrix);
  void set_assignment_constraint(const AssignmentConstraint& constraint);
  void set_timewindow_constraint(const TimeWindowConstraint& constraint);

  Options& get_options() { return options; }
  std::deque<Node>& get_nodes() { return nodes; }
  std::deque<Agent>& get_agents_ordered() { return agents_ordered; }
};

}  // namespace tarsel
