#include <gtest/gtest.h>

#include <utility>
#include <vector>

#include "model/anytime_points.h"

namespace tarsel {
namespace {

Result WithCosts(const std::vector<double>& costs) {
  Result result;
  for (size_t k = 0; k < costs.size(); ++k) result.times[k] = costs[k];
  return result;
}

TEST(CostTotalsTest, MaximumStartsAtZero) {
  CostTotals none;
  EXPECT_EQ(none.max_cost, 0.0);
  EXPECT_EQ(none.sum_cost, 0.0);

  CostTotals negative;
  negative.Add(-2.0);
  negative.Add(-0.5);
  EXPECT_EQ(negative.max_cost, 0.0);
  EXPECT_EQ(negative.sum_cost, -2.5);

  const CostTotals mixed = TotalsOf({{3, 4.0}, {0, 1.5}, {7, -1.0}});
  EXPECT_EQ(mixed.max_cost, 4.0);
  EXPECT_EQ(mixed.sum_cost, 4.5);
  EXPECT_EQ(mixed.ValueFor(ObjectiveType::MinMax), 4.0);
  EXPECT_EQ(mixed.ValueFor(ObjectiveType::MinSum), 4.5);
}

TEST(ImprovingPointsTest, KeepsOnlyStrictImprovementsBeyondTolerance) {
  // Maximum costs 10, 10, 9.5, 9.5 + 1e-12: only the first 10 and 9.5 remain.
  const std::vector<std::pair<double, Result>> log = {
      {0.1, WithCosts({10.0, 2.0})},
      {0.2, WithCosts({10.0, 1.0})},
      {0.3, WithCosts({9.5, 3.0})},
      {0.4, WithCosts({9.5 + 1e-12, 0.0})},
  };
  const std::vector<AnytimePoint> points = ImprovingPoints(log, ObjectiveType::MinMax);
  ASSERT_EQ(points.size(), 2u);
  EXPECT_EQ(points[0].time, 0.1);
  EXPECT_EQ(points[0].max_cost, 10.0);
  EXPECT_EQ(points[0].sum_cost, 12.0);
  EXPECT_EQ(points[1].time, 0.3);
  EXPECT_EQ(points[1].max_cost, 9.5);
  EXPECT_EQ(points[1].sum_cost, 12.5);
}

TEST(ImprovingPointsTest, ObjectiveSelectsTheComparedValue) {
  // The sums fall 12, 11, 12.5 while the maxima go 10, 10, 9.5.
  const std::vector<std::pair<double, Result>> log = {
      {1.0, WithCosts({10.0, 2.0})},
      {2.0, WithCosts({10.0, 1.0})},
      {3.0, WithCosts({9.5, 3.0})},
  };
  std::vector<double> sum_times;
  for (const AnytimePoint& p : ImprovingPoints(log, ObjectiveType::MinSum)) {
    sum_times.push_back(p.time);
  }
  EXPECT_EQ(sum_times, (std::vector<double>{1.0, 2.0}));

  std::vector<double> max_times;
  for (const AnytimePoint& p : ImprovingPoints(log, ObjectiveType::MinMax)) {
    max_times.push_back(p.time);
  }
  EXPECT_EQ(max_times, (std::vector<double>{1.0, 3.0}));
}

TEST(ImprovingPointsTest, EmptySnapshotsCountAsZero) {
  // An empty snapshot has value 0, which improves on the start value 1e18;
  // a later positive snapshot does not improve on it.
  const std::vector<std::pair<double, Result>> log = {{0.5, Result()}, {0.6, WithCosts({1.0})}};
  const std::vector<AnytimePoint> points = ImprovingPoints(log, ObjectiveType::MinMax);
  ASSERT_EQ(points.size(), 1u);
  EXPECT_EQ(points[0].time, 0.5);
  EXPECT_EQ(points[0].max_cost, 0.0);
  EXPECT_TRUE(ImprovingPoints({}, ObjectiveType::MinSum).empty());
}

}  // namespace
}  // namespace tarsel
