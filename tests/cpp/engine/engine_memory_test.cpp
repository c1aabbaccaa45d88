// The engine's memory estimate against what it really allocates: this test
// program counts the live bytes of every allocation through the global
// operator new, and a run given the least budget the estimate asks for
// must never hold more than that budget, whatever parts of the engine the
// instance wakes (the tour pass on long routes, the edge-assembly crossover,
// the schedule's pricing of pairs across routes, several islands at once).

#include <gtest/gtest.h>
#include <malloc.h>

#include <atomic>
#include <cstdint>
#include <cstdlib>
#include <functional>
#include <new>
#include <vector>

#include "engine/bounded_settings.h"
#include "engine/improvement_engine.h"
#include "engine/island_engine.h"
#include "engine/population_budget.h"
#include "engine/random_instance.h"

// AddressSanitizer brings its own allocator and checks that each block is
// freed by the kind of call that allocated it; beside it, counting
// operators would mix its operator new with our free. Under it the
// counting stays out and the tests that need it are skipped.
#if defined(__SANITIZE_ADDRESS__)
#define KVR_SANITIZER_ALLOCATOR 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define KVR_SANITIZER_ALLOCATOR 1
#endif
#endif

namespace {

// Live heap bytes of the program, and the most seen since the last reset.
std::atomic<int64_t> live_bytes{0};
std::atomic<int64_t> peak_bytes{0};

#ifndef KVR_SANITIZER_ALLOCATOR
void Counted(void* block) {
  const int64_t now = live_bytes.fetch_add(static_cast<int64_t>(malloc_usable_size(block))) +
                      static_cast<int64_t>(malloc_usable_size(block));
  int64_t seen = peak_bytes.load();
  while (now > seen && !peak_bytes.compare_exchange_weak(seen, now)) {
  }
}
#endif

}  // namespace

#ifndef KVR_SANITIZER_ALLOCATOR
// Every allocation of the program goes through these (the array and
// non-throwing forms call them), so the count covers every thread.
void* operator new(std::size_t size) {
  void* block = std::malloc(size == 0 ? 1 : size);
  if (block == nullptr) throw std::bad_alloc();
  Counted(block);
  return block;
}

void operator delete(void* block) noexcept {
  if (block == nullptr) return;
  live_bytes.fetch_sub(static_cast<int64_t>(malloc_usable_size(block)));
  std::free(block);
}

void operator delete(void* block, std::size_t) noexcept { operator delete(block); }
#endif

namespace tarsel {
namespace {

using engine_test::Bounded;
using engine_test::InstanceKinds;
using engine_test::MakeRandomInstance;

// The tests that count allocations.
class EngineMemory : public ::testing::Test {
 protected:
  void SetUp() override {
#ifdef KVR_SANITIZER_ALLOCATOR
    GTEST_SKIP() << "the address sanitizer owns the allocator: allocations are not counted";
#endif
  }
};

// The most bytes `run` held at once beyond what was live before it.
int64_t PeakDuring(const std::function<void()>& run) {
  const int64_t before = live_bytes.load();
  peak_bytes.store(before);
  run();
  return peak_bytes.load() - before;
}

// The least budget the solver grants the engine on `tables` (what it checks
// before building anything), for `islands` islands.
double LeastBudget(const InstanceTables& tables, size_t islands) {
  return static_cast<double>(EngineLeastBytes(tables.NumNodes(), tables.NumAgents(), tables.NumTypes())) *
         static_cast<double>(islands);
}

// Runs `islands` islands for `iterations` iterations each under the least
// budget; expects a run that was not cut short by memory and held no more
// than its budget.
void ExpectWithinLeastBudget(const InstanceTables& tables, bool min_max, int64_t iterations, size_t islands) {
  EngineSettings settings = Bounded(min_max, 5, iterations);
  settings.memory_budget_bytes = LeastBudget(tables, islands);
  EngineOutcome outcome;
  const int64_t peak = PeakDuring([&] { outcome = RunIslands(tables, nullptr, settings, islands); });
  EXPECT_FALSE(outcome.memory_limited);
  EXPECT_TRUE(outcome.improved);
  EXPECT_EQ(outcome.iterations, iterations * static_cast<int64_t>(islands));
  EXPECT_LE(static_cast<double>(peak), settings.memory_budget_bytes)
      << "the engine held " << peak << " bytes, its least budget is " << settings.memory_budget_bytes;
}

TEST_F(EngineMemory, LongToursWithTheTourPassAndTheEdgeAssemblyCrossoverStayWithinTheLeastBudget) {
  // Two agents of one type over 160 targets: 80 a route, long enough for
  // the tour pass with its alpha-nearness candidates (under min-max) and
  // the edge-assembly crossover.
  InstanceKinds kinds;
  kinds.nodes = 161;
  kinds.agents = 2;
  kinds.types = 1;
  kinds.symmetric = true;
  const engine_test::RandomInstance instance = MakeRandomInstance(kinds, 41);
  ExpectWithinLeastBudget(instance.tables, true, 40, 1);
}

TEST_F(EngineMemory, PairsPricedByTheScheduleStayWithinTheLeastBudget) {
  InstanceKinds kinds;
  kinds.nodes = 60;
  kinds.agents = 4;
  engine_test::RandomInstance instance = MakeRandomInstance(kinds, 42);
  // A few plain and "diff" pairs: routes wait for each other.
  std::vector<PrecedencePair> pairs;
  for (size_t node = 1; node + 1 < kinds.nodes; node += 12) {
    pairs.push_back(PrecedencePair{node, node + 1, node, node + 1, node % 24 == 1 ? PairKind::kDiff : PairKind::kPlain});
  }
  instance.tables.SetPrecedencePairs(pairs);
  ExpectWithinLeastBudget(instance.tables, true, 60, 1);
}

TEST_F(EngineMemory, EveryIslandStaysWithinItsShareOfTheBudget) {
  InstanceKinds kinds;
  kinds.nodes = 121;
  kinds.agents = 2;
  kinds.types = 1;
  kinds.symmetric = true;
  const engine_test::RandomInstance instance = MakeRandomInstance(kinds, 43);
  // Past a meeting, so that the exchanged solutions are held too.
  ExpectWithinLeastBudget(instance.tables, true, kIslandExchangeEvery + 10, 3);
}

TEST(IslandBudget, ABudgetTooSmallForEveryIslandRunsTheIslandsItHolds) {
  InstanceKinds kinds;
  kinds.nodes = 40;
  const engine_test::RandomInstance instance = MakeRandomInstance(kinds, 44);
  const double least = LeastBudget(instance.tables, 1);
  EXPECT_EQ(IslandsWithinBudget(instance.tables, 4 * least, 4), 4u);
  EXPECT_EQ(IslandsWithinBudget(instance.tables, 2.5 * least, 4), 2u);
  EXPECT_EQ(IslandsWithinBudget(instance.tables, 0.5 * least, 4), 1u);  // one, which stops at once
  EngineSettings settings = Bounded(true, 3, 30);
  settings.memory_budget_bytes = 2.5 * least;
  const EngineOutcome outcome = RunIslands(instance.tables, nullptr, settings, 4);
  EXPECT_FALSE(outcome.memory_limited);
  EXPECT_EQ(outcome.iterations, 2 * settings.max_iterations);  // two islands ran, each its own iterations
}

}  // namespace
}  // namespace tarsel
