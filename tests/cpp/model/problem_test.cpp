#include <gtest/gtest.h>

#include "model/problem.h"

namespace tarsel {
namespace {

Agent MakeAgent(uint64_t id, const std::string& type) {
  Agent agent;
  agent.id = id;
  agent.type = type;
  return agent;
}

TEST(ProblemTest, FreshProblemIsEmptyWithDefaultOptions) {
  Problem problem;
  EXPECT_TRUE(problem.options.return_to_end);
  EXPECT_EQ(problem.options.objective, ObjectiveType::MinSum);
  EXPECT_EQ(problem.options.time_limit, 60.0);
  EXPECT_TRUE(problem.nodes.empty());
  EXPECT_TRUE(problem.agents_ordered.empty());
  EXPECT_EQ(problem.num_nodes, 0u);
  EXPECT_EQ(problem.num_agents, 0u);
  EXPECT_EQ(static_cast<int>(ObjectiveType::MinMax), 0);
  EXPECT_EQ(static_cast<int>(NodeType::DEPOT), 0);
  EXPECT_EQ(Node().type, NodeType::TARGET);
}

TEST(ProblemTest, TypeIndicesFollowFirstAppearance) {
  Problem problem;
  problem.add_agent(MakeAgent(1, "truck"), 1);
  problem.add_agent(MakeAgent(2, "drone"), 2);
  problem.add_agent(MakeAgent(3, "truck"), 3);
  EXPECT_EQ(problem.type_ids, (std::unordered_map<std::string, size_t>{{"truck", 0}, {"drone", 1}}));
  EXPECT_EQ(problem.type_names, (std::vector<std::string>{"truck", "drone"}));
  EXPECT_EQ(problem.agent_type_ids,
            (std::unordered_map<uint64_t, size_t>{{1, 0}, {2, 1}, {3, 0}}));
  EXPECT_EQ(problem.agent_order, (std::unordered_map<uint64_t, size_t>{{1, 0}, {2, 1}, {3, 2}}));
  EXPECT_EQ(problem.num_agents, 3u);
}

TEST(ProblemTest, SameIdTwiceKeepsBothRecordsButCountsOnce) {
  Problem problem;
  Agent first = MakeAgent(4, "truck");
  first.capacity_limit = 10;
  Agent second = MakeAgent(4, "drone");
  second.capacity_limit = 2;
  problem.add_agent(first, 4);
  problem.add_agent(second, 4);
  ASSERT_EQ(problem.agents_ordered.size(), 2u);
  EXPECT_EQ(problem.agents_ordered[0].type, "truck");
  EXPECT_EQ(problem.agents_ordered[1].type, "drone");
  EXPECT_EQ(problem.num_agents, 1u);
  EXPECT_EQ(problem.agents_by_id.at(4).type, "drone");
  EXPECT_EQ(problem.agents_by_id.at(4).capacity_limit, 2);
  EXPECT_EQ(problem.agent_order.at(4), 1u);
  EXPECT_EQ(problem.agent_type_ids.at(4), 1u);
}

TEST(ProblemTest, RegistrationKeyMayDifferFromAgentId) {
  Problem problem;
  problem.add_agent(MakeAgent(3, "truck"), 7);
  EXPECT_EQ(problem.agents_by_id.count(3), 0u);
  EXPECT_EQ(problem.agents_by_id.at(7).id, 3u);
  EXPECT_EQ(problem.agent_order.at(7), 0u);
  EXPECT_EQ(problem.agent_type_ids.at(7), 0u);
}

TEST(ProblemTest, SettersReplaceInsteadOfMerging) {
  Problem problem;
  problem.set_cost_matrix("truck", {{0, 1}, {1, 0}});
  problem.set_cost_matrix("truck", {{0, 5}, {6, 0}});
  EXPECT_EQ(problem.cost_matrices.at("truck"), (CostMatrix{{0, 5}, {6, 0}}));
  EXPECT_EQ(problem.cost_matrices.size(), 1u);

  AssignmentConstraint assignment;
  assignment.set_assignment(2, {"truck", "drone"});
  assignment.set_assignment(2, {"drone"});
  EXPECT_EQ(assignment.allowed_types.at(2), (std::vector<std::string>{"drone"}));

  TimeWindowConstraint windows;
  windows.set_timewindow(5, 1.0, 2.0);
  windows.set_timewindow(5, 9.0, 3.0);  // start after end is stored as given
  EXPECT_EQ(windows.windows.at(5), std::make_pair(9.0, 3.0));

  problem.set_assignment_constraint(assignment);
  problem.set_timewindow_constraint(windows);
  AssignmentConstraint other;
  other.set_assignment(8, {"truck"});
  problem.set_assignment_constraint(other);
  EXPECT_EQ(problem.assignment_constraint.allowed_types.count(2), 0u);
  EXPECT_EQ(problem.assignment_constraint.allowed_types.count(8), 1u);
  // Later changes to the caller's objects do not reach the problem.
  windows.set_timewindow(5, 0.0, 0.0);
  EXPECT_EQ(problem.timewindow_constraint.windows.at(5), std::make_pair(9.0, 3.0));
}

TEST(ProblemTest, NodesKeepDuplicatesAndAccessorsReferToStoredRecords) {
  Problem problem;
  Node node;
  node.id = 1;
  problem.add_node(node);
  problem.add_node(node);
  EXPECT_EQ(problem.nodes.size(), 2u);
  EXPECT_EQ(problem.num_nodes, 2u);

  node.demand = 5;  // the problem holds a copy
  EXPECT_EQ(problem.nodes[0].demand, 0);

  problem.get_nodes()[1].demand = 3;
  EXPECT_EQ(problem.nodes[1].demand, 3);
  problem.get_options().objective = ObjectiveType::MinMax;
  EXPECT_EQ(problem.options.objective, ObjectiveType::MinMax);
  problem.add_agent(MakeAgent(1, "truck"), 1);
  problem.get_agents_ordered()[0].time_limit = 12;
  EXPECT_EQ(problem.agents_ordered[0].time_limit, 12);
}

}  // namespace
}  // namespace tarsel
