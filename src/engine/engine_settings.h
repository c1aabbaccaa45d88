#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <limits>

#include "common/interrupt_check.h"
#include "common/result.h"

namespace tarsel {

// Granular neighbours of each node per agent type that moves are tried with.
constexpr size_t kEngineNeighbours = 20;

// Routes with more targets than this are tours: the local search prices
// their reversed segments from stored summaries and improves them with the
// tour pass (2-opt and Or-opt over neighbour lists with don't-look bits,
// Or-3opt). Shorter routes keep the plain moves alone.
constexpr size_t kLongRouteTargets = 30;

// How one run of the improvement engine is bounded and reports.
struct EngineSettings {
  bool min_max = false;
  uint64_t seed = 0;
  // Iterations of the run: each construction of a population and each
  // child bred counts as one. 0: no limit.
  int64_t max_iterations = 0;
  // Iterations in a row without a better solution after which the run ends
  // (as converged, not stopped early). 0: no limit.
  int64_t max_no_improvement = 0;
  // Processor seconds on `clock` at which the run ends.
  double deadline = 0;
  std::function<double()> clock;
  // Seconds on `wall_clock` at which the run ends; no wall clock: no such end.
  double wall_deadline = 0;
  std::function<double()> wall_clock;
  InterruptCheck* interrupt = nullptr;  // the solve's Ctrl-C check (may be null)
  // Bytes the engine's own stores (population, work solutions, tables of
  // its own) may hold; the population shrinks to fit, and a budget too
  // small for two solutions ends the run before it starts.
  double memory_budget_bytes = std::numeric_limits<double>::infinity();
  // Called with (clock time, solution) for every solution better than all
  // before it, the starting solution included.
  std::function<void(double, const Result&)> on_improvement;
  // Every `exchange_every` iterations (0: never), after a child, `exchange`
  // is called with the best solution of the run so far (null before the
  // first); a solution it returns (null: none) joins the population as a
  // starting solution would, and becomes the run's best when it is better.
  // What it returns need only stay valid until it returns again.
  int64_t exchange_every = 0;
  std::function<const Result*(const Result* best)> exchange;
};

// What a run of the engine gives back.
struct EngineOutcome {
  bool improved = false;       // `result` is better than the starting solution
  bool stopped_early = false;  // the deadline, an interrupt or the memory budget ended the run
  bool memory_limited = false; // the memory budget ended the run
  int64_t iterations = 0;
  int64_t last_improvement = 0;  // the iteration of the last better solution (0: before the first)
  int64_t restarts = 0;        // times the population started afresh
  Result result;               // routes and costs only; the best found
};

}  // namespace tarsel
