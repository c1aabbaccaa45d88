#pragma once

#include <cstdint>

#include "common/special_values.h"

namespace tarsel {

enum class ObjectiveType : int32_t { MinMax = 0, MinSum = 1 };

// Most threads a solve runs ("threads").
constexpr int64_t kMaxThreads = 256;

// Megabytes a search may hold by default: a quarter of the machine's
// physical memory, at most 8192.
double DefaultMemoryLimitMb();

struct Options {
  bool return_to_end = true;
  ObjectiveType objective = ObjectiveType::MinSum;
  double time_limit = 60.0;  // processor seconds of search (all threads of the process)
  // Wall-clock seconds of search; 0 or less: no wall-clock limit. The solve
  // ends at whichever limit it reaches first.
  double wall_time_limit = 0.0;
  // Arc costs at or above this value mean "no connection": no route uses
  // such an arc, and matrix entries an instance does not give take this
  // value. Must be positive and finite.
  double missing_cost = kNoConnection;
  // Budget of the search's label store, lists and frontiers in megabytes.
  double memory_limit_mb = DefaultMemoryLimitMb();
  // After the focal search's first solution, the improvement engine uses
  // the rest of the time limit.
  bool improve = false;
  int64_t seed = 0;            // the engine's random seed
  // The engine's iterations (constructions and children); 0: no limit.
  int64_t max_iterations = 0;
  // The engine ends after this many iterations in a row without a better
  // solution; 0: no limit.
  int64_t max_no_improvement = 0;
  // Threads of the improvement engine, one island each (1 or less: the
  // engine runs on the calling thread alone, as without the option).
  int64_t threads = 1;
  // The demands of the targets on an agent's route add up to at most its
  // capacity (a capacity of 0 or less: no limit). Off: demands and
  // capacities are carried but no route is held to them.
  bool enforce_capacity = false;
  // Precedence pairs ("sequence" constraints) are honoured: solutions that
  // break one are never returned, and cross-route waits count as route
  // cost. Off: the pairs are carried without effect.
  bool enforce_precedence = false;
  // The result reports, per stop of every route, the arrival, the start of
  // service (after waiting for a window or a precedence partner), the
  // departure and the load after the stop. Off: routes carry no schedule.
  bool schedule = false;
};

}  // namespace tarsel
