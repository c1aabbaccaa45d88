#pragma once

#include <cstddef>
#include <cstdint>

#include "engine/engine_settings.h"
#include "tables/instance_tables.h"

namespace tarsel {

// Iterations of each island between two exchanges of best solutions.
constexpr int64_t kIslandExchangeEvery = 100;

// Runs `islands` improvement engines at once, one per thread, each with its
// own seed (island 0 keeps `settings.seed`) and an equal share of
// `settings.memory_budget_bytes`, "max_iterations" and "max_no_improvement"
// counting each island's own iterations. Every kIslandExchangeEvery
// iterations the islands still running meet, and each adopts the best of
// their best solutions (ties: the lowest island), so that with iteration
// limits a run gives the same result every time.
//
// Island 0 runs on the calling thread, which alone calls
// `settings.on_improvement` and `settings.interrupt` (the caller's
// callbacks may need that thread); the other islands' improvements are
// handed over at its polls and once it has finished, while it waits for the
// others. An interrupt stops every island. The outcome is the best island's
// (ties: the lowest), with the iterations and restarts of all islands; it
// is `improved` as soon as any island improved. `islands` 1 is exactly
// RunImprovementEngine.
EngineOutcome RunIslands(const InstanceTables& tables, const Result* start, const EngineSettings& settings,
                         size_t islands);

}  // namespace tarsel
