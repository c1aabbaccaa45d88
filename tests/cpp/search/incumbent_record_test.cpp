#include <gtest/gtest.h>

#include "common/console_capture.h"

#include <cmath>
#include <cstdint>
#include <vector>

#include "instance_builder.h"
#include "postopt/route_evaluator.h"
#include "search/incumbent_record.h"
#include "search/solver.h"
#include "tables/problem_tables.h"

namespace tarsel {
namespace {

using testing::ConsoleCapture;
using testing::InstanceBuilder;

// Depot 0 at the origin; targets 1 (3, 4) and 2 (-3, 4) five from it and six
// apart, target 3 (0, 10) ten from it and sqrt(45) from the other two. Two
// agents of one type, both based at the depot.
class IncumbentRecordTest : public ::testing::Test {
 protected:
  void SetUp() override {
    InstanceBuilder b;
    b.Node(0, 0, NodeType::DEPOT).Node(3, 4).Node(-3, 4).Node(0, 10);
    b.AgentOf("a", 0, 0).AgentOf("a", 0, 0).EuclideanCosts("a").AllowAllElsewhere({"a"});
    built = BuildProblemTables(b.problem, Options());
    rules.Attach(built.tables);
  }

  // Routes as given; every cost 0, so that only re-costing can fill them.
  static Result Solution(const std::vector<uint64_t>& first, const std::vector<uint64_t>& second) {
    Result snapshot;
    snapshot.paths = {{0, first}, {1, second}};
    snapshot.times = {{0, 0.0}, {1, 0.0}};
    return snapshot;
  }
  // Longest 10 + sqrt(45) + 5, total that plus 10.
  static Result Balanced() { return Solution({0, 1, 0}, {0, 2, 3, 0}); }
  // Longest 20, total 36.
  static Result Short() { return Solution({0, 1, 2, 0}, {0, 3, 0}); }

