#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <thread>
#include <vector>

#include "common/interrupt_check.h"
#include "engine/bounded_settings.h"
#include "engine/improvement_engine.h"
#include "engine/island_engine.h"
#include "engine/objective_value.h"
#include "engine/random_instance.h"

namespace tarsel {
namespace {

using engine_test::Bounded;
using engine_test::InstanceKinds;
using engine_test::MakeRandomInstance;

ObjectiveValue ValueOf(const Result& result) {
  ObjectiveValue value;
  for (size_t k = 0; k < result.times.size(); ++k) {
    value.longest = std::max(value.longest, result.times.at(k));
    value.total += result.times.at(k);
  }
  return value;
}

InstanceKinds Windows(size_t nodes) {
  InstanceKinds kinds;
  kinds.nodes = nodes;
  kinds.windows = true;
  kinds.agents = 4;
  return kinds;
}

TEST(Islands, RepeatRunAfterRunAndReportOnTheCallingThreadOnly) {
  for (const bool min_max : {true, false}) {
    engine_test::RandomInstance instance = MakeRandomInstance(Windows(40), min_max ? 7 : 8);
    std::vector<Result> results;
    for (int run = 0; run < 2; ++run) {
      // Two meetings, and a stretch after the last.
      EngineSettings settings = Bounded(min_max, 5, 2 * kIslandExchangeEvery + 17);
      const std::thread::id caller = std::this_thread::get_id();
      std::vector<ObjectiveValue> reported;
      bool elsewhere = false;
      settings.on_improvement = [&](double, const Result& solution) {
        elsewhere = elsewhere || std::this_thread::get_id() != caller;
        reported.push_back(ValueOf(solution));
      };
      const EngineOutcome outcome = RunIslands(instance.tables, nullptr, settings, 3);
      ASSERT_TRUE(outcome.improved);
      EXPECT_FALSE(elsewhere);
      // Every report beats the one before it, and the last is the result.
      for (size_t i = 1; i < reported.size(); ++i) {
        EXPECT_TRUE(Improves(reported[i], reported[i - 1], min_max)) << i;
      }
      ASSERT_FALSE(reported.empty());
      EXPECT_FALSE(Improves(ValueOf(outcome.result), reported.back(), min_max));
      EXPECT_FALSE(Improves(reported.back(), ValueOf(outcome.result), min_max));
      // Each island ran its own iterations.
      EXPECT_EQ(outcome.iterations, 3 * settings.max_iterations);
      results.push_back(outcome.result);
    }
    EXPECT_EQ(results[0].paths, results[1].paths);
  }
}

TEST(Islands, AnExchangedSolutionJoinsTheRun) {
  engine_test::RandomInstance instance = MakeRandomInstance(Windows(40), 11);
  const EngineOutcome long_run = RunImprovementEngine(instance.tables, nullptr, Bounded(true, 1, 600));
  ASSERT_TRUE(long_run.improved);
  EngineSettings settings = Bounded(true, 2, 40);
  // A short run of another seed, handed the long run's best at its first
  // exchange, ends no worse than it.
  int calls = 0;
  settings.exchange_every = 30;
  settings.exchange = [&](const Result*) -> const Result* {
    ++calls;
    return &long_run.result;
  };
  const EngineOutcome short_run = RunImprovementEngine(instance.tables, nullptr, settings);
  EXPECT_EQ(calls, 1);
  ASSERT_TRUE(short_run.improved);
  EXPECT_FALSE(Improves(ValueOf(long_run.result), ValueOf(short_run.result), true));
}

TEST(Islands, AnInterruptStopsEveryIsland) {
  engine_test::RandomInstance instance = MakeRandomInstance(Windows(40), 12);
  EngineSettings settings = Bounded(false, 3, 0);  // no iteration limit: only the interrupt ends it
  std::atomic<int64_t> ticks{0};  // every island reads the clock
  settings.clock = [&ticks] { return 0.05 * static_cast<double>(++ticks); };
  const std::thread::id caller = std::this_thread::get_id();
  int asked = 0;
  bool elsewhere = false;
  InterruptCheck interrupt;
  interrupt.SetCallback([&] {
    elsewhere = elsewhere || std::this_thread::get_id() != caller;
    return ++asked >= 5;
  });
  settings.interrupt = &interrupt;
  const EngineOutcome outcome = RunIslands(instance.tables, nullptr, settings, 2);
  EXPECT_TRUE(outcome.stopped_early);
  EXPECT_TRUE(interrupt.Interrupted());
  EXPECT_FALSE(elsewhere);
}

}  // namespace
}  // namespace tarsel
