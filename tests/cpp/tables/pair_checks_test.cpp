#include <gtest/gtest.h>

#include <optional>
#include <vector>

#include "common/test_tables.h"
#include "tables/pair_checks.h"

namespace tarsel {
namespace {

// Depot 0 and targets 1..5; agents of types 0 and 1 start and end at 0.
// Node 4 allows only type 0, node 5 only type 1.
InstanceTables Tables(const std::vector<PrecedencePair>& pairs, size_t agents = 2) {
  const size_t n = 6;
  InstanceTables tables;
  tables.SetCostMatrices({std::vector<double>(n * n, 1.0), std::vector<double>(n * n, 1.0)}, n,
                         nullptr);
  tables.SetNodes(test_common::MakeNodes({{0, 1}, {0, 1}, {0, 1}, {0, 1}, {0}, {1}}));
  std::vector<AgentInfo> list;
  for (size_t k = 0; k < agents; ++k) list.push_back(AgentInfo{k + 1, static_cast<int64_t>(k % 2), 0, 0});
  tables.SetAgents(list);
  tables.SetStarts(std::vector<size_t>(agents, 0));
  tables.SetGoals(std::vector<size_t>(agents, 0));
  tables.SetPrecedencePairs(pairs);
  return tables;
}

PrecedencePair Pair(size_t before, size_t after, PairKind kind = PairKind::kPlain) {
  return PrecedencePair{before, after, before, after, kind};
}

std::optional<PairDefect> Check(const std::vector<PrecedencePair>& pairs, size_t agents = 2) {
  return FindUnsatisfiablePair(Tables(pairs, agents));
}

// Pairs that can be honoured pass, chains and shared nodes included.
TEST(PairChecks, SatisfiablePairsPass) {
  EXPECT_FALSE(Check({}));
  EXPECT_FALSE(Check({Pair(1, 2), Pair(2, 3, PairKind::kSame), Pair(1, 3), Pair(4, 5, PairKind::kDiff)}));
}

// Each pair that no schedule satisfies on its own is named with its reason,
// the first in order.
TEST(PairChecks, NamesThePairThatCannotBeSatisfied) {
  auto expect = [](const std::vector<PrecedencePair>& pairs, size_t pair, PairDefectReason reason,
                   size_t agents = 2) {
    const std::optional<PairDefect> defect = Check(pairs, agents);
    ASSERT_TRUE(defect);
    EXPECT_EQ(defect->pair, pair);
    EXPECT_EQ(defect->reason, reason);
  };
  expect({Pair(1, 2), Pair(kNoIndex, 2)}, 1, PairDefectReason::kUnknownNode);
  expect({Pair(1, 0)}, 0, PairDefectReason::kNotTarget);
  expect({Pair(3, 3, PairKind::kDiff)}, 0, PairDefectReason::kOneNode);
  expect({Pair(1, 2, PairKind::kSame), Pair(4, 5, PairKind::kSame)}, 1, PairDefectReason::kNoCommonAgent);
  // One agent cannot serve the two nodes of a "diff" pair; two can.
  expect({Pair(1, 2, PairKind::kDiff)}, 0, PairDefectReason::kNoTwoAgents, 1);
  EXPECT_FALSE(Check({Pair(1, 2, PairKind::kDiff)}, 2));
  // Node 5 only for type 1, node 4 only for type 0: two type-1 agents both
  // serve 5, but none serves 4.
  InstanceTables tables = Tables({Pair(5, 4, PairKind::kDiff)}, 2);
  tables.SetAgents({AgentInfo{1, 1, 0, 0}, AgentInfo{2, 1, 0, 0}});
  const std::optional<PairDefect> defect = FindUnsatisfiablePair(tables);
  ASSERT_TRUE(defect);
  EXPECT_EQ(defect->reason, PairDefectReason::kNoTwoAgents);
}

// A cycle of pairs, of any kinds, is named by one of its pairs, never by a
// pair that only leads into or out of it.
TEST(PairChecks, NamesAPairOnACycle) {
  const std::vector<PrecedencePair> pairs = {Pair(1, 2), Pair(2, 3, PairKind::kSame), Pair(3, 4),
                                             Pair(4, 2, PairKind::kDiff), Pair(4, 5)};
  const std::optional<PairDefect> defect = Check(pairs);
  ASSERT_TRUE(defect);
  EXPECT_EQ(defect->reason, PairDefectReason::kCycle);
  EXPECT_TRUE(defect->pair == 1 || defect->pair == 2 || defect->pair == 3) << defect->pair;
  const std::optional<PairDefect> two = Check({Pair(1, 2), Pair(2, 1)});
  ASSERT_TRUE(two);
  EXPECT_EQ(two->reason, PairDefectReason::kCycle);
}

}  // namespace
}  // namespace tarsel