  static const double kBalancedLongest;
  ProblemTables built;
  RouteEvaluator rules;
  IncumbentRecord record;
};

const double IncumbentRecordTest::kBalancedLongest = 15 + std::sqrt(45.0);

TEST_F(IncumbentRecordTest, RoutesAreRecostedByTheRules) {
  record.Start(ObjectiveType::MinSum, rules, 2);
  EXPECT_FALSE(record.Found());
  EXPECT_FALSE(record.Value().has_value());
  EXPECT_FALSE(record.LongestRoute().has_value());
  ASSERT_EQ(record.Offer(0.5, Short()), IncumbentRecord::Outcome::kKept);
  EXPECT_EQ(record.Best().times, (std::unordered_map<uint64_t, double>{{0, 16.0}, {1, 20.0}}));
  EXPECT_EQ(record.Best().paths, Short().paths);
  EXPECT_EQ(*record.Value(), 36.0);
  EXPECT_EQ(*record.LongestRoute(), 20.0);
  ASSERT_EQ(record.Log().size(), 1u);
  EXPECT_EQ(record.Log()[0].second.times, record.Best().times);
}

// Min-sum: a smaller total replaces the best, an equal or larger one is
// logged only; the log and its last time follow every valid offer.
TEST_F(IncumbentRecordTest, MinSumKeepsTheFirstOfTheSmallestTotal) {
  record.Start(ObjectiveType::MinSum, rules, 2);
  EXPECT_EQ(record.Offer(1.0, Short()), IncumbentRecord::Outcome::kKept);
  EXPECT_EQ(record.Offer(2.0, Balanced()), IncumbentRecord::Outcome::kKept);
  Result same_total = Balanced();
  std::swap(same_total.paths[0], same_total.paths[1]);
  EXPECT_EQ(record.Offer(3.0, same_total), IncumbentRecord::Outcome::kLogged);
  EXPECT_EQ(record.Offer(4.0, Short()), IncumbentRecord::Outcome::kLogged);
  EXPECT_EQ(record.Best().paths, Balanced().paths);
  EXPECT_DOUBLE_EQ(*record.Value(), kBalancedLongest + 10);
  EXPECT_DOUBLE_EQ(*record.LongestRoute(), kBalancedLongest);
  ASSERT_EQ(record.Log().size(), 4u);
  EXPECT_EQ(record.LastUpdateTime(), 4.0);
  EXPECT_EQ(record.Log().back().first, record.LastUpdateTime());
  EXPECT_EQ(record.Log()[2].second.paths, same_total.paths);
}

// Min-max: a longest route no longer replaces the best (the latest of equal
// ones wins), a longer one does not.
TEST_F(IncumbentRecordTest, MinMaxKeepsTheLatestOfTheShortestLongestRoute) {
  record.Start(ObjectiveType::MinMax, rules, 2);
  EXPECT_EQ(record.Offer(1.0, Balanced()), IncumbentRecord::Outcome::kKept);
  EXPECT_EQ(record.Offer(2.0, Short()), IncumbentRecord::Outcome::kKept);
  EXPECT_EQ(*record.Value(), 20.0);
  EXPECT_EQ(record.Offer(3.0, Balanced()), IncumbentRecord::Outcome::kLogged);
  Result same_longest = Short();
  std::swap(same_longest.paths[0], same_longest.paths[1]);
  EXPECT_EQ(record.Offer(4.0, same_longest), IncumbentRecord::Outcome::kKept);
  EXPECT_EQ(record.Best().paths, same_longest.paths);
  EXPECT_EQ(record.Best().times, (std::unordered_map<uint64_t, double>{{0, 20.0}, {1, 16.0}}));
  EXPECT_EQ(record.Log().size(), 4u);
  EXPECT_EQ(record.LastUpdateTime(), 4.0);
}

TEST_F(IncumbentRecordTest, AKnownBetterSolutionIsKeptWhateverItsValue) {
  record.Start(ObjectiveType::MinMax, rules, 2);
  record.Offer(1.0, Short());
  EXPECT_EQ(record.Offer(2.0, Balanced(), IncumbentRecord::Judge::kKnownBetter),
            IncumbentRecord::Outcome::kKept);
  EXPECT_DOUBLE_EQ(*record.Value(), kBalancedLongest);
  EXPECT_EQ(record.Best().paths, Balanced().paths);
}

// A route the rules reject, or a missing one, drops the solution: nothing
// is logged and the time of the last entry stays.
TEST_F(IncumbentRecordTest, AnInvalidSolutionIsNeitherLoggedNorKept) {
  ConsoleCapture console;
  record.Start(ObjectiveType::MinSum, rules, 2);
  record.Offer(1.0, Balanced());
  // Agent 1 leaves target 3 out and ends away from its depot.
  EXPECT_EQ(record.Offer(2.0, Solution({0, 1, 0}, {0, 2})), IncumbentRecord::Outcome::kInvalid);
  EXPECT_EQ(console.TakeErr(), "[post-opt] solution dropped: invalid route for agent 1\n");
  Result missing = Short();
  missing.paths.erase(0);
  EXPECT_EQ(record.Offer(3.0, missing), IncumbentRecord::Outcome::kInvalid);
  EXPECT_EQ(console.TakeErr(), "[post-opt] solution dropped: invalid route for agent 0\n");
  EXPECT_EQ(record.Log().size(), 1u);
  EXPECT_EQ(record.LastUpdateTime(), 1.0);
  EXPECT_EQ(record.Best().paths, Balanced().paths);
}

TEST_F(IncumbentRecordTest, StartForgetsEverySolution) {
  record.Start(ObjectiveType::MinSum, rules, 2);
  record.Offer(1.0, Short());
  record.Start(ObjectiveType::MinMax, rules, 2);
  EXPECT_FALSE(record.Found());
  EXPECT_TRUE(record.Log().empty());
  EXPECT_EQ(record.LastUpdateTime(), 0.0);
  EXPECT_TRUE(record.Best().paths.empty());
  // The new order applies: min-max takes the shorter longest route.
  record.Offer(2.0, Balanced());
  EXPECT_EQ(record.Offer(3.0, Short()), IncumbentRecord::Outcome::kKept);
}

// With the improvement engine on, its solutions go through the same record:
// the result is the last kept entry and the summary describes it.
TEST(SolverIncumbent, EngineSolutionsBecomeTheResult) {
  InstanceBuilder b;
  for (int i = 0; i < 9; ++i) b.Node(i == 0 ? 0 : (i * 37) % 11, i == 0 ? 0 : (i * 53) % 13,
                                     i == 0 ? NodeType::DEPOT : NodeType::TARGET);
  b.AgentOf("a", 0, 0).AgentOf("a", 0, 0).EuclideanCosts("a").AllowAllElsewhere({"a"});
  for (const ObjectiveType objective : {ObjectiveType::MinMax, ObjectiveType::MinSum}) {
    Options options;
    options.objective = objective;
    options.improve = true;
    options.max_iterations = 200;
    options.seed = 3;
    ConsoleCapture console;
    Solver solver(b.problem, options);
    EXPECT_FALSE(solver.Incumbent().has_value());
    ASSERT_EQ(solver.Solve(), 1);
    const IncumbentRecord& record = solver.Record();
    ASSERT_TRUE(record.Found());
    const Result result = solver.GetResult();
    EXPECT_EQ(result.paths, record.Best().paths);
    EXPECT_EQ(result.last_update_time, record.Log().back().first);
    EXPECT_EQ(solver.GetResultProcess().size(), record.Log().size());
    // The focal search pruned its lists to its own best, which the engine
    // can only improve on.
    ASSERT_TRUE(solver.Incumbent().has_value());
    EXPECT_LE(*record.Value(), *solver.Incumbent() + 1e-9);
    const SolveSummary summary = solver.GetSummary();
    EXPECT_EQ(summary.found, 1);
    EXPECT_EQ(summary.max_path_length, *record.LongestRoute());
    EXPECT_DOUBLE_EQ(summary.sum_cost, record.BestTotals().sum_cost);
  }
}

}  // namespace
}  // namespace tarsel
