#include <gtest/gtest.h>

#include "model/problem.h"
#include "search/solver.h"

namespace tarsel {
namespace {

Problem NodesOnly(size_t count) {
  Problem problem;
  for (size_t i = 0; i < count; ++i) {
    Node node;
    node.id = i;
    problem.add_node(node);
  }
  return problem;
}

// Instances without agents have no agent types, so every arc carries an empty
// cost vector; construction and search must still stay within their tables
// (the sanitizer build checks the memory accesses, so the warnings and
// sanitizer reports on standard error are left uncaptured).
TEST(DegenerateInstances, NodesWithoutAgentsBuildAnEmptyCostGraphAndFindNothing) {
  Solver solver(NodesOnly(3), Options{});
  EXPECT_EQ(solver.Graph()->NumVertex(), 3u);
  EXPECT_TRUE(solver.Graph()->GetArcCost(0, 1).empty());
  EXPECT_TRUE(solver.MstEdges().empty());
  EXPECT_EQ(solver.Solve(), 0);
  EXPECT_TRUE(solver.GetResult().paths.empty());
}

TEST(DegenerateInstances, EmptyProblemIsSolvedWithoutRoutes) {
  Solver solver(Problem{}, Options{});
  EXPECT_EQ(solver.Solve(), 1);
  EXPECT_TRUE(solver.GetResult().paths.empty());
}

}  // namespace
}  // namespace tarsel
