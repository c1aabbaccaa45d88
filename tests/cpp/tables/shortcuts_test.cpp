#include "tables/shortcuts.h"

#include <gtest/gtest.h>

#include <limits>
#include <vector>

#include "common/console_capture.h"
#include "common/special_values.h"
#include "search/instance_builder.h"
#include "tables/problem_tables.h"

namespace tarsel {
namespace {

using testing::ConsoleCapture;
using testing::InstanceBuilder;

constexpr double X = kNoConnection;

// One agent of type "t" at depot 0 over `matrix`, which may visit every node.
InstanceTables Tables(const CostMatrix& matrix, bool return_to_end = true) {
  InstanceBuilder b;
  for (size_t i = 0; i < matrix.size(); ++i) b.Node(static_cast<double>(i), 0);
  b.AgentOf("t", 0, 0);
  b.problem.set_cost_matrix("t", matrix);
  b.AllowAllElsewhere({"t"});
  Options options;
  options.return_to_end = return_to_end;
  ConsoleCapture quiet;
  return BuildProblemTables(b.problem, options).tables;
}

std::vector<size_t> Members(const VisitedSet& set, size_t n) {
  std::vector<size_t> members;
  for (size_t i = 0; i < n; ++i) {
    if (set.Test(i)) members.push_back(i);
  }
  return members;
}

TEST(Shortcuts, EuclideanCostsLetEveryNodeBeLeftOut) {
  InstanceBuilder b;
  b.Node(0, 0).Node(3, 4).Node(6, 0).Node(1.5, 2).Node(-2, 7);
  b.AgentOf("t", 0, 0).EuclideanCosts("t").AllowAllElsewhere({"t"});
  ConsoleCapture quiet;
  const InstanceTables tables = BuildProblemTables(b.problem, Options{}).tables;
  // Node 3 lies halfway between 0 and 1: the triangle is tight, up to rounding.
  EXPECT_EQ(Members(SkippableNodes(tables), 5), std::vector<size_t>({0, 1, 2, 3, 4}));
  const std::vector<double> shortest = ShortestCosts(tables, 0);
  for (size_t u = 0; u < 5; ++u) {
    for (size_t v = 0; v < 5; ++v) EXPECT_EQ(shortest[u * 5 + v], tables.Cost(0, u, v));
  }
}

TEST(Shortcuts, AMissingArcOrADetourThatIsCheaperPinsTheDetourNode) {
  // 2 -> 0 is missing, but 2 -> 1 -> 0 exists: node 1 cannot be left out.
  const InstanceTables missing = Tables({{0, 30, 17}, {30, 0, 41}, {X, 41, 0}});
  EXPECT_EQ(Members(SkippableNodes(missing), 3), std::vector<size_t>({0, 2}));
  EXPECT_EQ(ShortestCosts(missing, 0)[2 * 3 + 0], 71.0);
  EXPECT_EQ(ShortestCosts(missing, 0)[0 * 3 + 2], 17.0);
  // 1 -> 2 costs 60, 1 -> 3 -> 2 only 9 and 1 -> 0 -> 2 10: nodes 0 and 3
  // are pinned.
  const InstanceTables detour =
      Tables({{0, 5, 5, 5}, {5, 0, 60, 4}, {5, 5, 0, 5}, {5, 5, 5, 0}});
  EXPECT_EQ(Members(SkippableNodes(detour), 4), std::vector<size_t>({1, 2}));
  EXPECT_EQ(ShortestCosts(detour, 0)[1 * 4 + 2], 9.0);
}

TEST(Shortcuts, TheFreeLastLegOfOpenRoutesBreaksNoTriangle) {
  // 1 -> 0 is missing; 1 -> 2 -> 0 exists. Closed routes need node 2 for
  // the way home, open ones end at 1 for free.
  const CostMatrix matrix = {{0, 4, 4}, {X, 0, 4}, {4, 4, 0}};
  EXPECT_EQ(Members(SkippableNodes(Tables(matrix, true)), 3), std::vector<size_t>({0, 1}));
  EXPECT_EQ(Members(SkippableNodes(Tables(matrix, false)), 3), std::vector<size_t>({0, 1, 2}));
  EXPECT_EQ(ShortestCosts(Tables(matrix), 0)[1 * 3 + 0], 8.0);
  // Nothing leads into node 2.
  const InstanceTables cut = Tables({{0, 4, X}, {4, 0, X}, {4, 4, 0}});
  EXPECT_EQ(ShortestCosts(cut, 0)[0 * 3 + 2], std::numeric_limits<double>::infinity());
}

TEST(Shortcuts, OnlyTheTypesThatMayVisitANodeDecide) {
  // Type "t" would need node 2 as a detour from 1 to 0, but only type "u"
  // (metric costs) may visit node 2.
  InstanceBuilder b;
  b.Node(0, 0).Node(1, 0).Node(2, 0);
  b.AgentOf("t", 0, 0).AgentOf("u", 0, 0);
  b.problem.set_cost_matrix("t", {{0, 4, 4}, {X, 0, 4}, {4, 4, 0}});
  b.problem.set_cost_matrix("u", {{0, 1, 2}, {1, 0, 1}, {2, 1, 0}});
  b.Allow(0, {"t", "u"}).Allow(1, {"t", "u"}).Allow(2, {"u"});
  ConsoleCapture quiet;
  const InstanceTables tables = BuildProblemTables(b.problem, Options{}).tables;
  EXPECT_EQ(Members(SkippableNodes(tables), 3), std::vector<size_t>({0, 1, 2}));
  b.Allow(2, {"t", "u"});
  const InstanceTables both = BuildProblemTables(b.problem, Options{}).tables;
  EXPECT_EQ(Members(SkippableNodes(both), 3), std::vector<size_t>({0, 1}));
}

}  // namespace
}  // namespace tarsel
