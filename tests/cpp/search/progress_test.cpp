#include <gtest/gtest.h>

#include "common/console_capture.h"

#include <algorithm>
#include <cstddef>
#include <random>
#include <vector>

#include "common/interrupt_check.h"
#include "common/progress.h"
#include "instance_builder.h"
#include "model/anytime_points.h"
#include "search/solver.h"

namespace tarsel {
namespace {

using testing::ConsoleCapture;
using testing::InstanceBuilder;

TEST(ProgressReporter, ReportsOnlyStrictImprovementsOfTheObjective) {
  for (bool min_max : {true, false}) {
    std::vector<ProgressRecord> records;
    ProgressReporter reporter;
    reporter.SetSink([&records](const ProgressRecord& r) { records.push_back(r); });
    reporter.Start(min_max);
    reporter.Solution(0.1, 10.0, 30.0);
    reporter.Solution(0.2, 10.0 - 1e-12, 25.0);  // longest equal within 1e-9, total better
    reporter.Solution(0.3, 9.0, 31.0);           // longest better, total worse
    reporter.Solution(0.4, 9.5, 20.0);           // longest worse, total better
    std::vector<double> times;
    for (const ProgressRecord& r : records) {
      EXPECT_TRUE(r.improving);
      EXPECT_TRUE(r.has_solution);
      EXPECT_EQ(r.objective, min_max ? r.max_cost : r.sum_cost);
      times.push_back(r.cpu_time);
    }
    if (min_max) {
      EXPECT_EQ(times, (std::vector<double>{0.1, 0.3}));
    } else {
      EXPECT_EQ(times, (std::vector<double>{0.1, 0.2, 0.4}));
    }
  }
}

TEST(ProgressReporter, PeriodicReportsAreAtLeastASecondAfterTheLastReport) {
  std::vector<ProgressRecord> records;
  ProgressReporter reporter;
  reporter.SetSink([&records](const ProgressRecord& r) { records.push_back(r); });
  reporter.Start(true);
  reporter.Tick(0.5);
  reporter.Tick(1.0);  // no solution yet: reported without costs
  reporter.Tick(1.5);
  reporter.Solution(1.7, 4.0, 8.0);
  reporter.Tick(2.6);  // within a second of the improvement
  reporter.SetPhase(ProgressPhase::kEngine);
  reporter.Tick(2.7);
  reporter.Tick(3.9);
  ASSERT_EQ(records.size(), 4u);
  EXPECT_FALSE(records[0].improving);
  EXPECT_FALSE(records[0].has_solution);
  EXPECT_EQ(records[0].cpu_time, 1.0);
  EXPECT_TRUE(records[1].improving);
  EXPECT_FALSE(records[2].improving);
  EXPECT_EQ(records[2].cpu_time, 2.7);
  EXPECT_EQ(records[2].phase, ProgressPhase::kEngine);
  EXPECT_EQ(records[2].objective, 4.0);  // periodic reports carry the best so far
  EXPECT_EQ(records[3].cpu_time, 3.9);
  for (const ProgressRecord& r : records) EXPECT_GE(r.wall_time, 0.0);

  // A new solve forgets the old best and the phase.
  records.clear();
  reporter.Start(true);
  reporter.Solution(0.1, 6.0, 9.0);
  ASSERT_EQ(records.size(), 1u);
  EXPECT_TRUE(records[0].improving);
  EXPECT_EQ(records[0].phase, ProgressPhase::kSearch);
}

TEST(InterruptCheck, AClockBehindTheLastPollPollsAtOnce) {
  // The post-optimisers poll with the process clock, the search with the
  // solve's own; a search poll after a post-optimiser's must not wait for
  // the process clock's lead to pass.
  InterruptCheck check;
  int asked = 0;
  check.SetCallback([&asked] { return ++asked == 3; });
  EXPECT_FALSE(check.Poll(100.0));
  EXPECT_FALSE(check.Poll(0.5));
  EXPECT_TRUE(check.Poll(0.3));
  EXPECT_EQ(asked, 3);
}

InstanceBuilder Scattered(unsigned seed, size_t targets, size_t agents) {
  std::mt19937 rng(seed);
  std::uniform_real_distribution<double> coord(0, 100);
  InstanceBuilder b;
  b.Node(50, 50, NodeType::DEPOT);
  for (size_t i = 0; i < targets; ++i) b.Node(coord(rng), coord(rng));
  for (size_t k = 0; k < agents; ++k) b.AgentOf("truck", 0, 0);
  b.EuclideanCosts("truck").AllowAllElsewhere({"truck"});
  return b;
}

TEST(SolverProgress, ImprovingReportsAreTheAnytimeEntries) {
  std::ptrdiff_t engine_reports = 0;
  for (bool improve : {false, true}) {
    for (ObjectiveType objective : {ObjectiveType::MinMax, ObjectiveType::MinSum}) {
      InstanceBuilder b = Scattered(5, 8, 3);
      Options options;
      options.objective = objective;
      options.time_limit = 30;
      options.improve = improve;
      options.max_iterations = 50;
      Solver solver(b.problem, options);
      std::vector<ProgressRecord> records;
      solver.SetProgressSink([&records](const ProgressRecord& r) { records.push_back(r); });
      ConsoleCapture console;
      ASSERT_EQ(solver.Solve(), 1);
      const std::vector<AnytimePoint> points = ImprovingPoints(solver.GetResultProcess(), objective);
      std::vector<ProgressRecord> improving;
      for (const ProgressRecord& r : records) {
        if (r.improving) improving.push_back(r);
      }
      ASSERT_EQ(improving.size(), points.size());
      // The focal search's reports come first; the engine's only with "improve".
      const auto first_engine = std::find_if(improving.begin(), improving.end(), [](const ProgressRecord& r) {
        return r.phase == ProgressPhase::kEngine;
      });
      EXPECT_TRUE(std::all_of(first_engine, improving.end(), [](const ProgressRecord& r) {
        return r.phase == ProgressPhase::kEngine;
      }));
      if (!improve) {
        EXPECT_EQ(first_engine, improving.end());
      }
      engine_reports += improving.end() - first_engine;
      for (size_t i = 0; i < points.size(); ++i) {
        EXPECT_EQ(improving[i].cpu_time, points[i].time);
        EXPECT_EQ(improving[i].max_cost, points[i].max_cost);
        EXPECT_EQ(improving[i].sum_cost, points[i].sum_cost);
      }
    }
  }
  EXPECT_GT(engine_reports, 0);  // the engine improves on the min-sum case
}

}  // namespace
}  // namespace tarsel
