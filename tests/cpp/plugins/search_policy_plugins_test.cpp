#include <gtest/gtest.h>

#include <set>
#include <vector>

#include "plugin_test_util.h"
#include "plugins/default_expansion.h"
#include "plugins/default_focal_comparator.h"
#include "plugins/default_objective.h"
#include "plugins/min_sum_objective.h"
#include "common/special_values.h"

namespace tarsel {
namespace {

using testing::MakeLabel;

TEST(DefaultObjectiveTest, LongestRouteAgainstAverageRemainingLoad) {
  DefaultObjective objective;
  EXPECT_EQ(objective.Aggregate({}), 0.0);
  EXPECT_EQ(objective.Aggregate({3.0, 9.5, 2.0}), 9.5);

  Label label = MakeLabel(5, 3);
  label.costs = {10.0, 4.0, 30.0};
  label.finished = {0, 0, 1};
  // max(30, (10 + 4 + 6) / 2)
  EXPECT_EQ(objective.Evaluate(label, 2, 6.0), 30.0);
  label.costs[2] = 5.0;
  EXPECT_EQ(objective.Evaluate(label, 2, 6.0), 10.0);
  // Only unfinished agents contribute; the divisor is the argument.
  label.finished = {0, 1, 1};
  EXPECT_EQ(objective.Evaluate(label, 1, 6.0), 16.0);
  EXPECT_EQ(objective.Evaluate(label, 4, 26.0), 10.0);
  // Without active agents f is the longest route.
  EXPECT_EQ(objective.Evaluate(label, 0, 1000.0), 10.0);
}

TEST(MinSumObjectiveTest, SumOfRoutesPlusEstimate) {
  MinSumObjective objective;
  Label label = MakeLabel(3, 2);
  label.costs = {3.0, 4.0};
  label.finished = {1, 0};
  EXPECT_EQ(objective.Aggregate(label.costs), 7.0);
  EXPECT_EQ(objective.Evaluate(label, 1, 2.0), 9.0);
  EXPECT_EQ(objective.Evaluate(label, 0, 2.0), 9.0);
  EXPECT_EQ(objective.Aggregate({}), 0.0);
}

FocalEntry Entry(int64_t label_id, int64_t visited, double f, double total) {
  FocalEntry entry;
  entry.label_id = label_id;
  entry.visited_count = visited;
  entry.f = f;
  entry.total_cost = total;
  entry.active_agents = label_id % 3;
  return entry;
}

TEST(DefaultFocalComparatorTest, DeeperThenSmallerFThenCheaper) {
  DefaultFocalComparator comparator;
  const FocalEntry deep = Entry(1, 5, 10.0, 7.0);
  const FocalEntry shallow = Entry(2, 4, 1.0, 0.0);
  EXPECT_TRUE(comparator.Compare(deep, shallow));
  EXPECT_FALSE(comparator.Compare(shallow, deep));

  const FocalEntry lower_f = Entry(3, 5, 9.0, 100.0);
  EXPECT_TRUE(comparator.Compare(lower_f, deep));
  EXPECT_FALSE(comparator.Compare(deep, lower_f));

  const FocalEntry cheaper = Entry(4, 5, 10.0, 6.5);
  EXPECT_TRUE(comparator.Compare(cheaper, deep));
  EXPECT_FALSE(comparator.Compare(deep, cheaper));
}

TEST(DefaultFocalComparatorTest, EntriesEqualInTheKeysAreEquivalent) {
  const DefaultFocalComparator comparator;
  auto before = [&comparator](const FocalEntry& a, const FocalEntry& b) {
    return comparator.Compare(a, b);
  };
  std::set<FocalEntry, decltype(before)> focal(before);
  EXPECT_TRUE(focal.insert(Entry(7, 5, 10.0, 7.0)).second);
  // Different label id and active agents: still the same class.
  EXPECT_FALSE(focal.insert(Entry(8, 5, 10.0, 7.0)).second);
  EXPECT_TRUE(focal.insert(Entry(9, 6, 12.0, 7.0)).second);
  EXPECT_TRUE(focal.insert(Entry(10, 5, 10.0, 6.0)).second);
  ASSERT_EQ(focal.size(), 3u);
  std::vector<int64_t> order;
  for (const FocalEntry& entry : focal) order.push_back(entry.label_id);
  EXPECT_EQ(order, (std::vector<int64_t>{9, 10, 7}));
}

TEST(DefaultExpansionTest, ActiveAgentWithSmallestCostLowestIndexOnTies) {
  DefaultExpansion expansion;
  expansion.SetGoals({0, 0, 0});
  Label label = MakeLabel(4, 3);
  label.costs = {5.0, 3.0, 3.0};
  EXPECT_EQ(expansion.SelectAgent(label), 1u);
  label.finished[1] = 1;
  EXPECT_EQ(expansion.SelectAgent(label), 2u);
  label.finished = {1, 1, 1};
  EXPECT_EQ(expansion.SelectAgent(label), kNoIndex);

  // A cost at the largest finite double is never chosen.
  label.finished = {0, 1, 1};
  label.costs[0] = kMaxDouble;
  EXPECT_EQ(expansion.SelectAgent(label), kNoIndex);

  // Only as many agents as goals are considered.
  expansion.SetGoals({0});
  label.costs = {8.0, 1.0, 1.0};
  label.finished = {0, 0, 0};
  EXPECT_EQ(expansion.SelectAgent(label), 0u);
}

}  // namespace
}  // namespace tarsel
