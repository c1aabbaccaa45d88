#include <gtest/gtest.h>

#include "search/focal_weight.h"
#include "plugins/default_focal_comparator.h"
#include "search/search_lists.h"

namespace tarsel {
namespace {

// The open and focal lists with their label store, as the search holds them.
class ListProbe {
 public:
  ListProbe() : lists(&comparator) { store.Reset(1, 10); }
  // Stores a label with the given f and visited count and puts it in the
  // open list (and in the focal list when `focal`).
  int64_t Add(double f, int visited, bool focal) {
    Label label;
    label.id = store.Allocate();
    label.f = f;
    label.num_nodes = 10;
    label.visited.SetFrom(10);
    for (int i = 0; i < visited; ++i) label.visited.Set(static_cast<size_t>(i));
    label.active_agents = 1;
    label.current_nodes = {0};
    label.costs = {0.0};
    label.finished = {0};
    store.Put(label, -1);
    lists.InsertOpen(f, label.id);
    if (focal) lists.InsertFocal(FocalEntry{label.id, visited, 1, f, 1.0});
    return label.id;
  }
  void UpdateFocalBound(double old_bound, double new_bound) {
    lists.UpdateFocalBound(old_bound, new_bound, store);
  }
  void PruneByIncumbent(double cost) { lists.PruneAbove(cost); }
  double FocalBound() const { return lists.FocalBound(); }
  const SearchLists::OpenSet& OpenList() const { return lists.Open(); }
  const SearchLists::FocalSet& FocalList() const { return lists.Focal(); }
  std::vector<double> FocalFs() const {
    std::vector<double> fs;
    for (const auto& e : FocalList()) fs.push_back(e.f);
    return fs;
  }

 private:
  DefaultFocalComparator comparator;
  LabelStore store;
  SearchLists lists;
};

TEST(FocalList, RaisingTheBoundAddsOnlyEntriesBetweenTheBounds) {
  ListProbe solver;
  solver.Add(5, 1, true);
  solver.Add(8, 3, false);
  solver.Add(10, 2, false);
  solver.Add(12, 4, false);
  solver.UpdateFocalBound(5, 10);
  // Ordered by visited count, most first.
  EXPECT_EQ(solver.FocalFs(), std::vector<double>({8, 10, 5}));
  EXPECT_DOUBLE_EQ(solver.FocalBound(), 10);
  // Entries added on a raise carry total cost 0.
  EXPECT_DOUBLE_EQ(solver.FocalList().Front().total_cost, 0.0);

  solver.UpdateFocalBound(10, 8);
  EXPECT_EQ(solver.FocalFs(), std::vector<double>({8, 5}));
  EXPECT_EQ(solver.OpenList().Size(), 4u);
}

TEST(FocalList, EquivalentEntriesAreKeptOnce) {
  ListProbe solver;
  solver.Add(7, 2, true);
  solver.Add(7, 2, true);  // same visited count, f and total cost
  EXPECT_EQ(solver.FocalList().Size(), 1u);
  EXPECT_EQ(solver.OpenList().Size(), 2u);
}

TEST(FocalList, IncumbentPrunesOpenEntriesOnlyBeyondTheMargin) {
  ListProbe solver;
  solver.Add(9, 1, true);
  solver.Add(10.15, 2, true);
  solver.Add(10.25, 3, true);
  solver.PruneByIncumbent(10);
  EXPECT_EQ(solver.FocalFs(), std::vector<double>({9}));
  ASSERT_EQ(solver.OpenList().Size(), 2u);
  double last_f = 0;
  for (const auto& [f, id] : solver.OpenList()) last_f = f;
  EXPECT_DOUBLE_EQ(last_f, 10.15);
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
  EXPECT_DOUBLE_EQ(NextFocalWeight(std::nullopt, 8).weight, 1.0);
}

}  // namespace
}  // namespace tarsel
