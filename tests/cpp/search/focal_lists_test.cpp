#include <gtest/gtest.h>

#include "instance_builder.h"
#include "search/focal_weight.h"
#include "search/solver.h"

namespace tarsel {
namespace {

class ListProbe : public Solver {
 public:
  using Solver::Solver;
  // Stores a label with the given f and visited count and puts it in the
  // open list (and in the focal list when `focal`).
  int64_t Add(double f, int visited, bool focal) {
    Label label;
    label.id = NewLabel();
    label.f = f;
    label.num_nodes = 10;
    label.visited.SetFrom(10);
    for (int i = 0; i < visited; ++i) label.visited.Set(static_cast<size_t>(i));
    label.active_agents = 1;
    StoreLabel(label, -1);
    InsertOpen(f, label.id);
    if (focal) InsertFocal(FocalEntry{label.id, visited, 1, f, 1.0});
    return label.id;
  }
  std::vector<double> FocalFs() const {
    std::vector<double> fs;
    for (const FocalEntry& e : FocalList()) fs.push_back(e.f);
    return fs;
  }
};

Problem TinyProblem() {
  testing::InstanceBuilder b;
  b.Node(0, 0).Node(1, 0);
  b.AgentOf("truck", 0, 0).EuclideanCosts("truck").AllowAllElsewhere({"truck"});
  return b.problem;
}

TEST(FocalList, RaisingTheBoundAddsOnlyEntriesBetweenTheBounds) {
  ListProbe solver(TinyProblem(), Options{});
  solver.Add(5, 1, true);
  solver.Add(8, 3, false);
  solver.Add(10, 2, false);
  solver.Add(12, 4, false);
  solver.UpdateFocalBound(5, 10);
  // Ordered by visited count, most first.
  EXPECT_EQ(solver.FocalFs(), std::vector<double>({8, 10, 5}));
  EXPECT_DOUBLE_EQ(solver.FocalBound(), 10);
  // Entries added on a raise carry total cost 0.
  EXPECT_DOUBLE_EQ(solver.FocalList().begin()->total_cost, 0.0);

  solver.UpdateFocalBound(10, 8);
  EXPECT_EQ(solver.FocalFs(), std::vector<double>({8, 5}));
  EXPECT_EQ(solver.OpenList().size(), 4u);
}

TEST(FocalList, EquivalentEntriesAreKeptOnce) {
  ListProbe solver(TinyProblem(), Options{});
  solver.Add(7, 2, true);
  solver.Add(7, 2, true);  // same visited count, f and total cost
  EXPECT_EQ(solver.FocalList().size(), 1u);
  EXPECT_EQ(solver.OpenList().size(), 2u);
}

TEST(FocalList, IncumbentPrunesOpenEntriesOnlyBeyondTheMargin) {
  ListProbe solver(TinyProblem(), Options{});
  solver.Add(9, 1, true);
  solver.Add(10.15, 2, true);
  solver.Add(10.25, 3, true);
  solver.PruneByIncumbent(10);
  EXPECT_EQ(solver.FocalFs(), std::vector<double>({9}));
  ASSERT_EQ(solver.OpenList().size(), 2u);
  EXPECT_DOUBLE_EQ(solver.OpenList().rbegin()->first, 10.15);
  EXPECT_DOUBLE_EQ(solver.Incumbent(), 10);
}

TEST(FocalWeight, ShrinksWithTheGapAndSettlesAtOne) {
  const FocalWeightStep wide = NextFocalWeight(10, 8);
  EXPECT_DOUBLE_EQ(wide.ratio, 1.25);
  EXPECT_DOUBLE_EQ(wide.weight, 1.2);
  EXPECT_FALSE(wide.reached_one);
  const FocalWeightStep narrow = NextFocalWeight(10.04, 10);
  EXPECT_TRUE(narrow.reached_one);
  EXPECT_DOUBLE_EQ(narrow.weight, 1.0);
  // No incumbent yet.
  EXPECT_DOUBLE_EQ(NextFocalWeight(-1, 8).weight, 1.0);
}

}  // namespace
}  // namespace tarsel
