#pragma once

#include <cstdint>
#include <functional>

#include "common/interrupt_check.h"
#include "common/result.h"

namespace tarsel {

// How one run of the improvement engine is bounded and reports.
struct EngineSettings {
  bool min_max = false;
  uint64_t seed = 0;
  int64_t max_iterations = 0;  // children bred; 0: no limit
  // Processor seconds on `clock` at which the run ends.
  double deadline = 0;
  std::function<double()> clock;
  InterruptCheck* interrupt = nullptr;  // the solve's Ctrl-C check (may be null)
  // Called with (clock time, solution) for every solution better than all
  // before it, the starting solution included.
  std::function<void(double, const Result&)> on_improvement;
};

// What a run of the engine gives back.
struct EngineOutcome {
  bool improved = false;       // `result` is better than the starting solution
  bool stopped_early = false;  // the deadline or an interrupt ended the run
  int64_t iterations = 0;
  Result result;               // routes and costs only; the best found
};

}  // namespace tarsel
