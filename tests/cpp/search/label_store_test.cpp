#include <gtest/gtest.h>

#include "instance_builder.h"
#include "search/frontier_table.h"
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

// A label store and a frontier table over it, as the search holds them.
struct Frontiers {
  explicit Frontiers(size_t agents) {
    store.Reset(agents, 10);
    table.Reset(&store);
  }
  // Stores `label` (positions {0, ...} unless set) and adds it to its frontier.
  int Add(Label label) {
    label.id = store.Allocate();
    if (label.current_nodes.size() != label.costs.size()) {
      label.current_nodes.assign(label.costs.size(), 0);
    }
    if (label.finished.size() != label.costs.size()) label.finished.assign(label.costs.size(), 0);
    store.Put(label, -1);
    return table.Insert(label);
  }
  LabelStore store;
  FrontierTable table;
};

// A table with one frontier (configuration {0, 0}) holding `entries`.
struct TableWith : Frontiers {
  explicit TableWith(const std::vector<Label>& entries) : Frontiers(2) {
    for (const Label& entry : entries) Add(entry);
  }
  bool IsDominated(const Label& label) const { return table.IsDominated(label); }
};

TEST(FrontierTable, DominanceNeedsEveryCriterion) {
  const Label entry = MakeLabel(5, {5, 2}, {1, 2});
  const TableWith table({entry});
  // Equal labels dominate each other.
  EXPECT_TRUE(table.IsDominated(MakeLabel(5, {5, 2}, {1, 2})));
  // Worse everywhere, fewer nodes: dominated.
  EXPECT_TRUE(table.IsDominated(MakeLabel(6, {6, 3}, {1})));
  // Lower g but one higher agent cost: neither way.
  Label mixed = MakeLabel(4, {4, 3}, {1, 2});
  EXPECT_FALSE(table.IsDominated(mixed));
  EXPECT_FALSE(TableWith({mixed}).IsDominated(entry));
  // A node the entry has not visited saves the label.
  EXPECT_FALSE(table.IsDominated(MakeLabel(9, {9, 9}, {1, 2, 3})));
  // A route the entry has not ended saves the label; the other way round
  // the entry still dominates.
  Label finished = MakeLabel(6, {6, 3}, {1});
  finished.finished = {0, 1};
  EXPECT_FALSE(table.IsDominated(finished));
  Label ended_entry = entry;
  ended_entry.finished = {1, 1};
  EXPECT_TRUE(TableWith({ended_entry}).IsDominated(finished));
  // Another configuration has its own, empty frontier.
  Label elsewhere = MakeLabel(9, {9, 9}, {});
  elsewhere.current_nodes = {0, 1};
  EXPECT_FALSE(table.IsDominated(elsewhere));
}

TEST(FrontierTable, InsertRemovesWhatTheNewLabelDominates) {
  TableWith table({
      MakeLabel(5, {5, 5}, {1}),     // dominated
      MakeLabel(1, {1, 1}, {}),      // survives: cheaper
      MakeLabel(6, {6, 4}, {1, 2}),  // dominated
      MakeLabel(9, {9, 9}, {7}),     // survives: node 7
      MakeLabel(5, {4, 5}, {2}),     // dominated
  });
  EXPECT_EQ(table.table.NumEntries(), 5u);
  EXPECT_EQ(table.Add(MakeLabel(4, {4, 4}, {1, 2})), 3);
  EXPECT_EQ(table.table.NumEntries(), 3u);
  EXPECT_EQ(table.table.NumFrontiers(), 1u);
  // What is left: the new label, the cheaper one and the one with node 7.
  EXPECT_TRUE(table.IsDominated(MakeLabel(4, {4, 4}, {1, 2})));
  EXPECT_TRUE(table.IsDominated(MakeLabel(1, {1, 1}, {})));
  EXPECT_TRUE(table.IsDominated(MakeLabel(9, {9, 9}, {7})));
  EXPECT_FALSE(table.IsDominated(MakeLabel(5, {4, 5}, {2, 7})));
}

TEST(FrontierTable, ManyConfigurationsKeepTheirOwnFrontiers) {
  Frontiers frontiers(3);
  const FrontierTable& table = frontiers.table;
  // Enough configurations to grow the lookup table several times.
  for (size_t a = 0; a < 40; ++a) {
    for (size_t b = 0; b < 40; ++b) {
      Label label = MakeLabel(static_cast<double>(a + b), {1, 1, 1}, {a});
      label.current_nodes = {a, b, 7};
      frontiers.Add(label);
    }
  }
  EXPECT_EQ(table.NumFrontiers(), 1600u);
  for (size_t a = 0; a < 40; ++a) {
    for (size_t b = 0; b < 40; ++b) {
      Label probe = MakeLabel(static_cast<double>(a + b), {1, 1, 1}, {a});
      probe.current_nodes = {a, b, 7};
      EXPECT_TRUE(table.IsDominated(probe));
      probe.g -= 0.5;  // cheaper than the one entry there
      EXPECT_FALSE(table.IsDominated(probe));
    }
  }
}

Problem TinyProblem() {
  testing::InstanceBuilder b;
  b.Node(0, 0).Node(1, 0).Node(2, 0);
  b.AgentOf("truck", 0, 0).AgentOf("truck", 0, 0);
  b.EuclideanCosts("truck").AllowAllElsewhere({"truck"});
  return b.problem;
}

TEST(LabelStore, GrowsInDoublingChunksCappedAt4096) {
  Solver solver(TinyProblem(), Options{});
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
  store.Reset(3, 200);
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
  // g, f and h are not kept: the search has them at hand.
  EXPECT_DOUBLE_EQ(back.g, 0);
  EXPECT_DOUBLE_EQ(back.h, 0);
  EXPECT_DOUBLE_EQ(back.f, 0);
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
  Solver solver(TinyProblem(), Options{});
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

TEST(FrontierTable, FirstLabelOfAConfigurationFindsAnEmptyFrontier) {
  Frontiers frontiers(2);
  Label label = MakeLabel(3, {1, 2}, {0});
  label.current_nodes = {0, 5};
  EXPECT_FALSE(frontiers.table.IsDominated(label));
  EXPECT_FALSE(frontiers.table.IsDominated(label));  // asking opens nothing
  EXPECT_EQ(frontiers.table.NumFrontiers(), 0u);
  frontiers.Add(label);
  EXPECT_TRUE(frontiers.table.IsDominated(label));
  label.current_nodes = {5, 0};  // another configuration
  EXPECT_FALSE(frontiers.table.IsDominated(label));
}

}  // namespace
}  // namespace tarsel
