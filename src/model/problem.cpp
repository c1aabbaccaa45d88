#include "model/problem.h"

#include "model/problem_checks.h"

namespace tarsel {

void Problem::add_node(const Node& node) {
  nodes.push_back(node);
  num_nodes = nodes.size();
}

void Problem::add_agent(const Agent& agent, uint64_t id) {
  size_t type_index;
  const auto known = type_ids.find(agent.type);
  if (known == type_ids.end()) {
    type_index = type_ids.size();
    type_ids.emplace(agent.type, type_index);
    type_names.push_back(agent.type);
  } else {
    type_index = known->second;
  }
  agent_type_ids[id] = type_index;
  agent_order[id] = agents_ordered.size();
  agents_ordered.push_back(agent);
  agents_by_id[id] = agent;
  num_agents = agents_by_id.size();
}

void Problem::set_cost_matrix(const std::string& agent_type, const CostMatrix& matrix) {
  CheckCostMatrix(agent_type, matrix);
  cost_matrices[agent_type] = matrix;
}

void Problem::set_assignment_constraint(const AssignmentConstraint& constraint) {
  assignment_constraint = constraint;
}

void Problem::set_timewindow_constraint(const TimeWindowConstraint& constraint) {
  timewindow_constraint = constraint;
}

}  // namespace tarsel
