#pragma once

#include <cstdint>

#include "engine/engine_settings.h"

namespace tarsel::engine_test {

// Engine settings that end a run by its iteration count alone (the clock
// stands still and the deadline is far), so that runs are repeatable.
inline EngineSettings Bounded(bool min_max, uint64_t seed, int64_t iterations) {
  EngineSettings settings;
  settings.min_max = min_max;
  settings.seed = seed;
  settings.max_iterations = iterations;
  settings.deadline = 1e9;
  settings.clock = [] { return 0.0; };
  return settings;
}

}  // namespace tarsel::engine_test
