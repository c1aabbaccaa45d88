#include <gtest/gtest.h>

#include "instance_builder.h"
#include "search/frontier.h"
#include "search/label_store.h"
#include "search/solver.h"

namespace tarsel {
namespace {

Label MakeLabel(double g, std::vector<double> costs, std::vector<size_t> visited_nodes) {
  Label label;
  label.g = g;
  label.costs = std::move(costs);
  label.current_nodes.assign(label.costs.size(), 0);
  for (size_t v : visited_nodes) label.visited.Set(v);
  return label;
}

TEST(Frontier, DominanceNeedsEveryCriterion) {
  Frontier frontier;
  frontier.entries.push_back(MakeLabel(5, {5, 2}, {1, 2}));
  // Equal labels dominate each other.
  EXPECT_TRUE(frontier.IsDominated(MakeLabel(5, {5, 2}, {1, 2})));
  // Worse everywhere, fewer nodes: dominated.
  EXPECT_TRUE(frontier.IsDominated(MakeLabel(6, {6, 3}, {1})));
  // Lower g but one higher agent cost: neither way.
  Label mixed = MakeLabel(4, {4, 3}, {1, 2});
  EXPECT_FALSE(frontier.IsDominated(mixed));
  Frontier other;
  other.entries.push_back(mixed);
  EXPECT_FALSE(other.IsDominated(frontier.entries[0]));
  // A node the entry has not visited saves the label.
  EXPECT_FALSE(frontier.IsDominated(MakeLabel(9, {9, 9}, {1, 2, 3})));
}

TEST(Frontier, InsertRemovesWhatTheNewLabelDominates) {
  Frontier frontier;
  frontier.entries.push_back(MakeLabel(5, {5, 5}, {1}));     // dominated
  frontier.entries.push_back(MakeLabel(1, {1, 1}, {}));      // survives: cheaper
  frontier.entries.push_back(MakeLabel(6, {6, 4}, {1, 2}));  // dominated
  frontier.entries.push_back(MakeLabel(9, {9, 9}, {7}));     // survives: node 7
  frontier.entries.push_back(MakeLabel(5, {4, 5}, {2}));     // dominated
  EXPECT_EQ(frontier.Insert(MakeLabel(4, {4, 4}, {1, 2})), 3);
  ASSERT_EQ(frontier.entries.size(), 3u);
  EXPECT_DOUBLE_EQ(frontier.entries.back().g, 4);
  double survivors = frontier.entries[0].g + frontier.entries[1].g;
  EXPECT_DOUBLE_EQ(survivors, 10);
}

class StoreProbe : public Solver {
 public:
  using Solver::Solver;
};

Problem TinyProblem() {
  testing::InstanceBuilder b;
  b.Node(0, 0).Node(1, 0).Node(2, 0);
  b.AgentOf("truck", 0, 0).AgentOf("truck", 0, 0);
  b.EuclideanCosts("truck").AllowAllElsewhere({"truck"});
  return b.problem;
}

TEST(LabelStore, GrowsInDoublingChunksCappedAt4096) {
  StoreProbe solver(TinyProblem(), Options{});
  EXPECT_EQ(solver.NewLabel(), 0);
  EXPECT_EQ(solver.LabelCapacity(), 1024u);
  for (int i = 1; i < 1024; ++i) solver.NewLabel();
  EXPECT_EQ(solver.LabelCapacity(), 1024u);
  EXPECT_EQ(solver.NewLabel(), 1024);
  EXPECT_EQ(solver.LabelCapacity(), 3072u);
  while (solver.NewLabel() < 3072) {
  }
  EXPECT_EQ(solver.LabelCapacity(), 7168u);
  while (solver.NewLabel() < 7168) {
  }
  EXPECT_EQ(solver.LabelCapacity(), 11264u);
  while (solver.NewLabel() < 11264) {
  }
  EXPECT_EQ(solver.LabelCapacity(), 15360u);
}

TEST(LabelStore, KeepsEveryFieldOfAStoredLabel) {
  LabelStore store;
  store.Reset(3);
  store.Resize(4);
  Label label = MakeLabel(7.5, {1.25, 2.5, 3.75}, {0, 9, 255});
  label.id = 2;
  label.current_nodes = {255, 0, 17};
  label.finished = {1, 0, 1};
  label.num_nodes = 200;
  label.h = 1.5;
  label.f = 9;
  label.active_agents = 1;
  label.last_agent = 2;
  store.Put(label, 1);
  Label back;
  back.costs = {99};  // reused buffers are overwritten, not appended to
  store.Get(2, back);
  EXPECT_EQ(back.id, 2);
  EXPECT_EQ(back.current_nodes, label.current_nodes);
  EXPECT_EQ(back.costs, label.costs);
  EXPECT_EQ(back.finished, label.finished);
  EXPECT_TRUE(back.visited == label.visited);
  EXPECT_EQ(back.num_nodes, 200);
  EXPECT_DOUBLE_EQ(back.g, 7.5);
  EXPECT_DOUBLE_EQ(back.h, 1.5);
  EXPECT_DOUBLE_EQ(back.f, 9);
  EXPECT_EQ(back.active_agents, 1);
  EXPECT_EQ(back.last_agent, 2);
  EXPECT_EQ(store.Parent(2), 1);
  EXPECT_EQ(store.CurrentNode(2, 0), 255u);
  // Growing keeps what is stored.
  store.Resize(1000);
  EXPECT_DOUBLE_EQ(store.Cost(2, 2), 3.75);
  label.costs.pop_back();
  EXPECT_THROW(store.Put(label, 0), std::logic_error);
}

TEST(LabelStore, CountsAndGoalTestLookOnlyBelowNumNodes) {
  StoreProbe solver(TinyProblem(), Options{});
  Label label;
  label.num_nodes = 10;
  label.visited.SetFrom(10);
  label.costs = {1.5, 2.5};
  label.active_agents = 0;
  EXPECT_EQ(solver.CountVisited(label), 0);
  EXPECT_FALSE(solver.IsGoal(label));
  for (size_t i = 0; i < 10; ++i) label.visited.Set(i);
  EXPECT_EQ(solver.CountVisited(label), 10);
  EXPECT_TRUE(solver.IsGoal(label));
  label.active_agents = 1;
  EXPECT_FALSE(solver.IsGoal(label));
  EXPECT_DOUBLE_EQ(solver.TotalCost(label), 4.0);

  Label empty;
  empty.num_nodes = 0;
  empty.active_agents = 0;
  EXPECT_TRUE(solver.IsGoal(empty));
  EXPECT_EQ(solver.CountVisited(empty), 0);
}

TEST(LabelStore, FirstLabelOfAConfigurationOpensAnEmptyFrontier) {
  StoreProbe solver(TinyProblem(), Options{});
  Label label = MakeLabel(3, {1, 2}, {0});
  label.current_nodes = {0, 5};
  EXPECT_FALSE(solver.IsDominated(label));
  EXPECT_FALSE(solver.IsDominated(label));  // nothing was inserted yet
  solver.AddToFrontier(label);
  EXPECT_TRUE(solver.IsDominated(label));
  label.current_nodes = {5, 0};  // another configuration
  EXPECT_FALSE(solver.IsDominated(label));
}

}  // namespace
}  // namespace tarsel
