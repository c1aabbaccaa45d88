#pragma once

#include <cmath>
#include <string>
#include <utility>
#include <vector>

#include "model/problem.h"

namespace tarsel::testing {

// Small instances for the search tests: nodes on the plane with Euclidean
// costs per agent type (scaled by a factor per type).
struct InstanceBuilder {
  Problem problem;
  std::vector<std::pair<double, double>> points;

  InstanceBuilder& Node(double x, double y, NodeType type = NodeType::TARGET) {
    tarsel::Node node;
    node.id = points.size();
    node.position = Position{x, y, 0};
    node.type = type;
    problem.add_node(node);
    points.emplace_back(x, y);
    return *this;
  }
  InstanceBuilder& AgentOf(const std::string& type, uint64_t start, uint64_t end,
                           double time_limit = 0) {
    tarsel::Agent agent;
    agent.id = problem.agents_ordered.size();
    agent.type = type;
    agent.start_node = start;
    agent.end_node = end;
    agent.time_limit = time_limit;
    problem.add_agent(agent, agent.id);
    return *this;
  }
  // Euclidean matrix over the current nodes, multiplied by `factor`.
  InstanceBuilder& EuclideanCosts(const std::string& type, double factor = 1.0) {
    CostMatrix matrix(points.size(), std::vector<double>(points.size()));
    for (size_t i = 0; i < points.size(); ++i) {
      for (size_t j = 0; j < points.size(); ++j) {
        matrix[i][j] = factor * std::hypot(points[i].first - points[j].first,
                                           points[i].second - points[j].second);
      }
    }
    problem.set_cost_matrix(type, matrix);
    return *this;
  }
  InstanceBuilder& Allow(uint64_t node, const std::vector<std::string>& types) {
    problem.assignment_constraint.set_assignment(node, types);
    return *this;
  }
  // Gives every node without an assignment entry all listed types, so that
  // construction prints no warnings.
  InstanceBuilder& AllowAllElsewhere(const std::vector<std::string>& types) {
    for (const auto& node : problem.nodes) {
      if (problem.assignment_constraint.allowed_types.count(node.id) == 0) Allow(node.id, types);
    }
    return *this;
  }
  InstanceBuilder& Window(uint64_t node, double start, double end) {
    problem.timewindow_constraint.set_timewindow(node, start, end);
    return *this;
  }
};

}  // namespace tarsel::testing
